#include "moncfg/gui/CMainApp.h"

#include "common/codepage.h"
#include "moncfg/CfgCommandLine.h"
#include "moncfg/SettingsPassword.h"
#include "moncfg/gui/CFpconfigDlg.h"
#include "moncfg/gui/CPass.h"
#include "moncfg/gui/CfgUi.h"
#include "moncfg/gui/FolderBrowser.h"
#include "platform/lasterror.h"
#include "platform/single_instance.h"
#include "qzcom.h"

#include <QApplication>
#include <QWidget>

namespace tarmin::moncfg {

namespace {

constexpr const char *kProduct = "tarmin-operator";
constexpr const char *kProgram = "tmnmoncfg";

} // namespace

CMainApp::CMainApp() = default;

CMainApp::~CMainApp() = default;

bool CMainApp::InitInstance(const std::vector<std::string> &args) {
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Тармин-Оператор"));
    m_profile = profileFromCommandLine(args);

    if (!initCommonServices()) {
        m_exitCode = kExitInitFailed;
        return false;
    }
    if (!becomeSingleInstance()) {
        m_exitCode = kExitOk;
        return false;
    }

    installFolderBrowser();
    const SettingsPassword stored = SettingsPassword::read();
    bool isProtected = false;
    if (stored.isSet()) {
        const auto digest = askPassword(QStringLiteral("Введите пароль для настроек"));
        if (!digest) {
            m_exitCode = kExitPasswordCancelled;
            return false;
        }
        if (!stored.matches(*digest)) {
            messageBox(nullptr, QStringLiteral("Неверный пароль"), MsgIcon::Stop);
            m_exitCode = kExitWrongPassword;
            return false;
        }
        isProtected = true;
    }

    m_dialog = std::make_unique<CFpconfigDlg>(m_profile, isProtected);
    m_dialog->show();
    m_dialog->raise();
    m_dialog->activateWindow();
    m_exitCode = kExitOk;
    return true;
}

bool CMainApp::initCommonServices() {
    if (m_profile.empty()) {
        if (QZ_Initialize(kProduct, QZ_VERSION) >= 0) return true;
        messageBox(nullptr, QStringLiteral("Ошибка инициализации QZ_Initialize"), MsgIcon::Stop);
        return false;
    }
    const std::string profile1251 = cp::utf8_to_cp1251(m_profile);
    if (QZ_InitializeWithProfile(kProduct, profile1251.c_str(), QZ_VERSION) >= 0) return true;
    messageBox(nullptr,
               QStringLiteral("Ошибка инициализации QZ_InitializeWithProfile %1").arg(QString::fromStdString(m_profile)),
               MsgIcon::Stop);
    return false;
}

bool CMainApp::becomeSingleInstance() {
    m_instance = std::make_unique<platform::SingleInstanceServer>();
    if (m_instance->listen(kProgram, m_profile)) {
        connect(m_instance.get(), &platform::SingleInstanceServer::raise_requested, this, &CMainApp::bringToFront);
        return true;
    }
    const uint32_t error = platform::last_error();
    m_instance.reset();
    if (error == platform::kErrorAlreadyRunning) {
        platform::SingleInstanceClient::request_raise(kProgram, m_profile);
        return false;
    }
    // Without the socket the program still works; it only cannot be found
    // by the monitor or by a second start.
    QZ_Trace("tmnmoncfg: single-instance socket unavailable (%u)\n", static_cast<unsigned>(error));
    return true;
}

bool CMainApp::isSingleInstance() const { return m_instance && m_instance->listening(); }

void CMainApp::bringToFront() {
    // The password dialog, while it is up, is the program's window.
    QWidget *window = QApplication::activeModalWidget();
    if (!window) window = m_dialog.get();
    if (window) {
        window->showNormal();
        window->raise();
        window->activateWindow();
    }
    emit activated();
}

int CMainApp::ExitInstance() {
    m_dialog.reset();
    if (m_instance) m_instance->close();
    m_instance.reset();
    QZ_Finalize();
    return m_exitCode;
}

} // namespace tarmin::moncfg

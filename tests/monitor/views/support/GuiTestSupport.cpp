#include "GuiTestSupport.h"
#include "testsupport.h"

#include "common/codepage.h"
#include "monitor/app/CMainApp.h"
#include "monitor/views/ReportWindow.h"
#include "qzcom.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDate>
#include <QThread>

#include <fstream>

namespace tarmin::test {

MessageRecorder::MessageRecorder() : m_previous(monitor::setMessageBoxHandler(this)) {}
MessageRecorder::~MessageRecorder() { monitor::setMessageBoxHandler(m_previous); }

namespace {
// Every box and dialog belongs to the window thread, whichever thread had
// something to say (the distribution wizard's sending runs have workers).
void expectWindowThread() {
    EXPECT_EQ(QThread::currentThread(), QCoreApplication::instance()->thread())
        << "a message box or dialog shown outside the window thread";
}
} // namespace

int MessageRecorder::show(const monitor::MessageRequest &request) {
    expectWindowThread();
    messages.push_back(request);
    if (answers.empty()) return monitor::kAnswerOk;
    const int answer = answers.front();
    answers.erase(answers.begin());
    return answer;
}

DialogScript::DialogScript() : m_previous(monitor::setModalHook(this)) {}
DialogScript::~DialogScript() { monitor::setModalHook(m_previous); }

int DialogScript::run(QDialog &dialog) {
    expectWindowThread();
    shown.push_back(dialog.objectName());
    for (auto &[name, handler] : m_handlers)
        if (name == dialog.objectName()) return handler(dialog);
    dialog.reject();
    return QDialog::Rejected;
}

void DialogScript::keepReports(QStringList &texts) {
    on(QStringLiteral("ReportWindow"), [&texts](QDialog &d) {
        texts << static_cast<monitor::ReportWindow &>(d).plainText();
        return QDialog::Accepted;
    });
}

AttentionCounter::AttentionCounter() : m_previous(monitor::setAttentionNotifier(this)) {}
AttentionCounter::~AttentionCounter() { monitor::setAttentionNotifier(m_previous); }

std::string w(const std::string &utf8) { return cp::utf8_to_cp1251(utf8); }

namespace {
const char *headerOf(const std::string &name) {
    if (name.rfind("tarmin-gw", 0) == 0) return "Date,Time,Module,Kind,Code,Information\n";
    if (name.rfind("tmnsent", 0) == 0) return "Date,Time,Id,Host,Code,Hash,To,Subject,Attachments,Protection\n";
    return "Date,Time,Id,Host,Code,Hash,Notification,From,Subject,Attachments,Protection\n";
}
} // namespace

void GatewayLogs::write(const std::string &name, const std::vector<std::string> &lines) {
    std::ofstream out(m_dir / name, std::ios::binary | std::ios::trunc);
    out << headerOf(name);
    for (const std::string &line : lines) out << w(line) << '\n';
}

void GatewayLogs::append(const std::string &name, const std::vector<std::string> &lines) {
    std::ofstream out(m_dir / name, std::ios::binary | std::ios::app);
    for (const std::string &line : lines) out << w(line) << '\n';
}

std::string GatewayLogs::errorLine(const std::string &date, const std::string &time, const std::string &module,
                                   const std::string &kind, const std::string &code, const std::string &info) {
    return date + "," + time + "," + module + "," + kind + "," + code + "," + info;
}

std::string GatewayLogs::outLine(const std::string &date, const std::string &time, const std::string &code,
                                 const std::string &hash, const std::string &recipients, const std::string &subject,
                                 const std::string &attachments, const std::string &protection) {
    return date + "," + time + ",1,gw," + code + "," + hash + "," + recipients + "," + subject + "," + attachments +
           "," + protection;
}

std::string GatewayLogs::inLine(const std::string &date, const std::string &time, const std::string &code,
                                const std::string &hash, const std::string &notification, const std::string &address,
                                const std::string &subject, const std::string &attachments,
                                const std::string &protection) {
    return date + "," + time + ",1,gw," + code + "," + hash + "," + notification + "," + address + "," + subject +
           "," + attachments + "," + protection;
}

std::string productKey(const std::string &profile) {
    std::string key = "Software\\KELVORIA\\tarmin-operator";
    if (!profile.empty()) key += "\\Profiles\\" + profile;
    return key;
}

namespace {
// Runs a store operation with the common services initialised.
template <typename F> void withStore(F operation) {
    const bool initialised = QZ_GetProductKeyName() != nullptr;
    if (!initialised) QZ_Initialize("tarmin-operator", QZ_VERSION);
    operation();
    if (!initialised) QZ_Finalize();
}
} // namespace

void setDword(const std::string &profile, const std::string &name, uint32_t value) {
    withStore([&] { QZ_SetKeyDword(productKey(profile).c_str(), name.c_str(), value, 0); });
}

void setString(const std::string &profile, const std::string &name, const std::string &utf8Value) {
    withStore([&] { QZ_SetKeyString(productKey(profile).c_str(), name.c_str(), w(utf8Value).c_str(), 0); });
}

void setKeyString(const std::string &keyPath, const std::string &name, const std::string &utf8Value) {
    withStore([&] { QZ_SetKeyString(keyPath.c_str(), name.c_str(), w(utf8Value).c_str(), 0); });
}

HiddenCertificateStores::HiddenCertificateStores()
    : m_stores(home() / "certstores"), m_aside(home() / "certstores.aside") {
    std::error_code ec;
    std::filesystem::rename(m_stores, m_aside, ec);
}

HiddenCertificateStores::~HiddenCertificateStores() {
    std::error_code ec;
    if (!std::filesystem::exists(m_aside, ec)) return;
    std::filesystem::remove_all(m_stores, ec);
    std::filesystem::rename(m_aside, m_stores, ec);
}

std::string getString(const std::string &keyPath, const std::string &name) {
    std::string value;
    withStore([&] {
        char *text = nullptr;
        if (QZ_GetKeyString(keyPath.c_str(), name.c_str(), &text, "") == 0 && text) value = text;
        QZ_Free(text);
    });
    return cp::cp1251_to_utf8(value);
}

std::string dayText(int daysFromToday) {
    return QDate::currentDate().addDays(daysFromToday).toString(QStringLiteral("dd/MM/yyyy")).toStdString();
}

std::unique_ptr<monitor::CMainApp> startMonitor(const std::vector<std::string> &args, bool *started) {
    auto app = std::make_unique<monitor::CMainApp>();
    std::vector<std::string> argv{"tmngwmon"};
    argv.insert(argv.end(), args.begin(), args.end());
    const bool ok = app->InitInstance(argv);
    if (started) *started = ok;
    if (!ok) {
        app->ExitInstance();
        return nullptr;
    }
    return app;
}

QString wizardButtons(QWizard &wizard, bool withCancel) {
    QString out;
    for (auto [which, name] : {std::pair{QWizard::BackButton, "Back"}, {QWizard::NextButton, "Next"},
                               {QWizard::CommitButton, "Next"}, {QWizard::FinishButton, "Finish"},
                               {QWizard::CancelButton, "Cancel"}}) {
        if (which == QWizard::CancelButton && !withCancel) continue;
        QAbstractButton *b = wizard.button(which);
        if (b->isVisible() && b->isEnabled()) out += QLatin1String(name) + QLatin1Char(' ');
    }
    return out.trimmed();
}

} // namespace tarmin::test

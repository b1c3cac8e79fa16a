#include "monitor/app/CMainApp.h"

#include "monitor/app/CMainFrame.h"
#include "monitor/app/ConfigProgramLauncher.h"
#include "monitor/app/ScreenshotRun.h"
#include "monitor/resources/MonitorIcons.h"
#include "monitor/views/FolderBrowser.h"
#include "monitor/views/JobMessageBoxes.h"
#include "monitor/views/MessageBoxes.h"
#include "monitor/views/QtText.h"
#include "monitor/views/ReportWindow.h"
#include "common/codepage.h"
#include "qzcom.h"

#include <QApplication>

namespace tarmin::monitor {

using namespace tarmin::cp::literals;

namespace {
constexpr const char *kProduct = "tarmin-operator";
constexpr int kReceiptBatchLines = 1000;
constexpr int kReceiptBatchesPerTick = 10;
// A tick of the catch-up holds the window no longer than this (and a batch).
constexpr int kReceiptTickBudgetMs = 40;
} // namespace

CMainApp::CMainApp(const CapiCalls &calls)
    : m_operator(calls), m_launcher(std::make_unique<ConfigProgramLauncher>()) {
    s_instance = this;
    m_context.errorStatistics = &m_errorStatistics;
    m_context.receipts = &m_receipts;
    m_context.operatorContext = &m_operator;
}

CMainApp::~CMainApp() {
    m_frame.reset();
    m_headless.reset();
    if (s_instance == this) s_instance = nullptr;
}

bool CMainApp::InitInstance(const std::vector<std::string> &args) {
    m_cmdInfo.Parse(args);
    // The windows of this program show the reports of the common services
    // and choose directories for them. A screenshot has nobody to show them
    // to: they go to standard error.
    if (m_cmdInfo.screenshotMode()) {
        m_headless = std::make_unique<HeadlessPrompts>();
        QZ_SetReportPresenter(nullptr, nullptr);
    } else {
        installReportPresenter();
    }
    installFolderBrowser();
    installJobMessagePresenter();

    MonitorIcons::icon(kImageApplication); // builds both image lists

    m_frame = std::make_unique<CMainFrame>(*this);
    if (!m_frame->OnCreate()) return false;
    m_frame->show();
    m_frame->activateWindow();
    m_frame->raise();

    if (!initCommonServices()) return false;
    QZ_ClearReports(3);
    m_stage = kStageCommonServices;
    // The framework profile (placement and bar state) lives in the settings
    // store, which the common services have just opened.
    m_frame->restoreFrameState();

    if (readSetupFlag() != 0) {
        if (m_headless) {
            // The configuration program would wait for an operator.
            messageBox(m_frame.get(),
                       qtText("Настройки требуют запуска программы конфигурации (параметр Setup). Запустите "
                              "программу без --screenshot."_w),
                       MsgIcon::Error);
            m_frame->destroyWithoutSaving();
            return false;
        }
        if (RunConfigurationProgram(true)) clearSetupFlag();
    }
    if (!readStartupSettings()) return false;

    // Opening the operator's context may ask for a certificate or a password;
    // a screenshot has nobody to answer and shows the windows without it.
    if ((m_startup.protectionFlags & kProtectionOpenContext) && !m_headless && !openOperatorContext()) return false;
    ReadRefreshSettings();
    m_frame->startRefreshTimer();
    if (m_context.receipts) {
        m_context.receipts->runBatch(kReceiptBatchLines);
        if (m_context.receipts->catchUpPending()) {
            m_frame->refreshTimer().stop();
            m_frame->startRefreshTimer();
        }
    }
    m_context.initialised = true;
    // Alerts of earlier runs: the quiet periods go on, overdue letters
    // already reported are not reported again.
    const std::vector<std::string> reportedHashes = m_errorStatistics.restoreFromEventFiles(m_startup.eventDirectory);
    if (m_context.receipts) m_context.receipts->addReportedHashes(reportedHashes);
    return true;
}

bool CMainApp::initCommonServices() {
    int rc;
    if (profile().empty()) {
        QZ_Trace("QZ_Initialize\n");
        rc = QZ_Initialize(kProduct, QZ_VERSION);
    } else {
        const std::string profile1251 = cp1251Text(QString::fromStdString(profile()));
        QZ_Trace("QZ_InitializeWithProfile (%s)\n", profile1251.c_str());
        rc = QZ_InitializeWithProfile(kProduct, profile1251.c_str(), QZ_VERSION);
    }
    if (rc != 0) {
        m_frame->destroyWithoutSaving();
        return false;
    }
    return true;
}

bool CMainApp::readStartupSettings() {
    m_startup = tarmin::monitor::readStartupSettings();
    if (!m_startup.logDirectoryReadable) {
        messageBox(m_frame.get(), qtText(logDirectoryMissingMessage()), MsgIcon::Error);
        m_frame->destroyWithoutSaving();
        return false;
    }
    m_context.logDirectory = m_startup.logDirectory;
    m_context.separator = m_startup.separator;
    openDiagnosticLog(m_startup);
    return true;
}

bool CMainApp::openOperatorContext() {
    if (m_operator.open() == 0) return true;
    QZ_ReportEvent(QZ_LEVEL_SUMMARY, 0xE0070006);
    QZ_ReportEvent(QZ_LEVEL_SUMMARY, 0xE0070005);
    QZ_ShowReports(static_cast<QWidget *>(m_frame.get()), 3);
    m_frame->destroyWithoutSaving();
    return false;
}

bool CMainApp::RunConfigurationProgram(bool atStartup) {
    const ConfigProgramLauncher::Outcome outcome = m_launcher->StartOrActivate(profile(), atStartup, m_frame.get());
    if (outcome == ConfigProgramLauncher::Outcome::NotLocated) {
        messageBox(m_frame.get(), qtText(configProgramStartFailedMessage()), MsgIcon::Error);
        return false;
    }
    if (outcome == ConfigProgramLauncher::Outcome::StartFailed) {
        messageBox(m_frame.get(), qtText(configProgramStartFailedMessage()) + QStringLiteral("\n") +
                                      QString::fromStdString(m_launcher->lastError()),
                   MsgIcon::Error);
        return false;
    }
    return true;
}

void CMainApp::ReadRefreshSettings() { m_context.refresh = readRefreshSettings(); }

bool CMainApp::headlessInterrupted() const { return m_headless && m_headless->interrupted(); }

bool CMainApp::catchUpPending() const { return m_context.receipts && m_context.receipts->catchUpPending(); }

int CMainApp::refreshPeriodMs() const { return m_context.refresh.timerPeriodMs(catchUpPending()); }

void CMainApp::RunReceiptCatchUp() {
    if (m_context.receipts)
        m_context.receipts->runCatchUpTick(kReceiptBatchLines, kReceiptBatchesPerTick, kReceiptTickBudgetMs);
}

void CMainApp::OnMainFrameClosing() {
    // The main frame has ended its automatic sending windows (and waited for
    // their runs) itself; nothing else belongs to it.
}

int CMainApp::ExitInstance() {
    if (m_stage >= kStageCommonServices) {
        // LastInitDir goes under the product key, whose name the common
        // services give only while they are initialised: store it first.
        writeLastInitDir(m_context.lastDialogDirectory);
        QZ_Finalize();
    }
    // Only the start-up context is released here; it exists only with
    // ProtectionFlags bit 0, and its stage tells how much of it to undo.
    if (m_startup.protectionFlags & kProtectionOpenContext) m_operator.release();
    m_stage = kStageNone;
    return 0;
}

} // namespace tarmin::monitor

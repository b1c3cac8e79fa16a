// The monitor's application object: chooses the settings profile from the
// command line, initialises the common services, runs the configuration
// program when the settings ask for it, reads the settings, opens the main
// window and keeps the state that the whole program shares.
#pragma once

#include "monitor/alerts/ErrorStatistics.h"
#include "monitor/alerts/ReceiptStore.h"
#include "monitor/core/MonitorSettings.h"
#include "monitor/core/OperatorContext.h"
#include "monitor/app/CMyCommandLineInfo.h"
#include "monitor/core/MonitorContext.h"

#include <QObject>

#include <memory>
#include <string>
#include <vector>

namespace tarmin::monitor {

class CMainFrame;
class ConfigProgramLauncher;
class HeadlessPrompts;

class CMainApp : public QObject {
    Q_OBJECT
public:
    // Initialisation stages: 0 nothing done, 1 common services initialised;
    // 2 to 5 mark the opening of the cryptographic context (OperatorContext).
    static constexpr int kStageNone = 0;
    static constexpr int kStageCommonServices = 1;

    // calls: the qzms functions of the operator's cryptographic context.
    explicit CMainApp(const CapiCalls &calls = qzmsCalls());
    ~CMainApp() override;

    // Start-up in its fixed order. False when the program is to end; the
    // caller then runs ExitInstance().
    bool InitInstance(const std::vector<std::string> &args);
    // The exit steps; returns the program's exit code.
    int ExitInstance();

    // Starts the configuration program, or brings its window to the front
    // when it is running; at start-up also waits until it has exited. False
    // (after the message) when it could not be located or started.
    bool RunConfigurationProgram(bool atStartup);

    // Refresh settings, read again at every refresh.
    void ReadRefreshSettings();
    // Whether receipt tracking is still catching up with the logs.
    bool catchUpPending() const;
    // The refresh timer's period now (100 ms during the receipt catch-up).
    int refreshPeriodMs() const;
    // Receipt-tracking batches of a refresh tick while the catch-up is pending.
    void RunReceiptCatchUp();
    // The main frame is closing: close what belongs to it.
    void OnMainFrameClosing();

    const std::string &profile() const { return m_cmdInfo.profile(); }
    const CMyCommandLineInfo &commandLine() const { return m_cmdInfo; }
    const StartupSettings &startupSettings() const { return m_startup; }
    MonitorContext &context() { return m_context; }
    int stage() const { return m_stage < kStageCommonServices ? m_stage : m_operator.stage(); }
    // The cryptographic context opened at start-up with the operator's own
    // certificate (ProtectionFlags bit 0); closed otherwise.
    const OperatorContext &operatorContext() const { return m_operator; }
    bool initialised() const { return m_context.initialised; }
    CMainFrame *mainFrame() const { return m_frame.get(); }
    ConfigProgramLauncher &configLauncher() { return *m_launcher; }
    // Screenshot mode: whether a message box or dialog came up (written to
    // standard error instead of shown).
    bool headlessInterrupted() const;

    // The running application (null before construction or after destruction).
    static CMainApp *instance() { return s_instance; }

private:
    bool initCommonServices();
    bool readStartupSettings();
    bool openOperatorContext();

    static inline CMainApp *s_instance = nullptr;

    CMyCommandLineInfo m_cmdInfo;
    StartupSettings m_startup;
    MonitorContext m_context;
    // Counted by every errors reading; owned for the whole run.
    ErrorStatistics m_errorStatistics;
    // The outgoing messages that wait for receipts; rebuilt from the logs at
    // every start.
    ReceiptStore m_receipts{m_context};
    int m_stage = kStageNone;
    OperatorContext m_operator;
    std::unique_ptr<CMainFrame> m_frame;
    std::unique_ptr<ConfigProgramLauncher> m_launcher;
    std::unique_ptr<HeadlessPrompts> m_headless; // screenshot mode only
};

} // namespace tarmin::monitor

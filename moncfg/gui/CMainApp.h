// The configuration program's application object. Start-up in its fixed
// order: the application's display name, the profile from the command line,
// the common services, the single instance of this user and profile (a
// second start brings the running one to the front and ends), the settings
// password, the configuration window. The program ends when the window
// closes; every failure before the window ends it without writing anything.
#pragma once

#include <QObject>

#include <memory>
#include <string>
#include <vector>

namespace tarmin::platform {
class SingleInstanceServer;
}

namespace tarmin::moncfg {

class CFpconfigDlg;

class CMainApp : public QObject {
    Q_OBJECT
public:
    // Exit codes of the program.
    static constexpr int kExitOk = 0;             // window closed, or the running instance raised
    static constexpr int kExitInitFailed = 1;     // the common services could not be initialised
    static constexpr int kExitWrongPassword = 2;  // "Неверный пароль"
    static constexpr int kExitPasswordCancelled = 3;

    CMainApp();
    ~CMainApp() override;

    // Runs the start-up. true: the configuration window is open (and
    // shown); the program ends with ExitInstance() once it has closed.
    // false: the program is to end now with ExitInstance().
    bool InitInstance(const std::vector<std::string> &args);
    // Finalises the common services (also after a failed start-up) and
    // returns the exit code.
    int ExitInstance();

    const std::string &profile() const { return m_profile; }
    // Whether this program answers activation requests of its profile.
    bool isSingleInstance() const;
    CFpconfigDlg *mainDialog() const { return m_dialog.get(); }

signals:
    // Another start, or the monitor, asked for this program's window, which
    // has been brought to the front.
    void activated();

private:
    bool initCommonServices();
    // false when another instance runs (it has been asked to come forward).
    bool becomeSingleInstance();
    void bringToFront();

    std::string m_profile;
    int m_exitCode = kExitOk;
    std::unique_ptr<platform::SingleInstanceServer> m_instance;
    std::unique_ptr<CFpconfigDlg> m_dialog;
};

} // namespace tarmin::moncfg

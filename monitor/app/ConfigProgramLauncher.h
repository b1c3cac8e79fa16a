// Starts the configuration program (tmnmoncfg in the installation directory
// named by the product key's "Path" value) or brings the running one to the
// front. A running configuration program is found through the platform's
// single-instance socket of its user and profile; connecting asks it to
// raise its window, and its first message on the socket says that it takes
// input.
#pragma once

#include <string>

class QWidget;

namespace tarmin::monitor {

class ConfigProgramLauncher {
public:
    enum class Outcome {
        Activated,  // it was running; its window was raised
        Started,    // started now (and, when asked, waited for until it exited)
        NotLocated, // "Path" could not be read
        StartFailed // the program could not be started (see lastError())
    };

    ConfigProgramLauncher();
    ~ConfigProgramLauncher();

    // profile: the monitor's profile (UTF-8, empty for none), passed on to
    // the configuration program. waitForExit: wait until the program exits
    // (start-up with "Setup"), keeping the window responsive but disabled.
    Outcome StartOrActivate(const std::string &profile, bool waitForExit, QWidget *window);

    // Why the last start failed (UTF-8), empty otherwise.
    const std::string &lastError() const { return m_lastError; }

    // How long a started program may take to become ready for input.
    static constexpr int kReadyTimeoutMs = 30000;

private:
    bool activateRunning(const std::string &profile, bool waitForExit, QWidget *window);
    Outcome startProgram(const std::string &directory, const std::string &profile, bool waitForExit,
                         QWidget *window);

    std::string m_lastError;
};

} // namespace tarmin::monitor

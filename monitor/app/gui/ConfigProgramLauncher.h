// Starts the configuration program (tmnmoncfg in the installation directory
// named by the product key's "Path" value) or brings the running one to the
// front. A running configuration program is found through its single-
// instance socket, one per user and profile; connecting asks it to raise its
// window, and its first message on the socket says that it is ready.
#pragma once

#include <QString>

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

    const std::string &lastError() const { return m_lastError; }
    // The program file for an installation directory ("<Path>/tmnmoncfg").
    static std::string programPath(const std::string &installDirectory);
    // The name of the configuration program's single-instance socket for a
    // profile (per user); the program listens on it while it runs.
    static QString socketName(const std::string &profile);

    // Messages on the socket: the program's first message once it takes
    // input, and the request to raise its window.
    static constexpr const char *kIdleMessage = "idle\n";
    static constexpr const char *kRaiseMessage = "raise\n";
    // How long a started program may take to become ready.
    static constexpr int kReadyTimeoutMs = 30000;

private:
    bool activateRunning(const std::string &profile, bool waitForExit, QWidget *window);
    Outcome startProgram(const std::string &path, const std::string &profile, bool waitForExit, QWidget *window);

    std::string m_lastError;
};

} // namespace tarmin::monitor

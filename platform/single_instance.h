// One running instance per program, user and profile, found through a local
// socket: the stand-in for finding a program's main window by its class,
// bringing it to the front and waiting until it is idle for input.
//
// The first instance listens (SingleInstanceServer). A second one, or the
// monitor that wants the configuration program in front, connects
// (SingleInstanceClient): the server emits raise_requested() when a client
// asks for it, and its first message on every connection is "idle", sent from
// the event loop, so a client that has read it knows the instance is
// processing input.
//
// The socket is private to the user (mode 0700 file in a per-user place) and
// named after the program, the profile and the settings home (TARMIN_HOME,
// else $XDG_DATA_HOME/tarmin, else ~/.local/share/tarmin), so programs with
// another settings store do not see each other. QtCore / QtNetwork only.
#pragma once

#include <QObject>
#include <QString>

#include <memory>
#include <string>

class QLocalServer;
class QLocalSocket;

#pragma GCC visibility push(default)

namespace tarmin::platform {

// The local socket name of a program and profile (an absolute path).
QString instance_socket_name(const std::string &program, const std::string &profile);

class SingleInstanceServer : public QObject {
    Q_OBJECT
public:
    explicit SingleInstanceServer(QObject *parent = nullptr);
    ~SingleInstanceServer() override;

    // Starts listening. false when another live instance already listens
    // (kErrorAlreadyRunning) or the socket cannot be made (kErrorLocalSocket,
    // or the errno of the failure). A socket left behind by a crashed
    // instance is taken over.
    bool listen(const std::string &program, const std::string &profile);
    bool listening() const;
    void close();
    QString socket_name() const;

signals:
    // A client asked to bring this instance's window to the front.
    void raise_requested();

private:
    void accept_connections();
    void read_request(QLocalSocket *socket);
    std::unique_ptr<QLocalServer> server_;
};

// Blocking client calls; they need no event loop and may run on any thread.
class SingleInstanceClient {
public:
    // Whether an instance listens for program and profile.
    static bool instance_running(const std::string &program, const std::string &profile,
                                 int timeout_ms = 1000);
    // Connects, asks the instance to raise its window and waits for its "idle"
    // message. false: no instance (ENOENT / ECONNREFUSED), or no reply within
    // the time (kErrorWaitTimeout).
    static bool request_raise(const std::string &program, const std::string &profile,
                              int timeout_ms = 5000);
    // For a program just started: retries connecting until the instance
    // answers "idle" (then asks it to raise its window when raise is set),
    // until the time runs out (kErrorWaitTimeout), or until the process with
    // pid ends first (ECHILD); pid <= 0 does not watch a process.
    static bool wait_until_idle(const std::string &program, const std::string &profile,
                                int timeout_ms, int pid = -1, bool raise = true);
};

} // namespace tarmin::platform

#pragma GCC visibility pop

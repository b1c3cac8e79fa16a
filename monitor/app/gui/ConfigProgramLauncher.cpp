#include "monitor/app/gui/ConfigProgramLauncher.h"

#include "monitor/app/MonitorSettings.h"
#include "qzcom.h"

#include <QCryptographicHash>
#include <QEventLoop>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QTimer>
#include <QWidget>

#include <unistd.h>

namespace tarmin::monitor {

namespace {

constexpr int kConnectTimeoutMs = 300;
constexpr int kRetryMs = 100;

// Runs the event loop until `done` says so or the time is up (negative:
// no limit); the window stays drawn but takes no input meanwhile.
template <typename Done> bool waitUntil(Done done, int timeoutMs, QWidget *window) {
    if (done()) return true;
    const bool wasEnabled = window && window->isEnabled();
    if (window) window->setEnabled(false);
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done()) loop.quit();
    });
    poll.start(kRetryMs);
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    if (timeoutMs >= 0) limit.start(timeoutMs);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    if (window && wasEnabled) window->setEnabled(true);
    return done();
}

// Reads the program's first message ("idle") from a connected socket.
bool readIdle(QLocalSocket &socket, int timeoutMs) {
    QByteArray received;
    const bool ok = waitUntil(
        [&] {
            socket.waitForReadyRead(0);
            received += socket.readAll();
            return received.contains(ConfigProgramLauncher::kIdleMessage);
        },
        timeoutMs, nullptr);
    return ok;
}

} // namespace

ConfigProgramLauncher::ConfigProgramLauncher() = default;
ConfigProgramLauncher::~ConfigProgramLauncher() = default;

std::string ConfigProgramLauncher::programPath(const std::string &installDirectory) {
    std::string path = installDirectory;
    if (!path.empty() && (path.back() == '/' || path.back() == '\\')) path.pop_back();
    return path + "/tmnmoncfg";
}

QString ConfigProgramLauncher::socketName(const std::string &profile) {
    // A profile name may hold any character and be long; a digest of it
    // makes a short name that every file system takes (socket paths are
    // limited to about a hundred bytes).
    const QByteArray digest =
        QCryptographicHash::hash(QByteArray::fromStdString(profile), QCryptographicHash::Sha1).toHex();
    return QStringLiteral("tarmin-tmnmoncfg-%1-%2").arg(::getuid()).arg(QString::fromLatin1(digest));
}

bool ConfigProgramLauncher::activateRunning(const std::string &profile, bool waitForExit, QWidget *window) {
    QLocalSocket socket;
    socket.connectToServer(socketName(profile));
    if (!socket.waitForConnected(kConnectTimeoutMs)) return false;
    if (!readIdle(socket, kReadyTimeoutMs)) return false;
    socket.write(kRaiseMessage);
    socket.flush();
    socket.waitForBytesWritten(kConnectTimeoutMs);
    // The program closes the socket when it exits; that is all there is to
    // wait for when it was already running.
    if (waitForExit)
        waitUntil(
            [&] {
                socket.waitForReadyRead(0); // notices the closed connection
                socket.readAll();
                return socket.state() != QLocalSocket::ConnectedState;
            },
            -1, window);
    return true;
}

ConfigProgramLauncher::Outcome ConfigProgramLauncher::startProgram(const std::string &path, const std::string &profile,
                                                                   bool waitForExit, QWidget *window) {
    const QString program = QString::fromLocal8Bit(path.c_str());
    const QFileInfo info(program);
    if (!info.isFile() || !info.isExecutable()) {
        m_lastError = path + ": программа не найдена";
        return Outcome::StartFailed;
    }
    QStringList arguments;
    if (!profile.empty()) arguments << QStringLiteral("-profile=") + QString::fromStdString(profile);

    QProcess process;
    qint64 pid = 0;
    if (waitForExit) {
        process.setProgram(program);
        process.setArguments(arguments);
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.start();
        if (!process.waitForStarted()) {
            m_lastError = path + ": " + process.errorString().toStdString();
            return Outcome::StartFailed;
        }
    } else if (!QProcess::startDetached(program, arguments, QString(), &pid)) {
        m_lastError = path + ": программа не запускается";
        return Outcome::StartFailed;
    }
    // Once the new program takes input, its window is brought to the front.
    const auto exited = [&] { return waitForExit && process.state() == QProcess::NotRunning; };
    QLocalSocket socket;
    waitUntil(
        [&] {
            if (exited()) return true;
            if (socket.state() != QLocalSocket::ConnectedState) {
                socket.connectToServer(socketName(profile));
                if (!socket.waitForConnected(kRetryMs)) return false;
            }
            return true;
        },
        kReadyTimeoutMs, window);
    if (socket.state() == QLocalSocket::ConnectedState && readIdle(socket, kReadyTimeoutMs)) {
        socket.write(kRaiseMessage);
        socket.flush();
        socket.waitForBytesWritten(kConnectTimeoutMs);
    }
    if (waitForExit) waitUntil([&] { return process.state() == QProcess::NotRunning; }, -1, window);
    return Outcome::Started;
}

ConfigProgramLauncher::Outcome ConfigProgramLauncher::StartOrActivate(const std::string &profile, bool waitForExit,
                                                                      QWidget *window) {
    m_lastError.clear();
    if (activateRunning(profile, waitForExit, window)) return Outcome::Activated;
    std::string installDirectory;
    if (!readInstallPath(installDirectory)) return Outcome::NotLocated;
    char *expanded = QZ_ExpandEnvironment(installDirectory.c_str());
    const std::string directory = expanded ? expanded : installDirectory;
    QZ_Free(expanded);
    return startProgram(programPath(directory), profile, waitForExit, window);
}

} // namespace tarmin::monitor

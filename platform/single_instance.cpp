#include "platform/single_instance.h"

#include "common/settings.h"
#include "platform/files.h"
#include "platform/lasterror.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tarmin::platform {

namespace {

// The messages of the protocol, one line each.
constexpr char kIdleMessage[] = "idle\n";
constexpr char kRaiseMessage[] = "raise\n";

// The settings home, as the settings store finds it.
QString settings_home() {
    QFileInfo info(QFile::decodeName(qzcom::tarmin_home().c_str()));
    QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? info.absoluteFilePath() : canonical;
}

// A directory only this user can use: $XDG_RUNTIME_DIR, else
// <temp>/tarmin-<uid> made with mode 0700 (and refused when someone else owns it).
QString socket_directory() {
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    struct stat st {};
    if (runtime && *runtime && ::stat(runtime, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid())
        return QString::fromLocal8Bit(runtime);
    QString dir = QDir::tempPath() + QStringLiteral("/tarmin-%1").arg(::getuid());
    QByteArray path = QFile::encodeName(dir);
    ::mkdir(path.constData(), 0700);
    if (::lstat(path.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid())
        return QString();
    if ((st.st_mode & 0077) != 0) ::chmod(path.constData(), 0700);
    return dir;
}

// A program name made safe for a file name and kept short.
QString safe_name(const std::string &program) {
    QString out;
    for (char c : std::string(file_name_of(program)).substr(0, 24)) {
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                     c == '_';
        out += plain ? QChar(c) : QChar('_');
    }
    return out;
}

void set_socket_error(QLocalSocket::LocalSocketError error) {
    switch (error) {
    case QLocalSocket::ServerNotFoundError: set_last_error_from_errno(ENOENT); break;
    case QLocalSocket::ConnectionRefusedError: set_last_error_from_errno(ECONNREFUSED); break;
    case QLocalSocket::SocketAccessError: set_last_error_from_errno(EACCES); break;
    case QLocalSocket::SocketTimeoutError: set_last_error(kErrorWaitTimeout); break;
    case QLocalSocket::PeerClosedError: set_last_error_from_errno(ECONNRESET); break;
    default: set_last_error(kErrorLocalSocket); break;
    }
}

// Connects to the instance; false with the last error set.
bool connect_to(QLocalSocket &socket, const QString &name, int timeout_ms) {
    socket.connectToServer(name);
    if (socket.waitForConnected(timeout_ms)) return true;
    set_socket_error(socket.error());
    return false;
}

// Reads until the instance's "idle" line has come, within the time left.
bool wait_for_idle(QLocalSocket &socket, uint64_t deadline) {
    QByteArray got;
    for (;;) {
        got += socket.readAll();
        if (got.startsWith(kIdleMessage)) return true;
        if (got.size() >= static_cast<int>(sizeof kIdleMessage - 1)) {
            set_last_error(kErrorLocalSocket); // not our protocol
            return false;
        }
        uint64_t now = tick_count64();
        if (now >= deadline) {
            set_last_error(kErrorWaitTimeout);
            return false;
        }
        if (!socket.waitForReadyRead(static_cast<int>(deadline - now))) {
            if (socket.error() == QLocalSocket::SocketTimeoutError)
                set_last_error(kErrorWaitTimeout);
            else
                set_socket_error(socket.error());
            return false;
        }
    }
}

// One conversation: connect, optionally ask for raising, wait for "idle".
bool talk(const QString &name, uint64_t deadline, bool raise) {
    QLocalSocket socket;
    uint64_t now = tick_count64();
    int connect_ms = now >= deadline ? 0 : static_cast<int>(deadline - now);
    if (!connect_to(socket, name, std::max(connect_ms, 1))) return false;
    if (raise) {
        socket.write(kRaiseMessage);
        if (!socket.waitForBytesWritten(std::max(connect_ms, 1))) {
            set_socket_error(socket.error());
            return false;
        }
    }
    bool ok = wait_for_idle(socket, deadline);
    socket.disconnectFromServer();
    return ok;
}

// Serialises taking over the socket name between instances starting at once.
class NameLock {
public:
    explicit NameLock(const QString &socket_name) {
        QByteArray path = QFile::encodeName(socket_name + QStringLiteral(".lock"));
        fd_ = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd_ >= 0) {
            while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
            }
        }
    }
    ~NameLock() {
        if (fd_ >= 0) ::close(fd_);
    }

private:
    int fd_ = -1;
};

} // namespace

QString instance_socket_name(const std::string &program, const std::string &profile) {
    QString dir = socket_directory();
    if (dir.isEmpty()) return QString();
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(settings_home().toUtf8());
    hash.addData(QByteArray(1, '\0'));
    hash.addData(QByteArray::fromStdString(program));
    hash.addData(QByteArray(1, '\0'));
    hash.addData(QByteArray::fromStdString(profile));
    QString digest = QString::fromLatin1(hash.result().left(8).toHex());
    return dir + QStringLiteral("/tarmin-") + safe_name(program) + QChar('-') + digest;
}

SingleInstanceServer::SingleInstanceServer(QObject *parent) : QObject(parent) {}

SingleInstanceServer::~SingleInstanceServer() { close(); }

bool SingleInstanceServer::listen(const std::string &program, const std::string &profile) {
    close();
    QString name = instance_socket_name(program, profile);
    if (name.isEmpty()) {
        set_last_error_from_errno(EACCES);
        return false;
    }
    NameLock lock(name);
    // Look first: listening with access options replaces an existing socket
    // file instead of failing, so a live instance must be found by asking it.
    QLocalSocket probe;
    probe.connectToServer(name);
    if (probe.waitForConnected(1000)) {
        probe.disconnectFromServer();
        set_last_error(kErrorAlreadyRunning);
        return false;
    }
    // Nobody answers: a socket left behind by an instance that died goes.
    QLocalServer::removeServer(name);
    auto server = std::make_unique<QLocalServer>();
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server->listen(name)) {
        set_last_error(kErrorLocalSocket);
        return false;
    }
    connect(server.get(), &QLocalServer::newConnection, this, [this] { accept_connections(); });
    server_ = std::move(server);
    return true;
}

bool SingleInstanceServer::listening() const { return server_ && server_->isListening(); }

void SingleInstanceServer::close() {
    if (server_) {
        server_->close(); // removes the socket file
        server_.reset();
    }
}

QString SingleInstanceServer::socket_name() const { return server_ ? server_->fullServerName() : QString(); }

void SingleInstanceServer::accept_connections() {
    while (QLocalSocket *socket = server_->nextPendingConnection()) {
        socket->setParent(this);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { read_request(socket); });
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        // This runs in the event loop: the instance is ready for input.
        socket->write(kIdleMessage);
        socket->flush();
        // A request may have come with the connection already.
        if (socket->bytesAvailable() > 0) read_request(socket);
    }
}

void SingleInstanceServer::read_request(QLocalSocket *socket) {
    while (socket->canReadLine()) {
        QByteArray line = socket->readLine(64);
        if (line == kRaiseMessage) emit raise_requested();
    }
    // A client that sends anything else at length is not one of ours.
    if (socket->bytesAvailable() > 256) socket->abort();
}

bool SingleInstanceClient::instance_running(const std::string &program, const std::string &profile,
                                            int timeout_ms) {
    QString name = instance_socket_name(program, profile);
    if (name.isEmpty()) {
        set_last_error_from_errno(EACCES);
        return false;
    }
    QLocalSocket socket;
    if (!connect_to(socket, name, timeout_ms)) return false;
    socket.disconnectFromServer();
    return true;
}

bool SingleInstanceClient::request_raise(const std::string &program, const std::string &profile,
                                         int timeout_ms) {
    QString name = instance_socket_name(program, profile);
    if (name.isEmpty()) {
        set_last_error_from_errno(EACCES);
        return false;
    }
    return talk(name, tick_count64() + static_cast<uint64_t>(std::max(timeout_ms, 0)), true);
}

bool SingleInstanceClient::wait_until_idle(const std::string &program, const std::string &profile,
                                           int timeout_ms, int pid, bool raise) {
    QString name = instance_socket_name(program, profile);
    if (name.isEmpty()) {
        set_last_error_from_errno(EACCES);
        return false;
    }
    uint64_t deadline = tick_count64() + static_cast<uint64_t>(std::max(timeout_ms, 0));
    for (;;) {
        if (talk(name, deadline, raise)) return true;
        uint32_t error = last_error();
        bool not_yet = error == static_cast<uint32_t>(ENOENT) || error == static_cast<uint32_t>(ECONNREFUSED);
        if (!not_yet) return false;
        // A started program that has ended will never answer. Only a look:
        // the caller keeps the process and its exit code.
        if (pid > 0 && ::kill(pid, 0) != 0 && errno == ESRCH) {
            set_last_error_from_errno(ECHILD);
            return false;
        }
        if (pid > 0) {
            siginfo_t info{};
            if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
                info.si_pid == pid) {
                set_last_error_from_errno(ECHILD);
                return false;
            }
        }
        if (tick_count64() >= deadline) {
            set_last_error(kErrorWaitTimeout);
            return false;
        }
        ::usleep(20 * 1000);
    }
}

} // namespace tarmin::platform

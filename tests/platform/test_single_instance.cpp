// One instance per program, user and profile: a second server is refused,
// a stale socket is taken over, a client's "raise" reaches the first
// instance, and a started program is waited for until it is idle for input.
#include "platform/files.h"
#include "platform/lasterror.h"
#include "platform/process.h"
#include "platform/single_instance.h"

#include "testsupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <future>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

using namespace tarmin::platform;

namespace {

constexpr char kRoleVariable[] = "TARMIN_PLATFORM_TEST_ROLE";
const std::string kProgram = "tmnmoncfg";

// This test program started again as a running instance: it listens for
// kProgram and the profile in argv-less form (from the environment), ends
// with 0 when asked to raise its window, 3 when nobody asks within 20 s.
int run_as_instance() {
    int argc = 1;
    char name[] = "instance";
    char *argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    SingleInstanceServer server;
    if (!server.listen(kProgram, std::getenv(kRoleVariable))) return 2;
    QObject::connect(&server, &SingleInstanceServer::raise_requested, &app, [&app] { app.exit(0); });
    QTimer::singleShot(20000, &app, [&app] { app.exit(3); });
    return app.exec();
}

[[maybe_unused]] const int g_role_exit = [] {
    if (std::getenv(kRoleVariable)) ::_exit(run_as_instance());
    return 0;
}();

QCoreApplication &application() {
    static int argc = 1;
    static char name[] = "platform_test_single_instance";
    static char *argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

// Runs the event loop until done() or the time is up.
template <typename Done> bool spin_until(Done done, int timeout_ms) {
    uint64_t deadline = tick_count64() + static_cast<uint64_t>(timeout_ms);
    while (!done()) {
        if (tick_count64() >= deadline) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// A socket bound at path by someone that never answers (and never accepts).
int bind_silent_socket(const QString &path) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    QByteArray bytes = path.toLocal8Bit();
    std::memcpy(addr.sun_path, bytes.constData(), static_cast<size_t>(bytes.size()));
    if (::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

TEST(PlatformSingleInstance, SocketNamesArePerProgramProfileAndHome) {
    QString a = instance_socket_name(kProgram, "");
    EXPECT_FALSE(a.isEmpty());
    EXPECT_EQ(a, instance_socket_name(kProgram, ""));
    EXPECT_NE(a, instance_socket_name(kProgram, "second"));
    EXPECT_NE(a, instance_socket_name("tmngwmon", ""));
    std::string home = std::getenv("TARMIN_HOME");
    ::setenv("TARMIN_HOME", (home + "/other").c_str(), 1);
    EXPECT_NE(a, instance_socket_name(kProgram, ""));
    ::setenv("TARMIN_HOME", home.c_str(), 1);
    EXPECT_LT(a.toLocal8Bit().size(), 100); // fits a local socket address
}

TEST(PlatformSingleInstance, SecondServerFindsTheFirst) {
    application();
    SingleInstanceServer first;
    ASSERT_TRUE(first.listen(kProgram, "p1")) << error_text_utf8(last_error());
    EXPECT_TRUE(first.listening());
    SingleInstanceServer second;
    EXPECT_FALSE(second.listen(kProgram, "p1"));
    EXPECT_EQ(last_error(), kErrorAlreadyRunning);
    EXPECT_FALSE(second.listening());
    // Another profile is another instance.
    SingleInstanceServer other;
    EXPECT_TRUE(other.listen(kProgram, "p2"));
    // Once the first has gone, the name is free.
    first.close();
    EXPECT_FALSE(SingleInstanceClient::instance_running(kProgram, "p1", 500));
    EXPECT_TRUE(second.listen(kProgram, "p1"));
}

TEST(PlatformSingleInstance, StaleSocketIsTakenOver) {
    application();
    QString name = instance_socket_name(kProgram, "crashed");
    int fd = bind_silent_socket(name);
    ASSERT_GE(fd, 0);
    ::close(fd); // the file stays, nobody listens: a crashed instance
    SingleInstanceServer server;
    ASSERT_TRUE(server.listen(kProgram, "crashed")) << error_text_utf8(last_error());
    EXPECT_TRUE(SingleInstanceClient::instance_running(kProgram, "crashed", 2000));
}

TEST(PlatformSingleInstance, RaiseReachesTheFirstInstance) {
    application();
    SingleInstanceServer server;
    ASSERT_TRUE(server.listen(kProgram, ""));
    std::atomic<int> raised{0};
    QObject::connect(&server, &SingleInstanceServer::raise_requested, [&raised] { ++raised; });

    auto client = std::async(std::launch::async, [] {
        bool ok = SingleInstanceClient::request_raise(kProgram, "", 5000);
        return std::make_pair(ok, last_error());
    });
    ASSERT_TRUE(spin_until([&] { return raised.load() > 0; }, 5000));
    auto [ok, error] = client.get();
    EXPECT_TRUE(ok) << error_text_utf8(error);
    EXPECT_EQ(raised.load(), 1);

    // Only looking does not raise it.
    auto look = std::async(std::launch::async, [] { return SingleInstanceClient::instance_running(kProgram, ""); });
    ASSERT_TRUE(spin_until([&] { return look.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
                           5000));
    EXPECT_TRUE(look.get());
    spin_until([] { return false; }, 100);
    EXPECT_EQ(raised.load(), 1);
}

TEST(PlatformSingleInstance, ClientFailures) {
    application();
    EXPECT_FALSE(SingleInstanceClient::instance_running(kProgram, "none", 500));
    EXPECT_FALSE(SingleInstanceClient::request_raise(kProgram, "none", 500));
    EXPECT_EQ(last_error(), static_cast<uint32_t>(ENOENT));

    // Something listens under the name but never answers: the wait ends in time.
    QString name = instance_socket_name(kProgram, "mute");
    int fd = bind_silent_socket(name);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::listen(fd, 4), 0);
    uint64_t before = tick_count64();
    EXPECT_FALSE(SingleInstanceClient::request_raise(kProgram, "mute", 300));
    EXPECT_EQ(last_error(), kErrorWaitTimeout);
    EXPECT_LT(tick_count64() - before, 3000u);
    ::close(fd);
    ::unlink(name.toLocal8Bit().constData());

    // Nothing ever comes up: the wait for idle ends with a timeout.
    before = tick_count64();
    EXPECT_FALSE(SingleInstanceClient::wait_until_idle(kProgram, "never", 300));
    EXPECT_EQ(last_error(), kErrorWaitTimeout);
    EXPECT_GE(tick_count64() - before, 290u);
}

TEST(PlatformSingleInstance, StartedProgramThatEndsIsNotWaitedForInFull) {
    Process p;
    ASSERT_TRUE(p.start("/bin/sh", {"-c", "exit 4"}));
    uint64_t before = tick_count64();
    EXPECT_FALSE(SingleInstanceClient::wait_until_idle(kProgram, "gone", 20000, p.pid()));
    EXPECT_EQ(last_error(), static_cast<uint32_t>(ECHILD));
    EXPECT_LT(tick_count64() - before, 10000u);
    // The caller still gets the exit code.
    ASSERT_TRUE(p.wait(5000));
    EXPECT_EQ(p.exit_code().value_or(-1), 4);
}

TEST(PlatformSingleInstance, SecondProcessWaitsForIdleAndRaisesTheFirst) {
    ::setenv(kRoleVariable, "cross", 1);
    Process instance;
    bool started = instance.start(std::filesystem::read_symlink("/proc/self/exe").string());
    ::unsetenv(kRoleVariable);
    ASSERT_TRUE(started) << error_text_utf8(last_error());
    bool idle = SingleInstanceClient::wait_until_idle(kProgram, "cross", 20000, instance.pid(), true);
    EXPECT_TRUE(idle) << error_text_utf8(last_error());
    ASSERT_TRUE(instance.wait(20000));
    // 0: the instance was asked to raise its window.
    EXPECT_EQ(instance.exit_code().value_or(-1), 0);
}

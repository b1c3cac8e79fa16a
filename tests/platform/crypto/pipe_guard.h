// Running code that must not block on named pipes planted among the files it
// reads, without letting the test hang when it does block.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <vector>

namespace tarmin::test {

// Makes a named pipe at path (an existing entry there is removed first).
inline bool make_pipe(const std::filesystem::path &path) {
    std::error_code ec;
    std::filesystem::remove(path, ec);
    return ::mkfifo(path.c_str(), 0600) == 0;
}

// Runs fn on a thread of its own; true when it ends within the time. When it
// does not, an open of one of the pipes is blocking: the pipes are opened and
// closed from here, both ends, until fn ends, so the test fails instead of
// hanging.
inline bool ends_without_blocking(const std::function<void()> &fn, const std::vector<std::filesystem::path> &pipes,
                                  std::chrono::seconds limit = std::chrono::seconds(30)) {
    // A write into a pipe whose reader went away fails instead of ending the test.
    ::signal(SIGPIPE, SIG_IGN);
    auto done = std::async(std::launch::async, fn);
    if (done.wait_for(limit) == std::future_status::ready) {
        done.get();
        return true;
    }
    while (done.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready)
        for (const auto &p : pipes) {
            int fd = ::open(p.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0) ::close(fd);
        }
    done.get();
    return false;
}

} // namespace tarmin::test

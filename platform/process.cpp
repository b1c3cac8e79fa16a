#include "platform/process.h"

#include "platform/faults.h"
#include "platform/files.h"
#include "platform/lasterror.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <csignal>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace tarmin::platform {

namespace {

bool ends_with_exe(std::string_view name) {
    if (name.size() < 4) return false;
    std::string_view ext = name.substr(name.size() - 4);
    return ext[0] == '.' && (ext[1] | 0x20) == 'e' && (ext[2] | 0x20) == 'x' && (ext[3] | 0x20) == 'e';
}

int open_pidfd(int pid) {
#ifdef SYS_pidfd_open
    long fd = ::syscall(SYS_pidfd_open, pid, 0);
    if (fd >= 0) {
        ::fcntl(static_cast<int>(fd), F_SETFD, FD_CLOEXEC);
        return static_cast<int>(fd);
    }
#endif
    (void)pid;
    return -1;
}

int exit_code_of(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

// Signals that the child gets back at their default action: a Qt program
// or a test may have changed them, and the new program expects defaults.
void reset_signals(posix_spawnattr_t &attr) {
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int sig : {SIGPIPE, SIGCHLD, SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGUSR1, SIGUSR2})
        sigaddset(&defaults, sig);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
}

} // namespace

std::optional<std::string> find_program(std::string_view dir, std::string_view name) {
    if (ends_with_exe(name)) name.remove_suffix(4);
    if (name.empty()) {
        set_last_error_from_errno(ENOENT);
        return std::nullopt;
    }
    std::string path = join_path(dir, name);
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        set_last_error_from_errno(errno);
        return std::nullopt;
    }
    if (!S_ISREG(st.st_mode) || ::access(path.c_str(), X_OK) != 0) {
        set_last_error_from_errno(EACCES);
        return std::nullopt;
    }
    return path;
}

Process::~Process() { detach(); }

Process::Process(Process &&other) noexcept
    : pid_(other.pid_), pidfd_(other.pidfd_), exit_code_(other.exit_code_) {
    other.pid_ = -1;
    other.pidfd_ = -1;
    other.exit_code_.reset();
}

Process &Process::operator=(Process &&other) noexcept {
    if (this != &other) {
        detach();
        pid_ = other.pid_;
        pidfd_ = other.pidfd_;
        exit_code_ = other.exit_code_;
        other.pid_ = -1;
        other.pidfd_ = -1;
        other.exit_code_.reset();
    }
    return *this;
}

void Process::detach() {
    if (pidfd_ >= 0) {
        ::close(pidfd_);
        pidfd_ = -1;
    }
    if (pid_ > 0 && !exit_code_) {
        // Nobody waits for it any more: reap it when it ends so that it does
        // not stay behind as a zombie.
        int pid = pid_;
        std::thread([pid] {
            int status;
            while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
        }).detach();
    }
    pid_ = -1;
    exit_code_.reset();
}

bool Process::start(const std::string &program, const std::vector<std::string> &args,
                    const std::string &working_directory) {
    detach();
    if (fault_due(FaultPoint::spawn)) return false;
    if (program.empty()) {
        set_last_error_from_errno(ENOENT);
        return false;
    }
    std::vector<char *> argv;
    argv.reserve(args.size() + 2);
    argv.push_back(const_cast<char *>(program.c_str()));
    for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
    reset_signals(attr);
    if (!working_directory.empty()) posix_spawn_file_actions_addchdir_np(&actions, working_directory.c_str());

    pid_t pid = -1;
    // glibc reports a failed chdir or exec of the child here, as the result.
    int err = ::posix_spawn(&pid, program.c_str(), &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (err != 0) {
        set_last_error_from_errno(err);
        return false;
    }
    pid_ = pid;
    pidfd_ = open_pidfd(pid);
    exit_code_.reset();
    return true;
}

// 1: it has ended (exit code kept); 0: it still runs; -1: waiting failed.
int Process::reap(bool block) {
    int status = 0;
    pid_t r;
    do {
        r = ::waitpid(pid_, &status, block ? 0 : WNOHANG);
    } while (r < 0 && errno == EINTR);
    if (r == 0) return 0;
    if (r < 0) {
        set_last_error_from_errno(errno);
        return -1;
    }
    exit_code_ = exit_code_of(status);
    if (pidfd_ >= 0) {
        ::close(pidfd_);
        pidfd_ = -1;
    }
    return 1;
}

bool Process::wait(int timeout_ms) {
    if (exit_code_) return true;
    if (pid_ <= 0) {
        set_last_error_from_errno(ECHILD);
        return false;
    }
    if (timeout_ms < 0) return reap(true) == 1;

    uint64_t deadline = tick_count64() + static_cast<uint64_t>(timeout_ms);
    for (;;) {
        int state = reap(false);
        if (state != 0) return state == 1;
        uint64_t now = tick_count64();
        if (now >= deadline) break;
        int remaining = static_cast<int>(deadline - now);
        if (pidfd_ >= 0) {
            struct pollfd p {pidfd_, POLLIN, 0};
            ::poll(&p, 1, remaining);
        } else {
            ::usleep(static_cast<useconds_t>(std::min(remaining, 10)) * 1000u);
        }
    }
    set_last_error(kErrorWaitTimeout);
    return false;
}

bool Process::running() {
    if (exit_code_ || pid_ <= 0) return false;
    // A process that cannot be waited for (-1) is not ours to run.
    return reap(false) == 0;

}

bool Process::terminate(bool force) {
    if (pid_ <= 0 || exit_code_) {
        set_last_error_from_errno(ESRCH);
        return false;
    }
    if (::kill(pid_, force ? SIGKILL : SIGTERM) != 0) {
        set_last_error_from_errno(errno);
        return false;
    }
    return true;
}

} // namespace tarmin::platform

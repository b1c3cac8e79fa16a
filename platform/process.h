// Starting programs and waiting for them: the stand-in for ShellExecuteEx with
// a kept process handle and WaitForSingleObject / GetExitCodeProcess.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#pragma GCC visibility push(default)

namespace tarmin::platform {

// The program NAME in directory DIR: "<dir>/<name>", where a directory given
// with a trailing "\\" or "/" and a name given with ".exe" (any case) are
// accepted ("tmnmoncfg.exe" finds "tmnmoncfg"). nullopt when there is no such
// file (ENOENT) or it is not an executable regular file (EACCES).
std::optional<std::string> find_program(std::string_view dir, std::string_view name);

// One started program. The object keeps the process until it has been waited
// for; destroying it neither waits nor kills: the program runs on and is
// reaped in the background when it ends.
class Process {
public:
    Process() = default;
    ~Process();
    Process(const Process &) = delete;
    Process &operator=(const Process &) = delete;
    Process(Process &&other) noexcept;
    Process &operator=(Process &&other) noexcept;

    // Starts program (a path; no search of PATH) with args as argv[1..], in
    // working_directory when it is not empty, with the caller's environment.
    // A program that cannot be run (missing, not executable, bad working
    // directory) fails here with the error of the attempt (ENOENT, EACCES...).
    bool start(const std::string &program, const std::vector<std::string> &args = {},
               const std::string &working_directory = {});
    bool started() const { return pid_ > 0; }
    int pid() const { return pid_; }

    // Waits until the program ends: timeout_ms < 0 without limit, 0 only
    // looks. true when it has ended; false with kErrorWaitTimeout when time
    // ran out (or another error when waiting failed).
    bool wait(int timeout_ms = -1);
    // Whether it still runs (a look that reaps it when it has ended).
    bool running();
    // The exit code once ended: the program's status, or 128 + the number of
    // the signal that ended it. nullopt while running.
    std::optional<int> exit_code() const { return exit_code_; }
    // Asks the program to end (SIGTERM) or forces it (SIGKILL).
    bool terminate(bool force = false);

private:
    int reap(bool block);
    void detach();
    int pid_ = -1;
    int pidfd_ = -1;
    std::optional<int> exit_code_;
};

} // namespace tarmin::platform

#pragma GCC visibility pop

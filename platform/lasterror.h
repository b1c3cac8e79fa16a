// The current thread's last system error, as GetLastError keeps it.
//
// Every platform function that fails sets the calling thread's last error and
// returns false (or an empty result); a function that succeeds leaves it
// alone, so read it right after the failed call.
//
// Codes:
//   - errno values (ENOENT, EACCES, ENOSPC, ...) stand for themselves, with
//     strerror's text;
//   - 32 and 33 are the sharing and lock violations: a file whose writer still
//     holds an advisory lock (files.h). Because errno 32 (EPIPE) and 33 (EDOM)
//     would read as these, those two errno values are kept with
//     kErrnoAliasBit set;
//   - a few codes of our own, for failures that errno does not describe.
#pragma once

#include <cstdint>
#include <string>

#pragma GCC visibility push(default)

namespace tarmin::platform {

// The file is held open by its writer (an exclusive flock on it).
inline constexpr uint32_t kErrorSharingViolation = 32;
// A region of the file is locked by its writer (an fcntl write lock).
inline constexpr uint32_t kErrorLockViolation = 33;
// A wait ran out of time (process wait, single-instance reply).
inline constexpr uint32_t kErrorWaitTimeout = 258;
// A file of zero bytes cannot be mapped into memory.
inline constexpr uint32_t kErrorFileEmpty = 1006;
// Another instance of the program already serves this user and profile.
inline constexpr uint32_t kErrorAlreadyRunning = 0x20000001;
// The path names a directory or device where a regular file is needed.
inline constexpr uint32_t kErrorNotRegularFile = 0x20000002;
// A local-socket failure that errno does not describe.
inline constexpr uint32_t kErrorLocalSocket = 0x20000003;
// Set on errno values that would otherwise read as 32 and 33.
inline constexpr uint32_t kErrnoAliasBit = 0x40000000;

// The calling thread's last error (0 when none was set).
uint32_t last_error();
void set_last_error(uint32_t code);
// Stores an errno value (EPIPE and EDOM get kErrnoAliasBit) as the last error
// and returns the stored code.
uint32_t set_last_error_from_errno(int err);
// The errno value behind a code, 0 for our own codes.
int errno_of(uint32_t code);

// The system's text for a code, without a trailing line end: strerror for
// errno values, our own text otherwise. error_text gives Windows-1251 (the
// code page of every text inside the libraries); error_text_utf8 is for the
// user interface and terminals.
std::string error_text(uint32_t code);
std::string error_text_utf8(uint32_t code);

// Whether a code says that the file is still held open by its writer (32 or
// 33): a later attempt may take it.
inline bool is_held_by_writer_error(uint32_t code) {
    return code == kErrorSharingViolation || code == kErrorLockViolation;
}

} // namespace tarmin::platform

#pragma GCC visibility pop

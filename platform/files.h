// File services standing in for the Windows file system: opening and
// creating files, temporary names and delete-on-close temporary files,
// read-only mapping, copy and move, directory search with masks, file
// queries, the "held open by its writer" test and the tick count.
//
// Paths are passed to the system unchanged (file-system bytes); "/" is the
// separator, and a directory given with a trailing "\\" is accepted wherever
// a directory is joined with a name. Every function that fails sets the
// thread's last error (lasterror.h) and returns false or an empty result;
// none throws.
//
// "Held open by its writer": a program that is still writing a file holds an
// advisory lock on it, an exclusive flock (the whole file) or an fcntl write
// lock (a region). Opening with kDenyWriters, copying, moving and deleting
// such a file fail with kErrorSharingViolation (flock) or kErrorLockViolation
// (fcntl), as a file opened without sharing does on Windows. Plain reading
// (kRead without kDenyWriters) is never refused: the log reader follows files
// while they grow.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#pragma GCC visibility push(default)

namespace tarmin::platform {

// ---- Opening files ------------------------------------------------------------

// Access and creation flags of File::open; combine with |.
enum OpenFlags : unsigned {
    kRead = 1u << 0,
    kWrite = 1u << 1,
    kAppend = 1u << 2,        // every write goes to the end (implies kWrite)
    kCreateNew = 1u << 3,     // create; an existing file is an error (EEXIST)
    kCreateAlways = 1u << 4,  // create, or truncate an existing file
    kOpenAlways = 1u << 5,    // create when missing, keep an existing file
    kWriteThrough = 1u << 6,  // writes reach the disk before they return (O_DSYNC)
    kDenyWriters = 1u << 7,   // refuse a file held by its writer (32 / 33)
    kPrivate = 1u << 8,       // a created file gets mode 0600 instead of 0666 & ~umask
};
constexpr OpenFlags operator|(OpenFlags a, OpenFlags b) {
    return static_cast<OpenFlags>(static_cast<unsigned>(a) | static_cast<unsigned>(b));
}

// An open file descriptor that closes itself. Writes write everything or fail:
// a short write is a failure (ENOSPC when the system gave no reason).
class File {
public:
    File() = default;
    ~File();
    File(const File &) = delete;
    File &operator=(const File &) = delete;
    File(File &&other) noexcept;
    File &operator=(File &&other) noexcept;

    bool open(const std::string &path, OpenFlags flags);
    // Takes over an open descriptor (closing what was open before).
    void adopt(int fd, const std::string &path);
    bool is_open() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    const std::string &path() const { return path_; }

    bool write(const void *data, size_t length);
    bool write(std::string_view text) { return write(text.data(), text.size()); }
    // Reads up to length bytes at the current position; the count read, 0 at the
    // end, nullopt on failure.
    std::optional<size_t> read(void *data, size_t length);
    // The whole content from the start (the position is left at the end).
    std::optional<std::string> read_all();
    std::optional<uint64_t> size() const;
    bool seek(uint64_t offset);
    // Closes, reporting a failure of the close itself (deferred write errors).
    bool close();

private:
    int fd_ = -1;
    std::string path_;
};

// Reads / writes a whole small file (write: created or truncated).
std::optional<std::string> read_file(const std::string &path);
bool write_file(const std::string &path, std::string_view bytes);

// ---- Files and directories ---------------------------------------------------------

struct FileInfo {
    bool is_directory = false;
    bool is_regular = false;
    uint64_t size = 0;
    int64_t mtime = 0;      // last write, seconds since 1970 (UTC)
    int32_t mtime_nsec = 0; // and its nanoseconds
};
// Follows symbolic links, like opening the file would.
std::optional<FileInfo> file_info(const std::string &path);
std::optional<uint64_t> file_size(const std::string &path);
bool file_exists(const std::string &path);      // any kind of entry
bool directory_exists(const std::string &path);

// Creates one directory; an existing one is an error (EEXIST), as with
// CreateDirectory.
bool create_directory(const std::string &path);
// Removes an empty directory.
bool remove_directory(const std::string &path);
// Deletes a file; a file held by its writer is refused (32 / 33).
bool remove_file(const std::string &path);

// A directory path with exactly one trailing "/" (a trailing "\\" becomes "/");
// an empty path stays empty.
std::string with_trailing_slash(std::string_view dir);
// dir joined with name by one "/".
std::string join_path(std::string_view dir, std::string_view name);
// The part after the last "/" or "\\".
std::string_view file_name_of(std::string_view path);

// ---- Temporary names and files ----------------------------------------------------------

// The user's temporary directory with a trailing "/": the first set of TMP,
// TEMP, TMPDIR, else "/tmp/" (the order of GetTempPath).
std::string temp_directory();

// GetTempFileName: "<dir>/<prefix><hex>.tmp" with at most the first three
// characters of prefix and one to four upper-case hexadecimal digits.
// unique 0: finds a free name and creates the file there (empty, mode 0600),
// trying every number before giving up (EEXIST). unique != 0: only forms the
// name with that number (its low 16 bits), creating nothing.
// dir empty: the temporary directory.
std::optional<std::string> temp_file_name(const std::string &dir, std::string_view prefix,
                                          unsigned unique = 0);

// A temporary work file that the system removes when it is closed or the
// process ends: it is created under its name (always created, mode 0600),
// and the name is removed at once, so no other process can open it and nothing
// stays behind after a crash. path() keeps the name for messages.
// close_zeroed() overwrites the whole content with zero bytes and then closes;
// the destructor does the same for a file still open.
class TempFile {
public:
    TempFile() = default;
    ~TempFile();
    TempFile(const TempFile &) = delete;
    TempFile &operator=(const TempFile &) = delete;
    TempFile(TempFile &&other) noexcept;
    TempFile &operator=(TempFile &&other) noexcept;

    // Creates the file at path (an existing file there is replaced).
    bool create(const std::string &path);
    bool is_open() const { return file_.is_open(); }
    int fd() const { return file_.fd(); }
    const std::string &path() const { return file_.path(); }

    bool write(const void *data, size_t length); // appends
    bool write(std::string_view text) { return write(text.data(), text.size()); }
    std::optional<uint64_t> size() const { return file_.size(); }
    // The whole content; the next write appends after it.
    std::optional<std::string> read_all();
    // Zeroes the content, then closes. false when zeroing or closing failed
    // (the file is closed and gone all the same).
    bool close_zeroed();

private:
    File file_;
};

// Overwrites the first `length` bytes of an open file with zeros and flushes
// them to the disk (fdatasync).
bool overwrite_with_zeros(int fd, uint64_t length);

// ---- Read-only mapping ----------------------------------------------------------------------

// A whole file mapped read-only into memory (CreateFileMapping +
// MapViewOfFile). The file is opened with kDenyWriters, so a file still held
// by its writer is refused (32 / 33). A file of zero bytes cannot be mapped
// (kErrorFileEmpty) unless allow_empty is given; then size() is 0 and data()
// points to no readable byte.
class MappedFile {
public:
    // Which step failed, for callers whose messages tell them apart.
    enum class Stage { none, open, mapping, view };

    MappedFile() = default;
    ~MappedFile();
    MappedFile(const MappedFile &) = delete;
    MappedFile &operator=(const MappedFile &) = delete;
    MappedFile(MappedFile &&other) noexcept;
    MappedFile &operator=(MappedFile &&other) noexcept;

    // open: the file cannot be opened; mapping: it is empty or not a regular
    // file; view: the system refused the mapping (mmap).
    bool open(const std::string &path, bool allow_empty = false);
    void close();
    bool is_open() const { return data_ != nullptr; }
    const unsigned char *data() const { return data_; }
    size_t size() const { return size_; }
    std::string_view view() const {
        return {reinterpret_cast<const char *>(data_), size_};
    }
    Stage failed_stage() const { return failed_stage_; }

private:
    const unsigned char *data_ = nullptr;
    size_t size_ = 0;
    bool mapped_ = false;
    Stage failed_stage_ = Stage::none;
};

// ---- Copy and move ----------------------------------------------------------------------------

// CopyFile: copies content, permission bits and last write time. With
// fail_if_exists an existing target is an error (EEXIST); otherwise the copy is
// written beside the target under a temporary name and renamed over it, so a
// failed copy leaves the old target (or none) and never a partial one. A source
// held by its writer is refused (32 / 33).
bool copy_file(const std::string &from, const std::string &to, bool fail_if_exists);

// MoveFileEx with copying allowed: rename; across file systems (EXDEV) copy,
// then delete the source. Without replace an existing target is an error
// (EEXIST). A source held by its writer is refused (32 / 33). When the source
// cannot be deleted after a copy, the move fails and both files stay.
// Directories move only within one file system.
bool move_file(const std::string &from, const std::string &to, bool replace);

// ---- Directory search ---------------------------------------------------------------------

struct DirEntry {
    std::string name; // without the directory
    bool is_directory = false;
    uint64_t size = 0;
    int64_t mtime = 0; // last write, seconds since 1970 (UTC)
    int32_t mtime_nsec = 0;
};

// Whether a file name matches a mask, as Windows compares them: '*' any run of
// characters, '?' one character, letters without regard to case (Latin and
// Cyrillic, in UTF-8 and in Windows-1251 names), "*.*" every name, and a mask
// ending in "." ("*.") the names without an extension.
bool mask_matches(std::string_view mask, std::string_view name);

// FindFirstFile/FindNextFile over dir: the entries whose names match mask,
// sorted by name, without "." and "..". Symbolic links are followed for the
// kind, size and time. A directory that cannot be read gives nullopt (ENOENT,
// ENOTDIR, EACCES...); no match is an empty list.
std::optional<std::vector<DirEntry>> find_files(const std::string &dir, std::string_view mask);
// The same with a path whose last part is the mask ("dir/*.csv").
std::optional<std::vector<DirEntry>> find_files(const std::string &dir_and_mask);

// ---- Files held by their writer ---------------------------------------------------------------

// 0 when no other open file holds a write lock on the file; otherwise
// kErrorSharingViolation (an exclusive flock) or kErrorLockViolation (an fcntl
// write lock). The test never disturbs the caller's own locks; it takes a
// shared flock for an instant, so a writer should lock with waiting rather
// than give up at once. A file that cannot be opened gives its errno code
// (with the last error set).
uint32_t writer_lock_state(const std::string &path);
// The same for an open descriptor (the test reopens the file by itself).
uint32_t writer_lock_state(int fd);
// writer_lock_state(path) != 0, with the last error set to that code.
bool held_by_writer(const std::string &path);

// The writer's side: holds a lock on an open file until released or
// destroyed. flock locks the whole file (readers see 32); fcntl write-locks a
// region (readers see 33).
class WriterLock {
public:
    enum class Kind { flock, fcntl };

    WriterLock() = default;
    ~WriterLock();
    WriterLock(const WriterLock &) = delete;
    WriterLock &operator=(const WriterLock &) = delete;

    // Locks fd (which must stay open while locked); wait: block until the lock
    // is free, else fail with EWOULDBLOCK. The fcntl kind locks the whole file
    // (offset 0, length 0).
    bool lock(int fd, Kind kind = Kind::flock, bool wait = true);
    void release();
    bool locked() const { return fd_ >= 0; }

private:
    int fd_ = -1;
    Kind kind_ = Kind::flock;
};

// ---- Time -----------------------------------------------------------------------------------

// Milliseconds of the monotonic clock: 32 bits wrapping like GetTickCount,
// and the full 64-bit count like GetTickCount64.
uint32_t tick_count();
uint64_t tick_count64();

} // namespace tarmin::platform

#pragma GCC visibility pop

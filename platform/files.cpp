#include "platform/files.h"

#include "platform/faults.h"
#include "platform/lasterror.h"

#include "common/codepage.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarmin::platform {

namespace {

// Sets the last error from errno and gives false, for "return fail();".
bool fail() {
    set_last_error_from_errno(errno);
    return false;
}

bool fail_with(uint32_t code) {
    set_last_error(code);
    int err = errno_of(code);
    errno = err ? err : EIO;
    return false;
}

int open_retrying(const char *path, int flags, mode_t mode) {
    int fd;
    do {
        fd = ::open(path, flags, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

bool write_all(int fd, const void *data, size_t length) {
    auto *p = static_cast<const unsigned char *>(data);
    while (length > 0) {
        ssize_t n = ::write(fd, p, length);
        if (n < 0) {
            if (errno == EINTR) continue;
            return fail();
        }
        if (n == 0) return fail_with(ENOSPC); // a short write without a reason
        p += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

bool pwrite_all(int fd, const void *data, size_t length, off_t offset) {
    auto *p = static_cast<const unsigned char *>(data);
    while (length > 0) {
        ssize_t n = ::pwrite(fd, p, length, offset);
        if (n < 0) {
            if (errno == EINTR) continue;
            return fail();
        }
        if (n == 0) return fail_with(ENOSPC);
        p += n;
        offset += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

// Everything from offset 0 without moving the file position.
std::optional<std::string> pread_all(int fd) {
    std::string out;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && st.st_size > 0) out.reserve(static_cast<size_t>(st.st_size));
    char buf[65536];
    off_t offset = 0;
    for (;;) {
        ssize_t n = ::pread(fd, buf, sizeof buf, offset);
        if (n < 0) {
            if (errno == EINTR) continue;
            fail();
            return std::nullopt;
        }
        if (n == 0) return out;
        out.append(buf, static_cast<size_t>(n));
        offset += n;
    }
}

constexpr unsigned kCreationFlags = kCreateNew | kCreateAlways | kOpenAlways;

int posix_flags(OpenFlags flags) {
    bool write = flags & (kWrite | kAppend);
    int f = O_CLOEXEC;
    if (write)
        f |= (flags & kRead) ? O_RDWR : O_WRONLY;
    else
        f |= O_RDONLY;
    if (flags & kAppend) f |= O_APPEND;
    if (flags & kCreateNew)
        f |= O_CREAT | O_EXCL;
    else if (flags & kCreateAlways)
        f |= O_CREAT | O_TRUNC;
    else if (flags & kOpenAlways)
        f |= O_CREAT;
    if (flags & kWriteThrough) f |= O_DSYNC;
    // Files that may still be held by a writer are taken from directories
    // that others fill: a named pipe put there must not block the open (the
    // callers then refuse what is not a regular file).
    if (flags & kDenyWriters) f |= O_NONBLOCK;
    return f;
}

// The lock test on a descriptor of our own: an exclusive flock by another
// open file gives 32, a conflicting fcntl write lock 33.
uint32_t probe_locks(int fd, bool may_flock) {
    struct flock fl {};
    fl.l_type = F_RDLCK;
    fl.l_whence = SEEK_SET;
    // Open-file-description locks see every conflicting record lock, those of
    // our own process included; plain F_GETLK is the fallback for old kernels.
    int r = ::fcntl(fd, F_OFD_GETLK, &fl);
    if (r != 0 && errno == EINVAL) {
        fl = {};
        fl.l_type = F_RDLCK;
        fl.l_whence = SEEK_SET;
        r = ::fcntl(fd, F_GETLK, &fl);
    }
    if (may_flock) {
        if (::flock(fd, LOCK_SH | LOCK_NB) != 0) {
            if (errno == EWOULDBLOCK) return kErrorSharingViolation;
        } else {
            ::flock(fd, LOCK_UN);
        }
    }
    if (r == 0 && fl.l_type != F_UNLCK) return kErrorLockViolation;
    return 0;
}

bool is_held_code(uint32_t state) { return is_held_by_writer_error(state); }

std::string directory_of(const std::string &path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

} // namespace

// ---- File -------------------------------------------------------------------------------------

File::~File() {
    if (fd_ >= 0) ::close(fd_);
}

File::File(File &&other) noexcept : fd_(other.fd_), path_(std::move(other.path_)) { other.fd_ = -1; }

File &File::operator=(File &&other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = other.fd_;
        path_ = std::move(other.path_);
        other.fd_ = -1;
    }
    return *this;
}

bool File::open(const std::string &path, OpenFlags flags) {
    if (fd_ >= 0) close();
    bool creates = flags & kCreationFlags;
    if (fault_due(creates ? FaultPoint::create : FaultPoint::open)) return false;
    mode_t mode = (flags & kPrivate) ? 0600 : 0666;
    int fd = open_retrying(path.c_str(), posix_flags(flags), mode);
    if (fd < 0) return fail();
    if (flags & kDenyWriters) {
        uint32_t state = writer_lock_state(fd);
        if (is_held_code(state)) {
            ::close(fd);
            return fail_with(state);
        }
    }
    fd_ = fd;
    path_ = path;
    return true;
}

void File::adopt(int fd, const std::string &path) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
    path_ = path;
}

bool File::write(const void *data, size_t length) {
    if (fd_ < 0) return fail_with(EBADF);
    if (fault_due(FaultPoint::write)) return false;
    return write_all(fd_, data, length);
}

std::optional<size_t> File::read(void *data, size_t length) {
    if (fd_ < 0) {
        fail_with(EBADF);
        return std::nullopt;
    }
    for (;;) {
        ssize_t n = ::read(fd_, data, length);
        if (n >= 0) return static_cast<size_t>(n);
        if (errno != EINTR) {
            fail();
            return std::nullopt;
        }
    }
}

std::optional<std::string> File::read_all() {
    if (fd_ < 0) {
        fail_with(EBADF);
        return std::nullopt;
    }
    auto content = pread_all(fd_);
    if (content && ::lseek(fd_, 0, SEEK_END) < 0) {
        fail();
        return std::nullopt;
    }
    return content;
}

std::optional<uint64_t> File::size() const {
    struct stat st {};
    if (fd_ < 0) {
        fail_with(EBADF);
        return std::nullopt;
    }
    if (::fstat(fd_, &st) != 0) {
        fail();
        return std::nullopt;
    }
    return static_cast<uint64_t>(st.st_size);
}

bool File::seek(uint64_t offset) {
    if (fd_ < 0) return fail_with(EBADF);
    if (::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0) return fail();
    return true;
}

bool File::close() {
    if (fd_ < 0) return true;
    int fd = fd_;
    fd_ = -1;
    // A failed close still releases the descriptor on Linux: never retry it.
    if (::close(fd) != 0 && errno != EINTR) return fail();
    return true;
}

std::optional<std::string> read_file(const std::string &path) {
    File f;
    if (!f.open(path, kRead)) return std::nullopt;
    return f.read_all();
}

bool write_file(const std::string &path, std::string_view bytes) {
    File f;
    if (!f.open(path, kWrite | kCreateAlways)) return false;
    if (!f.write(bytes)) return false;
    return f.close();
}

// ---- Files and directories --------------------------------------------------------------------

std::optional<FileInfo> file_info(const std::string &path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        fail();
        return std::nullopt;
    }
    FileInfo info;
    info.is_directory = S_ISDIR(st.st_mode);
    info.is_regular = S_ISREG(st.st_mode);
    info.size = static_cast<uint64_t>(st.st_size);
    info.mtime = st.st_mtim.tv_sec;
    info.mtime_nsec = static_cast<int32_t>(st.st_mtim.tv_nsec);
    return info;
}

std::optional<uint64_t> file_size(const std::string &path) {
    auto info = file_info(path);
    if (!info) return std::nullopt;
    return info->size;
}

bool file_exists(const std::string &path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) return true;
    return fail();
}

bool directory_exists(const std::string &path) {
    auto info = file_info(path);
    if (!info) return false;
    if (!info->is_directory) return fail_with(ENOTDIR);
    return true;
}

bool create_directory(const std::string &path) {
    if (fault_due(FaultPoint::create)) return false;
    if (::mkdir(path.c_str(), 0777) != 0) return fail();
    return true;
}

bool remove_directory(const std::string &path) {
    if (fault_due(FaultPoint::remove)) return false;
    if (::rmdir(path.c_str()) != 0) return fail();
    return true;
}

bool remove_file(const std::string &path) {
    if (fault_due(FaultPoint::remove)) return false;
    uint32_t state = writer_lock_state(path);
    if (is_held_code(state)) return fail_with(state);
    if (::unlink(path.c_str()) != 0) return fail();
    return true;
}

std::string with_trailing_slash(std::string_view dir) {
    std::string out(dir);
    if (out.empty()) return out;
    while (out.size() > 1 && (out.back() == '/' || out.back() == '\\')) out.pop_back();
    if (out.back() == '\\') out.back() = '/';
    if (out.back() != '/') out += '/';
    return out;
}

std::string join_path(std::string_view dir, std::string_view name) {
    if (dir.empty()) return std::string(name);
    return with_trailing_slash(dir) + std::string(name);
}

std::string_view file_name_of(std::string_view path) {
    size_t cut = path.find_last_of("/\\");
    return cut == std::string_view::npos ? path : path.substr(cut + 1);
}

// ---- Temporary names and files ----------------------------------------------------------------

std::string temp_directory() {
    for (const char *name : {"TMP", "TEMP", "TMPDIR"}) {
        const char *v = std::getenv(name);
        if (v && *v) return with_trailing_slash(v);
    }
    return "/tmp/";
}

std::optional<std::string> temp_file_name(const std::string &dir, std::string_view prefix,
                                          unsigned unique) {
    std::string base = with_trailing_slash(dir.empty() ? temp_directory() : dir);
    base.append(prefix.substr(0, 3));
    auto name_for = [&](unsigned number) {
        char digits[16];
        std::snprintf(digits, sizeof digits, "%X.tmp", number & 0xFFFFu);
        return base + digits;
    };
    if (unique != 0) return name_for(unique);

    if (fault_due(FaultPoint::create)) return std::nullopt;
    // Start where the clock points, as the system does, and walk through all
    // 65535 numbers before giving up.
    unsigned start = static_cast<unsigned>(tick_count64() ^ (static_cast<unsigned>(::getpid()) << 4)) & 0xFFFFu;
    for (unsigned i = 0; i < 0x10000u; ++i) {
        unsigned number = (start + i) & 0xFFFFu;
        if (number == 0) continue;
        std::string name = name_for(number);
        int fd = open_retrying(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) {
            ::close(fd);
            return name;
        }
        if (errno != EEXIST) {
            fail();
            return std::nullopt;
        }
    }
    fail_with(EEXIST);
    return std::nullopt;
}

TempFile::~TempFile() { close_zeroed(); }

TempFile::TempFile(TempFile &&other) noexcept : file_(std::move(other.file_)) {}

TempFile &TempFile::operator=(TempFile &&other) noexcept {
    if (this != &other) {
        close_zeroed();
        file_ = std::move(other.file_);
    }
    return *this;
}

bool TempFile::create(const std::string &path) {
    close_zeroed();
    if (fault_due(FaultPoint::create)) return false;
    // Never through a symbolic link: temporary directories are shared.
    int fd = open_retrying(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return fail();
    if (::unlink(path.c_str()) != 0) {
        int err = errno;
        ::close(fd);
        errno = err;
        return fail();
    }
    file_.adopt(fd, path);
    return true;
}

bool TempFile::write(const void *data, size_t length) { return file_.write(data, length); }

std::optional<std::string> TempFile::read_all() {
    if (!file_.is_open()) {
        fail_with(EBADF);
        return std::nullopt;
    }
    return pread_all(file_.fd());
}

bool TempFile::close_zeroed() {
    if (!file_.is_open()) return true;
    bool ok = true;
    uint32_t error = 0;
    auto length = file_.size();
    if (!length || !overwrite_with_zeros(file_.fd(), *length)) {
        ok = false;
        error = last_error();
    }
    if (!file_.close() && ok) {
        ok = false;
        error = last_error();
    }
    if (!ok) set_last_error(error);
    return ok;
}

bool overwrite_with_zeros(int fd, uint64_t length) {
    static const unsigned char zeros[65536] = {};
    uint64_t offset = 0;
    while (offset < length) {
        size_t chunk = static_cast<size_t>(std::min<uint64_t>(sizeof zeros, length - offset));
        if (!pwrite_all(fd, zeros, chunk, static_cast<off_t>(offset))) return false;
        offset += chunk;
    }
    if (length > 0 && ::fdatasync(fd) != 0 && errno != EINVAL) return fail();
    return true;
}

// ---- Read-only mapping ------------------------------------------------------------------------

namespace {
// What data() points to for an empty file opened with allow_empty.
const unsigned char kNoBytes[1] = {0};
} // namespace

MappedFile::~MappedFile() { close(); }

MappedFile::MappedFile(MappedFile &&other) noexcept
    : data_(other.data_), size_(other.size_), mapped_(other.mapped_), failed_stage_(other.failed_stage_) {
    other.data_ = nullptr;
    other.size_ = 0;
    other.mapped_ = false;
}

MappedFile &MappedFile::operator=(MappedFile &&other) noexcept {
    if (this != &other) {
        close();
        data_ = other.data_;
        size_ = other.size_;
        mapped_ = other.mapped_;
        failed_stage_ = other.failed_stage_;
        other.data_ = nullptr;
        other.size_ = 0;
        other.mapped_ = false;
    }
    return *this;
}

bool MappedFile::open(const std::string &path, bool allow_empty) {
    close();
    failed_stage_ = Stage::open;
    File file;
    if (!file.open(path, kRead | kDenyWriters)) return false;

    failed_stage_ = Stage::mapping;
    struct stat st {};
    if (::fstat(file.fd(), &st) != 0) return fail();
    if (!S_ISREG(st.st_mode)) return fail_with(S_ISDIR(st.st_mode) ? EISDIR : kErrorNotRegularFile);
    if (st.st_size == 0) {
        if (!allow_empty) return fail_with(kErrorFileEmpty);
        data_ = kNoBytes;
        size_ = 0;
        failed_stage_ = Stage::none;
        return true;
    }
    if (fault_due(FaultPoint::map)) return false;

    failed_stage_ = Stage::view;
    void *p = ::mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_PRIVATE, file.fd(), 0);
    if (p == MAP_FAILED) return fail();
    // The mapping keeps the file; its descriptor is closed with `file`.
    data_ = static_cast<const unsigned char *>(p);
    size_ = static_cast<size_t>(st.st_size);
    mapped_ = true;
    failed_stage_ = Stage::none;
    return true;
}

void MappedFile::close() {
    if (mapped_) ::munmap(const_cast<unsigned char *>(data_), size_);
    data_ = nullptr;
    size_ = 0;
    mapped_ = false;
}

// ---- Copy and move ----------------------------------------------------------------------------

namespace {

// Copies the bytes of `in` to `out` with copy_file_range, falling back to
// reading and writing where the kernel or the file systems cannot.
bool copy_data(int in, int out) {
    if (fault_due(FaultPoint::write)) return false;
    bool use_range = true;
    for (;;) {
        if (use_range) {
            ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, 1u << 30, 0);
            if (n > 0) continue;
            if (n == 0) return true;
            if (errno == EINTR) continue;
            if (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP ||
                errno == EBADF || errno == EPERM) {
                use_range = false;
                continue;
            }
            return fail();
        }
        char buf[65536];
        ssize_t n = ::read(in, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            return fail();
        }
        if (n == 0) return true;
        if (!write_all(out, buf, static_cast<size_t>(n))) return false;
    }
}

// Creates a fresh file beside `target` for the copy to be renamed over it.
int create_sibling(const std::string &target, std::string &name) {
    name = directory_of(target) + "/." + std::string(file_name_of(target)) + ".XXXXXX";
    if (name.size() > 4000) {
        errno = ENAMETOOLONG;
        return -1;
    }
    return ::mkostemp(name.data(), O_CLOEXEC);
}

} // namespace

bool copy_file(const std::string &from, const std::string &to, bool fail_if_exists) {
    File source;
    if (!source.open(from, kRead | kDenyWriters)) return false;
    struct stat st {};
    if (::fstat(source.fd(), &st) != 0) return fail();
    if (S_ISDIR(st.st_mode)) return fail_with(EISDIR);
    if (!S_ISREG(st.st_mode)) return fail_with(kErrorNotRegularFile);

    struct stat target_st {};
    bool target_exists = ::stat(to.c_str(), &target_st) == 0;
    if (target_exists && fail_if_exists) return fail_with(EEXIST);
    if (target_exists && target_st.st_dev == st.st_dev && target_st.st_ino == st.st_ino)
        return fail_with(EINVAL); // a file cannot be copied over itself
    if (target_exists && S_ISDIR(target_st.st_mode)) return fail_with(EISDIR);

    if (fault_due(FaultPoint::create)) return false;
    // Without replacing, the target is created exclusively under its own name;
    // otherwise under a sibling name that is renamed over the old target.
    std::string written = to;
    int fd = fail_if_exists ? open_retrying(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600)
                            : create_sibling(to, written);
    if (fd < 0) return fail();
    File target;
    target.adopt(fd, written);

    auto discard = [&] {
        uint32_t error = last_error();
        target.close();
        ::unlink(written.c_str());
        set_last_error(error);
        return false;
    };
    if (!copy_data(source.fd(), target.fd())) return discard();
    if (::fchmod(target.fd(), st.st_mode & 07777) != 0) {
        fail();
        return discard();
    }
    struct timespec times[2] = {st.st_atim, st.st_mtim};
    if (::futimens(target.fd(), times) != 0) {
        fail();
        return discard();
    }
    if (!target.close()) {
        ::unlink(written.c_str());
        return false;
    }
    if (written != to) {
        bool renamed = !fault_due(FaultPoint::rename) &&
                       (::rename(written.c_str(), to.c_str()) == 0 || fail());
        if (!renamed) {
            uint32_t error = last_error();
            ::unlink(written.c_str());
            set_last_error(error);
            return false;
        }
    }
    return true;
}

namespace {

// rename without replacing: renameat2 where the file system supports it,
// else a check before a plain rename.
bool rename_no_replace(const std::string &from, const std::string &to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    struct stat st {};
    if (::lstat(to.c_str(), &st) == 0) {
        errno = EEXIST;
        return false;
    }
    return ::rename(from.c_str(), to.c_str()) == 0;
}

} // namespace

bool move_file(const std::string &from, const std::string &to, bool replace) {
    uint32_t state = writer_lock_state(from);
    if (is_held_code(state)) return fail_with(state);
    if (state == ENOENT) return false; // last error already set
    if (fault_due(FaultPoint::rename)) return false;

    bool moved = replace ? ::rename(from.c_str(), to.c_str()) == 0 : rename_no_replace(from, to);
    if (moved) return true;
    if (errno != EXDEV) return fail();

    // Another file system: copy, then delete the source.
    struct stat st {};
    if (::stat(from.c_str(), &st) != 0) return fail();
    if (S_ISDIR(st.st_mode)) return fail_with(EXDEV);
    if (!copy_file(from, to, !replace)) return false;
    if (::unlink(from.c_str()) != 0) return fail();
    return true;
}

// ---- Directory search -------------------------------------------------------------------------

namespace {

// The next character of a file name: UTF-8 where the bytes form it, otherwise
// the byte read as Windows-1251, so both kinds of names compare by letter.
char32_t next_char(std::string_view s, size_t &i) {
    auto b = static_cast<unsigned char>(s[i]);
    if (b < 0x80) {
        ++i;
        return b;
    }
    int len = (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
    if (len > 0 && i + static_cast<size_t>(len) <= s.size()) {
        char32_t c = b & (0x7F >> len);
        bool ok = true;
        for (int k = 1; k < len; ++k) {
            auto cb = static_cast<unsigned char>(s[i + static_cast<size_t>(k)]);
            if ((cb & 0xC0) != 0x80) {
                ok = false;
                break;
            }
            c = (c << 6) | (cb & 0x3F);
        }
        static constexpr char32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
        if (ok && c >= kMin[len] && c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF)) {
            i += static_cast<size_t>(len);
            return c;
        }
    }
    ++i;
    return cp::from_cp1251(b);
}

char32_t fold_case(char32_t c) {
    if (c >= 'A' && c <= 'Z') return c + 32;
    if (c >= 0x0410 && c <= 0x042F) return c + 0x20; // А..Я
    if (c >= 0x0400 && c <= 0x040F) return c + 0x50; // Ѐ..Џ (Ё, Ў, Є, І, Ї...)
    if (c == 0x0490) return 0x0491;                   // Ґ
    if (c >= 0x00C0 && c <= 0x00DE && c != 0x00D7) return c + 0x20;
    return c;
}

std::u32string folded(std::string_view s) {
    std::u32string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) out.push_back(fold_case(next_char(s, i)));
    return out;
}

// '*' and '?' over characters, with the usual backtracking to the last star.
bool wildcard(const std::u32string &mask, const std::u32string &name) {
    size_t m = 0, n = 0, star = std::u32string::npos, resume = 0;
    while (n < name.size()) {
        if (m < mask.size() && (mask[m] == U'?' || mask[m] == name[n])) {
            ++m;
            ++n;
        } else if (m < mask.size() && mask[m] == U'*') {
            star = m++;
            resume = n;
        } else if (star != std::u32string::npos) {
            m = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (m < mask.size() && mask[m] == U'*') ++m;
    return m == mask.size();
}

bool is_dot_entry(const char *name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

} // namespace

bool mask_matches(std::string_view mask, std::string_view name) {
    if (mask.empty() || name.empty()) return false;
    if (mask == "*.*" || mask == "*") return true;
    // A mask ending in "." asks for names without an extension ("*." or "abc.").
    if (mask.size() > 1 && mask.back() == '.') {
        if (name.find('.') != std::string_view::npos) return false;
        mask.remove_suffix(1);
    }
    return wildcard(folded(mask), folded(name));
}

std::optional<std::vector<DirEntry>> find_files(const std::string &dir, std::string_view mask) {
    std::string base = dir.empty() ? std::string("./") : with_trailing_slash(dir);
    DIR *d = ::opendir(base.c_str());
    if (!d) {
        fail();
        return std::nullopt;
    }
    std::vector<DirEntry> entries;
    for (;;) {
        errno = 0;
        struct dirent *e = ::readdir(d);
        if (!e) break;
        if (is_dot_entry(e->d_name) || !mask_matches(mask, e->d_name)) continue;
        DirEntry entry;
        entry.name = e->d_name;
        struct stat st {};
        std::string full = base + e->d_name;
        if (::stat(full.c_str(), &st) == 0 || ::lstat(full.c_str(), &st) == 0) {
            entry.is_directory = S_ISDIR(st.st_mode);
            entry.size = static_cast<uint64_t>(st.st_size);
            entry.mtime = st.st_mtim.tv_sec;
            entry.mtime_nsec = static_cast<int32_t>(st.st_mtim.tv_nsec);
        } else {
            continue; // the entry went away while we listed the directory
        }
        entries.push_back(std::move(entry));
    }
    int err = errno;
    ::closedir(d);
    if (err != 0) {
        set_last_error_from_errno(err);
        return std::nullopt;
    }
    std::sort(entries.begin(), entries.end(),
              [](const DirEntry &a, const DirEntry &b) { return a.name < b.name; });
    return entries;
}

std::optional<std::vector<DirEntry>> find_files(const std::string &dir_and_mask) {
    size_t cut = dir_and_mask.find_last_of("/\\");
    if (cut == std::string::npos) return find_files(std::string("."), dir_and_mask);
    std::string dir = dir_and_mask.substr(0, cut == 0 ? 1 : cut);
    return find_files(dir, std::string_view(dir_and_mask).substr(cut + 1));
}

// ---- Files held by their writer ---------------------------------------------------------------

uint32_t writer_lock_state(const std::string &path) {
    int fd = open_retrying(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC, 0);
    if (fd < 0) return set_last_error_from_errno(errno);
    uint32_t state = probe_locks(fd, true);
    ::close(fd);
    return state;
}

uint32_t writer_lock_state(int fd) {
    // flock on the caller's own descriptor would convert the caller's lock;
    // test through a fresh open file of the same file instead.
    char proc_path[64];
    std::snprintf(proc_path, sizeof proc_path, "/proc/self/fd/%d", fd);
    int own = open_retrying(proc_path, O_RDONLY | O_NONBLOCK | O_CLOEXEC, 0);
    if (own < 0) {
        struct stat st {};
        if (::fstat(fd, &st) != 0) return set_last_error_from_errno(errno);
        return probe_locks(fd, false); // record locks can still be asked about
    }
    uint32_t state = probe_locks(own, true);
    ::close(own);
    return state;
}

bool held_by_writer(const std::string &path) {
    uint32_t state = writer_lock_state(path);
    if (!is_held_code(state)) return false;
    set_last_error(state);
    return true;
}

WriterLock::~WriterLock() { release(); }

bool WriterLock::lock(int fd, Kind kind, bool wait) {
    release();
    int r;
    if (kind == Kind::flock) {
        do {
            r = ::flock(fd, LOCK_EX | (wait ? 0 : LOCK_NB));
        } while (r != 0 && errno == EINTR);
    } else {
        struct flock fl {};
        fl.l_type = F_WRLCK;
        fl.l_whence = SEEK_SET;
        do {
            r = ::fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &fl);
        } while (r != 0 && errno == EINTR);
        if (r != 0 && errno == EAGAIN) errno = EWOULDBLOCK;
    }
    if (r != 0) return fail();
    fd_ = fd;
    kind_ = kind;
    return true;
}

void WriterLock::release() {
    if (fd_ < 0) return;
    if (kind_ == Kind::flock) {
        ::flock(fd_, LOCK_UN);
    } else {
        struct flock fl {};
        fl.l_type = F_UNLCK;
        fl.l_whence = SEEK_SET;
        ::fcntl(fd_, F_OFD_SETLK, &fl);
    }
    fd_ = -1;
}

// ---- Time -------------------------------------------------------------------------------------

uint64_t tick_count64() {
    struct timespec ts {};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

uint32_t tick_count() { return static_cast<uint32_t>(tick_count64()); }

} // namespace tarmin::platform

#include "smime/workfile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cstdint>
#include <vector>

#include "common/codepage.h"
#include "smime/hooks.h"
#include "smime/report.h"

namespace tarmin::smime {

Hooks &hooks() {
    static Hooks h;
    return h;
}

std::time_t current_time() { return hooks().now ? hooks().now() : std::time(nullptr); }

void pause_before_retry() {
    unsigned ms = hooks().retry_delay_ms;
    if (ms) usleep(ms * 1000u);
}

std::string temp_directory() {
    for (const char *name : {"TMP", "TEMP", "TMPDIR"}) {
        const char *v = std::getenv(name);
        if (v && *v) {
            std::string dir = v;
            if (dir.back() != '/') dir += '/';
            return dir;
        }
    }
    return "/tmp/";
}

std::string fs_path(std::string_view path_1251) {
    std::string out = cp::cp1251_to_utf8(path_1251);
    for (char &c : out)
        if (c == '\\') c = '/';
    return out;
}

namespace {

uint32_t thread_id() { return static_cast<uint32_t>(::syscall(SYS_gettid)); }

std::string hex8(uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%08X", v);
    return buf;
}

// The name of one attempt: with a random value from the crypto library, else
// with one of the C generator, else the fixed last resort.
std::string temp_name(const std::string &dir, const char *prefix, CapiContext *crypto, int attempt) {
    uint32_t random = 0;
    if (crypto && CCA_get_random(crypto, sizeof random, &random) == 0)
        return dir + prefix + hex8(thread_id()) + hex8(random) + ".TMP";
    if (attempt < 5) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%04X", static_cast<unsigned>(std::rand()) & 0xFFFFu);
        return dir + prefix + buf + ".TMP";
    }
    return dir + prefix + "0000.TMP";
}

bool write_all(int fd, const char *data, size_t length) {
    while (length > 0) {
        ssize_t n = ::write(fd, data, length);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) {
            errno = ENOSPC;
            return false;
        }
        data += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

} // namespace

bool WorkFile::create(const char *prefix, const char *caller, CapiContext *crypto) {
    release();
    const std::string dir = temp_directory();
    constexpr int kAttempts = 6;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (attempt > 0) pause_before_retry();
        std::string name = temp_name(dir, prefix, crypto, attempt);
        int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) {
            ::unlink(name.c_str()); // gone from the directory: only this process holds it
            fd_ = fd;
            name_ = std::move(name);
            written_ = 0;
            return true;
        }
        report_system_error(errno);
        report(kCreateFile, name.c_str());
    }
    trace("create_tempfile", caller);
    return false;
}

bool WorkFile::write(std::string_view bytes) {
    if (fd_ < 0 || !write_all(fd_, bytes.data(), bytes.size())) {
        if (fd_ >= 0) report_system_error(errno);
        report(kWriteTemp);
        return false;
    }
    written_ += bytes.size();
    return true;
}

namespace {

// Reads size bytes from the start of fd into buffer; false with the error
// reported.
bool read_whole(int fd, char *buffer, size_t size) {
    size_t done = 0;
    while (done < size) {
        ssize_t n = ::pread(fd, buffer + done, size - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            report_system_error(n < 0 ? errno : EIO);
            report(kReadTemp);
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

} // namespace

bool WorkFile::file_size(size_t &size) {
    struct stat sb {};
    if (fd_ < 0 || ::fstat(fd_, &sb) != 0 || static_cast<uint64_t>(sb.st_size) > UINT32_MAX - 16 - pending_.size()) {
        report_system_error(fd_ < 0 ? EBADF : errno ? errno : EFBIG);
        report(kTempSize);
        return false;
    }
    size = static_cast<size_t>(sb.st_size);
    return true;
}

bool WorkFile::size(size_t &out) { return file_size(out); }

bool WorkFile::read_into(char *dest, size_t size) { return read_whole(fd_, dest, size); }

bool WorkFile::map(std::string_view &view) {
    view = {};
    unmap();
    size_t size = 0;
    if (!file_size(size)) return false;
    if (size == 0) return true;
    void *p = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, fd_, 0);
    if (p == MAP_FAILED) {
        report_system_error(errno);
        report(kReadTemp);
        return false;
    }
    map_ = p;
    map_size_ = size;
    view = std::string_view(static_cast<const char *>(p), size);
    return true;
}

void WorkFile::unmap() {
    if (map_) ::munmap(map_, map_size_);
    map_ = nullptr;
    map_size_ = 0;
}

bool WorkFile::read_back(std::string &out) {
    out.clear();
    size_t size = 0;
    if (!file_size(size)) return false;
    out.reserve(size + pending_.size());
    out.resize(size);
    if (!read_whole(fd_, out.data(), size)) {
        out.clear();
        return false;
    }
    out += pending_;
    return true;
}

bool WorkFile::read_back(unsigned char *&data, uint32_t &length) {
    data = nullptr;
    length = 0;
    size_t size = 0;
    if (!file_size(size)) return false;
    auto *buffer = static_cast<unsigned char *>(std::malloc(size + pending_.size() + 8));
    if (!buffer) {
        report(kNoMemory);
        return false;
    }
    if (!read_whole(fd_, reinterpret_cast<char *>(buffer), size)) {
        std::free(buffer);
        return false;
    }
    std::memcpy(buffer + size, pending_.data(), pending_.size());
    std::memset(buffer + size + pending_.size(), 0, 8);
    data = buffer;
    length = static_cast<uint32_t>(size + pending_.size());
    return true;
}

bool WorkFile::zero_and_close() {
    unmap();
    // Zero the contents before letting go: the file held message data.
    static const std::vector<char> zeros(64 * 1024, 0);
    bool ok = true;
    uint64_t left = written_;
    struct stat sb {};
    if (::fstat(fd_, &sb) == 0) left = static_cast<uint64_t>(sb.st_size);
    if (::lseek(fd_, 0, SEEK_SET) != 0) ok = false;
    while (ok && left > 0) {
        size_t n = left < zeros.size() ? static_cast<size_t>(left) : zeros.size();
        ok = write_all(fd_, zeros.data(), n);
        left -= n;
    }
    if (::close(fd_) != 0) ok = false;
    fd_ = -1;
    name_.clear();
    written_ = 0;
    return ok;
}

bool WorkFile::close() {
    pending_.clear();
    if (fd_ < 0) return true;
    if (zero_and_close()) return true;
    report_system_error(errno);
    report(kCloseTemp);
    return false;
}

void WorkFile::release() {
    pending_.clear();
    if (fd_ >= 0) zero_and_close();
}

bool write_to_file(const std::string &path, std::string_view bytes) {
    const std::string name = fs_path(path);
    constexpr int kAttempts = 4;
    int fd = -1;
    for (int attempt = 0; attempt < kAttempts && fd < 0; ++attempt) {
        if (attempt > 0) pause_before_retry();
        fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_DSYNC, 0600);
        if (fd < 0) {
            report_system_error(errno);
            report(kCreateFile, path.c_str());
        }
    }
    if (fd < 0) return false;
    if (!write_all(fd, bytes.data(), bytes.size())) {
        report_system_error(errno);
        report(kWriteFile, path.c_str());
        ::close(fd);
        ::unlink(name.c_str()); // no partial copy that looks complete
        return false;
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        report_system_error(errno);
        report(kCloseFile, path.c_str());
        ::unlink(name.c_str());
        return false;
    }
    return true;
}

} // namespace tarmin::smime

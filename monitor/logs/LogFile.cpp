#include "monitor/logs/LogFile.h"

#include "platform/files.h"
#include "platform/lasterror.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarmin::monitor::detail {

namespace {

// Reading buffer of a file being read, and the smaller one used to look at
// the first lines of a file when it is queued.
constexpr std::size_t kInitialBuffer = 64 * 1024;
constexpr std::size_t kProbeBuffer = 4 * 1024;
// Bytes after a line fetched into the cache when the line is found.
constexpr std::size_t kPrefetch = 256;

std::string_view withoutLineEnd(std::string_view s) {
    if (!s.empty() && s.back() == '\n') s.remove_suffix(1);
    if (!s.empty() && s.back() == '\r') s.remove_suffix(1);
    return s;
}

// Gives a new buffer its pages in one step rather than one page fault at a
// time as pread fills it (files read side by side each have a buffer).
void populate(char *p, std::size_t size) {
#if defined(MADV_POPULATE_WRITE)
    const uintptr_t page = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
    uintptr_t from = (reinterpret_cast<uintptr_t>(p) + page - 1) & ~(page - 1);
    uintptr_t to = (reinterpret_cast<uintptr_t>(p) + size) & ~(page - 1);
    if (to > from) ::madvise(reinterpret_cast<void *>(from), to - from, MADV_POPULATE_WRITE);
#else
    (void)p;
    (void)size;
#endif
}

// Opens a log file for reading without waiting: a pipe or device under a
// log's name (the log directory may be shared) would block the open or the
// reads. Only a regular file is kept; st receives its status.
int openRegularFile(const std::string &path, struct stat &st) {
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    return fd;
}

} // namespace

StreamHash::StreamHash() {
    static const uint64_t seed = [] {
        std::random_device device;
        return (static_cast<uint64_t>(device()) << 32) ^ device();
    }();
    m_h = seed;
}

void StreamHash::update(const char *data, std::size_t length) {
    m_length += length;
    while (m_tailLength != 0 && length != 0) {
        m_tail |= static_cast<uint64_t>(static_cast<unsigned char>(*data++)) << (8 * m_tailLength);
        --length;
        if (++m_tailLength == 8) {
            mix(m_tail);
            m_tail = 0;
            m_tailLength = 0;
        }
    }
    for (; length >= 8; data += 8, length -= 8) {
        uint64_t word;
        std::memcpy(&word, data, 8);
        mix(word);
    }
    for (; length != 0; --length)
        m_tail |= static_cast<uint64_t>(static_cast<unsigned char>(*data++)) << (8 * m_tailLength++);
}

uint64_t StreamHash::value() const {
    StreamHash end = *this;
    end.mix(m_tail ^ (static_cast<uint64_t>(m_tailLength) << 61));
    end.mix(m_length);
    return end.m_h;
}

uint64_t hashBytes(std::string_view bytes) {
    // FNV-1a, 64 bits.
    uint64_t h = 0xcbf29ce484222325ull;
    for (unsigned char c : bytes) {
        h ^= c;
        h *= 0x100000001b3ull;
    }
    return h;
}

LogFile::LogFile(std::string path) : m_path(std::move(path)), m_firstBuffer(kInitialBuffer) {}

LogFile::~LogFile() { close(); }

void LogFile::dropBuffer() {
    m_buf.reset();
    m_bufCap = 0;
    m_bufOff = 0;
    m_bufLen = 0;
    m_scanned = 0;
    m_peekPos = kNoPeek;
}

void LogFile::close() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
    dropBuffer();
}

bool LogFile::reopen() {
    if (m_fd >= 0) return true;
    struct stat st {};
    int fd = openRegularFile(m_path, st);
    if (fd < 0) return false;
    if (st.st_dev != m_dev || st.st_ino != m_ino) {
        ::close(fd);
        errno = ENOENT; // the path names another file now
        return false;
    }
    m_fd = fd;
    return true;
}

bool LogFile::limitBuffer(std::size_t size) {
    m_firstBuffer = size;
    if (m_bufCap <= size) return false;
    if (m_pos < m_bufOff || m_pos > m_bufOff + m_bufLen) {
        dropBuffer();
        return true;
    }
    const std::size_t start = static_cast<std::size_t>(m_pos - m_bufOff);
    const std::size_t unread = m_bufLen - start;
    if (unread > size) return false;
    auto smaller = std::make_unique_for_overwrite<char[]>(size);
    if (unread) std::memcpy(smaller.get(), m_buf.get() + start, unread);
    m_buf = std::move(smaller);
    m_bufCap = size;
    m_bufOff = m_pos;
    m_bufLen = unread;
    return true;
}

bool LogFile::fill(std::size_t limit) {
    if (m_fd < 0) return false;
    std::size_t start = static_cast<std::size_t>(m_pos - m_bufOff);
    std::size_t avail = m_bufLen - start;
    if (start > 0) {
        // Keep only the unread bytes, at the front.
        std::memmove(m_buf.get(), m_buf.get() + start, avail);
        m_bufOff = m_pos;
        m_bufLen = avail;
    }
    if (m_bufLen == m_bufCap) {
        std::size_t cap = std::max(m_firstBuffer, m_bufCap * 2);
        cap = std::min(cap, std::max(m_firstBuffer, limit));
        if (cap <= m_bufCap) return false;
        // Not zeroed: every byte is written by pread before it is looked at.
        auto grown = std::make_unique_for_overwrite<char[]>(cap);
        populate(grown.get(), cap);
        if (m_bufLen) std::memcpy(grown.get(), m_buf.get(), m_bufLen);
        m_buf = std::move(grown);
        m_bufCap = cap;
    }
    for (;;) {
        ssize_t n = ::pread(m_fd, m_buf.get() + m_bufLen, m_bufCap - m_bufLen,
                            static_cast<off_t>(m_bufOff + m_bufLen));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        m_bufLen += static_cast<std::size_t>(n);
        return true;
    }
}

bool LogFile::findChunk(std::size_t limit, std::string_view &chunk, ChunkEnd &how) {
    if (m_fd < 0 || limit == 0) return false;
    if (m_headPending) {
        m_headPending = false;
        FileKey oldKey = m_key;
        if (!m_conv || readHead(*m_conv, nullptr) != ProbeResult::Ok) {
            m_key = oldKey;
            m_pos = 0;
            m_headPending = true;
            return false;
        }
    }
    if (m_pos < m_bufOff || m_pos > m_bufOff + m_bufLen) {
        m_bufOff = m_pos;
        m_bufLen = 0;
        m_scanned = 0;
    }
    for (;;) {
        std::size_t start = static_cast<std::size_t>(m_pos - m_bufOff);
        std::size_t avail = m_bufLen - start;
        // One byte past the limit is looked at: a line ending in CR LF counts
        // its line end as the one character it is handed out as, so it fits
        // the limit when its line feed lies just past it (as a text-mode
        // reader takes it).
        std::size_t window = std::min(avail, limit + 1);
        const char *base = m_buf.get() + start;
        if (m_scanned < window) {
            const void *nl = std::memchr(base + m_scanned, '\n', window - m_scanned);
            const std::size_t length = nl ? static_cast<std::size_t>(static_cast<const char *>(nl) - base) + 1 : 0;
            if (nl && (length <= limit || base[length - 2] == '\r')) {
                // The next line is looked at later, after lines of other files
                // when files take turns: its bytes are fetched meanwhile.
                const char *next = static_cast<const char *>(nl) + 1;
                const char *end = std::min<const char *>(m_buf.get() + m_bufLen, next + kPrefetch);
                for (const char *p = next; p < end; p += 64) __builtin_prefetch(p);
                chunk = std::string_view(base, length);
                how = ChunkEnd::LineFeed;
                remember(chunk.size(), limit, how);
                return true;
            }
            if (!nl) m_scanned = window;
        }
        if (avail > limit) {
            chunk = std::string_view(base, limit);
            how = ChunkEnd::Limit;
            remember(chunk.size(), limit, how);
            return true;
        }
        if (!fill(limit + 1)) {
            start = static_cast<std::size_t>(m_pos - m_bufOff);
            avail = m_bufLen - start;
            if (avail == 0) return false;
            chunk = std::string_view(m_buf.get() + start, avail);
            how = ChunkEnd::EndOfFile;
            return true;
        }
    }
}

void LogFile::remember(std::size_t length, std::size_t limit, ChunkEnd how) {
    m_peekPos = m_pos;
    m_peekLen = length;
    m_peekLimit = limit;
    m_peekHow = how;
    m_peekTimeKnown = false;
}

ProbeResult LogFile::readHead(LocalTimeConverter &conv, std::string *firstRecord) {
    m_peekPos = kNoPeek;
    m_pos = 0;
    m_consumed = StreamHash();
    m_consumedKnown = true;
    m_scanned = 0;
    m_lineStart = true;
    std::string_view chunk;
    ChunkEnd how;
    if (!peekChunk(kMaxProbeLine, chunk, how)) return ProbeResult::Empty;

    LineDateTime v;
    uint64_t dataStart = 0;
    if (!parseLineDateTime(chunk, v)) {
        // A header line: the first record is the next line.
        if (how != ChunkEnd::LineFeed) return ProbeResult::NoRecord;
        dataStart = chunk.size();
        consume(chunk.size(), how);
        if (!peekChunk(kMaxProbeLine, chunk, how) || !parseLineDateTime(chunk, v)) {
            m_pos = 0;
            return ProbeResult::NoRecord;
        }
    }
    // A first record still being written is taken once it is complete.
    if (how == ChunkEnd::EndOfFile && writerHoldsLock()) {
        m_pos = 0;
        return ProbeResult::NoRecord;
    }
    std::string_view record = withoutLineEnd(chunk);
    if (firstRecord) firstRecord->assign(record);
    m_key = FileKey{conv.toTime(v), hashBytes(record)};
    m_dataStart = dataStart;
    m_pos = dataStart;
    m_scanned = 0;
    m_lineStart = true;
    return ProbeResult::Ok;
}

ProbeResult LogFile::probe(LocalTimeConverter &conv, std::string *firstRecord) {
    m_conv = &conv;
    close();
    struct stat st {};
    int fd = openRegularFile(m_path, st);
    if (fd < 0) return ProbeResult::CannotOpen;
    m_fd = fd;
    m_dev = st.st_dev;
    m_ino = st.st_ino;
    m_headPending = false;
    // The file waits in the queue after this look: only a small buffer is
    // needed, and none is kept.
    m_firstBuffer = kProbeBuffer;
    ProbeResult r = readHead(conv, firstRecord);
    m_firstBuffer = kInitialBuffer;
    dropBuffer();
    return r;
}

bool LogFile::timeAtPosition(LocalTimeConverter &conv, std::time_t &out) {
    std::string_view chunk;
    ChunkEnd how;
    return m_lineStart && peekChunk(64, chunk, how) && conv.lineTime(chunk, out);
}

// A writer that holds an advisory lock on the file is still writing it.
bool LogFile::writerHoldsLock() const {
    return m_fd >= 0 && platform::is_held_by_writer_error(platform::writer_lock_state(m_fd));
}

bool LogFile::handleTruncation(LocalTimeConverter &conv) {
    if (m_fd < 0) return false;
    struct stat st {};
    if (::fstat(m_fd, &st) != 0 || static_cast<uint64_t>(st.st_size) >= m_pos) return false;

    FileKey oldKey = m_key;
    uint64_t oldDataStart = m_dataStart;
    dropBuffer();
    ProbeResult r = readHead(conv, nullptr);
    if (r == ProbeResult::Ok && m_key == oldKey && m_dataStart == oldDataStart) {
        // The writer cut off the tail of the same content: what it writes next
        // starts at the new end (whose bytes up to there were not all read).
        m_pos = static_cast<uint64_t>(st.st_size);
        m_consumedKnown = false;
    } else if (r != ProbeResult::Ok) {
        // Emptied (or only a header so far): the new records follow a header
        // that is read once it is there.
        m_key = oldKey;
        m_pos = 0;
        m_headPending = true;
    }
    // Otherwise new content: reading starts at its first record (set by readHead).
    m_scanned = 0;
    m_lineStart = true;
    return true;
}

void LogFile::restartFrom(LogFile &probed) {
    m_consumed = probed.m_consumed;
    m_consumedKnown = probed.m_consumedKnown;
    m_key = probed.m_key;
    m_dataStart = probed.m_dataStart;
    m_pos = m_dataStart;
    m_lineStart = true;
    m_headPending = false;
    m_scanned = 0;
    dropBuffer();
}

namespace {

constexpr std::size_t kCompareBlock = 64 * 1024;

bool readAt(int fd, char *buffer, std::size_t length, uint64_t offset) {
    while (length != 0) {
        ssize_t n = ::pread(fd, buffer, length, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        buffer += n;
        length -= static_cast<std::size_t>(n);
        offset += static_cast<uint64_t>(n);
    }
    return true;
}

} // namespace

bool LogFile::currentSize(uint64_t &out) const {
    struct stat st {};
    if (m_fd < 0 || ::fstat(m_fd, &st) != 0) return false;
    out = static_cast<uint64_t>(st.st_size);
    return true;
}

bool LogFile::prefixHash(uint64_t length, uint64_t &out) const {
    uint64_t size = 0;
    if (!currentSize(size) || size < length) return false;
    auto block = std::make_unique_for_overwrite<char[]>(kCompareBlock);
    StreamHash hash;
    for (uint64_t at = 0; at < length;) {
        const std::size_t n = static_cast<std::size_t>(std::min<uint64_t>(kCompareBlock, length - at));
        if (!readAt(m_fd, block.get(), n, at)) return false;
        hash.update(block.get(), n);
        at += n;
    }
    out = hash.value();
    return true;
}

bool LogFile::samePrefix(const LogFile &other, uint64_t length) const {
    if (m_fd < 0 || other.m_fd < 0) return false;
    auto mine = std::make_unique_for_overwrite<char[]>(kCompareBlock);
    auto theirs = std::make_unique_for_overwrite<char[]>(kCompareBlock);
    for (uint64_t at = 0; at < length;) {
        const std::size_t n = static_cast<std::size_t>(std::min<uint64_t>(kCompareBlock, length - at));
        if (!readAt(m_fd, mine.get(), n, at) || !readAt(other.m_fd, theirs.get(), n, at) ||
            std::memcmp(mine.get(), theirs.get(), n) != 0)
            return false;
        at += n;
    }
    return true;
}

void LogFile::continueAt(const FileKey &key, uint64_t dataStart, uint64_t position, const StreamHash &consumed,
                         bool lineStart) {
    m_key = key;
    m_dataStart = dataStart;
    m_pos = position;
    m_consumed = consumed;
    m_consumedKnown = true;
    m_lineStart = lineStart;
    m_headPending = false;
    m_scanned = 0;
    dropBuffer();
}

} // namespace tarmin::monitor::detail

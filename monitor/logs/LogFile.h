// One gateway log file as the file set reads it (internal to monitor/logs).
//
// A LogFile knows where its records start (after the header line, when the
// file has one), how far it has been read and which content it holds (the
// time and a hash of its first record). It reads through its own buffer with
// pread, so that the read position is a plain byte offset: a descriptor can
// be closed while the file waits in the queue and opened again later without
// losing the place.
#pragma once

#include "monitor/logs/LineTime.h"

#include <cstdint>
#include <ctime>
#include <list>
#include <memory>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace tarmin::monitor::detail {

// What identifies the content of a log file: its first record's time and a
// hash of the first record line. A file found again under another name has
// the same key; a file with the same key is a copy only when its bytes match
// (vfiles).
struct FileKey {
    std::time_t firstTime = 0;
    uint64_t hash = 0;
    bool operator==(const FileKey &) const = default;
};
struct FileKeyHash {
    std::size_t operator()(const FileKey &k) const noexcept {
        return static_cast<std::size_t>(k.hash ^ (static_cast<uint64_t>(k.firstTime) * 0x9E3779B97F4A7C15ull));
    }
};

// How a chunk of the file ends.
enum class ChunkEnd {
    LineFeed,  // the chunk is a line with its line feed
    Limit,     // the line is longer than the limit; the chunk is its next piece
               // (a line ending in CR LF fits when its length less one does)
    EndOfFile, // the bytes left before the end of the file, without a line feed
};

// What a first look at a file found.
enum class ProbeResult { Ok, CannotOpen, Empty, NoRecord };

// Longest line handed out whole; longer lines come out in pieces of this size.
inline constexpr std::size_t kMaxWholeLine = 64u << 20;
// Longest header or first record looked at when a file is queued.
inline constexpr std::size_t kMaxProbeLine = 1u << 20;

// A hash of a byte stream that does not depend on how the stream is cut into
// pieces: the bytes a file has handed out, compared with the first bytes of
// another file. Seeded once per process, so that a file cannot be made to
// match another's bytes without holding them.
class StreamHash {
public:
    StreamHash();
    void update(const char *data, std::size_t length);
    // The hash of the bytes so far (the stream may go on).
    uint64_t value() const;
    uint64_t length() const { return m_length; }

private:
    void mix(uint64_t word) {
        m_h = (m_h ^ (word * 0x9E3779B97F4A7C15ull));
        m_h = ((m_h << 31) | (m_h >> 33)) * 0xBF58476D1CE4E5B9ull;
    }
    uint64_t m_h;
    uint64_t m_length = 0;
    uint64_t m_tail = 0;
    unsigned m_tailLength = 0;
};

class LogFile {
public:
    explicit LogFile(std::string path);
    ~LogFile();
    LogFile(const LogFile &) = delete;
    LogFile &operator=(const LogFile &) = delete;

    const std::string &path() const { return m_path; }
    void setPath(std::string path) { m_path = std::move(path); }

    // Opens the file and reads its first lines: the header (unless the first
    // line is already a record) and the first record. On success the read
    // position is the first record and the key is set. `firstRecord` receives
    // the first record line (for tracing). The descriptor stays open.
    ProbeResult probe(LocalTimeConverter &conv, std::string *firstRecord = nullptr);

    // The next chunk from the read position, at most `limit` bytes, without
    // consuming it. False when no byte is available now (end of file, or a
    // read error). The view stays valid until the next call on this file.
    bool peekChunk(std::size_t limit, std::string_view &chunk, ChunkEnd &how) {
        // A file that waits its turn in the merge is looked at again at the
        // same position: the chunk found then is still in the buffer.
        if (m_peekPos == m_pos && m_peekLimit == limit && !m_headPending && m_pos >= m_bufOff &&
            m_pos + m_peekLen <= m_bufOff + m_bufLen) {
            chunk = std::string_view(m_buf.get() + (m_pos - m_bufOff), m_peekLen);
            how = m_peekHow;
            return true;
        }
        return findChunk(limit, chunk, how);
    }
    // The time at the start of the chunk that peekChunk returned last (read
    // once per line, however often the line is looked at). False when the
    // chunk has no date.
    bool chunkTime(LocalTimeConverter &conv, std::string_view chunk, std::time_t &out) {
        if (m_peekPos != m_pos || m_peekLen != chunk.size()) return conv.lineTime(chunk, out);
        if (!m_peekTimeKnown) {
            m_peekHasTime = conv.lineTime(chunk, m_peekTime);
            m_peekTimeKnown = true;
        }
        out = m_peekTime;
        return m_peekHasTime;
    }
    // Consumes a chunk returned by peekChunk.
    void consume(std::size_t length, ChunkEnd how) {
        m_consumed.update(m_buf.get() + (m_pos - m_bufOff), length);
        m_pos += length;
        m_scanned = 0;
        m_lineStart = how != ChunkEnd::Limit;
    }

    // Whether the read position is at the start of a line (not in the middle
    // of a long line handed out in pieces).
    bool atLineStart() const { return m_lineStart; }
    uint64_t position() const { return m_pos; }
    uint64_t dataStart() const { return m_dataStart; }
    const FileKey &key() const { return m_key; }

    // Reads the time at the read position (for a file queued again for lines
    // appended after it had been read to its end). False when the line there
    // has no date.
    bool timeAtPosition(LocalTimeConverter &conv, std::time_t &out);

    // Whether the writer holds an advisory lock on the file (it is still
    // writing it).
    bool writerHoldsLock() const;

    // At the end of the data: when the file has become shorter than the read
    // position (the writer truncated it), moves the read position to where
    // new data will come and returns true.
    bool handleTruncation(LocalTimeConverter &conv);
    // Takes over the content found by probing another open of the same file
    // (the writer rewrote it in place): reading restarts at its first record.
    void restartFrom(LogFile &probed);

    // The bytes handed out so far: a hash of the file's bytes from its start
    // to the read position. Unknown once the writer cut the file back to a
    // point before the read position.
    bool consumedKnown() const { return m_consumedKnown && m_consumed.length() == m_pos; }
    const StreamHash &consumed() const { return m_consumed; }
    // The hash of the file's first `length` bytes as they are now (read
    // through the open descriptor); false when the file is shorter.
    bool prefixHash(uint64_t length, uint64_t &out) const;
    // Whether the first `length` bytes of both open files are equal.
    bool samePrefix(const LogFile &other, uint64_t length) const;
    // The size of the open file now; false when it cannot be told.
    bool currentSize(uint64_t &out) const;
    // Reads on from where another file with the same content stopped: this
    // file is a copy of it holding what it no longer has.
    void continueAt(const FileKey &key, uint64_t dataStart, uint64_t position, const StreamHash &consumed,
                    bool lineStart);

    // Keeps the reading buffer at most `size` bytes while the file waits in
    // the queue (the bytes not read yet are kept; a buffer holding more of
    // them stays as it is) and makes it the size of the next buffer. True
    // when the buffer was replaced (views into it are gone).
    bool limitBuffer(std::size_t size);
    std::size_t bufferCapacity() const { return m_bufCap; }

    // Descriptor handling.
    bool isOpen() const { return m_fd >= 0; }
    // Opens the file again by its path; false when it is gone or the path now
    // names another file.
    bool reopen();
    // Closes the descriptor and drops the buffer; the read position is kept.
    void close();
    dev_t device() const { return m_dev; }
    ino_t inode() const { return m_ino; }

    // Bookkeeping of the file set.
    unsigned refs = 0;        // entries referring to the file
    bool done = false;        // read to its end and no longer queued
    bool restOfContentTaken = false; // a copy reads on from where this file was cut back
    std::list<LogFile *>::iterator lruPos{};
    bool inLru = false;

private:
    // Reads the header (unless the first line is already a record) and the
    // first record through the open descriptor.
    ProbeResult readHead(LocalTimeConverter &conv, std::string *firstRecord);
    bool findChunk(std::size_t limit, std::string_view &chunk, ChunkEnd &how);
    bool fill(std::size_t limit);
    void dropBuffer();
    void remember(std::size_t length, std::size_t limit, ChunkEnd how);

    std::string m_path;
    int m_fd = -1;
    dev_t m_dev = 0;
    ino_t m_ino = 0;
    uint64_t m_dataStart = 0;
    uint64_t m_pos = 0;
    bool m_lineStart = true;
    // Set when the file was emptied: the records start after a header that
    // has not been read yet.
    bool m_headPending = false;
    FileKey m_key;
    StreamHash m_consumed;
    bool m_consumedKnown = true;
    LocalTimeConverter *m_conv = nullptr;

    std::unique_ptr<char[]> m_buf;
    std::size_t m_bufCap = 0;
    uint64_t m_bufOff = 0;   // file offset of m_buf[0]
    std::size_t m_bufLen = 0;
    std::size_t m_scanned = 0; // bytes after m_pos already searched for a line feed
    std::size_t m_firstBuffer;  // size of the buffer when it is first needed

    // The last chunk looked at: a file that waits its turn in the merge is
    // looked at again at the same position, without searching or parsing again.
    static constexpr uint64_t kNoPeek = ~0ull;
    uint64_t m_peekPos = kNoPeek;
    std::size_t m_peekLen = 0;
    std::size_t m_peekLimit = 0;
    ChunkEnd m_peekHow = ChunkEnd::LineFeed;
    bool m_peekTimeKnown = false;
    bool m_peekHasTime = false;
    std::time_t m_peekTime = 0;
};

uint64_t hashBytes(std::string_view bytes);

} // namespace tarmin::monitor::detail

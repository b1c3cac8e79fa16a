// vfiles: the set of files of one gateway log family, read as one stream of
// lines in time order.
//
// The gateway writes each log kind as a family of comma-separated files in
// one directory ("tarmin-gw*.csv", "tmnrecv*.csv", "tmnsent*.csv"), starting a
// new file from time to time. A vfiles queues the files of one family by the
// time of their first record and hands out their lines merged in time order:
// a file whose next line is later than the next queued file is queued again
// at that line's time. The first line of a file is a header and is never
// handed out (a file whose first line already is a record has no header).
//
// Reading continues where it stopped: a later load() queues the files created
// since, and a later fgets() returns the lines appended since, also to files
// that had been read to their end. No line is handed out twice and none is
// skipped: a file that is found again under another name is not queued again,
// nor is a copy of a file (its bytes match the file's as far as both go; a
// file that merely starts with the same record is read), a copy made just
// before its file was truncated (copy-and-truncate rotation) is read on from
// where the file had been read, a file truncated or rewritten by its writer is
// followed, and a line that its writer is still writing (the writer holds an
// advisory lock on the file and the line has no line feed yet) is handed out
// once it is complete.
//
// Typical use (one set per reader; the monitor has five):
//   vfiles set;                               // room for 1000 entries
//   set.clear();                               // full reload ...
//   set.load(dir, "tmnsent", days);            // ... or just load for a refresh
//   std::string_view line;
//   while (set.readLine(line)) { ...parse a record from line... }
//
// Memory: a file waiting its turn while files take turns line by line keeps
// a reading buffer of its share of 16 MiB (4 to 64 KiB), so thousands of
// files whose lines interleave do not each hold a full buffer.
//
// Descriptors: files not being read are closed when open descriptors run
// short (the budget is an eighth of the soft limit, see descriptorBudget())
// and opened again by name when their turn comes; files read to their end are
// always closed. Families of thousands of files thus work under a limit of
// 1,024 descriptors. A file removed while it is open is still read to its
// end.
//
// Diagnostics (DiagLog): level 8 traces "vfiles::load", "vfiles::insert",
// "vfiles::fgets", "vfiles::clear" and "CheckNdays"; level 1 writes file names,
// first records, reference counts and the reading index.
//
// A vfiles is used by one thread at a time.
#pragma once

#include "monitor/logs/LineTime.h"

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <list>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

struct stat;

namespace tarmin::monitor {

namespace detail {
class LogFile;
struct FileKey;
struct FileKeyHash;
} // namespace detail

// Raises the soft limit of open descriptors to the hard limit (done once by
// the first vfiles; the program may call it at start). Returns the soft limit
// now in force.
std::size_t raiseDescriptorLimit();

class vfiles {
public:
    explicit vfiles(std::size_t initialEntries = 1000);
    ~vfiles();
    vfiles(const vfiles &) = delete;
    vfiles &operator=(const vfiles &) = delete;

    // Queues every file "<directory><prefix>*.csv" (the mask compares without
    // regard to case) that passes the age check and is not queued yet, in
    // name order. `directory` is Windows-1251 text as the settings hold it
    // (turned into a file-system path here) and ends in "/" (one is added
    // otherwise). Only
    // regular files are taken, opened without waiting: a pipe or device under
    // a log's name is passed over. Returns -1 when no file matches the
    // pattern, otherwise 0.
    int load(const char *directory, const char *prefix, unsigned days);
    // Queues one file by the time of its first record. Returns 0 when the file
    // is readable (queued now, or already queued), -1 when it cannot be used
    // (cannot be opened, not a regular file, empty, only a header, first
    // record without a date).
    int insert(const char *directory, const char *fileName);
    int insert(const std::string &path);

    // The next line of the merged stream into buffer (at most size - 1
    // characters and a terminator), as the C library's fgets: a line longer
    // than the buffer comes in pieces, the line feed is kept. nullptr when
    // every line available now has been read. "\r\n" is returned as "\n".
    char *fgets(char *buffer, int size);
    // The next whole line (line feed kept when present). The view stays valid
    // until the next call on this set. Lines over 64 MiB come in pieces; every
    // piece after the first is marked (continuesLine()) and is no record of
    // its own, whatever it looks like.
    bool readLine(std::string_view &line);
    // Whether the last piece handed out continues a line begun in an earlier
    // piece (a reader of records passes such pieces over).
    bool continuesLine() const { return m_continuation; }
    // The same into a string.
    bool getline(std::string &line);

    // Releases every entry and file; the next load starts from scratch.
    void clear();

    // The age check: 0 days accepts every file; otherwise a file is accepted
    // when now minus its last write time is at most days x 86400 seconds.
    static bool CheckNdays(std::time_t lastWrite, unsigned days, std::time_t now = std::time(nullptr));

    // Set when the last queued file has been read to its end; cleared when
    // further lines or files come.
    bool atEnd() const { return m_end; }

    // Inspection, for tests and diagnostics.
    std::size_t entryCount() const { return m_count; }
    std::size_t fileCount() const { return m_files.size(); }
    std::size_t openDescriptors() const { return m_openCount; }
    std::size_t descriptorBudget() const { return m_budget; }
    // Sets the descriptor budget (tests; at least 2).
    void setDescriptorBudget(std::size_t budget);

private:
    // An entry of the queue: a file position, queued at the time of the first
    // record not yet read from it. The file counts the entries that refer to
    // it (queue() adds one, passing the entry or clear() removes it).
    struct Entry {
        std::time_t m_tCreationTime;
        detail::LogFile *m_fhFile;
        // Where the line at that time was in the file's buffer when the
        // entry was made (for fetching it into the cache ahead; may be stale).
        const char *m_line;
    };

    // What the last look at a path found, to skip files that did not change.
    struct PathState;

    bool nextChunk(std::size_t limit, std::string_view &chunk, bool &lineFeed);
    Entry &entry(std::size_t i) { return m_ring[(m_head + i) & m_mask]; }
    const Entry &entry(std::size_t i) const { return m_ring[(m_head + i) & m_mask]; }
    std::size_t insertionFloor() const;
    std::size_t waitingBufferShare() const;
    void queue(std::time_t time, detail::LogFile *file, std::size_t from);
    void requeueCurrent(std::time_t time, const char *line);
    void advance();
    void finishFile(detail::LogFile *file);
    bool ensureOpen(detail::LogFile *file);
    void touch(detail::LogFile *file);
    void closeFile(detail::LogFile *file);
    void makeRoomForDescriptor(detail::LogFile *keep);
    bool requeueGrown(detail::LogFile *file);
    int insertChecked(const std::string &path, const struct stat &st);
    // Copies: a file whose first record is another's is a copy of it when its
    // bytes match the other's; a copy of content whose file was cut back
    // holds what was not read from it yet.
    enum class CopyCheck { NotCopy, CopyOfIntact, HoldsTheRest };
    CopyCheck checkCopy(detail::LogFile &candidate, uint64_t candidateSize, detail::LogFile &original);
    struct LostTail;
    bool holdsTheRest(detail::LogFile &candidate, const LostTail &tail);
    void adoptCopy(std::unique_ptr<detail::LogFile> copy, const LostTail &tail);
    std::optional<LostTail> tailOf(const detail::LogFile &file) const;
    void contentCut(detail::LogFile *file, std::optional<LostTail> tail);
    void addFile(std::unique_ptr<detail::LogFile> file);
    void releaseAll();
    void traceEntries() const;

    // The queue, earliest first: m_count entries from m_head in a ring whose
    // size is a power of 2, so that an entry moves from the front to the back
    // (files taking turns line by line) without moving the others.
    std::vector<Entry> m_ring;
    std::size_t m_mask = 0; // size - 1
    std::size_t m_head = 0;
    std::size_t m_count = 0;
    // Entries passed since the last clear (the reading index), and the time of
    // the last one.
    std::size_t m_szCurrentIndex = 0;
    std::time_t m_lastPassed = 0;
    bool m_end = false;
    bool m_continuation = false;

    // Every file seen since the last clear, and how to find it again: by the
    // hash of its first record (content), by device and inode, by path.
    std::vector<std::unique_ptr<detail::LogFile>> m_files;
    std::unordered_multimap<uint64_t, detail::LogFile *> m_byKey;
    // Content whose file was cut back (copy-and-truncate rotation) before all
    // of it was read: a copy found later is read on from there.
    std::vector<LostTail> m_lostTails;
    std::map<std::pair<uint64_t, uint64_t>, detail::LogFile *> m_byInode;
    std::unordered_map<std::string, std::unique_ptr<PathState>> m_byPath;

    // Open descriptors, least recently read first.
    std::list<detail::LogFile *> m_lru;
    detail::LogFile *m_lastTouched = nullptr;
    std::size_t m_openCount = 0;
    std::size_t m_budget;

    LocalTimeConverter m_conv;
    std::string m_lineCopy;
};

} // namespace tarmin::monitor

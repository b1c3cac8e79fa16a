#include "monitor/logs/vfiles.h"

#include "monitor/core/DiagLog.h"
#include "monitor/core/FileNames.h"
#include "monitor/logs/LogFile.h"
#include "platform/files.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <sys/resource.h>
#include <sys/stat.h>

namespace tarmin::monitor {

using detail::ChunkEnd;
using detail::LogFile;
using detail::ProbeResult;

namespace {

std::size_t softDescriptorLimit() {
    struct rlimit rl {};
    if (::getrlimit(RLIMIT_NOFILE, &rl) != 0) return 1024;
    if (rl.rlim_cur == RLIM_INFINITY) return 1u << 20;
    return static_cast<std::size_t>(rl.rlim_cur);
}

// Reading buffers of the files waiting in the queue, together.
constexpr std::size_t kWaitingBufferBudget = 16u << 20;
constexpr std::size_t kMinWaitingBuffer = 4u << 10;
constexpr std::size_t kMaxWaitingBuffer = 64u << 10;

std::size_t budgetForLimit(std::size_t limit) { return std::clamp<std::size_t>(limit / 8, 4, 4096); }

// The directory (the setting's Windows-1251 text) as a file-system path with
// a trailing "/".
std::string directoryWithSlash(const char *directory) {
    return directory && *directory ? platform::with_trailing_slash(fileSystemPath(directory)) : std::string();
}

int64_t mtimeNs(const struct stat &st) {
    return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

std::pair<uint64_t, uint64_t> inodeKey(dev_t dev, ino_t ino) {
    return {static_cast<uint64_t>(dev), static_cast<uint64_t>(ino)};
}

std::string formatTime(std::time_t t) {
    std::tm tm{};
    localtime_r(&t, &tm);
    char text[80];
    std::snprintf(text, sizeof text, "%02d/%02d/%04d %02d:%02d:%02d", tm.tm_mday, tm.tm_mon + 1,
                  tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return text;
}

} // namespace

// The content of a file that was cut back: where reading had come to, and a
// hash of the bytes up to there.
struct vfiles::LostTail {
    detail::FileKey key;
    uint64_t dataStart = 0;
    uint64_t position = 0;
    detail::StreamHash consumed;
    bool lineStart = true;
};

struct vfiles::PathState {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = -1;
    int64_t mtime = 0;
    int result = -1; // what insert returned for the file as it was then
    LogFile *copyOf = nullptr; // the file this one was found to be a copy of

    bool sameAs(const struct stat &st) const {
        return dev == st.st_dev && ino == st.st_ino && size == st.st_size && mtime == mtimeNs(st);
    }
    void remember(const struct stat &st, int r) {
        dev = st.st_dev;
        ino = st.st_ino;
        size = st.st_size;
        mtime = mtimeNs(st);
        result = r;
    }
};

std::size_t raiseDescriptorLimit() {
    struct rlimit rl {};
    if (::getrlimit(RLIMIT_NOFILE, &rl) == 0 && rl.rlim_cur != rl.rlim_max) {
        struct rlimit raised = rl;
        raised.rlim_cur = rl.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &raised);
    }
    return softDescriptorLimit();
}

// ---- vfiles ------------------------------------------------------------

vfiles::vfiles(std::size_t initialEntries) {
    static std::once_flag raised;
    std::call_once(raised, [] { raiseDescriptorLimit(); });
    m_budget = budgetForLimit(softDescriptorLimit());
    m_ring.resize(std::bit_ceil(std::max<std::size_t>(initialEntries, 2)));
    m_mask = m_ring.size() - 1;
}

vfiles::~vfiles() { releaseAll(); }

void vfiles::setDescriptorBudget(std::size_t budget) {
    m_budget = std::max<std::size_t>(budget, 2);
    makeRoomForDescriptor(nullptr);
}

bool vfiles::CheckNdays(std::time_t lastWrite, unsigned days, std::time_t now) {
    TMN_TRACE_RETVAL(tr, "CheckNdays");
    if (days == 0) return tr.ret(__LINE__, true);
    return tr.ret(__LINE__, static_cast<int64_t>(now) - static_cast<int64_t>(lastWrite) <=
                                static_cast<int64_t>(days) * 86400);
}

int vfiles::load(const char *directory, const char *prefix, unsigned days) {
    TMN_TRACE_RETVAL(tr, "vfiles::load");
    std::string dir = directoryWithSlash(directory);
    std::string mask = std::string(prefix ? prefix : "") + "*.csv";
    auto entries = platform::find_files(dir.empty() ? std::string(".") : dir, mask);
    if (!entries || entries->empty()) return tr.ret(__LINE__, -1);

    std::time_t now = std::time(nullptr);
    for (const platform::DirEntry &entry : *entries) {
        if (entry.is_directory || !CheckNdays(static_cast<std::time_t>(entry.mtime), days, now)) continue;
        std::string path = dir + entry.name;
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue; // a log is a regular file
        TMN_TRACE_RETVAL(insertTracer, "vfiles::insert");
        insertTracer.ret(__LINE__, insertChecked(path, st));
    }
    traceEntries();
    return tr.ret(__LINE__, 0);
}

int vfiles::insert(const char *directory, const char *fileName) {
    return insert(directoryWithSlash(directory) + (fileName ? fileName : ""));
}

int vfiles::insert(const std::string &path) {
    TMN_TRACE_RETVAL(tr, "vfiles::insert");
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        TMN_DLOG(kDiagDetail, "fname: %s", path.c_str());
        return tr.ret(__LINE__, -1);
    }
    return tr.ret(__LINE__, insertChecked(path, st));
}

int vfiles::insertChecked(const std::string &path, const struct stat &st) {
    auto &state = m_byPath[path];
    if (!state) state = std::make_unique<PathState>();
    // An unchanged file needs no second look.
    if (state->size >= 0 && state->sameAs(st)) return state->result;

    TMN_DLOG(kDiagDetail, "fname: %s", path.c_str());
    auto probed = std::make_unique<LogFile>(path);
    makeRoomForDescriptor(nullptr);
    std::string firstRecord;
    ProbeResult r = probed->probe(m_conv, &firstRecord);
    if (r == ProbeResult::CannotOpen && (errno == EMFILE || errno == ENFILE)) {
        // Out of descriptors in the process: give up all but the file being
        // read and look again; the file is looked at by the next load when
        // that does not help.
        std::size_t keep = m_budget;
        m_budget = 2;
        makeRoomForDescriptor(nullptr);
        m_budget = keep;
        r = probed->probe(m_conv, &firstRecord);
    }
    // A file that cannot be opened now is looked at again by the next load.
    if (r == ProbeResult::CannotOpen) return -1;
    if (r != ProbeResult::Ok) {
        state->remember(st, -1);
        return -1;
    }
    TMN_DLOG(kDiagDetail, "1st rec: %s", firstRecord.c_str());
    state->remember(st, 0);

    auto sameInode = m_byInode.find(inodeKey(probed->device(), probed->inode()));
    if (sameInode != m_byInode.end()) {
        LogFile *f = sameInode->second;
        if (f->key() == probed->key()) {
            // The same file, perhaps renamed, perhaps with lines appended since
            // it was read to its end; when it cannot be opened now, the next
            // load looks again.
            f->setPath(path);
            if (f->done && static_cast<uint64_t>(st.st_size) > f->position() && !requeueGrown(f))
                state->size = -1;
            return 0;
        }
        // The writer rewrote the file in place: its new content is read from
        // its first record, once.
        std::optional<LostTail> tail = tailOf(*f);
        f->setPath(path);
        f->restartFrom(*probed);
        m_byKey.emplace(f->key().hash, f);
        TMN_DLOG(kDiagDetail, "rewritten: %s", path.c_str());
        if (f->done) {
            f->done = false;
            queue(f->key().firstTime, f, insertionFloor());
        }
        contentCut(f, std::move(tail));
        return 0;
    }

    // Content seen before in another file: a copy of it, a copy holding the
    // rest of a file cut back since, or another file that starts alike.
    const auto candidates = m_byKey.equal_range(probed->key().hash);
    std::vector<LogFile *> originals;
    for (auto it = candidates.first; it != candidates.second; ++it)
        if (it->second->key() == probed->key() &&
            std::find(originals.begin(), originals.end(), it->second) == originals.end())
            originals.push_back(it->second);
    for (LogFile *original : originals) {
        switch (checkCopy(*probed, static_cast<uint64_t>(st.st_size), *original)) {
        case CopyCheck::CopyOfIntact:
            TMN_DLOG(kDiagDetail, "copy: %s", path.c_str());
            state->copyOf = original;
            return 0;
        case CopyCheck::HoldsTheRest: {
            std::optional<LostTail> tail = tailOf(*original);
            original->restOfContentTaken = true;
            adoptCopy(std::move(probed), *tail);
            return 0;
        }
        case CopyCheck::NotCopy: break;
        }
    }
    for (auto tail = m_lostTails.begin(); tail != m_lostTails.end(); ++tail)
        if (holdsTheRest(*probed, *tail)) {
            const LostTail found = *tail;
            m_lostTails.erase(tail);
            adoptCopy(std::move(probed), found);
            return 0;
        }

    LogFile *f = probed.get();
    addFile(std::move(probed));
    queue(f->key().firstTime, f, insertionFloor());
    return 0;
}

void vfiles::addFile(std::unique_ptr<LogFile> file) {
    LogFile *f = file.release();
    m_files.emplace_back(f);
    m_byKey.emplace(f->key().hash, f);
    m_byInode[inodeKey(f->device(), f->inode())] = f;
    ++m_openCount;
    m_lru.push_back(f);
    f->lruPos = std::prev(m_lru.end());
    f->inLru = true;
}

std::optional<vfiles::LostTail> vfiles::tailOf(const LogFile &file) const {
    if (!file.consumedKnown() || file.restOfContentTaken) return std::nullopt;
    return LostTail{file.key(), file.dataStart(), file.position(), file.consumed(), file.atLineStart()};
}

vfiles::CopyCheck vfiles::checkCopy(LogFile &candidate, uint64_t candidateSize, LogFile &original) {
    if (!original.consumedKnown() || original.restOfContentTaken) return CopyCheck::NotCopy;
    const std::optional<LostTail> tail = tailOf(original);
    // The original still holds what was read from it: the candidate is a copy
    // when its bytes are the original's as far as both go.
    uint64_t originalSize = 0, readHash = 0;
    if (ensureOpen(&original) && original.currentSize(originalSize) && originalSize >= original.position() &&
        original.prefixHash(original.position(), readHash) && readHash == original.consumed().value())
        return candidate.samePrefix(original, std::min(originalSize, candidateSize)) ? CopyCheck::CopyOfIntact
                                                                                    : CopyCheck::NotCopy;
    // The original was cut back: a candidate whose bytes match up to where
    // the original had been read holds the rest.
    return holdsTheRest(candidate, *tail) ? CopyCheck::HoldsTheRest : CopyCheck::NotCopy;
}

bool vfiles::holdsTheRest(LogFile &candidate, const LostTail &tail) {
    uint64_t hash = 0;
    return candidate.key() == tail.key && candidate.prefixHash(tail.position, hash) && hash == tail.consumed.value();
}

void vfiles::adoptCopy(std::unique_ptr<LogFile> copy, const LostTail &tail) {
    TMN_DLOG(kDiagDetail, "rest in copy: %s", copy->path().c_str());
    LogFile *f = copy.get();
    f->continueAt(tail.key, tail.dataStart, tail.position, tail.consumed, tail.lineStart);
    addFile(std::move(copy));
    std::time_t t;
    if (!f->timeAtPosition(m_conv, t)) t = m_count > 0 ? entry(0).m_tCreationTime : m_lastPassed;
    queue(t, f, insertionFloor());
}

void vfiles::contentCut(LogFile *file, std::optional<LostTail> tail) {
    file->restOfContentTaken = false;
    if (!tail) return;
    // A copy found before the cut may hold the rest.
    for (auto &[path, state] : m_byPath) {
        if (state->copyOf != file) continue;
        auto copy = std::make_unique<LogFile>(path);
        makeRoomForDescriptor(nullptr);
        if (copy->probe(m_conv) == ProbeResult::Ok && holdsTheRest(*copy, *tail)) {
            state->copyOf = nullptr;
            adoptCopy(std::move(copy), *tail);
            return;
        }
    }
    m_lostTails.push_back(*tail);
}

std::size_t vfiles::waitingBufferShare() const {
    // Files that take turns line by line each keep a buffer while they wait:
    // together they hold no more than the budget (each at least a few lines'
    // worth, at most the usual buffer).
    return std::clamp<std::size_t>(kWaitingBufferBudget / std::max<std::size_t>(m_count, 1), kMinWaitingBuffer,
                                   kMaxWaitingBuffer);
}

std::size_t vfiles::insertionFloor() const {
    // Pieces of a long line being handed out are not interrupted.
    return m_count > 0 && !entry(0).m_fhFile->atLineStart() ? 1 : 0;
}

void vfiles::queue(std::time_t time, LogFile *file, std::size_t from) {
    if (m_count == m_ring.size()) {
        std::vector<Entry> grown(m_ring.size() * 2);
        for (std::size_t i = 0; i < m_count; ++i) grown[i] = entry(i);
        m_ring = std::move(grown);
        m_mask = m_ring.size() - 1;
        m_head = 0;
    }
    // Entries of the same second keep the order in which they were queued:
    // the new entry goes after every entry that is not later. Entries already
    // passed are never chosen, so no queued line can be skipped.
    std::size_t lo = std::min(from, m_count), hi = m_count;
    while (lo < hi) {
        std::size_t mid = lo + (hi - lo) / 2;
        if (time < entry(mid).m_tCreationTime) hi = mid;
        else lo = mid + 1;
    }
    // The entries on the shorter side of the place move by one.
    if (lo < m_count - lo) {
        m_head = (m_head - 1) & m_mask;
        for (std::size_t i = 0; i < lo; ++i) entry(i) = entry(i + 1);
    } else {
        for (std::size_t i = m_count; i > lo; --i) entry(i) = entry(i - 1);
    }
    entry(lo) = Entry{time, file, nullptr};
    ++m_count;
    ++file->refs;
    TMN_DLOG(kDiagDetail, "ref counter(%p) = %u", static_cast<void *>(file), file->refs);
    m_end = false;
}

void vfiles::requeueCurrent(std::time_t time, const char *line) {
    // The same as queueing the file again behind the next entries that are not
    // later and passing the current entry, without counting the file twice.
    // The new place: after every entry that is not later; the last entries
    // are looked at one by one first, as when files take turns line by line
    // the place is at the end.
    std::size_t lo = 1, hi = m_count;
    for (int steps = 0; hi > lo && time < entry(hi - 1).m_tCreationTime; --hi)
        if (++steps == 4) {
            --hi;
            while (lo < hi) {
                std::size_t mid = lo + (hi - lo) / 2;
                if (time < entry(mid).m_tCreationTime) hi = mid;
                else lo = mid + 1;
            }
            break;
        }
    // entry(1) .. entry(hi - 1) stay before the file: the entries on the
    // shorter side move by one.
    const Entry moved{time, entry(0).m_fhFile, line};
    if (hi - 1 <= m_count - hi) {
        for (std::size_t i = 0; i + 1 < hi; ++i) entry(i) = entry(i + 1);
    } else {
        m_head = (m_head + 1) & m_mask;
        for (std::size_t i = m_count - 1; i > hi - 1; --i) entry(i) = entry(i - 1);
    }
    entry(hi - 1) = moved;
    m_end = false;
}

void vfiles::advance() {
    Entry &e = entry(0);
    --e.m_fhFile->refs;
    TMN_DLOG(kDiagDetail, "ref counter(%p) = %u", static_cast<void *>(e.m_fhFile), e.m_fhFile->refs);
    m_lastPassed = e.m_tCreationTime;
    m_head = (m_head + 1) & m_mask;
    --m_count;
    ++m_szCurrentIndex;
    TMN_DLOG(kDiagDetail, "m_szCurrentIndex: %u", static_cast<unsigned>(m_szCurrentIndex));
}

void vfiles::touch(LogFile *file) {
    // The order matters only once descriptors may have to be given up.
    if (file == m_lastTouched || !file->inLru || m_openCount * 2 < m_budget) return;
    m_lru.splice(m_lru.end(), m_lru, file->lruPos);
    m_lastTouched = file;
}

void vfiles::closeFile(LogFile *file) {
    if (!file->isOpen()) return;
    file->close();
    if (file->inLru) {
        m_lru.erase(file->lruPos);
        file->inLru = false;
    }
    if (m_lastTouched == file) m_lastTouched = nullptr;
    --m_openCount;
}

void vfiles::makeRoomForDescriptor(LogFile *keep) {
    while (m_openCount >= m_budget && !m_lru.empty()) {
        LogFile *victim = m_lru.front();
        if (victim == keep) {
            if (m_lru.size() == 1) break;
            m_lru.splice(m_lru.end(), m_lru, victim->lruPos);
            continue;
        }
        TMN_DLOG(kDiagDetail, "park(%p)", static_cast<void *>(victim));
        closeFile(victim);
    }
}

bool vfiles::ensureOpen(LogFile *file) {
    if (file->isOpen()) return true;
    makeRoomForDescriptor(file);
    if (!file->reopen()) {
        if (errno != EMFILE && errno != ENFILE) return false;
        std::size_t keep = m_budget;
        m_budget = 1;
        makeRoomForDescriptor(file);
        m_budget = keep;
        if (!file->reopen()) return false;
    }
    ++m_openCount;
    m_lru.push_back(file);
    file->lruPos = std::prev(m_lru.end());
    file->inLru = true;
    return true;
}

void vfiles::finishFile(LogFile *file) {
    file->done = true;
    if (file->isOpen()) TMN_DLOG(kDiagDetail, "fclose(m_fhFile= %p)", static_cast<void *>(file));
    closeFile(file);
}

bool vfiles::requeueGrown(LogFile *file) {
    if (!ensureOpen(file)) return false;
    file->done = false;
    std::time_t t;
    if (!file->timeAtPosition(m_conv, t)) {
        // No date to go by: read it next.
        t = m_count > 0 ? entry(0).m_tCreationTime : m_lastPassed;
    }
    TMN_DLOG(kDiagDetail, "appended: %s", file->path().c_str());
    queue(t, file, insertionFloor());
    return true;
}

bool vfiles::nextChunk(std::size_t limit, std::string_view &chunk, bool &lineFeed) {
    for (;;) {
        if (m_count == 0) {
            // Every queued file was read to its end (the last one is gone).
            if (m_szCurrentIndex > 0) m_end = true;
            return false;
        }
        LogFile *f = entry(0).m_fhFile;
        const bool last = m_count == 1;

        if (!f->isOpen() && !ensureOpen(f)) {
            // Out of descriptors or memory for now: the file keeps its place
            // and the next call tries again.
            if (errno == EMFILE || errno == ENFILE || errno == ENOMEM) return false;
            // Removed or replaced while it waited without a descriptor:
            // nothing more can be read from it.
            TMN_DLOG(kDiagDetail, "gone: %s", f->path().c_str());
            finishFile(f);
            advance();
            continue;
        }
        if (f != m_lastTouched && m_openCount * 2 >= m_budget) touch(f);

        std::string_view c;
        ChunkEnd how;
        bool got = f->peekChunk(limit, c, how);
        // A line without its line feed while the writer still holds the file
        // is not complete yet: it is handed out once it is.
        if (got && how == ChunkEnd::EndOfFile && f->writerHoldsLock()) got = false;
        if (!got) {
            std::optional<LostTail> tail = tailOf(*f);
            if (f->handleTruncation(m_conv)) {
                TMN_DLOG(kDiagDetail, "truncated: %s", f->path().c_str());
                m_byKey.emplace(f->key().hash, f);
                contentCut(f, std::move(tail));
                continue;
            }
            if (last) {
                m_end = true;
                return false;
            }
            finishFile(f);
            advance();
            continue;
        }

        if (!last && f->atLineStart()) {
            std::time_t t;
            if (f->chunkTime(m_conv, c, t)) {
                if (entry(1).m_tCreationTime < t) {
                    // A later line than the next file's: the file waits in
                    // the queue at this line's time, with no more buffer
                    // than its share while files take turns.
                    requeueCurrent(t, f->limitBuffer(waitingBufferShare()) ? nullptr : c.data());
                    continue;
                }
            }
        }

        m_continuation = !f->atLineStart();
        f->consume(c.size(), how);
        if (!last) {
            // The next file's turn may come with the next line: its state is
            // fetched while the caller works on this one.
            const Entry &next = entry(1);
            const char *file = reinterpret_cast<const char *>(next.m_fhFile);
            for (std::size_t at = 0; at < sizeof(LogFile); at += 64) __builtin_prefetch(file + at);
            if (next.m_line)
                for (std::size_t at = 0; at < 256; at += 64) __builtin_prefetch(next.m_line + at);
        }
        m_end = false;
        chunk = c;
        lineFeed = how == ChunkEnd::LineFeed;
        return true;
    }
}

char *vfiles::fgets(char *buffer, int size) {
    TMN_TRACE(tr, "vfiles::fgets");
    if (!buffer || size < 2) return nullptr;
    std::string_view c;
    bool lineFeed = false;
    if (!nextChunk(static_cast<std::size_t>(size - 1), c, lineFeed)) return nullptr;
    std::size_t n = c.size();
    if (lineFeed && n >= 2 && c[n - 2] == '\r') {
        std::memcpy(buffer, c.data(), n - 2);
        buffer[n - 2] = '\n';
        buffer[n - 1] = '\0';
    } else {
        std::memcpy(buffer, c.data(), n);
        buffer[n] = '\0';
    }
    return buffer;
}

bool vfiles::readLine(std::string_view &line) {
    TMN_TRACE(tr, "vfiles::fgets");
    std::string_view c;
    bool lineFeed = false;
    if (!nextChunk(detail::kMaxWholeLine, c, lineFeed)) return false;
    if (lineFeed && c.size() >= 2 && c[c.size() - 2] == '\r') {
        m_lineCopy.assign(c.data(), c.size() - 2);
        m_lineCopy += '\n';
        line = m_lineCopy;
    } else {
        line = c;
    }
    return true;
}

bool vfiles::getline(std::string &line) {
    std::string_view v;
    if (!readLine(v)) return false;
    line.assign(v);
    return true;
}

void vfiles::releaseAll() {
    for (auto &f : m_files) {
        if (f->isOpen()) TMN_DLOG(kDiagDetail, "fclose(m_fhFile= %p)", static_cast<void *>(f.get()));
        f->close();
    }
    for (std::size_t i = 0; i < m_count; ++i) --entry(i).m_fhFile->refs;
    m_head = 0;
    m_count = 0;
    m_lastPassed = 0;
    m_lru.clear();
    m_lastTouched = nullptr;
    m_openCount = 0;
    m_byKey.clear();
    m_lostTails.clear();
    m_byInode.clear();
    m_byPath.clear();
    m_files.clear();
    m_szCurrentIndex = 0;
    m_end = false;
}

void vfiles::clear() {
    TMN_TRACE(tr, "vfiles::clear");
    releaseAll();
}

void vfiles::traceEntries() const {
    if (!DiagLog::enabled(kDiagDetail)) return;
    for (std::size_t i = 0; i < m_count; ++i)
        TMN_DLOG(kDiagDetail, "m_tCreationTime: %s; m_fhFile: %p", formatTime(entry(i).m_tCreationTime).c_str(),
                 static_cast<void *>(entry(i).m_fhFile));
    TMN_DLOG(kDiagDetail, "m_szCurrentIndex: %u", static_cast<unsigned>(m_szCurrentIndex));
}

} // namespace tarmin::monitor

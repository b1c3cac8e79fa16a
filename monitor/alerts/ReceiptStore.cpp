#include "monitor/alerts/ReceiptStore.h"

#include "common/codepage.h"
#include "monitor/alerts/ErrorStatistics.h"
#include "monitor/jobs/AlertJobs.h"
#include "monitor/logs/CGWRecord.h"
#include "monitor/logs/CNotifRecord.h"
#include "platform/files.h"
#include "qzcom.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <sys/mman.h>

namespace tarmin::monitor {

namespace {

constexpr const char *kOutgoingPrefix = "tmnsent";
constexpr const char *kInboundPrefix = "tmnrecv";
constexpr QZ_DWORD kEventOverdue = 0xE00E0002;

// Lines are split at most this many times; the last field keeps the rest.
constexpr std::size_t kMaxSeparators = 15;
constexpr std::size_t kOutgoingFields = 10;
constexpr std::size_t kInboundFields = 8;

// Field limits of a pending message.
constexpr std::size_t kDateMax = 16;
constexpr std::size_t kHashMax = 64;
constexpr std::size_t kProtectionMax = 10;
constexpr std::size_t kTextMax = 256;
constexpr std::size_t kStatusMax = 10;

const char *const kWaiting = "WAIT";

// The fields of a line, split in place without allocating.
struct Fields {
    std::array<std::string_view, kMaxSeparators + 1> field;
    std::size_t count = 0;
    std::string_view operator[](std::size_t i) const { return field[i]; }
};

Fields splitFields(std::string_view line, char separator) {
    Fields f;
    std::size_t start = 0;
    while (f.count < kMaxSeparators) {
        std::size_t at = line.find(separator, start);
        if (at == std::string_view::npos) break;
        f.field[f.count++] = line.substr(start, at - start);
        start = at + 1;
    }
    f.field[f.count++] = line.substr(start);
    return f;
}

std::string_view withoutLineFeed(std::string_view line) {
    if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
    return line;
}

// Calls `piece` for every non-empty piece of a ";"-separated list.
template <class Piece> void forEachListPiece(std::string_view text, Piece piece) {
    std::size_t pos = 0;
    while (pos <= text.size()) {
        std::size_t next = text.find(';', pos);
        if (next == std::string_view::npos) next = text.size();
        if (next > pos) piece(text.substr(pos, next - pos));
        pos = next + 1;
    }
}

// Case of Windows-1251 text, with the Latin letters of hashes and addresses
// done here.
inline char upperChar(char c) {
    if (c >= 'a' && c <= 'z') return static_cast<char>(c - 'a' + 'A');
    return static_cast<unsigned char>(c) < 0x80 ? c : cp::upper_1251(c);
}
inline char lowerChar(char c) {
    if (c >= 'A' && c <= 'Z') return static_cast<char>(c - 'A' + 'a');
    return static_cast<unsigned char>(c) < 0x80 ? c : cp::lower_1251(c);
}

void setStatus(char (&status)[10], unsigned char &length, std::string_view text) {
    text = text.substr(0, sizeof status);
    std::memcpy(status, text.data(), text.size());
    length = static_cast<unsigned char>(text.size());
}

// A hash as the store keeps it: at most 64 characters, upper case. A text
// longer than that names no stored hash (false).
bool storedHashForm(std::string_view hash, char (&out)[kHashMax], std::size_t &length) {
    if (hash.size() > kHashMax) return false;
    for (std::size_t i = 0; i < hash.size(); ++i) out[i] = upperChar(hash[i]);
    length = hash.size();
    return true;
}

constexpr uint64_t kFileTimeSecond = 10'000'000;
constexpr uint64_t kFileTimeDay = 86400 * kFileTimeSecond;

// The local time at `t` as a file time (the way the logs' dates and times
// convert, see textToFileTime).
uint64_t localFileTime(std::time_t t) {
    std::tm tm{};
    localtime_r(&t, &tm);
    char date[32], time[32];
    std::snprintf(date, sizeof date, "%02d/%02d/%04d", tm.tm_mday, tm.tm_mon + 1, tm.tm_year + 1900);
    std::snprintf(time, sizeof time, "%02d:%02d:%02d", tm.tm_hour, tm.tm_min, tm.tm_sec);
    uint64_t out = 0;
    textToFileTime(date, time, out);
    return out;
}

// The first day (in days of file time) that a limited reading keeps:
// AnalyzeNday - 1 days before today.
uint64_t oldestKeptDay(const DayLimit &limit) {
    const uint64_t today = localFileTime(std::time(nullptr)) / kFileTimeDay;
    const uint64_t back = limit.analyzeNday - 1;
    return today > back ? today - back : 0;
}

} // namespace

std::string_view PendingMessage::text(int field) const {
    std::size_t offset = 0;
    for (int i = 0; i < field; ++i) offset += m_length[i];
    return {texts() + offset, m_length[field]};
}

std::string_view PendingMessage::recipientAddress(std::size_t i) const {
    const Recipient &r = recipientArray()[i];
    return {texts() + r.offset, r.length};
}

std::string_view PendingMessage::recipientStatus(std::size_t i) const {
    const Recipient &r = recipientArray()[i];
    return {r.status, r.statusLength};
}

std::string_view PendingMessage::attachment(std::size_t i) const {
    const Piece &p = attachmentArray()[i];
    return {texts() + p.offset, p.length};
}

namespace {

// The texts of a message, cut to their limits.
std::array<std::string_view, 5> limitedTexts(const PendingMessage::Parts &parts) {
    return {parts.date.substr(0, kDateMax), parts.time.substr(0, kDateMax), parts.hash.substr(0, kHashMax),
            parts.protection.substr(0, kProtectionMax), parts.subject.substr(0, kTextMax)};
}

} // namespace

std::size_t PendingMessage::allocationSize(const Parts &parts) {
    std::size_t bytes = sizeof(PendingMessage) + parts.recipients.size() * sizeof(Recipient) +
                        parts.attachments.size() * sizeof(Piece);
    for (std::string_view text : limitedTexts(parts)) bytes += text.size();
    for (std::string_view a : parts.recipients) bytes += std::min(a.size(), kTextMax);
    for (std::string_view n : parts.attachments) bytes += std::min(n.size(), kTextMax);
    return bytes;
}

PendingMessage *PendingMessage::construct(void *memory, const Parts &parts) {
    // One block after the message: the recipients, the attachment names, then
    // the texts.
    auto *message = new (memory) PendingMessage;
    message->m_allocated = static_cast<uint32_t>(allocationSize(parts));
    message->m_recipients = static_cast<uint32_t>(parts.recipients.size());
    message->m_attachments = static_cast<uint32_t>(parts.attachments.size());
    char *const texts = message->texts();
    char *text = texts;
    const auto fields = limitedTexts(parts);
    for (int i = 0; i < 5; ++i) {
        message->m_length[i] = static_cast<uint16_t>(fields[i].size());
        if (i == 2) // the hash, upper case
            for (char c : fields[i]) *text++ = upperChar(c);
        else
            text = std::copy(fields[i].begin(), fields[i].end(), text);
    }
    Recipient *r = message->recipientArray();
    for (std::size_t i = 0; i < parts.recipients.size(); ++i, ++r) {
        const std::string_view address = parts.recipients[i].substr(0, kTextMax);
        r->offset = static_cast<uint32_t>(text - texts);
        r->length = static_cast<uint16_t>(address.size());
        for (char c : address) *text++ = lowerChar(c);
        setStatus(r->status, r->statusLength, i < parts.statuses.size() ? parts.statuses[i] : kWaiting);
    }
    Piece *piece = message->attachmentArray();
    for (std::string_view name : parts.attachments) {
        name = name.substr(0, kTextMax);
        *piece++ = {static_cast<uint32_t>(text - texts), static_cast<uint32_t>(name.size())};
        text = std::copy(name.begin(), name.end(), text);
    }
    return message;
}

void PendingMessage::Free::operator()(PendingMessage *message) const {
    message->~PendingMessage();
    ::operator delete(message);
}

PendingMessage::Owned PendingMessage::make(const Parts &parts) {
    return Owned(construct(::operator new(allocationSize(parts)), parts));
}

namespace {

// Slots moved from the table that is being left with every message added:
// the old table is empty before the new one is half full.
constexpr std::size_t kSlotsMovedPerAdd = 8;
constexpr uint64_t kCatchUpLoadMs = 50;
constexpr std::size_t kFirstTableSize = 1024;

uint64_t fingerprintOf(std::string_view storedHash) { return std::hash<std::string_view>{}(storedHash) | 1; }

// Memory that the system gives zero-filled, page by page as it is touched.
// Filled front to back (the messages), it is asked for in large pages: fewer
// faults for the hundreds of megabytes a large backlog takes. The hash table
// is touched at random, where large pages would be cleared all at once.
void *zeroPages(std::size_t bytes, bool large) {
    void *p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
    if (large) ::madvise(p, bytes, MADV_HUGEPAGE);
#else
    (void)large;
#endif
    return p;
}

} // namespace

ReceiptStore::Slot *ReceiptStore::Table::find(uint64_t fingerprint, std::string_view hash) const {
    if (size == 0) return nullptr;
    const std::size_t mask = size - 1;
    for (std::size_t at = fingerprint & mask;; at = (at + 1) & mask) {
        Slot &slot = entries[at];
        if (!slot.oldest) return nullptr;
        if (slot.fingerprint == fingerprint && slot.oldest->hash() == hash) return &slot;
    }
}

ReceiptStore::Slot &ReceiptStore::Table::place(uint64_t fingerprint) {
    const std::size_t mask = size - 1;
    std::size_t at = fingerprint & mask;
    while (entries[at].oldest) at = (at + 1) & mask;
    ++used;
    entries[at].fingerprint = fingerprint;
    return entries[at];
}

void ReceiptStore::Table::erase(Slot &slot) {
    // Linear probing: the entries after it that would no longer be found move
    // back into the gap.
    const std::size_t mask = size - 1;
    std::size_t gap = static_cast<std::size_t>(&slot - entries.get());
    for (std::size_t at = (gap + 1) & mask; entries[at].oldest; at = (at + 1) & mask) {
        const std::size_t home = entries[at].fingerprint & mask;
        if (((at - home) & mask) >= ((at - gap) & mask)) {
            entries[gap] = entries[at];
            gap = at;
        }
    }
    entries[gap] = Slot{};
    --used;
}

ReceiptStore::ReceiptStore(const MonitorContext &context) : m_context(context) {}

ReceiptStore::~ReceiptStore() {
    while (m_oldest) {
        PendingMessage *next = m_oldest->m_newer;
        release(m_oldest);
        m_oldest = next;
    }
}

void ReceiptStore::release(PendingMessage *message) {
    const std::size_t size = message->m_allocated;
    message->~PendingMessage();
    m_pool.release(message, size);
}

void ReceiptStore::UnmapSlots::operator()(Slot *entries) const {
    if (entries) ::munmap(entries, bytes);
}

ReceiptStore::Pool::~Pool() {
    for (void *chunk : m_chunks) ::munmap(chunk, kChunk);
}

void *ReceiptStore::Pool::allocate(std::size_t size) {
    size = rounded(size);
    if (size > kLargest) return ::operator new(size);
    void *&free = m_free[size / 16];
    if (free) {
        void *block = free;
        std::memcpy(&free, block, sizeof free);
        return block;
    }
    if (m_left < size) {
        m_chunks.push_back(zeroPages(kChunk, true));
        m_next = static_cast<char *>(m_chunks.back());
        m_left = kChunk;
    }
    void *block = m_next;
    m_next += size;
    m_left -= size;
    return block;
}

void ReceiptStore::Pool::release(void *block, std::size_t size) {
    size = rounded(size);
    if (size > kLargest) {
        ::operator delete(block);
        return;
    }
    std::memcpy(block, &m_free[size / 16], sizeof(void *));
    m_free[size / 16] = block;
}

void ReceiptStore::runBatch(unsigned lines) {
    const DayLimit dayLimit = readDayLimit();
    const unsigned days = dayLimit.loadDays();
    // A set read to its end is loaded again for the files created since;
    // while catching up, not more often than every 50 ms.
    const uint64_t now = platform::tick_count64();
    auto due = [&](bool needed, uint64_t &loadedAt) {
        if (!needed || (m_catchUp && now - loadedAt < kCatchUpLoadMs)) return false;
        loadedAt = now;
        return true;
    };
    if (due(m_sentNeedsLoad, m_sentLoadedAt)) m_sent.load(m_context.logDirectory.c_str(), kOutgoingPrefix, days);
    const bool catchingUp = m_catchUp;
    m_catchUp = false;

    // The receipts wait until the outgoing log has been read to its end, so
    // that every message they may confirm is in the store.
    const unsigned sent = readOutgoing(lines, dayLimit);
    m_sentNeedsLoad = sent < lines;
    if (sent == lines) {
        m_catchUp = true;
        return;
    }
    m_catchUp = catchingUp;
    if (due(m_receivedNeedsLoad, m_receivedLoadedAt))
        m_received.load(m_context.logDirectory.c_str(), kInboundPrefix, days);
    m_catchUp = false;
    const unsigned received = readReceipts(lines);
    m_receivedNeedsLoad = received < lines;
    if (received == lines) m_catchUp = true;
}

unsigned ReceiptStore::readOutgoing(unsigned limit, const DayLimit &dayLimit) {
    const uint64_t oldestDay = dayLimit.active() ? oldestKeptDay(dayLimit) : 0;
    unsigned taken = 0;
    std::string_view line;
    while (taken < limit && m_sent.readLine(line)) {
        ++taken;
        // The rest of a line too long to be handed out whole is no record.
        if (!m_sent.continuesLine()) track(withoutLineFeed(line), dayLimit, oldestDay);
    }
    return taken;
}

void ReceiptStore::track(std::string_view line, const DayLimit &dayLimit, uint64_t oldestDay) {
    const Fields f = splitFields(line, m_context.separator);
    if (f.count < kOutgoingFields) return;
    // Unprotected or failed sendings get no receipts.
    if (f[9] == "0" || f[4] != "0") return;
    if (dayLimit.active()) {
        uint64_t sentAt = 0;
        if (!textToFileTime(f[0], "00:00:00", sentAt) || sentAt / kFileTimeDay < oldestDay) return;
    }

    m_addresses.clear();
    m_names.clear();
    forEachListPiece(f[6], [&](std::string_view a) { m_addresses.push_back(a); });
    forEachListPiece(f[8], [&](std::string_view n) { m_names.push_back(n); });
    const PendingMessage::Parts parts{f[0], f[1], f[5], f[9], f[7], m_addresses, {}, m_names};
    const std::size_t allocated = PendingMessage::allocationSize(parts);
    PendingMessage *message = PendingMessage::construct(m_pool.allocate(allocated), parts);

    message->m_older = m_newest;
    (m_newest ? m_newest->m_newer : m_oldest) = message;
    m_newest = message;
    ++m_live;
    addToTable(message);
}

unsigned ReceiptStore::readReceipts(unsigned limit) {
    unsigned taken = 0;
    std::string_view line;
    // With nothing waiting the inbound log is left where it is.
    while (taken < limit && m_live != 0 && m_received.readLine(line)) {
        ++taken;
        if (!m_received.continuesLine()) applyReceipt(withoutLineFeed(line));
    }
    return taken;
}

ReceiptStore::Slot *ReceiptStore::slotOf(std::string_view storedHash) const {
    const uint64_t fingerprint = fingerprintOf(storedHash);
    if (Slot *slot = m_table.find(fingerprint, storedHash)) return slot;
    return m_previous.find(fingerprint, storedHash);
}

ReceiptStore::Slot *ReceiptStore::slotOfText(std::string_view hash) const {
    char upper[kHashMax];
    std::size_t length = 0;
    if (!storedHashForm(hash, upper, length)) return nullptr;
    return slotOf(std::string_view(upper, length));
}

void ReceiptStore::addToTable(PendingMessage *message) {
    // Behind the messages of an equal hash, so that the oldest is found first.
    const std::string_view hash = message->hash();
    if (Slot *slot = slotOf(hash)) {
        PendingMessage *last = slot->oldest;
        while (last->m_nextSameHash) last = last->m_nextSameHash;
        last->m_nextSameHash = message;
        moveSomeSlots();
        return;
    }
    if ((m_table.used + m_previous.used + 1) * 2 > m_table.size) {
        // Slots of a table still being left move in one go (rare: only when
        // hashes come faster than they are moved).
        while (m_previous.used) moveSomeSlots();
        m_previous = std::move(m_table);
        m_moveAt = 0;
        m_table.size = std::max(kFirstTableSize, m_previous.size * 2);
        const std::size_t bytes = m_table.size * sizeof(Slot);
        m_table.entries = std::unique_ptr<Slot[], UnmapSlots>(static_cast<Slot *>(zeroPages(bytes, false)), UnmapSlots{bytes});
        m_table.used = 0;
    }
    m_table.place(fingerprintOf(hash)).oldest = message;
    moveSomeSlots();
}

void ReceiptStore::moveSomeSlots() {
    for (std::size_t moved = 0; m_previous.used && moved < kSlotsMovedPerAdd;) {
        Slot &slot = m_previous.entries[m_moveAt];
        if (!slot.oldest) {
            m_moveAt = (m_moveAt + 1) & (m_previous.size - 1);
            continue;
        }
        m_table.place(slot.fingerprint).oldest = slot.oldest;
        // Erasing may move a later slot into this place: it is looked at again.
        m_previous.erase(slot);
        ++moved;
    }
    if (!m_previous.used && m_previous.entries) m_previous = Table{};
}

void ReceiptStore::applyReceipt(std::string_view line) {
    const Fields f = splitFields(line, m_context.separator);
    if (f.count < kInboundFields || f[5].empty()) return;
    Slot *slot = slotOfText(f[5]);
    if (!slot) return;

    PendingMessage &message = *slot->oldest;
    bool complete = true;
    PendingMessage::Recipient *recipients = message.recipientArray();
    for (std::size_t i = 0; i < message.recipientCount(); ++i) {
        if (cp::iequals_1251(message.recipientAddress(i), f[7]))
            setStatus(recipients[i].status, recipients[i].statusLength, f[6].substr(0, kStatusMax));
        complete = complete && cp::iequals_1251(message.recipientStatus(i), "OK");
    }
    if (complete) removeOldest(*slot);
}

void ReceiptStore::removeOldest(Slot &slot) {
    PendingMessage *message = slot.oldest;
    if (message->m_nextSameHash) {
        slot.oldest = message->m_nextSameHash;
    } else {
        Table &table = &slot >= m_table.entries.get() && &slot < m_table.entries.get() + m_table.size ? m_table
                                                                                                   : m_previous;
        table.erase(slot);
    }
    (message->m_older ? message->m_older->m_newer : m_oldest) = message->m_newer;
    (message->m_newer ? message->m_newer->m_older : m_newest) = message->m_older;
    release(message);
    --m_live;
}

std::vector<std::string> ReceiptStore::subjects() const {
    std::vector<std::string> out;
    std::set<std::string_view> seen;
    for (const PendingMessage *m = m_oldest; m; m = m->m_newer)
        if (!m->subject().empty() && seen.insert(m->subject()).second) out.emplace_back(m->subject());
    return out;
}

const PendingMessage *ReceiptStore::find(std::string_view hash) const {
    const Slot *slot = slotOfText(hash);
    return slot ? slot->oldest : nullptr;
}

std::vector<const PendingMessage *> ReceiptStore::messagesWithHash(std::string_view hash) const {
    std::vector<const PendingMessage *> found;
    if (const Slot *slot = slotOfText(hash))
        for (const PendingMessage *m = slot->oldest; m; m = m->m_nextSameHash) found.push_back(m);
    return found;
}

std::vector<std::unique_ptr<CNotifRecord>> ReceiptStore::pendingMessages() const {
    m_readingSettings = readNotificationsSettings();
    std::vector<std::unique_ptr<CNotifRecord>> rows;
    rows.reserve(m_live);
    for (const PendingMessage *m = m_oldest; m; m = m->m_newer)
        rows.push_back(std::make_unique<CNotifRecord>(m->date(), m->time(), m->hash(), m->protection(), m->subject()));
    return rows;
}

bool ReceiptStore::isOverdue(std::string_view date, std::string_view time, uint32_t timeoutMinutes,
                             std::time_t now) {
    uint64_t sentAt = 0;
    if (!textToFileTime(date, time, sentAt)) return true;
    const uint64_t current = localFileTime(now);
    return current > sentAt && current - sentAt > uint64_t{timeoutMinutes} * 60 * kFileTimeSecond;
}

bool ReceiptStore::reported(std::string_view hash) const {
    return m_reported.count(cp::upper_1251(hash.substr(0, kHashMax))) != 0;
}

void ReceiptStore::checkOverdue(const CNotifRecord &message) {
    const NotificationsSettings settings = m_readingSettings ? *m_readingSettings : readNotificationsSettings();
    if (!(settings.kvitFlags & kKvitCheckOverdue)) return;
    if (!isOverdue(message.date(), message.time(), settings.kvitTimeout)) return;
    if (!(settings.kvitFlags & kKvitReportOverdue) || reported(message.hash())) return;

    const std::string hash(message.hash());
    const std::string subject(message.subject()), time(message.time()), date(message.date());
    m_reported.insert(cp::upper_1251(std::string_view(hash).substr(0, kHashMax)));
    QZ_ReportEvent(QZ_LEVEL_DETAIL, kEventOverdue, static_cast<QZ_DWORD>(settings.kvitTimeout), subject.c_str(),
                   time.c_str(), date.c_str(), hash.c_str());
    if (!(settings.kvitFlags & kKvitSendOverdue)) return;
    const AlertDestination destination = readAlertDestination();
    if (!destination.admAddr.empty())
        SendMailAboutOverdue(destination.outputDirectory, destination.admAddr,
                             static_cast<int>(settings.kvitTimeout), subject, time, date, hash);
}

void ReceiptStore::addReportedHashes(const std::vector<std::string> &hashes) {
    for (const std::string &hash : hashes)
        if (!hash.empty()) m_reported.insert(cp::upper_1251(std::string_view(hash).substr(0, kHashMax)));
}

} // namespace tarmin::monitor

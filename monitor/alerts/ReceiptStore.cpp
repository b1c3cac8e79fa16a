#include "monitor/alerts/ReceiptStore.h"

#include "common/codepage.h"
#include "monitor/alerts/ErrorStatistics.h"
#include "monitor/jobs/AlertJobs.h"
#include "monitor/logs/CGWRecord.h"
#include "monitor/logs/CNotifRecord.h"
#include "qzcom.h"

#include <algorithm>
#include <cstdio>

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

// The index grows by this many slots whenever it is full.
constexpr std::size_t kIndexGrowth = 100000;

const char *const kWaiting = "WAIT";

std::string cut(std::string_view text, std::size_t limit) { return std::string(text.substr(0, limit)); }

std::string_view withoutLineFeed(std::string_view line) {
    if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
    return line;
}

std::vector<std::string_view> splitFields(std::string_view line, char separator) {
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    while (fields.size() < kMaxSeparators) {
        std::size_t at = line.find(separator, start);
        if (at == std::string_view::npos) break;
        fields.push_back(line.substr(start, at - start));
        start = at + 1;
    }
    fields.push_back(line.substr(start));
    return fields;
}

// Hashes compare without regard to case.
int compareNoCase(std::string_view a, std::string_view b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const auto ca = static_cast<unsigned char>(cp::upper_1251(a[i]));
        const auto cb = static_cast<unsigned char>(cp::upper_1251(b[i]));
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
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

ReceiptStore::ReceiptStore(const MonitorContext &context) : m_context(context) {}

ReceiptStore::~ReceiptStore() = default;

void ReceiptStore::runBatch(unsigned lines) {
    const DayLimit dayLimit = readDayLimit();
    const unsigned days = dayLimit.loadDays();
    m_sent.load(m_context.logDirectory.c_str(), kOutgoingPrefix, days);
    m_received.load(m_context.logDirectory.c_str(), kInboundPrefix, days);
    m_catchUp = false;

    // The receipts wait until the outgoing log has been read to its end, so
    // that every message they may confirm is in the store.
    if (readOutgoing(lines, dayLimit) == lines) {
        m_catchUp = true;
        return;
    }
    if (readReceipts(lines) == lines) m_catchUp = true;
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
    const std::vector<std::string_view> f = splitFields(line, m_context.separator);
    if (f.size() < kOutgoingFields) return;
    // Unprotected or failed sendings get no receipts.
    if (f[9] == "0" || f[4] != "0") return;
    if (dayLimit.active()) {
        uint64_t sentAt = 0;
        if (!textToFileTime(f[0], "00:00:00", sentAt) || sentAt / kFileTimeDay < oldestDay) return;
    }

    PendingMessage message;
    message.date = cut(f[0], kDateMax);
    message.time = cut(f[1], kDateMax);
    message.hash = cp::upper_1251(f[5].substr(0, kHashMax));
    message.subject = cut(f[7], kTextMax);
    message.protection = cut(f[9], kProtectionMax);
    for (std::string_view address : splitList(f[6]))
        message.recipients.push_back({cp::lower_1251(address.substr(0, kTextMax)), kWaiting});
    for (std::string_view name : splitList(f[8])) message.attachments.push_back(cut(name, kTextMax));

    m_messages.push_back(std::move(message));
    insertIntoIndex(std::prev(m_messages.end()));
}

unsigned ReceiptStore::readReceipts(unsigned limit) {
    unsigned taken = 0;
    std::string_view line;
    // With nothing waiting the inbound log is left where it is.
    while (taken < limit && !m_messages.empty() && m_received.readLine(line)) {
        ++taken;
        if (!m_received.continuesLine()) applyReceipt(withoutLineFeed(line));
    }
    return taken;
}

void ReceiptStore::applyReceipt(std::string_view line) {
    const std::vector<std::string_view> f = splitFields(line, m_context.separator);
    if (f.size() < kInboundFields || f[5].empty()) return;
    const std::size_t at = indexOf(f[5]);
    if (at == std::string::npos) return;

    PendingMessage &message = *m_index[at];
    bool complete = true;
    for (PendingRecipient &recipient : message.recipients) {
        if (cp::iequals_1251(recipient.address, f[7])) recipient.status = cut(f[6], kStatusMax);
        complete = complete && cp::iequals_1251(recipient.status, "OK");
    }
    if (complete) remove(at);
}

std::size_t ReceiptStore::lowerBound(std::string_view hash) const {
    auto it = std::lower_bound(m_index.begin(), m_index.end(), hash, [](MessageList::iterator m, std::string_view h) {
        return compareNoCase(m->hash, h) < 0;
    });
    return static_cast<std::size_t>(it - m_index.begin());
}

std::size_t ReceiptStore::indexOf(std::string_view hash) const {
    const std::size_t at = lowerBound(hash);
    if (at < m_index.size() && compareNoCase(m_index[at]->hash, hash) == 0) return at;
    return std::string::npos;
}

void ReceiptStore::insertIntoIndex(MessageList::iterator message) {
    if (m_index.size() == m_index.capacity()) m_index.reserve(m_index.capacity() + kIndexGrowth);
    const std::string &hash = message->hash;
    // Most hashes arrive in no particular order, but a message sorting after
    // (or before) every other one needs no search.
    if (m_index.empty() || compareNoCase(m_index.back()->hash, hash) <= 0) {
        m_index.push_back(message);
    } else if (compareNoCase(hash, m_index.front()->hash) < 0) {
        m_index.insert(m_index.begin(), message);
    } else {
        // After the messages of an equal hash, so that the oldest is found first.
        auto it = std::upper_bound(m_index.begin(), m_index.end(), hash,
                                   [](const std::string &h, MessageList::iterator m) {
                                       return compareNoCase(h, m->hash) < 0;
                                   });
        m_index.insert(it, message);
    }
}

void ReceiptStore::remove(std::size_t indexPosition) {
    m_messages.erase(m_index[indexPosition]);
    m_index.erase(m_index.begin() + static_cast<std::ptrdiff_t>(indexPosition));
}

std::vector<std::string> ReceiptStore::subjects() const {
    std::vector<std::string> out;
    std::set<std::string_view> seen;
    for (const PendingMessage &message : m_messages)
        if (!message.subject.empty() && seen.insert(message.subject).second) out.push_back(message.subject);
    return out;
}

const PendingMessage *ReceiptStore::find(std::string_view hash) const {
    const std::size_t at = indexOf(hash);
    return at == std::string::npos ? nullptr : &*m_index[at];
}

std::vector<const PendingMessage *> ReceiptStore::messagesWithHash(std::string_view hash) const {
    // Messages of an equal hash lie together in the index, oldest first.
    std::vector<const PendingMessage *> found;
    for (std::size_t at = lowerBound(hash); at < m_index.size() && compareNoCase(m_index[at]->hash, hash) == 0; ++at)
        found.push_back(&*m_index[at]);
    return found;
}

std::vector<std::unique_ptr<CNotifRecord>> ReceiptStore::pendingMessages() const {
    m_readingSettings = readNotificationsSettings();
    std::vector<std::unique_ptr<CNotifRecord>> rows;
    rows.reserve(m_messages.size());
    for (const PendingMessage &m : m_messages)
        rows.push_back(std::make_unique<CNotifRecord>(m.date, m.time, m.hash, m.protection, m.subject));
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

// Receipt tracking: the outgoing messages that still wait for receipts.
//
// Every protected message the gateway sends successfully (outgoing log
// "tmnsent", result code "0", protection kind other than "0") becomes a
// pending message with one entry per recipient in status "WAIT". Receipts
// come in the inbound log ("tmnrecv"): a line whose hash names a pending
// message sets the status of the recipient whose address it carries (field 7)
// to its notification result (field 6). A message leaves the store when every
// recipient's status is "OK".
//
// The logs are read in batches, each taking at most a given number of lines
// from each log, so that a large backlog is worked off over many timer ticks.
// The outgoing log is read first; receipts are read only once a batch has
// reached the end of the outgoing log (a batch stopped by its limit sets the
// catch-up flag and leaves the inbound log alone). A receipt read before the
// outgoing record it confirms finds no message and is dropped.
//
// Overdue check: a message whose receipts have not all come within
// KvitTimeout minutes of its sending is reported once (event 0xE00E0002,
// KVITFlags bit 1) and, with KVITFlags bit 2 and an AdmAddr, written as an
// alert job for the administrator. Hashes reported in earlier runs (found in
// the operator event files) are not reported again.
//
// Texts are Windows-1251 as the logs hold them.
#pragma once

#include "monitor/app/MonitorSettings.h"
#include "monitor/logs/vfiles.h"
#include "monitor/views/model/MonitorContext.h"

#include <ctime>
#include <list>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace tarmin::monitor {

struct PendingRecipient {
    std::string address; // lower case, up to 256 characters
    std::string status;  // "WAIT" until a receipt comes, then its result (up to 10 characters)
};

struct PendingMessage {
    std::string date, time;  // as in the log (up to 16 characters each)
    std::string hash;        // upper case, up to 64 characters
    std::string protection;  // up to 10 characters
    std::string subject;     // up to 256 characters
    std::vector<PendingRecipient> recipients;
    std::vector<std::string> attachments;
};

class ReceiptStore : public ReceiptTracking {
public:
    // The log directory and the separator are taken from the context at every
    // batch (start-up fills them in after the store is made).
    explicit ReceiptStore(const MonitorContext &context);
    ~ReceiptStore() override;

    void runBatch(unsigned lines) override;
    bool catchUpPending() const override { return m_catchUp; }
    // Also reads KVITFlags and KvitTimeout for the overdue checks of the
    // reading that asks for the rows.
    std::vector<std::unique_ptr<CNotifRecord>> pendingMessages() const override;
    void checkOverdue(const CNotifRecord &message) override;
    void addReportedHashes(const std::vector<std::string> &hashes) override;
    std::vector<const PendingMessage *> messagesWithHash(std::string_view hash) const override;

    // The pending message with this hash (without regard to case), null when
    // none waits.
    const PendingMessage *find(std::string_view hash) const;
    std::size_t size() const { return m_messages.size(); }
    // The distinct non-empty subjects of the messages held, in the order of
    // their first sending.
    std::vector<std::string> subjects() const;
    bool reported(std::string_view hash) const;

    // Whether a message sent on `date` ("dd/mm/yyyy") at `time` ("hh:mm:ss")
    // is overdue at `now` with a timeout in minutes. A date or time that is
    // not a valid calendar time counts as overdue.
    static bool isOverdue(std::string_view date, std::string_view time, uint32_t timeoutMinutes,
                          std::time_t now = std::time(nullptr));

private:
    using MessageList = std::list<PendingMessage>;

    // Outgoing phase; returns the number of lines taken.
    unsigned readOutgoing(unsigned limit, const DayLimit &dayLimit);
    // Inbound phase; returns the number of lines taken.
    unsigned readReceipts(unsigned limit);
    void track(std::string_view line, const DayLimit &dayLimit, uint64_t oldestDay);
    void applyReceipt(std::string_view line);
    void insertIntoIndex(MessageList::iterator message);
    // The first index position whose hash is not below `hash`.
    std::size_t lowerBound(std::string_view hash) const;
    // The index position of a message with this hash, or npos.
    std::size_t indexOf(std::string_view hash) const;
    void remove(std::size_t indexPosition);

    const MonitorContext &m_context;
    // Oldest first.
    MessageList m_messages;
    // The messages sorted by hash without regard to case.
    std::vector<MessageList::iterator> m_index;
    vfiles m_sent;
    vfiles m_received;
    bool m_catchUp = false;
    // Hashes reported as overdue (upper case, up to 64 characters); kept for
    // the whole run.
    std::set<std::string, std::less<>> m_reported;
    // KVITFlags and KvitTimeout of the current notifications reading.
    mutable std::optional<NotificationsSettings> m_readingSettings;
};

} // namespace tarmin::monitor

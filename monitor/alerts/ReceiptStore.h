// Receipt tracking: the outgoing messages that still wait for receipts.
//
// Messages are found by hash through a hash table and kept in the order of
// sending; a backlog of two million messages is read in batches of
// milliseconds each.
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

#include "monitor/core/MonitorSettings.h"
#include "monitor/logs/vfiles.h"
#include "monitor/core/MonitorContext.h"

#include <cstddef>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tarmin::monitor {

// A sent message waiting for receipts. Its texts, its recipients (with the
// status each receipt set) and its attachment names lie in one block of the
// store's memory: two million of them must fit and come and go quickly.
class PendingMessage {
public:
    std::string_view date() const { return {texts(), m_length[0]}; } // as in the log (up to 16 characters)
    std::string_view time() const { return {texts() + m_length[0], m_length[1]}; } // (up to 16 characters)
    // Upper case, up to 64 characters.
    std::string_view hash() const { return {texts() + m_length[0] + m_length[1], m_length[2]}; }
    std::string_view protection() const { return text(3); } // up to 10 characters
    std::string_view subject() const { return text(4); }    // up to 256 characters

    std::size_t recipientCount() const { return m_recipients; }
    // Lower case, up to 256 characters.
    std::string_view recipientAddress(std::size_t i) const;
    // "WAIT" until a receipt comes, then its result (up to 10 characters).
    std::string_view recipientStatus(std::size_t i) const;
    std::size_t attachmentCount() const { return m_attachments; }
    std::string_view attachment(std::size_t i) const;

    // What a message is made of; the texts are cut to their limits, the hash
    // upper-cased and the addresses lower-cased as the message is made.
    struct Parts {
        std::string_view date, time, hash, protection, subject;
        std::span<const std::string_view> recipients;
        std::span<const std::string_view> statuses; // one per recipient; empty: all "WAIT"
        std::span<const std::string_view> attachments;
    };
    // A message of its own, outside a store (for views that show one).
    struct Free {
        void operator()(PendingMessage *message) const;
    };
    using Owned = std::unique_ptr<PendingMessage, Free>;
    static Owned make(const Parts &parts);

private:
    friend class ReceiptStore;
    // A recipient in the block: where its address lies in the texts, and its
    // status.
    struct Recipient {
        uint32_t offset;
        uint16_t length;
        char status[10];
        unsigned char statusLength;
    };
    struct Piece {
        uint32_t offset;
        uint32_t length;
    };
    // The block follows the message in the same allocation.
    std::byte *block() const { return const_cast<std::byte *>(reinterpret_cast<const std::byte *>(this + 1)); }
    Recipient *recipientArray() const { return reinterpret_cast<Recipient *>(block()); }
    Piece *attachmentArray() const { return reinterpret_cast<Piece *>(block() + recipientBytes()); }
    char *texts() const { return reinterpret_cast<char *>(block() + recipientBytes() + pieceBytes()); }
    std::size_t recipientBytes() const { return m_recipients * sizeof(Recipient); }
    std::size_t pieceBytes() const { return m_attachments * sizeof(Piece); }
    std::string_view text(int field) const;
    static std::size_t allocationSize(const Parts &parts);
    // Makes the message in `memory` of allocationSize(parts) bytes.
    static PendingMessage *construct(void *memory, const Parts &parts);

    // The order of sending, and the next newer message of the same hash.
    PendingMessage *m_older = nullptr;
    PendingMessage *m_newer = nullptr;
    PendingMessage *m_nextSameHash = nullptr;
    uint16_t m_length[5] = {}; // date, time, hash, protection, subject, one after another
    uint32_t m_recipients = 0;
    uint32_t m_attachments = 0;
    uint32_t m_allocated = 0; // bytes of the allocation, the message included
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

    // The oldest pending message with this hash (without regard to case),
    // null when none waits.
    const PendingMessage *find(std::string_view hash) const;
    std::size_t size() const { return m_live; }
    std::vector<std::string> subjects() const override;
    bool reported(std::string_view hash) const;

    // Whether a message sent on `date` ("dd/mm/yyyy") at `time` ("hh:mm:ss")
    // is overdue at `now` with a timeout in minutes. A date or time that is
    // not a valid calendar time counts as overdue.
    static bool isOverdue(std::string_view date, std::string_view time, uint32_t timeoutMinutes,
                          std::time_t now = std::time(nullptr));

private:
    // The hash table: open addressing over the messages of each hash, by the
    // hash of the hash text; the text itself is compared in the message.
    // When it grows, its slots move to the larger table a few at a time with
    // every message added, so that no batch waits for all of them.
    struct Slot {
        uint64_t fingerprint = 0;
        PendingMessage *oldest = nullptr; // null: the slot is free; the others follow it
    };
    struct UnmapSlots {
        std::size_t bytes;
        void operator()(Slot *entries) const;
    };
    struct Table {
        std::unique_ptr<Slot[], UnmapSlots> entries; // zero-filled pages, touched as used
        std::size_t size = 0;          // a power of two
        std::size_t used = 0;
        Slot *find(uint64_t fingerprint, std::string_view hash) const;
        Slot &place(uint64_t fingerprint);
        void erase(Slot &slot);
    };

    // Outgoing phase; returns the number of lines taken.
    unsigned readOutgoing(unsigned limit, const DayLimit &dayLimit);
    // Inbound phase; returns the number of lines taken.
    unsigned readReceipts(unsigned limit);
    void track(std::string_view line, const DayLimit &dayLimit, uint64_t oldestDay);
    void applyReceipt(std::string_view line);
    // Memory of the messages: sizes rounded to 16 bytes and up to 1 KiB are
    // taken from large chunks and kept for reuse when a message leaves (an
    // allocation of its own each would cost as much as the rest of the work).
    class Pool {
    public:
        Pool() = default;
        ~Pool();
        Pool(const Pool &) = delete;
        Pool &operator=(const Pool &) = delete;
        void *allocate(std::size_t size);
        void release(void *block, std::size_t size);
        static std::size_t rounded(std::size_t size) { return (size + 15) & ~std::size_t{15}; }

    private:
        static constexpr std::size_t kLargest = 1024;
        static constexpr std::size_t kChunk = 4u << 20;
        std::vector<void *> m_chunks;
        void *m_free[kLargest / 16 + 1] = {};
        char *m_next = nullptr;
        std::size_t m_left = 0;
    };

    // The slot of a hash in stored form (upper case), or null.
    Slot *slotOf(std::string_view storedHash) const;
    Slot *slotOfText(std::string_view hash) const;
    void addToTable(PendingMessage *message);
    void removeOldest(Slot &slot);
    void moveSomeSlots();
    void release(PendingMessage *message);
    // The lists of the line being tracked (kept to spare an allocation per line).
    std::vector<std::string_view> m_addresses, m_names;

    const MonitorContext &m_context;
    // The messages in the order of sending; each one allocation with its
    // texts, freed when it leaves.
    PendingMessage *m_oldest = nullptr;
    PendingMessage *m_newest = nullptr;
    std::size_t m_live = 0;
    Pool m_pool;
    Table m_table;
    Table m_previous; // the table being moved from, while it grows
    std::size_t m_moveAt = 0;
    vfiles m_sent;
    vfiles m_received;
    // A log set is loaded again once it has been read to its end (new files
    // matter only then): a backlog of millions of lines is read without
    // looking into the directory at every batch.
    bool m_sentNeedsLoad = true;
    bool m_receivedNeedsLoad = true;
    // While catching up, the directory is looked into at most every 50 ms.
    uint64_t m_sentLoadedAt = 0;
    uint64_t m_receivedLoadedAt = 0;
    bool m_catchUp = false;
    // Hashes reported as overdue (upper case, up to 64 characters); kept for
    // the whole run.
    std::set<std::string, std::less<>> m_reported;
    // KVITFlags and KvitTimeout of the current notifications reading.
    mutable std::optional<NotificationsSettings> m_readingSettings;
};

} // namespace tarmin::monitor

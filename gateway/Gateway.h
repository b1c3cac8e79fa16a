// tmngwd's engine: takes jobs from the output directory, builds S/MIME
// messages with tmnsmime and delivers them to the peer gateway; receives
// messages and receipts from its own inbox, verifies them, hands the content
// to the local mailbox and returns receipts; logs everything in the three
// log families the monitor reads.
//
// Every step leaves a trace on disk before the next one begins, so that a
// gateway killed at any moment and started again finishes what it had in
// hand without losing or repeating a message, a receipt or a log line
// (README.md, "Stopping and crashes").
#pragma once

#include "gateway/Delivery.h"
#include "gateway/GatewayLog.h"
#include "gateway/JobIntake.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <ctime>
#include <unordered_map>
#include <unordered_set>

struct MhaContext;

namespace tarmin::gateway {

struct GatewayOptions {
    std::string name;       // short name in identifiers (letters, digits, "-", "_")
    std::string address;    // own address: the sender of receipts
    std::string outDir;     // job output directory (the monitor's GWMonOutputDirectory)
    std::string stateDir;   // work directories, journal, rejected files
    std::string inboxDir;   // own Maildir inbox
    std::string mailboxDir; // local mailbox: one directory per received message
    std::string logDir;
    bool sync = true;       // fsync files before they are renamed into place
    // Jobs whose subject contains this text (Windows-1251) are damaged in
    // transit: one byte of their message is flipped on the way to the peer.
    std::string tamperSubject;
};

// What one pass did.
struct PassCounts {
    unsigned jobs = 0, failedJobs = 0, messages = 0, receipts = 0, rejected = 0;
    unsigned total() const { return jobs + failedJobs + messages + receipts + rejected; }
};

class Gateway {
public:
    Gateway(GatewayOptions options, Transport &peer);
    ~Gateway();
    Gateway(const Gateway &) = delete;
    Gateway &operator=(const Gateway &) = delete;

    // Creates the directories, opens the S/MIME context with the own
    // certificate and reads the journal. The common services must be
    // initialised. False with the reason (UTF-8).
    bool open(std::string &why);

    // Finishes the jobs in hand, takes new jobs and reads the inbox, one item
    // at a time; returns between items once `stop` is set.
    PassCounts runOnce(const std::atomic<bool> &stop);

    GatewayLog &log() { return m_log; }
    const GatewayOptions &options() const { return m_options; }

private:
    void sendJob(const std::string &id, PassCounts &counts);
    void receiveFile(const std::string &fileName, PassCounts &counts);
    // False when a receipt could not be made or sent (the message is worked
    // again later).
    bool receiveMessage(const Envelope &envelope, std::string_view smime, bool resumed);
    void receiveReceipt(const Envelope &envelope, std::string_view smime, bool resumed);
    bool takeJob(const std::string &jobName, std::string &id);
    void failJob(const std::string &id, const std::string &why, uint32_t code);
    void finishJob(const std::string &workDir);
    bool journalled(const std::string &id) const { return m_journal.count(id) != 0; }
    bool journal(const std::string &id);

    GatewayOptions m_options;
    Transport &m_peer;
    GatewayLog m_log;
    MhaContext *m_ctx = nullptr;
    bool m_session = false;
    std::unordered_set<std::string> m_journal;
    // Jobs whose delivery failed: when to try again, and the pause.
    struct Retry {
        std::time_t next = 0, delay = 0;
    };
    std::unordered_map<std::string, Retry> m_retry;
    int m_journalFd = -1;
    uint64_t m_taken = 0;
};

} // namespace tarmin::gateway

// What the views need from the application, handed to them instead of the
// application object: where the gateway logs are, how their fields are
// separated, the beep settings of the last refresh, the parts of the monitor
// that take part in a reading when they are present (error statistics,
// receipt tracking), the operator's cryptographic context and the last
// directory of a file dialog. UI-free: the core below the views.
#pragma once

#include "monitor/core/MonitorSettings.h"
#include "monitor/core/OperatorContext.h"

#include <chrono>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tarmin::monitor {

class CErrorRecord;
class CNotifRecord;
class PendingMessage;

// Counts the errors records of a reading for the numerous-error alert.
class ErrorStatisticsSink {
public:
    virtual ~ErrorStatisticsSink() = default;
    // At the start of every errors reading.
    virtual void resetForPass() = 0;
    // For every errors record that passed the filter, when counting is on.
    virtual void count(const CErrorRecord &record, const ErrorsReadingSettings &settings) = 0;
};

// The receipt-tracking store behind the notifications category.
class ReceiptTracking {
public:
    virtual ~ReceiptTracking() = default;
    // One batch of at most `lines` lines of each log.
    virtual void runBatch(unsigned lines) = 0;
    // Set while the last batch stopped at its line limit.
    virtual bool catchUpPending() const = 0;
    // A row for every message still waiting for receipts, oldest first.
    virtual std::vector<std::unique_ptr<CNotifRecord>> pendingMessages() const = 0;
    // Reports a message as overdue when its receipts are late (once per message).
    virtual void checkOverdue(const CNotifRecord &message) = 0;
    // Hashes already reported as overdue in earlier runs (found in the
    // operator event files at start-up): they are not reported again.
    virtual void addReportedHashes(const std::vector<std::string> &hashes) = 0;
    // Every message still waiting whose hash equals `hash` (without regard to
    // case), oldest first: its recipients with their statuses and its
    // attachments, for the notification details dialog.
    virtual std::vector<const PendingMessage *> messagesWithHash(std::string_view hash) const = 0;

    // The distinct non-empty subjects of the messages still waiting, in the
    // order of their first sending (offered by the signing wizard).
    virtual std::vector<std::string> subjects() const = 0;

    // One refresh tick of the catch-up: batches of `lines` lines while the
    // catch-up is pending, at most `batches` of them, and none begun once
    // `budgetMs` milliseconds have passed, so that the window's thread is not
    // held longer than that (and a batch) however slow the machine is now.
    void runCatchUpTick(unsigned lines, int batches, int budgetMs) {
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < batches && catchUpPending(); ++i) {
            if (i > 0 && std::chrono::steady_clock::now() - start >= std::chrono::milliseconds(budgetMs)) break;
            runBatch(lines);
        }
    }
};

struct MonitorContext {
    std::string logDirectory; // ends in "/" (or "\")
    char separator = ',';
    RefreshSettings refresh;  // read at start-up and at every refresh
    bool initialised = false; // start-up has completed
    // Absent until the parts that provide them are built into the program.
    ErrorStatisticsSink *errorStatistics = nullptr;
    ReceiptTracking *receipts = nullptr;
    // The context opened at start-up with the operator's own certificate
    // (closed when ProtectionFlags bit 0 is clear); null when there is none.
    const OperatorContext *operatorContext = nullptr;
    // The last directory chosen in a file dialog (Windows-1251; stored at exit
    // as LastInitDir).
    std::string lastDialogDirectory;
};

} // namespace tarmin::monitor

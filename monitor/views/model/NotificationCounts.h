// The counters of the notification details dialog, kept apart from the
// window: every recipient of a tracked message counts in the total and, by
// the result text of its receipt, as confirmed ("OK"), failed ("ER") or still
// waiting (anything else, "WAIT" until a receipt comes).
#pragma once

#include <string_view>

namespace tarmin::monitor {

enum class ReceiptResult { Confirmed, Failed, Waiting };

// "OK" and "ER" in any letter case; every other text is still waiting.
ReceiptResult receiptResult(std::string_view status);

struct NotificationCounts {
    unsigned recipients = 0;
    unsigned confirmed = 0;
    unsigned failed = 0;

    // Counts one recipient; returns its result.
    ReceiptResult add(std::string_view status);
    // Receipts that have come, whatever their result.
    unsigned received() const { return confirmed + failed; }
};

} // namespace tarmin::monitor

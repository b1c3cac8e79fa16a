// The counters of the notification details dialog.
#include "monitor/views/model/NotificationCounts.h"

#include <gtest/gtest.h>

using namespace tarmin::monitor;

TEST(NotificationCounts, ResultsCountWithoutRegardToCase) {
    NotificationCounts counts;
    EXPECT_EQ(counts.add("ok"), ReceiptResult::Confirmed);
    EXPECT_EQ(counts.add("Er"), ReceiptResult::Failed);
    for (const char *waiting : {"WAIT", "", "OKAY", "E"}) EXPECT_EQ(counts.add(waiting), ReceiptResult::Waiting) << waiting;
    EXPECT_EQ(counts.recipients, 6u);
    EXPECT_EQ(counts.received(), 2u);
    EXPECT_EQ(counts.confirmed, 1u);
    EXPECT_EQ(counts.failed, 1u);
}

// The memory of the records: room given back at once, blocks returned when
// empty, large records from the heap, use from two threads.
#include "monitor/logs/GWRecords.h"
#include "monitor/logs/RecordArena.h"

#include <cstring>
#include <gtest/gtest.h>
#include <random>
#include <thread>

using namespace tarmin::monitor;
using namespace tarmin::monitor::detail;

TEST(RecordArena, RoomOfAJustReleasedRecordIsUsedAgain) {
    void *a = allocateRecord(200);
    void *b = allocateRecord(200);
    releaseRecord(b);
    void *c = allocateRecord(150);
    EXPECT_EQ(c, b); // a line dropped right after parsing costs no memory
    releaseRecord(c);
    releaseRecord(a);
    releaseRecord(nullptr);
}

TEST(RecordArena, ContentsSurviveUntilReleased) {
    std::mt19937 rng(5);
    std::vector<std::pair<unsigned char *, std::size_t>> live;
    for (int i = 0; i < 200000; ++i) {
        std::size_t n = 1 + rng() % 600;
        auto *p = static_cast<unsigned char *>(allocateRecord(n));
        ASSERT_EQ(reinterpret_cast<uintptr_t>(p) % 8, 0u);
        std::memset(p, static_cast<int>(n & 0xFF), n);
        live.emplace_back(p, n);
        // Release a random earlier record now and then, and keep most.
        if (rng() % 3 == 0) {
            std::size_t k = rng() % live.size();
            auto [q, m] = live[k];
            for (std::size_t j = 0; j < m; ++j) ASSERT_EQ(q[j], static_cast<unsigned char>(m & 0xFF));
            releaseRecord(q);
            live[k] = live.back();
            live.pop_back();
        }
    }
    for (auto [q, m] : live) {
        for (std::size_t j = 0; j < m; ++j) ASSERT_EQ(q[j], static_cast<unsigned char>(m & 0xFF));
        releaseRecord(q);
    }
}

TEST(RecordArena, LargeRecordsComeFromTheHeap) {
    std::string big = "05/03/2024,10:15:00,m,err,0," + std::string(4 << 20, 'i');
    auto r = parseRecord(LogKind::Errors, big, ',');
    ASSERT_TRUE(r);
    EXPECT_EQ(static_cast<CErrorRecord &>(*r).information().size(), 4u << 20);
}

TEST(RecordArena, TwoThreads) {
    auto work = [] {
        std::vector<std::unique_ptr<CGWRecord>> kept;
        for (int i = 0; i < 50000; ++i) {
            auto r = parseRecord(LogKind::Errors, "05/03/2024,10:15:00,m,err,E0020004,info " + std::to_string(i), ',');
            if (i % 2) kept.push_back(std::move(r));
        }
        for (std::size_t i = 0; i < kept.size(); ++i)
            if (static_cast<CErrorRecord &>(*kept[i]).information() != "info " + std::to_string(2 * i + 1)) return false;
        return true;
    };
    bool a = false, b = false;
    std::thread t1([&] { a = work(); }), t2([&] { b = work(); });
    t1.join();
    t2.join();
    EXPECT_TRUE(a);
    EXPECT_TRUE(b);
}

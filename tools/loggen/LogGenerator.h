// loggen: writes gateway log files for tests, benchmarks and the demo.
//
// Three families in one directory, each a series of comma-separated files
// with a header line: errors ("tarmin-gw_*.csv"), inbound messages and
// receipts ("tmnrecv_*.csv"), outgoing messages ("tmnsent_*.csv"). Texts are
// Windows-1251. The same options and seed give the same bytes.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <string>

namespace tarmin::loggen {

struct Options {
    std::string dir;
    // History: records spread over the `days` days that end at `end`.
    double days = 3;
    std::time_t end = 0; // 0: now
    uint64_t outgoing = 1000;
    uint64_t inbound = 500;
    uint64_t errors = 300;
    bool withErrors = true, withInbound = true, withOutgoing = true;
    // Rotation: a new file every `rotateLines` lines (0 = off) and whenever
    // the log time enters a new period of `rotateHours` hours (0 = off).
    uint64_t rotateLines = 0;
    double rotateHours = 24;
    // Each family written into this many files at once, lines taking turns.
    unsigned interleave = 1;
    unsigned errorCodes = 8;       // distinct error codes
    unsigned errorPercent = 5;     // messages with an error result code
    unsigned receiptOkPercent = 85; // recipients returning "OK"
    unsigned receiptErPercent = 5;  // recipients returning "ER"; the rest never answer
    unsigned receiptDelayMin = 60, receiptDelayMax = 5400; // seconds
    char separator = ',';
    uint64_t seed = 1;
    bool header = true;
    bool crlf = false;
    // Follow mode: after the history, append `followRate` lines per second
    // (all families together) until stopped or `duration` seconds passed.
    double followRate = 0;
    double duration = 0; // 0: until SIGINT / SIGTERM
    uint64_t followRotateLines = 0;    // 0: --rotate-lines
    double followRotateSeconds = 3600; // 0: off
};

struct FamilyStats {
    uint64_t files = 0, lines = 0, bytes = 0;
};

struct Stats {
    FamilyStats errors, inbound, outgoing;
    uint64_t receipts = 0;
};

// Writes the history and, with followRate > 0, follows until `stop` is set or
// the duration has passed. Throws std::runtime_error on I/O failures.
Stats generate(const Options &options, const std::atomic<bool> &stop);

} // namespace tarmin::loggen

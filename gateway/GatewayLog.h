// The gateway's logs: the three families the monitor reads (errors
// "tarmin-gw", inbound messages and receipts "tmnrecv", outgoing messages
// "tmnsent"), one file per family and local day ("<prefix>_yyyymmdd.csv"),
// each beginning with its header line, Windows-1251, separator ",".
//
// Every line is appended with one write while the writer holds an exclusive
// advisory lock (flock) on the file, so a reader that sees the lock knows a
// line without its line feed is still being written.
//
// Field 3 of the message logs carries the gateway's own identifier of the
// message or receipt; `contains` finds it again, which lets a restarted
// gateway tell whether a line was written before it was stopped.
#pragma once

#include "tools/loggen/LogFormat.h"

#include <ctime>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tarmin::gateway {

struct SentLine {
    std::string from, id;
    uint32_t code = 0;
    std::string hash;
    std::vector<std::string> recipients;
    std::string subject;
    std::vector<std::string> attachments;
    char protection = '0';
};

struct ReceivedLine {
    std::string from, id;
    uint32_t code = 0;
    std::string hash;
    std::string notification; // "OK", "ER" or empty
    std::string address;
    std::string subject;
    std::vector<std::string> attachments;
    char protection = '0';
};

class GatewayLog {
public:
    explicit GatewayLog(std::string directory);
    ~GatewayLog();
    GatewayLog(const GatewayLog &) = delete;
    GatewayLog &operator=(const GatewayLog &) = delete;

    // Each returns false (with errno set) when the line could not be written.
    bool error(const std::string &module, const std::string &kind, uint32_t code, const std::string &info);
    bool sent(const SentLine &line);
    bool received(const ReceivedLine &line);

    // Whether a line with this identifier in field 3 was written to the
    // family today or yesterday.
    bool contains(gwlog::Family family, const std::string &id) const;
    // Whether a line of the family written today or yesterday holds the text.
    bool containsText(gwlog::Family family, const std::string &text) const;

    // The clock of the log (tests move it across midnight).
    std::function<std::time_t()> now = [] { return std::time(nullptr); };

    std::string fileOf(gwlog::Family family, std::time_t t) const;

private:
    bool append(gwlog::Family family, std::time_t t, const std::string &line);
    // Calls `match` with each line of today's and yesterday's file until it
    // returns true.
    bool anyLine(gwlog::Family family, const std::function<bool(std::string_view)> &match) const;

    struct Open {
        int fd = -1;
        std::string day;
    };
    std::string m_dir;
    Open m_open[3];
    gwlog::TimeText m_time;
};

// A text made fit for one field: the separator, ";" in list items and line
// breaks become blanks.
std::string fieldText(const std::string &text, bool listItem = false);

} // namespace tarmin::gateway

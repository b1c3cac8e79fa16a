// Helpers of the monitor log tests: writing gateway log files and reading a
// file set to its end.
#pragma once

#include "monitor/logs/vfiles.h"
#include "testsupport.h"

#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace tarmin::monitor::testing {

namespace fs = std::filesystem;

inline const std::string kErrorsHeader = "Date,Time,Module,Kind,Code,Information\n";

// One errors line "dd/mm/yyyy,hh:mm:ss,<tag>,err,0,<tag>" with a line feed.
inline std::string errLine(const std::string &date, const std::string &time, const std::string &tag) {
    return date + "," + time + ",mod," + "err,0," + tag + "\n";
}

inline void writeText(const fs::path &p, const std::string &text) { tarmin::test::write_file(p, text); }

inline void appendText(const fs::path &p, const std::string &text) {
    std::ofstream out(p, std::ios::binary | std::ios::app);
    out << text;
}

// Writes a log file: the header and the lines.
inline void writeLog(const fs::path &p, const std::vector<std::string> &lines,
                     const std::string &header = kErrorsHeader) {
    std::string text = header;
    for (const auto &l : lines) text += l;
    writeText(p, text);
}

// Sets a file's last write time to `secondsAgo` before now.
inline void ageFile(const fs::path &p, long secondsAgo) {
    struct timespec times[2];
    clock_gettime(CLOCK_REALTIME, &times[0]);
    times[0].tv_sec -= secondsAgo;
    times[1] = times[0];
    utimensat(AT_FDCWD, p.c_str(), times, 0);
}

// Every line available now, as whole lines.
inline std::vector<std::string> readAll(vfiles &set) {
    std::vector<std::string> lines;
    std::string line;
    while (set.getline(line)) lines.push_back(line);
    return lines;
}

// The information field (the tag) of errors lines written by errLine.
inline std::vector<std::string> tags(const std::vector<std::string> &lines) {
    std::vector<std::string> out;
    for (const auto &l : lines) {
        auto comma = l.rfind(',');
        std::string tag = l.substr(comma + 1);
        if (!tag.empty() && tag.back() == '\n') tag.pop_back();
        out.push_back(tag);
    }
    return out;
}

inline std::string dirOf(const fs::path &p) { return p.string() + "/"; }

} // namespace tarmin::monitor::testing

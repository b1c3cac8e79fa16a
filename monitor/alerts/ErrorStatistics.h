// Error statistics: how often each error code of the gateway's errors log
// occurred in the current reading, and the numerous-error alert raised when
// one code reaches the threshold (MaxErrorRepeat).
//
// An alert reports event 0x600E0005 (code, threshold, date, time) through the
// common services and, with a recipient, writes an alert job into the output
// directory. After an alert the code stays quiet for ErrPeriodRepeat minutes
// of log time. The time of each alert survives a restart: the monitor's own
// 0x600E0005 events are found again in the operator event files at start-up
// (restoreFromEventFiles), which also gives the hashes of the letters already
// reported as overdue (event 0xE00E0002, " hash=" at its end).
//
// Times are file times: 100-nanosecond units since 1 January 1601 of the
// local date and time as the log writes them (no time zone is applied).
#pragma once

#include "monitor/core/MonitorContext.h"

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace tarmin::monitor {

// One error code's entry.
struct ERROR_STAT {
    int32_t count = 0;          // occurrences since the last reset or alert
    uint64_t lastAlertTime = 0; // file time of the last alert, 0 = never
    int32_t quiet = 0;          // 1: records up to lastAlertTime + quiet period are ignored
};

// "dd/mm/yyyy" and "hh:mm:ss" as a file time; false when they do not give a
// valid date and time (as SystemTimeToFileTime refuses them).
bool textToFileTime(std::string_view date, std::string_view time, uint64_t &out);

// An error code text read as hexadecimal: an optional "0x"/"0X" is skipped and
// every further character that is not a hexadecimal digit counts as 0.
uint32_t statisticsCode(std::string_view text);

class ErrorStatistics : public ErrorStatisticsSink {
public:
    // Every entry gets count 0 and quiet flag 1; the alert times stay.
    void resetForPass() override;
    // Counts an errors record with the settings of the current reading: the
    // threshold MaxErrorRepeat, the quiet period ErrPeriodRepeat, the output
    // directory and, with KVITFlags bit 4, AdmAddr as the recipient.
    void count(const CErrorRecord &record, const ErrorsReadingSettings &settings) override;

    // Counts one record and raises the alert when its code reaches the
    // threshold (0 counts nothing). An empty recipient reports the event
    // without writing an alert job.
    void count(std::string_view codeText, std::string_view date, std::string_view time, uint32_t threshold,
               uint32_t quietMinutes, const std::string &outputDirectory, const std::string &recipient,
               std::string_view information);

    // Start-up: reads every "tarmin-operator*.csv" of the event directory
    // (the Filename setting) and takes the alert time of every code found
    // in a 0x600E0005 event (count 0, quiet flag 1, the later of the stored
    // and the found time). Returns the hashes of the 0xE00E0002 events (the
    // text after the last " hash=" of a line), in file and line order. Only
    // the user's own regular files are read (the directory may be shared);
    // others, and files that cannot be opened, are skipped.
    std::vector<std::string> restoreFromEventFiles(const std::string &eventDirectory);

    const std::map<uint32_t, ERROR_STAT> &entries() const { return m_entries; }

private:
    // One line of an event file.
    void restoreLine(std::string_view line, std::vector<std::string> &hashes);

    std::map<uint32_t, ERROR_STAT> m_entries;
};

} // namespace tarmin::monitor

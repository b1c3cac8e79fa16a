// One reading pass of a log category of the record list: the category's
// file set hands out the lines written since the previous pass, and every
// line in the day window that parses and passes the filter becomes a record.
// The pass also notes whether a record with a code of the beep list came,
// and counts errors records for the error statistics.
#pragma once

#include "monitor/core/MonitorSettings.h"
#include "monitor/logs/CGWRecord.h"
#include "monitor/logs/vfiles.h"

#include <memory>
#include <string>
#include <vector>

namespace tarmin::monitor {

class ErrorStatisticsSink;
class RecordFilter;

struct ReadingPass {
    std::vector<std::unique_ptr<CGWRecord>> records; // in reading order, oldest first
    bool listedRecordRead = false;                  // a record with a code of the beep list
    std::string listedTime;                         // time text of the last such record
    bool noFiles = false;                           // the directory had no file of the family
    std::string directoryProblem;                   // then why, when the directory cannot be read (Windows-1251)
};

// How a pass treats beeps and error statistics.
struct PassOptions {
    char separator = ',';
    DayLimit dayLimit;
    bool beep = false;
    std::string beepList; // upper case
    // Errors only: the statistics to count into (null: no counting).
    ErrorStatisticsSink *statistics = nullptr;
    const ErrorsReadingSettings *errorsSettings = nullptr;
};

class CategoryReader {
public:
    explicit CategoryReader(LogKind kind);

    LogKind kind() const { return m_kind; }
    // Starts again from the first file at the next pass.
    void restart() { m_files.clear(); }
    // Loads new files from the directory and reads every line available now.
    ReadingPass read(const std::string &directory, const RecordFilter &filter, const PassOptions &options);

    vfiles &files() { return m_files; }

private:
    static uint32_t codeOf(const CGWRecord &record, LogKind kind);
    static bool passes(const RecordFilter &filter, const CGWRecord &record, LogKind kind);

    LogKind m_kind;
    vfiles m_files;
};

} // namespace tarmin::monitor

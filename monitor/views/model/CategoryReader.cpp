#include "monitor/views/model/CategoryReader.h"

#include "monitor/logs/GWRecords.h"
#include "monitor/logs/LogDirectory.h"
#include "monitor/logs/RecordFilter.h"
#include "monitor/core/MonitorContext.h"

namespace tarmin::monitor {

CategoryReader::CategoryReader(LogKind kind) : m_kind(kind) {}

bool CategoryReader::passes(const RecordFilter &filter, const CGWRecord &record, LogKind kind) {
    // The list holds one kind of record, so the test is chosen by the kind
    // rather than found out from each record.
    switch (kind) {
    case LogKind::Errors: return filter.accepts(static_cast<const CErrorRecord &>(record));
    case LogKind::Inbound: return filter.accepts(static_cast<const CInRecord &>(record));
    case LogKind::Outgoing: return filter.accepts(static_cast<const COutRecord &>(record));
    }
    return true;
}

uint32_t CategoryReader::codeOf(const CGWRecord &record, LogKind kind) {
    switch (kind) {
    case LogKind::Errors: return static_cast<const CErrorRecord &>(record).codeNumber();
    case LogKind::Inbound: return static_cast<uint32_t>(static_cast<const CInRecord &>(record).codeNumber());
    case LogKind::Outgoing: return static_cast<uint32_t>(static_cast<const COutRecord &>(record).codeNumber());
    }
    return 0;
}

ReadingPass CategoryReader::read(const std::string &directory, const RecordFilter &filter, const PassOptions &options) {
    ReadingPass pass;
    pass.noFiles = m_files.load(directory.c_str(), logPrefix(m_kind), options.dayLimit.loadDays()) != 0;
    if (pass.noFiles) pass.directoryProblem = logDirectoryProblem(directory);

    const DayWindow window(options.dayLimit.pathsFlags, options.dayLimit.analyzeNday);
    // Without conditions every record passes; the usual case costs nothing.
    const bool filtering = !(filter.conditions() == FilterConditions());
    const bool counting = m_kind == LogKind::Errors && options.statistics && options.errorsSettings &&
                          options.errorsSettings->countErrors();
    std::string_view line;
    while (m_files.readLine(line)) {
        // The rest of a line too long to be handed out whole is no record.
        if (m_files.continuesLine()) continue;
        if (window.active() && !window.accepts(line)) continue;
        std::unique_ptr<CGWRecord> record = parseRecord(m_kind, line, options.separator);
        if (!record || (filtering && !passes(filter, *record, m_kind))) continue;
        if (options.beep && beepListContains(options.beepList, codeOf(*record, m_kind))) {
            pass.listedRecordRead = true;
            pass.listedTime.assign(record->time());
        }
        if (counting)
            options.statistics->count(static_cast<const CErrorRecord &>(*record), *options.errorsSettings);
        pass.records.push_back(std::move(record));
    }
    return pass;
}

} // namespace tarmin::monitor

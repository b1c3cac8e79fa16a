// libFuzzer target: every record parser and the filter tests over arbitrary
// lines. The first byte chooses the separator.
#include "monitor/logs/GWRecords.h"
#include "monitor/logs/LineTime.h"
#include "monitor/logs/RecordFilter.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

using namespace tarmin::monitor;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    char separator = static_cast<char>(data[0]);
    std::string_view line(reinterpret_cast<const char *>(data + 1), size - 1);

    FilterConditions c;
    c.startDate = "01/01/2024";
    c.endTime = "23:00:00";
    c.module = "smtp";
    c.resultCode = "0xE0020004";
    c.subject = "a";
    c.attachments = "*.t?t";
    RecordFilter filter;
    filter.set(c);

    for (LogKind kind : {LogKind::Errors, LogKind::Inbound, LogKind::Outgoing}) {
        auto record = parseRecord(kind, line, separator);
        if (!record) continue;
        (void)record->ImageIndex();
        (void)filter.accepts(*record);
        if (auto *o = dynamic_cast<COutRecord *>(record.get())) (void)o->attachmentList();
        if (auto *i = dynamic_cast<CInRecord *>(record.get())) (void)i->attachmentList();
    }
    LineDateTime v;
    (void)parseLineDateTime(line, v);
    (void)readFilterNumber(line);
    (void)isValidResultCodeText(line);
    (void)wildcardMatch(line, line);
    DayWindow window(1, 7, 1'700'000'000);
    (void)window.accepts(line);
    return 0;
}

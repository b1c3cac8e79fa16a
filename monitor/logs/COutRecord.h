// A record of the gateway's outgoing messages log ("tmnsent*.csv").
//
// Line: date, time, two fields not used here, processing result code
// (hexadecimal), message hash, recipients (";"-separated), subject,
// attachments (";"-separated), protection kind; at least 10 fields, split at
// most 11 times.
#pragma once

#include "monitor/logs/CGWRecord.h"

namespace tarmin::monitor {

class COutRecord : public CGWRecord {
public:
    static constexpr std::size_t kRequiredFields = 10;
    static constexpr std::size_t kMaxSeparators = 11;

    // 9 for an error code, otherwise by protection kind: "1" 8, "2" 6, "3" 7,
    // anything else 5.
    int ImageIndex() const override;
    int Parse(std::string_view line, char separator) override;
    bool ShowDetails(void *owner) const override;

    std::string_view codeText() const { return field(4); }
    std::string_view hash() const { return field(5); }
    std::string_view recipients() const { return field(6); }
    std::string_view subject() const { return field(7); }
    std::string_view attachmentsText() const { return field(8); }
    // The attachment names (the attachments text split at ";", empty pieces
    // skipped); views into the record.
    std::vector<std::string_view> attachmentList() const { return splitList(attachmentsText()); }
    // First character of the protection kind field ('\0' when it is empty).
    char protectionKind() const { return field(9).empty() ? '\0' : field(9)[0]; }
    // The code read as hexadecimal (signed 32-bit).
    int32_t codeNumber() const { return m_code; }
    bool isError() const { return m_code < 0; }
    // "OK" or "Ошибка" (Windows-1251).
    const char *processingResult() const { return processingResultText(isError()); }

protected:
    std::string_view field(std::size_t i) const override { return fieldAt(m_start, i); }

private:
    uint32_t m_start[kRequiredFields + 1] = {};
    int32_t m_code = 0;
};

} // namespace tarmin::monitor

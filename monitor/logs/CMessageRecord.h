// The common part of the outgoing and inbound message records: result code,
// hash, subject, attachments and protection kind, at the field positions of
// each log.
#pragma once

#include "monitor/logs/CGWRecord.h"

namespace tarmin::monitor {

// Subject, Attachments, Protection: the field numbers in the log line; the
// protection kind is the last field that the record needs.
template <std::size_t Subject, std::size_t Attachments, std::size_t Protection>
class CMessageRecord : public CGWRecord {
public:
    static constexpr std::size_t kRequiredFields = Protection + 1;
    static constexpr std::size_t kMaxSeparators = 11;

    // 9 for an error code, otherwise by protection kind: "1" 8, "2" 6, "3" 7,
    // anything else 5.
    int ImageIndex() const override { return isError() ? kImageMessageError : protectionImage(protectionKind()); }
    int Parse(std::string_view line, char separator) override {
        if (!split(line, separator, kMaxSeparators, m_start, kRequiredFields, kRequiredFields)) return 0;
        m_code = static_cast<int32_t>(readHexCode(codeText()));
        return 1;
    }

    std::string_view codeText() const { return field(4); }
    std::string_view hash() const { return field(5); }
    std::string_view subject() const { return field(Subject); }
    std::string_view attachmentsText() const { return field(Attachments); }
    // The attachment names (the attachments text split at ";", empty pieces
    // skipped); views into the record.
    std::vector<std::string_view> attachmentList() const { return splitList(attachmentsText()); }
    // First character of the protection kind field ('\0' when it is empty).
    char protectionKind() const { return field(Protection).empty() ? '\0' : field(Protection)[0]; }
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

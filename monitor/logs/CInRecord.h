// A record of the gateway's inbound messages log ("tmnrecv*.csv"), which also
// carries the receipts that recipients return for outgoing messages.
//
// Line: date, time, two fields not used here, processing result code
// (hexadecimal), message hash (for a receipt: of the outgoing message),
// notification result ("OK", "ER" or empty), correspondent address, subject,
// attachments (";"-separated), protection kind; at least 11 fields, split at
// most 11 times.
#pragma once

#include "monitor/logs/CGWRecord.h"

namespace tarmin::monitor {

class CInRecord : public CGWRecord {
public:
    static constexpr std::size_t kRequiredFields = 11;
    static constexpr std::size_t kMaxSeparators = 11;

    // As COutRecord: 9 for an error code, otherwise by protection kind.
    int ImageIndex() const override;
    int Parse(std::string_view line, char separator) override;
    bool ShowDetails(void *owner) const override;

    std::string_view codeText() const { return field(4); }
    std::string_view hash() const { return field(5); }
    std::string_view notificationResult() const { return field(6); }
    std::string_view address() const { return field(7); }
    std::string_view subject() const { return field(8); }
    std::string_view attachmentsText() const { return field(9); }
    std::vector<std::string_view> attachmentList() const { return splitList(attachmentsText()); }
    char protectionKind() const { return field(10).empty() ? '\0' : field(10)[0]; }
    int32_t codeNumber() const { return m_code; }
    bool isError() const { return m_code < 0; }
    const char *processingResult() const { return processingResultText(isError()); }

protected:
    std::string_view field(std::size_t i) const override { return fieldAt(m_start, i); }

private:
    uint32_t m_start[kRequiredFields + 1] = {};
    int32_t m_code = 0;
};

} // namespace tarmin::monitor

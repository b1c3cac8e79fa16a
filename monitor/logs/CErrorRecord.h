// A record of the gateway's errors log ("tarmin-gw*.csv").
//
// Line: date, time, module, kind ("err", "inf", "notice"), result code
// (hexadecimal), information; at least 6 fields, split at most 10 times,
// fields after the information are ignored.
#pragma once

#include "monitor/logs/CGWRecord.h"

namespace tarmin::monitor {

class CErrorRecord : public CGWRecord {
public:
    static constexpr std::size_t kRequiredFields = 6;
    static constexpr std::size_t kMaxSeparators = 10;

    // 12 for kind "err", 11 for "inf" or "notice" (without regard to case),
    // 13 for an empty or other kind.
    int ImageIndex() const override;
    int Parse(std::string_view line, char separator) override;
    bool ShowDetails(void *owner) const override;

    std::string_view module() const { return field(2); }
    std::string_view kind() const { return field(3); }
    std::string_view codeText() const { return field(4); }
    std::string_view information() const { return field(5); }
    // The code read as hexadecimal (unsigned 32-bit).
    uint32_t codeNumber() const { return m_code; }

protected:
    std::string_view field(std::size_t i) const override { return fieldAt(m_start, i); }

private:
    uint32_t m_start[kRequiredFields + 1] = {};
    uint32_t m_code = 0;
};

} // namespace tarmin::monitor

// A notification row: an outgoing message that receipt tracking still waits
// for. It is filled from the stored message, never parsed from a log line.
#pragma once

#include "monitor/logs/CGWRecord.h"

namespace tarmin::monitor {

class CNotifRecord : public CGWRecord {
public:
    CNotifRecord() = default;
    CNotifRecord(std::string_view date, std::string_view time, std::string_view hash,
                 std::string_view protection, std::string_view subject) {
        Fill(date, time, hash, protection, subject);
    }

    // By protection kind as for message records (no error case).
    int ImageIndex() const override { return protectionImage(m_protection); }
    // Accepts no line: always 0.
    int Parse(std::string_view, char) override { return 0; }
    bool ShowDetails(void *owner) const override;

    // Fills the record from a stored outgoing message; only the first
    // character of the protection kind is kept.
    void Fill(std::string_view date, std::string_view time, std::string_view hash, std::string_view protection,
              std::string_view subject);

    std::string_view hash() const { return m_hash; }
    std::string_view subject() const { return m_subject; }
    char protectionKind() const { return m_protection; }

protected:
    std::string_view field(std::size_t i) const override { return i == 0 ? m_date : i == 1 ? m_time : std::string_view(); }

private:
    std::string m_date, m_time, m_hash, m_subject;
    char m_protection = '\0';
};

} // namespace tarmin::monitor

// A record of the gateway's outgoing messages log ("tmnsent*.csv").
//
// Line: date, time, two fields not used here, processing result code
// (hexadecimal), message hash, recipients (";"-separated), subject,
// attachments (";"-separated), protection kind; at least 10 fields, split at
// most 11 times.
#pragma once

#include "monitor/logs/CMessageRecord.h"

namespace tarmin::monitor {

class COutRecord : public CMessageRecord<7, 8, 9> {
public:
    bool ShowDetails(void *owner) const override;

    std::string_view recipients() const { return field(6); }
};

} // namespace tarmin::monitor

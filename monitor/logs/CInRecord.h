// A record of the gateway's inbound messages log ("tmnrecv*.csv"), which also
// carries the receipts that recipients return for outgoing messages.
//
// Line: date, time, two fields not used here, processing result code
// (hexadecimal), message hash (for a receipt: of the outgoing message),
// notification result ("OK", "ER" or empty), correspondent address, subject,
// attachments (";"-separated), protection kind; at least 11 fields, split at
// most 11 times.
#pragma once

#include "monitor/logs/CMessageRecord.h"

namespace tarmin::monitor {

class CInRecord : public CMessageRecord<8, 9, 10> {
public:
    bool ShowDetails(void *owner) const override;

    std::string_view notificationResult() const { return field(6); }
    std::string_view address() const { return field(7); }
};

} // namespace tarmin::monitor

// All record classes of the gateway logs, and a factory by log kind.
#pragma once

#include "monitor/logs/CErrorRecord.h"
#include "monitor/logs/CInRecord.h"
#include "monitor/logs/CNotifRecord.h"
#include "monitor/logs/COutRecord.h"

#include <memory>

namespace tarmin::monitor {

// A new empty record of the kind that reads lines of the given log.
std::unique_ptr<CGWRecord> makeRecord(LogKind kind);
// Parses a line of the given log; null when it holds no record. The record
// and its line share one allocation.
std::unique_ptr<CGWRecord> parseRecord(LogKind kind, std::string_view line, char separator);

} // namespace tarmin::monitor

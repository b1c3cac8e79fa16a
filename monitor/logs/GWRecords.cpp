#include "monitor/logs/GWRecords.h"

namespace tarmin::monitor {

std::unique_ptr<CGWRecord> makeRecord(LogKind kind) {
    switch (kind) {
    case LogKind::Errors: return std::make_unique<CErrorRecord>();
    case LogKind::Inbound: return std::make_unique<CInRecord>();
    case LogKind::Outgoing: return std::make_unique<COutRecord>();
    }
    return nullptr;
}

std::unique_ptr<CGWRecord> parseRecord(LogKind kind, std::string_view line, char separator) {
    auto record = makeRecord(kind);
    if (!record || !record->Parse(line, separator)) return nullptr;
    return record;
}

} // namespace tarmin::monitor

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

namespace {
template <class R> std::unique_ptr<CGWRecord> parseAs(std::string_view line, char separator) {
    auto record = CGWRecord::create<R>(line.size());
    if (!record->Parse(line, separator)) return nullptr;
    return record;
}
} // namespace

std::unique_ptr<CGWRecord> parseRecord(LogKind kind, std::string_view line, char separator) {
    // The record and its line in one allocation.
    switch (kind) {
    case LogKind::Errors: return parseAs<CErrorRecord>(line, separator);
    case LogKind::Inbound: return parseAs<CInRecord>(line, separator);
    case LogKind::Outgoing: return parseAs<COutRecord>(line, separator);
    }
    return nullptr;
}

} // namespace tarmin::monitor

// The packed receipt entries of TMN_UIShowNotificationStatus, read without
// a window. Every length an entry states is checked against the bytes that
// are really there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarmin::tmnui {

struct NotifyEntry {
    std::string name;        // Windows-1251, up to its zero byte
    std::string address;
    std::string addressType;
    uint32_t recipientType = 0;
    uint32_t receiptResult = 0;
    int64_t signTime = 0;
};

inline constexpr size_t kNotifyEntryHead = 32;

// The first count entries of data (length bytes); nullopt when an entry's
// fixed part or texts run past the end, or there are fewer than count.
std::optional<std::vector<NotifyEntry>> readNotifyEntries(const void *data, size_t length, uint32_t count);

} // namespace tarmin::tmnui

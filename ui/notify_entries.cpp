#include "ui/notify_entries.h"

#include "include/tmnui.h"

#include <cstring>

namespace tarmin::tmnui {

static_assert(sizeof(TmnNotifyEntryHead) == kNotifyEntryHead, "the fixed part of an entry is 32 bytes");

namespace {

// A text of n bytes that ends at its first zero byte within them.
std::string textOf(const unsigned char *p, size_t n) {
    const void *zero = std::memchr(p, 0, n);
    return std::string(reinterpret_cast<const char *>(p),
                       zero ? static_cast<size_t>(static_cast<const unsigned char *>(zero) - p) : n);
}

} // namespace

std::optional<std::vector<NotifyEntry>> readNotifyEntries(const void *data, size_t length, uint32_t count) {
    if (count && !data) return std::nullopt;
    // Every entry takes at least its fixed part: a count larger than that
    // allows is refused before anything is reserved.
    if (count > length / kNotifyEntryHead) return std::nullopt;
    const auto *bytes = static_cast<const unsigned char *>(data);
    std::vector<NotifyEntry> entries;
    entries.reserve(count);
    size_t pos = 0;
    for (uint32_t i = 0; i < count; ++i) {
        if (length - pos < kNotifyEntryHead) return std::nullopt;
        TmnNotifyEntryHead head;
        std::memcpy(&head, bytes + pos, sizeof head); // entries need not be aligned
        pos += kNotifyEntryHead;
        // In 64 bits, so that three lengths near 4 GiB cannot wrap around.
        const uint64_t texts = uint64_t{head.NameLength} + head.AddressLength + head.AddressTypeLength;
        if (texts > length - pos) return std::nullopt;
        NotifyEntry e;
        e.name = textOf(bytes + pos, head.NameLength);
        pos += head.NameLength;
        e.address = textOf(bytes + pos, head.AddressLength);
        pos += head.AddressLength;
        e.addressType = textOf(bytes + pos, head.AddressTypeLength);
        pos += head.AddressTypeLength;
        e.recipientType = head.RecipientType;
        e.receiptResult = head.ReceiptResult;
        e.signTime = head.SignTime;
        entries.push_back(std::move(e));
    }
    return entries;
}

} // namespace tarmin::tmnui

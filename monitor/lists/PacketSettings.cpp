#include "monitor/lists/PacketSettings.h"

#include "common/codepage.h"
#include "monitor/lists/ListSettings.h"
#include "qzcom.h"

#include <charconv>
#include <vector>

namespace tarmin::monitor {

using namespace tarmin::cp::literals;

namespace {

// Buffer sizes of the wizard's reads, terminator included.
constexpr QZ_DWORD kPathSize = 260;
constexpr QZ_DWORD kShortSize = 100;
constexpr QZ_DWORD kLongSize = 1024;

std::string productKey() {
    const char *key = QZ_GetProductKeyName();
    return key ? key : "";
}

class ReadKey {
public:
    explicit ReadKey(const std::string &path) {
        if (QZ_RegOpenKey(&m_key, path.c_str(), QZ_KEY_READ, nullptr) != 0) m_key = nullptr;
    }
    ~ReadKey() {
        if (m_key) QZ_RegCloseKey(m_key);
    }
    ReadKey(const ReadKey &) = delete;
    ReadKey &operator=(const ReadKey &) = delete;
    explicit operator bool() const { return m_key != nullptr; }
    QZ_HKEY get() const { return m_key; }

private:
    QZ_HKEY m_key = nullptr;
};

// A text value; nullopt when it is absent or unreadable.
std::optional<std::string> readText(QZ_HKEY key, const char *name, QZ_DWORD size) {
    std::vector<char> buffer(size, '\0');
    if (QZ_RegGetStringEx(key, name, buffer.data(), size, nullptr) != 0) return std::nullopt;
    return std::string(buffer.data());
}

std::string textOr(QZ_HKEY key, const char *name, QZ_DWORD size, const std::string &def) {
    std::optional<std::string> text = readText(key, name, size);
    return text && !text->empty() ? *text : def;
}

const char *column(PacketListColumn c) { return kPacketListLayout.columns[c].value; }

// A whole unsigned decimal number.
std::optional<uint32_t> decimal(std::string_view text) {
    uint32_t value = 0;
    const char *end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end) return std::nullopt;
    return value;
}

bool isSeparator(char c) { return c == ',' || c == ' ' || c == '\t'; }

} // namespace

std::optional<PacketSettings> loadPacket(uint32_t k) {
    const std::string path = itemKeyPath(kPacketListLayout, productKey(), k);
    ReadKey item(path);
    if (!item) return std::nullopt;
    PacketSettings packet;
    packet.position = k;
    std::optional<std::string> directory = readText(item.get(), column(kPacketPath), kPathSize);
    if (!directory || directory->empty()) return std::nullopt;
    packet.path = *directory;
    if (packet.path.back() != '/' && packet.path.back() != '\\') packet.path += '/';
    packet.mask = textOr(item.get(), column(kPacketMask), kLongSize, "*");
    packet.packetNumber = textOr(item.get(), column(kPacketNumber), kShortSize, std::to_string(k + 1));
    packet.from = textOr(item.get(), column(kPacketSender), kLongSize, "");
    packet.subject = textOr(item.get(), column(kPacketSubject), kLongSize, "Рассылка "_w + packet.packetNumber);
    QZ_RegGetDword(item.get(), column(kPacketProtection), &packet.gatewayProtection, 3);
    packet.signAtWorkstation = textOr(item.get(), column(kPacketOperatorSign), kShortSize, "") == kYes;
    packet.keepFiles = textOr(item.get(), column(kPacketKeepFiles), kShortSize, "") == kYes;

    const NestedList &nested = *kPacketListLayout.nested;
    ReadKey recipients(path + "\\" + nested.key);
    if (recipients) {
        QZ_DWORD count = 0;
        QZ_RegGetDword(recipients.get(), nested.countValue, &count, 0);
        for (QZ_DWORD j = 0; j < count; ++j)
            if (auto address = readText(recipients.get(), std::to_string(j).c_str(), kLongSize))
                packet.recipients.push_back(std::move(*address));
    }
    return packet;
}

std::optional<uint32_t> readPacketCount() {
    ReadKey list(listKeyPath(kPacketListLayout, productKey()));
    QZ_DWORD count = 0;
    if (!list || QZ_QueryDword(list.get(), kPacketListLayout.countValue, &count) != 0 || count == 0 ||
        count > INT32_MAX)
        return std::nullopt;
    return count;
}

std::vector<PacketSettings> loadPackets(uint32_t count) {
    std::vector<PacketSettings> packets;
    for (uint32_t k = 0; k < count; ++k)
        if (auto packet = loadPacket(k)) packets.push_back(std::move(*packet));
    return packets;
}

std::vector<SenderListName> readSenderListNames() {
    std::vector<SenderListName> names;
    const std::string productPath = productKey();
    ReadKey list(listKeyPath(kSenderListLayout, productPath));
    if (!list) return names;
    QZ_DWORD count = 0;
    QZ_RegGetDword(list.get(), kSenderListLayout.countValue, &count, 0);
    for (QZ_DWORD i = 0; i < count; ++i) {
        ReadKey item(itemKeyPath(kSenderListLayout, productPath, i));
        if (!item) continue;
        if (auto name = readText(item.get(), kSenderListLayout.columns[kSenderName].value, kLongSize))
            names.push_back({i, std::move(*name)});
    }
    return names;
}

std::optional<std::string> readSenderPackets(uint32_t index) {
    ReadKey item(itemKeyPath(kSenderListLayout, productKey(), index));
    if (!item) return std::nullopt;
    return readText(item.get(), kSenderListLayout.columns[kSenderPackets].value, kLongSize);
}

std::vector<uint32_t> senderPacketNumbers(std::string_view text) {
    std::vector<uint32_t> numbers;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && isSeparator(text[i])) ++i;
        std::size_t end = i;
        while (end < text.size() && !isSeparator(text[end])) ++end;
        if (end > i)
            if (auto number = decimal(text.substr(i, end - i)); number && *number != 0) numbers.push_back(*number);
        i = end;
    }
    return numbers;
}

std::vector<PacketSettings> packetsByNumber(const std::vector<uint32_t> &numbers,
                                            const std::vector<PacketSettings> &packets) {
    std::vector<PacketSettings> chosen;
    auto byNumber = [&](uint32_t number) -> const PacketSettings * {
        for (const PacketSettings &packet : packets)
            if (decimal(packet.packetNumber) == number) return &packet;
        return nullptr;
    };
    auto byPosition = [&](uint32_t number) -> const PacketSettings * {
        for (const PacketSettings &packet : packets)
            if (packet.position + 1 == number) return &packet;
        return nullptr;
    };
    for (uint32_t number : numbers) {
        const PacketSettings *packet = byNumber(number);
        if (!packet) packet = byPosition(number);
        if (packet) chosen.push_back(*packet);
    }
    return chosen;
}

std::optional<std::vector<PacketSettings>> loadDistributionPackets(std::optional<uint32_t> senderList) {
    const std::optional<uint32_t> count = readPacketCount();
    if (!count) return std::nullopt;
    if (!senderList) return loadPackets(*count);
    const std::optional<std::string> text = readSenderPackets(*senderList);
    if (!text) return std::nullopt;
    return packetsByNumber(senderPacketNumbers(*text), loadPackets(*count));
}

} // namespace tarmin::monitor

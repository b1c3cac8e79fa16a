#include "moncfg/ListItems.h"

#include "common/codepage.h"
#include "moncfg/ConfigTexts.h"

#include <algorithm>

namespace tarmin::moncfg {

using namespace tarmin::cp::literals;
using monitor::ColumnKind;
using monitor::ListLayout;
using monitor::ListRow;

TypedAddress splitAddress(std::string_view stored) {
    for (std::size_t type = 0; type < kAddressTypes.size(); ++type) {
        const std::string_view prefix = kAddressTypes[type];
        if (stored.size() >= prefix.size() && cp::iequals_1251(stored.substr(0, prefix.size()), prefix))
            return {type, std::string(stored.substr(prefix.size()))};
    }
    return {0, std::string(stored)};
}

std::string joinAddress(std::size_t type, std::string_view address) {
    return std::string(kAddressTypes[type < kAddressTypes.size() ? type : 0]) + std::string(address);
}

std::string protectionText(uint32_t gatewayProtection) {
    std::string text;
    if (gatewayProtection & monitor::kGatewayEncrypts) text = "Зашифрованные"_w;
    if (gatewayProtection & monitor::kGatewaySigns) text += (text.empty() ? "" : ", ") + std::string("Подписанные"_w);
    return text;
}

std::string cellText(const ListLayout &layout, const ListRow &row, std::size_t column) {
    if (column >= layout.columns.size()) return {};
    // The one number column of the lists is the packets' protection.
    if (layout.columns[column].kind == ColumnKind::Number) return protectionText(row.number);
    return column < row.cells.size() ? row.cells[column] : std::string();
}

std::vector<std::string> splitPacketNumbers(std::string_view text) {
    std::vector<std::string> numbers;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i < text.size() && text[i] != ',' && text[i] != ' ' && text[i] != '\t') continue;
        if (i > start) numbers.emplace_back(text.substr(start, i - start));
        start = i + 1;
    }
    return numbers;
}

std::string joinPacketNumbers(const std::vector<std::string> &numbers) {
    std::string text;
    for (const std::string &number : numbers) text += (text.empty() ? "" : ",") + number;
    return text;
}

void removeRows(std::vector<ListRow> &rows, std::vector<std::size_t> positions) {
    std::sort(positions.begin(), positions.end());
    positions.erase(std::unique(positions.begin(), positions.end()), positions.end());
    for (auto it = positions.rbegin(); it != positions.rend(); ++it)
        if (*it < rows.size()) rows.erase(rows.begin() + static_cast<std::ptrdiff_t>(*it));
}

std::optional<ItemCheck> checkEmail(std::string_view address, std::string_view name, bool nameAsked) {
    if (address.empty()) return ItemCheck{texts::kNoEmail, ItemField::Address};
    if (nameAsked && name.empty()) return ItemCheck{texts::kNoRecipientName, ItemField::Name};
    return std::nullopt;
}

std::optional<ItemCheck> checkSenderList(std::string_view name, const std::vector<std::string> &numbers) {
    if (name.empty()) return ItemCheck{texts::kNoSenderListName, ItemField::Name};
    if (numbers.empty()) return ItemCheck{texts::kNoSenderPackets, ItemField::PacketNumbers};
    if (joinPacketNumbers(numbers).size() > monitor::kListTextMax)
        return ItemCheck{texts::kSenderPacketsTooLong, ItemField::PacketNumbers};
    return std::nullopt;
}

std::optional<ItemCheck> checkPacket(std::string_view number, const std::vector<ListRow> &packets,
                                     std::optional<std::size_t> editedRow, std::string_view directory,
                                     std::size_t addressCount) {
    if (number.empty()) return ItemCheck{texts::kNoPacketNumber, ItemField::PacketNumber};
    for (std::size_t i = 0; i < packets.size(); ++i)
        if (i != editedRow && packets[i].cells.size() > monitor::kPacketNumber &&
            packets[i].cells[monitor::kPacketNumber] == number)
            return ItemCheck{texts::kPacketNumberUsed, ItemField::PacketNumber};
    if (directory.empty()) return ItemCheck{texts::kNoPacketDirectory, ItemField::Directory};
    if (addressCount == 0) return ItemCheck{texts::kNoPacketAddresses, ItemField::Recipients};
    return std::nullopt;
}

} // namespace tarmin::moncfg

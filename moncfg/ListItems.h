// The items of the list pages without a window: how a row is shown, how the
// item dialogs split and join what they edit, and their checks on "OK".
// Texts are Windows-1251.
#pragma once

#include "monitor/lists/ListSettings.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarmin::moncfg {

// The address types of the e-mail dialogs, in the order of their combo box.
inline constexpr std::array<const char *, 2> kAddressTypes{"SMTP:", "NOTES:"};

struct TypedAddress {
    std::size_t type = 0; // index into kAddressTypes
    std::string address;  // without the type
};
// A stored address split into its type (a known prefix, compared without
// regard to letter case) and the rest; a text without a known prefix is the
// whole address, with the first type.
TypedAddress splitAddress(std::string_view stored);
// The type's text followed by the address.
std::string joinAddress(std::size_t type, std::string_view address);

// "Тип защиты шлюза" of a GWType value: "Зашифрованные" (bit 0),
// "Подписанные" (bit 1), both joined by ", ", or nothing.
std::string protectionText(uint32_t gatewayProtection);

// The text a list shows in a column of a row.
std::string cellText(const monitor::ListLayout &layout, const monitor::ListRow &row, std::size_t column);

// The numbers of a sender list: "SenderPackets" split at commas, blanks and
// tabs; and joined by "," with no blanks.
std::vector<std::string> splitPacketNumbers(std::string_view text);
std::string joinPacketNumbers(const std::vector<std::string> &numbers);

// Removes the rows at the given positions (any order, repeats allowed).
void removeRows(std::vector<monitor::ListRow> &rows, std::vector<std::size_t> positions);

// The field an item check points the operator to.
enum class ItemField { Address, Name, PacketNumber, Directory, Recipients, PacketNumbers };

struct ItemCheck {
    const char *message;
    ItemField field;
};

// "OK" of the e-mail dialog: an address, then (when the dialog asks for it)
// a name.
std::optional<ItemCheck> checkEmail(std::string_view address, std::string_view name, bool nameAsked);
// "OK" of the sender-list dialog: a name, then at least one number (and the
// numbers' text must fit a list cell).
std::optional<ItemCheck> checkSenderList(std::string_view name, const std::vector<std::string> &numbers);
// "OK" of the packet dialog: a number that no other row of the packet list
// uses (editedRow, when editing, does not count), a directory, an address.
std::optional<ItemCheck> checkPacket(std::string_view number, const std::vector<monitor::ListRow> &packets,
                                     std::optional<std::size_t> editedRow, std::string_view directory,
                                     std::size_t addressCount);

} // namespace tarmin::moncfg

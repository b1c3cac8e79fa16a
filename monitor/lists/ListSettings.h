// The lists kept under the product key: the address book, the sender lists
// and the distribution packets. The configuration program writes them and the
// monitor's wizards read them; this is their one description.
//
// A list is a key holding a count value and one sub-key per item, named by
// its position in decimal ("0", "1", ...), with one value per column. A packet
// also keeps its recipients in the nested key "Email": the count "EmailNum"
// and the string values "0", "1", ... Texts are Windows-1251.
//
// loadListRows / saveListRows read and write the items as they stand, for an
// editor: every column of every item, nothing skipped or defaulted. The
// wizards' reading, with its defaults and skipped packets, is in
// PacketSettings.h.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tarmin::monitor {

enum class ColumnKind { Text, Number };

struct ListColumn {
    const char *value; // value name in the item's sub-key
    ColumnKind kind;
};

// A list kept inside each item (the packets' recipients).
struct NestedList {
    const char *key;        // "Email"
    const char *countValue; // "EmailNum"
};

struct ListLayout {
    const char *key;        // below the product key
    const char *countValue; // in that key
    std::span<const ListColumn> columns;
    const NestedList *nested = nullptr;
};

extern const ListLayout kAddressBookLayout; // "GWMonEmailList"
extern const ListLayout kSenderListLayout;  // "SenderList"
extern const ListLayout kPacketListLayout;  // "PacketList"

// Column positions of the three layouts.
enum AddressBookColumn { kBookName, kBookEmail };
enum SenderListColumn { kSenderName, kSenderPackets };
enum PacketListColumn {
    kPacketNumber,
    kPacketPath,
    kPacketSubject,
    kPacketMask,
    kPacketSender,
    kPacketOperatorSign, // "+" or empty
    kPacketProtection,   // number column: GWType
    kPacketKeepFiles,    // "+" or empty
};

// GWType bits.
inline constexpr uint32_t kGatewayEncrypts = 1;
inline constexpr uint32_t kGatewaySigns = 2;
// The text of "OPType" / "NotDelSended" that means yes.
inline constexpr const char *kYes = "+";

// Longest text of a list cell or nested value, in characters (Windows-1251
// bytes); longer texts are cut when saved.
inline constexpr std::size_t kListTextMax = 259;

struct ListRow {
    // One text per column; the cell of a number column stays empty and the
    // number is kept in `number` (a layout has at most one number column).
    std::vector<std::string> cells;
    uint32_t number = 0;
    std::vector<std::string> nested; // the nested list's values, in order
};

enum class ListLoadStatus {
    Ok,
    KeyMissing,  // the list key could not be opened for reading: no rows
    ItemMissing, // an item's sub-key could not be opened: rows up to it
};

struct ListLoad {
    ListLoadStatus status = ListLoadStatus::Ok;
    std::vector<ListRow> rows;
};

// Reads the list below productKey: the count, then items 0 .. count-1 until
// one is missing. A column value that is absent reads as an empty text or 0.
ListLoad loadListRows(const ListLayout &layout, const std::string &productKey);

// Replaces the list below productKey: deletes the list key with everything
// under it, then writes the count and every row as item i in the given
// order (texts cut to kListTextMax), so items are renumbered from 0. It is
// one write batch of the store, so other programs see the old list or the
// new one. False when a write fails; the list is then left as it was, unless
// the caller's own batch was open (which then holds what was written).
bool saveListRows(const ListLayout &layout, const std::string &productKey, const std::vector<ListRow> &rows);

// productKey + "\" + the list key (+ "\" + item).
std::string listKeyPath(const ListLayout &layout, const std::string &productKey);
std::string itemKeyPath(const ListLayout &layout, const std::string &productKey, uint32_t item);

} // namespace tarmin::monitor

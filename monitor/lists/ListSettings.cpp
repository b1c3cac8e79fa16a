#include "monitor/lists/ListSettings.h"

#include "qzcom.h"

#include <array>

namespace tarmin::monitor {

namespace {

constexpr std::array kBookColumns{ListColumn{"CName", ColumnKind::Text}, ListColumn{"Email", ColumnKind::Text}};
constexpr std::array kSenderColumns{ListColumn{"SenderListName", ColumnKind::Text},
                                    ListColumn{"SenderPackets", ColumnKind::Text}};
constexpr std::array kPacketColumns{
    ListColumn{"PacketNum", ColumnKind::Text},     ListColumn{"Path", ColumnKind::Text},
    ListColumn{"Subject", ColumnKind::Text},       ListColumn{"Mask", ColumnKind::Text},
    ListColumn{"SenderAddress", ColumnKind::Text}, ListColumn{"OPType", ColumnKind::Text},
    ListColumn{"GWType", ColumnKind::Number},      ListColumn{"NotDelSended", ColumnKind::Text},
};
constexpr NestedList kPacketRecipients{"Email", "EmailNum"};

// Buffer of a list text: the longest saved text and its terminator, so that
// what the editor saves reads back whole.
constexpr QZ_DWORD kTextBuffer = kListTextMax + 1;

// An open key, closed when the holder goes.
class OpenKey {
public:
    OpenKey() = default;
    ~OpenKey() {
        if (m_key) QZ_RegCloseKey(m_key);
    }
    OpenKey(const OpenKey &) = delete;
    OpenKey &operator=(const OpenKey &) = delete;

    bool open(const std::string &path, QZ_DWORD access) {
        return QZ_RegOpenKey(&m_key, path.c_str(), access, nullptr) == 0 && m_key;
    }
    QZ_HKEY get() const { return m_key; }

private:
    QZ_HKEY m_key = nullptr;
};

std::string readText(QZ_HKEY key, const char *name) {
    char buffer[kTextBuffer];
    if (QZ_RegGetStringEx(key, name, buffer, sizeof buffer, nullptr) != 0) return {};
    return buffer;
}

// Items are written by their paths: each write creates the item's key when
// it is missing, so opening every item for writing first would only add a
// store transaction per item.
bool writeText(const std::string &path, const char *name, const std::string &text) {
    return QZ_SetKeyString(path.c_str(), name, text.substr(0, kListTextMax).c_str(), 0) == 0;
}

void readNested(const NestedList &nested, const std::string &itemPath, ListRow &row) {
    OpenKey key;
    if (!key.open(itemPath + "\\" + nested.key, QZ_KEY_READ)) return;
    QZ_DWORD count = 0;
    QZ_RegGetDword(key.get(), nested.countValue, &count, 0);
    for (QZ_DWORD j = 0; j < count; ++j) {
        char buffer[kTextBuffer];
        if (QZ_RegGetStringEx(key.get(), std::to_string(j).c_str(), buffer, sizeof buffer, nullptr) == 0)
            row.nested.emplace_back(buffer);
    }
}

bool writeNested(const NestedList &nested, const std::string &itemPath, const std::vector<std::string> &values) {
    const std::string path = itemPath + "\\" + nested.key;
    bool ok = QZ_SetKeyDword(path.c_str(), nested.countValue, static_cast<QZ_DWORD>(values.size()), 0) == 0;
    for (std::size_t j = 0; ok && j < values.size(); ++j) ok = writeText(path, std::to_string(j).c_str(), values[j]);
    return ok;
}

bool writeList(const ListLayout &layout, const std::string &productKey, const std::vector<ListRow> &rows) {
    const std::string listPath = listKeyPath(layout, productKey);
    if (QZ_DeleteKey(listPath.c_str(), 0) != 0) return false;
    OpenKey list;
    if (!list.open(listPath, QZ_KEY_ALL_ACCESS)) return false;
    if (QZ_RegSetDword(list.get(), layout.countValue, static_cast<QZ_DWORD>(rows.size())) != 0) return false;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const ListRow &row = rows[i];
        const std::string path = itemKeyPath(layout, productKey, static_cast<uint32_t>(i));
        for (std::size_t c = 0; c < layout.columns.size(); ++c) {
            const ListColumn &column = layout.columns[c];
            const bool written = column.kind == ColumnKind::Number
                                     ? QZ_SetKeyDword(path.c_str(), column.value, row.number, 0) == 0
                                     : writeText(path, column.value, c < row.cells.size() ? row.cells[c] : "");
            if (!written) return false;
        }
        if (layout.nested && !writeNested(*layout.nested, path, row.nested)) return false;
    }
    return true;
}

} // namespace

const ListLayout kAddressBookLayout{"GWMonEmailList", "GWMonEmailListNum", kBookColumns};
const ListLayout kSenderListLayout{"SenderList", "SenderListNum", kSenderColumns};
const ListLayout kPacketListLayout{"PacketList", "PacketListNum", kPacketColumns, &kPacketRecipients};

std::string listKeyPath(const ListLayout &layout, const std::string &productKey) {
    return productKey + "\\" + layout.key;
}

std::string itemKeyPath(const ListLayout &layout, const std::string &productKey, uint32_t item) {
    return listKeyPath(layout, productKey) + "\\" + std::to_string(item);
}

ListLoad loadListRows(const ListLayout &layout, const std::string &productKey) {
    ListLoad result;
    OpenKey list;
    if (!list.open(listKeyPath(layout, productKey), QZ_KEY_READ)) {
        result.status = ListLoadStatus::KeyMissing;
        return result;
    }
    QZ_DWORD count = 0;
    QZ_RegGetDword(list.get(), layout.countValue, &count, 0);
    for (QZ_DWORD i = 0; i < count; ++i) {
        const std::string path = itemKeyPath(layout, productKey, i);
        OpenKey item;
        if (!item.open(path, QZ_KEY_READ)) {
            result.status = ListLoadStatus::ItemMissing;
            break;
        }
        ListRow row;
        row.cells.resize(layout.columns.size());
        for (std::size_t c = 0; c < layout.columns.size(); ++c) {
            const ListColumn &column = layout.columns[c];
            if (column.kind == ColumnKind::Number)
                QZ_RegGetDword(item.get(), column.value, &row.number, 0);
            else
                row.cells[c] = readText(item.get(), column.value);
        }
        if (layout.nested) readNested(*layout.nested, path, row);
        result.rows.push_back(std::move(row));
    }
    return result;
}

bool saveListRows(const ListLayout &layout, const std::string &productKey, const std::vector<ListRow> &rows) {
    // The whole list is one store transaction (unless the caller's batch is
    // open already): thousands of items cost one commit, and readers never
    // see a list half written.
    const bool batch = QZ_BeginWriteBatch() == 0;
    const bool saved = writeList(layout, productKey, rows);
    if (batch && QZ_EndWriteBatch(saved ? 1 : 0) != 0) return false;
    return saved;
}

} // namespace tarmin::monitor

// Loading and saving the pages of the configuration window through the page
// table, without a window: a page's values are its check-box group's 32-bit
// value, the texts of its fields and the rows of its list. Texts are
// Windows-1251; number fields hold their decimal text.
#pragma once

#include "moncfg/PageTable.h"
#include "monitor/lists/ListSettings.h"
#include "qzcom.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarmin::moncfg {

enum class KeyAccess { None, ReadOnly, ReadWrite };

// The product key, open for one load or one save.
class ProductKey {
public:
    // For loading: read and write, else read only (the page is then
    // read-only), else nothing.
    static ProductKey forLoading();
    // For saving: all access, else nothing.
    static ProductKey forSaving();

    ~ProductKey();
    ProductKey(ProductKey &&other) noexcept;
    ProductKey &operator=(ProductKey &&) = delete;
    ProductKey(const ProductKey &) = delete;

    KeyAccess access() const { return m_access; }
    QZ_HKEY get() const { return m_key; }
    const std::string &path() const { return m_path; }

private:
    ProductKey() = default;
    bool open(QZ_DWORD access);

    KeyAccess m_access = KeyAccess::None;
    QZ_HKEY m_key = nullptr;
    std::string m_path;
};

struct PageValues {
    uint32_t flags = 0;              // the check-box group
    std::vector<std::string> fields; // one per field of the table row
    std::vector<monitor::ListRow> rows;
    monitor::ListLoadStatus listStatus = monitor::ListLoadStatus::Ok;
};

// The page's values from the store: missing values take the table's
// defaults; texts are read as stored (references such as %TEMP% are kept).
// key must be open for reading.
PageValues loadPage(const PageSpec &page, const ProductKey &key);

// The values the page shows before anything is read: the defaults.
PageValues defaultPage(const PageSpec &page);

// Writes the page: the check-box group as one value, every field (numbers
// as 32-bit values, texts cut to kFieldTextMax; a text holding a "%"
// reference as an expandable text), the list replaced whole. key must be
// open for saving. False when a write failed.
bool savePage(const PageSpec &page, const PageValues &values, const ProductKey &key);

// Whether a box shows checked: every bit of its flag is set in the value.
inline bool boxChecked(uint32_t value, uint32_t flag) { return (value & flag) == flag; }

// The value of a number field's text (decimal digits; empty reads 0; a value
// beyond 32 bits reads as the largest).
uint32_t fieldNumber(std::string_view text);

} // namespace tarmin::moncfg

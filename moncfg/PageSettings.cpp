#include "moncfg/PageSettings.h"

#include <limits>

namespace tarmin::moncfg {

namespace {

constexpr QZ_DWORD kFieldBuffer = kFieldTextMax + 1;

std::string readField(const Field &field, QZ_HKEY key) {
    if (field.kind == FieldKind::Number) {
        QZ_DWORD value = fieldNumber(field.def);
        QZ_GetDword(key, field.value, &value, value);
        return std::to_string(value);
    }
    char buffer[kFieldBuffer];
    if (QZ_RegGetStringEx(key, field.value, buffer, sizeof buffer, nullptr) != 0) return field.def;
    return buffer;
}

bool writeField(const Field &field, const std::string &text, QZ_HKEY key) {
    if (field.kind == FieldKind::Number) return QZ_RegSetDword(key, field.value, fieldNumber(text)) == 0;
    const std::string stored = text.substr(0, kFieldTextMax);
    const QZ_DWORD type = stored.find('%') != std::string::npos ? QZ_REG_EXPAND_SZ : QZ_REG_SZ;
    return QZ_RegSetStringEx(key, field.value, stored.c_str(), type) == 0;
}

} // namespace

ProductKey ProductKey::forLoading() {
    ProductKey key;
    if (key.open(QZ_KEY_WRITE_READ))
        key.m_access = KeyAccess::ReadWrite;
    else if (key.open(QZ_KEY_READ))
        key.m_access = KeyAccess::ReadOnly;
    return key;
}

ProductKey ProductKey::forSaving() {
    ProductKey key;
    if (key.open(QZ_KEY_ALL_ACCESS)) key.m_access = KeyAccess::ReadWrite;
    return key;
}

bool ProductKey::open(QZ_DWORD access) {
    const char *path = QZ_GetProductKeyName();
    if (!path) return false;
    m_path = path;
    return QZ_RegOpenKey(&m_key, path, access, nullptr) == 0 && m_key;
}

ProductKey::~ProductKey() {
    if (m_key) QZ_RegCloseKey(m_key);
}

ProductKey::ProductKey(ProductKey &&other) noexcept
    : m_access(other.m_access), m_key(other.m_key), m_path(std::move(other.m_path)) {
    other.m_key = nullptr;
    other.m_access = KeyAccess::None;
}

uint32_t fieldNumber(std::string_view text) {
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') break;
        value = value * 10 + static_cast<uint64_t>(c - '0');
        if (value > std::numeric_limits<uint32_t>::max()) return std::numeric_limits<uint32_t>::max();
    }
    return static_cast<uint32_t>(value);
}

PageValues defaultPage(const PageSpec &page) {
    PageValues values;
    if (page.checks) values.flags = page.checks->def;
    for (const Field &field : page.fields) values.fields.emplace_back(field.def);
    return values;
}

PageValues loadPage(const PageSpec &page, const ProductKey &key) {
    PageValues values = defaultPage(page);
    if (page.checks) QZ_GetDword(key.get(), page.checks->value, &values.flags, page.checks->def);
    for (std::size_t i = 0; i < page.fields.size(); ++i) values.fields[i] = readField(page.fields[i], key.get());
    if (page.list) {
        monitor::ListLoad list = monitor::loadListRows(*page.list, key.path());
        values.rows = std::move(list.rows);
        values.listStatus = list.status;
    }
    return values;
}

bool savePage(const PageSpec &page, const PageValues &values, const ProductKey &key) {
    bool saved = true;
    if (page.checks) {
        // Only the bits of the group's boxes are kept.
        uint32_t flags = 0;
        for (const CheckBox &box : page.checks->boxes)
            if (boxChecked(values.flags, box.flag)) flags |= box.flag;
        saved = QZ_RegSetDword(key.get(), page.checks->value, flags) == 0;
    }
    for (std::size_t i = 0; i < page.fields.size(); ++i)
        saved = writeField(page.fields[i], i < values.fields.size() ? values.fields[i] : "", key.get()) && saved;
    if (page.list) saved = monitor::saveListRows(*page.list, key.path(), values.rows) && saved;
    return saved;
}

} // namespace tarmin::moncfg

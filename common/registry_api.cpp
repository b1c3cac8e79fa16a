// The registry functions of qzcom.h over the SQLite settings store: values
// by open key and by key path, open keys, enumeration and deletion.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_set>

#include "common/registry_key.h"
#include "common/registry_store.h"
#include "common/settings.h"
#include "qzcom.h"

using tarmin::qzcom::expand_environment;
using tarmin::qzcom::KeyPath;
using tarmin::qzcom::RegistryStore;
using tarmin::qzcom::RegStatus;
using tarmin::qzcom::RegValue;

namespace {

RegistryStore &store() { return RegistryStore::instance(); }

// No C++ exception leaves the library: each export runs its work through
// this and turns an exception (out of memory) into its failure result.
template <typename Work> auto guarded(decltype(std::declval<Work>()()) on_exception, Work &&work) noexcept {
    try {
        return work();
    } catch (...) {
        return on_exception;
    }
}

// A null value name is the key's default (unnamed) value, as on Windows.
std::string_view value_name(const char *name) { return name ? name : ""; }

char *duplicate(std::string_view s) {
    char *p = static_cast<char *>(std::malloc(s.size() + 1));
    if (!p) return nullptr;
    std::memcpy(p, s.data(), s.size());
    p[s.size()] = '\0';
    return p;
}

// Copies text into a caller buffer, cut to fit and always terminated.
// false when it had to be cut.
bool copy_cut(std::string_view text, char *buffer, size_t size) {
    if (!buffer || size == 0) return text.empty();
    size_t n = std::min(text.size(), size - 1);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    return n == text.size();
}

bool is_text_type(uint32_t t) { return t == QZ_REG_SZ || t == QZ_REG_EXPAND_SZ; }

// Texts are kept without a terminator; data written through QZ_SetKeyBinary
// as a text ends at its first zero byte, as a Windows reader would see it.
std::string_view text_part(std::string_view data) { return data.substr(0, data.find('\0')); }

std::string dword_bytes(QZ_DWORD v) {
    const char b[4] = {char(v & 0xFF), char(v >> 8 & 0xFF), char(v >> 16 & 0xFF), char(v >> 24 & 0xFF)};
    return std::string(b, 4);
}

QZ_DWORD dword_of(std::string_view data) {
    const auto *b = reinterpret_cast<const unsigned char *>(data.data());
    return QZ_DWORD(b[0]) | QZ_DWORD(b[1]) << 8 | QZ_DWORD(b[2]) << 16 | QZ_DWORD(b[3]) << 24;
}

// The result of reading one value for the number and text readers.
enum class Read { ok, absent, unreadable };

Read read_dword(const KeyPath &key, const char *name, QZ_DWORD &out) {
    RegValue v;
    switch (store().get(key, value_name(name), v)) {
    case RegStatus::ok: break;
    case RegStatus::absent: return Read::absent;
    default: return Read::unreadable;
    }
    if (v.type != QZ_REG_DWORD || v.data.size() != 4) return Read::unreadable;
    out = dword_of(v.data);
    return Read::ok;
}

// The text of a value as readers give it: REG_EXPAND_SZ expanded unless raw.
Read read_text(const KeyPath &key, const char *name, bool raw, std::string &out, QZ_DWORD *type = nullptr) {
    RegValue v;
    switch (store().get(key, value_name(name), v)) {
    case RegStatus::ok: break;
    case RegStatus::absent: return Read::absent;
    default: return Read::unreadable;
    }
    if (!is_text_type(v.type)) return Read::unreadable;
    std::string_view text = text_part(v.data);
    out = v.type == QZ_REG_EXPAND_SZ && !raw ? expand_environment(text) : std::string(text);
    if (type) *type = v.type;
    return Read::ok;
}

// Number with default: out is the value or def; 0 when read or absent.
int dword_or_default(const KeyPath *key, const char *name, QZ_DWORD *out, QZ_DWORD def) {
    if (!out) return -1;
    *out = def;
    if (!key) return -1;
    return guarded(-1, [&] {
        QZ_DWORD v = 0;
        switch (read_dword(*key, name, v)) {
        case Read::ok: *out = v; return 0;
        case Read::absent: return 0;
        default: return -1;
        }
    });
}

// Number without default: nonzero (out 0) when absent or unreadable.
int dword_required(const KeyPath *key, const char *name, QZ_DWORD *out) {
    if (!out) return -1;
    *out = 0;
    if (!key) return -1;
    return guarded(-1, [&] {
        QZ_DWORD v = 0;
        Read r = read_dword(*key, name, v);
        if (r != Read::ok) return r == Read::absent ? 1 : -1;
        *out = v;
        return 0;
    });
}

// Text with default: the value, or the default expanded; 1 when absent,
// -1 when unreadable.
int text_or_default(const KeyPath *key, const char *name, const char *def, std::string &out) {
    Read r = key ? read_text(*key, name, false, out) : Read::absent;
    if (r == Read::ok) return 0;
    out = expand_environment(def ? def : "");
    return r == Read::absent && key ? 1 : -1;
}

int text_to_new_string(const KeyPath *key, const char *name, char **out, const char *def) {
    if (!out) return -1;
    *out = nullptr;
    return guarded(-1, [&] {
        std::string text;
        int rc = text_or_default(key, name, def, text);
        *out = duplicate(text);
        return *out ? rc : -1;
    });
}

int text_to_buffer(const KeyPath *key, const char *name, char *buffer, QZ_DWORD size, const char *def) {
    if (!buffer || size == 0) return -1;
    buffer[0] = '\0';
    return guarded(-1, [&] {
        std::string text;
        int rc = text_or_default(key, name, def, text);
        copy_cut(text, buffer, size);
        return rc;
    });
}

int write_value(const KeyPath &key, const char *name, uint32_t type, std::string data) {
    return store().set(key, value_name(name), RegValue{type, std::move(data)}) == RegStatus::ok ? 0 : -1;
}

// The key of an open handle, or null when the handle cannot write.
const KeyPath *writable_key(QZ_HKEY key) { return key && key->writable ? &key->key : nullptr; }

// Handles from QZ_RegOpenKey not yet closed, so that closing one twice (or
// closing something else) is refused instead of freeing memory twice.
struct OpenKeys {
    std::mutex mutex;
    std::unordered_set<QZ_HKEY> keys;
};

OpenKeys &open_keys() {
    static OpenKeys *k = new OpenKeys;
    return *k;
}

// The index-th entry of a sorted list into a buffer: 0, 1 past the end,
// -1 when the name does not fit (cut) or the store fails.
template <typename Entry, typename NameOf>
int enum_entry(RegStatus listed, const std::vector<Entry> &entries, QZ_DWORD index, char *buffer, QZ_DWORD size,
               NameOf name_of) {
    if (listed != RegStatus::ok) return -1;
    if (index >= entries.size()) return 1;
    return copy_cut(name_of(entries[index]), buffer, size) ? 0 : -1;
}

} // namespace

extern "C" {

int QZ_GetDword(QZ_HKEY key, const char *name, QZ_DWORD *out, QZ_DWORD def) {
    return dword_or_default(key ? &key->key : nullptr, name, out, def);
}

int QZ_QueryDword(QZ_HKEY key, const char *name, QZ_DWORD *out) {
    return dword_required(key ? &key->key : nullptr, name, out);
}

int QZ_SetDword(QZ_HKEY key, const char *name, QZ_DWORD value) {
    const KeyPath *k = writable_key(key);
    if (!k) return -1;
    return guarded(-1, [&] { return write_value(*k, name, QZ_REG_DWORD, dword_bytes(value)); });
}

int QZ_GetString(QZ_HKEY key, const char *name, char **out, const char *def) {
    return text_to_new_string(key ? &key->key : nullptr, name, out, def);
}

int QZ_GetStringBuf(QZ_HKEY key, const char *name, char *buffer, QZ_DWORD size, const char *def) {
    return text_to_buffer(key ? &key->key : nullptr, name, buffer, size, def);
}

int QZ_GetKeyString(const char *path, const char *name, char **out, const char *def) {
    if (!path) return text_to_new_string(nullptr, name, out, def);
    return guarded(-1, [&] {
        KeyPath key(path);
        return text_to_new_string(&key, name, out, def);
    });
}

int QZ_GetKeyStringBuf(const char *path, const char *name, char *buffer, QZ_DWORD size, const char *def) {
    if (!path) return text_to_buffer(nullptr, name, buffer, size, def);
    return guarded(-1, [&] {
        KeyPath key(path);
        return text_to_buffer(&key, name, buffer, size, def);
    });
}

int QZ_GetKeyDword(const char *path, const char *name, QZ_DWORD *out) {
    if (out) *out = 0;
    if (!path) return -1;
    return guarded(-1, [&] {
        KeyPath key(path);
        return dword_required(&key, name, out);
    });
}

int QZ_GetKeyDwordEx(const char *path, const char *name, QZ_DWORD *out, QZ_DWORD def, int) {
    if (out) *out = def;
    if (!path) return -1;
    return guarded(-1, [&] {
        KeyPath key(path);
        return dword_or_default(&key, name, out, def);
    });
}

int QZ_GetKeyBinary(const char *path, const char *name, void *buffer, QZ_DWORD *length, int) {
    if (!length) return -1;
    QZ_DWORD room = buffer ? std::min<QZ_DWORD>(*length, QZ_MAX_BINARY) : 0;
    *length = 0;
    if (!path) return -1;
    return guarded(-1, [&] {
        RegValue v;
        if (store().get(KeyPath(path), value_name(name), v) != RegStatus::ok || v.type != QZ_REG_BINARY) return -1;
        *length = static_cast<QZ_DWORD>(v.data.size());
        if (v.data.size() > room) return -1; // nothing copied; *length tells the size
        if (!v.data.empty()) std::memcpy(buffer, v.data.data(), v.data.size());
        return 0;
    });
}

int QZ_GetKeyValue(const char *path, const char *name, void *buffer, QZ_DWORD *length, QZ_DWORD *type,
                   const void *def_data, QZ_DWORD def_length, QZ_DWORD def_type, int) {
    if (!length) return -1;
    const QZ_DWORD room = buffer ? *length : 0;
    const QZ_DWORD expected = type ? *type : 0;
    *length = 0;
    return guarded(-1, [&] {
        RegValue v;
        RegStatus st = path ? store().get(KeyPath(path), value_name(name), v) : RegStatus::absent;
        if (st == RegStatus::absent) {
            if (def_length && !def_data) return -1;
            v = RegValue{def_type, std::string(static_cast<const char *>(def_data), def_length)};
        } else if (st != RegStatus::ok) {
            return -1;
        } else {
            if (type) *type = v.type;
            if (expected && expected != v.type) return -1;
            // A text is handed out terminated, the terminator counted, as the
            // Windows registry does.
            if (is_text_type(v.type)) v.data = std::string(text_part(v.data)) + '\0';
        }
        *length = static_cast<QZ_DWORD>(v.data.size());
        if (v.data.size() > room) return -1; // nothing copied; *length tells the size
        if (!v.data.empty()) std::memcpy(buffer, v.data.data(), v.data.size());
        if (type) *type = v.type;
        return 0;
    });
}

int QZ_SetKeyDword(const char *path, const char *name, QZ_DWORD value, int) {
    if (!path) return -1;
    return guarded(-1, [&] { return write_value(KeyPath(path), name, QZ_REG_DWORD, dword_bytes(value)); });
}

int QZ_SetKeyString(const char *path, const char *name, const char *value, int) {
    if (!path || !value) return -1;
    return guarded(-1, [&] { return write_value(KeyPath(path), name, QZ_REG_SZ, value); });
}

int QZ_SetKeyBinary(const char *path, const char *name, const void *data, QZ_DWORD length, QZ_DWORD type, int) {
    if (!path || (length && !data) || type < QZ_REG_SZ || type > QZ_REG_DWORD) return -1;
    if (type == QZ_REG_DWORD && length != 4) return -1;
    return guarded(-1, [&] {
        // Refused before anything is copied: a length the store cannot hold
        // (over 2 GiB it would not even fit SQLite's int) is never cut short.
        if (length > store().max_value_size()) return -1;
        std::string bytes(static_cast<const char *>(data), length);
        if (is_text_type(type)) bytes = std::string(text_part(bytes));
        return write_value(KeyPath(path), name, type, std::move(bytes));
    });
}

int QZ_DeleteKey(const char *path, int) {
    if (!path) return -1;
    return guarded(-1, [&] { return store().remove_key(KeyPath(path)) == RegStatus::ok ? 0 : -1; });
}

int QZ_DeleteValue(const char *path, const char *name) {
    if (!path) return -1;
    return guarded(-1, [&] {
        RegStatus st = store().remove_value(KeyPath(path), value_name(name));
        return st == RegStatus::ok ? 0 : st == RegStatus::absent ? 1 : -1;
    });
}

int QZ_IsReadOnly(void) {
    return guarded(1, [] { return store().read_only() ? 1 : 0; });
}

int QZ_BeginWriteBatch(void) {
    return guarded(-1, [] { return store().begin_batch() == RegStatus::ok ? 0 : -1; });
}

int QZ_EndWriteBatch(int commit) {
    return guarded(-1, [&] { return store().end_batch(commit != 0) == RegStatus::ok ? 0 : -1; });
}

int QZ_RegOpenKey(QZ_HKEY *out, const char *path, QZ_DWORD access, QZ_HWND) {
    if (!out) return -1;
    *out = nullptr;
    if (!path) return -1;
    bool write = access == QZ_KEY_WRITE_READ || access == QZ_KEY_ALL_ACCESS;
    if (!write && access != QZ_KEY_READ) return -1;
    return guarded(-1, [&] {
        KeyPath key(path);
        RegStatus st = write ? store().create_key(key) : store().key_exists(key);
        if (st != RegStatus::ok) return -1;
        auto *handle = new QzKey{std::move(key), write};
        OpenKeys &open = open_keys();
        std::lock_guard lock(open.mutex);
        try {
            open.keys.insert(handle);
        } catch (...) {
            delete handle;
            throw;
        }
        *out = handle;
        return 0;
    });
}

int QZ_RegGetDword(QZ_HKEY key, const char *name, QZ_DWORD *out, QZ_DWORD def) {
    return QZ_GetDword(key, name, out, def);
}

int QZ_RegGetString(QZ_HKEY key, const char *name, char *buffer, QZ_DWORD size, const char *def) {
    return QZ_GetStringBuf(key, name, buffer, size, def);
}

int QZ_RegGetStringEx(QZ_HKEY key, const char *name, char *buffer, QZ_DWORD size, QZ_DWORD *type) {
    if (type) *type = 0;
    if (!buffer || size == 0) return -1;
    buffer[0] = '\0';
    if (!key) return -1;
    return guarded(-1, [&] {
        std::string text;
        Read r = read_text(key->key, name, true, text, type);
        if (r != Read::ok) return r == Read::absent ? 1 : -1;
        copy_cut(text, buffer, size);
        return 0;
    });
}

int QZ_RegSetDword(QZ_HKEY key, const char *name, QZ_DWORD value) { return QZ_SetDword(key, name, value); }

int QZ_RegSetString(QZ_HKEY key, const char *name, const char *value) {
    return QZ_RegSetStringEx(key, name, value, QZ_REG_SZ);
}

int QZ_RegSetStringEx(QZ_HKEY key, const char *name, const char *value, QZ_DWORD type) {
    const KeyPath *k = writable_key(key);
    if (!k || !value || !is_text_type(type)) return -1;
    return guarded(-1, [&] { return write_value(*k, name, type, value); });
}

int QZ_RegCloseKey(QZ_HKEY key) {
    if (!key) return -1;
    OpenKeys &open = open_keys();
    {
        std::lock_guard lock(open.mutex);
        // The settings key belongs to the library and stays; anything else
        // not open (closed already, never opened) is refused untouched.
        if (open.keys.erase(key) == 0) return tarmin::qzcom::is_settings_key(key) ? 0 : -1;
    }
    delete key;
    return 0;
}

int QZ_RegEnumKey(const char *path, QZ_DWORD index, char *buffer, QZ_DWORD size) {
    if (!buffer || size == 0) return -1;
    buffer[0] = '\0';
    return guarded(-1, [&] {
        std::vector<std::string> keys;
        RegStatus st = store().sub_keys(KeyPath(path ? path : ""), keys);
        return enum_entry(st, keys, index, buffer, size, [](const std::string &k) { return std::string_view(k); });
    });
}

int QZ_RegEnumValue(const char *path, QZ_DWORD index, char *buffer, QZ_DWORD size, QZ_DWORD *type) {
    if (type) *type = 0;
    if (!buffer || size == 0) return -1;
    buffer[0] = '\0';
    return guarded(-1, [&] {
        std::vector<std::pair<std::string, uint32_t>> values;
        RegStatus st = store().values(KeyPath(path ? path : ""), values);
        int rc = enum_entry(st, values, index, buffer, size, [](const auto &v) { return std::string_view(v.first); });
        if (rc != 1 && st == RegStatus::ok && type) *type = values[index].second;
        return rc;
    });
}

} // extern "C"

namespace tarmin::qzcom {

std::string setting_directory(const char *name, std::string_view def, bool *read) {
    QZ_HKEY key = QZ_GetSettingsKey(0);
    std::string text;
    Read r = key ? read_text(key->key, name, true, text) : Read::absent;
    if (read) *read = r == Read::ok;
    return expand_environment(r == Read::ok ? std::string_view(text) : def);
}

} // namespace tarmin::qzcom

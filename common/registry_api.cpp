// The registry functions of qzcom.h, over the SQLite settings store.
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "common/registry_store.h"
#include "qzcom.h"

using tarmin::qzcom::normalize_key_path;
using tarmin::qzcom::RegistryStore;
using tarmin::qzcom::RegStatus;
using tarmin::qzcom::RegValue;

struct QzKey {
    std::string path;
    bool writable = false;
};

namespace {

constexpr const char *kVendorKey = "Software\\KELVORIA\\";
constexpr const char *kProfilesKey = "\\Profiles\\";

// What QZ_Initialize established for this process.
struct Session {
    std::mutex mutex;
    bool initialised = false;
    std::string product_key;
    QzKey settings;
};

Session &session() {
    static Session *s = new Session;
    return *s;
}

RegistryStore &store() { return RegistryStore::instance(); }

char *duplicate(const std::string &s) {
    char *p = static_cast<char *>(std::malloc(s.size() + 1));
    if (p) std::memcpy(p, s.c_str(), s.size() + 1);
    return p;
}

// Copies text into a caller buffer, cutting it and always terminating it.
void copy_cut(const std::string &text, char *buffer, QZ_DWORD size) {
    if (!buffer || size == 0) return;
    size_t n = std::min<size_t>(text.size(), size - 1);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
}

std::string expand(const std::string &text) {
    char *e = QZ_ExpandEnvironment(text.c_str());
    std::string out = e ? e : text;
    QZ_Free(e);
    return out;
}

bool is_text_type(uint32_t t) { return t == QZ_REG_SZ || t == QZ_REG_EXPAND_SZ; }

// The text of a value as readers give it: REG_EXPAND_SZ expanded; a stored
// terminator (from binary writers) cut.
bool read_text(const std::string &path, const char *name, std::string &out) {
    if (!name) name = "";
    RegValue v;
    if (store().get(path, name, v) != RegStatus::ok || !is_text_type(v.type)) return false;
    if (auto z = v.data.find('\0'); z != std::string::npos) v.data.resize(z);
    out = v.type == QZ_REG_EXPAND_SZ ? expand(v.data) : v.data;
    return true;
}

// 0 read, 1 absent, -1 present but not a number or the store failed.
int read_dword(const std::string &path, const char *name, QZ_DWORD &out) {
    if (!name) name = "";
    RegValue v;
    switch (store().get(path, name, v)) {
    case RegStatus::ok: break;
    case RegStatus::absent: return 1;
    default: return -1;
    }
    if (v.type != QZ_REG_DWORD || v.data.size() != 4) return -1;
    const auto *b = reinterpret_cast<const unsigned char *>(v.data.data());
    out = QZ_DWORD(b[0]) | QZ_DWORD(b[1]) << 8 | QZ_DWORD(b[2]) << 16 | QZ_DWORD(b[3]) << 24;
    return 0;
}

int write_value(const std::string &path, const char *name, uint32_t type, std::string data) {
    if (!name) name = "";
    return store().set(path, name, RegValue{type, std::move(data)}) == RegStatus::ok ? 0 : -1;
}

std::string dword_bytes(QZ_DWORD v) {
    char b[4] = {char(v & 0xFF), char(v >> 8 & 0xFF), char(v >> 16 & 0xFF), char(v >> 24 & 0xFF)};
    return std::string(b, 4);
}

// Reader with default shared by the text functions: out is the value or the
// expanded default; nonzero when the value was absent or unreadable.
int text_or_default(const std::string &path, const char *name, const char *def, std::string &out) {
    if (read_text(path, name, out)) return 0;
    out = expand(def ? def : "");
    return 1;
}

int dword_or_default(const std::string &path, const char *name, QZ_DWORD *out, QZ_DWORD def) {
    if (!out) return -1;
    *out = def;
    QZ_DWORD v = 0;
    int rc = read_dword(path, name, v);
    if (rc == 0) *out = v;
    return rc < 0 ? -1 : 0;
}

int dword_required(const std::string &path, const char *name, QZ_DWORD *out) {
    if (!out) return -1;
    *out = 0;
    QZ_DWORD v = 0;
    if (read_dword(path, name, v) != 0) return -1;
    *out = v;
    return 0;
}

int initialise(const char *product, const char *profile, QZ_DWORD version) {
    if (!product || !*product || version != QZ_VERSION) return -2;
    if (!store().open()) return -1;
    Session &s = session();
    std::lock_guard lock(s.mutex);
    s.product_key = std::string(kVendorKey) + product;
    if (profile && *profile) s.product_key += std::string(kProfilesKey) + profile;
    s.product_key = normalize_key_path(s.product_key);
    s.settings.path = s.product_key;
    s.settings.writable = !store().read_only();
    s.initialised = true;
    return 0;
}

template <typename F> auto guarded(F f, decltype(f()) on_exception) noexcept {
    try {
        return f();
    } catch (...) {
        return on_exception;
    }
}

} // namespace

extern "C" {

int QZ_Initialize(const char *product, QZ_DWORD version) {
    return guarded([&] { return initialise(product, nullptr, version); }, -1);
}

int QZ_InitializeWithProfile(const char *product, const char *profile, QZ_DWORD version) {
    return guarded([&] { return initialise(product, profile, version); }, -1);
}

void QZ_Finalize(void) {
    Session &s = session();
    {
        std::lock_guard lock(s.mutex);
        s.initialised = false;
    }
    QZ_ClearReports(3);
}

const char *QZ_GetProductKeyName(void) {
    Session &s = session();
    std::lock_guard lock(s.mutex);
    return s.initialised ? s.product_key.c_str() : nullptr;
}

int QZ_GetRegistryKeyString(char *buffer, size_t size) {
    if (!buffer || size == 0) return -1;
    buffer[0] = '\0';
    const char *key = QZ_GetProductKeyName();
    if (!key || std::strlen(key) + 1 > size) return -1;
    std::memcpy(buffer, key, std::strlen(key) + 1);
    return 0;
}

QZ_HKEY QZ_GetSettingsKey(int which) {
    Session &s = session();
    std::lock_guard lock(s.mutex);
    return s.initialised && which == 0 ? &s.settings : nullptr;
}

int QZ_GetDword(QZ_HKEY key, const char *name, QZ_DWORD *out, QZ_DWORD def) {
    if (!key) {
        if (out) *out = def;
        return -1;
    }
    return guarded([&] { return dword_or_default(key->path, name, out, def); }, -1);
}

int QZ_QueryDword(QZ_HKEY key, const char *name, QZ_DWORD *out) {
    if (!key) {
        if (out) *out = 0;
        return -1;
    }
    return guarded([&] { return dword_required(key->path, name, out); }, -1);
}

int QZ_SetDword(QZ_HKEY key, const char *name, QZ_DWORD value) {
    if (!key) return -1;
    return guarded([&] { return write_value(key->path, name, QZ_REG_DWORD, dword_bytes(value)); }, -1);
}

int QZ_GetString(QZ_HKEY key, const char *name, char **out, const char *def) {
    return QZ_GetKeyString(key ? key->path.c_str() : nullptr, name, out, def);
}

int QZ_GetStringBuf(QZ_HKEY key, const char *name, char *buffer, QZ_DWORD size, const char *def) {
    return QZ_GetKeyStringBuf(key ? key->path.c_str() : nullptr, name, buffer, size, def);
}

int QZ_GetKeyString(const char *path, const char *name, char **out, const char *def) {
    if (!out) return -1;
    *out = nullptr;
    return guarded(
        [&] {
            std::string text;
            int rc = path ? text_or_default(path, name, def, text) : (text = expand(def ? def : ""), 1);
            *out = duplicate(text);
            return *out ? rc : -1;
        },
        -1);
}

int QZ_GetKeyStringBuf(const char *path, const char *name, char *buffer, QZ_DWORD size, const char *def) {
    if (!buffer || size == 0) return -1;
    buffer[0] = '\0';
    return guarded(
        [&] {
            std::string text;
            int rc = path ? text_or_default(path, name, def, text) : (text = expand(def ? def : ""), 1);
            copy_cut(text, buffer, size);
            return rc;
        },
        -1);
}

int QZ_GetKeyDword(const char *path, const char *name, QZ_DWORD *out) {
    if (!path) {
        if (out) *out = 0;
        return -1;
    }
    return guarded([&] { return dword_required(path, name, out); }, -1);
}

int QZ_GetKeyDwordEx(const char *path, const char *name, QZ_DWORD *out, QZ_DWORD def, int) {
    if (!path) {
        if (out) *out = def;
        return -1;
    }
    return guarded([&] { return dword_or_default(path, name, out, def); }, -1);
}

int QZ_GetKeyBinary(const char *path, const char *name, void *buffer, QZ_DWORD *length, int) {
    if (!path || !buffer || !length) return -1;
    return guarded(
        [&] {
            RegValue v;
            if (store().get(path, name ? name : "", v) != RegStatus::ok || v.type != QZ_REG_BINARY) return -1;
            QZ_DWORD room = std::min<QZ_DWORD>(*length, QZ_MAX_BINARY);
            if (v.data.size() > room) return -1;
            std::memcpy(buffer, v.data.data(), v.data.size());
            *length = static_cast<QZ_DWORD>(v.data.size());
            return 0;
        },
        -1);
}

int QZ_GetKeyValue(const char *path, const char *name, void *buffer, QZ_DWORD *length, QZ_DWORD *type,
                   const void *def_data, QZ_DWORD def_length, QZ_DWORD def_type, int) {
    if (!buffer || !length) return -1;
    return guarded(
        [&] {
            QZ_DWORD expected = type ? *type : 0;
            RegValue v;
            RegStatus st = path ? store().get(path, name ? name : "", v) : RegStatus::absent;
            if (st == RegStatus::failed) return -1;
            if (st == RegStatus::absent) {
                if (def_length > *length || (def_length && !def_data)) return -1;
                if (def_length) std::memcpy(buffer, def_data, def_length);
                *length = def_length;
                if (type) *type = def_type;
                return 0;
            }
            if (expected && expected != v.type) return -1;
            if (v.data.size() > *length) return -1;
            std::memcpy(buffer, v.data.data(), v.data.size());
            *length = static_cast<QZ_DWORD>(v.data.size());
            if (type) *type = v.type;
            return 0;
        },
        -1);
}

int QZ_SetKeyDword(const char *path, const char *name, QZ_DWORD value, int) {
    if (!path) return -1;
    return guarded([&] { return write_value(path, name, QZ_REG_DWORD, dword_bytes(value)); }, -1);
}

int QZ_SetKeyString(const char *path, const char *name, const char *value, int) {
    if (!path || !value) return -1;
    return guarded([&] { return write_value(path, name, QZ_REG_SZ, value); }, -1);
}

int QZ_SetKeyBinary(const char *path, const char *name, const void *data, QZ_DWORD length, QZ_DWORD type, int) {
    if (!path || (length && !data) || type < QZ_REG_SZ || type > QZ_REG_DWORD) return -1;
    if (type == QZ_REG_DWORD && length != 4) return -1;
    return guarded(
        [&] { return write_value(path, name, type, std::string(static_cast<const char *>(data), length)); }, -1);
}

int QZ_DeleteKey(const char *path, int) {
    if (!path || normalize_key_path(path).empty()) return -1; // never the whole tree
    return guarded([&] { return store().remove_key(path) == RegStatus::ok ? 0 : -1; }, -1);
}

int QZ_DeleteValue(const char *path, const char *name) {
    if (!path || !name) return -1;
    return guarded(
        [&] {
            RegStatus st = store().remove_value(path, name);
            return st == RegStatus::ok ? 0 : st == RegStatus::absent ? 1 : -1;
        },
        -1);
}

int QZ_RegOpenKey(QZ_HKEY *out, const char *path, QZ_DWORD access, QZ_HWND) {
    if (!out) return -1;
    *out = nullptr;
    if (!path) return -1;
    bool write = access == QZ_KEY_WRITE_READ || access == QZ_KEY_ALL_ACCESS;
    if (!write && access != QZ_KEY_READ) return -1;
    return guarded(
        [&] {
            if (write) {
                if (store().create_key(path) != RegStatus::ok) return -1;
            } else if (!store().key_exists(path)) {
                return -1;
            }
            *out = new QzKey{normalize_key_path(path), write};
            return 0;
        },
        -1);
}

int QZ_RegGetDword(QZ_HKEY key, const char *name, QZ_DWORD *out, QZ_DWORD def) {
    return QZ_GetDword(key, name, out, def);
}

int QZ_RegGetString(QZ_HKEY key, const char *name, char *buffer, QZ_DWORD size, const char *def) {
    return QZ_GetStringBuf(key, name, buffer, size, def);
}

int QZ_RegGetStringEx(QZ_HKEY key, const char *name, char *buffer, QZ_DWORD size, QZ_DWORD *type) {
    if (!buffer || size == 0) return -1;
    buffer[0] = '\0';
    if (!key) return -1;
    return guarded(
        [&] {
            RegValue v;
            if (store().get(key->path, name ? name : "", v) != RegStatus::ok || !is_text_type(v.type)) return -1;
            if (auto z = v.data.find('\0'); z != std::string::npos) v.data.resize(z);
            copy_cut(v.data, buffer, size);
            if (type) *type = v.type;
            return 0;
        },
        -1);
}

int QZ_RegSetDword(QZ_HKEY key, const char *name, QZ_DWORD value) {
    if (!key || !key->writable) return -1;
    return QZ_SetDword(key, name, value);
}

int QZ_RegSetString(QZ_HKEY key, const char *name, const char *value) {
    return QZ_RegSetStringEx(key, name, value, QZ_REG_SZ);
}

int QZ_RegSetStringEx(QZ_HKEY key, const char *name, const char *value, QZ_DWORD type) {
    if (!key || !key->writable || !value || !is_text_type(type)) return -1;
    return guarded([&] { return write_value(key->path, name, type, value); }, -1);
}

int QZ_RegCloseKey(QZ_HKEY key) {
    if (!key || key == QZ_GetSettingsKey(0)) return key ? 0 : -1;
    delete key;
    return 0;
}

int QZ_RegEnumKey(const char *path, QZ_DWORD index, char *buffer, QZ_DWORD size) {
    if (!buffer || size == 0) return -1;
    buffer[0] = '\0';
    return guarded(
        [&] {
            auto keys = store().sub_keys(path ? path : "");
            if (index >= keys.size() || keys[index].size() >= size) return -1;
            copy_cut(keys[index], buffer, size);
            return 0;
        },
        -1);
}

int QZ_RegEnumValue(const char *path, QZ_DWORD index, char *buffer, QZ_DWORD size, QZ_DWORD *type) {
    if (!buffer || size == 0) return -1;
    buffer[0] = '\0';
    return guarded(
        [&] {
            auto vals = store().values(path ? path : "");
            if (index >= vals.size() || vals[index].first.size() >= size) return -1;
            copy_cut(vals[index].first, buffer, size);
            if (type) *type = vals[index].second;
            return 0;
        },
        -1);
}

int QZ_IsReadOnly(void) {
    return guarded([] { return store().read_only() ? 1 : 0; }, 1);
}

char *QZ_ExpandEnvironment(const char *text) {
    if (!text) return duplicate("");
    std::string in = text, out;
    for (size_t i = 0; i < in.size();) {
        size_t close = in[i] == '%' ? in.find('%', i + 1) : std::string::npos;
        if (close == std::string::npos || close == i + 1) {
            out.push_back(in[i++]);
            continue;
        }
        std::string name = in.substr(i + 1, close - i - 1);
        const char *value = std::getenv(name.c_str());
        std::string upper = name;
        for (char &c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if ((!value || !*value) && (upper == "TEMP" || upper == "TMP")) {
            for (const char *fallback : {"TEMP", "TMP", "TMPDIR"})
                if ((value = std::getenv(fallback)) && *value) break;
            if (!value || !*value) value = "/tmp";
        }
        if (value) {
            out += value;
            i = close + 1;
        } else {
            // Unknown references stay as they are, as on Windows.
            out.append(in, i, close - i);
            i = close;
        }
    }
    return duplicate(out);
}

} // extern "C"

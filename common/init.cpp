// Initialisation with a product and profile, the product key and the
// settings key, and the settings accessor of settings.h.
#include <atomic>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>

#include "common/registry_key.h"
#include "common/registry_store.h"
#include "common/settings.h"
#include "qzcom.h"

using tarmin::qzcom::KeyPath;
using tarmin::qzcom::RegistryStore;

namespace {

constexpr std::string_view kVendorKey = "Software\\KELVORIA\\";
constexpr std::string_view kProfilesKey = "\\Profiles\\";

// The settings keys handed out so far, one per product key path. They stay
// until the process ends, so a key (or its path text) that a caller still
// holds after QZ_Finalize or a new initialisation never dangles.
struct Session {
    std::mutex mutex;
    std::deque<QzKey> keys;
    std::atomic<QzKey *> current{nullptr};
};

Session &session() {
    static Session *s = new Session;
    return *s;
}

// A product or profile name becomes one part of a key path: it may not be
// split by "\" nor hold control characters.
bool valid_name_part(std::string_view name) {
    for (unsigned char c : name)
        if (c == '\\' || c < 0x20) return false;
    return true;
}

QzKey *intern_settings_key(const std::string &path) {
    Session &s = session();
    std::lock_guard lock(s.mutex);
    for (QzKey &k : s.keys)
        if (k.key.path == path) return &k;
    QzKey &k = s.keys.emplace_back();
    k.key = KeyPath(path);
    k.writable = true;
    return &k;
}

int initialise(const char *product, const char *profile, QZ_DWORD version) {
    if (version != QZ_VERSION) {
        QZ_Trace("QZ_Initialize: version 0x%X is not supported (0x%X is)\n", version, QZ_VERSION);
        return -2;
    }
    std::string_view product_name = product ? product : "";
    std::string_view profile_name = profile ? profile : "";
    if (product_name.empty() || !valid_name_part(product_name) || !valid_name_part(profile_name)) {
        QZ_Trace("QZ_Initialize: the product or profile name cannot be a key name\n");
        return -3;
    }
    std::string path = std::string(kVendorKey).append(product_name);
    if (!profile_name.empty()) path.append(kProfilesKey).append(profile_name);
    if (!tarmin::qzcom::valid_key_path(KeyPath(path))) {
        QZ_Trace("QZ_Initialize: the product or profile name is too long\n");
        return -3;
    }
    RegistryStore &store = RegistryStore::instance();
    if (!store.open()) {
        QZ_Trace("QZ_Initialize: %s\n", store.last_error().c_str());
        return -1;
    }
    session().current.store(intern_settings_key(path));
    return 0;
}

} // namespace

extern "C" {

int QZ_Initialize(const char *product, QZ_DWORD version) {
    try {
        return initialise(product, nullptr, version);
    } catch (...) {
        return -1;
    }
}

int QZ_InitializeWithProfile(const char *product, const char *profile, QZ_DWORD version) {
    try {
        return initialise(product, profile, version);
    } catch (...) {
        return -1;
    }
}

void QZ_Finalize(void) {
    session().current.store(nullptr);
    QZ_ClearReports(3);
    RegistryStore::instance().close();
}

const char *QZ_GetProductKeyName(void) {
    QzKey *k = session().current.load();
    return k ? k->key.path.c_str() : nullptr;
}

int QZ_GetRegistryKeyString(char *buffer, size_t size) {
    if (!buffer || size == 0) return -1;
    buffer[0] = '\0';
    const char *key = QZ_GetProductKeyName();
    if (!key) return -1;
    size_t length = std::strlen(key);
    size_t n = length < size ? length : size - 1;
    std::memcpy(buffer, key, n);
    buffer[n] = '\0';
    return n == length ? 0 : 1;
}

QZ_HKEY QZ_GetSettingsKey(int which) { return which == 0 ? session().current.load() : nullptr; }

} // extern "C"

namespace tarmin::qzcom {

QZ_DWORD setting_dword(const char *name, QZ_DWORD def) {
    QZ_DWORD value = def;
    QZ_GetDword(QZ_GetSettingsKey(0), name, &value, def);
    return value;
}

std::string setting_string(const char *name, std::string_view def) {
    std::string d(def);
    char *value = nullptr;
    QZ_GetString(QZ_GetSettingsKey(0), name, &value, d.c_str());
    std::string out = value ? value : expand_environment(d);
    QZ_Free(value);
    return out;
}

bool is_settings_key(const QzKey *key) {
    Session &s = session();
    std::lock_guard lock(s.mutex);
    for (const QzKey &k : s.keys)
        if (&k == key) return true;
    return false;
}

std::string settings_store_path() { return RegistryStore::instance().database_path(); }

std::string settings_store_error() { return RegistryStore::instance().last_error(); }

} // namespace tarmin::qzcom

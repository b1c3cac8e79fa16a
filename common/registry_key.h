// An open settings key: what QZ_HKEY points to.
#pragma once

#include "common/registry_store.h"

struct QzKey {
    tarmin::qzcom::KeyPath key;
    // Opened with a write mask (the settings key always is; writes still
    // fail when the store is read-only).
    bool writable = false;
};

namespace tarmin::qzcom {
// Whether key is one of the settings keys that QZ_GetSettingsKey handed out.
bool is_settings_key(const QzKey *key);
} // namespace tarmin::qzcom

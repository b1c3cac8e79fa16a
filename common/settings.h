// Settings for code inside qzcom and for the suite's tools: the values of the
// current settings key read with their defaults, environment references, and
// where the settings store lives.
//
// The readers work at any time: before QZ_Initialize and after QZ_Finalize
// they give the default, as they do when the value is absent or unreadable.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "qzcom.h"

#ifndef QZCOM_INTERNAL
#define QZCOM_INTERNAL __attribute__((visibility("default")))
#endif

namespace tarmin::qzcom {

// The directory of the user's data: $TARMIN_HOME, else $XDG_DATA_HOME/tarmin,
// else ~/.local/share/tarmin (the home directory from the password database
// when HOME is unset).
QZCOM_INTERNAL std::filesystem::path tarmin_home();

// tarmin_home() made ready for keeping settings and keys: created for the
// user alone (mode 0700, with missing parents) when it is missing, and
// refused when it is not a directory of this user that only the user can
// enter (as ssh refuses an open key): another user's directory, one open to
// others, or a link in /tmp, where anyone can put one. Gives the directory,
// or an empty path with the reason and the remedy in *why.
QZCOM_INTERNAL std::filesystem::path private_home(std::string *why);

// %VAR% references expanded as QZ_ExpandEnvironment does.
QZCOM_INTERNAL std::string expand_environment(std::string_view text);

// A number of the settings key (QZ_GetSettingsKey(0)), or def.
QZCOM_INTERNAL QZ_DWORD setting_dword(const char *name, QZ_DWORD def);
// A text of the settings key (REG_EXPAND_SZ expanded), or def expanded.
QZCOM_INTERNAL std::string setting_string(const char *name, std::string_view def);
// A directory of the settings key ("Filename", "GWMonOutputDirectory",
// "GWMonGWLogDirectory"): a text of either type with its environment
// references expanded once, since the configuration program writes "%TEMP%\"
// as a plain text. def (expanded) when the value is absent or unreadable;
// *read tells whether the value itself was read. Every reader of a directory
// setting takes it from here.
QZCOM_INTERNAL std::string setting_directory(const char *name, std::string_view def, bool *read = nullptr);

// The database file, and why it could not be opened (empty when it could).
QZCOM_INTERNAL std::string settings_store_path();
QZCOM_INTERNAL std::string settings_store_error();

} // namespace tarmin::qzcom

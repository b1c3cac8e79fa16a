// The settings store: a tree of keys with typed values in one SQLite file per
// user ($TARMIN_HOME/registry.db). Key paths and value names compare without
// regard to case (Windows-1251 letters included); the names keep the case they
// were first written in.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace tarmin::qzcom {

struct RegValue {
    uint32_t type = 0;
    std::string data; // REG_SZ/REG_EXPAND_SZ without the terminator; REG_DWORD 4 bytes little-endian
};

enum class RegStatus { ok, absent, failed, read_only };

// "A\\B\\\\C\\" -> "A\\B\\C": one separator between parts, none at the ends.
std::string normalize_key_path(std::string_view path);
// The comparison form of a key path or value name.
std::string fold_name(std::string_view name);

class RegistryStore {
public:
    // The store of this process, opened at first use.
    static RegistryStore &instance();

    // Opens (or reopens after close) the database. false with the reason in
    // last_error() when it cannot be opened at all.
    bool open();
    void close();
    bool is_open();
    bool read_only();
    std::string last_error();
    std::string database_path();

    RegStatus get(std::string_view key, std::string_view name, RegValue &out);
    RegStatus set(std::string_view key, std::string_view name, const RegValue &value);
    RegStatus remove_value(std::string_view key, std::string_view name);
    RegStatus remove_key(std::string_view key); // with sub-keys and values
    RegStatus create_key(std::string_view key); // with missing ancestors
    bool key_exists(std::string_view key);
    // Direct sub-key names and value names (name, type), sorted by folded name.
    std::vector<std::string> sub_keys(std::string_view key);
    std::vector<std::pair<std::string, uint32_t>> values(std::string_view key);

private:
    RegistryStore() = default;
    ~RegistryStore();
    bool open_locked();
    bool ensure_open_locked();
    bool prepare_locked();
    void finalize_statements_locked();
    RegStatus create_key_locked(const std::string &path);
    bool exec_locked(const char *sql);

    std::recursive_mutex mutex_;
    sqlite3 *db_ = nullptr;
    bool read_only_ = false;
    std::string error_;
    std::string path_;
    sqlite3_stmt *get_ = nullptr;
    sqlite3_stmt *set_ = nullptr;
    sqlite3_stmt *add_key_ = nullptr;
    sqlite3_stmt *has_key_ = nullptr;
};

} // namespace tarmin::qzcom

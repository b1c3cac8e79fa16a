// The settings store: a tree of keys with typed values in one SQLite file per
// user ($TARMIN_HOME/registry.db). Key paths and value names compare without
// regard to case (Windows-1251 letters included); the names keep the case they
// were first written in.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#ifndef QZCOM_INTERNAL
#define QZCOM_INTERNAL __attribute__((visibility("default")))
#endif

struct sqlite3;
struct sqlite3_stmt;

namespace tarmin::qzcom {

struct RegValue {
    uint32_t type = 0;
    std::string data; // REG_SZ/REG_EXPAND_SZ without the terminator; REG_DWORD 4 bytes little-endian
};

enum class RegStatus {
    ok,
    absent,    // no such value or key
    failed,    // the store could not be opened or SQLite failed (see last_error)
    read_only, // a writer on a store opened read-only
    bad_name,  // a key path or value name the store does not take
};

// A key path in its two forms: as written ("A\\B", one separator between
// parts, none at the ends) and folded for comparison (lower case).
struct QZCOM_INTERNAL KeyPath {
    std::string path;
    std::string fold;

    KeyPath() = default;
    explicit KeyPath(std::string_view text);
    bool root() const { return path.empty(); }
};

// The comparison form of a value name or key path.
QZCOM_INTERNAL std::string fold_name(std::string_view name);
// Whether a key path may be created: every part shorter than 256 bytes,
// the whole shorter than QZ_MAX_KEY_PATH, no control characters and no
// byte 0x98 (Windows-1251 has no character there, so the name could
// neither be shown nor typed).
QZCOM_INTERNAL bool valid_key_path(const KeyPath &key);
// Whether a value name may be written: shorter than QZ_MAX_KEY_PATH.
QZCOM_INTERNAL bool valid_value_name(std::string_view name);

class QZCOM_INTERNAL RegistryStore {
public:
    // The store of this process. It opens at first use and after close().
    static RegistryStore &instance();

    // Opens the database when it is not open. false with the reason in
    // last_error() when it cannot be opened at all.
    bool open();
    void close();
    bool is_open();
    bool read_only();
    std::string last_error();
    std::string database_path();

    RegStatus get(const KeyPath &key, std::string_view name, RegValue &out);
    // A value larger than max_value_size() is refused (failed).
    RegStatus set(const KeyPath &key, std::string_view name, const RegValue &value);
    // The largest value the store holds, in bytes (0 when it cannot be opened).
    size_t max_value_size();
    RegStatus remove_value(const KeyPath &key, std::string_view name);
    RegStatus remove_key(const KeyPath &key); // with sub-keys and values; absent is ok
    RegStatus create_key(const KeyPath &key); // with missing ancestors
    // ok when the key exists, absent when not, failed when the store fails.
    RegStatus key_exists(const KeyPath &key);
    // A write batch: the writes until end_batch join one transaction, each
    // undone alone when it fails. Batches do not nest (failed); a read-only
    // store refuses one (read_only). end_batch commits or drops them all;
    // close() drops a batch not ended.
    RegStatus begin_batch();
    RegStatus end_batch(bool commit);

    // Direct sub-key names and value names (name, type), sorted by folded name.
    RegStatus sub_keys(const KeyPath &key, std::vector<std::string> &out);
    RegStatus values(const KeyPath &key, std::vector<std::pair<std::string, uint32_t>> &out);

private:
    RegistryStore() = default;
    ~RegistryStore() = delete;
    bool open_locked();
    bool open_read_write_locked();
    bool open_read_only_locked(bool may_share);
    bool open_connection_locked(const std::string &name, int flags);
    bool check_schema_locked();
    bool prepare_locked();
    void close_locked();
    void forget_connection_locked();
    std::array<sqlite3_stmt **, 9> statements() {
        return {&get_, &set_, &add_key_, &has_key_, &delete_value_, &delete_values_below_, &delete_keys_below_,
                &list_keys_, &list_values_};
    }
    bool ensure_open_locked();
    size_t max_value_size_locked();
    RegStatus fail_locked(const char *what);
    bool exec_locked(const char *sql);
    RegStatus create_key_locked(const KeyPath &key);
    // Runs work inside one write transaction (BEGIN IMMEDIATE, so that
    // writers of other processes queue on the busy timeout), or inside a
    // savepoint of the open write batch.
    template <typename Work> RegStatus write_locked(Work &&work);

    std::mutex mutex_;
    unsigned opened_in_ = 0; // fork generation that opened db_ (a forked child opens its own)
    sqlite3 *db_ = nullptr;
    bool read_only_ = false;
    bool batch_ = false; // a write batch's transaction is open
    std::string error_;
    std::string path_;
    // Statements of the frequent operations, prepared once per connection.
    sqlite3_stmt *get_ = nullptr;
    sqlite3_stmt *set_ = nullptr;
    sqlite3_stmt *add_key_ = nullptr;
    sqlite3_stmt *has_key_ = nullptr;
    sqlite3_stmt *delete_value_ = nullptr;
    sqlite3_stmt *delete_values_below_ = nullptr;
    sqlite3_stmt *delete_keys_below_ = nullptr;
    sqlite3_stmt *list_keys_ = nullptr;
    sqlite3_stmt *list_values_ = nullptr;
};

} // namespace tarmin::qzcom

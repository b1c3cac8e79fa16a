// The SQLite settings store (see registry_store.h).
//
// Schema: keys(fold PRIMARY KEY, path) lists every key with its ancestors;
// vals(key, fold, name, type, data) holds the values by folded key path and
// folded value name. Sub-keys of "A\\B" are the keys whose folded path lies
// between "a\\b\\" and "a\\b]" (']' follows '\\'), so deleting a key with its
// sub-keys and listing them are range scans of the primary keys.
//
// Opening: read-write when the file and its directory can be written (WAL
// needs its -wal and -shm files beside the database), read-only otherwise or
// when TARMIN_REGISTRY_READONLY is set. A read-only store that no one can
// have changed since its last writer closed it (empty or missing -wal file)
// is opened "immutable": SQLite then creates no -shm file, which a read-only
// directory would refuse and which, left behind read-only, would keep later
// writers out after the permissions are restored.
#include "common/registry_store.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <pthread.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/codepage.h"
#include "common/settings.h"
#include "qzcom.h"

namespace fs = std::filesystem;

namespace tarmin::qzcom {

namespace {

constexpr int kBusyTimeoutMs = 10000;
// PRAGMA application_id of a settings store ("TMNR") and its schema version.
constexpr int kApplicationId = 0x544D4E52;
constexpr int kSchemaVersion = 1;
constexpr size_t kMaxKeyPart = 255;
// Bytes of a row of vals besides the value: its key path and name (each
// shorter than QZ_MAX_KEY_PATH, twice: as written and folded) and SQLite's
// record header.
constexpr int kRowOverhead = 4 * QZ_MAX_KEY_PATH + 64;

// The tables, marked as a settings store of this schema version.
std::string schema_sql() {
    return "CREATE TABLE IF NOT EXISTS keys(fold TEXT PRIMARY KEY, path TEXT NOT NULL) WITHOUT ROWID;"
           "CREATE TABLE IF NOT EXISTS vals(key TEXT NOT NULL, fold TEXT NOT NULL, name TEXT NOT NULL,"
           " type INTEGER NOT NULL, data BLOB NOT NULL, PRIMARY KEY(key, fold)) WITHOUT ROWID;"
           "PRAGMA application_id=" +
           std::to_string(kApplicationId) + ";PRAGMA user_version=" + std::to_string(kSchemaVersion) + ";";
}

// Resets a cached statement when the operation using it ends.
struct StatementUse {
    sqlite3_stmt *s;
    ~StatementUse() {
        sqlite3_reset(s);
        sqlite3_clear_bindings(s);
    }
};

// The strings bound stay alive until the statement is reset (StatementUse
// is declared after them).
void bind_text(sqlite3_stmt *s, int i, std::string_view t) {
    sqlite3_bind_text(s, i, t.data(), static_cast<int>(t.size()), SQLITE_STATIC);
}

std::string column_bytes(sqlite3_stmt *s, int i) {
    const void *p = sqlite3_column_blob(s, i);
    int n = sqlite3_column_bytes(s, i);
    return p ? std::string(static_cast<const char *>(p), static_cast<size_t>(n)) : std::string();
}

// Binds the folded range [low, high) of the strict sub-keys of a key. For the
// root the upper bound is an empty blob: SQLite orders every text before
// every blob, so no folded name (not even one of 0xFF bytes) lies above it.
void bind_sub_key_range(sqlite3_stmt *s, int first, const KeyPath &key, std::string &low, std::string &high) {
    if (key.root()) {
        bind_text(s, first, "");
        sqlite3_bind_zeroblob(s, first + 1, 0);
        return;
    }
    low = key.fold + "\\";
    high = key.fold + "]";
    bind_text(s, first, low);
    bind_text(s, first + 1, high);
}

bool forced_read_only() {
    const char *v = std::getenv("TARMIN_REGISTRY_READONLY");
    return v && *v && std::string_view(v) != "0";
}

bool can_write(const fs::path &p) { return ::access(p.c_str(), W_OK) == 0; }

// Whether the write-ahead log may hold changes not yet in the database file.
bool log_has_data(const std::string &db) {
    struct stat st {};
    return ::stat((db + "-wal").c_str(), &st) == 0 && st.st_size > 0;
}

// "file:" URI of a path, with the characters that a URI gives a meaning escaped.
std::string file_uri(const std::string &path, const char *query) {
    std::string out = "file:";
    for (unsigned char c : path) {
        if (c == '%' || c == '?' || c == '#' || c < 0x21 || c >= 0x7F) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    return out + "?" + query;
}

// Errors of opening read-write after which reading may still work.
bool permission_error(int rc) {
    rc &= 0xFF;
    return rc == SQLITE_READONLY || rc == SQLITE_CANTOPEN || rc == SQLITE_PERM || rc == SQLITE_AUTH;
}

std::string octal_mode(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

// What keeps an existing database file from being used, or "" when nothing
// does: it must be a regular file of this user that no one else may read
// or write, and not an empty one (a store that lost its content would
// silently become a new one, every setting gone).
std::string refusal_of_file(const std::string &path, const struct stat &st) {
    if (!S_ISREG(st.st_mode)) return "the settings store " + path + " is not a regular file";
    if (st.st_uid != ::geteuid())
        return "the settings store " + path + " belongs to another user (uid " + std::to_string(st.st_uid) + ")";
    if (st.st_mode & 077)
        return "the settings store " + path + " is open to other users (mode " + octal_mode(st.st_mode) +
               "); make it private with chmod 600 " + path;
    if (st.st_size == 0 && !log_has_data(path))
        return "the settings store " + path + " is empty: its settings are lost. Restore it from a backup, or "
               "delete it to start over with new settings (rm " + path + ")";
    return {};
}

// Makes a new store: its tables are written under a temporary name beside
// the target (mode 0600, which SQLite gives its log and shared-memory files
// too) and the file is then linked into place. The target name so never
// holds a file without tables, and a zero-length store always is a lost
// one. When another process made the store meanwhile, that one is kept.
bool create_store_file(const std::string &path, std::string &error) {
    std::string temporary = path + ".new-XXXXXX";
    int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        error = "the settings store " + path + " cannot be created: " + std::strerror(errno);
        return false;
    }
    ::close(fd);
    sqlite3 *db = nullptr;
    char *message = nullptr;
    int rc = sqlite3_open_v2(temporary.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
    if (rc == SQLITE_OK) rc = sqlite3_exec(db, ("BEGIN;" + schema_sql() + "COMMIT;").c_str(), nullptr, nullptr, &message);
    if (rc != SQLITE_OK)
        error = "the settings store " + path + " cannot be created: " +
                (message ? message : db ? sqlite3_errmsg(db) : "out of memory");
    sqlite3_free(message);
    sqlite3_close(db);
    if (rc == SQLITE_OK && ::link(temporary.c_str(), path.c_str()) != 0 && errno != EEXIST) {
        error = "the settings store " + path + " cannot be created: " + std::strerror(errno);
        rc = SQLITE_CANTOPEN;
    }
    ::unlink(temporary.c_str());
    return rc == SQLITE_OK;
}

} // namespace

KeyPath::KeyPath(std::string_view text) {
    path.reserve(text.size());
    for (char c : text) {
        if (c == '\\') {
            if (!path.empty() && path.back() != '\\') path.push_back('\\');
        } else {
            path.push_back(c);
        }
    }
    if (!path.empty() && path.back() == '\\') path.pop_back();
    fold = fold_name(path);
}

std::string fold_name(std::string_view name) { return cp::lower_1251(name); }

bool valid_key_path(const KeyPath &key) {
    if (key.path.size() >= QZ_MAX_KEY_PATH) return false;
    size_t part = 0;
    for (unsigned char c : key.path) {
        if (c < 0x20 || c == 0x98) return false;
        part = c == '\\' ? 0 : part + 1;
        if (part > kMaxKeyPart) return false;
    }
    return true;
}

bool valid_value_name(std::string_view name) { return name.size() < QZ_MAX_KEY_PATH; }

namespace {
// Counts the forks of this process, seen from the child.
std::atomic<unsigned> g_forks{0};
void count_fork() { g_forks.fetch_add(1, std::memory_order_relaxed); }
} // namespace

RegistryStore &RegistryStore::instance() {
    static RegistryStore *store = [] {
        ::pthread_atfork(nullptr, nullptr, count_fork);
        return new RegistryStore; // lives to the end of the process
    }();
    return *store;
}

bool RegistryStore::open() {
    std::lock_guard lock(mutex_);
    return ensure_open_locked();
}

bool RegistryStore::ensure_open_locked() {
    if (db_ && opened_in_ != g_forks.load(std::memory_order_relaxed)) forget_connection_locked();
    return db_ || open_locked();
}

// A forked child must neither use nor close the parent's connection (closing
// would drop the parent's file locks): it forgets it and opens its own.
void RegistryStore::forget_connection_locked() {
    db_ = nullptr;
    batch_ = false;
    for (sqlite3_stmt **s : statements()) *s = nullptr;
}

bool RegistryStore::open_locked() {
    error_.clear();
    path_ = (tarmin_home() / "registry.db").string();
    fs::path dir = private_home(&error_);
    if (dir.empty()) return false;
    struct stat st {};
    bool exists = ::stat(path_.c_str(), &st) == 0;
    if (exists) error_ = refusal_of_file(path_, st);
    if (!error_.empty()) return false;
    bool dir_writable = can_write(dir);
    bool writable = !forced_read_only() && dir_writable && (!exists || can_write(path_));
    if (!exists && !writable) {
        error_ = "the settings store " + path_ + " does not exist and cannot be created" +
                 (dir_writable ? " (read-only access requested)" : ": " + std::string(std::strerror(EACCES)));
        return false;
    }
    if (!exists && !create_store_file(path_, error_)) return false;
    read_only_ = !writable;
    if (writable) {
        if (open_read_write_locked()) return true;
        int rc = db_ ? sqlite3_extended_errcode(db_) : SQLITE_CANTOPEN;
        close_locked();
        // A damaged or foreign file is an error; only a refused write falls back to reading.
        if (!permission_error(rc)) return false;
        read_only_ = true;
    }
    bool may_share = dir_writable && can_write(path_);
    if (open_read_only_locked(may_share)) return true;
    close_locked();
    return false;
}

bool RegistryStore::open_connection_locked(const std::string &name, int flags) {
    // Our own mutex serialises every use of the connection.
    if (sqlite3_open_v2(name.c_str(), &db_, flags | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
        error_ = "the settings store " + path_ + " cannot be opened: " + (db_ ? sqlite3_errmsg(db_) : "out of memory");
        return false;
    }
    opened_in_ = g_forks.load(std::memory_order_relaxed);
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    sqlite3_extended_result_codes(db_, 1);
    return true;
}

bool RegistryStore::open_read_write_locked() {
    if (!open_connection_locked(path_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE)) return false;
    // The file is checked before anything changes it (a foreign file stays
    // as it is). WAL lets the monitor read while the configuration program writes.
    return check_schema_locked() && exec_locked("PRAGMA journal_mode=WAL;") &&
           exec_locked("PRAGMA synchronous=NORMAL;") && prepare_locked();
}

bool RegistryStore::open_read_only_locked(bool may_share) {
    // With write access to the file and its directory (read-only by request)
    // SQLite may create its shared-memory file as usual; otherwise the store is
    // read as an unchanging file unless its log holds changes.
    bool shared = may_share || log_has_data(path_);
    int flags = SQLITE_OPEN_READONLY | SQLITE_OPEN_URI;
    if (shared) {
        if (open_connection_locked(file_uri(path_, "mode=ro"), flags) && check_schema_locked() && prepare_locked())
            return true;
        int rc = db_ ? sqlite3_extended_errcode(db_) : SQLITE_CANTOPEN;
        close_locked();
        if (!permission_error(rc)) return false;
    }
    return open_connection_locked(file_uri(path_, "immutable=1"), flags) && check_schema_locked() &&
           prepare_locked();
}

// Accepts a settings store (creating its tables in a new file), refuses any
// other SQLite file, and checks the file for damage.
bool RegistryStore::check_schema_locked() {
    sqlite3_stmt *s = nullptr;
    int app_id = 0, version = 0, tables = 0, ours = 0;
    const char *sql = "SELECT (SELECT application_id FROM pragma_application_id),"
                      " (SELECT user_version FROM pragma_user_version),"
                      " (SELECT count(*) FROM sqlite_master WHERE type='table'),"
                      " (SELECT count(*) FROM sqlite_master WHERE type='table' AND name IN ('keys','vals'))";
    if (sqlite3_prepare_v2(db_, sql, -1, &s, nullptr) != SQLITE_OK || sqlite3_step(s) != SQLITE_ROW) {
        error_ = "the settings store " + path_ + " cannot be used: " + sqlite3_errmsg(db_);
        sqlite3_finalize(s);
        return false;
    }
    app_id = sqlite3_column_int(s, 0);
    version = sqlite3_column_int(s, 1);
    tables = sqlite3_column_int(s, 2);
    ours = sqlite3_column_int(s, 3);
    sqlite3_finalize(s);

    if (app_id != 0 && app_id != kApplicationId) {
        error_ = "the file " + path_ + " is not a settings store";
        return false;
    }
    if (app_id == kApplicationId && version > kSchemaVersion) {
        error_ = "the settings store " + path_ + " was made by a newer version of the suite";
        return false;
    }
    if (app_id == 0 && tables > 0 && ours != 2) {
        error_ = "the file " + path_ + " is not a settings store";
        return false;
    }
    if (tables == 0 || app_id == 0) {
        // A new file (or one of the first version, which had no marks yet).
        if (read_only_) {
            if (tables == 0) {
                error_ = "the settings store " + path_ + " is empty and cannot be written";
                return false;
            }
        } else if (!exec_locked("BEGIN IMMEDIATE;") || !exec_locked(schema_sql().c_str()) ||
                   !exec_locked("COMMIT;")) {
            exec_locked("ROLLBACK;");
            return false;
        }
    }
    std::string verdict;
    if (sqlite3_prepare_v2(db_, "PRAGMA quick_check(1)", -1, &s, nullptr) == SQLITE_OK && sqlite3_step(s) == SQLITE_ROW)
        verdict = column_bytes(s, 0);
    sqlite3_finalize(s);
    if (verdict == "ok") return true;
    error_ = "the settings store " + path_ + " is damaged: " + (verdict.empty() ? sqlite3_errmsg(db_) : verdict);
    return false;
}

bool RegistryStore::exec_locked(const char *sql) {
    char *msg = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &msg) != SQLITE_OK) {
        error_ = "the settings store " + path_ + " cannot be used: " + (msg ? msg : sqlite3_errmsg(db_));
        sqlite3_free(msg);
        return false;
    }
    return true;
}

bool RegistryStore::prepare_locked() {
    struct {
        sqlite3_stmt **stmt;
        const char *sql;
    } list[] = {
        {&get_, "SELECT type, data FROM vals WHERE key=?1 AND fold=?2"},
        {&set_, "INSERT INTO vals(key, fold, name, type, data) VALUES(?1, ?2, ?3, ?4, ?5)"
                " ON CONFLICT(key, fold) DO UPDATE SET type=excluded.type, data=excluded.data"},
        {&add_key_, "INSERT OR IGNORE INTO keys(fold, path) VALUES(?1, ?2)"},
        {&has_key_, "SELECT 1 FROM keys WHERE fold=?1"},
        {&delete_value_, "DELETE FROM vals WHERE key=?1 AND fold=?2"},
        {&delete_values_below_, "DELETE FROM vals WHERE key=?1 OR (key>=?2 AND key<?3)"},
        {&delete_keys_below_, "DELETE FROM keys WHERE fold=?1 OR (fold>=?2 AND fold<?3)"},
        {&list_keys_, "SELECT path FROM keys WHERE fold>=?1 AND fold<?2 ORDER BY fold"},
        {&list_values_, "SELECT name, type FROM vals WHERE key=?1 ORDER BY fold"},
    };
    for (auto &item : list) {
        if (sqlite3_prepare_v3(db_, item.sql, -1, SQLITE_PREPARE_PERSISTENT, item.stmt, nullptr) != SQLITE_OK) {
            error_ = "the settings store " + path_ + " cannot be used: " + sqlite3_errmsg(db_);
            return false;
        }
    }
    return true;
}

void RegistryStore::close() {
    std::lock_guard lock(mutex_);
    close_locked();
}

void RegistryStore::close_locked() {
    if (db_ && opened_in_ != g_forks.load(std::memory_order_relaxed)) {
        forget_connection_locked();
        return;
    }
    for (sqlite3_stmt **s : statements()) {
        sqlite3_finalize(*s);
        *s = nullptr;
    }
    // Closing drops the transaction of a batch not ended.
    if (db_) sqlite3_close_v2(db_);
    db_ = nullptr;
    batch_ = false;
}

bool RegistryStore::is_open() {
    std::lock_guard lock(mutex_);
    return db_ != nullptr && opened_in_ == g_forks.load(std::memory_order_relaxed);
}

bool RegistryStore::read_only() {
    std::lock_guard lock(mutex_);
    return !ensure_open_locked() || read_only_;
}

std::string RegistryStore::last_error() {
    std::lock_guard lock(mutex_);
    return error_;
}

std::string RegistryStore::database_path() {
    std::lock_guard lock(mutex_);
    return path_.empty() ? (tarmin_home() / "registry.db").string() : path_;
}

RegStatus RegistryStore::fail_locked(const char *what) {
    error_ = std::string(what) + " in the settings store " + path_ + " failed: " + sqlite3_errmsg(db_);
    return RegStatus::failed;
}

template <typename Work> RegStatus RegistryStore::write_locked(Work &&work) {
    if (!ensure_open_locked()) return RegStatus::failed;
    if (read_only_) return RegStatus::read_only;
    if (batch_) {
        if (!exec_locked("SAVEPOINT batch_write")) return RegStatus::failed;
        RegStatus st = work();
        if (st != RegStatus::ok) sqlite3_exec(db_, "ROLLBACK TO batch_write", nullptr, nullptr, nullptr);
        if (!exec_locked("RELEASE batch_write") && st == RegStatus::ok) st = RegStatus::failed;
        return st;
    }
    if (!exec_locked("BEGIN IMMEDIATE")) return RegStatus::failed;
    RegStatus st = work();
    if (st == RegStatus::ok && !exec_locked("COMMIT")) st = RegStatus::failed;
    if (st != RegStatus::ok) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    return st;
}

RegStatus RegistryStore::begin_batch() {
    std::lock_guard lock(mutex_);
    if (!ensure_open_locked()) return RegStatus::failed;
    if (read_only_) return RegStatus::read_only;
    if (batch_ || !exec_locked("BEGIN IMMEDIATE")) return RegStatus::failed;
    batch_ = true;
    return RegStatus::ok;
}

RegStatus RegistryStore::end_batch(bool commit) {
    std::lock_guard lock(mutex_);
    if (!batch_ || !ensure_open_locked()) return RegStatus::failed;
    batch_ = false;
    if (commit && exec_locked("COMMIT")) return RegStatus::ok;
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    return commit ? RegStatus::failed : RegStatus::ok;
}

RegStatus RegistryStore::get(const KeyPath &key, std::string_view name, RegValue &out) {
    std::lock_guard lock(mutex_);
    if (!ensure_open_locked()) return RegStatus::failed;
    std::string name_fold = fold_name(name);
    StatementUse use{get_};
    bind_text(get_, 1, key.fold);
    bind_text(get_, 2, name_fold);
    int rc = sqlite3_step(get_);
    if (rc == SQLITE_DONE) return RegStatus::absent;
    if (rc != SQLITE_ROW) return fail_locked("reading a value");
    out.type = static_cast<uint32_t>(sqlite3_column_int64(get_, 0));
    out.data = column_bytes(get_, 1);
    return RegStatus::ok;
}

RegStatus RegistryStore::create_key_locked(const KeyPath &key) {
    // The key and each of its ancestors ("A", "A\\B", "A\\B\\C").
    for (size_t end = 0; end != std::string::npos;) {
        end = key.path.find('\\', end + 1);
        std::string_view path = std::string_view(key.path).substr(0, end);
        std::string_view fold = std::string_view(key.fold).substr(0, end);
        StatementUse use{add_key_};
        bind_text(add_key_, 1, fold);
        bind_text(add_key_, 2, path);
        if (sqlite3_step(add_key_) != SQLITE_DONE) return fail_locked("creating a key");
    }
    return RegStatus::ok;
}

RegStatus RegistryStore::create_key(const KeyPath &key) {
    if (!valid_key_path(key)) return RegStatus::bad_name;
    std::lock_guard lock(mutex_);
    return write_locked([&] { return key.root() ? RegStatus::ok : create_key_locked(key); });
}

size_t RegistryStore::max_value_size() {
    std::lock_guard lock(mutex_);
    return max_value_size_locked();
}

size_t RegistryStore::max_value_size_locked() {
    if (!ensure_open_locked()) return 0;
    // The length limit of the connection (never above INT_MAX, the largest
    // length SQLite's interfaces take), less room for the rest of the row.
    int limit = sqlite3_limit(db_, SQLITE_LIMIT_LENGTH, -1);
    return limit > kRowOverhead ? static_cast<size_t>(limit - kRowOverhead) : 0;
}

RegStatus RegistryStore::set(const KeyPath &key, std::string_view name, const RegValue &value) {
    if (!valid_key_path(key) || !valid_value_name(name)) return RegStatus::bad_name;
    std::lock_guard lock(mutex_);
    std::string name_fold = fold_name(name);
    if (value.data.size() > max_value_size_locked()) {
        if (db_)
            error_ = "a value of " + std::to_string(value.data.size()) + " bytes is larger than the settings store " +
                     path_ + " holds";
        return RegStatus::failed;
    }
    return write_locked([&] {
        if (!key.root())
            if (RegStatus st = create_key_locked(key); st != RegStatus::ok) return st;
        StatementUse use{set_};
        bind_text(set_, 1, key.fold);
        bind_text(set_, 2, name_fold);
        bind_text(set_, 3, name);
        sqlite3_bind_int64(set_, 4, value.type);
        sqlite3_bind_blob(set_, 5, value.data.data(), static_cast<int>(value.data.size()), SQLITE_STATIC);
        return sqlite3_step(set_) == SQLITE_DONE ? RegStatus::ok : fail_locked("writing a value");
    });
}

RegStatus RegistryStore::remove_value(const KeyPath &key, std::string_view name) {
    std::lock_guard lock(mutex_);
    std::string name_fold = fold_name(name);
    bool removed = false;
    RegStatus st = write_locked([&] {
        StatementUse use{delete_value_};
        bind_text(delete_value_, 1, key.fold);
        bind_text(delete_value_, 2, name_fold);
        if (sqlite3_step(delete_value_) != SQLITE_DONE) return fail_locked("deleting a value");
        removed = sqlite3_changes(db_) > 0;
        return RegStatus::ok;
    });
    return st == RegStatus::ok && !removed ? RegStatus::absent : st;
}

RegStatus RegistryStore::remove_key(const KeyPath &key) {
    if (key.root()) return RegStatus::bad_name; // never the whole tree
    std::lock_guard lock(mutex_);
    std::string low, high;
    return write_locked([&] {
        for (sqlite3_stmt *s : {delete_values_below_, delete_keys_below_}) {
            StatementUse use{s};
            bind_text(s, 1, key.fold);
            bind_sub_key_range(s, 2, key, low, high);
            if (sqlite3_step(s) != SQLITE_DONE) return fail_locked("deleting a key");
        }
        return RegStatus::ok;
    });
}

RegStatus RegistryStore::key_exists(const KeyPath &key) {
    std::lock_guard lock(mutex_);
    if (!ensure_open_locked()) return RegStatus::failed;
    if (key.root()) return RegStatus::ok;
    StatementUse use{has_key_};
    bind_text(has_key_, 1, key.fold);
    int rc = sqlite3_step(has_key_);
    if (rc == SQLITE_ROW) return RegStatus::ok;
    return rc == SQLITE_DONE ? RegStatus::absent : fail_locked("looking up a key");
}

RegStatus RegistryStore::sub_keys(const KeyPath &key, std::vector<std::string> &out) {
    out.clear();
    std::lock_guard lock(mutex_);
    if (!ensure_open_locked()) return RegStatus::failed;
    std::string low, high;
    StatementUse use{list_keys_};
    bind_sub_key_range(list_keys_, 1, key, low, high);
    size_t skip = key.root() ? 0 : key.path.size() + 1;
    int rc;
    while ((rc = sqlite3_step(list_keys_)) == SQLITE_ROW) {
        std::string path = column_bytes(list_keys_, 0);
        if (path.size() <= skip) continue;
        std::string rest = path.substr(skip);
        if (rest.find('\\') == std::string::npos) out.push_back(std::move(rest)); // direct children only
    }
    return rc == SQLITE_DONE ? RegStatus::ok : fail_locked("listing sub-keys");
}

RegStatus RegistryStore::values(const KeyPath &key, std::vector<std::pair<std::string, uint32_t>> &out) {
    out.clear();
    std::lock_guard lock(mutex_);
    if (!ensure_open_locked()) return RegStatus::failed;
    StatementUse use{list_values_};
    bind_text(list_values_, 1, key.fold);
    int rc;
    while ((rc = sqlite3_step(list_values_)) == SQLITE_ROW)
        out.emplace_back(column_bytes(list_values_, 0), static_cast<uint32_t>(sqlite3_column_int64(list_values_, 1)));
    return rc == SQLITE_DONE ? RegStatus::ok : fail_locked("listing values");
}

} // namespace tarmin::qzcom

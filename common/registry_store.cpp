// The SQLite settings store (see registry_store.h).
//
// Schema: keys(fold PRIMARY KEY, path) lists every key with its ancestors;
// vals(key, fold, name, type, data) holds the values by folded key path and
// folded value name. Sub-keys of "A\\B" are the keys whose folded path lies
// between "a\\b\\" and "a\\b]" (']' follows '\\'), so deleting a key with its
// sub-keys and listing them are range scans.
#include "common/registry_store.h"

#include <cstdlib>
#include <filesystem>
#include <sqlite3.h>
#include <unistd.h>

#include "common/codepage.h"

namespace fs = std::filesystem;

namespace tarmin::qzcom {

namespace {

constexpr int kBusyTimeoutMs = 10000;

const char *kSchema =
    "CREATE TABLE IF NOT EXISTS keys(fold TEXT PRIMARY KEY, path TEXT NOT NULL) WITHOUT ROWID;"
    "CREATE TABLE IF NOT EXISTS vals(key TEXT NOT NULL, fold TEXT NOT NULL, name TEXT NOT NULL,"
    " type INTEGER NOT NULL, data BLOB NOT NULL, PRIMARY KEY(key, fold)) WITHOUT ROWID;";

// The directory of the user's Tarmin data.
fs::path tarmin_home() {
    if (const char *h = std::getenv("TARMIN_HOME"); h && *h) return h;
    if (const char *x = std::getenv("XDG_DATA_HOME"); x && *x) return fs::path(x) / "tarmin";
    if (const char *home = std::getenv("HOME"); home && *home) return fs::path(home) / ".local/share/tarmin";
    return fs::path("/tmp") / ("tarmin-" + std::to_string(::getuid()));
}

// The folded key range [low, high) of the strict sub-keys of a folded path.
std::pair<std::string, std::string> sub_key_range(const std::string &fold) {
    if (fold.empty()) return {"", "\xff"};
    return {fold + "\\", fold + "]"};
}

// Reset-on-exit for a cached statement.
struct StatementUse {
    sqlite3_stmt *s;
    ~StatementUse() {
        sqlite3_reset(s);
        sqlite3_clear_bindings(s);
    }
};

void bind_text(sqlite3_stmt *s, int i, std::string_view t) {
    sqlite3_bind_text(s, i, t.data(), static_cast<int>(t.size()), SQLITE_TRANSIENT);
}

std::string column_text(sqlite3_stmt *s, int i) {
    const void *p = sqlite3_column_blob(s, i);
    int n = sqlite3_column_bytes(s, i);
    return p ? std::string(static_cast<const char *>(p), static_cast<size_t>(n)) : std::string();
}

bool forced_read_only() {
    const char *v = std::getenv("TARMIN_REGISTRY_READONLY");
    return v && *v && std::string_view(v) != "0";
}

} // namespace

std::string normalize_key_path(std::string_view path) {
    std::string out;
    out.reserve(path.size());
    for (char c : path) {
        if (c == '\\') {
            if (!out.empty() && out.back() != '\\') out.push_back('\\');
        } else {
            out.push_back(c);
        }
    }
    if (!out.empty() && out.back() == '\\') out.pop_back();
    return out;
}

std::string fold_name(std::string_view name) { return cp::lower_1251(name); }

RegistryStore &RegistryStore::instance() {
    static RegistryStore *store = new RegistryStore; // lives to the end of the process
    return *store;
}

RegistryStore::~RegistryStore() { close(); }

bool RegistryStore::open() {
    std::lock_guard lock(mutex_);
    if (db_) return true;
    return open_locked();
}

bool RegistryStore::open_locked() {
    fs::path dir = tarmin_home();
    std::error_code ec;
    fs::create_directories(dir, ec);
    path_ = (dir / "registry.db").string();
    bool exists = fs::exists(path_, ec);
    read_only_ = forced_read_only() || (exists ? ::access(path_.c_str(), W_OK) != 0
                                               : ::access(dir.c_str(), W_OK) != 0);
    if (read_only_ && !exists) {
        error_ = "the settings store " + path_ + " does not exist and cannot be created";
        return false;
    }
    int flags = read_only_ ? SQLITE_OPEN_READONLY : (SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    flags |= SQLITE_OPEN_FULLMUTEX;
    if (sqlite3_open_v2(path_.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
        error_ = db_ ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        db_ = nullptr;
        return false;
    }
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    if (!read_only_) {
        // WAL lets the monitor read while the configuration program writes.
        if (!exec_locked("PRAGMA journal_mode=WAL;") || !exec_locked("PRAGMA synchronous=NORMAL;") ||
            !exec_locked(kSchema)) {
            // A directory we may not write into (WAL needs its -wal and -shm
            // files there) still allows reading.
            std::string reason = error_;
            close();
            read_only_ = true;
            if (sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READONLY | SQLITE_OPEN_FULLMUTEX, nullptr) !=
                SQLITE_OK) {
                error_ = reason;
                sqlite3_close(db_);
                db_ = nullptr;
                return false;
            }
            sqlite3_busy_timeout(db_, kBusyTimeoutMs);
        }
    }
    if (!prepare_locked()) {
        close();
        return false;
    }
    return true;
}

bool RegistryStore::exec_locked(const char *sql) {
    char *msg = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &msg) != SQLITE_OK) {
        error_ = msg ? msg : sqlite3_errmsg(db_);
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
    };
    for (auto &item : list) {
        if (sqlite3_prepare_v3(db_, item.sql, -1, SQLITE_PREPARE_PERSISTENT, item.stmt, nullptr) != SQLITE_OK) {
            // A file that is not a settings database (or is damaged) ends here.
            error_ = std::string("the settings store ") + path_ + " cannot be used: " + sqlite3_errmsg(db_);
            return false;
        }
    }
    return true;
}

void RegistryStore::finalize_statements_locked() {
    for (sqlite3_stmt **s : {&get_, &set_, &add_key_, &has_key_}) {
        sqlite3_finalize(*s);
        *s = nullptr;
    }
}

void RegistryStore::close() {
    std::lock_guard lock(mutex_);
    finalize_statements_locked();
    if (db_) sqlite3_close_v2(db_);
    db_ = nullptr;
}

bool RegistryStore::ensure_open_locked() { return db_ || open_locked(); }

bool RegistryStore::is_open() {
    std::lock_guard lock(mutex_);
    return db_ != nullptr;
}

bool RegistryStore::read_only() {
    std::lock_guard lock(mutex_);
    ensure_open_locked();
    return read_only_;
}

std::string RegistryStore::last_error() {
    std::lock_guard lock(mutex_);
    return error_;
}

std::string RegistryStore::database_path() {
    std::lock_guard lock(mutex_);
    return path_.empty() ? (tarmin_home() / "registry.db").string() : path_;
}

RegStatus RegistryStore::get(std::string_view key, std::string_view name, RegValue &out) {
    std::lock_guard lock(mutex_);
    if (!ensure_open_locked()) return RegStatus::failed;
    StatementUse use{get_};
    bind_text(get_, 1, fold_name(normalize_key_path(key)));
    bind_text(get_, 2, fold_name(name));
    int rc = sqlite3_step(get_);
    if (rc == SQLITE_DONE) return RegStatus::absent;
    if (rc != SQLITE_ROW) {
        error_ = sqlite3_errmsg(db_);
        return RegStatus::failed;
    }
    out.type = static_cast<uint32_t>(sqlite3_column_int64(get_, 0));
    out.data = column_text(get_, 1);
    return RegStatus::ok;
}

RegStatus RegistryStore::create_key_locked(const std::string &path) {
    // The key and each of its ancestors.
    for (size_t end = 0; end != std::string::npos;) {
        end = path.find('\\', end + 1);
        std::string part = path.substr(0, end);
        StatementUse use{add_key_};
        bind_text(add_key_, 1, fold_name(part));
        bind_text(add_key_, 2, part);
        if (sqlite3_step(add_key_) != SQLITE_DONE) {
            error_ = sqlite3_errmsg(db_);
            return RegStatus::failed;
        }
    }
    return RegStatus::ok;
}

RegStatus RegistryStore::create_key(std::string_view key) {
    std::lock_guard lock(mutex_);
    if (!ensure_open_locked()) return RegStatus::failed;
    if (read_only_) return RegStatus::read_only;
    std::string path = normalize_key_path(key);
    if (path.empty()) return RegStatus::ok;
    if (!exec_locked("BEGIN IMMEDIATE")) return RegStatus::failed;
    RegStatus st = create_key_locked(path);
    exec_locked(st == RegStatus::ok ? "COMMIT" : "ROLLBACK");
    return st;
}

RegStatus RegistryStore::set(std::string_view key, std::string_view name, const RegValue &value) {
    std::lock_guard lock(mutex_);
    if (!ensure_open_locked()) return RegStatus::failed;
    if (read_only_) return RegStatus::read_only;
    std::string path = normalize_key_path(key);
    if (!exec_locked("BEGIN IMMEDIATE")) return RegStatus::failed;
    RegStatus st = path.empty() ? RegStatus::ok : create_key_locked(path);
    if (st == RegStatus::ok) {
        StatementUse use{set_};
        bind_text(set_, 1, fold_name(path));
        bind_text(set_, 2, fold_name(name));
        bind_text(set_, 3, name);
        sqlite3_bind_int64(set_, 4, value.type);
        sqlite3_bind_blob(set_, 5, value.data.data(), static_cast<int>(value.data.size()), SQLITE_TRANSIENT);
        if (sqlite3_step(set_) != SQLITE_DONE) {
            error_ = sqlite3_errmsg(db_);
            st = RegStatus::failed;
        }
    }
    if (!exec_locked(st == RegStatus::ok ? "COMMIT" : "ROLLBACK")) st = RegStatus::failed;
    return st;
}

RegStatus RegistryStore::remove_value(std::string_view key, std::string_view name) {
    std::lock_guard lock(mutex_);
    if (!ensure_open_locked()) return RegStatus::failed;
    if (read_only_) return RegStatus::read_only;
    sqlite3_stmt *s = nullptr;
    if (sqlite3_prepare_v2(db_, "DELETE FROM vals WHERE key=?1 AND fold=?2", -1, &s, nullptr) != SQLITE_OK)
        return RegStatus::failed;
    bind_text(s, 1, fold_name(normalize_key_path(key)));
    bind_text(s, 2, fold_name(name));
    int rc = sqlite3_step(s);
    int changed = sqlite3_changes(db_);
    sqlite3_finalize(s);
    if (rc != SQLITE_DONE) return RegStatus::failed;
    return changed ? RegStatus::ok : RegStatus::absent;
}

RegStatus RegistryStore::remove_key(std::string_view key) {
    std::lock_guard lock(mutex_);
    if (!ensure_open_locked()) return RegStatus::failed;
    if (read_only_) return RegStatus::read_only;
    std::string fold = fold_name(normalize_key_path(key));
    auto [low, high] = sub_key_range(fold);
    if (!exec_locked("BEGIN IMMEDIATE")) return RegStatus::failed;
    bool ok = true;
    for (const char *sql : {"DELETE FROM vals WHERE key=?1 OR (key>=?2 AND key<?3)",
                            "DELETE FROM keys WHERE fold=?1 OR (fold>=?2 AND fold<?3)"}) {
        sqlite3_stmt *s = nullptr;
        ok = ok && sqlite3_prepare_v2(db_, sql, -1, &s, nullptr) == SQLITE_OK;
        if (ok) {
            bind_text(s, 1, fold);
            bind_text(s, 2, low);
            bind_text(s, 3, high);
            ok = sqlite3_step(s) == SQLITE_DONE;
        }
        if (!ok) error_ = sqlite3_errmsg(db_);
        sqlite3_finalize(s);
    }
    if (!exec_locked(ok ? "COMMIT" : "ROLLBACK")) ok = false;
    return ok ? RegStatus::ok : RegStatus::failed;
}

bool RegistryStore::key_exists(std::string_view key) {
    std::lock_guard lock(mutex_);
    if (!ensure_open_locked()) return false;
    std::string fold = fold_name(normalize_key_path(key));
    if (fold.empty()) return true;
    StatementUse use{has_key_};
    bind_text(has_key_, 1, fold);
    return sqlite3_step(has_key_) == SQLITE_ROW;
}

std::vector<std::string> RegistryStore::sub_keys(std::string_view key) {
    std::lock_guard lock(mutex_);
    std::vector<std::string> out;
    if (!ensure_open_locked()) return out;
    std::string fold = fold_name(normalize_key_path(key));
    auto [low, high] = sub_key_range(fold);
    sqlite3_stmt *s = nullptr;
    if (sqlite3_prepare_v2(db_, "SELECT path FROM keys WHERE fold>=?1 AND fold<?2 ORDER BY fold", -1, &s,
                           nullptr) != SQLITE_OK)
        return out;
    bind_text(s, 1, low);
    bind_text(s, 2, high);
    size_t skip = fold.empty() ? 0 : fold.size() + 1;
    while (sqlite3_step(s) == SQLITE_ROW) {
        std::string path = column_text(s, 0);
        if (path.size() <= skip) continue;
        std::string rest = path.substr(skip);
        if (rest.find('\\') == std::string::npos) out.push_back(rest); // direct children only
    }
    sqlite3_finalize(s);
    return out;
}

std::vector<std::pair<std::string, uint32_t>> RegistryStore::values(std::string_view key) {
    std::lock_guard lock(mutex_);
    std::vector<std::pair<std::string, uint32_t>> out;
    if (!ensure_open_locked()) return out;
    sqlite3_stmt *s = nullptr;
    if (sqlite3_prepare_v2(db_, "SELECT name, type FROM vals WHERE key=?1 ORDER BY fold", -1, &s, nullptr) !=
        SQLITE_OK)
        return out;
    bind_text(s, 1, fold_name(normalize_key_path(key)));
    while (sqlite3_step(s) == SQLITE_ROW)
        out.emplace_back(column_text(s, 0), static_cast<uint32_t>(sqlite3_column_int64(s, 1)));
    sqlite3_finalize(s);
    return out;
}

} // namespace tarmin::qzcom

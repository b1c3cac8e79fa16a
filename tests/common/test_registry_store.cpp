// The settings store file: where it lives, who may read it, damaged,
// foreign and emptied files, read-only access (by request and by file
// permissions) and several processes writing at once.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <grp.h>
#include <pwd.h>
#include <string>
#include <vector>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "common/registry_store.h"
#include "common/settings.h"
#include "qzcom.h"
#include "testsupport.h"

namespace fs = std::filesystem;
using tarmin::qzcom::RegistryStore;

namespace {

const char *kProduct = "tarmin-operator";

// Points TARMIN_HOME at another directory for one test and back. An
// existing directory is made private first, as a home must be.
class HomeSwitch {
public:
    explicit HomeSwitch(const fs::path &home) : saved_(std::getenv("TARMIN_HOME")) {
        if (fs::exists(home)) fs::permissions(home, fs::perms::owner_all, fs::perm_options::replace);
        ::setenv("TARMIN_HOME", home.c_str(), 1);
    }
    ~HomeSwitch() {
        QZ_Finalize();
        ::setenv("TARMIN_HOME", saved_.c_str(), 1);
    }

private:
    std::string saved_;
};

fs::path database() { return tarmin::qzcom::settings_store_path(); }

// A store with one value, closed again.
void make_store_with_value(const char *name, QZ_DWORD value) {
    ASSERT_EQ(QZ_Initialize(kProduct, QZ_VERSION), 0);
    ASSERT_EQ(QZ_SetDword(QZ_GetSettingsKey(0), name, value), 0);
    QZ_Finalize();
}

std::string error_text() { return tarmin::qzcom::settings_store_error(); }

// Runs body in a child process whose file permissions bind: as the user
// nobody when the test runs as root. The child reports a failed check by
// its exit status (the check's line); 0 when all held, 77 when it could not
// drop its privileges. dir is handed to the child's user first.
int run_unprivileged(const fs::path &dir, const std::function<void()> &body, uid_t uid = 65534) {
    bool root = ::geteuid() == 0;
    if (root && !dir.empty() && ::chown(dir.c_str(), uid, uid) != 0) return 77;
    pid_t pid = ::fork();
    if (pid == 0) {
        if (root && (::setgroups(0, nullptr) != 0 || ::setgid(uid) != 0 || ::setuid(uid) != 0)) ::_exit(77);
        body();
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

#define CHILD_CHECK(condition)                                                                          \
    do {                                                                                                \
        if (!(condition)) {                                                                             \
            std::fprintf(stderr, "%s:%d: %s failed (%s)\n", __FILE__, __LINE__, #condition,             \
                         error_text().c_str());                                                         \
            ::_exit(__LINE__ % 250 + 1);                                                                \
        }                                                                                               \
    } while (0)

// A directory the unprivileged child may use, outside the test home (whose
// own directory only its owner may enter).
struct SharedDir {
    fs::path path;
    SharedDir() {
        char tmpl[] = "/tmp/tarmin-store-XXXXXX";
        path = ::mkdtemp(tmpl);
    }
    ~SharedDir() {
        std::error_code ec;
        for (auto &p : fs::recursive_directory_iterator(path, ec))
            fs::permissions(p.path(), fs::perms::owner_all, fs::perm_options::add, ec);
        fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(path, ec);
    }
};

} // namespace

TEST(RegistryStoreFile, LivesInTheDataHomeCreatedForTheUserAlone) {
    fs::path home = tarmin::test::make_temp_dir() / "deep" / "tarmin";
    {
        HomeSwitch to(home);
        make_store_with_value("Setup", 1);
        EXPECT_EQ(database(), home / "registry.db");
        EXPECT_TRUE(fs::exists(home / "registry.db"));
        struct stat st {};
        ASSERT_EQ(::stat(home.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u);
    }
    // Without TARMIN_HOME: $XDG_DATA_HOME/tarmin, else ~/.local/share/tarmin.
    std::string saved = std::getenv("TARMIN_HOME");
    const char *xdg = std::getenv("XDG_DATA_HOME");
    std::string saved_xdg = xdg ? xdg : "";
    ::unsetenv("TARMIN_HOME");
    ::setenv("XDG_DATA_HOME", "/data/x", 1);
    EXPECT_EQ(tarmin::qzcom::tarmin_home(), fs::path("/data/x/tarmin"));
    ::unsetenv("XDG_DATA_HOME");
    ::setenv("HOME", "/home/operator", 1);
    EXPECT_EQ(tarmin::qzcom::tarmin_home(), fs::path("/home/operator/.local/share/tarmin"));
    ::setenv("TARMIN_HOME", saved.c_str(), 1);
    if (xdg) ::setenv("XDG_DATA_HOME", saved_xdg.c_str(), 1);
}

mode_t mode_of(const fs::path &p) {
    struct stat st {};
    return ::stat(p.c_str(), &st) == 0 ? st.st_mode & 07777 : 07777;
}

bool contains(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

// The home is made for the user alone and the store for its owner. An
// existing home or store that others may use, or another user's, is refused
// with the reason and the way out, and nothing is written into it.
TEST(RegistryStoreFile, HomeOrStoreOpenToOthersIsRefused) {
    fs::path home = tarmin::test::make_temp_dir() / "home";
    HomeSwitch to(home);
    make_store_with_value("Setup", 1);
    EXPECT_EQ(mode_of(home), 0700u);
    EXPECT_EQ(mode_of(database()), 0600u);

    struct Case {
        const char *what;
        fs::path path;
        mode_t mode;
        uid_t owner; // 0: the user's own
        std::vector<std::string> told;
    };
    const std::string h = home.string(), db = (home / "registry.db").string();
    std::vector<Case> cases{
        {"home readable by others", home, 0755, 0, {h, "other users", "chmod 700 " + h}},
        {"home writable by the group", home, 0770, 0, {h, "other users"}},
        {"store readable by others", home / "registry.db", 0644, 0, {db, "other users", "chmod 600 " + db}},
        {"store writable by the group", home / "registry.db", 0620, 0, {db, "other users"}},
    };
    if (::geteuid() == 0) {
        cases.push_back({"home of another user", home, 0700, 54321, {h, "another user"}});
        cases.push_back({"store of another user", home / "registry.db", 0600, 54321, {db, "another user"}});
    }
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(::chmod(c.path.c_str(), c.mode), 0);
        if (c.owner) {
            ASSERT_EQ(::chown(c.path.c_str(), c.owner, c.owner), 0);
        }
        EXPECT_LT(QZ_Initialize(kProduct, QZ_VERSION), 0);
        for (const std::string &part : c.told) EXPECT_TRUE(contains(error_text(), part)) << error_text();
        QZ_Finalize();
        if (c.owner) {
            ASSERT_EQ(::chown(c.path.c_str(), ::geteuid(), ::getegid()), 0);
        }
        ASSERT_EQ(::chmod(c.path.c_str(), c.path == home ? 0700 : 0600), 0);
        ASSERT_EQ(QZ_Initialize(kProduct, QZ_VERSION), 0) << error_text();
        QZ_DWORD v = 0;
        EXPECT_EQ(QZ_QueryDword(QZ_GetSettingsKey(0), "Setup", &v), 0);
        EXPECT_EQ(v, 1u);
        QZ_Finalize();
    }
    // A new home that others can enter gets no store.
    fs::path open_home = tarmin::test::make_temp_dir() / "open";
    fs::create_directory(open_home);
    fs::permissions(open_home, fs::perms::all, fs::perm_options::replace);
    ::setenv("TARMIN_HOME", open_home.c_str(), 1);
    EXPECT_LT(QZ_Initialize(kProduct, QZ_VERSION), 0);
    EXPECT_TRUE(contains(error_text(), "other users")) << error_text();
    EXPECT_FALSE(fs::exists(open_home / "registry.db"));
}

// Without a home directory (no HOME, no password entry) the store lives in
// /tmp/tarmin-<uid>, where another user may have been first: a directory of
// another user, or one that others can write, is refused.
TEST(RegistryStoreFile, TemporaryHomeOfAnotherUserIsRefused) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to play a user without a home";
    uid_t uid = 54000;
    while (::getpwuid(uid)) ++uid; // a user the password database does not know
    const fs::path fallback = "/tmp/tarmin-" + std::to_string(uid);
    fs::remove_all(fallback);
    auto attempt = [&](bool expect_refused) {
        return run_unprivileged({}, [&] {
            ::unsetenv("TARMIN_HOME");
            ::unsetenv("XDG_DATA_HOME");
            ::unsetenv("HOME");
            CHILD_CHECK(tarmin::qzcom::tarmin_home() == fallback);
            if (expect_refused) {
                CHILD_CHECK(QZ_Initialize(kProduct, QZ_VERSION) < 0);
                CHILD_CHECK(error_text().find(fallback.string()) != std::string::npos);
                CHILD_CHECK(!fs::exists(fallback / "registry.db"));
            } else {
                CHILD_CHECK(QZ_Initialize(kProduct, QZ_VERSION) == 0);
                CHILD_CHECK(QZ_SetDword(QZ_GetSettingsKey(0), "Setup", 1) == 0);
                QZ_Finalize();
            }
        }, uid);
    };
    // Made by another user and open for everyone to write.
    fs::create_directory(fallback);
    ASSERT_EQ(::chown(fallback.c_str(), uid + 1, uid + 1), 0);
    ASSERT_EQ(::chmod(fallback.c_str(), 0777), 0);
    EXPECT_EQ(attempt(true), 0);
    // The user's own, but others can write it.
    ASSERT_EQ(::chown(fallback.c_str(), uid, uid), 0);
    EXPECT_EQ(attempt(true), 0);
    // Missing: made for the user alone.
    fs::remove_all(fallback);
    EXPECT_EQ(attempt(false), 0);
    EXPECT_EQ(mode_of(fallback), 0700u);
    fs::remove_all(fallback);
}

// An emptied store is not silently a new one: every setting would be lost.
// The message tells how to start over; the file stays as it was.
TEST(RegistryStoreFile, EmptiedStoreIsRefusedUntilRemoved) {
    HomeSwitch to(tarmin::test::make_temp_dir());
    make_store_with_value("Setup", 1);
    fs::path db = database();
    fs::resize_file(db, 0);
    EXPECT_LT(QZ_Initialize(kProduct, QZ_VERSION), 0);
    EXPECT_TRUE(contains(error_text(), db.string())) << error_text();
    EXPECT_TRUE(contains(error_text(), "empty")) << error_text();
    EXPECT_TRUE(contains(error_text(), "delete")) << error_text();
    EXPECT_EQ(fs::file_size(db), 0u);
    QZ_Finalize();
    // Read-only access says the same.
    ::setenv("TARMIN_REGISTRY_READONLY", "1", 1);
    EXPECT_LT(QZ_Initialize(kProduct, QZ_VERSION), 0);
    EXPECT_TRUE(contains(error_text(), "delete")) << error_text();
    ::unsetenv("TARMIN_REGISTRY_READONLY");
    // Deleted as told: a new store.
    fs::remove(db);
    ASSERT_EQ(QZ_Initialize(kProduct, QZ_VERSION), 0) << error_text();
    QZ_DWORD v = 0;
    EXPECT_NE(QZ_QueryDword(QZ_GetSettingsKey(0), "Setup", &v), 0);
}

TEST(RegistryStoreFile, DamagedOrForeignFilesAreClearErrors) {
    HomeSwitch to(tarmin::test::make_temp_dir());
    fs::path db = fs::path(std::getenv("TARMIN_HOME")) / "registry.db";

    // The files below are private, as a store must be, so that their content is looked at.
    auto write_private = [&](const std::string &bytes) {
        tarmin::test::write_file(db, bytes);
        fs::permissions(db, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::replace);
    };
    // Not a database at all.
    write_private(std::string(4096, '\x5a'));
    EXPECT_LT(QZ_Initialize(kProduct, QZ_VERSION), 0);
    EXPECT_NE(error_text().find(db.string()), std::string::npos) << error_text();
    EXPECT_NE(error_text().find("not a database"), std::string::npos) << error_text();
    QZ_DWORD v = 1;
    EXPECT_NE(QZ_GetKeyDword("Software", "x", &v), 0);
    EXPECT_EQ(v, 0u);
    EXPECT_NE(QZ_SetKeyDword("Software", "x", 1, 0), 0);
    EXPECT_TRUE(tarmin::test::read_file(db) == std::string(4096, '\x5a')); // left as it was

    // A store whose pages were overwritten.
    fs::remove(db);
    ASSERT_EQ(QZ_Initialize(kProduct, QZ_VERSION), 0);
    for (int i = 0; i < 200; ++i)
        QZ_SetKeyString((std::string(QZ_GetProductKeyName()) + "\\K" + std::to_string(i)).c_str(), "Name",
                        std::string(100, 'x').c_str(), 0);
    QZ_Finalize();
    std::string bytes = tarmin::test::read_file(db);
    ASSERT_GT(bytes.size(), 8192u);
    for (size_t i = 4096 + 100; i < bytes.size(); i += 97) bytes[i] = static_cast<char>(i * 31);
    write_private(bytes);
    EXPECT_LT(QZ_Initialize(kProduct, QZ_VERSION), 0);
    EXPECT_NE(error_text().find("registry.db"), std::string::npos) << error_text();

    // Another program's SQLite file is neither used nor changed.
    fs::remove(db);
    std::string sqlite = "sqlite3 '" + db.string() + "' 'CREATE TABLE other(x); INSERT INTO other VALUES(1);'";
    if (std::system(sqlite.c_str()) != 0) GTEST_SKIP() << "no sqlite3 program to make a foreign database";
    fs::permissions(db, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::replace);
    std::string before = tarmin::test::read_file(db);
    EXPECT_LT(QZ_Initialize(kProduct, QZ_VERSION), 0);
    EXPECT_NE(error_text().find("is not a settings store"), std::string::npos) << error_text();
    EXPECT_TRUE(tarmin::test::read_file(db) == before) << "the foreign file was changed";
}

TEST(RegistryStoreReadOnly, RequestedReadOnlyReadsAndRefusesWrites) {
    HomeSwitch to(tarmin::test::make_temp_dir());
    make_store_with_value("KVITFlags", 8);
    ::setenv("TARMIN_REGISTRY_READONLY", "1", 1);
    ASSERT_EQ(QZ_Initialize(kProduct, QZ_VERSION), 0);
    EXPECT_EQ(QZ_IsReadOnly(), 1);
    QZ_HKEY settings = QZ_GetSettingsKey(0);
    QZ_DWORD v = 0;
    EXPECT_EQ(QZ_QueryDword(settings, "KVITFlags", &v), 0);
    EXPECT_EQ(v, 8u);
    EXPECT_NE(QZ_SetDword(settings, "KVITFlags", 9), 0);
    EXPECT_NE(QZ_SetKeyString(QZ_GetProductKeyName(), "AdmAddr", "a@b", 0), 0);
    EXPECT_NE(QZ_DeleteKey(QZ_GetProductKeyName(), 0), 0);
    EXPECT_LT(QZ_DeleteValue(QZ_GetProductKeyName(), "KVITFlags"), 0);
    QZ_HKEY k = nullptr;
    // The configuration program's fallback: write access refused, read access granted.
    EXPECT_NE(QZ_RegOpenKey(&k, QZ_GetProductKeyName(), QZ_KEY_WRITE_READ, nullptr), 0);
    EXPECT_NE(QZ_RegOpenKey(&k, QZ_GetProductKeyName(), QZ_KEY_ALL_ACCESS, nullptr), 0);
    ASSERT_EQ(QZ_RegOpenKey(&k, QZ_GetProductKeyName(), QZ_KEY_READ, nullptr), 0);
    EXPECT_EQ(QZ_RegGetDword(k, "KVITFlags", &v, 0), 0);
    EXPECT_EQ(v, 8u);
    QZ_RegCloseKey(k);
    QZ_Finalize();
    ::unsetenv("TARMIN_REGISTRY_READONLY");
    ASSERT_EQ(QZ_Initialize(kProduct, QZ_VERSION), 0);
    EXPECT_EQ(QZ_IsReadOnly(), 0);
    EXPECT_EQ(QZ_SetDword(QZ_GetSettingsKey(0), "KVITFlags", 9), 0);
}

// File permissions: a read-only database file or directory opens read-only,
// leaves nothing behind that would keep writers out once the permissions are
// given back, and a store that cannot be created is a clear error.
TEST(RegistryStoreReadOnly, UnwritableFileOrDirectoryOpensReadOnly) {
    SharedDir shared;
    fs::path home = shared.path / "home";
    int rc = run_unprivileged(shared.path, [&] {
        ::setenv("TARMIN_HOME", home.c_str(), 1);
        CHILD_CHECK(QZ_Initialize(kProduct, QZ_VERSION) == 0);
        CHILD_CHECK(QZ_SetDword(QZ_GetSettingsKey(0), "KVITFlags", 8) == 0);
        QZ_Finalize();
        fs::path db = home / "registry.db";

        auto read_only_checks = [&] {
            CHILD_CHECK(QZ_Initialize(kProduct, QZ_VERSION) == 0);
            CHILD_CHECK(QZ_IsReadOnly() == 1);
            QZ_DWORD v = 0;
            CHILD_CHECK(QZ_QueryDword(QZ_GetSettingsKey(0), "KVITFlags", &v) == 0 && v == 8);
            CHILD_CHECK(QZ_SetDword(QZ_GetSettingsKey(0), "KVITFlags", 1) != 0);
            QZ_HKEY k = nullptr;
            CHILD_CHECK(QZ_RegOpenKey(&k, QZ_GetProductKeyName(), QZ_KEY_WRITE_READ, nullptr) != 0);
            CHILD_CHECK(QZ_RegOpenKey(&k, QZ_GetProductKeyName(), QZ_KEY_READ, nullptr) == 0);
            QZ_RegCloseKey(k);
            QZ_Finalize();
        };
        // The file read-only.
        fs::permissions(db, fs::perms::owner_read);
        read_only_checks();
        CHILD_CHECK(!fs::exists(home / "registry.db-shm"));
        fs::permissions(db, fs::perms::owner_read | fs::perms::owner_write);
        // The directory read-only (WAL could not make its files there).
        fs::permissions(home, fs::perms::owner_read | fs::perms::owner_exec);
        read_only_checks();
        fs::permissions(home, fs::perms::owner_all);
        // Permissions back: writing works again.
        CHILD_CHECK(QZ_Initialize(kProduct, QZ_VERSION) == 0);
        CHILD_CHECK(QZ_IsReadOnly() == 0);
        CHILD_CHECK(QZ_SetDword(QZ_GetSettingsKey(0), "KVITFlags", 9) == 0);
        QZ_Finalize();
        // No store yet and none can be made.
        fs::path empty = shared.path / "empty";
        fs::create_directory(empty);
        fs::permissions(empty, fs::perms::owner_read | fs::perms::owner_exec);
        ::setenv("TARMIN_HOME", empty.c_str(), 1);
        CHILD_CHECK(QZ_Initialize(kProduct, QZ_VERSION) < 0);
        CHILD_CHECK(error_text().find("cannot be created") != std::string::npos);
        CHILD_CHECK(QZ_IsReadOnly() == 1);
    });
    if (rc == 77) GTEST_SKIP() << "cannot run as an unprivileged user";
    EXPECT_EQ(rc, 0) << "the check failing ends in " << rc << " (see the child's message above)";
}

// Two processes (the monitor and the configuration program) write and read
// at once: every value written by either is there afterwards. The parent
// keeps its own connection open across the forks.
TEST(RegistryStoreProcesses, TwoWritersLoseNothing) {
    ASSERT_EQ(QZ_Initialize(kProduct, QZ_VERSION), 0);
    ASSERT_EQ(QZ_SetDword(QZ_GetSettingsKey(0), "Start", 1), 0);

    constexpr int kWrites = 300;
    pid_t children[2];
    for (int c = 0; c < 2; ++c) {
        children[c] = ::fork();
        ASSERT_GE(children[c], 0);
        if (children[c] == 0) {
            if (QZ_Initialize(kProduct, QZ_VERSION) != 0) ::_exit(2);
            QZ_HKEY k = QZ_GetSettingsKey(0);
            std::string list = std::string(QZ_GetProductKeyName()) + "\\List" + std::to_string(c);
            for (int i = 0; i < kWrites; ++i) {
                std::string name = "P" + std::to_string(c) + "_" + std::to_string(i);
                if (QZ_SetDword(k, name.c_str(), static_cast<QZ_DWORD>(i)) != 0) ::_exit(3);
                QZ_DWORD v = 0;
                if (QZ_QueryDword(k, name.c_str(), &v) != 0 || v != static_cast<QZ_DWORD>(i)) ::_exit(4);
                if (QZ_SetKeyString(list.c_str(), "Last", name.c_str(), 0) != 0) ::_exit(5);
                // The other process's values are readable while it writes.
                std::string other = "P" + std::to_string(1 - c) + "_0";
                if (QZ_GetDword(k, other.c_str(), &v, 0) != 0) ::_exit(6);
            }
            QZ_Finalize();
            ::_exit(0);
        }
    }
    // The parent reads meanwhile through the connection it had before.
    QZ_DWORD start = 0;
    for (int i = 0; i < 50; ++i) EXPECT_EQ(QZ_QueryDword(QZ_GetSettingsKey(0), "Start", &start), 0);
    for (pid_t pid : children) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }
    int found = 0;
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < kWrites; ++i) {
            std::string name = "P" + std::to_string(c) + "_" + std::to_string(i);
            QZ_DWORD v = 0;
            if (QZ_QueryDword(QZ_GetSettingsKey(0), name.c_str(), &v) == 0 && v == static_cast<QZ_DWORD>(i)) ++found;
        }
    EXPECT_EQ(found, 2 * kWrites);
    char *last = nullptr;
    QZ_GetKeyString((std::string(QZ_GetProductKeyName()) + "\\List1").c_str(), "Last", &last, "");
    EXPECT_STREQ(last, ("P1_" + std::to_string(kWrites - 1)).c_str());
    QZ_Free(last);
    QZ_Finalize();
}

// The settings store: defaults, types, case, buffers, keys, profiles,
// read-only access, several processes, environment references.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "common/codepage.h"
#include "common/registry_store.h"
#include "qzcom.h"
#include "testsupport.h"

using namespace tarmin::cp::literals;
namespace fs = std::filesystem;

namespace {

const char *kProduct = "tarmin-operator";

class Registry : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(QZ_InitializeWithProfile(kProduct, "Test", QZ_VERSION), 0);
        QZ_DeleteKey(QZ_GetProductKeyName(), 0); // each case starts from an empty profile
    }
    void TearDown() override { QZ_Finalize(); }
    QZ_HKEY settings() { return QZ_GetSettingsKey(0); }
    std::string key() { return QZ_GetProductKeyName(); }
};

std::string get_string(QZ_HKEY k, const char *name, const char *def, int *rc = nullptr) {
    char *out = nullptr;
    int r = QZ_GetString(k, name, &out, def);
    if (rc) *rc = r;
    std::string s = out ? out : "<null>";
    QZ_Free(out);
    return s;
}

} // namespace

TEST(RegistryInit, ProductKeyPathsFollowTheProfile) {
    EXPECT_EQ(QZ_GetProductKeyName(), nullptr);
    EXPECT_EQ(QZ_GetSettingsKey(0), nullptr);
    ASSERT_EQ(QZ_Initialize(kProduct, QZ_VERSION), 0);
    EXPECT_STREQ(QZ_GetProductKeyName(), "Software\\KELVORIA\\tarmin-operator");
    QZ_Finalize();
    ASSERT_EQ(QZ_InitializeWithProfile(kProduct, "demo", QZ_VERSION), 0);
    EXPECT_STREQ(QZ_GetProductKeyName(), "Software\\KELVORIA\\tarmin-operator\\Profiles\\demo");
    char small[10];
    EXPECT_NE(QZ_GetRegistryKeyString(small, sizeof small), 0);
    char buf[QZ_MAX_KEY_PATH];
    EXPECT_EQ(QZ_GetRegistryKeyString(buf, sizeof buf), 0);
    EXPECT_STREQ(buf, QZ_GetProductKeyName());
    QZ_Finalize();
    EXPECT_LT(QZ_Initialize(kProduct, 0x20001), 0);
    EXPECT_LT(QZ_Initialize(nullptr, QZ_VERSION), 0);
}

TEST(RegistryInit, ProfilesKeepTheirOwnSettings) {
    ASSERT_EQ(QZ_InitializeWithProfile(kProduct, "one", QZ_VERSION), 0);
    ASSERT_EQ(QZ_SetDword(QZ_GetSettingsKey(0), "GWMonRefreshTimeout", 10), 0);
    QZ_Finalize();
    ASSERT_EQ(QZ_InitializeWithProfile(kProduct, "two", QZ_VERSION), 0);
    QZ_DWORD v = 0;
    QZ_GetDword(QZ_GetSettingsKey(0), "GWMonRefreshTimeout", &v, 120);
    EXPECT_EQ(v, 120u);
    QZ_Finalize();
    ASSERT_EQ(QZ_InitializeWithProfile(kProduct, "ONE", QZ_VERSION), 0); // profile names ignore case too
    QZ_GetDword(QZ_GetSettingsKey(0), "GWMonRefreshTimeout", &v, 120);
    EXPECT_EQ(v, 10u);
    QZ_Finalize();
}

TEST(RegistryInit, CorruptDatabaseIsAnErrorNotACrash) {
    auto &store = tarmin::qzcom::RegistryStore::instance();
    store.close();
    fs::path db = store.database_path();
    for (const char *suffix : {"", "-wal", "-shm"}) fs::remove(db.string() + suffix);
    tarmin::test::write_file(db, std::string(4096, '\x5a'));
    EXPECT_LT(QZ_Initialize(kProduct, QZ_VERSION), 0);
    EXPECT_NE(store.last_error().find("registry.db"), std::string::npos);
    QZ_DWORD v = 1;
    EXPECT_NE(QZ_GetKeyDword("Software", "x", &v), 0);
    EXPECT_EQ(v, 0u);
    store.close();
    fs::remove(db);
}

TEST_F(Registry, MissingValuesGiveTheirDefaults) {
    QZ_DWORD v = 0;
    EXPECT_EQ(QZ_GetDword(settings(), "GWMonRefreshTimeout", &v, 120), 0);
    EXPECT_EQ(v, 120u);
    EXPECT_NE(QZ_QueryDword(settings(), "Setup", &v), 0);
    EXPECT_EQ(v, 0u);
    EXPECT_NE(QZ_GetKeyDword(key().c_str(), "CertificateFlags", &v), 0);
    EXPECT_EQ(QZ_GetKeyDwordEx(key().c_str(), "ArchiveFlags", &v, 7, 0), 0);
    EXPECT_EQ(v, 7u);
    int rc = 0;
    EXPECT_EQ(get_string(settings(), "Separator", ",", &rc), ",");
    EXPECT_NE(rc, 0);
    char buf[8];
    EXPECT_NE(QZ_GetStringBuf(settings(), "AdmAddr", buf, sizeof buf, ""), 0);
    EXPECT_STREQ(buf, "");
}

TEST_F(Registry, ValuesKeepTheirTypes) {
    ASSERT_EQ(QZ_SetDword(settings(), "dbglvl", 9), 0);
    ASSERT_EQ(QZ_SetKeyString(key().c_str(), "AdmAddr", "admin@example.ru", 0), 0);
    const unsigned char blob[] = {0, 1, 2, 0xFF};
    ASSERT_EQ(QZ_SetKeyBinary(key().c_str(), "Hash", blob, sizeof blob, QZ_REG_BINARY, 0), 0);

    QZ_DWORD v = 0;
    EXPECT_EQ(QZ_QueryDword(settings(), "dbglvl", &v), 0);
    EXPECT_EQ(v, 9u);
    EXPECT_EQ(get_string(settings(), "AdmAddr", ""), "admin@example.ru");

    unsigned char out[QZ_MAX_BINARY];
    QZ_DWORD len = sizeof out;
    ASSERT_EQ(QZ_GetKeyBinary(key().c_str(), "Hash", out, &len, 0), 0);
    EXPECT_EQ(len, sizeof blob);
    EXPECT_EQ(std::memcmp(out, blob, sizeof blob), 0);

    // A value of another type is unreadable: the number reader gives the default and nonzero.
    EXPECT_NE(QZ_GetDword(settings(), "AdmAddr", &v, 5), 0);
    EXPECT_EQ(v, 5u);
    int rc = 0;
    EXPECT_EQ(get_string(settings(), "dbglvl", "dflt", &rc), "dflt");
    EXPECT_NE(rc, 0);
    len = sizeof out;
    EXPECT_NE(QZ_GetKeyBinary(key().c_str(), "AdmAddr", out, &len, 0), 0);

    // Overwriting changes the type.
    ASSERT_EQ(QZ_SetDword(settings(), "AdmAddr", 3), 0);
    EXPECT_EQ(QZ_QueryDword(settings(), "AdmAddr", &v), 0);
    EXPECT_EQ(v, 3u);
}

TEST_F(Registry, GetKeyValueGivesDefaultOrStoredData) {
    unsigned char buf[32];
    QZ_DWORD len = sizeof buf, type = QZ_REG_BINARY;
    const unsigned char zero = 0;
    ASSERT_EQ(QZ_GetKeyValue(key().c_str(), "Hash", buf, &len, &type, &zero, 1, QZ_REG_BINARY, 0), 0);
    EXPECT_EQ(len, 1u);
    EXPECT_EQ(buf[0], 0);
    unsigned char digest[32];
    for (int i = 0; i < 32; ++i) digest[i] = static_cast<unsigned char>(i * 7);
    ASSERT_EQ(QZ_SetKeyBinary(key().c_str(), "Hash", digest, 32, QZ_REG_BINARY, 0), 0);
    len = sizeof buf;
    type = QZ_REG_BINARY;
    ASSERT_EQ(QZ_GetKeyValue(key().c_str(), "Hash", buf, &len, &type, &zero, 1, QZ_REG_BINARY, 0), 0);
    EXPECT_EQ(len, 32u);
    EXPECT_EQ(std::memcmp(buf, digest, 32), 0);
    // Too small a buffer or another type: refused, nothing overrun.
    len = 16;
    EXPECT_NE(QZ_GetKeyValue(key().c_str(), "Hash", buf, &len, &type, &zero, 1, QZ_REG_BINARY, 0), 0);
    len = sizeof buf;
    type = QZ_REG_DWORD;
    EXPECT_NE(QZ_GetKeyValue(key().c_str(), "Hash", buf, &len, &type, &zero, 1, QZ_REG_BINARY, 0), 0);
}

TEST_F(Registry, NamesAndPathsIgnoreCaseCyrillicIncluded) {
    ASSERT_EQ(QZ_SetKeyString(key().c_str(), "Путь"_w, "1", 0), 0);
    std::string upper = tarmin::cp::upper_1251(key());
    char *out = nullptr;
    EXPECT_EQ(QZ_GetKeyString(upper.c_str(), "ПУТЬ"_w, &out, ""), 0);
    EXPECT_STREQ(out, "1");
    QZ_Free(out);
    ASSERT_EQ(QZ_SetKeyString((key() + "\\Список"_w).c_str(), "X", "a", 0), 0);
    char name[64];
    ASSERT_EQ(QZ_RegEnumKey(upper.c_str(), 0, name, sizeof name), 0);
    EXPECT_STREQ(name, "Список"_w); // the name keeps the case it was written in
    // Redundant separators do not make another key.
    out = nullptr;
    EXPECT_EQ(QZ_GetKeyString(("\\" + key() + "\\\\СПИСОК\\"_w).c_str(), "x", &out, ""), 0);
    EXPECT_STREQ(out, "a");
    QZ_Free(out);
}

TEST_F(Registry, BuffersAreCutNeverOverrun) {
    ASSERT_EQ(QZ_SetKeyString(key().c_str(), "Long", "0123456789", 0), 0);
    char buf[8];
    std::memset(buf, 'X', sizeof buf);
    char guard[4] = {'G', 'G', 'G', 'G'};
    EXPECT_EQ(QZ_GetStringBuf(settings(), "Long", buf, 5, ""), 0);
    EXPECT_STREQ(buf, "0123");
    EXPECT_EQ(buf[5], 'X');
    EXPECT_EQ(guard[0], 'G');
    EXPECT_EQ(QZ_GetStringBuf(settings(), "Long", buf, 1, ""), 0);
    EXPECT_STREQ(buf, "");
    std::string big(QZ_MAX_BINARY + 1, 'b');
    ASSERT_EQ(QZ_SetKeyBinary(key().c_str(), "Big", big.data(), static_cast<QZ_DWORD>(big.size()), QZ_REG_BINARY, 0), 0);
    std::string out(QZ_MAX_BINARY + 16, '\0');
    QZ_DWORD len = static_cast<QZ_DWORD>(out.size());
    EXPECT_NE(QZ_GetKeyBinary(key().c_str(), "Big", out.data(), &len, 1), 0);
}

TEST_F(Registry, DeleteKeyRemovesSubKeysButNotNeighbours) {
    std::string list = key() + "\\PacketList";
    ASSERT_EQ(QZ_SetKeyDword(list.c_str(), "Num", 2, 0), 0);
    ASSERT_EQ(QZ_SetKeyString((list + "\\0").c_str(), "Name", "a", 0), 0);
    ASSERT_EQ(QZ_SetKeyString((list + "\\0\\Email").c_str(), "0", "x@y", 0), 0);
    ASSERT_EQ(QZ_SetKeyString((key() + "\\PacketList2").c_str(), "Name", "keep", 0), 0);
    ASSERT_EQ(QZ_DeleteKey(list.c_str(), 0), 0);
    QZ_HKEY k = nullptr;
    EXPECT_NE(QZ_RegOpenKey(&k, list.c_str(), QZ_KEY_READ, nullptr), 0);
    EXPECT_NE(QZ_RegOpenKey(&k, (list + "\\0\\Email").c_str(), QZ_KEY_READ, nullptr), 0);
    char *out = nullptr;
    EXPECT_EQ(QZ_GetKeyString((key() + "\\PacketList2").c_str(), "Name", &out, ""), 0);
    EXPECT_STREQ(out, "keep");
    QZ_Free(out);
    EXPECT_EQ(QZ_DeleteKey(list.c_str(), 0), 0); // missing key: nothing to do
    EXPECT_NE(QZ_DeleteKey("", 0), 0);           // never the whole tree
}

TEST_F(Registry, OpenKeysHonourTheirAccess) {
    std::string path = key() + "\\SenderList\\0";
    QZ_HKEY k = nullptr;
    EXPECT_NE(QZ_RegOpenKey(&k, path.c_str(), QZ_KEY_READ, nullptr), 0);
    ASSERT_EQ(QZ_RegOpenKey(&k, path.c_str(), QZ_KEY_WRITE_READ, nullptr), 0);
    EXPECT_EQ(QZ_RegSetDword(k, "GWType", 2), 0);
    EXPECT_EQ(QZ_RegSetStringEx(k, "Dir", "%TEMP%/out", QZ_REG_EXPAND_SZ), 0);
    QZ_RegCloseKey(k);

    ASSERT_EQ(QZ_RegOpenKey(&k, path.c_str(), QZ_KEY_READ, nullptr), 0);
    EXPECT_NE(QZ_RegSetDword(k, "GWType", 3), 0); // read access only
    QZ_DWORD v = 0;
    EXPECT_EQ(QZ_RegGetDword(k, "GWType", &v, 0), 0);
    EXPECT_EQ(v, 2u);
    char buf[260];
    QZ_DWORD type = 0;
    ASSERT_EQ(QZ_RegGetStringEx(k, "Dir", buf, 259, &type), 0);
    EXPECT_STREQ(buf, "%TEMP%/out");
    EXPECT_EQ(type, QZ_REG_EXPAND_SZ);
    ::setenv("TEMP", "/var/tmp/x", 1);
    ASSERT_EQ(QZ_RegGetString(k, "Dir", buf, sizeof buf, ""), 0);
    EXPECT_STREQ(buf, "/var/tmp/x/out");
    EXPECT_NE(QZ_RegGetStringEx(k, "Nothing", buf, sizeof buf, nullptr), 0);
    QZ_RegCloseKey(k);
    EXPECT_NE(QZ_RegOpenKey(&k, path.c_str(), 0x1234, nullptr), 0);
}

TEST(RegistryEnvironment, ReferencesExpandAsOnWindows) {
    ::setenv("TARMIN_X", "value", 1);
    ::unsetenv("TEMP");
    ::unsetenv("TMP");
    ::setenv("TMPDIR", "/scratch", 1);
    auto expand = [](const char *t) {
        char *e = QZ_ExpandEnvironment(t);
        std::string s = e;
        QZ_Free(e);
        return s;
    };
    EXPECT_EQ(expand("%TARMIN_X%/a"), "value/a");
    EXPECT_EQ(expand("%TEMP%\\"), "/scratch\\");
    EXPECT_EQ(expand("%tmp%"), "/scratch");
    EXPECT_EQ(expand("%NO_SUCH_VARIABLE%x"), "%NO_SUCH_VARIABLE%x");
    EXPECT_EQ(expand("100%"), "100%");
    EXPECT_EQ(expand("%%TARMIN_X%"), "%value");
    ::unsetenv("TMPDIR");
    EXPECT_EQ(expand("%TEMP%"), "/tmp");

    // Defaults of the string readers expand too.
    ASSERT_EQ(QZ_Initialize(kProduct, QZ_VERSION), 0);
    char *out = nullptr;
    QZ_GetString(QZ_GetSettingsKey(0), "Filename", &out, "%TEMP%\\");
    EXPECT_STREQ(out, "/tmp\\");
    QZ_Free(out);
    QZ_Finalize();
}

TEST(RegistryReadOnly, ReadersWorkWritersFail) {
    ASSERT_EQ(QZ_Initialize(kProduct, QZ_VERSION), 0);
    ASSERT_EQ(QZ_SetDword(QZ_GetSettingsKey(0), "KVITFlags", 8), 0);
    QZ_Finalize();
    tarmin::qzcom::RegistryStore::instance().close();

    ::setenv("TARMIN_REGISTRY_READONLY", "1", 1);
    ASSERT_EQ(QZ_Initialize(kProduct, QZ_VERSION), 0);
    EXPECT_EQ(QZ_IsReadOnly(), 1);
    QZ_DWORD v = 0;
    EXPECT_EQ(QZ_QueryDword(QZ_GetSettingsKey(0), "KVITFlags", &v), 0);
    EXPECT_EQ(v, 8u);
    EXPECT_NE(QZ_SetDword(QZ_GetSettingsKey(0), "KVITFlags", 9), 0);
    QZ_HKEY k = nullptr;
    EXPECT_NE(QZ_RegOpenKey(&k, QZ_GetProductKeyName(), QZ_KEY_WRITE_READ, nullptr), 0);
    ASSERT_EQ(QZ_RegOpenKey(&k, QZ_GetProductKeyName(), QZ_KEY_READ, nullptr), 0);
    QZ_RegCloseKey(k);
    QZ_Finalize();
    tarmin::qzcom::RegistryStore::instance().close();
    ::unsetenv("TARMIN_REGISTRY_READONLY");
}

TEST(RegistryReadOnly, UnwritableFileOpensReadOnly) {
    if (::geteuid() == 0) GTEST_SKIP() << "file permissions do not bind root";
    ASSERT_EQ(QZ_Initialize(kProduct, QZ_VERSION), 0);
    ASSERT_EQ(QZ_SetDword(QZ_GetSettingsKey(0), "KVITFlags", 8), 0);
    QZ_Finalize();
    auto &store = tarmin::qzcom::RegistryStore::instance();
    store.close();
    fs::path db = store.database_path();
    fs::permissions(db, fs::perms::owner_read);
    ASSERT_EQ(QZ_Initialize(kProduct, QZ_VERSION), 0);
    EXPECT_EQ(QZ_IsReadOnly(), 1);
    QZ_DWORD v = 0;
    EXPECT_EQ(QZ_QueryDword(QZ_GetSettingsKey(0), "KVITFlags", &v), 0);
    EXPECT_NE(QZ_SetDword(QZ_GetSettingsKey(0), "KVITFlags", 1), 0);
    QZ_Finalize();
    store.close();
    fs::permissions(db, fs::perms::owner_read | fs::perms::owner_write);
}

// Two processes (the monitor and the configuration program) write and read
// at once: every value written by either is there afterwards.
TEST(RegistryProcesses, TwoWritersLoseNothing) {
    ASSERT_EQ(QZ_Initialize(kProduct, QZ_VERSION), 0);
    QZ_SetDword(QZ_GetSettingsKey(0), "Start", 1); // the database exists before the children
    QZ_Finalize();
    tarmin::qzcom::RegistryStore::instance().close();

    constexpr int kWrites = 300;
    pid_t children[2];
    for (int c = 0; c < 2; ++c) {
        children[c] = ::fork();
        ASSERT_GE(children[c], 0);
        if (children[c] == 0) {
            if (QZ_Initialize(kProduct, QZ_VERSION) != 0) ::_exit(2);
            QZ_HKEY k = QZ_GetSettingsKey(0);
            for (int i = 0; i < kWrites; ++i) {
                std::string name = "P" + std::to_string(c) + "_" + std::to_string(i);
                if (QZ_SetDword(k, name.c_str(), static_cast<QZ_DWORD>(i)) != 0) ::_exit(3);
                QZ_DWORD v = 0;
                if (QZ_QueryDword(k, name.c_str(), &v) != 0 || v != static_cast<QZ_DWORD>(i)) ::_exit(4);
                std::string list = std::string(QZ_GetProductKeyName()) + "\\List" + std::to_string(c);
                if (QZ_SetKeyString(list.c_str(), "Last", name.c_str(), 0) != 0) ::_exit(5);
            }
            QZ_Finalize();
            ::_exit(0);
        }
    }
    for (pid_t pid : children) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }
    ASSERT_EQ(QZ_Initialize(kProduct, QZ_VERSION), 0);
    int found = 0;
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < kWrites; ++i) {
            std::string name = "P" + std::to_string(c) + "_" + std::to_string(i);
            QZ_DWORD v = 0;
            if (QZ_QueryDword(QZ_GetSettingsKey(0), name.c_str(), &v) == 0 && v == static_cast<QZ_DWORD>(i)) ++found;
        }
    EXPECT_EQ(found, 2 * kWrites);
    QZ_Finalize();
}

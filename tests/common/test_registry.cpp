// The settings functions: initialisation and profiles, defaults, types, case,
// buffers, keys and their deletion, open keys, names the store refuses,
// environment references, and several threads at once.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <sys/mman.h>
#include <string>
#include <thread>
#include <vector>

#include "common/codepage.h"
#include "common/settings.h"
#include "qzcom.h"
#include "testsupport.h"

using namespace tarmin::cp::literals;

namespace {

const char *kProduct = "tarmin-operator";

class Registry : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(QZ_InitializeWithProfile(kProduct, "Test", QZ_VERSION), 0);
        ASSERT_EQ(QZ_DeleteKey(QZ_GetProductKeyName(), 0), 0); // each case starts from an empty profile
    }
    void TearDown() override { QZ_Finalize(); }
    QZ_HKEY settings() { return QZ_GetSettingsKey(0); }
    std::string key() { return QZ_GetProductKeyName(); }
    std::string sub(const std::string &name) { return key() + "\\" + name; }
};

std::string get_string(QZ_HKEY k, const char *name, const char *def, int *rc = nullptr) {
    char *out = nullptr;
    int r = QZ_GetString(k, name, &out, def);
    if (rc) *rc = r;
    std::string s = out ? out : "<null>";
    QZ_Free(out);
    return s;
}

std::string key_string(const std::string &path, const char *name, const char *def = "<default>") {
    char *out = nullptr;
    QZ_GetKeyString(path.c_str(), name, &out, def);
    std::string s = out ? out : "<null>";
    QZ_Free(out);
    return s;
}

std::vector<std::string> sub_keys(const std::string &path) {
    std::vector<std::string> out;
    char name[QZ_MAX_KEY_PATH];
    for (QZ_DWORD i = 0; QZ_RegEnumKey(path.c_str(), i, name, sizeof name) == 0; ++i) out.push_back(name);
    return out;
}

std::vector<std::string> value_names(const std::string &path) {
    std::vector<std::string> out;
    char name[QZ_MAX_KEY_PATH];
    for (QZ_DWORD i = 0; QZ_RegEnumValue(path.c_str(), i, name, sizeof name, nullptr) == 0; ++i) out.push_back(name);
    return out;
}

std::string expand(const char *text) {
    char *e = QZ_ExpandEnvironment(text);
    std::string s = e ? e : "<null>";
    QZ_Free(e);
    return s;
}

} // namespace

// ---- Initialisation and profiles --------------------------------------------

TEST(RegistryInit, ProductKeyPathsFollowTheProfile) {
    ASSERT_EQ(QZ_Initialize(kProduct, QZ_VERSION), 0);
    EXPECT_STREQ(QZ_GetProductKeyName(), "Software\\KELVORIA\\tarmin-operator");
    QZ_Finalize();
    ASSERT_EQ(QZ_InitializeWithProfile(kProduct, "", QZ_VERSION), 0); // an empty profile is none
    EXPECT_STREQ(QZ_GetProductKeyName(), "Software\\KELVORIA\\tarmin-operator");
    QZ_Finalize();
    ASSERT_EQ(QZ_InitializeWithProfile(kProduct, "demo", QZ_VERSION), 0);
    EXPECT_STREQ(QZ_GetProductKeyName(), "Software\\KELVORIA\\tarmin-operator\\Profiles\\demo");
    char buf[QZ_MAX_KEY_PATH];
    EXPECT_EQ(QZ_GetRegistryKeyString(buf, sizeof buf), 0);
    EXPECT_STREQ(buf, QZ_GetProductKeyName());
    // Too small a buffer: nonzero, the path cut and terminated, nothing beyond touched.
    char small[12];
    std::memset(small, 'X', sizeof small);
    EXPECT_NE(QZ_GetRegistryKeyString(small, 10), 0);
    EXPECT_STREQ(small, "Software\\");
    EXPECT_EQ(small[10], 'X');
    QZ_Finalize();
    QZ_Finalize(); // twice is harmless
    EXPECT_NE(QZ_GetRegistryKeyString(buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "");
}

TEST(RegistryInit, BadArgumentsAreRefused) {
    EXPECT_LT(QZ_Initialize(kProduct, 0x20001), 0);
    EXPECT_LT(QZ_Initialize(nullptr, QZ_VERSION), 0);
    EXPECT_LT(QZ_Initialize("", QZ_VERSION), 0);
    // A name that would split into several keys or could not be a key name.
    EXPECT_LT(QZ_InitializeWithProfile(kProduct, "a\\b", QZ_VERSION), 0);
    EXPECT_LT(QZ_InitializeWithProfile(kProduct, "line\nbreak", QZ_VERSION), 0);
    EXPECT_LT(QZ_InitializeWithProfile(kProduct, std::string(300, 'p').c_str(), QZ_VERSION), 0);
    EXPECT_EQ(QZ_GetProductKeyName(), nullptr);
}

TEST(RegistryInit, ReadersGiveDefaultsBeforeAndAfterInitialisation) {
    EXPECT_EQ(QZ_GetProductKeyName(), nullptr);
    EXPECT_EQ(QZ_GetSettingsKey(0), nullptr);
    QZ_DWORD v = 1;
    EXPECT_NE(QZ_GetDword(QZ_GetSettingsKey(0), "Update period", &v, 4), 0);
    EXPECT_EQ(v, 4u);
    EXPECT_NE(QZ_QueryDword(QZ_GetSettingsKey(0), "Setup", &v), 0);
    EXPECT_EQ(v, 0u);
    int rc = 0;
    EXPECT_EQ(get_string(QZ_GetSettingsKey(0), "Separator", ",", &rc), ",");
    EXPECT_NE(rc, 0);
    EXPECT_NE(QZ_SetDword(QZ_GetSettingsKey(0), "Setup", 1), 0);
    EXPECT_EQ(tarmin::qzcom::setting_dword("Maximum file size", 512), 512u);
    EXPECT_EQ(tarmin::qzcom::setting_string("Filename", "%TEMP%\\"), expand("%TEMP%\\"));

    ASSERT_EQ(QZ_Initialize(kProduct, QZ_VERSION), 0);
    QZ_HKEY settings = QZ_GetSettingsKey(0);
    ASSERT_NE(settings, nullptr);
    EXPECT_EQ(QZ_GetSettingsKey(1), nullptr);
    ASSERT_EQ(QZ_SetDword(settings, "Maximum file size", 64), 0);
    ASSERT_EQ(QZ_SetKeyString(QZ_GetProductKeyName(), "Filename", "/var/log/tarmin/", 0), 0);
    EXPECT_EQ(tarmin::qzcom::setting_dword("Maximum file size", 512), 64u);
    EXPECT_EQ(tarmin::qzcom::setting_string("Filename", "%TEMP%\\"), "/var/log/tarmin/");
    QZ_Finalize();

    EXPECT_EQ(QZ_GetSettingsKey(0), nullptr);
    EXPECT_EQ(tarmin::qzcom::setting_dword("Maximum file size", 512), 512u);
    // A settings key kept past QZ_Finalize still points at valid memory.
    EXPECT_EQ(QZ_GetDword(settings, "Maximum file size", &v, 512), 0);
    EXPECT_EQ(v, 64u);
}

TEST(RegistryInit, ProfilesKeepTheirOwnSettings) {
    ASSERT_EQ(QZ_InitializeWithProfile(kProduct, "one", QZ_VERSION), 0);
    ASSERT_EQ(QZ_SetDword(QZ_GetSettingsKey(0), "GWMonRefreshTimeout", 10), 0);
    ASSERT_EQ(QZ_SetKeyDword(QZ_GetProductKeyName(), "Setup", 1, 0), 0);
    QZ_DWORD v = 0;
    // The settings key is the product key: both paths read the same value.
    EXPECT_EQ(QZ_QueryDword(QZ_GetSettingsKey(0), "Setup", &v), 0);
    EXPECT_EQ(v, 1u);
    QZ_Finalize();
    ASSERT_EQ(QZ_InitializeWithProfile(kProduct, "two", QZ_VERSION), 0);
    QZ_GetDword(QZ_GetSettingsKey(0), "GWMonRefreshTimeout", &v, 120);
    EXPECT_EQ(v, 120u);
    EXPECT_EQ(QZ_GetKeyDwordEx(QZ_GetProductKeyName(), "Setup", &v, 0, 1), 0);
    EXPECT_EQ(v, 0u);
    QZ_Finalize();
    ASSERT_EQ(QZ_Initialize(kProduct, QZ_VERSION), 0); // no profile: a key of its own too
    QZ_GetDword(QZ_GetSettingsKey(0), "GWMonRefreshTimeout", &v, 120);
    EXPECT_EQ(v, 120u);
    QZ_Finalize();
    ASSERT_EQ(QZ_InitializeWithProfile(kProduct, "ONE", QZ_VERSION), 0); // profile names ignore case too
    QZ_GetDword(QZ_GetSettingsKey(0), "GWMonRefreshTimeout", &v, 120);
    EXPECT_EQ(v, 10u);
    QZ_Finalize();
}

// ---- Values ---------------------------------------------------------------

TEST_F(Registry, MissingValuesGiveTheirDefaults) {
    QZ_DWORD v = 0;
    EXPECT_EQ(QZ_GetDword(settings(), "GWMonRefreshTimeout", &v, 120), 0);
    EXPECT_EQ(v, 120u);
    EXPECT_NE(QZ_QueryDword(settings(), "Setup", &v), 0);
    EXPECT_EQ(v, 0u);
    v = 5;
    EXPECT_NE(QZ_GetKeyDword(key().c_str(), "CertificateFlags", &v), 0);
    EXPECT_EQ(v, 0u);
    EXPECT_EQ(QZ_GetKeyDwordEx(key().c_str(), "ArchiveFlags", &v, 7, 0), 0);
    EXPECT_EQ(v, 7u);
    EXPECT_EQ(QZ_GetKeyDwordEx(sub("NoSuchKey").c_str(), "ArchiveFlags", &v, 8, 0), 0);
    EXPECT_EQ(v, 8u);
    int rc = 0;
    EXPECT_EQ(get_string(settings(), "Separator", ",", &rc), ",");
    EXPECT_NE(rc, 0);
    EXPECT_EQ(get_string(settings(), "AdmAddr", nullptr, &rc), "");
    EXPECT_NE(rc, 0);
    char buf[8] = "junk";
    EXPECT_NE(QZ_GetStringBuf(settings(), "AdmAddr", buf, sizeof buf, ""), 0);
    EXPECT_STREQ(buf, "");
    EXPECT_NE(QZ_GetKeyStringBuf(key().c_str(), "Path", buf, sizeof buf, "dflt"), 0);
    EXPECT_STREQ(buf, "dflt");
}

TEST_F(Registry, ValuesKeepTheirTypes) {
    ASSERT_EQ(QZ_SetDword(settings(), "dbglvl", 0xFFFFFFFFu), 0);
    ASSERT_EQ(QZ_SetKeyString(key().c_str(), "AdmAddr", "admin@example.ru", 0), 0);
    const unsigned char blob[] = {0, 1, 2, 0xFF};
    ASSERT_EQ(QZ_SetKeyBinary(key().c_str(), "Hash", blob, sizeof blob, QZ_REG_BINARY, 0), 0);
    ASSERT_EQ(QZ_SetKeyBinary(key().c_str(), "Empty", nullptr, 0, QZ_REG_BINARY, 0), 0);

    QZ_DWORD v = 0;
    EXPECT_EQ(QZ_QueryDword(settings(), "dbglvl", &v), 0);
    EXPECT_EQ(v, 0xFFFFFFFFu);
    EXPECT_EQ(get_string(settings(), "AdmAddr", ""), "admin@example.ru");

    unsigned char out[QZ_MAX_BINARY];
    QZ_DWORD len = sizeof out;
    ASSERT_EQ(QZ_GetKeyBinary(key().c_str(), "Hash", out, &len, 0), 0);
    ASSERT_EQ(len, sizeof blob);
    EXPECT_EQ(std::memcmp(out, blob, sizeof blob), 0);
    len = sizeof out;
    ASSERT_EQ(QZ_GetKeyBinary(key().c_str(), "Empty", out, &len, 0), 0);
    EXPECT_EQ(len, 0u);

    // A value of another type is unreadable: readers give the default and nonzero.
    EXPECT_NE(QZ_GetDword(settings(), "AdmAddr", &v, 5), 0);
    EXPECT_EQ(v, 5u);
    EXPECT_NE(QZ_GetDword(settings(), "Hash", &v, 6), 0); // four bytes, but binary
    EXPECT_EQ(v, 6u);
    int rc = 0;
    EXPECT_EQ(get_string(settings(), "dbglvl", "dflt", &rc), "dflt");
    EXPECT_NE(rc, 0);
    len = sizeof out;
    EXPECT_NE(QZ_GetKeyBinary(key().c_str(), "AdmAddr", out, &len, 0), 0);

    // Overwriting changes the type; wrong sizes and unknown types are refused.
    ASSERT_EQ(QZ_SetDword(settings(), "AdmAddr", 3), 0);
    EXPECT_EQ(QZ_QueryDword(settings(), "AdmAddr", &v), 0);
    EXPECT_EQ(v, 3u);
    EXPECT_NE(QZ_SetKeyBinary(key().c_str(), "D", blob, 3, QZ_REG_DWORD, 0), 0);
    EXPECT_NE(QZ_SetKeyBinary(key().c_str(), "D", blob, 4, 7, 0), 0);
    EXPECT_NE(QZ_SetKeyString(key().c_str(), "S", nullptr, 0), 0);
    EXPECT_EQ(QZ_GetKeyDwordEx(key().c_str(), "D", &v, 9, 0), 0);
    EXPECT_EQ(v, 9u);
}

TEST_F(Registry, TextsAreTerminatedWhateverWroteThem) {
    // A writer that counts the terminator, as Windows callers do.
    const char with_zero[] = "C:\\Tarmin";
    ASSERT_EQ(QZ_SetKeyBinary(key().c_str(), "Path", with_zero, sizeof with_zero, QZ_REG_SZ, 0), 0);
    EXPECT_EQ(key_string(key(), "Path"), "C:\\Tarmin");
    char buf[32];
    std::memset(buf, 'X', sizeof buf);
    QZ_DWORD len = sizeof buf, type = 0;
    ASSERT_EQ(QZ_GetKeyValue(key().c_str(), "Path", buf, &len, &type, nullptr, 0, 0, 0), 0);
    EXPECT_EQ(type, QZ_REG_SZ);
    EXPECT_EQ(len, sizeof with_zero);
    EXPECT_STREQ(buf, "C:\\Tarmin");
    // No room for the terminator: refused, the length needed told, nothing copied.
    std::memset(buf, 'X', sizeof buf);
    len = 9;
    EXPECT_NE(QZ_GetKeyValue(key().c_str(), "Path", buf, &len, &type, nullptr, 0, 0, 0), 0);
    EXPECT_EQ(len, sizeof with_zero);
    EXPECT_EQ(buf[0], 'X');
}

TEST_F(Registry, GetKeyValueGivesDefaultOrStoredData) {
    unsigned char buf[32];
    QZ_DWORD len = sizeof buf, type = QZ_REG_BINARY;
    const unsigned char zero = 0;
    ASSERT_EQ(QZ_GetKeyValue(key().c_str(), "Hash", buf, &len, &type, &zero, 1, QZ_REG_BINARY, 0), 0);
    EXPECT_EQ(len, 1u);
    EXPECT_EQ(type, QZ_REG_BINARY);
    EXPECT_EQ(buf[0], 0);
    unsigned char digest[32];
    for (int i = 0; i < 32; ++i) digest[i] = static_cast<unsigned char>(i * 7);
    ASSERT_EQ(QZ_SetKeyBinary(key().c_str(), "Hash", digest, 32, QZ_REG_BINARY, 0), 0);
    len = sizeof buf;
    type = QZ_REG_BINARY;
    ASSERT_EQ(QZ_GetKeyValue(key().c_str(), "Hash", buf, &len, &type, &zero, 1, QZ_REG_BINARY, 0), 0);
    EXPECT_EQ(len, 32u);
    EXPECT_EQ(std::memcmp(buf, digest, 32), 0);
    // Too small a buffer: refused with the size needed, nothing overrun.
    unsigned char small[20];
    std::memset(small, 0xEE, sizeof small);
    len = 16;
    EXPECT_NE(QZ_GetKeyValue(key().c_str(), "Hash", small, &len, &type, &zero, 1, QZ_REG_BINARY, 0), 0);
    EXPECT_EQ(len, 32u);
    EXPECT_EQ(small[16], 0xEE);
    // Another type than the one expected: refused, the stored type told.
    len = sizeof buf;
    type = QZ_REG_DWORD;
    EXPECT_NE(QZ_GetKeyValue(key().c_str(), "Hash", buf, &len, &type, &zero, 1, QZ_REG_BINARY, 0), 0);
    EXPECT_EQ(type, QZ_REG_BINARY);
    // Any type (0) reads it.
    len = sizeof buf;
    type = 0;
    EXPECT_EQ(QZ_GetKeyValue(key().c_str(), "Hash", buf, &len, &type, &zero, 1, QZ_REG_BINARY, 0), 0);
}

TEST_F(Registry, NamesAndPathsIgnoreCaseCyrillicIncluded) {
    ASSERT_EQ(QZ_SetKeyString(key().c_str(), "Путь Ёлки"_w, "1", 0), 0);
    std::string upper = tarmin::cp::upper_1251(key());
    EXPECT_EQ(key_string(upper, "ПУТЬ ёЛКИ"_w), "1");
    EXPECT_EQ(key_string(upper, "путь елки"_w), "<default>"); // Ё is not Е
    ASSERT_EQ(QZ_SetKeyString(sub("Список"_w).c_str(), "X", "a", 0), 0);
    ASSERT_EQ(QZ_SetKeyString(sub("СПИСОК\\Ящик"_w).c_str(), "x", "b", 0), 0);
    // The names keep the case they were first written in.
    EXPECT_EQ(sub_keys(upper), std::vector<std::string>{"Список"_w});
    EXPECT_EQ(sub_keys(sub("список"_w)), std::vector<std::string>{"Ящик"_w});
    EXPECT_EQ(value_names(sub("СПИСОК"_w)), std::vector<std::string>{"X"});
    EXPECT_EQ(key_string(sub("список\\ЯЩИК"_w), "X"), "b");
    // Redundant separators do not make another key.
    EXPECT_EQ(key_string("\\" + key() + "\\\\СПИСОК\\"_w, "x"), "a");
    // Enumeration is sorted without regard to case.
    for (const char *name : {"beta", "Alpha", "gamma", "Яблоко", "арбуз"})
        ASSERT_EQ(QZ_SetKeyDword(sub("Sorted").c_str(), tarmin::cp::utf8_to_cp1251(name).c_str(), 1, 0), 0);
    std::vector<std::string> expected;
    for (const char *name : {"Alpha", "beta", "gamma", "арбуз", "Яблоко"})
        expected.push_back(tarmin::cp::utf8_to_cp1251(name));
    EXPECT_EQ(value_names(sub("sorted")), expected);
}

TEST_F(Registry, BuffersAreCutNeverOverrun) {
    ASSERT_EQ(QZ_SetKeyString(key().c_str(), "Long", "0123456789", 0), 0);
    char buf[8];
    std::memset(buf, 'X', sizeof buf);
    EXPECT_EQ(QZ_GetStringBuf(settings(), "Long", buf, 5, ""), 0);
    EXPECT_STREQ(buf, "0123");
    EXPECT_EQ(buf[5], 'X');
    EXPECT_EQ(QZ_GetStringBuf(settings(), "Long", buf, 1, ""), 0);
    EXPECT_STREQ(buf, "");
    EXPECT_NE(QZ_GetStringBuf(settings(), "Long", buf, 0, ""), 0);
    // A default longer than the buffer is cut the same way.
    std::memset(buf, 'X', sizeof buf);
    EXPECT_NE(QZ_GetStringBuf(settings(), "Missing", buf, 4, "abcdef"), 0);
    EXPECT_STREQ(buf, "abc");
    EXPECT_EQ(buf[4], 'X');

    QZ_HKEY k = nullptr;
    ASSERT_EQ(QZ_RegOpenKey(&k, key().c_str(), QZ_KEY_READ, nullptr), 0);
    std::memset(buf, 'X', sizeof buf);
    QZ_DWORD type = 0;
    EXPECT_EQ(QZ_RegGetStringEx(k, "Long", buf, 3, &type), 0);
    EXPECT_STREQ(buf, "01");
    EXPECT_EQ(buf[3], 'X');
    QZ_RegCloseKey(k);

    // Binary values: at most QZ_MAX_BINARY, never more than the buffer.
    std::string big(QZ_MAX_BINARY + 1, 'b');
    ASSERT_EQ(QZ_SetKeyBinary(key().c_str(), "Big", big.data(), static_cast<QZ_DWORD>(big.size()), QZ_REG_BINARY, 0), 0);
    std::string out(QZ_MAX_BINARY + 16, '\0');
    QZ_DWORD len = static_cast<QZ_DWORD>(out.size());
    EXPECT_NE(QZ_GetKeyBinary(key().c_str(), "Big", out.data(), &len, 1), 0);
    EXPECT_EQ(len, big.size());
    EXPECT_EQ(out[0], '\0');
    ASSERT_EQ(QZ_SetKeyBinary(key().c_str(), "Small", "abcdef", 6, QZ_REG_BINARY, 0), 0);
    char four[6] = "XXXXX";
    len = 4;
    EXPECT_NE(QZ_GetKeyBinary(key().c_str(), "Small", four, &len, 0), 0);
    EXPECT_EQ(len, 6u);
    EXPECT_STREQ(four, "XXXXX");

    // Enumeration: a name that does not fit is an error (cut, terminated), not the end.
    ASSERT_EQ(QZ_SetKeyDword(sub("Names").c_str(), "LongValueName", 1, 0), 0);
    std::memset(buf, 'X', sizeof buf);
    EXPECT_LT(QZ_RegEnumValue(sub("Names").c_str(), 0, buf, 5, &type), 0);
    EXPECT_STREQ(buf, "Long");
    EXPECT_EQ(buf[5], 'X');
    EXPECT_EQ(QZ_RegEnumValue(sub("Names").c_str(), 1, buf, sizeof buf, &type), 1);
    EXPECT_LT(QZ_RegEnumKey(key().c_str(), 0, buf, 3), 0);
    EXPECT_EQ(QZ_RegEnumKey(key().c_str(), 5, buf, sizeof buf), 1);
}

// ---- Keys -----------------------------------------------------------------

TEST_F(Registry, DeleteKeyRemovesSubKeysButNotNeighbours) {
    std::string list = sub("PacketList");
    ASSERT_EQ(QZ_SetKeyDword(list.c_str(), "PacketListNum", 2, 0), 0);
    ASSERT_EQ(QZ_SetKeyString((list + "\\0").c_str(), "Path", "a", 0), 0);
    ASSERT_EQ(QZ_SetKeyString((list + "\\0\\Email").c_str(), "0", "x@y", 0), 0);
    ASSERT_EQ(QZ_SetKeyString((list + "\\1").c_str(), "Path", "b", 0), 0);
    ASSERT_EQ(QZ_SetKeyString(sub("PacketList2").c_str(), "Name", "keep", 0), 0);
    ASSERT_EQ(QZ_SetKeyString(sub("PacketLis").c_str(), "Name", "keep", 0), 0);
    ASSERT_EQ(QZ_DeleteKey(tarmin::cp::upper_1251(list).c_str(), 0), 0);
    QZ_HKEY k = nullptr;
    EXPECT_NE(QZ_RegOpenKey(&k, list.c_str(), QZ_KEY_READ, nullptr), 0);
    EXPECT_NE(QZ_RegOpenKey(&k, (list + "\\0\\Email").c_str(), QZ_KEY_READ, nullptr), 0);
    EXPECT_EQ(key_string(list + "\\0\\Email", "0"), "<default>");
    EXPECT_EQ(key_string(sub("PacketList2"), "Name"), "keep");
    EXPECT_EQ(key_string(sub("PacketLis"), "Name"), "keep");
    EXPECT_EQ(sub_keys(key()), (std::vector<std::string>{"PacketLis", "PacketList2"}));
    EXPECT_EQ(QZ_DeleteKey(list.c_str(), 0), 0); // missing key: nothing to do
    EXPECT_NE(QZ_DeleteKey("", 0), 0);           // never the whole tree
    EXPECT_NE(QZ_DeleteKey("\\\\", 0), 0);
    EXPECT_NE(QZ_DeleteKey(nullptr, 0), 0);
}

TEST_F(Registry, DeleteValueTellsWhetherThereWasOne) {
    ASSERT_EQ(QZ_SetDword(settings(), "Setup", 1), 0);
    EXPECT_EQ(QZ_DeleteValue(key().c_str(), "SETUP"), 0);
    EXPECT_EQ(QZ_DeleteValue(key().c_str(), "Setup"), 1);
    QZ_DWORD v = 0;
    EXPECT_NE(QZ_QueryDword(settings(), "Setup", &v), 0);
    // The key stays, with nothing in it.
    QZ_HKEY k = nullptr;
    ASSERT_EQ(QZ_RegOpenKey(&k, key().c_str(), QZ_KEY_READ, nullptr), 0);
    QZ_RegCloseKey(k);
}

TEST_F(Registry, RootEnumerationReachesEveryName) {
    ASSERT_EQ(QZ_SetDword(settings(), "Setup", 0), 0); // "Software\\..." exists
    // 'я' is 0xFF in Windows-1251: the last possible first byte of a name.
    ASSERT_EQ(QZ_SetKeyDword("яшик"_w, "v", 1, 0), 0);
    ASSERT_EQ(QZ_SetKeyDword("Алфавит\\Б"_w, "v", 1, 0), 0);
    std::vector<std::string> roots = sub_keys("");
    EXPECT_EQ(roots, (std::vector<std::string>{"Software", "Алфавит"_w, "яшик"_w}));
    EXPECT_EQ(sub_keys("\\"), roots);
    ASSERT_EQ(QZ_DeleteKey("ЯШИК"_w, 0), 0);
    EXPECT_EQ(sub_keys("").size(), 2u);
    EXPECT_EQ(key_string("Алфавит\\б"_w, "v", "gone"), "gone"); // not a text, but still there
    QZ_DWORD v = 0;
    EXPECT_EQ(QZ_GetKeyDword("Алфавит\\б"_w, "v", &v), 0);
    ASSERT_EQ(QZ_DeleteKey("Алфавит"_w, 0), 0);
}

TEST_F(Registry, OpenKeysHonourTheirAccess) {
    std::string path = sub("SenderList\\0");
    QZ_HKEY k = nullptr;
    EXPECT_NE(QZ_RegOpenKey(&k, path.c_str(), QZ_KEY_READ, nullptr), 0);
    EXPECT_EQ(k, nullptr);
    ASSERT_EQ(QZ_RegOpenKey(&k, path.c_str(), QZ_KEY_WRITE_READ, nullptr), 0);
    EXPECT_EQ(QZ_RegSetDword(k, "GWType", 2), 0);
    EXPECT_EQ(QZ_RegSetString(k, "SenderListName", "Пакет"_w), 0);
    EXPECT_EQ(QZ_RegSetStringEx(k, "Dir", "%TEMP%/out", QZ_REG_EXPAND_SZ), 0);
    EXPECT_NE(QZ_RegSetStringEx(k, "Dir", "x", QZ_REG_BINARY), 0);
    EXPECT_EQ(QZ_RegCloseKey(k), 0);
    EXPECT_NE(QZ_RegCloseKey(k), 0); // a second close is refused, not a double free

    ASSERT_EQ(QZ_RegOpenKey(&k, path.c_str(), QZ_KEY_READ, nullptr), 0);
    EXPECT_NE(QZ_RegSetDword(k, "GWType", 3), 0); // read access only
    EXPECT_NE(QZ_SetDword(k, "GWType", 3), 0);
    EXPECT_NE(QZ_RegSetString(k, "SenderListName", "x"), 0);
    QZ_DWORD v = 0;
    EXPECT_EQ(QZ_RegGetDword(k, "GWType", &v, 0), 0);
    EXPECT_EQ(v, 2u);
    char buf[260];
    QZ_DWORD type = 0;
    ASSERT_EQ(QZ_RegGetStringEx(k, "Dir", buf, 259, &type), 0);
    EXPECT_STREQ(buf, "%TEMP%/out"); // without expansion
    EXPECT_EQ(type, QZ_REG_EXPAND_SZ);
    ASSERT_EQ(QZ_RegGetStringEx(k, "SenderListName", buf, 259, &type), 0);
    EXPECT_STREQ(buf, "Пакет"_w);
    EXPECT_EQ(type, QZ_REG_SZ);
    ::setenv("TEMP", "/var/tmp/x", 1);
    ASSERT_EQ(QZ_RegGetString(k, "Dir", buf, sizeof buf, ""), 0);
    EXPECT_STREQ(buf, "/var/tmp/x/out");
    EXPECT_NE(QZ_RegGetStringEx(k, "Nothing", buf, sizeof buf, nullptr), 0);
    EXPECT_NE(QZ_RegGetStringEx(k, "GWType", buf, sizeof buf, &type), 0); // a number, not a text
    QZ_RegCloseKey(k);

    ASSERT_EQ(QZ_RegOpenKey(&k, path.c_str(), QZ_KEY_ALL_ACCESS, nullptr), 0);
    EXPECT_EQ(QZ_RegSetDword(k, "GWType", 3), 0);
    QZ_RegCloseKey(k);
    EXPECT_NE(QZ_RegOpenKey(&k, path.c_str(), 0x1234, nullptr), 0);
    EXPECT_NE(QZ_RegOpenKey(nullptr, path.c_str(), QZ_KEY_READ, nullptr), 0);
    // The settings key belongs to the library: closing it leaves it usable.
    EXPECT_EQ(QZ_RegCloseKey(settings()), 0);
    EXPECT_EQ(QZ_SetDword(settings(), "Setup", 0), 0);
}

TEST_F(Registry, NamesTheStoreCannotKeepAreRefused) {
    EXPECT_NE(QZ_SetKeyDword(sub("line\nbreak").c_str(), "v", 1, 0), 0);
    EXPECT_NE(QZ_SetKeyDword(sub(std::string(256, 'k')).c_str(), "v", 1, 0), 0);
    EXPECT_EQ(QZ_SetKeyDword(sub(std::string(255, 'k')).c_str(), "v", 1, 0), 0);
    std::string deep = key();
    while (deep.size() < QZ_MAX_KEY_PATH) deep += "\\part";
    QZ_HKEY k = nullptr;
    EXPECT_NE(QZ_RegOpenKey(&k, deep.c_str(), QZ_KEY_WRITE_READ, nullptr), 0);
    EXPECT_NE(QZ_SetKeyDword(key().c_str(), std::string(QZ_MAX_KEY_PATH, 'n').c_str(), 1, 0), 0);
    EXPECT_NE(QZ_SetKeyString(sub("bad\x98name").c_str(), "v", "x", 0), 0);
    EXPECT_EQ(sub_keys(key()).size(), 1u); // only the 255-byte one
}

// A length past what the store holds (more than 2 GiB) is refused, not cut
// to a few bytes. The data is a mapping of zero pages: refused before it is
// read, it never costs memory.
TEST_F(Registry, ValuesLargerThanTheStoreHoldsAreRefused) {
    const QZ_DWORD length = 0x80000010u;
    void *data = ::mmap(nullptr, length, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    ASSERT_NE(data, MAP_FAILED);
    for (QZ_DWORD type : {QZ_REG_BINARY, QZ_REG_SZ}) {
        EXPECT_NE(QZ_SetKeyBinary(key().c_str(), "Huge", data, length, type, 0), 0) << type;
        EXPECT_EQ(value_names(key()), std::vector<std::string>{}) << type;
    }
    ::munmap(data, length);
}

// ---- Environment references -------------------------------------------------

TEST(RegistryEnvironment, ReferencesExpandAsOnWindows) {
    ::setenv("TARMIN_X", "value", 1);
    ::setenv("TARMIN_EMPTY", "", 1);
    ::unsetenv("TEMP");
    ::unsetenv("TMP");
    ::setenv("TMPDIR", "/scratch", 1);
    EXPECT_EQ(expand("%TARMIN_X%/a"), "value/a");
    EXPECT_EQ(expand("%tarmin_x%"), "value"); // names ignore case, as on Windows
    EXPECT_EQ(expand("[%TARMIN_EMPTY%]"), "[]");
    EXPECT_EQ(expand("%TEMP%\\"), "/scratch\\");
    EXPECT_EQ(expand("%tmp%"), "/scratch");
    // Unknown references stay whole and the scan goes on after them.
    EXPECT_EQ(expand("%NO_SUCH_VARIABLE%x"), "%NO_SUCH_VARIABLE%x");
    EXPECT_EQ(expand("%NO_SUCH%TARMIN_X%"), "%NO_SUCH%TARMIN_X%");
    EXPECT_EQ(expand("%NO_SUCH%%TARMIN_X%"), "%NO_SUCH%value");
    EXPECT_EQ(expand("100%"), "100%");
    EXPECT_EQ(expand("%%"), "%%");
    EXPECT_EQ(expand("50% of %TARMIN_X"), "50% of %TARMIN_X");
    EXPECT_EQ(expand(""), "");
    EXPECT_EQ(expand(nullptr), "");
    ::setenv("TMP", "/tmp-of-tmp", 1);
    EXPECT_EQ(expand("%TEMP%"), "/tmp-of-tmp");
    ::unsetenv("TMP");
    ::unsetenv("TMPDIR");
    EXPECT_EQ(expand("%TEMP%"), "/tmp");
    ::setenv("TEMP", "/t", 1);
    EXPECT_EQ(expand("%TEMP%%TEMP%"), "/t/t");
}

TEST(RegistryEnvironment, ExpandableValuesAndDefaultsExpand) {
    ::setenv("TEMP", "/home/op/tmp", 1);
    ::setenv("TARMIN_GW", "/srv/gw", 1);
    ASSERT_EQ(QZ_InitializeWithProfile(kProduct, "environment", QZ_VERSION), 0);
    QZ_HKEY settings = QZ_GetSettingsKey(0);
    const char *key = QZ_GetProductKeyName();
    ASSERT_EQ(QZ_DeleteKey(key, 0), 0);
    EXPECT_EQ(get_string(settings, "Filename", "%TEMP%\\"), "/home/op/tmp\\");
    ASSERT_EQ(QZ_SetKeyBinary(key, "GWMonGWLogDirectory", "%TARMIN_GW%/logs", 16, QZ_REG_EXPAND_SZ, 0), 0);
    ASSERT_EQ(QZ_SetKeyString(key, "GWMonOutputDirectory", "%TARMIN_GW%/out", 0), 0);
    EXPECT_EQ(get_string(settings, "GWMonGWLogDirectory", ""), "/srv/gw/logs");
    EXPECT_EQ(get_string(settings, "GWMonOutputDirectory", ""), "%TARMIN_GW%/out"); // REG_SZ stays as it is
    char buf[10];
    EXPECT_EQ(QZ_GetKeyStringBuf(key, "GWMonGWLogDirectory", buf, sizeof buf, ""), 0);
    EXPECT_STREQ(buf, "/srv/gw/l");
    QZ_Finalize();
}

// ---- Threads --------------------------------------------------------------

// Threads writing and reading at once, one re-initialising meanwhile: no
// value is lost and every read sees a value written.
TEST(RegistryThreads, ConcurrentReadersAndWritersLoseNothing) {
    ASSERT_EQ(QZ_Initialize(kProduct, QZ_VERSION), 0);
    const std::string base = std::string(QZ_GetProductKeyName()) + "\\Threads";
    constexpr int kThreads = 4, kWrites = 150;
    std::vector<std::thread> threads;
    std::vector<int> errors(kThreads + 1, 0);
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            std::string path = base + "\\" + std::to_string(t);
            for (int i = 0; i < kWrites; ++i) {
                std::string name = "v" + std::to_string(i);
                if (QZ_SetKeyDword(path.c_str(), name.c_str(), static_cast<QZ_DWORD>(i), 0) != 0) ++errors[t];
                QZ_DWORD v = 0;
                if (QZ_GetKeyDword(path.c_str(), name.c_str(), &v) != 0 || v != static_cast<QZ_DWORD>(i)) ++errors[t];
                QZ_GetDword(QZ_GetSettingsKey(0), "GWMonRefreshTimeout", &v, 120);
                if (v != 120) ++errors[t];
            }
        });
    threads.emplace_back([&] {
        for (int i = 0; i < 20; ++i) {
            if (QZ_InitializeWithProfile(kProduct, i % 2 ? "a" : "b", QZ_VERSION) != 0) ++errors[kThreads];
            const char *name = QZ_GetProductKeyName();
            if (name && std::strncmp(name, "Software\\KELVORIA\\", 18) != 0) ++errors[kThreads];
        }
    });
    for (auto &t : threads) t.join();
    for (int t = 0; t <= kThreads; ++t) EXPECT_EQ(errors[t], 0) << "thread " << t;
    for (int t = 0; t < kThreads; ++t) {
        std::string path = base + "\\" + std::to_string(t);
        EXPECT_EQ(value_names(path).size(), static_cast<size_t>(kWrites));
    }
    QZ_Finalize();
}

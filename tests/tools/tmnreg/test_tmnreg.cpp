// tmnreg from a terminal: set, query, delete, export and import, and its errors.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "common/codepage.h"
#include "qzcom.h"
#include "testsupport.h"

using namespace tarmin::cp::literals;
using tarmin::test::run;

namespace {

const std::string kKey = "Software\\KELVORIA\\tarmin-operator\\Profiles\\demo";

int tmnreg(std::vector<std::string> args, std::string *out = nullptr, std::string *err = nullptr,
           const std::string &in = {}) {
    args.insert(args.begin(), tarmin::test::built_program("tmnreg").string());
    return run(args, out, err, in);
}

// Every value below a key, read through the library: (path, name, type, bytes).
std::vector<std::string> dump(const std::string &path) {
    std::vector<std::string> out;
    char name[QZ_MAX_KEY_PATH];
    QZ_DWORD type = 0;
    for (QZ_DWORD i = 0; QZ_RegEnumValue(path.c_str(), i, name, sizeof name, &type) == 0; ++i) {
        std::string data(65536, '\0');
        QZ_DWORD len = static_cast<QZ_DWORD>(data.size()), t = 0;
        EXPECT_EQ(QZ_GetKeyValue(path.c_str(), name, data.data(), &len, &t, nullptr, 0, 0, 0), 0);
        data.resize(len);
        out.push_back(path + "|" + name + "|" + std::to_string(t) + "|" + data);
    }
    for (QZ_DWORD i = 0; QZ_RegEnumKey(path.c_str(), i, name, sizeof name) == 0; ++i) {
        auto sub = dump(path + "\\" + name);
        out.push_back("[" + path + "\\" + name + "]");
        out.insert(out.end(), sub.begin(), sub.end());
    }
    return out;
}

} // namespace

TEST(Tmnreg, SetStoresWindows1251AndQueryShowsUtf8) {
    // The commands of the demo script.
    ASSERT_EQ(tmnreg({"set", kKey, "AdmAddr", "string", "Администратор <adm@example.ru>"}), 0);
    ASSERT_EQ(tmnreg({"set", kKey, "GWMonRefreshTimeout", "dword", "30"}), 0);
    ASSERT_EQ(tmnreg({"set", kKey, "KVITFlags", "dword", "0x1F"}), 0);
    ASSERT_EQ(tmnreg({"set", kKey, "Filename", "expand", "%TEMP%/"}), 0);
    ASSERT_EQ(tmnreg({"set", kKey + "\\SKZIpath", "CertIssuer", "binary", "30 0a ff"}), 0);

    ASSERT_EQ(QZ_InitializeWithProfile("tarmin-operator", "demo", QZ_VERSION), 0);
    char buf[128];
    QZ_GetStringBuf(QZ_GetSettingsKey(0), "AdmAddr", buf, sizeof buf, "");
    EXPECT_STREQ(buf, "Администратор <adm@example.ru>"_w);
    QZ_DWORD v = 0;
    QZ_GetDword(QZ_GetSettingsKey(0), "KVITFlags", &v, 0);
    EXPECT_EQ(v, 0x1Fu);
    QZ_DWORD type = QZ_REG_EXPAND_SZ;
    QZ_DWORD len = sizeof buf;
    EXPECT_EQ(QZ_GetKeyValue(kKey.c_str(), "Filename", buf, &len, &type, nullptr, 0, 0, 0), 0);
    QZ_Finalize();

    std::string out;
    ASSERT_EQ(tmnreg({"query", kKey}, &out), 0);
    EXPECT_EQ(out, "[" + kKey + "]\n"
                   "\"AdmAddr\"=\"Администратор <adm@example.ru>\"\n"
                   "\"Filename\"=expand:\"%TEMP%/\"\n"
                   "\"GWMonRefreshTimeout\"=dword:0000001e\n"
                   "\"KVITFlags\"=dword:0000001f\n"
                   "[" + kKey + "\\SKZIpath]\n");
    ASSERT_EQ(tmnreg({"query", kKey + "\\skzipath", "certissuer"}, &out), 0);
    EXPECT_EQ(out, "\"certissuer\"=hex:30,0a,ff\n");
}

TEST(Tmnreg, ExportImportRoundTripsExactly) {
    ASSERT_EQ(tmnreg({"set", kKey, "Путь", "string", "C:\\Program Files\\\"x\"\tтаб\nстрока"}), 0);
    ASSERT_EQ(tmnreg({"set", kKey + "\\PacketList\\0", "Subject", "string", "Пакет №1 «срочно»"}), 0);
    ASSERT_EQ(tmnreg({"set", kKey + "\\PacketList\\0", "Blob", "binary", ""}), 0);
    ASSERT_EQ(tmnreg({"set", kKey + "\\PacketList\\0", "Key", "binary", "00,ff,7f,80,0d,0a"}), 0);
    ASSERT_EQ(tmnreg({"set", kKey + "\\PacketList", "PacketListNum", "dword", "4294967295"}), 0);
    ASSERT_EQ(tmnreg({"set", kKey + "\\Пустой ключ\\Глубже", "Dir", "expand", "%TEMP%\\вложения"}), 0);
    ASSERT_EQ(tmnreg({"delete", kKey + "\\Пустой ключ\\Глубже", "Dir"}), 0); // an empty key remains
    // Bytes that have no character, or are control characters, written by a library caller.
    ASSERT_EQ(QZ_Initialize("tarmin-operator", QZ_VERSION), 0);
    ASSERT_EQ(QZ_SetKeyString(kKey.c_str(), "Odd \"name\"=x", "a\x98z\x01\x7f\r", 0), 0);
    ASSERT_EQ(QZ_SetKeyString(kKey.c_str(), "", "default value", 0), 0);
    auto before = dump(kKey);
    QZ_Finalize();

    std::string first, second;
    ASSERT_EQ(tmnreg({"export", kKey}, &first), 0);
    EXPECT_NE(first.find("\"Odd \\\"name\\\"=x\"=\"a\\x98z\\x01\\x7f\\r\""), std::string::npos) << first;
    EXPECT_NE(first.find("\"Subject\"=\"Пакет №1 «срочно»\""), std::string::npos) << first;
    EXPECT_NE(first.find("[" + kKey + "\\Пустой ключ\\Глубже]"), std::string::npos) << first;
    auto file = tarmin::test::make_temp_dir() / "export.txt";
    ASSERT_EQ(tmnreg({"export", kKey, file.string()}), 0);
    EXPECT_EQ(tarmin::test::read_file(file), first);

    ASSERT_EQ(tmnreg({"delete", kKey}), 0);
    ASSERT_EQ(tmnreg({"query", kKey}), 1);
    ASSERT_EQ(tmnreg({"import", file.string()}), 0);
    ASSERT_EQ(tmnreg({"export", kKey}, &second), 0);
    EXPECT_EQ(first, second);
    ASSERT_EQ(QZ_Initialize("tarmin-operator", QZ_VERSION), 0);
    EXPECT_EQ(dump(kKey), before); // byte for byte, types included
    QZ_Finalize();
}

TEST(Tmnreg, BadCommandLinesGiveClearErrorsAndWriteNothing) {
    std::string out, err;
    EXPECT_EQ(tmnreg({"set", kKey, "X", "dword", "12abc"}, nullptr, &err), 2);
    EXPECT_NE(err.find("'12abc' is not a value of type dword"), std::string::npos) << err;
    EXPECT_EQ(tmnreg({"set", kKey, "X", "dword", "4294967296"}), 2);
    EXPECT_EQ(tmnreg({"set", kKey, "X", "dword", "-1"}), 2);
    EXPECT_EQ(tmnreg({"set", kKey, "X", "dword", " 7"}), 2);
    EXPECT_EQ(tmnreg({"set", kKey, "X", "dword", "0x"}), 2);
    EXPECT_EQ(tmnreg({"set", kKey, "X", "binary", "0g"}), 2);
    EXPECT_EQ(tmnreg({"set", kKey, "X", "binary", "1 23"}), 2); // half a byte
    EXPECT_EQ(tmnreg({"set", kKey, "X", "float", "1"}, nullptr, &err), 2);
    EXPECT_NE(err.find("unknown type 'float'"), std::string::npos) << err;
    EXPECT_EQ(tmnreg({"set", kKey, "X", "string", "漢字"}, nullptr, &err), 2);
    EXPECT_NE(err.find("Windows-1251"), std::string::npos) << err;
    EXPECT_EQ(tmnreg({"set", kKey, "X", "string", "bad \xC3 utf-8"}), 2);
    EXPECT_EQ(tmnreg({"set", kKey, "X", "string"}), 2);
    EXPECT_EQ(tmnreg({"set", "", "X", "string", "x"}), 2);
    EXPECT_EQ(tmnreg({"frobnicate"}, nullptr, &err), 2);
    EXPECT_NE(err.find("unknown command"), std::string::npos);
    EXPECT_EQ(tmnreg({}, nullptr, &err), 2);
    EXPECT_NE(err.find("Usage: tmnreg"), std::string::npos);
    EXPECT_EQ(tmnreg({"--help"}, &out), 0);
    EXPECT_NE(out.find("Export format"), std::string::npos);
    EXPECT_EQ(tmnreg({"--version"}, &out), 0);
    EXPECT_TRUE(std::regex_match(out, std::regex("tmnreg [0-9]+\\.[0-9]+\\.[0-9]+\n"))) << out;
    // Unknown options, before or after the command, are refused with the
    // usage on standard error; "--" lets a value begin with dashes.
    for (const std::vector<std::string> &args : std::vector<std::vector<std::string>>{
             {"--frobnicate"}, {"query", "--recursive", kKey}, {"set", kKey, "X", "string", "--force"}}) {
        out.clear();
        EXPECT_EQ(tmnreg(args, &out, &err), 2) << args.back();
        EXPECT_NE(err.find("Usage: tmnreg"), std::string::npos) << args.back() << ": " << err;
        EXPECT_EQ(out, "");
    }
    EXPECT_EQ(tmnreg({"set", "--", kKey, "Dashes", "string", "--force"}), 0);
    EXPECT_EQ(tmnreg({"query", kKey, "Dashes"}, &out), 0);
    EXPECT_EQ(out, "\"Dashes\"=\"--force\"\n");
    EXPECT_EQ(tmnreg({"delete", kKey, "Dashes"}), 0);
    EXPECT_EQ(tmnreg({"query", kKey, "X"}), 1); // nothing of the above was written
    EXPECT_EQ(tmnreg({"query", "Software\\Nothing"}, nullptr, &err), 1);
    EXPECT_NE(err.find("no key Software\\Nothing"), std::string::npos);
    EXPECT_EQ(tmnreg({"delete", "Software\\Nothing"}), 1);
    EXPECT_EQ(tmnreg({"delete", kKey, "Nothing"}), 1);
    EXPECT_EQ(tmnreg({"delete", "\\"}, nullptr, &err), 2);
    EXPECT_NE(err.find("whole store"), std::string::npos);
    EXPECT_EQ(tmnreg({"export", "Software\\Nothing"}), 1);
    EXPECT_EQ(tmnreg({"import", "/no/such/file"}, nullptr, &err), 3);
    EXPECT_NE(err.find("/no/such/file"), std::string::npos);
}

TEST(Tmnreg, BrokenImportsNameTheirLineAndWriteNothing) {
    // Line 3 opens the key, line 4 is a good value, line 5 the broken one:
    // nothing of the file is written.
    const std::string head = "Tarmin registry export 1\n\n[K]\n\"Good\"=dword:00000001\n";
    struct Case {
        std::string line, message;
    } cases[] = {
        {"\"A\"=dword:zz", ":5: dword: needs 8 hexadecimal digits"},
        {"\"A\"=dword:1", ":5: dword: needs 8 hexadecimal digits"},
        {"\"A\"=\"open", ":5: the closing quote is missing"},
        {"\"A\"=\"x\\q\"", ":5: unknown escape \\q"},
        {"\"A\"=\"x\\x4\"", ":5: \\x needs two hexadecimal digits"},
        {"\"A\"=\"漢\"", ":5: a character that Windows-1251 lacks"},
        {"\"A\"=hex:0,1", ":5: hex: needs bytes"},
        {"\"A\"=hex(9):01", ":5: unknown value type"},
        {"\"A\"=hex(4):01", ":5: a dword has 4 bytes"},
        {"\"A\"=\"x\" trailing", ":5: text after the closing quote"},
        {"\"A\"", ":5: a value line is \"NAME\"=VALUE"},
        {"A=dword:00000001", ":5: the value name: a quoted text was expected"},
        {"[K", ":5: a key line is [KEY]"},
    };
    for (const auto &c : cases) {
        std::string err;
        EXPECT_EQ(tmnreg({"import", "-"}, nullptr, &err, head + c.line + "\n"), 2) << c.line;
        EXPECT_NE(err.find("tmnreg: stdin" + c.message), std::string::npos) << err;
        EXPECT_EQ(tmnreg({"query", "K"}), 1) << c.line;
    }
    std::string err;
    EXPECT_EQ(tmnreg({"import", "-"}, nullptr, &err, "Tarmin registry export 1\n\"A\"=dword:00000001\n"), 2);
    EXPECT_NE(err.find("stdin:2: a value before the first [KEY]"), std::string::npos) << err;
    EXPECT_EQ(tmnreg({"import", "-"}, nullptr, &err, "garbage\n"), 2);
    EXPECT_NE(err.find("not a tmnreg export"), std::string::npos);
    EXPECT_EQ(tmnreg({"import", "-"}, nullptr, &err, ""), 2);
    // Comments, blank lines and CRLF line ends are fine.
    EXPECT_EQ(tmnreg({"import", "-"}, nullptr, &err,
                     "Tarmin registry export 1\r\n; a comment\r\n\r\n[K]\r\n\"A\"=\"x\"\r\n"),
              0)
        << err;
    std::string out;
    EXPECT_EQ(tmnreg({"query", "K", "A"}, &out), 0);
    EXPECT_EQ(out, "\"A\"=\"x\"\n");
}

TEST(Tmnreg, ReadOnlyStoreRefusesWrites) {
    ASSERT_EQ(tmnreg({"set", kKey, "A", "dword", "1"}), 0);
    ::setenv("TARMIN_REGISTRY_READONLY", "1", 1);
    std::string err, out;
    EXPECT_EQ(tmnreg({"set", kKey, "A", "dword", "2"}, nullptr, &err), 3);
    EXPECT_NE(err.find("read-only"), std::string::npos);
    EXPECT_EQ(tmnreg({"delete", kKey}, nullptr, &err), 3);
    EXPECT_NE(err.find("read-only"), std::string::npos);
    EXPECT_EQ(tmnreg({"import", "-"}, nullptr, &err, "Tarmin registry export 1\n[K]\n\"A\"=\"x\"\n"), 3);
    EXPECT_EQ(tmnreg({"query", kKey, "A"}, &out), 0);
    EXPECT_EQ(out, "\"A\"=dword:00000001\n");
    ::unsetenv("TARMIN_REGISTRY_READONLY");
}

TEST(Tmnreg, DamagedStoreIsReportedNotUsed) {
    auto home = tarmin::test::make_temp_dir();
    std::filesystem::permissions(home, std::filesystem::perms::owner_all, std::filesystem::perm_options::replace);
    tarmin::test::write_file(home / "registry.db", std::string(2048, 'x'));
    std::filesystem::permissions(home / "registry.db",
                                 std::filesystem::perms::owner_read | std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::replace);
    std::string saved = std::getenv("TARMIN_HOME");
    ::setenv("TARMIN_HOME", home.c_str(), 1);
    std::string err;
    EXPECT_EQ(tmnreg({"query", kKey}, nullptr, &err), 3);
    EXPECT_NE(err.find((home / "registry.db").string()), std::string::npos) << err;
    EXPECT_NE(err.find("not a database"), std::string::npos) << err;
    // A home that others may enter is refused before the store is looked at.
    std::filesystem::permissions(home, std::filesystem::perms::others_read | std::filesystem::perms::others_exec,
                                 std::filesystem::perm_options::add);
    EXPECT_EQ(tmnreg({"query", kKey}, nullptr, &err), 3);
    EXPECT_NE(err.find("chmod 700 " + home.string()), std::string::npos) << err;
    ::setenv("TARMIN_HOME", saved.c_str(), 1);
}

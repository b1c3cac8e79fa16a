// tmnreg from a terminal: set, query, delete, export and import, and its errors.
#include <gtest/gtest.h>

#include <string>

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

} // namespace

TEST(Tmnreg, SetStoresWindows1251AndQueryShowsUtf8) {
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
    QZ_Finalize();

    std::string out;
    ASSERT_EQ(tmnreg({"query", kKey}, &out), 0);
    EXPECT_NE(out.find("\"AdmAddr\"=\"Администратор <adm@example.ru>\""), std::string::npos) << out;
    EXPECT_NE(out.find("\"GWMonRefreshTimeout\"=dword:0000001e"), std::string::npos) << out;
    EXPECT_NE(out.find("\"Filename\"=expand:\"%TEMP%/\""), std::string::npos) << out;
    EXPECT_NE(out.find("[" + kKey + "\\SKZIpath]"), std::string::npos) << out;
    ASSERT_EQ(tmnreg({"query", kKey + "\\SKZIpath", "certissuer"}, &out), 0);
    EXPECT_EQ(out, "\"certissuer\"=hex:30,0a,ff\n");
}

TEST(Tmnreg, ExportImportRoundTripsExactly) {
    ASSERT_EQ(tmnreg({"set", kKey, "Путь", "string", "C:\\Program Files\\\"x\""}), 0);
    ASSERT_EQ(tmnreg({"set", kKey + "\\PacketList\\0", "Name", "string", "Пакет №1"}), 0);
    ASSERT_EQ(tmnreg({"set", kKey + "\\PacketList\\0", "Blob", "binary", ""}), 0);
    ASSERT_EQ(tmnreg({"set", kKey + "\\PacketList", "Num", "dword", "4294967295"}), 0);
    std::string first, second;
    ASSERT_EQ(tmnreg({"export", kKey}, &first), 0);
    auto file = tarmin::test::make_temp_dir() / "export.txt";
    tarmin::test::write_file(file, first);
    ASSERT_EQ(tmnreg({"delete", kKey}), 0);
    ASSERT_EQ(tmnreg({"query", kKey}), 1);
    ASSERT_EQ(tmnreg({"import", file.string()}), 0);
    ASSERT_EQ(tmnreg({"export", kKey}, &second), 0);
    EXPECT_EQ(first, second);
    EXPECT_NE(second.find("\"Name\"=\"Пакет №1\""), std::string::npos);
}

TEST(Tmnreg, BadInputGivesClearErrorsAndWritesNothing) {
    std::string err;
    EXPECT_EQ(tmnreg({"set", kKey, "X", "dword", "12abc"}, nullptr, &err), 2);
    EXPECT_NE(err.find("not a value of type dword"), std::string::npos);
    EXPECT_EQ(tmnreg({"set", kKey, "X", "dword", "4294967296"}), 2);
    EXPECT_EQ(tmnreg({"set", kKey, "X", "binary", "0g"}), 2);
    EXPECT_EQ(tmnreg({"set", kKey, "X", "float", "1"}), 2);
    EXPECT_EQ(tmnreg({"frobnicate"}, nullptr, &err), 2);
    EXPECT_NE(err.find("unknown command"), std::string::npos);
    EXPECT_EQ(tmnreg({"query", "Software\\Nothing"}), 1);
    EXPECT_EQ(tmnreg({"delete", kKey, "Nothing"}), 1);

    // A broken line in the middle of an import: nothing of the file is written.
    std::string text = "Tarmin registry export 1\n[" + kKey + "]\n\"A\"=dword:00000001\n\"B\"=dword:zz\n";
    EXPECT_EQ(tmnreg({"import", "-"}, nullptr, &err, text), 2);
    EXPECT_NE(err.find(":4:"), std::string::npos) << err;
    EXPECT_EQ(tmnreg({"query", kKey, "A"}), 1);
    EXPECT_EQ(tmnreg({"import", "-"}, nullptr, &err, "garbage\n"), 2);
}

TEST(Tmnreg, ReadOnlyStoreRefusesWrites) {
    ASSERT_EQ(tmnreg({"set", kKey, "A", "dword", "1"}), 0);
    ::setenv("TARMIN_REGISTRY_READONLY", "1", 1);
    std::string err, out;
    EXPECT_EQ(tmnreg({"set", kKey, "A", "dword", "2"}, nullptr, &err), 3);
    EXPECT_NE(err.find("read-only"), std::string::npos);
    EXPECT_EQ(tmnreg({"query", kKey, "A"}, &out), 0);
    EXPECT_EQ(out, "\"A\"=dword:00000001\n");
    ::unsetenv("TARMIN_REGISTRY_READONLY");
}

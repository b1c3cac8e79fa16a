// Password digest, folder browser hook and trace lines.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "qzcom.h"
#include "testsupport.h"

namespace fs = std::filesystem;

namespace {

std::string digest_hex(const std::string &password) {
    unsigned char out[32];
    if (QZ_HashPassword(password.data(), password.size(), out) != 0) return "<error>";
    static const char kDigits[] = "0123456789abcdef";
    std::string s;
    for (unsigned char b : out) {
        s += kDigits[b >> 4];
        s += kDigits[b & 15];
    }
    return s;
}

} // namespace

TEST(Password, DigestIsFixedForStoredHashes) {
    unsigned char out[32];
    std::memset(out, 0xAA, sizeof out);
    // Not initialised: no key path to salt with.
    EXPECT_NE(QZ_HashPassword("secret", 6, out), 0);
    EXPECT_EQ(out[0], 0);

    ASSERT_EQ(QZ_Initialize("tarmin-operator", QZ_VERSION), 0);
    // PBKDF2-HMAC-SHA-256, 100000 iterations, salt "software\kelvoria\tarmin-operator":
    // stored digests depend on exactly this.
    EXPECT_EQ(digest_hex("secret"), "f7f4910b7fb126b7f2f4990770804cb52057e961559a98fe614d4f6025631893");
    EXPECT_NE(digest_hex("Secret"), digest_hex("secret"));
    EXPECT_NE(digest_hex(""), "<error>");
    EXPECT_NE(QZ_HashPassword(nullptr, 3, out), 0);
    EXPECT_EQ(QZ_HashPassword(nullptr, 0, out), 0);
    QZ_Finalize();

    // Each profile has its own salt; the case of its name does not matter.
    ASSERT_EQ(QZ_InitializeWithProfile("tarmin-operator", "P1", QZ_VERSION), 0);
    EXPECT_EQ(digest_hex("secret"), "4fd37f77aca2f9f8c446cda62825682cffed3f35cf742a75ba8aa07eb8707b04");
    QZ_Finalize();
    ASSERT_EQ(QZ_InitializeWithProfile("tarmin-operator", "p1", QZ_VERSION), 0);
    EXPECT_EQ(digest_hex("secret"), "4fd37f77aca2f9f8c446cda62825682cffed3f35cf742a75ba8aa07eb8707b04");
    QZ_Finalize();
}

TEST(FolderBrowser, GoesThroughTheInstalledBrowser) {
    int edit = 0, parent = 0;
    EXPECT_NE(QZ_BrowseForFolder(&edit, &parent), 0);

    struct Seen {
        QZ_HWND edit = nullptr, parent = nullptr;
        int calls = 0;
    } seen;
    QZ_SetFolderBrowser(
        [](QZ_HWND e, QZ_HWND p, void *user) {
            auto *s = static_cast<Seen *>(user);
            s->edit = e;
            s->parent = p;
            ++s->calls;
            return s->calls == 1 ? 0 : 1; // chosen, then cancelled
        },
        &seen);
    EXPECT_EQ(QZ_BrowseForFolder(&edit, &parent), 0);
    EXPECT_EQ(seen.edit, &edit);
    EXPECT_EQ(seen.parent, &parent);
    EXPECT_EQ(QZ_BrowseForFolder(&edit, &parent), 1);
    QZ_SetFolderBrowser(nullptr, nullptr);
    EXPECT_NE(QZ_BrowseForFolder(&edit, &parent), 0);
    EXPECT_EQ(seen.calls, 2);
}

TEST(Trace, LinesGoWhereTheVariableSays) {
    fs::path file = tarmin::test::make_temp_dir("trace") / "trace.log";
    ::unsetenv("TARMIN_TRACE");
    QZ_Trace("dropped %d\n", 1);

    ::setenv("TARMIN_TRACE", file.c_str(), 1);
    QZ_Trace("QZ_InitializeWithProfile (%s)\n", "main");
    QZ_Trace("no line feed %s", std::string(10000, 'x').c_str());
    std::string text = tarmin::test::read_file(file);
    auto first = text.find('\n');
    ASSERT_NE(first, std::string::npos);
    EXPECT_TRUE(text.substr(0, first).ends_with(" QZ_InitializeWithProfile (main)")) << text.substr(0, first);
    EXPECT_TRUE(text.ends_with(std::string(10000, 'x') + "\n"));
    EXPECT_EQ(text.find("dropped"), std::string::npos);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2);

    ::setenv("TARMIN_TRACE", "-", 1);
    ::testing::internal::CaptureStderr();
    QZ_Trace("to standard error\n");
    EXPECT_TRUE(::testing::internal::GetCapturedStderr().ends_with(" to standard error\n"));
    ::unsetenv("TARMIN_TRACE");
}

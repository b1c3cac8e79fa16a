// Signature files made by MHA_make_tmnsign, the notification text with the
// local zone of its dates, signed notes (also against the openssl command
// line) and the KOI8-R conversions.
#include "smime_test_support.h"

#include "common/codepage.h"

#include <ctime>

using namespace tarmin::test;
using namespace tarmin::test::smime;
using namespace tarmin::cp::literals;
using namespace std::string_literals;

namespace {

class TextsAndNotes : public ::testing::Test {
protected:
    static void SetUpTestSuite() { suite_pki(); }
    void SetUp() override { take_reports(); }
    void TearDown() override { take_reports(); }

    std::string file(const std::string &name, const std::string &bytes) {
        write_file(dir_ / name, bytes);
        return (dir_ / name).string();
    }
    std::string trusted() {
        return file("trusted.pem", read_file(suite_pki().pem("root")) + read_file(suite_pki().pem("ca")));
    }
    // A detached DER signature made by the openssl command line.
    std::string openssl_sign(const std::string &data, const std::string &cert, const std::string &key) {
        std::string sig, err;
        EXPECT_EQ(openssl({"cms", "-sign", "-binary", "-in", file("note.txt", data), "-signer", cert, "-inkey", key,
                           "-outform", "DER", "-out", (dir_ / "note.sig").string()},
                          nullptr, &err),
                  0)
            << err;
        return read_file(dir_ / "note.sig");
    }
    bool openssl_verifies(const std::string &signature, const std::string &data) {
        std::string out, err;
        int rc = openssl({"cms", "-verify", "-binary", "-inform", "DER", "-in", file("v.sig", signature), "-content",
                          file("v.txt", data), "-CAfile", trusted(), "-certfile", suite_pki().pem("operator").string(),
                          "-purpose", "any", "-out", "/dev/null"},
                         &out, &err);
        EXPECT_EQ(rc, 0) << err;
        return rc == 0;
    }
    // GOST R 34.11-94 of the bytes as the hash text ("0A 1B ...").
    std::string hash_text_of(const std::string &data) {
        std::string out, err;
        EXPECT_EQ(openssl({"dgst", "-md_gost94", "-r", file("h.bin", data)}, &out, &err), 0) << err;
        std::string text;
        for (size_t i = 0; i < 64; i += 2) {
            if (i) text += ' ';
            text += static_cast<char>(std::toupper(static_cast<unsigned char>(out[i])));
            text += static_cast<char>(std::toupper(static_cast<unsigned char>(out[i + 1])));
        }
        return text;
    }

    std::filesystem::path dir_ = make_temp_dir("notes");
    TempDir tmp_;
};

// ---- Signature files -------------------------------------------------------

TEST_F(TextsAndNotes, MakeTmnsignWritesTheExistingFileThenOneRecordPerFile) {
    Session s;
    MhaFile out;
    std::memset(&out, 0x5A, sizeof out);
    ASSERT_EQ(MHA_make_tmnsign(s, nullptr, 0, nullptr, &out), 0) << reports_text(take_reports());
    EXPECT_EQ(out.Length, 0u);
    EXPECT_STREQ(out.Name, "TMNSIGN.TMS");
    MHA_free(out.Data);

    const std::string existing = "Name-Signer:Someone\r\nkept \0 as it is"s;
    const CapiBlob old{reinterpret_cast<unsigned char *>(const_cast<char *>(existing.data())),
                       static_cast<uint32_t>(existing.size())};
    const std::string contents[] = {"first file", sample_text(3000)};
    const std::string names[] = {"a.txt", "сводка.bin"_w};
    MhaFile files[2] = {};
    for (int i = 0; i < 2; ++i) {
        files[i].Data = reinterpret_cast<unsigned char *>(const_cast<char *>(contents[i].data()));
        files[i].Length = static_cast<uint32_t>(contents[i].size());
        std::snprintf(files[i].Name, sizeof files[i].Name, "%s", names[i].c_str());
    }
    ASSERT_EQ(MHA_make_tmnsign(s, files, 2, &old, &out), 0) << reports_text(take_reports());
    const std::string tms(reinterpret_cast<char *>(out.Data), out.Length);
    MHA_free(out.Data);
    EXPECT_STREQ(out.Name, "TMNSIGN.TMS");

    ASSERT_EQ(tms.compare(0, existing.size(), existing), 0) << "the existing file comes first, unchanged";
    size_t pos = existing.size();
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        const std::string head = "Name-Signer:" + std::string(MHA_get_owner(s)) + "\r\nHash-Value:" +
                                 hash_text_of(contents[i]) + "\r\nName-Attachment:" + names[i] + "\r\nLength-Sign:";
        ASSERT_EQ(tms.compare(pos, head.size(), head), 0) << tms.substr(pos, head.size());
        pos += head.size();
        size_t eol = tms.find("\r\n", pos);
        const size_t length = std::stoul(tms.substr(pos, eol - pos));
        ASSERT_EQ(tms.compare(eol, 9, "\r\nSign:\r\n"), 0);
        pos = eol + 9;
        ASSERT_LE(pos + length, tms.size());
        EXPECT_TRUE(openssl_verifies(tms.substr(pos, length), contents[i]));
        pos += length;
    }
    EXPECT_EQ(pos, tms.size());

    // A file without data fails the call, and the output stays zero.
    files[1].Data = nullptr;
    std::memset(&out, 0x5A, sizeof out);
    EXPECT_EQ(MHA_make_tmnsign(s, files, 2, nullptr, &out), -1);
    EXPECT_EQ(out.Data, nullptr);
    EXPECT_EQ(out.Length, 0u);
    EXPECT_STREQ(out.Name, "");
    EXPECT_TRUE(open_files_in(tmp_.dir).empty());
}

// ---- Notification texts ----------------------------------------------------

// TZ for the life of the object.
struct Zone {
    std::string old;
    bool had;
    explicit Zone(const char *tz) {
        const char *v = std::getenv("TZ");
        had = v != nullptr;
        if (v) old = v;
        ::setenv("TZ", tz, 1);
        ::tzset();
    }
    ~Zone() {
        if (had) ::setenv("TZ", old.c_str(), 1);
        else ::unsetenv("TZ");
        ::tzset();
    }
};

TEST_F(TextsAndNotes, NotificationTextWithTheTrueOffsetOfEachLocalTime) {
    struct Case {
        const char *tz;
        std::time_t now;
        const char *now_text;  // the notification's own date, local
        std::time_t date;      // the message's date
        const char *date_text; // printed as it stands, with the zone of that local time
    };
    constexpr std::time_t kJanuary = 1767607262, kJuly = 1783245662; // the 5th, 10:01:02 UTC
    const Case cases[] = {
        {"Australia/Adelaide", kJanuary, "Mon, 5 Jan 2026 20:31:02 +1030", kJanuary, "Mon, 5 Jan 2026 10:01:02 +1030"},
        {"Australia/Adelaide", kJuly, "Sun, 5 Jul 2026 19:31:02 +0930", kJanuary, "Mon, 5 Jan 2026 10:01:02 +1030"},
        {"Australia/Adelaide", kJanuary, "Mon, 5 Jan 2026 20:31:02 +1030", kJuly, "Sun, 5 Jul 2026 10:01:02 +0930"},
        {"Europe/Moscow", kJanuary, "Mon, 5 Jan 2026 13:01:02 +0300", kJuly, "Sun, 5 Jul 2026 10:01:02 +0300"},
        {"America/New_York", kJuly, "Sun, 5 Jul 2026 06:01:02 -0400", kJanuary, "Mon, 5 Jan 2026 10:01:02 -0500"},
        {"UTC", kJanuary, "Mon, 5 Jan 2026 10:01:02 +0000", kJanuary, "Mon, 5 Jan 2026 10:01:02 +0000"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.tz + std::string(" ") + c.now_text);
        Zone zone(c.tz);
        FixedClock clock;
        FixedClock::value = c.now;
        Session s;
        ASSERT_EQ(MHA_init_text(s), 0) << reports_text(take_reports());
        std::vector<Obj> objs = objects(
            address(MHA_OBJ_FROM, "SMTP", "Оператор"_w, "operator@tarmin.test"),
            address(MHA_OBJ_TO, "SMTP", "Alice", "alice@tarmin.test"), address(MHA_OBJ_TO, "EX", "Bob", "/o=T/cn=bob"),
            address(MHA_OBJ_TO, "smtp", "Carol", "carol@tarmin.test"), body("not in the text"),
            address(MHA_OBJ_CC, "SMTP", "", "dave@tarmin.test"), address(MHA_OBJ_CC, "notes", "Erin", "CN=Erin/O=T"),
            date((static_cast<uint64_t>(c.date) + 11644473600ULL) * 10000000ULL), subject("Сводка"_w));
        for (Obj &o : objs) ASSERT_EQ(MHA_add_to_text(s, o.o), 0) << reports_text(take_reports());
        EXPECT_STREQ(objs[3]->ToTypeAddress, "SMTP") << "upper-cased in the caller's text";
        MhaSmime *text = nullptr;
        ASSERT_EQ(MHA_final_text(s, &text), 0) << reports_text(take_reports());
        const std::string expected = "Уведомление системы PKI\r\n"_w + std::string("Дата отправления уведомления: "_w) +
                                     c.now_text + "\r\n" + "\r\nУведомление отправлено на следующее сообщение:\r\n"_w +
                                     "Отправитель: Оператор <operator@tarmin.test>\r\n"_w +
                                     "Получатель: Alice <alice@tarmin.test>\r\n"_w + ", Bob <EX:/o=T/cn=bob>\r\n" +
                                     ", Carol <carol@tarmin.test>\r\n" + "Копия:  <dave@tarmin.test>\r\n"_w +
                                     ", Erin <NOTES:CN=Erin/O=T>\r\n" + "Дата отправления: "_w + c.date_text +
                                     "\r\n" + "Тема: Сводка\r\n"_w +
                                     "\r\nПри выполнении криптографической обработки данного почтового сообщения\r\n"
                                     "произошла следующая ошибка:\r\n"_w;
        EXPECT_EQ(tarmin::cp::cp1251_to_utf8(std::string(reinterpret_cast<char *>(text->Data), text->Length)),
                  tarmin::cp::cp1251_to_utf8(expected));
        MHA_smime_free(s, text);
    }
    FixedClock::value = 1767607262;
}

TEST_F(TextsAndNotes, NotificationTextNeedsItsInit) {
    Session s;
    MhaSmime *text = reinterpret_cast<MhaSmime *>(1);
    Obj subj = subject("x");
    EXPECT_EQ(MHA_final_text(s, &text), -1);
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(MHA_add_to_text(s, subj.o), -1);
    // A text is handed out once; a second init starts afresh.
    ASSERT_EQ(MHA_init_text(s), 0);
    ASSERT_EQ(MHA_init_text(s), 0);
    ASSERT_EQ(MHA_add_to_text(s, subj.o), 0);
    ASSERT_EQ(MHA_final_text(s, &text), 0);
    const std::string t(reinterpret_cast<char *>(text->Data), text->Length);
    EXPECT_EQ(t.find("Уведомление системы PKI"_w), 0u);
    EXPECT_EQ(t.find("Уведомление системы PKI"_w, 1), std::string::npos);
    MHA_smime_free(s, text);
    EXPECT_EQ(MHA_final_text(s, &text), -1);
    // A failed step ends the text.
    ASSERT_EQ(MHA_init_text(s), 0);
    EXPECT_EQ(MHA_add_to_text(s, nullptr), -1);
    EXPECT_EQ(MHA_final_text(s, &text), -1);
    EXPECT_TRUE(open_files_in(tmp_.dir).empty());
}

// ---- Signed notes ----------------------------------------------------------

TEST_F(TextsAndNotes, NotesSignedHereAndByOpensslCheckWithTheirSigner) {
    Session s;
    const std::string owner = MHA_get_owner(s);
    const std::string note = "Заметка к документу №5\r\n"_w;
    DssBlob ours{};
    ASSERT_EQ(DSS_sign_note(s, static_cast<uint32_t>(note.size()), note.data(), &ours), 0)
        << reports_text(take_reports());
    const std::string our_sig(reinterpret_cast<char *>(ours.pbData), ours.cbData);
    EXPECT_TRUE(openssl_verifies(our_sig, note));
    EXPECT_EQ(DSS_test_sign_format(s, &ours), 0);

    const auto &pki = suite_pki();
    const auto stranger = tarmin::test::crypto::make_self_signed(dir_, "Stranger", "gost2012_256");
    struct Case {
        const char *what;
        std::string signature;
        std::string data;
        int32_t rc, status;
        std::string name;
        int32_t own;
        const char *notes; // null: none
        const char *status_text;
    };
    const std::string alice_name = "CN=Alice Correspondent, O=Tarmin Test, C=RU, E=alice@tarmin.test";
    const Case cases[] = {
        {"ours", our_sig, note, 0, 0, owner, 1, nullptr, "Статус проверки ЭП: ПОДПИСЬ ВЕРНА"},
        {"changed note", our_sig, note + " ", 1, 1, owner, 1, nullptr, "Статус проверки ЭП: ПОДПИСЬ НЕ ВЕРНА"},
        {"openssl, operator", openssl_sign(note, pki.pem("operator").string(), pki.key("operator").string()), note,
         0, 0, owner, 1, nullptr, "Статус проверки ЭП: ПОДПИСЬ ВЕРНА"},
        {"openssl, alice", openssl_sign(note, pki.pem("alice").string(), pki.key("alice").string()), note, 0, 0,
         alice_name, 0, "CN=Alice Notes/O=Tarmin", "Статус проверки ЭП: ПОДПИСЬ ВЕРНА"},
        {"unknown signer", openssl_sign(note, stranger.cert.string(), stranger.key.string()), note, 1, 2, "Unknown",
         0, nullptr, "Статус проверки ЭП: НЕ НАЙДЕН СЕРТИФИКАТ ПОДПИСАВШЕГО"},
    };
    const int64_t now_ft = static_cast<int64_t>(std::time(nullptr) + 11644473600LL) * 10000000LL;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        DssBlob sig{reinterpret_cast<unsigned char *>(const_cast<char *>(c.signature.data())),
                    static_cast<uint32_t>(c.signature.size())};
        DssVerification *v = nullptr;
        EXPECT_EQ(DSS_check_note(s, static_cast<uint32_t>(c.data.size()), c.data.data(), &sig, &v), c.rc);
        ASSERT_NE(v, nullptr) << reports_text(take_reports());
        take_reports();
        EXPECT_EQ(v->Status, c.status);
        EXPECT_EQ(tarmin::cp::cp1251_to_utf8(v->StatusText), c.status_text);
        EXPECT_EQ(v->Signer.Name, c.name);
        EXPECT_EQ(v->Signer.Own, c.own);
        EXPECT_EQ(v->Signer.Cert == nullptr, c.status == 2);
        ASSERT_NE(v->Signer.AutenName, nullptr);
        if (c.status == 2) {
            EXPECT_STREQ(v->Signer.AutenName, "");
        }
        if (c.notes) {
            EXPECT_STREQ(v->Signer.NotesName, c.notes);
        } else {
            EXPECT_EQ(v->Signer.NotesName, nullptr);
        }
        EXPECT_NEAR(static_cast<double>(v->Signer.SignTime), static_cast<double>(now_ft), 600.0 * 10000000);
        EXPECT_EQ(DSS_free_verification(s, v), 0);

        // The signer alone, from the signature.
        DssSigner signer;
        ASSERT_EQ(DSS_get_signer(s, &sig, &signer), 0);
        EXPECT_EQ(signer.Name, c.name);
        EXPECT_EQ(signer.Own, c.own);
        DSS_free_signer(s, &signer);
        EXPECT_EQ(signer.Name, nullptr) << "the record is cleared";
    }
    take_reports();

    DssSigner me;
    ASSERT_EQ(DSS_get_current_user(s, &me), 0);
    EXPECT_EQ(me.Name, owner);
    EXPECT_EQ(me.Own, 1);
    EXPECT_NE(me.Cert, nullptr);
    DSS_free_signer(s, &me);

    // Bytes that are no signature.
    DssBlob junk{reinterpret_cast<unsigned char *>(const_cast<char *>(note.data())), static_cast<uint32_t>(note.size())};
    DssVerification *v = reinterpret_cast<DssVerification *>(1);
    EXPECT_EQ(DSS_check_note(s, 1, "x", &junk, &v), -1);
    EXPECT_EQ(v, nullptr);
    EXPECT_EQ(DSS_test_sign_format(s, &junk), -1);
    auto reports = take_reports();
    EXPECT_TRUE(has_code(reports, 0xE0030001)) << reports_text(reports);
    bool traced = false;
    for (const Report &r : reports)
        traced |= r.code == 0xE00B0003 && r.text == "Ошибка при выполнении CCA_sender_signed_data в функции DSS_test_sign_format";
    EXPECT_TRUE(traced) << reports_text(reports);
    EXPECT_EQ(DSS_free_signature(s, &ours), 0);
    EXPECT_EQ(ours.pbData, nullptr);
}

// ---- KOI8-R ----------------------------------------------------------------

TEST_F(TextsAndNotes, Koi8rConversionsBothWays) {
    struct Case {
        std::string windows, koi8r;
    };
    const Case cases[] = {
        {"\xC0", "\xE1"},                                   // А
        {"Plain ASCII text 0123 ~!", "Plain ASCII text 0123 ~!"},
        {"\xE0\xFF\xA8\xB8", "\xC1\xD1\xB3\xA3"},           // а я Ё ё
        {"\xCF\xF0\xE8\xE2\xE5\xF2, world", "\xF0\xD2\xC9\xD7\xC5\xD4, world"}, // Привет
        {"", ""},
    };
    for (const Case &c : cases) {
        std::vector<char> out(c.windows.size() + 1, '\x7F');
        DOP_windows_to_koi8r(c.windows.c_str(), out.data());
        EXPECT_EQ(std::string(out.data()), c.koi8r);
        std::vector<char> back(c.koi8r.size() + 1, '\x7F');
        DOP_koi8r_to_windows(c.koi8r.c_str(), back.data());
        EXPECT_EQ(std::string(back.data()), c.windows);
    }
    // Characters one side lacks: 'E' towards KOI8-R (Ђ, €), the default
    // character towards Windows-1251 (box drawing).
    char out[8];
    DOP_windows_to_koi8r("\x80\x88x", out);
    EXPECT_STREQ(out, "EEx");
    DOP_koi8r_to_windows("\x80\x95y", out);
    EXPECT_STREQ(out, "??y");
    // Every Cyrillic letter goes there and back.
    std::string letters;
    for (int c = 0xC0; c <= 0xFF; ++c) letters += static_cast<char>(c);
    std::vector<char> koi(letters.size() + 1), again(letters.size() + 1);
    DOP_windows_to_koi8r(letters.c_str(), koi.data());
    DOP_koi8r_to_windows(koi.data(), again.data());
    EXPECT_EQ(std::string(again.data()), letters);
}

} // namespace

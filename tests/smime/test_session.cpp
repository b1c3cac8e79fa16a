// The library context and its certificate session: release functions, a
// failed crypto initialisation with and without the ask-to-continue box, the
// mode without cryptography, address types, the crypto mode word, the archive
// store and the work files in the temporary directory.
#include "smime_test_support.h"

#include "common/codepage.h"
#include "smime/settings.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>

#include <functional>
#include <regex>

using namespace tarmin::test;
using namespace tarmin::test::smime;
using namespace tarmin::cp::literals;
namespace sm = tarmin::smime;

namespace {

constexpr uint32_t kNoCrypto = 0xE0030027;

std::string trace_text(const std::string &step, const std::string &function) {
    return "Ошибка при выполнении " + step + " в функции " + function;
}

bool has_report(const std::vector<Report> &reports, int level, uint32_t code, const std::string &text) {
    for (const Report &r : reports)
        if (r.level == level && r.code == code && r.text == text) return true;
    return false;
}

class SmimeSession : public ::testing::Test {
protected:
    static void SetUpTestSuite() { suite_pki(); }
    void SetUp() override { take_reports(); }
    void TearDown() override {
        set_dword("ArchiveFlags", 0);
        set_dword("ArchiveOutSort", 0);
        set_dword("CertificateFlags", 0);
        QZ_SetMessageBoxPresenter(nullptr, nullptr);
        take_reports();
    }
    TempDir tmp_;
    FixedClock clock_;
};

TEST_F(SmimeSession, ReleaseFunctionsTakeNullAndAClosedSessionEndsCleanly) {
    EXPECT_EQ(MHA_create_context(nullptr), -1);
    EXPECT_EQ(MHA_close_context(nullptr), 0);
    EXPECT_EQ(MHA_free(nullptr), 0);
    EXPECT_EQ(MHA_encode_free(nullptr), 0);
    EXPECT_EQ(DSS_free_signature(nullptr, nullptr), 0);
    EXPECT_EQ(DSS_free_signer(nullptr, nullptr), 0);
    EXPECT_EQ(DSS_free_verification(nullptr, nullptr), 0);
    EXPECT_EQ(MHA_vcert_final(nullptr), -1);
    EXPECT_EQ(MHA_CheckExpiringCertKey(nullptr), 0);
    EXPECT_EQ(MHA_CheckRAUpdate(nullptr), 0);

    Session never_opened(false);
    EXPECT_EQ(MHA_smime_free(never_opened, nullptr), 0);
    EXPECT_EQ(MHA_object_free(never_opened, nullptr), 0);
    EXPECT_EQ(MHA_result_free(never_opened, nullptr), 0);
    EXPECT_EQ(MHA_get_owner(never_opened), nullptr);
    EXPECT_EQ(MHA_NotUseSkzi(never_opened), 0);
    // Closing a session that never opened releases nothing and succeeds,
    // twice over.
    EXPECT_EQ(MHA_vcert_final(never_opened), 0) << reports_text(take_reports());
    EXPECT_EQ(MHA_vcert_final(never_opened), 0);

    // A raw-message object and one of an unknown type stay the host's.
    auto *raw = static_cast<MhaObject *>(std::calloc(1, sizeof(MhaObject)));
    raw->Type = MHA_OBJ_RAW;
    EXPECT_EQ(MHA_object_free(never_opened, raw), 0);
    raw->Type = 99;
    EXPECT_EQ(MHA_object_free(never_opened, raw), 0);
    std::free(raw);

    // An open session closes, and opens again on the same context.
    Session s;
    EXPECT_EQ(MHA_vcert_final(s), 0);
    EXPECT_EQ(MHA_get_owner(s), nullptr);
    EXPECT_EQ(MHA_vcert_init_ext(s, nullptr, nullptr, nullptr), 0);
    EXPECT_STREQ(MHA_get_owner(s), "CN=Оператор шлюза, OU=Отдел связи, O=Tarmin Test, C=RU, E=operator@tarmin.test"_w);
}

// Answers the warning box and keeps what it showed.
struct Box {
    int answer = QZ_IDYES;
    int shown = 0;
    QZ_HWND owner = reinterpret_cast<QZ_HWND>(1);
    std::string text, caption;
    QZ_DWORD flags = 0;
    explicit Box(int a) : answer(a) {
        QZ_SetMessageBoxPresenter(
            [](QZ_HWND owner, const char *text, const char *caption, QZ_DWORD flags, void *user) {
                auto *b = static_cast<Box *>(user);
                ++b->shown;
                b->owner = owner;
                b->text = text;
                b->caption = caption;
                b->flags = flags;
                return b->answer;
            },
            this);
    }
    ~Box() { QZ_SetMessageBoxPresenter(nullptr, nullptr); }
};

// The remembered own certificate is deleted from "MY", so that the crypto
// initialisation fails (without a prompt); the operator's comes back after.
struct OwnCertificateGone {
    OwnCertificateGone() {
        std::string thumb = run_tmncert({"create", "--subject", "CN=Departed operator", "--issuer",
                                         suite_pki().thumb.at("ca"), "--store", "MY", "--email", "gone@tarmin.test"});
        thumb.erase(thumb.find_last_not_of('\n') + 1);
        run_tmncert({"setmy", thumb});
        run_tmncert({"delete", "--store", "MY", thumb});
    }
    ~OwnCertificateGone() { set_my(suite_pki(), "operator"); }
};

TEST_F(SmimeSession, FailedCryptoInitialisationAsksOnlyWhenTheHostWantsItAndOnlyYesContinues) {
    OwnCertificateGone gone;
    struct Case {
        int ask;
        int answer;
        bool continues;
    };
    const Case cases[] = {{0, QZ_IDYES, false}, {1, QZ_IDNO, false}, {1, QZ_IDCANCEL, false}, {1, QZ_IDYES, true}};
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "ask " << c.ask << " answer " << c.answer);
        Box box(c.answer);
        Session s(false);
        EXPECT_EQ(MHA_CONTEXT_HEAD(s.ctx)->AskToContinue, 0) << "cleared at creation";
        MHA_CONTEXT_HEAD(s.ctx)->AskToContinue = c.ask;
        int32_t rc = MHA_vcert_init(s);
        EXPECT_EQ(box.shown, c.ask);
        if (c.ask) {
            EXPECT_EQ(box.owner, nullptr);
            EXPECT_EQ(box.caption, "Предупреждение системы \"Тармин\""_w);
            EXPECT_EQ(box.text, "Ошибка инициализации системы \"Тармин\".\nХотите продолжить работу\n"
                                "с возможностью открывать подписанные документы\nбез проверки подписи?"_w);
            EXPECT_EQ(box.flags, QZ_MB_YESNOCANCEL | QZ_MB_ICONINFORMATION | QZ_MB_SETFOREGROUND);
        }
        take_reports();
        if (!c.continues) {
            // The crypto library's own code (4: no own certificate).
            EXPECT_EQ(rc, 4);
            EXPECT_EQ(MHA_NotUseSkzi(s), 0);
            EXPECT_EQ(MHA_get_owner(s), nullptr);
            continue;
        }
        ASSERT_EQ(rc, 0);
        EXPECT_EQ(MHA_NotUseSkzi(s), 1);
        EXPECT_EQ(MHA_CONTEXT_HEAD(s.ctx)->NotUseSkzi, 1);

        // Every operation that needs the crypto side refuses.
        struct Refused {
            const char *function;
            std::function<int32_t()> call;
        };
        Obj start_object = start();
        MhaSmime *out = nullptr;
        const Refused refused[] = {
            {"MHA_encode_init", [&] { return MHA_encode_init(s, MHA_SIGN); }},
            {"MHA_encode_add", [&] { return MHA_encode_add(s, start_object.o); }},
            {"MHA_encode_final", [&] { return MHA_encode_final(s, &out); }},
            {"MHA_vcert_crl_refresh", [&] { return MHA_vcert_crl_refresh(s); }},
            {"MHA_vcert_view_cert", [&] { return MHA_vcert_view_cert(s, nullptr); }},
        };
        for (const Refused &r : refused) {
            EXPECT_EQ(r.call(), -1) << r.function;
            auto reports = take_reports();
            EXPECT_TRUE(has_code(reports, kNoCrypto)) << r.function << "\n" << reports_text(reports);
            EXPECT_TRUE(has_report(reports, QZ_LEVEL_DETAIL, 0xE0030015, trace_text("(ctx->NotUseSkzi)", r.function)))
                << r.function << "\n" << reports_text(reports);
        }
        EXPECT_EQ(out, nullptr);
        EXPECT_EQ(MHA_vcert_final(s), 0);

        // The next session that opens works with cryptography again.
        set_my(suite_pki(), "operator");
        ASSERT_EQ(MHA_vcert_init(s), 0) << reports_text(take_reports());
        EXPECT_EQ(MHA_NotUseSkzi(s), 0);
        int32_t encoded = -1;
        encode(s, MHA_SIGN, objects(start(), end()), &encoded);
        EXPECT_EQ(encoded, 0) << reports_text(take_reports());
    }
}

TEST_F(SmimeSession, AddressTypesAreUpperCasedInPlaceAndOthersRefused) {
    Session s;
    struct Case {
        const char *type;
        const char *address;
        int32_t rc;
        const char *type_after;
        bool refused_type;
    };
    const Case cases[] = {
        {"smtp", "alice@tarmin.test", 0, "SMTP", false},
        {"Ex", "/o=Tarmin/ou=Gateway/cn=Recipients/cn=alice", 0, "EX", false},
        {"notes", "CN=Alice Notes/O=Tarmin", 0, "NOTES", false},
        {"SMTP", "nobody@tarmin.test", -1, "SMTP", false},
        {"X400", "alice@tarmin.test", -1, "X400", true},
        {"", "alice@tarmin.test", -1, "", true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.type);
        std::string type = c.type, name = "Alice", addr = c.address;
        MhaAddress a{type.data(), name.data(), addr.data(), nullptr};
        EXPECT_EQ(MHA_is_cert_by_address(s, &a), c.rc);
        EXPECT_STREQ(a.TypeAddress, c.type_after);
        auto reports = take_reports();
        EXPECT_EQ(has_report(reports, QZ_LEVEL_SUMMARY, 0xE003000C,
                             "Неизвестный тип адреса " + std::string(c.type) + " (допустимы SMTP, EX и NOTES)"),
                  c.refused_type)
            << reports_text(reports);
    }
}

TEST_F(SmimeSession, AnUpperCaseTypeInReadOnlyMemoryIsNeverWritten) {
    // The texts of the objects on a page that only reads.
    const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    void *mem = ::mmap(nullptr, page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(mem, MAP_FAILED);
    char *type = static_cast<char *>(mem);
    std::strcpy(type, "SMTP");
    char *addr = type + 8;
    std::strcpy(addr, "alice@tarmin.test");
    ASSERT_EQ(::mprotect(mem, page, PROT_READ), 0);

    Session s;
    MhaAddress a{type, addr, addr, nullptr};
    EXPECT_EQ(MHA_is_cert_by_address(s, &a), 0);
    MhaObject to{};
    to.Type = MHA_OBJ_TO;
    to.ToTypeAddress = type;
    to.ToAddress = addr;
    MhaObject objs[3] = {};
    objs[0].Type = MHA_OBJ_START;
    objs[1] = to;
    objs[2].Type = MHA_OBJ_END;
    ASSERT_EQ(MHA_encode_init(s, MHA_ENCRYPT), 0);
    for (MhaObject &o : objs) EXPECT_EQ(MHA_encode_add(s, &o), 0) << reports_text(take_reports());
    MhaSmime *out = nullptr;
    EXPECT_EQ(MHA_encode_final(s, &out), 0) << reports_text(take_reports());
    MHA_smime_free(s, out);
    ASSERT_EQ(MHA_init_text(s), 0);
    EXPECT_EQ(MHA_add_to_text(s, &to), 0);
    EXPECT_EQ(MHA_final_text(s, &out), 0);
    MHA_smime_free(s, out);
    ::munmap(mem, page);
}

TEST_F(SmimeSession, CryptoModeWordTakesItsBitsFromTheTwoSettings) {
    struct Case {
        uint32_t certificate_flags, output_flags, word;
    };
    const Case cases[] = {
        {0x1, 0, 0x1},          {0x2, 0, 0x2},          {0x4, 0, 0x4},
        {0, 0x80, 0x8},         {0x400, 0, 0x40},       {0x200, 0, 0x80},
        {0x800, 0, 0x100},      {0x1000, 0, 0x200},     {0xFFFFFFFF, 0, 0x3C7},
        {0, 0xFFFFFFFF, 0x8},   {0xFFFFE1F8, 0xFFFFFF7F, 0}, // every other bit of both is dropped
        {0x1E07, 0x80, 0x3CF},
    };
    for (const Case &c : cases)
        EXPECT_EQ(sm::crypto_mode_word(c.certificate_flags, c.output_flags), c.word)
            << std::hex << c.certificate_flags << " " << c.output_flags;

    // The word reaches the crypto library: bit 0 puts the signer's
    // certificate into every signature.
    Session s;
    auto note_signature_length = [&] {
        DssBlob sig{};
        EXPECT_EQ(DSS_sign_note(s, 4, "note", &sig), 0) << reports_text(take_reports());
        uint32_t n = sig.cbData;
        DSS_free_signature(s, &sig);
        return n;
    };
    set_dword("CertificateFlags", 0);
    uint32_t bare = note_signature_length();
    set_dword("CertificateFlags", 1);
    uint32_t with_cert = note_signature_length();
    EXPECT_GE(with_cert, bare + suite_pki().der("operator").size());

    // Without CertificateFlags nothing that needs the settings runs.
    QZ_DeleteValue(QZ_GetProductKeyName(), "CertificateFlags");
    EXPECT_EQ(MHA_encode_init(s, MHA_SIGN), -1);
    auto reports = take_reports();
    EXPECT_TRUE(has_report(reports, QZ_LEVEL_SUMMARY, 0xE003000B,
                           "Ошибка чтения числового параметра CertificateFlags из раздела реестра " +
                               tarmin::cp::cp1251_to_utf8(QZ_GetProductKeyName())))
        << reports_text(reports);
    EXPECT_EQ(MHA_vcert_crl_refresh(s), -1);
    set_dword("CertificateFlags", 0);
    EXPECT_EQ(MHA_vcert_crl_refresh(s), 0) << reports_text(take_reports());
}

// ---- Archive store ---------------------------------------------------------

class SmimeArchive : public SmimeSession {
protected:
    std::filesystem::path archive_ = make_temp_dir("archive");
    Session s_;

    void SetUp() override {
        SmimeSession::SetUp();
        set_dword("ArchiveFlags", 1);
        set_dword("ArchiveOutSort", 0);
        set_text("ArchivePathOut", archive_.string() + "/");
    }
    // Archives files through MHA_make_tmnsign (each file and its signature).
    int32_t archive(const std::vector<std::pair<std::string, std::string>> &files) {
        std::vector<MhaFile> in(files.size());
        for (size_t i = 0; i < files.size(); ++i) {
            in[i].Data = reinterpret_cast<unsigned char *>(const_cast<char *>(files[i].second.data()));
            in[i].Length = static_cast<uint32_t>(files[i].second.size());
            std::snprintf(in[i].Name, sizeof in[i].Name, "%s", files[i].first.c_str());
        }
        MhaFile out{};
        int32_t rc = MHA_make_tmnsign(s_, in.data(), static_cast<uint32_t>(in.size()), nullptr, &out);
        MHA_free(out.Data);
        return rc;
    }
    // The name of the signature beside an archived file (UTF-8, as on disk).
    std::string sgn(const std::string &file) {
        return file + "." + tarmin::cp::cp1251_to_utf8(MHA_get_owner(s_)) + ".sgn";
    }
    static std::string local(const char *format) {
        std::tm tm{};
        localtime_r(&FixedClock::value, &tm);
        char buf[64];
        std::strftime(buf, sizeof buf, format, &tm);
        return buf;
    }
};

TEST_F(SmimeArchive, CopiesNeverOverwriteEarlierOnes) {
    ASSERT_EQ(archive({{"a.txt", "first"}, {"a.txt", "second"}, {"a.txt", "third"}, {"data", "no extension"},
                       {"data", "again"}}),
              0)
        << reports_text(take_reports());
    EXPECT_EQ(names_in(archive_),
              (std::vector<std::string>{"a.txt", sgn("a.txt"), "a~1.txt", sgn("a~1.txt"), "a~2.txt", sgn("a~2.txt"),
                                        "data", sgn("data"), "data~1", sgn("data~1")}));
    EXPECT_EQ(read_file(archive_ / "a.txt"), "first");
    EXPECT_EQ(read_file(archive_ / "a~2.txt"), "third");
    EXPECT_EQ(read_file(archive_ / "data~1"), "again");

    // The signature beside a copy is the detached signature of its bytes.
    std::string out, err;
    EXPECT_EQ(openssl({"cms", "-verify", "-binary", "-inform", "DER", "-in", (archive_ / sgn("a~1.txt")).string(),
                       "-content", (archive_ / "a~1.txt").string(), "-noverify", "-certfile",
                       suite_pki().pem("operator").string(), "-out", "/dev/null"},
                      &out, &err),
              0)
        << err;
    struct stat sb {};
    ASSERT_EQ(::stat((archive_ / "a.txt").c_str(), &sb), 0);
    EXPECT_EQ(sb.st_mode & 0777, 0600u);
}

TEST_F(SmimeArchive, AfterAHundredTakenCountsOnFromTheLastFreeNumber) {
    write_file(archive_ / "b.txt", "0");
    for (int i = 1; i <= 149; ++i) write_file(archive_ / ("b~" + std::to_string(i) + ".txt"), "x");
    ASSERT_EQ(archive({{"b.txt", "next"}}), 0) << reports_text(take_reports());
    EXPECT_EQ(read_file(archive_ / "b~150.txt"), "next");
    EXPECT_TRUE(std::filesystem::exists(archive_ / sgn("b~150.txt")));
    EXPECT_EQ(names_in(archive_).size(), 152u);
}

TEST_F(SmimeArchive, NamesDatesAndDirectories) {
    struct Case {
        uint32_t flags, sort;
        const char *name;
        std::function<std::string()> stored; // the path below the archive
    };
    const Case cases[] = {
        {1, 0, "a\"b*c:d<e>f?g|h\\i/j.txt", [] { return std::string("a_b_c_d_e_f_g_h_i_j.txt"); }},
        {1, 0, "TMNNOTIF.TXT", [] { return std::string("TMNNOTIF.TXT"); }},
        {5, 0, "tmnnotif.txt", [] { return local("TMNNOTIF%Y%m%d%H%M%S.TXT"); }},
        {5, 0, "other.txt", [] { return std::string("other.txt"); }},
        {1, 1, "d.txt", [] { return local("%Y%m%d/d.txt"); }},
        {1, 2, "m.txt", [] { return local("%Y%m/m.txt"); }},
        {1, 3, "y.txt", [] { return local("%Y/y.txt"); }},
        {1, 7, "n.txt", [] { return std::string("n.txt"); }},
        {1, 0, "отчёт.txt", [] { return std::string("отчёт.txt"); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        set_dword("ArchiveFlags", c.flags);
        set_dword("ArchiveOutSort", c.sort);
        std::string name = tarmin::cp::utf8_to_cp1251(c.name);
        ASSERT_EQ(archive({{name, name}}), 0) << reports_text(take_reports());
        EXPECT_EQ(read_file(archive_ / c.stored()), name);
        EXPECT_TRUE(std::filesystem::exists(archive_ / sgn(c.stored())));
    }

    // Full paths are cut to 248 characters, the signature's to 245 before ".sgn".
    set_dword("ArchiveFlags", 1);
    set_dword("ArchiveOutSort", 0);
    ASSERT_EQ(archive({{std::string(300, 'n') + ".txt", "long"}}), 0) << reports_text(take_reports());
    const std::string cut = (archive_ / std::string(248 - archive_.string().size() - 1, 'n')).string();
    EXPECT_EQ(read_file(cut), "long");
    EXPECT_TRUE(std::filesystem::exists(cut.substr(0, 245) + ".sgn"));

    // Without bit 0 nothing is archived.
    set_dword("ArchiveFlags", 2);
    const size_t before = names_in(archive_).size();
    ASSERT_EQ(archive({{"quiet.txt", "x"}}), 0);
    EXPECT_EQ(names_in(archive_).size(), before);
}

TEST_F(SmimeArchive, AnArchiveThatCannotBeCreatedFailsTheCall) {
    write_file(archive_ / "plain-file", "x");
    set_text("ArchivePathOut", (archive_ / "plain-file" / "sub").string());
    EXPECT_EQ(archive({{"a.txt", "x"}}), -1);
    auto reports = take_reports();
    EXPECT_TRUE(has_report(reports, QZ_LEVEL_SUMMARY, 0xE0030010,
                           "Ошибка создания каталога " + (archive_ / "plain-file" / "sub").string() + "/"))
        << reports_text(reports);
    EXPECT_TRUE(has_report(reports, QZ_LEVEL_DETAIL, 0xE0030015, trace_text("archive_data_and_sign", "MHA_make_tmnsign")))
        << reports_text(reports);
}

// ---- Work files ------------------------------------------------------------

std::string tid_hex() {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%08X", static_cast<unsigned>(::syscall(SYS_gettid)));
    return buf;
}

TEST_F(SmimeSession, WorkFilesArePrivateUnlinkedAndWipedWhateverTheOutcome) {
    Session s;
    for (bool succeed : {true, false}) {
        SCOPED_TRACE(succeed ? "success" : "failure");
        ASSERT_EQ(MHA_encode_init(s, MHA_SIGN), 0) << reports_text(take_reports());
        Obj objs[] = {start(), subject("x"), attachment("a.bin", sample_text(5000))};
        for (Obj &o : objs) ASSERT_EQ(MHA_encode_add(s, o.o), 0) << reports_text(take_reports());

        // Open, but already gone from the directory.
        EXPECT_TRUE(names_in(tmp_.dir).empty());
        auto files = open_files_in(tmp_.dir);
        ASSERT_EQ(files.size(), 3u); // output, data and level file
        std::vector<int> kept;
        const std::regex name(tmp_.dir.string() + "/(TMN|TMB|TMA)" + tid_hex() + "[0-9A-F]{8}\\.TMP \\(deleted\\)");
        for (const OpenFile &f : files) {
            EXPECT_TRUE(std::regex_match(f.target, name)) << f.target;
            struct stat sb {};
            ASSERT_EQ(::fstat(f.fd, &sb), 0);
            EXPECT_EQ(sb.st_mode & 0777, 0600u) << f.target;
            EXPECT_EQ(sb.st_uid, ::getuid());
            // A second handle of our own shows the contents after the library let go.
            kept.push_back(::open(("/proc/self/fd/" + std::to_string(f.fd)).c_str(), O_RDONLY | O_CLOEXEC));
            ASSERT_GE(kept.back(), 0);
        }

        MhaSmime *out = nullptr;
        if (succeed) {
            Obj e = end();
            ASSERT_EQ(MHA_encode_add(s, e.o), 0);
            ASSERT_EQ(MHA_encode_final(s, &out), 0) << reports_text(take_reports());
        } else {
            EXPECT_EQ(MHA_encode_add(s, nullptr), -1);
            EXPECT_EQ(MHA_encode_final(s, &out), -1);
        }
        MHA_smime_free(s, out);
        take_reports();

        auto left = open_files_in(tmp_.dir);
        EXPECT_EQ(left.size(), kept.size()) << "only our own handles remain";
        size_t written = 0;
        for (int fd : kept) {
            struct stat sb {};
            ASSERT_EQ(::fstat(fd, &sb), 0);
            std::string bytes(static_cast<size_t>(sb.st_size), '\1');
            ASSERT_EQ(::pread(fd, bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
            EXPECT_EQ(bytes.find_first_not_of('\0'), std::string::npos) << "not wiped";
            written += bytes.size();
            ::close(fd);
        }
        EXPECT_GT(written, 10000u);
        EXPECT_TRUE(names_in(tmp_.dir).empty());
    }
}

TEST_F(SmimeSession, AnUnwritableTemporaryDirectoryFailsAfterSixAttempts) {
    Session s;
    const std::string missing = (tmp_.dir / "missing").string();
    ::setenv("TMP", missing.c_str(), 1);
    EXPECT_EQ(MHA_encode_init(s, 0), -1);
    auto reports = take_reports();
    int attempts = 0;
    const std::regex name("Ошибка создания файла " + missing + "/TMN" + tid_hex() + "[0-9A-F]{8}\\.TMP");
    for (const Report &r : reports)
        if (r.code == 0xE0030003 && r.level == QZ_LEVEL_SUMMARY) {
            ++attempts;
            EXPECT_TRUE(std::regex_match(r.text, name)) << r.text;
        }
    EXPECT_EQ(attempts, 6) << reports_text(reports);
    EXPECT_TRUE(has_report(reports, QZ_LEVEL_DETAIL, 0xE0030015, trace_text("create_tempfile", "MHA_encode_init")))
        << reports_text(reports);

    // The next message, with a usable directory, goes through.
    ::setenv("TMP", tmp_.dir.c_str(), 1);
    int32_t rc = -1;
    encode(s, 0, objects(start(), end()), &rc);
    EXPECT_EQ(rc, 0) << reports_text(take_reports());
}

} // namespace

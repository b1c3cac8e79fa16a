// Edge cases and bad input of the encoder, one table: what each message
// gives or where it fails with which code; after every case no work file is
// left and the same context encodes the next message. Then the signature file
// a host passes as an attachment, the outgoing archive and a full disk.
#include "smime_test_support.h"

#include "common/codepage.h"
#include "smime/mime_text.h"
#include "smime/signfile.h"

#include <sys/mount.h>

#include <functional>

using namespace tarmin::test;
using namespace tarmin::test::smime;
using namespace tarmin::cp::literals;
namespace sm = tarmin::smime;

namespace {

constexpr int kNone = -1;
constexpr int kAtFinal = 1000;

// The boundary of a level with the clock fixed (FixedClock).
std::string boundary(int level) {
    char b[64];
    std::snprintf(b, sizeof b, "----_=_NextPart_%03X_695B8BDE.96A47421", static_cast<unsigned>(level));
    return b;
}

Obj null_object() {
    Obj x(MHA_OBJ_START);
    std::free(x.o);
    x.o = nullptr;
    return x;
}

struct Case {
    const char *name;
    uint32_t flags;
    uint32_t output_flags;
    std::function<std::vector<Obj>()> objects;
    int fails_at = kNone;   // index of the object whose add fails, or kAtFinal
    uint32_t code = 0;      // the level-3 code of the failure
    const char *field = ""; // the field named by a format error (0xE0030011)
    bool stays_open = false; // the failed add leaves the message open
    std::function<void(const std::string &text)> check = nullptr;
    bool without_session = false; // no own certificate
};

class EncodeFixture : public ::testing::Test {
protected:
    static void SetUpTestSuite() { suite_pki(); }
    void SetUp() override { take_reports(); }
    void TearDown() override {
        set_dword("OutputMessageFlags", 0);
        set_dword("ArchiveFlags", 0);
        set_text("Charset", "windows-1251");
        take_reports();
    }
    TempDir tmp_;
    FixedClock clock_;
};

class EncodeCases : public EncodeFixture, public ::testing::WithParamInterface<Case> {};

// The inner message of an envelope, opened with alice's key.
std::string open_for_alice(const std::string &message) {
    std::filesystem::path dir = make_temp_dir("envelope");
    size_t blank = message.find("\r\n\r\n");
    EXPECT_NE(blank, std::string::npos);
    auto envelope = sm::base64_decode(message.substr(blank + 4));
    EXPECT_TRUE(envelope.has_value());
    write_file(dir / "env.der", envelope.value_or(""));
    std::string inner, err;
    EXPECT_EQ(openssl({"cms", "-decrypt", "-binary", "-inform", "DER", "-in", (dir / "env.der").string(), "-recip",
                       suite_pki().pem("alice").string(), "-inkey", suite_pki().key("alice").string()},
                      &inner, &err),
              0)
        << err;
    return inner;
}

bool contains(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

const std::string kLong(5000, 'l');

const Case kCases[] = {
    {"EmptyMessageStillHasDescriptionTextPartAndClosingDelimiter", 0, 0, [] { return objects(start(), end()); },
     kNone, 0, "", false,
     [](const std::string &text) {
         const std::string b = boundary(0);
         EXPECT_EQ(text, "MIME-Version: 1.0\r\nX-Confirmation: 0\r\nX-Charset: windows-1251\r\n"
                         "Content-Type: multipart/mixed;\r\n boundary=\"" + b + "\"\r\n"
                         "\r\n--" + b + "\r\nContent-Type: application/octet-stream;\r\n"
                         " name=\"=?koi8-r?B?JFRhcm1pbi1NZXNzYWdlJC50eHQ=?=\"\r\n"
                         "Content-Transfer-Encoding: base64\r\nX-Rendering-Position: -1\r\nX-Method: 1\r\n"
                         "X-Attachment-Length: 0\r\nX-Attachment-Name: 245461726D696E2D4D657373616765242E747874\r\n"
                         "\r\n"
                         "\r\n--" + b + "\r\nContent-Type: text/plain;\r\n charset=\"koi8-r\"\r\n"
                         "Content-Transfer-Encoding: 7bit\r\n\r\n"
                         "\r\n--" + b + "--\r\n");
     }},
    {"AttachmentOf48BytesIsOneBase64LineAndEmptyOneNothing", 0, 0,
     [] { return objects(start(), attachment("z", std::string(48, 'z')), attachment("e", ""), end()); }, kNone, 0,
     "", false,
     [](const std::string &text) {
         EXPECT_TRUE(contains(text, "X-Attachment-Length: 48\r\nX-Attachment-Name: 7A\r\n\r\n"
                                    "enp6enp6enp6enp6enp6enp6enp6enp6enp6enp6enp6enp6enp6enp6enp6enp6\r\n"
                                    "\r\n--" + boundary(0) + "\r\n"))
             << text;
         EXPECT_TRUE(contains(text, "X-Attachment-Length: 0\r\nX-Attachment-Name: 65\r\n\r\n\r\n--" + boundary(0)))
             << text;
     }},
    {"EncryptAloneWithBit11IsSignedWithoutSignatureFile", MHA_ENCRYPT, 0x800,
     [] {
         return objects(start(), address(MHA_OBJ_FROM, "SMTP", "", "operator@tarmin.test"),
                        address(MHA_OBJ_TO, "SMTP", "Alice", "alice@tarmin.test"), attachment("a.txt", "alpha"),
                        end());
     },
     kNone, 0, "", false,
     [](const std::string &text) {
         EXPECT_TRUE(contains(text, "X-Signed: 1\r\n")) << text;
         const std::string inner = open_for_alice(text);
         EXPECT_EQ(inner.rfind("MIME-Version: 1.0\r\nContent-Type: multipart/signed;\r\n", 0), 0u) << inner;
         EXPECT_TRUE(contains(inner, "X-Attachment-Name: " + sm::hex_text("a.txt") + "\r\n"));
         EXPECT_FALSE(contains(inner, sm::hex_text("TMNSIGN.TMS"))) << "no signature file";
     }},
    {"CompressFlagStillWritesXCompressed0", MHA_ENCRYPT | MHA_COMPRESS, 0,
     [] { return objects(start(), address(MHA_OBJ_TO, "SMTP", "", "alice@tarmin.test"), end()); }, kNone, 0, "",
     false,
     [](const std::string &text) {
         EXPECT_TRUE(contains(text, "X-Signed: 0\r\nX-Compressed: 0\r\nX-Confirm-Msg: 0\r\n")) << text;
         EXPECT_FALSE(contains(text, "X-From-Address")) << "no sender given";
     }},
    {"PassThroughWithoutMessageHash", MHA_PASS_THROUGH, 0,
     [] {
         static const std::string kRaw = "MIME-Version: 1.0\r\nContent-Type: text/plain\r\n\r\nno hash here\r\n";
         return objects(start(), address(MHA_OBJ_TO, "SMTP", "", "alice@tarmin.test"), raw(kRaw), end());
     },
     kAtFinal, 0xE0030011, "X-Message-Hash:"},
    {"PassThroughWithTooShortMessageHash", MHA_PASS_THROUGH, 0,
     [] {
         static const std::string kRaw = "X-Message-Hash: 0A\r\n\r\nbody\r\n";
         return objects(start(), raw(kRaw), end());
     },
     kAtFinal, 0xE0030011, "X-Message-Hash:"},
    {"EncryptWithoutRecipients", MHA_ENCRYPT, 0,
     [] { return objects(start(), address(MHA_OBJ_FROM, "SMTP", "", "operator@tarmin.test"), end()); }, kAtFinal,
     0xE0030019},
    {"RecipientWithoutCertificateLeavesTheMessageOpen", MHA_ENCRYPT, 0,
     [] {
         return objects(start(), address(MHA_OBJ_TO, "SMTP", "", "nobody@tarmin.test"),
                        address(MHA_OBJ_BCC, "smtp", "", "alice@tarmin.test"), end());
     },
     1, 0, "", true,
     [](const std::string &text) {
         const std::string inner = open_for_alice(text);
         EXPECT_FALSE(contains(inner, "nobody")) << "the refused recipient is not written";
     }},
    {"NullObject", 0, 0, [] { return objects(start(), null_object(), end()); }, 1},
    {"UnknownTypeIsIgnored", 0, 0, [] { return objects(start(), Obj(99), end()); }, kNone, 0, "", false,
     [](const std::string &text) { EXPECT_TRUE(contains(text, boundary(0) + "--\r\n")); }},
    {"AttachmentBeforeStart", 0, 0, [] { return objects(attachment("a", "x"), start(), end()); }, 0, 0xE0030011,
     "MIME-Version"},
    {"SecondStart", 0, 0, [] { return objects(start(), start(), end()); }, 1, 0xE0030011, "MIME-Version"},
    {"FinalBeforeEnd", 0, 0, [] { return objects(start(), attachment("a", "x")); }, kAtFinal, 0xE0030011,
     "MIME-Version"},
    {"NestedEndWithoutNestedStart", 0, 0, [] { return objects(start(), nested_end(), end()); }, 1, 0xE0030011,
     "message/rfc822"},
    {"EndInsideANestedMessage", 0, 0, [] { return objects(start(), nested_start(), end()); }, 2, 0xE0030011,
     "message/rfc822"},
    {"NestingDownToLevel127", 0, 0,
     [] {
         std::vector<Obj> v = objects(start());
         for (int i = 0; i < 127; ++i) v.push_back(nested_start(i));
         for (int i = 0; i < 127; ++i) v.push_back(nested_end());
         v.push_back(end());
         return v;
     },
     kNone, 0, "", false,
     [](const std::string &text) {
         EXPECT_TRUE(contains(text, " boundary=\"" + boundary(127) + "\"\r\n"));
         EXPECT_TRUE(contains(text, "X-Rendering-Position: 126\r\nX-Method: 1\r\n"));
         EXPECT_TRUE(contains(text, "\r\n--" + boundary(127) + "--\r\n\r\n--" + boundary(126) + "\r\n"));
     }},
    {"NestingPast127", 0, 0,
     [] {
         std::vector<Obj> v = objects(start());
         for (int i = 0; i < 128; ++i) v.push_back(nested_start());
         return v;
     },
     128, 0xE0030011, "message/rfc822"},
    {"LongSubject", 0, 0, [] { return objects(start(), subject(kLong), end()); }, 1, 0xE0030011, "Subject"},
    {"LongSenderAddress", 0, 0, [] { return objects(start(), address(MHA_OBJ_FROM, "SMTP", "", kLong), end()); }, 1,
     0xE0030011, "Address"},
    {"LongRecipientName", 0, 0, [] { return objects(start(), address(MHA_OBJ_CC, "SMTP", kLong, "a@b"), end()); }, 1,
     0xE0030011, "Address"},
    {"LongAttachmentName", 0, 0, [] { return objects(start(), attachment(kLong, "x"), end()); }, 1, 0xE0030011,
     "X-Attachment-Name"},
    {"LongContentId", 0, 0, [] { return objects(start(), attachment("a", "x", 1, 1, kLong), end()); }, 1,
     0xE0030011, "X-Attachment-Content-Id"},
    {"EmptyAddress", 0, 0, [] { return objects(start(), address(MHA_OBJ_TO, "SMTP", "x", ""), end()); }, 1,
     0xE0030011, "Address"},
    {"UnknownAddressTypeWhenEncrypting", MHA_ENCRYPT, 0,
     [] { return objects(start(), address(MHA_OBJ_TO, "X400", "", "alice@tarmin.test"), end()); }, 1, 0xE003000C},
    {"RawMessageWithoutPassThrough", 0, 0,
     [] {
         static const std::string kRaw = "X-Message-Hash: 0A 1B 2C 3D\r\n";
         return objects(start(), raw(kRaw), end());
     },
     1, 0xE0030011},
    {"BodyInAPassThroughMessage", MHA_PASS_THROUGH, 0, [] { return objects(start(), body("text"), end()); }, 1,
     0xE0030011},
    {"SignatureFileOfElevenBytes", MHA_SIGN, 0,
     [] { return objects(start(), attachment("TmnSign.tms", "Name-Signer"), end()); }, 1, 0xE0030011,
     "TMNSIGN.TMS"},
    {"SigningWithoutOwnCertificate", MHA_SIGN, 0, [] { return objects(start(), attachment("a", "x"), end()); }, 1,
     0xE0030001, "", false, nullptr, true},
    {"EncryptingWithoutOwnCertificate", MHA_ENCRYPT, 0,
     [] { return objects(start(), address(MHA_OBJ_TO, "SMTP", "", "alice@tarmin.test"), end()); }, kAtFinal,
     0xE0030001, "", false, nullptr, true},
};

TEST_P(EncodeCases, GivesItsMessageOrFailsCleanly) {
    const Case &c = GetParam();
    set_dword("OutputMessageFlags", c.output_flags);
    Session s(!c.without_session);
    std::vector<Obj> objs = c.objects();
    ASSERT_EQ(MHA_encode_init(s, c.flags), 0) << reports_text(take_reports());
    bool ended = false;
    for (size_t i = 0; i < objs.size(); ++i) {
        int32_t rc = MHA_encode_add(s, objs[i].o);
        if (static_cast<int>(i) != c.fails_at) {
            ASSERT_EQ(rc, 0) << "object " << i << "\n" << reports_text(take_reports());
            continue;
        }
        EXPECT_EQ(rc, -1) << "object " << i;
        if (c.stays_open) continue;
        // Failed: later objects are refused until the next message.
        auto reports = take_reports();
        if (c.code) {
            EXPECT_TRUE(has_code(reports, c.code)) << reports_text(reports);
        }
        if (*c.field) {
            EXPECT_NE(reports_text(reports).find("отсутствует или пусто поле " + std::string(c.field) + "\n"),
                      std::string::npos)
                << reports_text(reports);
        }
        Obj more = end();
        EXPECT_EQ(MHA_encode_add(s, more.o), -1);
        ended = true;
        break;
    }
    MhaSmime *out = nullptr;
    int32_t rc = MHA_encode_final(s, &out);
    auto reports = take_reports();
    if (ended || c.fails_at == kAtFinal) {
        EXPECT_EQ(rc, -1);
        EXPECT_EQ(out, nullptr);
        if (c.fails_at == kAtFinal) {
            EXPECT_TRUE(has_code(reports, c.code)) << reports_text(reports);
            if (*c.field) {
                EXPECT_NE(reports_text(reports).find("отсутствует или пусто поле " + std::string(c.field) + "\n"),
                          std::string::npos)
                    << reports_text(reports);
            }
        }
    } else {
        ASSERT_EQ(rc, 0) << reports_text(reports);
        ASSERT_NE(out, nullptr);
        if (c.check) c.check(std::string(reinterpret_cast<char *>(out->Data), out->Length));
    }
    MHA_smime_free(s, out);

    // Nothing of the message is left in the temporary directory, and the
    // context takes the next message.
    EXPECT_TRUE(open_files_in(tmp_.dir).empty());
    EXPECT_TRUE(names_in(tmp_.dir).empty());
    if (c.without_session) return;
    int32_t next = -1;
    std::string text = encode(s, MHA_SIGN, objects(start(), subject("next"), attachment("n.txt", "next"), end()), &next);
    EXPECT_EQ(next, 0) << reports_text(take_reports());
    EXPECT_EQ(text.rfind("MIME-Version: 1.0\r\nContent-Type: multipart/signed;\r\n", 0), 0u);
}

INSTANTIATE_TEST_SUITE_P(Cases, EncodeCases, ::testing::ValuesIn(kCases),
                         [](const auto &info) { return std::string(info.param.name); });

class EncodeSignatureFiles : public EncodeFixture {};

// The parts of the signed inner message of a signed (not encrypted) message.
std::vector<Part> signed_parts(const std::string &text) {
    std::vector<Part> outer = top_level_parts(text);
    EXPECT_EQ(outer.size(), 2u);
    if (outer.empty()) return {};
    return top_level_parts(outer[0].headers + "\r\n" + outer[0].content);
}

const Part *part_named(const std::vector<Part> &parts, const std::string &name) {
    for (const Part &p : parts)
        if (header_value(p.headers, "X-Attachment-Name") == sm::hex_text(name)) return &p;
    return nullptr;
}

TEST_F(EncodeSignatureFiles, APassedSignatureFileIsKeptAfterTheLevelsOwnRecords) {
    struct Variant {
        const char *charset;
        std::string file_name;
    };
    const Variant variants[] = {
        {"windows-1251", "TMNSIGN.TMS"}, {"utf-8", "tmnsign.tms"}, {"windows-1251", "ЭЦП.tms"_w}};
    const std::string report_name = "отчёт.txt"_w;
    for (const Variant &v : variants) {
        SCOPED_TRACE(v.charset + std::string(" ") + tarmin::cp::cp1251_to_utf8(v.file_name));
        set_text("Charset", v.charset);
        Session s;
        // The host's signature file for a document of its own.
        MhaFile doc{};
        const std::string report = "report";
        doc.Data = reinterpret_cast<unsigned char *>(const_cast<char *>(report.data()));
        doc.Length = static_cast<uint32_t>(report.size());
        std::snprintf(doc.Name, sizeof doc.Name, "%s", report_name.c_str());
        MhaFile host_file{};
        ASSERT_EQ(MHA_make_tmnsign(s, &doc, 1, nullptr, &host_file), 0) << reports_text(take_reports());
        const std::string host_tms(reinterpret_cast<char *>(host_file.Data), host_file.Length);
        MHA_free(host_file.Data);

        int32_t rc = -1;
        std::string text = encode(s, MHA_SIGN,
                                  objects(start(), address(MHA_OBJ_FROM, "SMTP", "", "operator@tarmin.test"),
                                          attachment("a.txt", "alpha"), attachment(v.file_name, host_tms),
                                          attachment("b.txt", "beta"), end()),
                                  &rc);
        ASSERT_EQ(rc, 0) << reports_text(take_reports());
        std::vector<Part> parts = signed_parts(text);
        // The passed file is not written as an attachment of its own.
        ASSERT_EQ(parts.size(), 5u) << "a.txt, b.txt, description, signature file, text";
        const Part *tms = part_named(parts, "TMNSIGN.TMS");
        ASSERT_NE(tms, nullptr);
        EXPECT_EQ(tms, &parts[3]);

        auto records = sm::read_sign_file(tms->content);
        ASSERT_EQ(records.size(), 3u);
        EXPECT_EQ(records[0].name, "a.txt");
        EXPECT_EQ(records[1].name, "b.txt");
        EXPECT_TRUE(records[0].has_address && records[1].has_address);
        // The host's records follow unchanged, but for the attachment name in
        // the message's charset.
        std::string expected_tail = host_tms;
        if (std::string(v.charset) == "utf-8")
            expected_tail.replace(expected_tail.find(report_name), report_name.size(), "отчёт.txt");
        ASSERT_GE(tms->content.size(), expected_tail.size());
        EXPECT_EQ(tms->content.substr(tms->content.size() - expected_tail.size()), expected_tail);
        EXPECT_FALSE(records[2].has_address);
    }
}

TEST_F(EncodeSignatureFiles, AttachmentsAndTheirSignaturesGoToTheOutgoingArchive) {
    const std::filesystem::path archive = make_temp_dir("archive");
    set_dword("ArchiveFlags", 1);
    set_text("ArchivePathOut", archive.string());
    Session s;
    const std::string owner = tarmin::cp::cp1251_to_utf8(MHA_get_owner(s));
    int32_t rc = -1;
    std::string text = encode(s, MHA_SIGN | MHA_ENCRYPT,
                              objects(start(), address(MHA_OBJ_TO, "SMTP", "", "alice@tarmin.test"),
                                      attachment("a.txt", "alpha"), attachment("b.txt", "beta"), end()),
                              &rc);
    ASSERT_EQ(rc, 0) << reports_text(take_reports());
    EXPECT_EQ(names_in(archive), (std::vector<std::string>{"a.txt", "a.txt." + owner + ".sgn", "b.txt",
                                                           "b.txt." + owner + ".sgn"}));
    EXPECT_EQ(read_file(archive / "b.txt"), "beta");
    // The archived signature is the one the message carries.
    std::vector<Part> parts = signed_parts(open_for_alice(text));
    const Part *tms = part_named(parts, "TMNSIGN.TMS");
    ASSERT_NE(tms, nullptr);
    auto records = sm::read_sign_file(tms->content);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(read_file(archive / ("b.txt." + owner + ".sgn")), records[1].signature);

    // A refused attachment leaves no copy.
    set_text("ArchivePathOut", (archive / "second").string());
    encode(s, MHA_SIGN, objects(start(), attachment("c.txt", "x"), attachment(kLong, "x"), end()), &rc);
    EXPECT_EQ(rc, -1);
    take_reports();
    EXPECT_EQ(names_in(archive / "second"), (std::vector<std::string>{"c.txt", "c.txt." + owner + ".sgn"}));

    // Without signing, or with 0x40, nothing is archived.
    set_text("ArchivePathOut", (archive / "third").string());
    encode(s, 0, objects(start(), attachment("c.txt", "x"), end()), &rc);
    EXPECT_EQ(rc, 0);
    encode(s, MHA_SIGN | MHA_NO_ATTACH_SIGN, objects(start(), attachment("c.txt", "x"), end()), &rc);
    EXPECT_EQ(rc, 0);
    EXPECT_FALSE(std::filesystem::exists(archive / "third"));
}

TEST_F(EncodeSignatureFiles, AFullDiskFailsTheMessageAndFreesItsSpace) {
    if (::geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
    const std::filesystem::path small = tmp_.dir / "small";
    std::filesystem::create_directories(small);
    if (::mount("tmpfs", small.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=64k,mode=0700") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs: " << std::strerror(errno);
    struct Unmount {
        std::filesystem::path p;
        ~Unmount() { ::umount2(p.c_str(), MNT_DETACH); }
    } unmount{small};
    ::setenv("TMP", small.c_str(), 1);

    Session s;
    int32_t rc = 0;
    encode(s, MHA_SIGN, objects(start(), attachment("big.bin", sample_text(100000)), end()), &rc);
    EXPECT_EQ(rc, -1);
    auto reports = take_reports();
    EXPECT_TRUE(has_code(reports, 0xE0030004)) << reports_text(reports);
    EXPECT_TRUE(open_files_in(small).empty());
    // The space of the failed message is free again: a smaller one fits.
    std::string text = encode(s, MHA_SIGN, objects(start(), attachment("small.bin", sample_text(8000)), end()), &rc);
    EXPECT_EQ(rc, 0) << reports_text(take_reports());
    EXPECT_TRUE(names_in(small).empty());
}

} // namespace

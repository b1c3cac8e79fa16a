// The decoder reads mail from strangers: messages made by another tool kit,
// altered in transit, cut short or lying about lengths give an error or
// status 1, never 0, with nothing handed out, no leak and no file left.
#include "decode_test_support.h"

#include "common/codepage.h"
#include "smime/mime_text.h"

using namespace tarmin::test;
using namespace tarmin::test::smime;
using namespace tarmin::cp::literals;
namespace sm = tarmin::smime;

namespace {

class DecodeHostile : public ::testing::Test {
protected:
    static void SetUpTestSuite() { suite_pki(); }
    void SetUp() override {
        tmp_ = make_temp_dir("tmp");
        setenv("TMP", tmp_.c_str(), 1);
    }
    void TearDown() override {
        unsetenv("TMP");
        EXPECT_TRUE(names_in(tmp_).empty()) << "work files left behind";
    }
    std::string file(const std::string &name, const std::string &bytes) {
        write_file(dir_ / name, bytes);
        return (dir_ / name).string();
    }
    // A small signed and encrypted message with two attachments.
    std::string small_message(MhaContext *ctx, uint32_t flags = MHA_SIGN | MHA_ENCRYPT) {
        int32_t rc = 0;
        std::string m = encode(ctx, flags,
                               objects(start(), address(MHA_OBJ_FROM, "SMTP", "", "operator@tarmin.test"),
                                       address(MHA_OBJ_TO, "SMTP", "", "alice@tarmin.test"), subject("Тест"_w),
                                       attachment("a.txt", "first attachment"), attachment("b.txt", "second"), end()),
                               &rc);
        EXPECT_EQ(rc, 0) << reports_text(take_reports());
        return m;
    }
    std::filesystem::path tmp_, dir_ = make_temp_dir("hostile");
};

// Expects a refusal or status 1 and nothing handed out.
void expect_not_accepted(MhaContext *ctx, const std::string &message, const std::string &what) {
    Decoded d = decode(ctx, message);
    EXPECT_NE(d.rc, 0) << what;
    EXPECT_TRUE(d.objects.empty()) << what;
    if (d.rc == 1) {
        ASSERT_NE(d.result, nullptr) << what;
        EXPECT_NE(d.result->SignStatus, 0) << what;
    } else {
        EXPECT_EQ(d.result, nullptr) << what;
    }
    MHA_result_free(ctx, d.result);
}

TEST_F(DecodeHostile, EveryTruncationAndEveryHeaderByteChangeIsRefused) {
    Session s;
    const std::string message = small_message(s);
    ASSERT_FALSE(message.empty());
    // Cut anywhere: before the base64 ends nothing may decode as complete
    // (one or two bytes short of the end only drops line ends).
    const size_t body = message.find("\r\n\r\n") + 4;
    for (size_t cut = 0; cut + 8 < message.size(); cut += cut < body ? 1 : 97)
        expect_not_accepted(s, message.substr(0, cut), "cut at " + std::to_string(cut));
    // Every byte of the header block changed.
    for (size_t i = 0; i < body; ++i) {
        std::string m = message;
        m[i] = static_cast<char>(m[i] ^ 0x20);
        Decoded d = decode(s, m);
        // A change of letter case in a header name or keyword is harmless;
        // anything accepted must still be the sender's message.
        if (d.rc == 0) EXPECT_EQ(d.objects.size(), 8u) << "byte " << i;
        else EXPECT_TRUE(d.objects.empty()) << "byte " << i;
        MHA_result_free(s, d.result);
    }
    take_reports();
}

TEST_F(DecodeHostile, ChangedAttachmentOrSignatureNeverVerifies) {
    Session s;
    const std::string message = small_message(s, MHA_SIGN);
    // "first attachment" in base64 is "Zmlyc3QgYXR0YWNobWVudA=="; one letter changed.
    std::string altered = message;
    size_t at = altered.find("Zmlyc3QgYXR0YWNobWVudA==");
    ASSERT_NE(at, std::string::npos);
    altered[at + 4] = 'X';
    int32_t status = -9;
    Decoded d = decode(s, altered, 0, &status);
    EXPECT_EQ(d.rc, 1);
    EXPECT_EQ(status, 1);
    EXPECT_TRUE(d.objects.empty());
    EXPECT_NE(d.detail.find("Статус проверки подписи сообщения: ПОДПИСЬ НЕ ВЕРНА"), std::string::npos) << d.detail;
    MHA_result_free(s, d.result);

    // Without the message check the attachment's own signature catches it.
    d = decode(s, altered, MHD_NO_MESSAGE_CHECK, &status);
    EXPECT_EQ(d.rc, 1);
    EXPECT_EQ(status, 1);
    EXPECT_NE(d.detail.find("НАРУШЕНА ЦЕЛОСТНОСТЬ ПОДПИСАННОГО ВЛОЖЕНИЯ"), std::string::npos) << d.detail;
    MHA_result_free(s, d.result);
    take_reports();
}

TEST_F(DecodeHostile, LyingLengthsAndDepthAreRefused) {
    Session s;
    const std::string message = small_message(s, MHA_SIGN);
    struct Case {
        const char *what, *from, *to;
        uint32_t code;
    } cases[] = {
        {"attachment length", "X-Attachment-Length: 16\r\n", "X-Attachment-Length: 13\r\n", 0xE0030018},
        {"attachment length huge", "X-Attachment-Length: 16\r\n", "X-Attachment-Length: 4294967296999\r\n", 0xE0030018},
        {"signature length", "X-Signature-Length: ", "X-Signature-Length: 1", 0xE0030016},
        {"no boundary", " boundary=\"----_=_NextPart_000_", " boundery=\"----_=_NextPart_000_", 0xE0030011},
        {"unknown encoding", "Content-Transfer-Encoding: base64\r\nX-Rendering-Position: -1\r\nX-Method: 1\r\nX-Attachment-Length: 16",
         "Content-Transfer-Encoding: uuencode\r\nX-Rendering-Position: -1\r\nX-Method: 1\r\nX-Attachment-Length: 16", 0xE0030011},
        {"not a message", "Content-Type: multipart/signed;", "Content-Type: multipart/mixed; ", 0xE0030011},
    };
    for (const Case &c : cases) {
        std::string m = message;
        size_t at = m.find(c.from);
        ASSERT_NE(at, std::string::npos) << c.what;
        m.replace(at, std::strlen(c.from), c.to);
        take_reports();
        Decoded d = decode(s, m);
        EXPECT_NE(d.rc, 0) << c.what;
        EXPECT_TRUE(d.objects.empty()) << c.what;
        EXPECT_TRUE(has_code(take_reports(), c.code)) << c.what;
        MHA_result_free(s, d.result);
    }
    // 200 nested messages: refused at level 128, without recursion.
    std::string deep = "MIME-Version: 1.0\r\nContent-Type: multipart/signed;\r\n boundary=\"S\"\r\n\r\n--S\r\n";
    for (int i = 0; i < 200; ++i)
        deep += "Content-Type: message/rfc822\r\nX-Rendering-Position: 0\r\nX-Method: 1\r\n"
                "Content-Type: multipart/mixed;\r\n boundary=\"L" + std::to_string(i) + "\"\r\n\r\n--L" + std::to_string(i) + "\r\n";
    deep += "\r\n--S\r\nContent-Type: application/x-pkcs7-signature;\r\nContent-Transfer-Encoding: base64\r\n"
            "X-Signature-Length: 3\r\n\r\nAAAA\r\n--S--\r\n";
    Decoded d = decode(s, deep);
    EXPECT_EQ(static_cast<uint32_t>(d.rc), 0xE0030011u);
    EXPECT_TRUE(d.objects.empty());
    take_reports();
}

// An envelope made by `openssl cms -encrypt -gost89` around a message signed
// by `openssl cms -sign -binary` over its data file.
TEST_F(DecodeHostile, MessageMadeWithOpensslDecodes) {
    Session s;
    const Pki &pki = suite_pki();
    // The inner multipart message and its data file, from an unsigned encode.
    int32_t rc = 0;
    std::string inner = encode(s, 0,
                               objects(start(), address(MHA_OBJ_FROM, "SMTP", "", "operator@tarmin.test"),
                                       subject("openssl"), attachment("x.bin", sample_text(5000)), end()),
                               &rc);
    ASSERT_EQ(rc, 0);
    // The data file: the decoded bytes of each part.
    std::string data;
    for (size_t at = inner.find("X-Attachment-Name:"); at != std::string::npos; at = inner.find("X-Attachment-Name:", at + 1)) {
        size_t b = inner.find("\r\n\r\n", at) + 4, e = inner.find("\r\n--", b);
        data += *sm::base64_decode(inner.substr(b, e - b));
    }
    std::string sig, err;
    ASSERT_EQ(openssl({"cms", "-sign", "-binary", "-in", file("data", data), "-signer", pki.pem("operator").string(),
                       "-inkey", pki.key("operator").string(), "-outform", "DER", "-out", file("sig.der", "")},
                      nullptr, &err),
              0)
        << err;
    sig = read_file(dir_ / "sig.der");
    std::string signed_message = "MIME-Version: 1.0\r\nContent-Type: multipart/signed;\r\n boundary=\"SB\"\r\n\r\n--SB\r\n" +
                                 inner + "\r\n--SB\r\nContent-Type: application/x-pkcs7-signature;\r\n name=\"smime.p7s\"\r\n"
                                         "Content-Transfer-Encoding: base64\r\nX-Message-Hash: 00 11\r\nX-Signature-Length: " +
                                 std::to_string(sig.size()) + "\r\n\r\n" + sm::base64_lines(sig) + "\r\n--SB--\r\n";
    ASSERT_EQ(openssl({"cms", "-encrypt", "-gost89", "-binary", "-in", file("signed", signed_message), "-outform", "DER",
                       "-out", file("env.der", ""), pki.pem("operator").string()},
                      nullptr, &err),
              0)
        << err;
    std::string env = read_file(dir_ / "env.der");
    std::string message = "Content-Type: application/pkcs7-mime;\r\n smime-type=enveloped-data;\r\n name=\"smime.p7m\"\r\n"
                          "Content-Transfer-Encoding: base64\r\nX-Signed: 1\r\nX-Compressed: 0\r\nX-Confirm-Msg: 0\r\n"
                          "X-Message-Hash: 00 11\r\nX-Crypt-Length: " +
                          std::to_string(env.size()) + "\r\n\r\n" + sm::base64_lines(env);
    int32_t status = -9;
    Decoded d = decode(s, message, 0, &status);
    EXPECT_EQ(d.rc, 0) << d.detail << reports_text(take_reports());
    EXPECT_EQ(status, 0);
    ASSERT_EQ(d.objects.size(), 5u);
    EXPECT_EQ(d.objects[3].substr(0, 16), "attachment x.bin");
    MHA_result_free(s, d.result);

    // The same signed message with one attachment byte changed: status 1.
    std::string altered = signed_message;
    size_t at = altered.find("X-Attachment-Name: 782E62696E\r\n\r\n");
    ASSERT_NE(at, std::string::npos);
    at += 33;
    altered[at] = altered[at] == 'A' ? 'B' : 'A';
    d = decode(s, altered, 0, &status);
    EXPECT_EQ(d.rc, 1);
    EXPECT_EQ(status, 1);
    MHA_result_free(s, d.result);
    take_reports();
}

} // namespace

// What the encoder writes, checked from outside with the openssl command line:
// the envelope opens for a recipient's key and gives the inner signed message,
// "smime.p7s" verifies over the raw bytes of the parts, and every signature
// file record verifies against its attachment.
#include "smime_test_support.h"

#include "common/codepage.h"
#include "smime/mime_text.h"
#include "smime/signfile.h"

using namespace tarmin::test;
using namespace tarmin::test::smime;
using namespace tarmin::cp::literals;
namespace sm = tarmin::smime;

namespace {

class EncodeInterop : public ::testing::Test {
protected:
    static void SetUpTestSuite() { suite_pki(); }
    const Pki &pki() { return suite_pki(); }
    std::filesystem::path dir_ = make_temp_dir("interop");
    // Signatures made with CertificateFlags 0 do not carry the signer's
    // certificate, and the command line takes intermediates only from the
    // trusted file.
    std::string trusted() { return file("trusted.pem", read_file(pki().pem("root")) + read_file(pki().pem("ca"))); }
    std::string chain() { return pki().pem("operator").string(); }
    std::string file(const std::string &name, const std::string &bytes) {
        write_file(dir_ / name, bytes);
        return (dir_ / name).string();
    }
};

TEST_F(EncodeInterop, SignedAndEncryptedMessageOpensAndVerifiesWithOpenssl) {
    Session s;
    const std::string report = sample_text(70000);
    const std::string small = "second attachment";
    std::string message = encode(s, MHA_ENCRYPT | MHA_SIGN | MHA_CONFIRM,
                                 objects(start(), address(MHA_OBJ_FROM, "SMTP", "Оператор"_w, "operator@tarmin.test"),
                                         address(MHA_OBJ_TO, "SMTP", "Alice", "alice@tarmin.test"),
                                         subject("Отчёт за день"_w), date(kSampleDate), body("Текст письма"_w),
                                         attachment("отчёт.bin"_w, report), attachment("b.txt", small), end()));
    ASSERT_FALSE(message.empty()) << reports_text(take_reports());
    ASSERT_EQ(message.rfind("Content-Type: application/pkcs7-mime;\r\n", 0), 0u);
    EXPECT_NE(message.find("X-Signed: 1\r\n"), std::string::npos);
    EXPECT_NE(message.find("X-Confirm-Msg: 1\r\n"), std::string::npos);
    EXPECT_NE(message.find("X-From-Type-Address: SMTP\r\nX-From-Address: operator@tarmin.test\r\n"), std::string::npos);
    EXPECT_EQ(message.find("MIME-Version"), std::string::npos);

    // The envelope: base64 after the blank line, X-Crypt-Length bytes.
    size_t blank = message.find("\r\n\r\n");
    std::string envelope = *sm::base64_decode(message.substr(blank + 4));
    EXPECT_EQ(std::to_string(envelope.size()), header_value(message, "X-Crypt-Length"));
    std::string inner, err;
    ASSERT_EQ(openssl({"cms", "-decrypt", "-binary", "-inform", "DER", "-in", file("env.der", envelope), "-recip",
                       pki().pem("alice").string(), "-inkey", pki().key("alice").string()},
                      &inner, &err),
              0)
        << err;
    // The sender can open its own copy too.
    std::string own;
    ASSERT_EQ(openssl({"cms", "-decrypt", "-binary", "-inform", "DER", "-in", file("env.der", envelope), "-recip",
                       pki().pem("operator").string(), "-inkey", pki().key("operator").string()},
                      &own, &err),
              0)
        << err;
    EXPECT_EQ(own, inner);

    // The inner signed message: the signed part, then smime.p7s.
    ASSERT_EQ(inner.rfind("MIME-Version: 1.0\r\nContent-Type: multipart/signed;\r\n", 0), 0u);
    std::vector<Part> outer = top_level_parts(inner);
    ASSERT_EQ(outer.size(), 2u);
    std::string signature = outer[1].content;
    EXPECT_EQ(std::to_string(signature.size()), header_value(outer[1].headers, "X-Signature-Length"));

    // The signed message's parts: two attachments, the description, the
    // signature file, the empty text part.
    std::string signed_text = outer[0].headers + "\r\n" + outer[0].content;
    std::vector<Part> parts = top_level_parts(signed_text);
    ASSERT_EQ(parts.size(), 5u);
    EXPECT_EQ(parts[0].content, report);
    EXPECT_EQ(parts[1].content, small);
    EXPECT_NE(parts[2].content.find("Subject: "_w + std::string("Отчёт за день"_w)), std::string::npos);
    EXPECT_EQ(header_value(parts[3].headers, "X-Attachment-Name"), sm::hex_text("TMNSIGN.TMS"));

    // smime.p7s covers the raw bytes of the parts in order.
    std::string data = parts[0].content + parts[1].content + parts[2].content + parts[3].content;
    std::string out;
    EXPECT_EQ(openssl({"cms", "-verify", "-binary", "-inform", "DER", "-in", file("smime.p7s", signature), "-content",
                       file("data", data), "-CAfile", trusted(), "-certfile",
                       chain(), "-purpose", "any", "-out", "/dev/null"},
                      &out, &err),
              0)
        << err;
    // The message hash is the GOST R 34.11-94 hash of the same bytes.
    std::string dgst;
    ASSERT_EQ(openssl({"dgst", "-md_gost94", "-r", file("data2", data)}, &dgst, &err), 0) << err;
    std::string hash_hex = sm::hex_text(*sm::hex_bytes(dgst.substr(0, 64)));
    std::string expected;
    for (size_t i = 0; i < hash_hex.size(); i += 2) expected += (i ? " " : "") + hash_hex.substr(i, 2);
    EXPECT_EQ(header_value(outer[1].headers, "X-Message-Hash"), expected);

    // Every record of the signature file verifies against its attachment.
    auto records = sm::read_sign_file(parts[3].content);
    ASSERT_EQ(records.size(), 2u);
    const std::string contents[] = {report, small};
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(records[i].signer, std::string(MHA_get_owner(s)));
        EXPECT_TRUE(records[i].has_type && records[i].has_address);
        EXPECT_EQ(records[i].address, "operator@tarmin.test");
        EXPECT_EQ(openssl({"cms", "-verify", "-binary", "-inform", "DER", "-in",
                           file("r" + std::to_string(i), records[i].signature), "-content",
                           file("c" + std::to_string(i), contents[i]), "-CAfile", trusted(),
                           "-certfile", chain(), "-purpose", "any", "-out", "/dev/null"},
                          &out, &err),
                  0)
            << i << ": " << err;
    }
    EXPECT_EQ(records[0].name, "отчёт.bin"_w);
}

} // namespace

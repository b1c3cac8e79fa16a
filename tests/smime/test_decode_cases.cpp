// The decoder's switches and edge cases: the host's flags (signature files
// skipped, the inner message handed back, the result kept on disk), lengths
// one or two bytes long, header information without decoding, TNEF, and the
// mode without cryptography.
#include "decode_test_support.h"

#include "common/codepage.h"
#include "smime/mime_text.h"

using namespace tarmin::test;
using namespace tarmin::test::smime;
using namespace tarmin::cp::literals;

namespace {

class DecodeCases : public ::testing::Test {
protected:
    static void SetUpTestSuite() { suite_pki(); }
    std::string message(MhaContext *ctx, uint32_t flags, const std::string &subject_text = "Итоги") {
        int32_t rc = 0;
        std::string m = encode(ctx, flags,
                               objects(start(), address(MHA_OBJ_FROM, "SMTP", "", "operator@tarmin.test"),
                                       address(MHA_OBJ_TO, "SMTP", "", "alice@tarmin.test"), subject(subject_text),
                                       attachment("a.txt", "alpha"), end()),
                               &rc);
        EXPECT_EQ(rc, 0) << reports_text(take_reports());
        return m;
    }
};

TEST_F(DecodeCases, HostFlagsSkipSignatureFilesReturnTheInnerMessageAndKeepTheResult) {
    Session s;
    std::string m = message(s, MHA_SIGN | MHA_ENCRYPT, "Итоги: дня?"_w);
    Decoded plain = decode(s, m);
    ASSERT_EQ(plain.rc, 0);
    EXPECT_NE(std::find_if(plain.objects.begin(), plain.objects.end(),
                           [](const std::string &o) { return o.rfind("attachment TMNSIGN.TMS", 0) == 0; }),
              plain.objects.end());
    MHA_result_free(s, plain.result);
    Decoded skipped = decode(s, m, MHD_SKIP_SIGN_FILES);
    ASSERT_EQ(skipped.rc, 0);
    EXPECT_EQ(skipped.objects.size() + 1, plain.objects.size());
    MHA_result_free(s, skipped.result);

    // The decrypted message for the host, with 0x20 only.
    MhaSmime in{};
    in.Data = reinterpret_cast<unsigned char *>(m.data());
    in.Length = static_cast<uint32_t>(m.size());
    uint32_t flags = MHD_RETURN_INNER;
    MhaResult *result = nullptr;
    MhaSmime *inner = nullptr;
    ASSERT_EQ(MHA_decode_init(s, &in, &flags, &result, &inner), 0);
    ASSERT_NE(inner, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(inner->Data), 46), "MIME-Version: 1.0\r\nContent-Type: multipart/sig");
    EXPECT_EQ(std::string(reinterpret_cast<char *>(in.Hash), in.HashLength).size(), 95u); // 32 bytes as "XX XX ..."
    MHA_smime_free(s, inner);
    MHA_result_free(s, result);
    MHA_decode_final(s);

    // The result detail kept under the subject, a second one beside it.
    const auto results = make_temp_dir("results");
    set_dword("InputMessageFlags", 0x10);
    set_text("SaveProcessedPath", results.string() + "\\");
    for (int i = 0; i < 2; ++i) {
        Decoded d = decode(s, m, MHD_KEEP_RESULT);
        EXPECT_EQ(d.rc, 0);
        MHA_result_free(s, d.result);
    }
    set_dword("InputMessageFlags", 0);
    EXPECT_EQ(names_in(results), (std::vector<std::string>{"Итоги_ дня_.tmd", "Итоги_ дня_~1.tmd"}));
    EXPECT_NE(tarmin::cp::cp1251_to_utf8(read_file(results / "Итоги_ дня_.tmd")).find("Статус проверки подписи сообщения: УСПЕШНО"),
              std::string::npos);
}

TEST_F(DecodeCases, LengthsMayRunOverByOneOrTwoBytes) {
    Session s;
    const std::string m = message(s, MHA_SIGN);
    // "alpha" is 5 bytes: announced 3 or 4 still decodes (cut), 2 does not.
    for (const auto &[announced, accepted] : {std::pair{"4", true}, {"3", true}, {"2", false}}) {
        std::string altered = m;
        size_t at = altered.find("X-Attachment-Length: 5\r\n");
        ASSERT_NE(at, std::string::npos);
        altered.replace(at, 24, std::string("X-Attachment-Length: ") + announced + "\r\n");
        Decoded d = decode(s, altered, MHD_NO_MESSAGE_CHECK | MHD_NO_ATTACH_CHECK);
        EXPECT_EQ(d.rc == 0, accepted) << announced;
        MHA_result_free(s, d.result);
    }
    // An envelope announced as empty is a format error naming the header.
    std::string e = message(s, MHA_ENCRYPT);
    size_t at = e.find("X-Crypt-Length: ");
    e.replace(at, e.find("\r\n", at) - at, "X-Crypt-Length: 0");
    take_reports();
    Decoded d = decode(s, e);
    EXPECT_EQ(static_cast<uint32_t>(d.rc), 0xE0030011u);
    auto reports = take_reports();
    EXPECT_TRUE(has_code(reports, 0xE0030011));
    EXPECT_NE(reports_text(reports).find("X-Crypt-Length"), std::string::npos);
}

TEST_F(DecodeCases, InformationWithoutDecodingAndFromTnef) {
    Session s;
    const std::string m = message(s, MHA_SIGN | MHA_ENCRYPT | MHA_CONFIRM);
    MhaSmime in{};
    in.Data = reinterpret_cast<unsigned char *>(const_cast<char *>(m.data()));
    in.Length = static_cast<uint32_t>(m.size());
    uint32_t flags = 0;
    ASSERT_EQ(MHA_smime_info(s, &in, &flags), 0);
    EXPECT_EQ(flags, 0x1u | 0x2u | 0x8u);
    // A TNEF blob: some bytes, the length (little-endian), the message.
    std::string tnef = "\x78\x9f\x3e\x22junk";
    uint32_t n = static_cast<uint32_t>(m.size());
    for (int i = 0; i < 4; ++i) tnef += static_cast<char>(n >> (8 * i));
    tnef += m + "trailer";
    CapiBlob blob{reinterpret_cast<unsigned char *>(tnef.data()), static_cast<uint32_t>(tnef.size())};
    MhaSmime found{};
    flags = 0;
    EXPECT_EQ(MHA_get_smime_from_tnef(s, &blob, &found, &flags), 0);
    EXPECT_EQ(flags, 0xBu);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(found.Data), found.Length), m);
    // A length that runs past the blob finds nothing.
    tnef[8] = static_cast<char>(0xFF), tnef[9] = static_cast<char>(0xFF), tnef[10] = static_cast<char>(0xFF);
    blob.pbData = reinterpret_cast<unsigned char *>(tnef.data());
    flags = 0;
    EXPECT_EQ(MHA_get_smime_from_tnef(s, &blob, &found, &flags), 0);
    EXPECT_EQ(flags, 0u);
    take_reports();
}

TEST_F(DecodeCases, WithoutCryptographySignedMessagesParseAndEncryptedOnesAreRefused) {
    Session s;
    const std::string signed_message = message(s, MHA_SIGN);
    const std::string encrypted = message(s, MHA_SIGN | MHA_ENCRYPT);
    // A session whose crypto start fails (no own certificate chosen), and a
    // user who answers Yes to going on without it.
    // Without a display the certificate prompt answers at once, as cancelled.
    forget_my();
    const std::string platform = std::getenv("QT_QPA_PLATFORM") ? std::getenv("QT_QPA_PLATFORM") : "";
    unsetenv("QT_QPA_PLATFORM");
    QZ_SetMessageBoxPresenter([](QZ_HWND, const char *, const char *, QZ_DWORD, void *) { return QZ_IDYES; }, nullptr);
    Session degraded(false);
    MHA_CONTEXT_HEAD(degraded.ctx)->AskToContinue = 1;
    EXPECT_EQ(MHA_vcert_init(degraded), 0);
    QZ_SetMessageBoxPresenter(nullptr, nullptr);
    if (!platform.empty()) setenv("QT_QPA_PLATFORM", platform.c_str(), 1);
    set_my(suite_pki(), "operator");
    ASSERT_EQ(MHA_NotUseSkzi(degraded), 1);
    take_reports();

    Decoded d = decode(degraded, signed_message);
    EXPECT_EQ(d.rc, 0);
    EXPECT_EQ(d.result, nullptr); // nothing was checked, so nothing is said about it
    EXPECT_EQ(d.objects.size(), 7u); // start, from, to, subject, a.txt, TMNSIGN.TMS, end
    d = decode(degraded, encrypted);
    EXPECT_EQ(d.rc, -1);
    EXPECT_TRUE(d.objects.empty());
    EXPECT_TRUE(has_code(take_reports(), 0xE0030027));
    MhaObject *o = nullptr;
    EXPECT_EQ(MHA_decode_extract_tmnfile(degraded, &o), -1);
}

} // namespace

// The signature file that the monitor writes into its gateway jobs is the
// one the S/MIME library reads: a job made by the monitor's job writer goes,
// as a gateway host would send it, into a message with its "TMNSIGN.TMS"
// as an attachment; the decoder verifies every record and hands each
// attachment out as a signed file.
#include "decode_test_support.h"

#include "common/codepage.h"
#include "monitor/jobs/GatewayJob.h"
#include "smime/signfile.h"

using namespace tarmin::test;
using namespace tarmin::test::smime;
using namespace tarmin::cp::literals;

namespace {

TEST(JobSignatureFile, MonitorJobSignaturesVerifyAndComeOutAsSignedFiles) {
    suite_pki();
    // The monitor's side: a signed message job with two attachments.
    CapiContext *capi = nullptr;
    ASSERT_EQ(CCA_create_context(&capi), 0);
    ASSERT_EQ(CCA_init(capi), 0) << CCA_get_debug_error(capi);
    PCCERT_CONTEXT cert = nullptr;
    SignerSerial *serial = nullptr;
    ASSERT_EQ(CCA_get_my_cert(capi, &cert, &serial), 0);
    char *name = nullptr;
    ASSERT_EQ(CCA_get_name_cert(capi, cert, &name), 0);
    const auto out = make_temp_dir("gateway-out"), src = make_temp_dir("src");
    ASSERT_EQ(QZ_SetKeyString(QZ_GetProductKeyName(), "GWMonOutputDirectory", out.c_str(), 0), 0);
    const std::string first = sample_text(3000), second = "second attachment\r\n";
    write_file(src / "first.bin", first);
    write_file(src / "second.txt", second);
    tarmin::monitor::GatewayJob job;
    job.subject = "Job";
    job.from = "operator@tarmin.test";
    job.recipients = {"Alice (alice@tarmin.test)"};
    job.attachments = {(src / "first.bin").string(), (src / "second.txt").string()};
    job.signAtWorkstation = true;
    job.context = capi;
    job.ownCert = cert;
    job.signerName = name;
    ASSERT_EQ(tarmin::monitor::WriteGatewayJob(job), tarmin::monitor::kJobWritten);
    CCA_free(capi, name);
    CCA_serial_free(capi, serial);
    CCA_cert_free(capi, cert);
    CCA_final(capi);
    CCA_close_context(capi);
    auto jobs = names_in(out);
    ASSERT_EQ(jobs.size(), 1u);
    const std::string tms = read_file(out / jobs[0] / "TMNSIGN.TMS");
    EXPECT_EQ(tarmin::smime::read_sign_file(tms).size(), 2u);

    // The gateway's side: the job as a signed message, the signature file
    // passed on as an attachment of its own.
    Session s;
    int32_t rc = 0;
    std::string message = encode(s, MHA_SIGN | MHA_NO_ATTACH_SIGN,
                                 objects(start(), address(MHA_OBJ_FROM, "SMTP", "", "operator@tarmin.test"),
                                         attachment("first.bin", first), attachment("second.txt", second),
                                         attachment("TMNSIGN.TMS", tms), end()),
                                 &rc);
    ASSERT_EQ(rc, 0) << reports_text(take_reports());
    MhaSmime in{};
    in.Data = reinterpret_cast<unsigned char *>(message.data());
    in.Length = static_cast<uint32_t>(message.size());
    uint32_t flags = 0;
    MhaResult *result = nullptr;
    ASSERT_EQ(MHA_decode_init(s, &in, &flags, &result, nullptr), 0) << reports_text(take_reports());
    const std::string detail = tarmin::cp::cp1251_to_utf8(result->ResultDetail);
    size_t verified = 0;
    for (size_t p = detail.find("Статус проверки подписи вложения: УСПЕШНО"); p != std::string::npos;
         p = detail.find("Статус проверки подписи вложения: УСПЕШНО", p + 1))
        ++verified;
    EXPECT_EQ(verified, 2u) << detail;
    MHA_result_free(s, result);

    std::vector<std::string> signed_files;
    for (MhaObject *o = nullptr; MHA_decode_extract_tmnfile(s, &o) == 0 && o;) {
        if (o->Type == MHA_OBJ_ATTACHMENT) signed_files.emplace_back(reinterpret_cast<char *>(o->AttachData), o->AttachLength);
        MHA_object_free(s, o);
    }
    MHA_decode_final(s);
    ASSERT_EQ(signed_files.size(), 2u); // the signature file itself is not handed out
    const std::string expected_head = "Length-File:" + std::to_string(first.size()) + "\r\nFile-Data:\r\n" + first +
                                       "Name-Signer:" + job.signerName +
                                       "\r\nSigner-Type-Address:Empty\r\nSigner-Address:Empty\r\nLength-Sign:";
    EXPECT_EQ(signed_files[0].substr(0, expected_head.size()), expected_head);
    EXPECT_EQ(signed_files[1].rfind("Length-File:19\r\nFile-Data:\r\nsecond attachment\r\nName-Signer:", 0), 0u);
}

} // namespace

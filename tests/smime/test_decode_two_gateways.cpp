// Real mail has two ends: the operator's gateway encodes for alice, and
// alice's gateway (another TARMIN_HOME, alice's own certificate and key, the
// operator's certificate only as carried in the signature) decodes it.
#include "decode_test_support.h"

#include "common/codepage.h"

using namespace tarmin::test;
using namespace tarmin::test::smime;
using namespace tarmin::cp::literals;

namespace {

// Runs a program with TARMIN_HOME set to home.
int run_in(const std::filesystem::path &home, std::vector<std::string> argv, std::string *out = nullptr) {
    std::string err;
    const std::string saved = std::getenv("TARMIN_HOME") ? std::getenv("TARMIN_HOME") : "";
    setenv("TARMIN_HOME", home.c_str(), 1);
    int rc = run(argv, out, &err);
    setenv("TARMIN_HOME", saved.c_str(), 1);
    EXPECT_EQ(rc, 0) << argv[0] << " " << argv[1] << ": " << err;
    return rc;
}

TEST(DecodeTwoGateways, PartnerGatewayReadsWhatTheOperatorSent) {
    const Pki &pki = suite_pki();
    // The partner's home: alice's certificate and key as its own, the test
    // authorities as trusted.
    const auto partner = make_temp_dir("partner");
    std::filesystem::permissions(partner, std::filesystem::perms::owner_all, std::filesystem::perm_options::replace);
    const std::string tmncert = built_program("tmncert").string();
    run_in(partner, {tmncert, "import", "--store", "Root", (pki.dir / "root.cer").string()});
    run_in(partner, {tmncert, "import", "--store", "CA", (pki.dir / "ca.cer").string()});
    run_in(partner, {tmncert, "import", "--store", "MY", "--key", pki.key("alice").string(), pki.pem("alice").string()});
    run_in(partner, {tmncert, "setmy", pki.thumb.at("alice")});
    const std::string tmnreg = built_program("tmnreg").string(), key = "Software\\KELVORIA\\tarmin-operator";
    run_in(partner, {tmnreg, "set", key, "CertificateFlags", "dword", "0"});
    run_in(partner, {tmnreg, "set", key, "Path", "string", partner.string()});

    // The operator signs with the certificate carried, and encrypts for alice.
    set_dword("CertificateFlags", 1);
    Session s;
    int32_t rc = 0;
    std::string message = encode(s, MHA_SIGN | MHA_ENCRYPT,
                                 objects(start(), address(MHA_OBJ_FROM, "SMTP", "", "operator@tarmin.test"),
                                         address(MHA_OBJ_TO, "SMTP", "Alice", "alice@tarmin.test"),
                                         subject("Для партнёра"_w), attachment("отчёт.txt"_w, "report body"), end()),
                                 &rc);
    set_dword("CertificateFlags", 0);
    ASSERT_EQ(rc, 0) << reports_text(take_reports());
    const auto file = make_temp_dir("mail") / "message.eml";
    write_file(file, message);

    std::string out;
    run_in(partner, {built_program("smime_decode_probe").string(), file.string()}, &out);
    EXPECT_NE(out.find("rc 0\n"), std::string::npos) << out;
    EXPECT_NE(out.find("decrypt 0\nsign 0\n"), std::string::npos) << out;
    EXPECT_NE(out.find("signer CN=Оператор шлюза"), std::string::npos) << out;
    EXPECT_NE(out.find("object 5 отчёт.txt report body\n"), std::string::npos) << out;
    EXPECT_NE(out.find("object 11 Для партнёра\n"), std::string::npos) << out;

    // A message for bob does not open at alice's gateway.
    Session s2;
    std::string for_bob = encode(s2, MHA_SIGN | MHA_ENCRYPT,
                                 objects(start(), address(MHA_OBJ_TO, "SMTP", "", "bob@tarmin.test"),
                                         attachment("x", "y"), end()),
                                 &rc);
    ASSERT_EQ(rc, 0);
    write_file(file, for_bob);
    run_in(partner, {built_program("smime_decode_probe").string(), file.string()}, &out);
    EXPECT_EQ(out.find("rc 0\n"), std::string::npos) << out;
    EXPECT_EQ(out.find("object"), std::string::npos) << out;
}

} // namespace

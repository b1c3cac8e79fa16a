// Every export of qzms called with absent arguments: a null context, null
// inputs, null outputs. Nothing crashes, failures return -1 (release
// functions 0), and every output that was given is left empty, as the
// library's contract says ("output parameters are set to empty at entry").
#include "capi_test_support.h"

#include <cstring>

using namespace tarmin::test;

namespace {

// Values that no call would leave behind, to see what a call emptied.
PCCERT_CONTEXT junk_cert() { return reinterpret_cast<PCCERT_CONTEXT>(0x1234); }
SignerSerial *junk_serial() { return reinterpret_cast<SignerSerial *>(0x1234); }
HCRYPTKEY junk_key() { return reinterpret_cast<HCRYPTKEY>(0x1234); }
CapiBlob junk_blob() { return CapiBlob{reinterpret_cast<unsigned char *>(0x1234), 77}; }
bool empty(const CapiBlob &b) { return b.pbData == nullptr && b.cbData == 0; }

class NullArguments : public ::testing::Test {
protected:
    std::string bytes_ = "some bytes";
    CapiBlob data_ = blob_of(bytes_);
};

TEST_F(NullArguments, NullContextFailsAndEmptiesEveryOutput) {
    CapiContext *none = nullptr;
    EXPECT_EQ(CCA_set_flag(none, 1), -1);
    CCA_set_email_to_context(none, &data_);
    EXPECT_EQ(CCA_init(none), -1);

    PCCERT_CONTEXT cert = junk_cert();
    SignerSerial *serial = junk_serial();
    EXPECT_EQ(CCA_get_my_cert(none, &cert, &serial), -1);
    EXPECT_EQ(cert, nullptr);
    EXPECT_EQ(serial, nullptr);

    CapiBlob out = junk_blob();
    EXPECT_EQ(CCA_sign_mem_sep(none, &data_, nullptr, &out), -1);
    EXPECT_TRUE(empty(out));
    CheckResult result{0, junk_cert(), 99};
    EXPECT_EQ(CCA_check_mem_sep(none, &data_, &data_, nullptr, &result), -1);
    EXPECT_EQ(result.Status, 4);
    EXPECT_EQ(result.SignerCert, nullptr);
    EXPECT_EQ(result.SignTime, 0);
    result = CheckResult{0, junk_cert(), 99};
    out = junk_blob();
    EXPECT_EQ(CCA_check_mem_attach(none, &data_, &out, nullptr, &result), -1);
    EXPECT_TRUE(empty(out));
    EXPECT_EQ(result.Status, 4);
    EXPECT_EQ(result.SignerCert, nullptr);

    int64_t when = 99;
    serial = junk_serial();
    EXPECT_EQ(CCA_sender_signed_data(none, &data_, &serial, &when), -1);
    EXPECT_EQ(serial, nullptr);
    EXPECT_EQ(when, 0);
    serial = junk_serial();
    when = 99;
    EXPECT_EQ(CCA_sender_signed_data_attach(none, &data_, &serial, &when), -1);
    EXPECT_EQ(serial, nullptr);
    EXPECT_EQ(when, 0);
    out = junk_blob();
    EXPECT_EQ(CCA_hash_mem(none, &data_, &out), -1);
    EXPECT_TRUE(empty(out));
    unsigned char random[8];
    EXPECT_EQ(CCA_get_random(none, sizeof random, random), -1);

    cert = junk_cert();
    EXPECT_EQ(CCA_find_cert_by_serial(none, 0, nullptr, &cert), -1);
    EXPECT_EQ(cert, nullptr);
    PCCERT_CONTEXT certs[CCA_MAX_CERTS];
    uint32_t count = 5;
    EXPECT_EQ(CCA_find_cert_by_address(none, 0, CCA_ADDRESS_SMTP, "a@b.c", certs, &count), -1);
    EXPECT_EQ(count, 0u);
    int32_t flag = 5;
    EXPECT_EQ(CCA_is_address_in_cert(none, "a@b.c", nullptr, &flag), -1);
    EXPECT_EQ(flag, 0);
    char *name = reinterpret_cast<char *>(0x1234);
    EXPECT_EQ(CCA_get_name_cert(none, nullptr, &name), -1);
    EXPECT_EQ(name, nullptr);
    name = reinterpret_cast<char *>(0x1234);
    EXPECT_EQ(CCA_get_auten_name(none, nullptr, &name, &flag), -1);
    EXPECT_EQ(name, nullptr);
    unsigned char *der = reinterpret_cast<unsigned char *>(0x1234);
    uint32_t length = 5;
    EXPECT_EQ(CCA_get_cert(none, nullptr, &der, &length), -1);
    EXPECT_EQ(der, nullptr);
    EXPECT_EQ(length, 0u);
    cert = junk_cert();
    EXPECT_EQ(CCA_put_cert(none, data_.pbData, data_.cbData, &cert), -1);
    EXPECT_EQ(cert, nullptr);
    EXPECT_EQ(CCA_update_crl(none), -1);
    EXPECT_EQ(CCA_view_cert(none, nullptr), -1);
    EXPECT_EQ(CCA_show_cert(none, data_.pbData, data_.cbData), -1);
    EXPECT_EQ(CCA_show_crl(none, data_.pbData, data_.cbData), -1);
    EXPECT_EQ(CCA_struct_cert(none), -1);

    out = junk_blob();
    EXPECT_EQ(CCA_encrypt_mem(none, &data_, nullptr, nullptr, 0, &out), -1);
    EXPECT_TRUE(empty(out));
    out = junk_blob();
    EXPECT_EQ(CCA_decrypt_mem(none, &data_, nullptr, nullptr, &out), -1);
    EXPECT_TRUE(empty(out));
    EXPECT_EQ(CCA_is_recipient_encrypted_data(none, &data_, nullptr), -1);
    // Enveloped data names no sender: always 0 with an empty result.
    serial = junk_serial();
    EXPECT_EQ(CCA_sender_encrypted_data(none, &data_, &serial), 0);
    EXPECT_EQ(serial, nullptr);
    out = junk_blob();
    EXPECT_EQ(CCA_encrypt_file(none, &data_, nullptr, &out), -1);
    EXPECT_TRUE(empty(out));
    out = junk_blob();
    EXPECT_EQ(CCA_decrypt_file(none, &data_, nullptr, &out), -1);
    EXPECT_TRUE(empty(out));

    HCRYPTKEY key = junk_key();
    EXPECT_EQ(CCA_create_session(none, &key), -1);
    EXPECT_EQ(key, nullptr);
    der = reinterpret_cast<unsigned char *>(0x1234);
    length = 5;
    EXPECT_EQ(CCA_get_session(none, nullptr, &der, &length), -1);
    EXPECT_EQ(der, nullptr);
    EXPECT_EQ(length, 0u);
    key = junk_key();
    EXPECT_EQ(CCA_put_session(none, data_.pbData, data_.cbData, &key), -1);
    EXPECT_EQ(key, nullptr);
    key = junk_key();
    EXPECT_EQ(CCA_xor_session(none, nullptr, nullptr, &key), -1);
    EXPECT_EQ(key, nullptr);
    out = junk_blob();
    EXPECT_EQ(CCA_encrypt_session(none, &data_, nullptr, nullptr, &out), -1);
    EXPECT_TRUE(empty(out));
    out = junk_blob();
    EXPECT_EQ(CCA_decrypt_session(none, &data_, nullptr, nullptr, &out), -1);
    EXPECT_TRUE(empty(out));
    key = junk_key();
    EXPECT_EQ(CCA_file_session(none, &key), -1);
    EXPECT_EQ(key, nullptr);

    EXPECT_EQ(CCA_get_code_error(none), -1);
    EXPECT_STREQ(CCA_get_text_error(none), "");
    EXPECT_STREQ(CCA_get_debug_error(none), "");
}

TEST_F(NullArguments, ReleaseFunctionsTakeNulls) {
    Ctx ctx;
    EXPECT_EQ(CCA_free(nullptr, nullptr), 0);
    EXPECT_EQ(CCA_free(ctx, nullptr), 0);
    EXPECT_EQ(CCA_cert_free(nullptr, nullptr), 0);
    EXPECT_EQ(CCA_serial_free(nullptr, nullptr), 0);
    EXPECT_EQ(CCA_session_free(ctx, nullptr), 0);
    EXPECT_EQ(CCA_final(nullptr), 0);
    EXPECT_EQ(CCA_close_context(nullptr), 0);
    EXPECT_EQ(CCA_init_vcert_for_load_key_only(nullptr), 0);
    EXPECT_EQ(CCA_final_vcert_for_load_key_only(nullptr), 0);
    EXPECT_EQ(CCA_ctrl_session(nullptr), 0);
}

TEST_F(NullArguments, NullInputsAndOutputsOfALiveContextFail) {
    Ctx ctx;
    CCA_set_flag(ctx, CCA_FLAG_VERIFY_ONLY);
    ASSERT_EQ(CCA_init(ctx), 0);

    // Null inputs with outputs given.
    CapiBlob out = junk_blob();
    EXPECT_EQ(CCA_hash_mem(ctx, nullptr, &out), -1);
    EXPECT_TRUE(empty(out));
    out = junk_blob();
    EXPECT_EQ(CCA_sign_mem_sep(ctx, nullptr, nullptr, &out), -1);
    EXPECT_TRUE(empty(out));
    CheckResult result{0, junk_cert(), 99};
    EXPECT_EQ(CCA_check_mem_sep(ctx, nullptr, nullptr, nullptr, &result), -1);
    EXPECT_EQ(result.Status, 4);
    EXPECT_EQ(result.SignerCert, nullptr);
    result = CheckResult{0, junk_cert(), 99};
    out = junk_blob();
    EXPECT_EQ(CCA_check_mem_attach(ctx, nullptr, &out, nullptr, &result), -1);
    EXPECT_TRUE(empty(out));
    EXPECT_EQ(result.SignerCert, nullptr);
    SignerSerial *serial = junk_serial();
    int64_t when = 99;
    EXPECT_EQ(CCA_sender_signed_data(ctx, nullptr, &serial, &when), -1);
    EXPECT_EQ(serial, nullptr);
    EXPECT_EQ(CCA_get_random(ctx, 16, nullptr), -1);
    PCCERT_CONTEXT certs[CCA_MAX_CERTS];
    uint32_t count = 5;
    EXPECT_EQ(CCA_find_cert_by_address(ctx, 0, CCA_ADDRESS_SMTP, nullptr, certs, &count), -1);
    EXPECT_EQ(count, 0u);
    out = junk_blob();
    EXPECT_EQ(CCA_encrypt_mem(ctx, nullptr, nullptr, nullptr, 0, &out), -1);
    EXPECT_TRUE(empty(out));
    out = junk_blob();
    EXPECT_EQ(CCA_decrypt_mem(ctx, nullptr, nullptr, nullptr, &out), -1);
    EXPECT_TRUE(empty(out));
    EXPECT_EQ(CCA_is_recipient_encrypted_data(ctx, nullptr, nullptr), -1);
    out = junk_blob();
    EXPECT_EQ(CCA_decrypt_file(ctx, nullptr, nullptr, &out), -1);
    EXPECT_TRUE(empty(out));
    out = junk_blob();
    EXPECT_EQ(CCA_decrypt_session(ctx, nullptr, nullptr, nullptr, &out), -1);
    EXPECT_TRUE(empty(out));
    HCRYPTKEY key = junk_key();
    EXPECT_EQ(CCA_put_session(ctx, nullptr, 0, &key), -1);
    EXPECT_EQ(key, nullptr);
    key = junk_key();
    EXPECT_EQ(CCA_xor_session(ctx, nullptr, nullptr, &key), -1);
    EXPECT_EQ(key, nullptr);

    // Null outputs: refused, nothing written anywhere.
    EXPECT_EQ(CCA_hash_mem(ctx, &data_, nullptr), -1);
    EXPECT_EQ(CCA_sign_mem_sep(ctx, &data_, nullptr, nullptr), -1);
    EXPECT_EQ(CCA_check_mem_sep(ctx, &data_, &data_, nullptr, nullptr), -1);
    EXPECT_EQ(CCA_check_mem_attach(ctx, &data_, nullptr, nullptr, nullptr), -1);
    EXPECT_EQ(CCA_sender_signed_data(ctx, &data_, nullptr, nullptr), -1);
    EXPECT_EQ(CCA_sender_signed_data_attach(ctx, &data_, nullptr, nullptr), -1);
    EXPECT_EQ(CCA_get_my_cert(ctx, nullptr, nullptr), -1);
    EXPECT_EQ(CCA_find_cert_by_serial(ctx, 0, nullptr, nullptr), -1);
    EXPECT_EQ(CCA_find_cert_by_address(ctx, 0, CCA_ADDRESS_SMTP, "a@b.c", nullptr, nullptr), -1);
    EXPECT_EQ(CCA_get_name_cert(ctx, nullptr, nullptr), -1);
    EXPECT_EQ(CCA_get_auten_name(ctx, nullptr, nullptr, nullptr), -1);
    EXPECT_EQ(CCA_get_cert(ctx, nullptr, nullptr, nullptr), -1);
    EXPECT_EQ(CCA_put_cert(ctx, data_.pbData, data_.cbData, nullptr), -1);
    EXPECT_EQ(CCA_encrypt_mem(ctx, &data_, nullptr, nullptr, 0, nullptr), -1);
    EXPECT_EQ(CCA_decrypt_mem(ctx, &data_, nullptr, nullptr, nullptr), -1);
    EXPECT_EQ(CCA_sender_encrypted_data(ctx, &data_, nullptr), 0);
    EXPECT_EQ(CCA_encrypt_file(ctx, &data_, nullptr, nullptr), -1);
    EXPECT_EQ(CCA_decrypt_file(ctx, &data_, nullptr, nullptr), -1);
    EXPECT_EQ(CCA_create_session(ctx, nullptr), -1);
    EXPECT_EQ(CCA_get_session(ctx, nullptr, nullptr, nullptr), -1);
    EXPECT_EQ(CCA_put_session(ctx, data_.pbData, data_.cbData, nullptr), -1);
    EXPECT_EQ(CCA_xor_session(ctx, nullptr, nullptr, nullptr), -1);
    EXPECT_EQ(CCA_encrypt_session(ctx, &data_, nullptr, nullptr, nullptr), -1);
    EXPECT_EQ(CCA_decrypt_session(ctx, &data_, nullptr, nullptr, nullptr), -1);
    EXPECT_EQ(CCA_file_session(ctx, nullptr), -1);
    int32_t same = 7;
    EXPECT_EQ(CCA_compare_serial(ctx, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(CCA_compare_serial(ctx, nullptr, nullptr, &same), 0);
}

TEST_F(NullArguments, ProtocolWithoutDocumentSignatureOrCertificate) {
    CapiBlob protocol = junk_blob();
    char *text = reinterpret_cast<char *>(0x1234);
    int32_t rc = CCA_test_check_signature(0, nullptr, nullptr, nullptr, &protocol, &text);
    EXPECT_NE(rc, 0);
    ASSERT_NE(text, reinterpret_cast<char *>(0x1234));
    EXPECT_NE(text, nullptr) << "the operator text of the failure is handed out";
    CCA_free(nullptr, text);
    CCA_free(nullptr, protocol.pbData);
    // Without places for the results the call still does not crash.
    EXPECT_NE(CCA_test_check_signature(CCD_CHECK_ONLY, nullptr, nullptr, nullptr, nullptr, nullptr), 0);
}

} // namespace

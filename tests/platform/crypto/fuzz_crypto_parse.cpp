// libFuzzer target: everything the crypto layer reads from outside input —
// certificates, revocation lists, signed and enveloped messages, SIMPLEBLOBs —
// with every accessor a caller may use on what decoded.
//
// The first input byte picks the reader, the rest is its input; a key pair
// and certificate made once at start let the verifying and decrypting paths
// run to the end.
#include "platform/crypto/certificate.h"
#include "platform/crypto/envelope.h"
#include "platform/crypto/message.h"
#include "platform/crypto/provider.h"
#include "platform/crypto/symmetric.h"

#include <openssl/x509v3.h>

#include <cstddef>
#include <cstdint>

using namespace tarmin::crypto;

namespace {

struct Fixture {
    EvpPkeyPtr key;
    CertPtr cert;
    SymmetricKeyPtr kek;
};

// A self-signed GOST certificate of a fresh key.
Fixture make_fixture() {
    Fixture f;
    f.key = generate_key(KeyAlg::Gost2001);
    X509 *x = X509_new();
    X509_set_version(x, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(x), 1);
    X509_NAME *name = X509_get_subject_name(x);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char *>("fuzz"), -1, -1, 0);
    X509_set_issuer_name(x, name);
    X509_gmtime_adj(X509_getm_notBefore(x), 0);
    X509_gmtime_adj(X509_getm_notAfter(x), 86400);
    X509_set_pubkey(x, f.key.get());
    X509_sign(x, f.key.get(), digest_of(HashAlg::Gost94));
    f.cert = Certificate::from_x509(x);
    X509_free(x);
    uint8_t value[kGostKeySize] = {1, 2, 3};
    uint8_t iv[kGostIvSize] = {};
    f.kek = SymmetricKey::from_value(value, iv, true);
    f.kek->set_alg_id(kAlgProExport);
    return f;
}

void read_certificate(const uint8_t *data, size_t size) {
    CertPtr c = Certificate::from_der(data, size);
    if (!c) return;
    c->issuer_der();
    c->subject_der();
    c->serial_le();
    c->serial_hex();
    c->subject_name();
    c->issuer_name();
    c->subject_attribute(kOidCommonName);
    c->subject_attributes(kOidEmailAttribute);
    c->mail_name();
    c->other_names();
    c->key_usage();
    c->is_ca();
    c->not_before();
    c->not_after();
    c->public_key_oid();
    c->signature_oid();
    c->public_key();
}

void read_crl(const uint8_t *data, size_t size, const Fixture &f) {
    CrlPtr crl = Crl::from_der(data, size);
    if (!crl) return;
    crl->issuer_name();
    crl->this_update();
    crl->next_update();
    crl->signature_oid();
    crl->version();
    crl->revoked_serials();
    crl->lists(*f.cert);
}

void read_signed(const uint8_t *data, size_t size, const Fixture &f) {
    auto msg = SignedMessage::decode(data, size);
    if (!msg) return;
    msg->has_content();
    msg->content();
    int signers = msg->signer_count();
    for (int i = 0; i < signers && i < 4; ++i) {
        Bytes issuer, serial;
        msg->signer_id(i, &issuer, &serial);
        msg->digest_oid(i);
        if (auto attrs = msg->signed_attributes(i))
            for (const auto &a : *attrs)
                for (const auto &v : a.values) decode_time_value(v);
        msg->verify_detached(i, *f.cert, data, size);
        msg->verify_attached(i, *f.cert);
    }
    int certs = msg->certificate_count();
    for (int i = 0; i < certs && i < 8; ++i)
        if (auto der = msg->certificate(i)) read_certificate(der->data(), der->size());
}

void read_enveloped(const uint8_t *data, size_t size, const Fixture &f) {
    envelope_recipients(data, size);
    envelope_decrypt(data, size, *f.cert, f.key.get());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const Fixture fixture = make_fixture();
    if (size < 1 || !fixture.cert) return 0;
    const uint8_t *body = data + 1;
    size_t n = size - 1;
    switch (data[0] % 5) {
    case 0: read_certificate(body, n); break;
    case 1: read_crl(body, n, fixture); break;
    case 2: read_signed(body, n, fixture); break;
    case 3: read_enveloped(body, n, fixture); break;
    case 4: SymmetricKey::import_simple_blob(*fixture.kek, body, n, true); break;
    }
    return 0;
}

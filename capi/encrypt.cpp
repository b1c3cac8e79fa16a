// Encryption: enveloped data for recipient certificates, its recipients,
// and file containers protected by a fresh session key wrapped under a key
// of the caller.
#include "capi/session_key.h"
#include "platform/crypto/crypto_error.h"
#include "platform/crypto/envelope.h"

using namespace tarmin;
using namespace tarmin::qzms;

namespace {

// Room that the file container adds to the data, as the interface allocates it.
constexpr uint32_t kFileContainerRoom = 3584;

// The certificate behind a reference; for one that is not a certificate of
// this library the quick check's "no key usage" is recorded.
CertPtr referenced_certificate(CapiContext *ctx, PCCERT_CONTEXT ref) {
    CertPtr cert = cert_of(ref);
    if (!cert) {
        crypto::set_last_error(crypto::kErrInvalidArg);
        record_error(ctx, true, 0x4055, "", "", "CertGetIntendedKeyUsage()", "QZMS_LiteVerifyCert()");
    }
    return cert;
}

// The certificate behind a reference, or, for null, the own certificate
// (0x4059 when the context has none).
CertPtr certificate_for(CapiContext *ctx, PCCERT_CONTEXT ref, const char *caller) {
    if (ref) return referenced_certificate(ctx, ref);
    if (!ctx->MyCert) record_error(ctx, true, 0x4059, "", "", "(!ctx->MyCert)", caller);
    return ctx->MyCert;
}

// The private key of a certificate: the own key, or the one "MY" keeps for it.
crypto::EvpPkeyPtr private_key_for(CapiContext *ctx, const crypto::Certificate &cert, EVP_PKEY **key) {
    *key = nullptr;
    if (ctx->MyCert && ctx->hUserKey && ctx->MyCert->thumbprint() == cert.thumbprint()) {
        *key = ctx->hUserKey;
        return nullptr;
    }
    crypto::StorePtr my = ctx->hMyStore ? ctx->hMyStore : crypto::CertStore::open(crypto::StoreLocation::CurrentUser, "MY");
    crypto::EvpPkeyPtr owned = my ? my->private_key(cert) : nullptr;
    *key = owned.get();
    return owned;
}

int32_t encrypt_mem(CapiContext *ctx, const CapiBlob *data, PCCERT_CONTEXT own, const PCCERT_CONTEXT *recipients,
                    uint32_t count, CapiBlob *out) {
    const char *caller = "CCA_encrypt_mem()";
    const char *step = "CryptEncryptMessage()";
    // Quick checks first, the own certificate, then each recipient in order.
    CertPtr own_cert = certificate_for(ctx, own, caller);
    if (!own_cert || !lite_verify_cert(ctx, *own_cert, 2)) return -1;
    std::vector<CertPtr> keep;
    std::vector<const crypto::Certificate *> certs;
    for (uint32_t i = 0; recipients && i < count; ++i) {
        CertPtr cert = referenced_certificate(ctx, recipients[i]);
        if (!cert || !lite_verify_cert(ctx, *cert, 2)) return -1;
        certs.push_back(cert.get());
        keep.push_back(std::move(cert));
    }
    if (!data || (data->cbData && !data->pbData) || certs.empty()) {
        crypto::set_last_error(crypto::kErrInvalidArg);
        record_error(ctx, true, 0x4028, "", "", step, caller);
        return -1;
    }
    std::optional<Bytes> enveloped = crypto::envelope_encrypt(data->pbData, data->cbData, certs, ctx->EncryptAlgOid);
    if (!enveloped) {
        // What the sizing pass already refuses (arguments, algorithm,
        // recipient keys) is a length failure; the rest fails the encryption.
        uint32_t sys = crypto::last_error();
        bool sizing = sys == crypto::kErrInvalidArg || sys == crypto::kErrBadAlgorithm || sys == crypto::kErrBadKey;
        record_error(ctx, true, sizing ? 0x4028 : 0x4029, "", "", step, caller);
        return -1;
    }
    if (!hand_out(out, enveloped->data(), enveloped->size())) {
        record_error(ctx, false, 0x4009, "", "", "malloc", caller);
        return -1;
    }
    return 0;
}

int32_t decrypt_mem(CapiContext *ctx, const CapiBlob *enveloped, PCCERT_CONTEXT ref, CapiBlob *out) {
    const char *caller = "CCA_decrypt_mem()";
    const char *step = "CryptDecryptMessage()";
    CertPtr cert = certificate_for(ctx, ref, caller);
    if (!cert || !lite_verify_cert(ctx, *cert, 2)) return -1;
    // The decryptor's store: the one certificate whose key may open the message.
    crypto::StorePtr store = crypto::CertStore::open_memory();
    if (!store) {
        record_error(ctx, true, 0x400C, "TMP_MEMORY", "", "CertOpenSystemStore()", caller);
        return -1;
    }
    if (!store->add(cert, crypto::AddDisposition::UseExisting)) {
        record_error(ctx, true, 0x400E, "SenderCert", "TMP_MEMORY", "CertAddCertificateContextToStore()", caller);
        return -1;
    }
    EVP_PKEY *key = nullptr;
    crypto::EvpPkeyPtr owned = private_key_for(ctx, *cert, &key);
    if (!key) crypto::set_last_error(crypto::kErrNoKey);
    std::optional<Bytes> content;
    if (key && enveloped) content = crypto::envelope_decrypt(enveloped->pbData, enveloped->cbData, *cert, key);
    else if (!enveloped) crypto::set_last_error(crypto::kErrInvalidArg);
    if (!content) {
        // A message that does not decode, is not for this certificate or has
        // no key to open it fails the sizing pass; one whose key transport or
        // content does not open fails the decryption.
        record_error(ctx, true, crypto::last_error() == crypto::kErrBadData ? 0x402B : 0x402A, "", "", step, caller);
        return -1;
    }
    // The plaintext is handed out as a copy; this one is wiped.
    bool handed = hand_out(out, content->data(), content->size());
    wipe(*content);
    if (!handed) {
        record_error(ctx, false, 0x4009, "", "", "malloc", caller);
        return -1;
    }
    return 0;
}

int32_t is_recipient(CapiContext *ctx, const CapiBlob *enveloped, const SignerSerial *serial) {
    const char *caller = "CCA_is_recipient_encrypted_data()";
    if (!enveloped || !enveloped->pbData || !enveloped->cbData) {
        crypto::set_last_error(crypto::kErrInvalidArg);
        record_error(ctx, true, 0x401A, "", "", "CryptMsgUpdate()", caller);
        return -1;
    }
    auto ids = crypto::envelope_recipients(enveloped->pbData, enveloped->cbData);
    if (!ids) {
        if (crypto::last_error() == crypto::kErrBadMessage)
            record_error(ctx, true, 0x401C, "CMSG_RECIPIENT_COUNT_PARAM", "EncryptedMessage", "CryptMsgGetParam()",
                         caller);
        else
            record_error(ctx, true, 0x401A, "", "", "CryptMsgUpdate()", caller);
        return -1;
    }
    if (ids->empty()) {
        record_error(ctx, false, 0x4030, "", "", "(!cRecipients)", caller);
        return -1;
    }
    if (serial) {
        Bytes issuer = issuer_bytes(serial), number = serial_bytes(serial);
        for (const auto &id : *ids)
            if (id.issuer_der == issuer && crypto::integers_equal_le(id.serial_le, number)) return 0;
    }
    record_error(ctx, false, 0x4031, "", "", "(!IsRecip)", caller);
    return -1;
}

// Makes the caller's key a key-export key of AlgIdNumber; records the failure.
KeyRef export_key_of(CapiContext *ctx, HCRYPTKEY handle, const char *caller) {
    KeyRef kek = key_of(handle);
    if (!kek) {
        crypto::set_last_error(crypto::kErrBadKey);
        record_error(ctx, true, 0x403E, "KP_ALGID", "", "CryptGetKeyParam()", caller);
        return nullptr;
    }
    if (kek->alg_id() != ctx->AlgIdNumber && !kek->set_alg_id(ctx->AlgIdNumber)) {
        record_error(ctx, true, 0x403B, "KP_ALGID", "", "CryptSetKeyParam()", caller);
        return nullptr;
    }
    return kek;
}

int32_t encrypt_file(CapiContext *ctx, const CapiBlob *data, HCRYPTKEY handle, CapiBlob *out) {
    const char *caller = "CCA_encrypt_file()";
    crypto::SymmetricKeyPtr session = crypto::SymmetricKey::generate(ctx->KeyAlgNumber, true);
    if (!session) {
        record_error(ctx, true, 0x4039, "", "", "CryptGenKey()", caller);
        return -1;
    }
    if (data && data->cbData > UINT32_MAX - kFileContainerRoom) {
        record_error(ctx, false, 0x4009, "", "", "malloc", caller);
        return -1;
    }
    if (!sealable(ctx, data, caller)) return -1;
    std::optional<Bytes> cipher = session->encrypt(data->pbData, data->cbData);
    if (!cipher) {
        record_error(ctx, true, 0x4041, "", "", "CryptEncrypt()", caller);
        return -1;
    }
    KeyRef kek = export_key_of(ctx, handle, caller);
    if (!kek) return -1;
    std::optional<Bytes> wrapped = session->export_simple_blob(*kek);
    if (!wrapped || wrapped->size() > kMaxWrappedKey) {
        if (wrapped) crypto::set_last_error(crypto::kErrBadLength);
        record_error(ctx, true, 0x403C, "", "", "CryptExportKey()", caller);
        return -1;
    }
    std::optional<Bytes> mac = impr_data(ctx, *session, data->pbData, data->cbData);
    if (!mac) return -1;
    Bytes trailer;
    append_field(trailer, wrapped->data(), wrapped->size());
    append_field(trailer, session->iv().data(), session->iv().size());
    append_field(trailer, mac->data(), mac->size());
    if (!hand_out_joined(out, *cipher, trailer)) {
        record_error(ctx, false, 0x4009, "", "", "malloc", caller);
        return -1;
    }
    return 0;
}

int32_t decrypt_file(CapiContext *ctx, const CapiBlob *container, HCRYPTKEY handle, CapiBlob *out) {
    const char *caller = "CCA_decrypt_file()";
    TrailerReader reader(container ? container->pbData : nullptr, container ? container->cbData : 0);
    uint32_t mac_length = 0, iv_length = 0, wrapped_length = 0;
    const uint8_t *mac = reader.take(kMaxMac, &mac_length);
    const uint8_t *iv = mac ? reader.take(kMaxVector, &iv_length) : nullptr;
    const uint8_t *wrapped = iv ? reader.take(kMaxWrappedKey, &wrapped_length) : nullptr;
    // A MAC of no bytes would check nothing.
    if (!wrapped || mac_length == 0 || reader.rest_length() == 0) {
        record_error(ctx, false, 0x4044, "", "", "crypt_struct_error", caller);
        return -1;
    }
    KeyRef kek = export_key_of(ctx, handle, caller);
    if (!kek) return -1;
    crypto::SymmetricKeyPtr session = crypto::SymmetricKey::import_simple_blob(*kek, wrapped, wrapped_length, false);
    if (!session) {
        record_error(ctx, true, 0x403D, "", "", "CryptImportKey()", caller);
        return -1;
    }
    if (!session->set_iv(iv, iv_length)) {
        record_error(ctx, true, 0x403B, "KP_IV", "", "CryptSetKeyParam()", caller);
        return -1;
    }
    return open_sealed(ctx, *session, reader.rest(), reader.rest_length(), mac, mac_length, out, caller);
}

} // namespace

extern "C" {

int32_t CCA_encrypt_mem(CapiContext *ctx, const CapiBlob *data, PCCERT_CONTEXT own, const PCCERT_CONTEXT *recipients,
                        uint32_t count, CapiBlob *enveloped) {
    reset_blob(enveloped);
    if (!ctx || !enveloped) return -1;
    return guarded(ctx, "CCA_encrypt_mem()",
                   [&] { return encrypt_mem(ctx, data, own, recipients, count, enveloped); });
}

int32_t CCA_decrypt_mem(CapiContext *ctx, const CapiBlob *enveloped, PCCERT_CONTEXT cert, PCCERT_CONTEXT,
                        CapiBlob *content) {
    reset_blob(content);
    if (!ctx || !content) return -1;
    return guarded(ctx, "CCA_decrypt_mem()", [&] { return decrypt_mem(ctx, enveloped, cert, content); });
}

int32_t CCA_is_recipient_encrypted_data(CapiContext *ctx, const CapiBlob *enveloped, const SignerSerial *serial) {
    if (!ctx) return -1;
    return guarded(ctx, "CCA_is_recipient_encrypted_data()", [&] { return is_recipient(ctx, enveloped, serial); });
}

int32_t CCA_sender_encrypted_data(CapiContext *, const CapiBlob *, SignerSerial **serial) {
    if (serial) *serial = nullptr;
    return 0;
}

int32_t CCA_encrypt_file(CapiContext *ctx, const CapiBlob *data, HCRYPTKEY key, CapiBlob *container) {
    reset_blob(container);
    if (!ctx || !container) return -1;
    return guarded(ctx, "CCA_encrypt_file()", [&] { return encrypt_file(ctx, data, key, container); });
}

int32_t CCA_decrypt_file(CapiContext *ctx, const CapiBlob *container, HCRYPTKEY key, CapiBlob *data) {
    reset_blob(data);
    if (!ctx || !data) return -1;
    return guarded(ctx, "CCA_decrypt_file()", [&] { return decrypt_file(ctx, container, key, data); });
}

} // extern "C"

// PKCS #7 (CMS) enveloped data with GOST keys: what CryptEncryptMessage,
// CryptDecryptMessage and the recipient parameters of CryptMsgGetParam do for
// a caller of the system's interface.
//
// Content encryption is GOST 28147-89 ("1.2.643.2.2.21", CFB with the
// CryptoPro-A parameter set); the content key reaches each recipient by key
// transport to the recipient's GOST R 34.10-2001 or 34.10-2012 key (the
// engine's VKO agreement and CryptoPro key wrap). Recipients are named by
// issuer and serial number. The messages interoperate with
// `openssl cms -encrypt -gost89` / `-decrypt` and the GOST engine.
//
// Every function that fails sets the thread's last error (crypto_error.h).
#pragma once

#include "platform/crypto/certificate.h"

#include <optional>
#include <string_view>
#include <vector>

#pragma GCC visibility push(default)

namespace tarmin::crypto {

inline constexpr const char *kOidGost28147 = "1.2.643.2.2.21";

// Enveloped data (DER ContentInfo) of data for the recipients, with the
// content-encryption algorithm of that identifier (only "1.2.643.2.2.21":
// kErrBadAlgorithm otherwise). No recipient: kErrInvalidArg. A recipient
// certificate without a GOST key: kErrBadKey (symmetric.h).
std::optional<Bytes> envelope_encrypt(const void *data, size_t length, const std::vector<const Certificate *> &recipients,
                                      std::string_view content_alg_oid = kOidGost28147);

// The content of enveloped data, opened with the private key of the given
// recipient certificate. kErrBadEncoding: not DER; kErrBadMessage: not
// enveloped data; kErrNotFound: the certificate is not a recipient;
// kErrBadData: the key does not open it (wrong key, altered message).
std::optional<Bytes> envelope_decrypt(const void *data, size_t length, const Certificate &recipient, EVP_PKEY *key);

struct RecipientId {
    Bytes issuer_der; // DER of the issuer name
    Bytes serial_le;  // serial number, least significant byte first
};
// The recipients of enveloped data in message order (CMSG_RECIPIENT_COUNT_PARAM,
// CMSG_RECIPIENT_INFO_PARAM); an empty list for a message without recipient
// information. Recipients named by key identifier are left out.
// kErrBadEncoding / kErrBadMessage as envelope_decrypt.
std::optional<std::vector<RecipientId>> envelope_recipients(const void *data, size_t length);

} // namespace tarmin::crypto

#pragma GCC visibility pop

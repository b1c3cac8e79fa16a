// PKCS #7 (CMS) signed messages: making detached and attached signatures and
// reading and checking them.
//
// A signature made here carries, besides the content type and the message
// digest that every signed message has, exactly one more authenticated
// attribute: the signing time. The digest is the caller's choice (GOST
// R 34.11-94 for 2001 keys, 34.11-2012 for 2012 keys).
#pragma once

#include "platform/crypto/certificate.h"

#include <memory>
#include <optional>
#include <vector>

#include <openssl/cms.h>

#pragma GCC visibility push(default)

namespace tarmin::crypto {

inline constexpr const char *kOidSigningTime = "1.2.840.113549.1.9.5";

struct SignParams {
    const Certificate *signer = nullptr;
    EVP_PKEY *key = nullptr;
    HashAlg hash = HashAlg::Streebog256;
    bool include_certificate = false; // put the signer's certificate into the message
    bool detached = true;             // leave the content out
    time_t signing_time = 0;          // 0: now
};

// Signs a block; the DER ContentInfo of the SignedData.
std::optional<Bytes> sign_message(const SignParams &params, const void *data, size_t length);

struct Attribute {
    std::string oid;
    std::vector<Bytes> values; // DER of each value
};

class SignedMessage {
public:
    // Decodes a DER ContentInfo. kErrBadEncoding when it does not decode,
    // kErrBadMessage when it is not signed data.
    static std::unique_ptr<SignedMessage> decode(const void *data, size_t length);
    ~SignedMessage();
    SignedMessage(const SignedMessage &) = delete;
    SignedMessage &operator=(const SignedMessage &) = delete;

    // Whether the message holds its content.
    bool has_content() const;
    std::optional<Bytes> content() const;

    int signer_count() const;
    // Issuer name (DER) and serial (little-endian) of signer i; false with
    // kErrInvalidIndex, or kErrNoSigner when the signer is named by key id.
    bool signer_id(int i, Bytes *issuer_der, Bytes *serial_le) const;
    // Authenticated attributes of signer i, in message order.
    std::optional<std::vector<Attribute>> signed_attributes(int i) const;
    std::string digest_oid(int i) const;

    int certificate_count() const;
    // DER of carried certificate i.
    std::optional<Bytes> certificate(int i) const;
    // DER of every carried certificate, in message order, read in one pass
    // (certificate(i) in a loop reads the whole set each time).
    std::optional<std::vector<Bytes>> certificates() const;

    // Checks signer i of a detached signature against the given certificate
    // over the caller's content: the signature and the digest of that
    // content. A message that carries content of its own is refused
    // (kErrBadMessage) whatever the content given: its signature proves its
    // own content, not the caller's. kErrBadSignature or kErrHashValue when
    // the signature does not hold.
    bool verify_detached(int i, const Certificate &cert, const void *content, size_t length) const;
    // Checks signer i of a message that carries its content, over that
    // content; a detached signature is refused (kErrBadMessage).
    bool verify_attached(int i, const Certificate &cert) const;

private:
    SignedMessage() = default;
    CMS_SignerInfo *signer(int i) const;
    bool verify_over(CMS_SignerInfo *si, const Certificate &cert, BIO *detached_content) const;
    CMS_ContentInfo *cms_ = nullptr;
};

// A DER time value (UTCTime or GeneralizedTime) as a Windows file time
// (100-nanosecond intervals since 1601-01-01 UTC); nullopt (kErrBadEncoding)
// when it does not decode.
std::optional<uint64_t> decode_time_value(const Bytes &der);
// The DER time value of a file time, as the system encodes it: UTCTime for
// the years 1950 to 2049, GeneralizedTime otherwise.
std::optional<Bytes> encode_time_value(uint64_t filetime);

uint64_t time_to_filetime(time_t t);
time_t filetime_to_time(uint64_t ft);

} // namespace tarmin::crypto

#pragma GCC visibility pop

// Making GOST certificates and revocation lists: the certificate authority
// behind tmncert's test PKI.
#pragma once

#include "platform/crypto/certificate.h"
#include "platform/crypto/store.h"

#include <optional>
#include <string>
#include <vector>

namespace tarmin::tmncert {

using crypto::Bytes;
using crypto::CertPtr;
using crypto::CrlPtr;
using crypto::EvpPkeyPtr;
using crypto::KeyAlg;

struct OtherNameSpec {
    std::string oid;
    std::string value; // UTF-8
};

struct CertSpec {
    // "CN=Name, O=Org, C=RU, E=mail" (UTF-8); the first attribute is written
    // last in the name, as the system's reverse string form reads it back.
    std::string subject;
    KeyAlg alg = KeyAlg::Gost2012_256;
    // Issuer; both null for a self-signed certificate.
    const crypto::Certificate *issuer_cert = nullptr;
    EVP_PKEY *issuer_key = nullptr;
    bool ca = false;
    // Key usage bits of the first byte (kKu*); nullopt leaves the extension out.
    std::optional<uint8_t> key_usage;
    std::vector<std::string> emails; // rfc822 names of the subject alternative name
    std::vector<OtherNameSpec> other_names;
    time_t not_before = 0; // 0: now - 1 hour
    time_t not_after = 0;  // 0: not_before + 365 days
    Bytes serial;          // big-endian; empty: 16 random bytes
};

struct Issued {
    CertPtr cert;
    EvpPkeyPtr key;
};

// Parses "CN=a, O=b" (commas inside double quotes kept) into an X.500 name.
// nullptr with an error text for an unknown attribute.
X509_NAME *parse_name(const std::string &text, std::string *error);

// A new key pair and its certificate. nullopt with an error text.
std::optional<Issued> issue(const CertSpec &spec, std::string *error);

struct RevokedEntry {
    Bytes serial_le;
    time_t when = 0;
};
// A revocation list of the issuer naming the entries.
CrlPtr make_crl(const crypto::Certificate &issuer, EVP_PKEY *issuer_key, const std::vector<RevokedEntry> &entries,
                time_t this_update, time_t next_update, std::string *error);

// The signing digest that goes with a key.
crypto::HashAlg hash_for(const EVP_PKEY *key);

// Keys of the test certificate authorities: $TARMIN_HOME/tmncert-ca/<thumbprint>.key (mode 0600).
bool save_ca_key(const crypto::Certificate &cert, EVP_PKEY *key, std::string *error);
EvpPkeyPtr load_ca_key(const crypto::Certificate &cert, std::string *error);

} // namespace tarmin::tmncert

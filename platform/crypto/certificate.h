// Certificates and certificate revocation lists of the GOST provider, with
// the properties the CryptoAPI interface library reads from them.
//
// Objects are immutable and shared (CertPtr / CrlPtr); texts are
// Windows-1251, as the ANSI functions of the system hand them out.
#pragma once

#include "platform/crypto/provider.h"

#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <openssl/x509.h>

#pragma GCC visibility push(default)

namespace tarmin::crypto {

class Certificate;
class Crl;
using CertPtr = std::shared_ptr<const Certificate>;
using CrlPtr = std::shared_ptr<const Crl>;

// Key usage bits of the first byte of the extension.
inline constexpr uint8_t kKuDigitalSignature = 0x80;
inline constexpr uint8_t kKuNonRepudiation = 0x40;
inline constexpr uint8_t kKuKeyEncipherment = 0x20;
inline constexpr uint8_t kKuDataEncipherment = 0x10;
inline constexpr uint8_t kKuKeyAgreement = 0x08;
inline constexpr uint8_t kKuKeyCertSign = 0x04;
inline constexpr uint8_t kKuCrlSign = 0x02;

// Other-name identifiers of the subject alternative name that the suite reads.
inline constexpr const char *kOidOtherNameEx = "1.3.6.1.4.1.3670.4.21";
inline constexpr const char *kOidOtherNameNotes = "1.3.6.1.4.1.3670.4.28";
inline constexpr const char *kOidOtherNameForward = "1.3.6.1.4.1.10244.4.5";
inline constexpr const char *kOidEmailAttribute = "1.2.840.113549.1.9.1";
inline constexpr const char *kOidCommonName = "2.5.4.3";

// One other-name entry of the subject alternative name, its value decoded as
// a name value: BMP and UTF-8 strings converted to Windows-1251, other types
// taken as bytes up to the first zero; at most 4096 characters.
struct OtherName {
    std::string oid;
    std::string value;
    // false when the value is not a string type (a name value does not decode
    // from it); value is empty then.
    bool decoded = true;
};

class Certificate {
public:
    // A certificate from DER bytes, or from PEM text (its first CERTIFICATE
    // block); bytes that are one whole DER sequence are DER, whatever text
    // they hold. Null with the last error kErrBadEncoding when they do not
    // decode.
    static CertPtr from_der(const void *data, size_t length);
    // Takes a new reference to an OpenSSL certificate.
    static CertPtr from_x509(X509 *x509);

    ~Certificate();
    Certificate(const Certificate &) = delete;
    Certificate &operator=(const Certificate &) = delete;

    X509 *x509() const { return x509_; }
    const Bytes &der() const { return der_; }
    // The PEM text ("-----BEGIN CERTIFICATE-----"); empty when memory runs out.
    std::string pem() const;
    // SHA-1 of the DER encoding, upper-case hexadecimal: the file name in a store.
    const std::string &thumbprint() const { return thumbprint_; }

    Bytes issuer_der() const;
    Bytes subject_der() const;
    // The serial number as the system's certificate structure keeps it: the
    // bytes of the DER integer, least significant first.
    Bytes serial_le() const;
    // Most significant byte first, upper case, a blank after every two bytes.
    std::string serial_hex() const;

    // X.500 strings in reverse order ("CN=..., O=..., C=RU").
    std::string subject_name() const;
    std::string issuer_name() const;
    // The first value of a subject attribute ("2.5.4.3" gives the common name).
    std::string subject_attribute(std::string_view oid) const;
    // All values of a subject attribute.
    std::vector<std::string> subject_attributes(std::string_view oid) const;
    // The mail name: the first rfc822 name of the subject alternative name,
    // else the first e-mail attribute of the subject; empty when none.
    std::string mail_name() const;
    std::vector<OtherName> other_names() const;

    // The first byte of the key usage extension; nullopt when there is none.
    std::optional<uint8_t> key_usage() const;
    bool is_ca() const;
    time_t not_before() const;
    time_t not_after() const;
    std::string public_key_oid() const;
    std::string signature_oid() const;
    // The public key (for verification); owned by the certificate.
    EVP_PKEY *public_key() const;

    bool same_issuer_serial(const Bytes &issuer_der, const Bytes &serial_le) const;

private:
    Certificate() = default;
    X509 *x509_ = nullptr;
    Bytes der_;
    std::string thumbprint_;
};

class Crl {
public:
    static CrlPtr from_der(const void *data, size_t length);
    static CrlPtr from_x509_crl(X509_CRL *crl);
    ~Crl();
    Crl(const Crl &) = delete;
    Crl &operator=(const Crl &) = delete;

    X509_CRL *x509_crl() const { return crl_; }
    const Bytes &der() const { return der_; }
    const std::string &thumbprint() const { return thumbprint_; }
    Bytes issuer_der() const;
    std::string issuer_name() const;
    time_t this_update() const;
    // 0 when the list names no next update.
    time_t next_update() const;
    std::string signature_oid() const;
    long version() const;
    // Serial numbers of the revoked certificates, in list order, as text of
    // Certificate::serial_hex.
    std::vector<std::string> revoked_serials() const;
    // Whether the list names the certificate: the same issuer name and its
    // serial number among the revoked ones (the signature is not checked).
    bool lists(const Certificate &cert) const;

private:
    Crl() = default;
    X509_CRL *crl_ = nullptr;
    Bytes der_;
    std::string thumbprint_;
};

// Integers as the system compares them: equal values whatever the number of
// insignificant leading bytes. Little-endian byte order.
bool integers_equal_le(const Bytes &a, const Bytes &b);

// An X.500 name in the system's string form, reverse order, Windows-1251.
std::string x500_name_string(const X509_NAME *name);
// The same from DER bytes of a name (empty when they do not decode).
std::string x500_name_string(const Bytes &name_der);

// Upper-case hexadecimal SHA-1 of bytes.
std::string sha1_hex(const void *data, size_t length);
// Time of an ASN.1 time value (0 for null or invalid).
time_t asn1_time_to_time(const ASN1_TIME *t);
// Serial text of Certificate::serial_hex for a little-endian serial.
std::string serial_hex_of(const Bytes &serial_le);

} // namespace tarmin::crypto

#pragma GCC visibility pop

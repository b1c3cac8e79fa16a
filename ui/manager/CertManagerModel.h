// The certificate manager's work on the user's certificate stores, without a
// window: the certificates of "MY", "AddressBook", "Root" and "CA" with what
// the manager lists of them, the revocation lists, and the actions (import
// of DER, PEM and PKCS #12 files, export, deletion, adding a revocation list,
// choosing the own certificate). It uses the store functions that tmncert
// uses. Texts are Windows-1251.
#pragma once

#include "platform/crypto/certificate.h"
#include "platform/crypto/store.h"

#include <ctime>
#include <functional>
#include <string>
#include <vector>

namespace tarmin::tmnui {

struct CertRow {
    crypto::CertPtr cert;
    std::string thumbprint;
    std::string subject;     // the subject's name string
    std::string commonName;  // else the subject
    std::string email;       // the mail name
    std::string issuer;      // the issuer's common name, else its name string
    std::time_t notBefore = 0;
    std::time_t notAfter = 0;
    bool hasKey = false;
    bool own = false;             // the own certificate the suite signs with
    bool emailProtection = true;  // usable for e-mail protection
};

struct CrlRow {
    crypto::CrlPtr crl;
    std::string issuer;
    std::time_t thisUpdate = 0;
    std::time_t nextUpdate = 0;
    size_t revoked = 0;
};

// What an action did: whether it succeeded, and the lines telling the
// operator what was done or why not. cancelled: the operator withdrew (no
// password given); nothing was changed then.
struct Outcome {
    bool ok = false;
    bool cancelled = false;
    std::vector<std::string> lines;
};

enum class ExportFormat { der, pem, pkcs12 };

class CertManagerModel {
public:
    // Asked for the password of a PKCS #12 file or an encrypted key, only
    // when one is needed; false when the operator cancels.
    using PasswordSource = std::function<bool(std::string &password)>;

    explicit CertManagerModel(crypto::StoreLocation location = crypto::StoreLocation::CurrentUser);

    // "MY", "AddressBook", "Root", "CA", and the title of each for the operator.
    static const std::vector<std::string> &storeNames();
    static std::string storeTitle(const std::string &store);

    // The certificates of a store (only those for e-mail protection when
    // emailOnly: without an extended key usage, or naming e-mail protection
    // or any purpose). A store that does not exist is empty.
    std::vector<CertRow> certificates(const std::string &store, bool emailOnly) const;
    // The revocation lists of "CA".
    std::vector<CrlRow> revocationLists() const;

    // A file's certificates into store: a certificate that comes with its
    // private key goes to "MY" with the key (PKCS #12, or PEM holding the
    // key); the authorities that come with a PKCS #12 file go to "CA", a root
    // among them only named (trusting a root is the operator's own step);
    // revocation lists go to "CA".
    Outcome importFile(const std::string &store, const std::string &bytes, const PasswordSource &askPassword);
    // Writes a certificate to path (replacing a file there); PKCS #12 with its
    // private key, protected by password (not empty), the file readable by
    // its owner only.
    Outcome exportCertificate(const std::string &store, const std::string &thumbprint, ExportFormat format,
                              const std::string &path, const std::string &password) const;
    // Deletes a certificate (in "MY" with its private key).
    Outcome removeCertificate(const std::string &store, const std::string &thumbprint);
    Outcome removeRevocationList(const std::string &thumbprint);
    // A revocation list (DER or PEM) into "CA".
    Outcome addRevocationList(const std::string &bytes);
    // Remembers a certificate of "MY" that has its private key as the own
    // certificate of the product (the settings the CryptoAPI interface
    // library reads: "SKZIpath" values "CertSerialNumber" and "CertIssuer").
    Outcome setOwnCertificate(const std::string &thumbprint);
    // The key path of those settings: under the product key of the common
    // services, or of "tarmin-operator" when they are not initialised.
    static std::string ownCertificateKey();

private:
    crypto::StorePtr open(const std::string &store, bool create) const;
    crypto::StoreLocation location_;
};

} // namespace tarmin::tmnui

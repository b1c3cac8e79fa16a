// Certificates for the crypto layer tests, made in process with tmncert's
// certificate authority (GOST R 34.10-2001 and 2012 keys).
#pragma once

#include "tools/tmncert/issuer.h"

#include <gtest/gtest.h>

#include <ctime>
#include <string>

namespace tarmin::test::crypto {

using tarmin::tmncert::CertSpec;
using tarmin::tmncert::Issued;

inline Issued issue_or_fail(const CertSpec &spec) {
    std::string error;
    auto issued = tarmin::tmncert::issue(spec, &error);
    if (!issued) {
        ADD_FAILURE() << "cannot issue " << spec.subject << ": " << error;
        return {};
    }
    return std::move(*issued);
}

inline Issued make_root(const std::string &cn, tarmin::crypto::KeyAlg alg = tarmin::crypto::KeyAlg::Gost2012_256) {
    CertSpec spec;
    spec.subject = "CN=" + cn + ", O=Tarmin Test, C=RU";
    spec.alg = alg;
    spec.ca = true;
    spec.key_usage = tarmin::crypto::kKuKeyCertSign | tarmin::crypto::kKuCrlSign | tarmin::crypto::kKuDigitalSignature;
    // Authorities are valid from a year back, so that users may be made valid
    // (or expired) at any time of that year.
    spec.not_before = time(nullptr) - 365 * 86400;
    spec.not_after = time(nullptr) + 365 * 86400;
    return issue_or_fail(spec);
}

inline Issued make_ca(const std::string &cn, const Issued &issuer) {
    CertSpec spec;
    spec.subject = "CN=" + cn + ", O=Tarmin Test, C=RU";
    spec.issuer_cert = issuer.cert.get();
    spec.issuer_key = issuer.key.get();
    spec.ca = true;
    spec.key_usage = tarmin::crypto::kKuKeyCertSign | tarmin::crypto::kKuCrlSign | tarmin::crypto::kKuDigitalSignature;
    // Authorities are valid from a year back, so that users may be made valid
    // (or expired) at any time of that year.
    spec.not_before = time(nullptr) - 365 * 86400;
    spec.not_after = time(nullptr) + 365 * 86400;
    return issue_or_fail(spec);
}

// An end-entity certificate for signing and encryption with a mail address.
inline Issued make_user(const std::string &cn, const std::string &mail, const Issued &issuer,
                        tarmin::crypto::KeyAlg alg = tarmin::crypto::KeyAlg::Gost2012_256, time_t not_before = 0,
                        time_t not_after = 0) {
    CertSpec spec;
    spec.subject = "CN=" + cn + ", O=Tarmin Test, C=RU" + (mail.empty() ? "" : ", E=" + mail);
    spec.alg = alg;
    spec.issuer_cert = issuer.cert.get();
    spec.issuer_key = issuer.key.get();
    spec.key_usage = tarmin::crypto::kKuDigitalSignature | tarmin::crypto::kKuKeyEncipherment |
                     tarmin::crypto::kKuKeyAgreement;
    spec.not_before = not_before;
    spec.not_after = not_after;
    return issue_or_fail(spec);
}

} // namespace tarmin::test::crypto

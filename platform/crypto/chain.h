// Chain building and revocation-list search across every store.
//
// The chain of a certificate is built at the current time (or a given one)
// from the intermediates of every "CA" store, up to a certificate of a "Root"
// store, the trusted ones. Its result is told in the chain error-status bits
// of the system (the CERT_TRUST_* values below); revocation is not part of
// chain building: listed_in_any_crl asks every store's revocation lists.
#pragma once

#include "platform/crypto/certificate.h"

#include <optional>

#pragma GCC visibility push(default)

namespace tarmin::crypto {

// Error status bits.
inline constexpr uint32_t kTrustIsNotTimeValid = 0x00000001;
inline constexpr uint32_t kTrustIsNotTimeNested = 0x00000002;
inline constexpr uint32_t kTrustIsRevoked = 0x00000004;
inline constexpr uint32_t kTrustIsNotSignatureValid = 0x00000008;
inline constexpr uint32_t kTrustIsNotValidForUsage = 0x00000010;
inline constexpr uint32_t kTrustIsUntrustedRoot = 0x00000020;
inline constexpr uint32_t kTrustRevocationStatusUnknown = 0x00000040;
inline constexpr uint32_t kTrustIsCyclic = 0x00000080;
inline constexpr uint32_t kTrustInvalidExtension = 0x00000100;
inline constexpr uint32_t kTrustInvalidPolicyConstraints = 0x00000200;
inline constexpr uint32_t kTrustInvalidBasicConstraints = 0x00000400;
inline constexpr uint32_t kTrustInvalidNameConstraints = 0x00000800;
inline constexpr uint32_t kTrustIsPartialChain = 0x00010000;
inline constexpr uint32_t kTrustIsOfflineRevocation = 0x01000000;
// A failure of the verifier that no system bit describes; reads as an
// unknown status.
inline constexpr uint32_t kTrustOtherError = 0x80000000;

// Information status bits.
inline constexpr uint32_t kTrustHasExactMatchIssuer = 0x00000001;
inline constexpr uint32_t kTrustHasKeyMatchIssuer = 0x00000002;
inline constexpr uint32_t kTrustHasNameMatchIssuer = 0x00000004;
inline constexpr uint32_t kTrustIsSelfSigned = 0x00000008;
inline constexpr uint32_t kTrustHasPreferredIssuer = 0x00000100;

struct ChainStatus {
    uint32_t error = 0;
    uint32_t info = 0;
    int length = 0; // certificates in the chain built
};

// Builds the chain; `at` 0 means now. nullopt (last error set) only when the
// verifier itself cannot be set up.
std::optional<ChainStatus> build_chain(const Certificate &cert, time_t at = 0);

// Whether any revocation list of any physical store of any location names
// the certificate (stops at the first).
bool listed_in_any_crl(const Certificate &cert);

} // namespace tarmin::crypto

#pragma GCC visibility pop

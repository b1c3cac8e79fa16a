#include "platform/crypto/chain.h"

#include "common/codepage.h"
#include "platform/crypto/crypto_error.h"
#include "platform/crypto/store.h"

#include <openssl/err.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <mutex>

namespace tarmin::crypto {

namespace {

uint32_t trust_bit_of(int err) {
    switch (err) {
    case X509_V_ERR_CERT_NOT_YET_VALID:
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_ERROR_IN_CERT_NOT_BEFORE_FIELD:
    case X509_V_ERR_ERROR_IN_CERT_NOT_AFTER_FIELD: return kTrustIsNotTimeValid;
    case X509_V_ERR_CERT_SIGNATURE_FAILURE:
    case X509_V_ERR_UNABLE_TO_DECRYPT_CERT_SIGNATURE:
    case X509_V_ERR_UNABLE_TO_DECODE_ISSUER_PUBLIC_KEY: return kTrustIsNotSignatureValid;
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_CERT_UNTRUSTED: return kTrustIsUntrustedRoot;
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE: return kTrustIsPartialChain;
    case X509_V_ERR_INVALID_PURPOSE:
    case X509_V_ERR_KEYUSAGE_NO_CERTSIGN: return kTrustIsNotValidForUsage;
    case X509_V_ERR_INVALID_CA:
    case X509_V_ERR_PATH_LENGTH_EXCEEDED:
    case X509_V_ERR_INVALID_NON_CA: return kTrustInvalidBasicConstraints;
    case X509_V_ERR_UNHANDLED_CRITICAL_EXTENSION:
    case X509_V_ERR_INVALID_EXTENSION: return kTrustInvalidExtension;
    case X509_V_ERR_INVALID_POLICY_EXTENSION:
    case X509_V_ERR_NO_EXPLICIT_POLICY: return kTrustInvalidPolicyConstraints;
    case X509_V_ERR_PERMITTED_VIOLATION:
    case X509_V_ERR_EXCLUDED_VIOLATION:
    case X509_V_ERR_SUBTREE_MINMAX:
    case X509_V_ERR_UNSUPPORTED_CONSTRAINT_TYPE:
    case X509_V_ERR_UNSUPPORTED_NAME_SYNTAX: return kTrustInvalidNameConstraints;
    case X509_V_ERR_CERT_REVOKED: return kTrustIsRevoked;
    default: return kTrustOtherError;
    }
}

struct VerifyState {
    uint32_t error = 0;
};

int g_state_index = -1;

int collect_errors(int ok, X509_STORE_CTX *ctx) {
    if (!ok) {
        auto *state = static_cast<VerifyState *>(X509_STORE_CTX_get_ex_data(ctx, g_state_index));
        if (state) state->error |= trust_bit_of(X509_STORE_CTX_get_error(ctx));
    }
    // Go on: the system reports every problem of the chain, not the first.
    return 1;
}

void add_store_certs(const char *system, X509_STORE *trusted, STACK_OF(X509) *untrusted) {
    for (StoreLocation loc : store_locations())
        for (const auto &phys : physical_stores(loc, system)) {
            auto store = CertStore::open(loc, system, phys, false);
            if (!store) continue;
            for (const auto &c : store->certificates()) {
                if (trusted) X509_STORE_add_cert(trusted, c->x509());
                if (untrusted) {
                    X509_up_ref(c->x509());
                    sk_X509_push(untrusted, c->x509());
                }
            }
        }
    ERR_clear_error(); // duplicates in the trusted store are not errors
}

} // namespace

std::optional<ChainStatus> build_chain(const Certificate &cert, time_t at) {
    if (!ensure_provider()) return std::nullopt;
    static std::once_flag once;
    std::call_once(once, [] { g_state_index = X509_STORE_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr); });

    X509_STORE *trusted = X509_STORE_new();
    STACK_OF(X509) *untrusted = sk_X509_new_null();
    X509_STORE_CTX *ctx = X509_STORE_CTX_new();
    if (!trusted || !untrusted || !ctx) {
        X509_STORE_free(trusted);
        sk_X509_pop_free(untrusted, X509_free);
        X509_STORE_CTX_free(ctx);
        set_last_error(kErrOutOfMemory);
        return std::nullopt;
    }
    add_store_certs("Root", trusted, nullptr);
    add_store_certs("CA", nullptr, untrusted);
    X509_STORE_set_verify_cb(trusted, collect_errors);

    VerifyState state;
    std::optional<ChainStatus> result;
    if (X509_STORE_CTX_init(ctx, trusted, cert.x509(), untrusted)) {
        X509_STORE_CTX_set_ex_data(ctx, g_state_index, &state);
        if (at) X509_VERIFY_PARAM_set_time(X509_STORE_CTX_get0_param(ctx), at);
        X509_verify_cert(ctx);
        ChainStatus status;
        status.error = state.error;
        STACK_OF(X509) *chain = X509_STORE_CTX_get0_chain(ctx);
        status.length = chain ? sk_X509_num(chain) : 1;
        bool self_issued = X509_check_issued(cert.x509(), cert.x509()) == X509_V_OK;
        if (self_issued)
            status.info = kTrustHasNameMatchIssuer | kTrustIsSelfSigned | kTrustHasPreferredIssuer;
        else if (status.length > 1)
            status.info = (X509_get0_authority_key_id(cert.x509()) ? kTrustHasKeyMatchIssuer : kTrustHasNameMatchIssuer) |
                          kTrustHasPreferredIssuer;
        result = status;
    } else {
        set_last_error_openssl(kErrInternal);
    }
    ERR_clear_error();
    X509_STORE_CTX_free(ctx);
    X509_STORE_free(trusted);
    sk_X509_pop_free(untrusted, X509_free);
    return result;
}

bool listed_in_any_crl(const Certificate &cert) {
    bool listed = false;
    for_each_physical_store([&](const CertStore &store, StoreLocation, const std::string &, const std::string &) {
        for (const auto &crl : store.crls())
            if (crl->lists(cert)) {
                listed = true;
                return false;
            }
        return true;
    });
    return listed;
}

} // namespace tarmin::crypto

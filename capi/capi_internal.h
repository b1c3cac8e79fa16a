// The record behind a qzms context and the helpers that every part of the
// library shares: error recording, handing out blocks, texts and
// certificate references.
#pragma once

#include "include/qzms.h"
#include "platform/crypto/certificate.h"
#include "platform/crypto/store.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace tarmin::qzms {

using crypto::Bytes;
using crypto::CertPtr;

inline constexpr size_t kTextErrorSize = 4104;
inline constexpr size_t kDebugErrorSize = 4108;

// The provider handle of the own key: the key pair and the provider's name.
struct Provider {
    crypto::EvpPkeyPtr key;
    std::string name;
};

} // namespace tarmin::qzms

// Field order follows the record of the interface.
struct CapiContext {
    uint32_t Flags = 0;
    tarmin::qzms::Provider *hProv = nullptr;
    EVP_PKEY *hUserKey = nullptr; // the key pair inside hProv
    int32_t CallerFreeProv = 0;
    tarmin::crypto::StorePtr hMyStore;
    tarmin::crypto::CertPtr MyCert;
    tarmin::crypto::StorePtr hTmpStore;
    void *CryptFileKey = nullptr; // no operation of this library sets it yet
    std::string HashAlgOid;
    std::string HashAlgOid2012;
    std::string EncryptAlgOid;
    uint32_t HashAlgNumber = 0;
    uint32_t KeyAlgNumber = 0;
    uint32_t AlgIdNumber = 0;
    uint32_t ImitAlgNumber = 0;
    std::string ExtAddrData;
    uint32_t ExtAddrSize = 0;
    uint32_t CodeError = 0;
    char TextError[tarmin::qzms::kTextErrorSize] = {};
    char DebugError[tarmin::qzms::kDebugErrorSize] = {};
    void *EmailToContext = nullptr;
};

namespace tarmin::qzms {

// Records an error in the context: code, operator text from the message
// table (user's language, English fallback) with the two arguments, the
// trace text with the failed step and the calling operation; with
// take_system the thread's last crypto error (read first) and its text are
// appended. A null context is ignored.
void record_error(CapiContext *ctx, bool take_system, uint32_t code, const std::string &arg1,
                  const std::string &arg2, const char *step, const char *caller);
// The record of CCA_is_address_in_cert, outside the table.
void record_direct(CapiContext *ctx, uint32_t code, const char *text, const char *debug);

// One exit path for an exported function, so that no C++ exception crosses
// the C boundary: an exception inside (memory exhausted) is recorded as
// 0x4009 for the caller and the function returns -1.
template <typename F> int32_t guarded(CapiContext *ctx, const char *caller, F &&body) noexcept {
    try {
        return body();
    } catch (...) {
        record_error(ctx, false, 0x4009, "", "", "malloc", caller);
        return -1;
    }
}

// Memory handed out: blocks with 8 zero bytes after the data.
unsigned char *alloc_block(size_t length);
bool hand_out(CapiBlob *out, const void *data, size_t length);
char *hand_out_text(const std::string &text);

// Certificate references handed out (CERT_CONTEXT with a hidden owner).
PCCERT_CONTEXT make_cert_ref(const CertPtr &cert);
// The certificate behind a reference (null for null or a foreign pointer).
CertPtr cert_of(PCCERT_CONTEXT ref);
void free_cert_ref(PCCERT_CONTEXT ref);

// Issuer-and-serial records.
SignerSerial *make_serial(const Bytes &serial_le, const Bytes &issuer_der);
void free_serial(SignerSerial *s);
Bytes serial_bytes(const SignerSerial *s);
Bytes issuer_bytes(const SignerSerial *s);

// The allowed (signature algorithm, public key algorithm) pairs.
bool allowed_algorithm_pair(const crypto::Certificate &cert);

// Quick check before use: key usage for the purpose (1 signature,
// 2 encryption) and validity now. Records its error (caller
// "QZMS_LiteVerifyCert()").
bool lite_verify_cert(CapiContext *ctx, const crypto::Certificate &cert, int purpose);
// Full check: chain to a trusted root without errors, and not in any
// revocation list. Records its error (caller "QZMS_VerifyCert()").
bool verify_cert(CapiContext *ctx, const crypto::Certificate &cert);

// The operator's choice of a certificate from a store, with an optional
// remembered issuer and serial preselected. Null when nothing was chosen.
CertPtr choose_certificate(const crypto::CertStore &store, const Bytes *issuer, const Bytes *serial);
// "dd/mm/yyyy hh:mm:ss" of a UTC time.
std::string format_utc(time_t t);

// Seconds since 1970 from a UTC file time, through local calendar time as
// the original conversion does; 0 when it fails.
int64_t local_seconds_from_filetime(uint64_t filetime);

// Self-test of the own key after initialisation; records its error.
int32_t self_test(CapiContext *ctx);

// Extended address file lines.
enum class ExtLineKind { Redirect, Alias };
std::vector<std::pair<std::string, std::string>> ext_address_lines(const std::string &data, ExtLineKind kind);

// Whether a text begins with a prefix, without regard to case.
bool istarts_with(const std::string &text, const char *prefix);

} // namespace tarmin::qzms

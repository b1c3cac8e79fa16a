// Memory, certificate references and issuer-and-serial records handed out
// by the library, and their release functions.
#include "capi/capi_internal.h"
#include "platform/crypto/message.h"

#include <openssl/crypto.h>

#include <cstdlib>
#include <malloc.h>
#include <cstring>
#include <deque>
#include <mutex>
#include <new>
#include <unordered_set>

namespace tarmin::qzms {

namespace {

// A reference handed out: the public record first, so that the pointer the
// caller holds is the record's.
struct CertRef {
    CERT_CONTEXT pub{};
    CERT_INFO info{};
    CertPtr cert;
    Bytes der, serial, issuer, subject;
};

// The references handed out and not yet released. A pointer the caller
// gives back is looked up here before anything is read through it, so a
// released reference, or a record the library never made, is refused. The
// memory of a released reference is held back while kReleasedKept further
// references are released, so that its address does not soon name a new
// reference (a stale pointer would then be taken for that one).
constexpr size_t kReleasedKept = 4096;
struct RefTable {
    std::mutex lock;
    std::unordered_set<const CERT_CONTEXT *> live;
    std::deque<CertRef *> released;
};
RefTable &ref_table() {
    static RefTable *table = new RefTable; // outlives every static destructor
    return *table;
}

CRYPT_DATA_BLOB blob_of(Bytes &b) { return CRYPT_DATA_BLOB{static_cast<uint32_t>(b.size()), b.data()}; }

QZMS_FILETIME filetime_of(time_t t) {
    uint64_t ft = crypto::time_to_filetime(t);
    return QZMS_FILETIME{static_cast<uint32_t>(ft), static_cast<uint32_t>(ft >> 32)};
}

} // namespace

unsigned char *alloc_block(size_t length) {
    auto *p = static_cast<unsigned char *>(std::calloc(1, length + 8));
    return p;
}

bool hand_out(CapiBlob *out, const void *data, size_t length) {
    unsigned char *p = alloc_block(length);
    if (!p) return false;
    if (length) std::memcpy(p, data, length);
    out->pbData = p;
    out->cbData = static_cast<uint32_t>(length);
    return true;
}

char *hand_out_text(const std::string &text) {
    unsigned char *p = alloc_block(text.size());
    if (p) std::memcpy(p, text.data(), text.size());
    return reinterpret_cast<char *>(p);
}

PCCERT_CONTEXT make_cert_ref(const CertPtr &cert) {
    if (!cert) return nullptr;
    auto *r = new (std::nothrow) CertRef();
    if (!r) return nullptr;
    r->cert = cert;
    r->der = cert->der();
    r->serial = cert->serial_le();
    r->issuer = cert->issuer_der();
    r->subject = cert->subject_der();
    r->info.dwVersion = static_cast<uint32_t>(X509_get_version(cert->x509()));
    r->info.SerialNumber = blob_of(r->serial);
    r->info.Issuer = blob_of(r->issuer);
    r->info.Subject = blob_of(r->subject);
    r->info.NotBefore = filetime_of(cert->not_before());
    r->info.NotAfter = filetime_of(cert->not_after());
    r->pub.dwCertEncodingType = 0x00010001;
    r->pub.pbCertEncoded = r->der.data();
    r->pub.cbCertEncoded = static_cast<uint32_t>(r->der.size());
    r->pub.pCertInfo = &r->info;
    RefTable &t = ref_table();
    try {
        std::lock_guard<std::mutex> guard(t.lock);
        t.live.insert(&r->pub);
    } catch (const std::bad_alloc &) {
        delete r;
        return nullptr;
    }
    return &r->pub;
}

CertPtr cert_of(PCCERT_CONTEXT ref) {
    if (!ref) return nullptr;
    RefTable &t = ref_table();
    std::lock_guard<std::mutex> guard(t.lock);
    if (!t.live.count(ref)) return nullptr;
    return reinterpret_cast<const CertRef *>(ref)->cert;
}

void free_cert_ref(PCCERT_CONTEXT ref) {
    if (!ref) return;
    CertRef *oldest = nullptr;
    {
        RefTable &t = ref_table();
        std::lock_guard<std::mutex> guard(t.lock);
        if (t.live.erase(ref) == 0) return;
        auto *r = reinterpret_cast<CertRef *>(const_cast<CERT_CONTEXT *>(ref));
        // What the reference held goes now; the record itself waits.
        r->cert.reset();
        for (Bytes *b : {&r->der, &r->serial, &r->issuer, &r->subject}) Bytes().swap(*b);
        r->pub = CERT_CONTEXT{};
        r->info = CERT_INFO{};
        try {
            t.released.push_back(r);
        } catch (const std::bad_alloc &) {
            oldest = r;
        }
        if (!oldest && t.released.size() > kReleasedKept) {
            oldest = t.released.front();
            t.released.pop_front();
        }
    }
    delete oldest;
}

SignerSerial *make_serial(const Bytes &serial_le, const Bytes &issuer_der) {
    auto *s = static_cast<SignerSerial *>(std::calloc(1, sizeof(SignerSerial)));
    if (!s) return nullptr;
    s->SerialNumber.pbData = alloc_block(serial_le.size());
    s->Issuer.pbData = alloc_block(issuer_der.size());
    if (!s->SerialNumber.pbData || !s->Issuer.pbData) {
        free_serial(s);
        return nullptr;
    }
    if (!serial_le.empty()) std::memcpy(s->SerialNumber.pbData, serial_le.data(), serial_le.size());
    if (!issuer_der.empty()) std::memcpy(s->Issuer.pbData, issuer_der.data(), issuer_der.size());
    s->SerialNumber.cbData = static_cast<uint32_t>(serial_le.size());
    s->Issuer.cbData = static_cast<uint32_t>(issuer_der.size());
    return s;
}

void free_serial(SignerSerial *s) {
    if (!s) return;
    std::free(s->SerialNumber.pbData);
    std::free(s->Issuer.pbData);
    std::free(s);
}

Bytes serial_bytes(const SignerSerial *s) {
    if (!s || !s->SerialNumber.pbData) return {};
    return Bytes(s->SerialNumber.pbData, s->SerialNumber.pbData + s->SerialNumber.cbData);
}

Bytes issuer_bytes(const SignerSerial *s) {
    if (!s || !s->Issuer.pbData) return {};
    return Bytes(s->Issuer.pbData, s->Issuer.pbData + s->Issuer.cbData);
}

} // namespace tarmin::qzms

using namespace tarmin::qzms;

extern "C" {

int32_t CCA_free(CapiContext *, void *p) {
    // Blocks may hold secrets (decrypted content, session blobs): nothing
    // goes back to the allocator unwiped.
    if (p) OPENSSL_cleanse(p, malloc_usable_size(p));
    std::free(p);
    return 0;
}

int32_t CCA_cert_free(CapiContext *, PCCERT_CONTEXT cert) {
    free_cert_ref(cert);
    return 0;
}

int32_t CCA_serial_free(CapiContext *, SignerSerial *serial) {
    free_serial(serial);
    return 0;
}

int32_t CCA_compare_serial(CapiContext *ctx, const SignerSerial *a, const SignerSerial *b, int32_t *result) {
    if (!result) return 0;
    *result = 1;
    return guarded(ctx, "CCA_compare_serial()", [&] {
        *result = issuer_bytes(a) == issuer_bytes(b) &&
                          tarmin::crypto::integers_equal_le(serial_bytes(a), serial_bytes(b))
                      ? 0
                      : 1;
        return 0;
    });
}

} // extern "C"

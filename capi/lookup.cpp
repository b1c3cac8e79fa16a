// Certificate lookup by issuer and serial and by address (with the extended
// address file and forwarding addresses), names, learning certificates,
// revocation-list updates and the viewers.
#include "capi/capi_internal.h"
#include "common/codepage.h"
#include "include/qzvoui.h"
#include "platform/crypto/chain.h"
#include "platform/crypto/crypto_error.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

using namespace tarmin::cp::literals;
using namespace tarmin;
using namespace tarmin::qzms;

namespace tarmin::qzms {

namespace {

const char *kByAddress = "CCA_find_cert_by_address()";
constexpr size_t kMaxLine = 4096;
constexpr size_t kMaxMailName = 1023;

// Suitability bits of a candidate.
constexpr unsigned kSuitSignature = 0x01;
constexpr unsigned kSuitEncryption = 0x02;
constexpr unsigned kSuitTime = 0x04;
constexpr unsigned kSuitAlgorithms = 0x08;
constexpr unsigned kSuitNotRevoked = 0x10;

bool suitable(const crypto::Certificate &c, unsigned bits) {
    auto ku = c.key_usage();
    if ((bits & kSuitSignature) && ku && !(*ku & crypto::kKuDigitalSignature)) return false;
    if ((bits & kSuitEncryption) && ku &&
        !(*ku & (crypto::kKuKeyEncipherment | crypto::kKuDataEncipherment | crypto::kKuKeyAgreement)))
        return false;
    if (bits & kSuitTime) {
        time_t now = time(nullptr);
        if (now < c.not_before() || now > c.not_after()) return false;
    }
    if ((bits & kSuitAlgorithms) && !allowed_algorithm_pair(c)) return false;
    if ((bits & kSuitNotRevoked) && crypto::listed_in_any_crl(c)) return false;
    return true;
}

const char *other_name_oid(uint32_t type) {
    return type == CCA_ADDRESS_EX ? crypto::kOidOtherNameEx : crypto::kOidOtherNameNotes;
}

// The mail name as the system gives it: at most 1023 characters.
std::string mail_name_of(const crypto::Certificate &c) {
    std::string m = c.mail_name();
    if (m.size() > kMaxMailName) m.resize(kMaxMailName);
    return m;
}

// Certificates of a store that carry the address: as mail name (type 1) or
// as an other name of the type's identifier; the store's search index finds
// them in the order the store keeps, as a walk over the store would.
std::vector<CertPtr> carrying(const crypto::CertStore &store, uint32_t type, const std::string &address) {
    if (type == CCA_ADDRESS_SMTP) return store.find_by_mail_name(address);
    return store.find_by_other_name(other_name_oid(type), address);
}

// A result list: at most 64, never two with equal issuer and serial.
struct CertList {
    std::vector<CertPtr> certs;
    bool full() const { return certs.size() >= CCA_MAX_CERTS; }
    bool contains(const crypto::Certificate &c) const {
        for (const auto &x : certs)
            if (x->same_issuer_serial(c.issuer_der(), c.serial_le())) return true;
        return false;
    }
    void add(const CertPtr &c) {
        if (!full() && !contains(*c)) certs.push_back(c);
    }
};

// Collects the certificates of an address: learned ones first, then every
// store. false (recorded) when none.
bool collect(CapiContext *ctx, const std::string &address, uint32_t type, CertList *out) {
    if (type > CCA_ADDRESS_NOTES) {
        char arg[48];
        std::snprintf(arg, sizeof arg, "OTHER_ADDRESS_TYPE_%d", static_cast<int>(type));
        record_error(ctx, false, 0x402D, address, arg, "(AddressType!=SMTP,EX,LOTUS)", kByAddress);
        return false;
    }
    bool all = (ctx->Flags & CCA_FLAG_COLLECT_ALL) != 0;
    auto done = [&] { return out->full() || (!all && !out->certs.empty()); };
    if (ctx->hTmpStore) {
        for (const auto &c : carrying(*ctx->hTmpStore, type, address)) {
            if (done()) break;
            if (suitable(*c, kSuitEncryption | kSuitTime | kSuitAlgorithms | kSuitNotRevoked)) out->add(c);
        }
    }
    if (!done()) {
        crypto::for_each_physical_store([&](const crypto::CertStore &store, crypto::StoreLocation, const std::string &,
                                            const std::string &) {
            // Mail addresses: first the subject's e-mail attribute, then the mail name.
            std::vector<CertPtr> candidates;
            if (type == CCA_ADDRESS_SMTP) candidates = store.find_by_subject_email(address);
            for (auto &c : carrying(store, type, address)) candidates.push_back(std::move(c));
            for (const auto &c : candidates) {
                if (done()) return false;
                if (!suitable(*c, kSuitEncryption | kSuitAlgorithms) || out->contains(*c)) continue;
                if (!verify_cert(ctx, *c)) continue;
                if (ctx->hTmpStore) ctx->hTmpStore->add(c, crypto::AddDisposition::UseExisting);
                out->add(c);
            }
            return !done();
        });
    }
    if (out->certs.empty()) {
        record_error(ctx, false, 0x402E, address, "", "(!NumberCert)", kByAddress);
        return false;
    }
    return true;
}

// Collects, then replaces each certificate that names a forwarding address
// by the certificates of that address.
bool search(CapiContext *ctx, const std::string &address, uint32_t type, CertList *out) {
    CertList found;
    if (!collect(ctx, address, type, &found)) return false;
    for (const auto &c : found.certs) {
        std::string forward;
        for (const auto &o : c->other_names())
            if (o.oid == crypto::kOidOtherNameForward && o.decoded) forward = o.value;
        if (forward.empty()) {
            out->add(c);
            continue;
        }
        CertList forwarded;
        if (collect(ctx, forward, CCA_ADDRESS_SMTP, &forwarded))
            for (const auto &f : forwarded.certs) out->add(f);
    }
    return !out->certs.empty();
}

std::string trim(std::string s) {
    const char *ws = "\t\r ";
    size_t a = s.find_first_not_of(ws);
    if (a == std::string::npos) return {};
    size_t b = s.find_last_not_of(ws);
    return s.substr(a, b - a + 1);
}

void release_list(CapiContext *ctx, PCCERT_CONTEXT *certs, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) {
        CCA_cert_free(ctx, certs[i]);
        certs[i] = nullptr;
    }
}

// A reference to `c` in *cert: 0, or -1 with memory exhausted recorded.
int32_t hand_out_cert(CapiContext *ctx, const CertPtr &c, PCCERT_CONTEXT *cert, const char *caller) {
    *cert = make_cert_ref(c);
    if (*cert) return 0;
    record_error(ctx, false, 0x4009, "", "", "malloc", caller);
    return -1;
}

// The certificate of DER bytes given by the caller; null (recorded) when there
// are none or they are no certificate.
CertPtr cert_from_der(CapiContext *ctx, const unsigned char *der, uint32_t length, const char *caller) {
    CertPtr c = der && length ? crypto::Certificate::from_der(der, length) : nullptr;
    if (!c) {
        if (!der || !length) crypto::set_last_error(crypto::kErrInvalidArg);
        record_error(ctx, true, 0x4038, "", "", "CertCreateCertificateContext()", caller);
    }
    return c;
}

int32_t view_certificate(CapiContext *ctx, const crypto::Certificate &c, const char *caller) {
    if (TMN_UIViewCertificate(c.der().data(), static_cast<uint32_t>(c.der().size()),
                              TMN_VIEW_DISABLE_EDITPROPERTIES | TMN_VIEW_DISABLE_ADDTOSTORE) != 1) {
        crypto::set_last_error(crypto::kErrBadData);
        record_error(ctx, true, 0x4033, "", "", "CryptUIDlgViewCertificate()", caller);
        return -1;
    }
    return 0;
}

} // namespace

std::vector<std::pair<std::string, std::string>> ext_address_lines(const std::string &data, ExtLineKind kind) {
    std::vector<std::pair<std::string, std::string>> out;
    const char *sep = kind == ExtLineKind::Redirect ? ">>" : "==";
    size_t pos = 0;
    while (pos < data.size()) {
        size_t end = data.find('\n', pos);
        if (end == std::string::npos) end = data.size();
        std::string line = data.substr(pos, std::min(end - pos, kMaxLine));
        pos = end + 1;
        // A line is a redirection when it holds ">>", else an alias when it holds "==".
        size_t redirect = line.find(">>");
        size_t at = kind == ExtLineKind::Redirect ? redirect : (redirect == std::string::npos ? line.find(sep) : std::string::npos);
        if (at == std::string::npos) continue;
        std::string address = trim(line.substr(0, at)), mail = trim(line.substr(at + 2));
        if (address.empty() || mail.empty()) continue;
        out.emplace_back(address, mail);
    }
    return out;
}

} // namespace tarmin::qzms

extern "C" {

int32_t CCA_find_cert_by_serial(CapiContext *ctx, uint32_t, const SignerSerial *serial, PCCERT_CONTEXT *cert) {
    if (cert) *cert = nullptr;
    if (!ctx || !cert) return -1;
    const char *caller = "CCA_find_cert_by_serial()";
    return guarded(ctx, caller, [&] {
        Bytes issuer = issuer_bytes(serial), sn = serial_bytes(serial);
        if (ctx->hTmpStore) {
            if (CertPtr c = ctx->hTmpStore->find_by_issuer_serial(issuer, sn))
                return hand_out_cert(ctx, c, cert, caller);
        }
        CertPtr found;
        crypto::for_each_physical_store(
            [&](const crypto::CertStore &s, crypto::StoreLocation, const std::string &, const std::string &) {
                found = s.find_by_issuer_serial(issuer, sn);
                return !found;
            });
        if (!found) {
            record_error(ctx, false, 0x4027, "", "", "(!EnumArg.FindCert)", caller);
            return -1;
        }
        if (!verify_cert(ctx, *found)) return -1;
        if (!ctx->hTmpStore || !ctx->hTmpStore->add(found, crypto::AddDisposition::ReplaceExisting)) {
            if (!ctx->hTmpStore) crypto::set_last_error(crypto::kErrInvalidArg);
            record_error(ctx, true, 0x400E, "FindCert", "TMP_MEMORY", "CertAddCertificateContextToStore()", caller);
            return -1;
        }
        CertPtr stored = ctx->hTmpStore->find_by_issuer_serial(issuer, sn);
        if (!stored) {
            record_error(ctx, true, 0x4003, "CertInfo", "TMP_MEMORY", "CertGetSubjectCertificateFromStore()", caller);
            return -1;
        }
        return hand_out_cert(ctx, stored, cert, caller);
    });
}

int32_t CCA_find_cert_by_address(CapiContext *ctx, uint32_t, uint32_t type, const char *address,
                                 PCCERT_CONTEXT *certs, uint32_t *count) {
    if (count) *count = 0;
    if (!ctx || !certs || !count) return -1;
    return guarded(ctx, kByAddress, [&] {
        std::string a = address ? address : "";
        CertList result;
        bool found = false;
        bool redirected = false;
        if (!ctx->ExtAddrData.empty()) {
            for (const auto &[from, to] : ext_address_lines(ctx->ExtAddrData, ExtLineKind::Redirect)) {
                if (!cp::iequals_1251(from, a)) continue;
                redirected = true;
                found = search(ctx, to, CCA_ADDRESS_SMTP, &result);
                break;
            }
        }
        if (!redirected) {
            found = search(ctx, a, type, &result);
            if (!found && !ctx->ExtAddrData.empty()) {
                for (const auto &[from, to] : ext_address_lines(ctx->ExtAddrData, ExtLineKind::Alias)) {
                    if (!cp::iequals_1251(from, a)) continue;
                    result = CertList();
                    if ((found = search(ctx, to, CCA_ADDRESS_SMTP, &result))) break;
                }
            }
        }
        if (!found) return -1;
        uint32_t n = 0;
        for (const auto &c : result.certs) {
            PCCERT_CONTEXT ref = make_cert_ref(c);
            if (!ref) {
                release_list(ctx, certs, n);
                crypto::set_last_error(crypto::kErrOutOfMemory);
                record_error(ctx, true, 0x4017, "", "", "CertDuplicateCertificateContext()", kByAddress);
                return -1;
            }
            certs[n++] = ref;
        }
        *count = n;
        return 0;
    });
}

int32_t CCA_is_address_in_cert(CapiContext *ctx, const char *email, PCCERT_CONTEXT cert, int32_t *flag) {
    if (flag) *flag = 0;
    const char *debug = "Ошибка в функции CCA_is_address_in_cert"_w;
    if (!email || !*email) {
        record_direct(ctx, 0x80070057, "email == NULL", debug);
        return -1;
    }
    CertPtr c = cert_of(cert);
    if (!c) {
        record_direct(ctx, 0x80070057, "pCert == NULL", debug);
        return -1;
    }
    return guarded(ctx, "CCA_is_address_in_cert()", [&] {
        if (flag) *flag = cp::iequals_1251(mail_name_of(*c), email) ? 1 : 0;
        return 0;
    });
}

static int32_t hand_out_name(CapiContext *ctx, const std::string &name, char **out, const char *caller) {
    if (name.empty()) {
        crypto::set_last_error(crypto::kErrNotFound);
        record_error(ctx, true, 0x4032, "", "", "CertGetNameString()", caller);
        return -1;
    }
    *out = hand_out_text(name);
    if (!*out) {
        record_error(ctx, false, 0x4009, "", "", "malloc", caller);
        return -1;
    }
    return 0;
}

int32_t CCA_get_name_cert(CapiContext *ctx, PCCERT_CONTEXT cert, char **name) {
    if (name) *name = nullptr;
    if (!ctx || !name) return -1;
    const char *caller = "CCA_get_name_cert()";
    CertPtr c = cert_of(cert);
    return guarded(ctx, caller, [&] { return hand_out_name(ctx, c ? c->subject_name() : std::string(), name, caller); });
}

int32_t CCA_get_auten_name(CapiContext *ctx, PCCERT_CONTEXT cert, char **name, int32_t *flag) {
    if (name) *name = nullptr;
    if (flag) *flag = 0;
    if (!ctx || !name) return -1;
    const char *caller = "CCA_get_auten_name()";
    CertPtr c = cert_of(cert);
    return guarded(ctx, caller, [&] {
        int32_t rc =
            hand_out_name(ctx, c ? c->subject_attribute(crypto::kOidCommonName) : std::string(), name, caller);
        if (rc == 0 && flag) *flag = 1;
        return rc;
    });
}

int32_t CCA_get_cert(CapiContext *ctx, PCCERT_CONTEXT cert, unsigned char **der, uint32_t *length) {
    if (der) *der = nullptr;
    if (length) *length = 0;
    if (!ctx || !der || !length) return -1;
    CertPtr c = cert_of(cert);
    size_t n = c ? c->der().size() : 0;
    unsigned char *p = c ? alloc_block(n) : nullptr;
    if (!p) {
        char arg[16];
        std::snprintf(arg, sizeof arg, "0x%X", static_cast<unsigned>(n));
        crypto::set_last_error(c ? crypto::kErrOutOfMemory : crypto::kErrInvalidArg);
        record_error(ctx, true, 0x4011, arg, "", "malloc()", "CCA_get_cert()");
        return -1;
    }
    std::memcpy(p, c->der().data(), n);
    *der = p;
    *length = static_cast<uint32_t>(n);
    return 0;
}

int32_t CCA_put_cert(CapiContext *ctx, const unsigned char *der, uint32_t length, PCCERT_CONTEXT *cert) {
    if (cert) *cert = nullptr;
    if (!ctx || !cert) return -1;
    const char *caller = "CCA_put_cert()";
    return guarded(ctx, caller, [&] {
        CertPtr c = cert_from_der(ctx, der, length, caller);
        if (!c) return -1;
        if (!verify_cert(ctx, *c)) return -1;
        if (!ctx->hTmpStore) {
            crypto::set_last_error(crypto::kErrInvalidArg);
            record_error(ctx, true, 0x400E, "PutCert", "TMP_MEMORY", "CertAddCertificateContextToStore()", caller);
            return -1;
        }
        CertPtr stored;
        if (!(ctx->Flags & CCA_FLAG_ADDRESS_BOOK)) {
            stored = ctx->hTmpStore->add(c, crypto::AddDisposition::UseExisting);
            if (!stored) {
                record_error(ctx, true, 0x400E, "PutCert", "TMP_MEMORY", "CertAddCertificateContextToStore()", caller);
                return -1;
            }
        } else {
            stored = ctx->hTmpStore->add(c, crypto::AddDisposition::New);
            if (!stored && crypto::last_error() == crypto::kErrExists) {
                stored = c; // already learned: nothing more to do
            } else if (!stored) {
                record_error(ctx, true, 0x400E, "PutCert", "TMP_MEMORY", "CertAddCertificateContextToStore()", caller);
                return -1;
            } else {
                auto book = crypto::CertStore::open(crypto::StoreLocation::CurrentUser, "AddressBook");
                if (!book) {
                    record_error(ctx, true, 0x4001, "AddressBook", "", "CertOpenSystemStore()",
                                 "QZMS_AddCertToLocalStore()");
                    return -1;
                }
                if (!book->add(c, crypto::AddDisposition::UseExisting)) {
                    record_error(ctx, true, 0x400E, "AddressBook", "LOCAL_DISK", "CertAddCertificateContextToStore()",
                                 "QZMS_AddCertToLocalStore()");
                    return -1;
                }
            }
        }
        return hand_out_cert(ctx, stored, cert, caller);
    });
}

int32_t CCA_update_crl(CapiContext *ctx) {
    if (!ctx) return -1;
    const char *caller = "CCA_update_crl()";
    return guarded(ctx, caller, [&] {
        if (!ctx->MyCert) {
            record_error(ctx, true, 0x4059, "", "", "(!ctx->MyCert)", caller);
            return -1;
        }
        if (crypto::listed_in_any_crl(*ctx->MyCert)) ctx->MyCert.reset();
        if (ctx->hTmpStore) {
            for (const auto &c : ctx->hTmpStore->certificates()) {
                if (!crypto::listed_in_any_crl(*c)) continue;
                if (!ctx->hTmpStore->remove(*c)) {
                    record_error(ctx, true, 0x4058, "", "", "CertDeleteCertificateFromStore()", caller);
                    return -1;
                }
            }
        }
        return 0;
    });
}

int32_t CCA_view_cert(CapiContext *ctx, PCCERT_CONTEXT cert) {
    if (!ctx) return -1;
    CertPtr c = cert_of(cert);
    if (!c) {
        crypto::set_last_error(crypto::kErrInvalidArg);
        record_error(ctx, true, 0x4033, "", "", "CryptUIDlgViewCertificate()", "CCA_view_cert()");
        return -1;
    }
    return guarded(ctx, "CCA_view_cert()", [&] { return view_certificate(ctx, *c, "CCA_view_cert()"); });
}

int32_t CCA_show_cert(CapiContext *ctx, const unsigned char *der, uint32_t length) {
    if (!ctx) return -1;
    const char *caller = "CCA_show_cert()";
    return guarded(ctx, caller, [&] {
        CertPtr c = cert_from_der(ctx, der, length, caller);
        if (!c) return -1;
        return view_certificate(ctx, *c, caller);
    });
}

int32_t CCA_show_crl(CapiContext *ctx, const unsigned char *der, uint32_t length) {
    if (!ctx) return -1;
    const char *caller = "CCA_show_crl()";
    return guarded(ctx, caller, [&] {
        crypto::CrlPtr crl = der && length ? crypto::Crl::from_der(der, length) : nullptr;
        if (!crl) {
            if (!der || !length) crypto::set_last_error(crypto::kErrInvalidArg);
            record_error(ctx, true, 0x404A, "", "", "CertCreateCRLContext()", caller);
            return -1;
        }
        if (TMN_UIViewCrl(crl->der().data(), static_cast<uint32_t>(crl->der().size())) != 1) {
            crypto::set_last_error(crypto::kErrBadData);
            record_error(ctx, true, 0x404B, "", "", "CryptUIDlgViewCrl()", caller);
            return -1;
        }
        return 0;
    });
}

int32_t CCA_struct_cert(CapiContext *ctx) {
    record_error(ctx, false, 0x404C, "CCA_struct_cert", "", "CCA_struct_cert()", "CCA_struct_cert()");
    return -1;
}

} // extern "C"

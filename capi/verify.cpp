// The certificate checks that every operation uses: the quick check before
// each use and the full check of chain and revocation lists; the allowed
// algorithm pairs; the operator's choice of the own certificate.
#include "capi/capi_internal.h"
#include "common/codepage.h"
#include "include/qzvoui.h"
#include "platform/crypto/chain.h"
#include "platform/crypto/crypto_error.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <strings.h>

using namespace tarmin::cp::literals;

namespace tarmin::qzms {

namespace {

struct AlgPair {
    const char *signature;
    const char *public_key;
};
constexpr AlgPair kAllowedPairs[] = {
    {"1.2.643.2.2.4", "1.2.643.2.2.20"},     {"1.2.643.2.2.4", "1.2.643.2.2.19"},
    {"1.2.643.2.2.3", "1.2.643.2.2.20"},     {"1.2.643.2.2.3", "1.2.643.2.2.19"},
    {"1.2.643.7.1.1.3.2", "1.2.643.7.1.1.1.1"}, {"1.2.643.7.1.1.3.2", "1.2.643.2.2.19"},
    {"1.2.643.2.2.3", "1.2.643.7.1.1.1.1"},
};

struct TrustCode {
    uint32_t status;
    uint32_t code;
};
constexpr TrustCode kTrustCodes[] = {
    {0x00000001, 0x405B}, {0x00000002, 0x405C}, {0x00000004, 0x405D}, {0x00000008, 0x405E},
    {0x00000010, 0x405F}, {0x00000020, 0x4060}, {0x00000040, 0x4061}, {0x00000080, 0x4062},
    {0x00000100, 0x4063}, {0x00000200, 0x4064}, {0x00000400, 0x4065}, {0x00000800, 0x4066},
    {0x00001000, 0x4067}, {0x00002000, 0x4068}, {0x00004000, 0x4069}, {0x00008000, 0x406A},
    {0x00010000, 0x406D}, {0x00020000, 0x406E}, {0x00040000, 0x406F}, {0x00080000, 0x4070},
    {0x01000000, 0x406B}, {0x02000000, 0x406C},
};

// The code of a chain error status, by equality with the whole value.
uint32_t trust_code(uint32_t status) {
    for (const auto &t : kTrustCodes)
        if (t.status == status) return t.code;
    return 0x4071;
}

const char *kLite = "QZMS_LiteVerifyCert()";
const char *kFull = "QZMS_VerifyCert()";

} // namespace

bool istarts_with(const std::string &text, const char *prefix) {
    size_t n = std::strlen(prefix);
    return text.size() >= n && cp::iequals_1251(std::string_view(text).substr(0, n), prefix);
}

bool allowed_algorithm_pair(const crypto::Certificate &cert) {
    std::string sig = cert.signature_oid(), pub = cert.public_key_oid();
    for (const auto &p : kAllowedPairs)
        if (strcasecmp(p.signature, sig.c_str()) == 0 && strcasecmp(p.public_key, pub.c_str()) == 0) return true;
    return false;
}

std::string format_utc(time_t t) {
    struct tm tm {};
    gmtime_r(&t, &tm);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%02d/%02d/%04d %02d:%02d:%02d", tm.tm_mday, tm.tm_mon + 1, tm.tm_year + 1900,
                  tm.tm_hour, tm.tm_min, tm.tm_sec);
    return buf;
}

bool lite_verify_cert(CapiContext *ctx, const crypto::Certificate &cert, int purpose) {
    auto ku = cert.key_usage();
    if (!ku) {
        // The system finds no usage without failing: no system code to add.
        crypto::set_last_error(0);
        record_error(ctx, true, 0x4055, "", "", "CertGetIntendedKeyUsage()", kLite);
        return false;
    }
    if (purpose == 1 && !(*ku & crypto::kKuDigitalSignature)) {
        record_error(ctx, false, 0x4056, "", "", "!(ku & CERT_DIGITAL_SIGNATURE_KEY_USAGE)", kLite);
        return false;
    }
    if (purpose == 2 &&
        !(*ku & (crypto::kKuKeyEncipherment | crypto::kKuDataEncipherment | crypto::kKuKeyAgreement))) {
        record_error(ctx, false, 0x4057, "", "",
                     "!(ku & CERT_KEY_ENCIPHERMENT_KEY_USAGE) && !(ku & CERT_DATA_ENCIPHERMENT_KEY_USAGE) && "
                     "!(ku & CERT_KEY_AGREEMENT_KEY_USAGE)",
                     kLite);
        return false;
    }
    time_t now = time(nullptr);
    if (now < cert.not_before()) {
        record_error(ctx, false, 0x4052, "", "", "CertVerifyTimeValidity()", kLite);
        return false;
    }
    if (now > cert.not_after()) {
        record_error(ctx, false, 0x4053, "", "", "CertVerifyTimeValidity()", kLite);
        return false;
    }
    return true;
}

bool verify_cert(CapiContext *ctx, const crypto::Certificate &cert) {
    auto chain = crypto::build_chain(cert);
    if (!chain) {
        record_error(ctx, true, 0x400A, "", "", "CertGetCertificateChain()", kFull);
        return false;
    }
    if (chain->error != 0) {
        char status[64];
        std::snprintf(status, sizeof status, "[Error:%08X, Info:%08X]", chain->error, chain->info);
        record_error(ctx, false, trust_code(chain->error), status,
                     cert.subject_name() + " [" + cert.serial_hex() + "]", "QZMS_TestTrustStatus", kFull);
        return false;
    }
    if (crypto::listed_in_any_crl(cert)) {
        record_error(ctx, false, 0x4054, "", "", "(EnumArg.IsCertInCrl)", kFull);
        return false;
    }
    return true;
}

CertPtr choose_certificate(const crypto::CertStore &store, const Bytes *issuer, const Bytes *serial) {
    std::vector<CertPtr> certs = store.certificates();
    if (certs.empty()) return nullptr;
    int32_t position = -1;
    std::vector<std::string> entries, details;
    for (size_t i = 0; i < certs.size(); ++i) {
        const auto &c = *certs[i];
        if (issuer && serial && position < 0 && c.issuer_der() == *issuer &&
            crypto::integers_equal_le(c.serial_le(), *serial))
            position = static_cast<int32_t>(i);
        entries.push_back(c.subject_name());
        char buf[8192];
        std::snprintf(buf, sizeof buf,
                      "Серийный номер: %s\nПоставщик: %s\nДействителен с: %s\nДействителен по: %s\nАлгоритм ключа: "
                      "%s\nАлгоритм подписи: %s\n"_w,
                      c.serial_hex().c_str(), c.issuer_name().c_str(), format_utc(c.not_before()).c_str(),
                      format_utc(c.not_after()).c_str(), c.public_key_oid().c_str(), c.signature_oid().c_str());
        details.push_back(buf);
    }
    std::vector<const char *> entry_ptrs, detail_ptrs;
    for (size_t i = 0; i < certs.size(); ++i) {
        entry_ptrs.push_back(entries[i].c_str());
        detail_ptrs.push_back(details[i].c_str());
    }
    const char *title = "Выбор личного сертификата"_w;
    for (;;) {
        int32_t r = TMN_UIGetReader(entry_ptrs.data(), static_cast<int32_t>(certs.size()), "Используемый сертификат:"_w,
                                    detail_ptrs.data(), &position, title);
        if (r != 1 || position < 0 || position >= static_cast<int32_t>(certs.size())) return nullptr;
        const CertPtr &chosen = certs[static_cast<size_t>(position)];
        if (allowed_algorithm_pair(*chosen)) return chosen;
        TMN_UIMessageBox("Сертификат содержит неподдерживаемый алгоритм открытого ключа или алгоритм подписи"_w, title,
                         TMN_MB_ICONERROR | TMN_MB_SETFOREGROUND);
    }
}

} // namespace tarmin::qzms

// Signing, signature checks, reading the signer, hashing, random bytes and
// the readable verification protocol.
#include "capi/capi_internal.h"
#include "common/codepage.h"
#include "platform/crypto/crypto_error.h"
#include "platform/crypto/message.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <new>
#include <string_view>
#include <strings.h>
#include <unordered_set>
#include <sys/stat.h>
#include <unistd.h>

using namespace tarmin::cp::literals;
using namespace tarmin;
using namespace tarmin::qzms;

namespace tarmin::qzms {

namespace {

const char *kOidKey2012 = "1.2.643.7.1.1.1.1";

std::optional<crypto::HashAlg> hash_of_oid(const std::string &oid) {
    if (oid == "1.2.643.2.2.9") return crypto::HashAlg::Gost94;
    if (oid == "1.2.643.7.1.1.2.2") return crypto::HashAlg::Streebog256;
    if (oid == "1.2.643.7.1.1.2.3") return crypto::HashAlg::Streebog512;
    return std::nullopt;
}

std::optional<crypto::HashAlg> hash_of_number(uint32_t alg) {
    switch (alg) {
    case 0x801E: return crypto::HashAlg::Gost94;
    case 0x8021: return crypto::HashAlg::Streebog256;
    case 0x8022: return crypto::HashAlg::Streebog512;
    default: return std::nullopt;
    }
}

// A check result before anything is known: not correct, no signer, no time.
void reset_result(CheckResult *r) {
    if (r) {
        r->Status = 4;
        r->SignerCert = nullptr;
        r->SignTime = 0;
    }
}

void clear_blob(CapiBlob *b) {
    if (b) {
        b->pbData = nullptr;
        b->cbData = 0;
    }
}

// The signing time of signer 0: the decoded FILETIME, or the error recorded
// with the given step for a missing attribute.
std::optional<uint64_t> signing_time_of(CapiContext *ctx, const crypto::SignedMessage &msg, const char *missing_step,
                                        const char *caller) {
    auto attrs = msg.signed_attributes(0);
    if (!attrs) {
        record_error(ctx, true, 0x401B, "CMSG_SIGNER_AUTH_ATTR_PARAM", "SignedMessage", "CryptMsgGetParam()", caller);
        return std::nullopt;
    }
    for (const auto &a : *attrs) {
        if (a.oid != crypto::kOidSigningTime) continue;
        if (a.values.empty()) break;
        auto ft = crypto::decode_time_value(a.values.front());
        if (!ft) {
            record_error(ctx, true, 0x401E, "SignTime", "", "CryptDecodeObject()", caller);
            return std::nullopt;
        }
        return ft;
    }
    record_error(ctx, false, 0x4021, "", "", missing_step, caller);
    return std::nullopt;
}

// Decodes a signed message; records 0x401A (the message does not load).
std::unique_ptr<crypto::SignedMessage> open_message(CapiContext *ctx, const CapiBlob *blob, const char *caller) {
    if (!blob || !blob->pbData || blob->cbData == 0) {
        crypto::set_last_error(crypto::kErrInvalidArg);
        record_error(ctx, true, 0x401A, "", "", "CryptMsgUpdate()", caller);
        return nullptr;
    }
    auto msg = crypto::SignedMessage::decode(blob->pbData, blob->cbData);
    if (!msg) record_error(ctx, true, 0x401A, "", "", "CryptMsgUpdate()", caller);
    return msg;
}

// Shared by the detached and attached checks once the signature verified.
int32_t finish_check(CapiContext *ctx, const crypto::SignedMessage &msg, const CertPtr &cert, CheckResult *result,
                     const char *caller) {
    auto ft = signing_time_of(ctx, msg, "(!SignTime)", caller);
    if (!ft) return -1;
    int64_t seconds = local_seconds_from_filetime(*ft);
    if (seconds == -1) {
        record_error(ctx, true, 0x4020, "", "", "FileTimeToSystemTime()", caller);
        return -1;
    }
    if (seconds == 0) {
        record_error(ctx, false, 0x4021, "", "", "(!SignTime)", caller);
        return -1;
    }
    PCCERT_CONTEXT ref = make_cert_ref(cert);
    if (!ref) {
        record_error(ctx, false, 0x4009, "", "", "malloc", caller);
        return -1;
    }
    result->SignerCert = ref;
    result->SignTime = seconds;
    result->Status = CCD_CORRECT;
    return 0;
}

// Verifies signer 0 of a message against a certificate; records 0x4018.
// With data (a detached check) the message must not carry content of its
// own: its signature would prove that content and say nothing of the
// caller's data. Without data (an attached check) it must carry content.
std::unique_ptr<crypto::SignedMessage> verify_signer(CapiContext *ctx, const CapiBlob *signature,
                                                     const crypto::Certificate &cert, const CapiBlob *data,
                                                     const char *caller) {
    const char *step = "CryptVerifyDetachedMessageSignature()";
    if (!signature || !signature->pbData || !signature->cbData) {
        crypto::set_last_error(crypto::kErrInvalidArg);
        record_error(ctx, true, 0x4018, "", "", step, caller);
        return nullptr;
    }
    auto msg = crypto::SignedMessage::decode(signature->pbData, signature->cbData);
    if (msg && msg->signer_count() == 0) crypto::set_last_error(crypto::kErrNoSigner);
    if (!msg || msg->signer_count() == 0 ||
        !(data ? msg->verify_detached(0, cert, data->pbData, data->cbData) : msg->verify_attached(0, cert))) {
        record_error(ctx, true, 0x4018, "", "", step, caller);
        return nullptr;
    }
    return msg;
}

std::string hex_line(const unsigned char *p, size_t n) {
    std::string line;
    char buf[4];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(buf, sizeof buf, " %02X", p[i]);
        line += buf;
    }
    return line + "\r\n";
}

// Hexadecimal dump, 16 bytes to a line; shortened: the full lines between
// the first and the last full one become one line of dots (three or more
// full lines needed).
std::string hex_dump(const unsigned char *p, size_t n, bool shorten) {
    std::string out;
    size_t full = n / 16;
    for (size_t line = 0; line < full; ++line) {
        if (shorten && full >= 3 && line >= 1 && line + 1 < full) {
            if (line == 1) out += " .. .. .. .. .. .. .. .. .. .. .. .. .. .. .. ..\r\n";
            continue;
        }
        out += hex_line(p + line * 16, 16);
    }
    if (n % 16) out += hex_line(p + full * 16, n % 16);
    return out;
}

std::string temp_directory() {
    for (const char *v : {"TEMP", "TMP", "TMPDIR"})
        if (const char *d = std::getenv(v); d && *d) return d;
    return "/tmp";
}

// The protocol file: created new in the temporary directory and unlinked at
// once, so that it goes when it is closed.
class TempFile {
public:
    ~TempFile() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool create(CapiContext *ctx) {
        std::string dir = temp_directory();
        if (dir.back() != '/') dir += '/';
        std::srand(static_cast<unsigned>(time(nullptr)));
        for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
            char name[32];
            std::snprintf(name, sizeof name, "PTF%04X.TMP", static_cast<unsigned>(std::rand()) & 0xFFFF);
            name_ = dir + name;
            fd_ = ::open(name_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
            if (fd_ < 0 && errno != EEXIST) break;
        }
        if (fd_ < 0) {
            crypto::set_last_error_from_errno(errno);
            record_error(ctx, true, 0x4047, name_, "GENERIC_READ|GENERIC_WRITE", "CreateFile()", "create_tempfile()");
            return false;
        }
        ::unlink(name_.c_str());
        return true;
    }
    bool write(CapiContext *ctx, const std::string &text) {
        size_t done = 0;
        while (done < text.size()) {
            ssize_t n = ::write(fd_, text.data() + done, text.size() - done);
            if (n <= 0) {
                crypto::set_last_error_from_errno(n < 0 ? errno : ENOSPC);
                record_error(ctx, true, 0x404D, "TempFile", "", "WriteFile()", "write_string_to_tempfile()");
                return false;
            }
            done += static_cast<size_t>(n);
        }
        return true;
    }
    bool read_back(CapiContext *ctx, CapiBlob *out) {
        struct stat st {};
        if (::fstat(fd_, &st) != 0) {
            crypto::set_last_error_from_errno(errno);
            record_error(ctx, true, 0x4048, "TempFile", "", "GetFileSize()", "save_tempfile()");
            return false;
        }
        std::string data(static_cast<size_t>(st.st_size), '\0');
        ssize_t n = ::pread(fd_, data.data(), data.size(), 0);
        if (n != static_cast<ssize_t>(data.size())) {
            crypto::set_last_error_from_errno(n < 0 ? errno : EIO);
            record_error(ctx, true, 0x4049, "TempFile", "", "ReadFile()", "save_tempfile()");
            return false;
        }
        if (!hand_out(out, data.data(), data.size())) {
            record_error(ctx, false, 0x4009, "", "", "malloc", "save_tempfile()");
            return false;
        }
        return true;
    }

private:
    int fd_ = -1;
    std::string name_;
};

std::string printf_text(const char *fmt, long value) {
    char buf[256];
    std::snprintf(buf, sizeof buf, fmt, value);
    return buf;
}

// Distinct certificates a signed message may carry; a message with more is
// refused rather than read (a flood of certificates costs time, never trust).
constexpr size_t kMaxCarriedCertificates = 64;

// Reads the carried certificates once, drops duplicates, refuses a flood,
// and learns the signer's certificate (CCA_put_cert: full check, then the
// in-memory store). The other certificates are not learned: chains are built
// from the system's stores, so only the signer's certificate needs a check,
// and a certificate that fails it is skipped with its record kept.
int32_t learn_signer_certificate(CapiContext *ctx, const crypto::SignedMessage &msg, const Bytes &issuer,
                                 const Bytes &serial, const char *caller) {
    auto carried = msg.certificates();
    if (!carried) {
        record_error(ctx, true, 0x401C, "CMSG_CERT_PARAM(0)", "SignedMessage", "CryptMsgGetParam()", caller);
        return -1;
    }
    std::vector<const Bytes *> distinct;
    std::unordered_set<std::string_view> seen;
    for (const Bytes &der : *carried)
        if (seen.emplace(reinterpret_cast<const char *>(der.data()), der.size()).second) distinct.push_back(&der);
    if (distinct.size() > kMaxCarriedCertificates) {
        crypto::set_last_error(crypto::kErrTooManyCertificates);
        record_error(ctx, true, 0x401C, "CMSG_CERT_COUNT_PARAM", "SignedMessage", "(lCertCount>64)", caller);
        return -1;
    }
    for (const Bytes *der : distinct) {
        CertPtr c = crypto::Certificate::from_der(der->data(), der->size());
        if (!c || !c->same_issuer_serial(issuer, serial)) continue;
        PCCERT_CONTEXT learned = nullptr;
        if (CCA_put_cert(ctx, der->data(), static_cast<uint32_t>(der->size()), &learned) == 0)
            CCA_cert_free(ctx, learned);
        break;
    }
    return 0;
}

// The signer and signing time of a detached signature, learning the
// signer's certificate when the message carries it.
int32_t sender_signed(CapiContext *ctx, const CapiBlob *message, SignerSerial **serial, int64_t *sign_time) {
    const char *caller = "CCA_sender_signed_data()";
    auto msg = open_message(ctx, message, caller);
    if (!msg) return -1;
    int count = msg->signer_count();
    if (count != 1) {
        record_error(ctx, false, 0x4023, std::to_string(count), "", "(lSignerCount!=1)", caller);
        return -1;
    }
    Bytes issuer, sn;
    if (!msg->signer_id(0, &issuer, &sn)) {
        record_error(ctx, true, 0x401C, "CMSG_SIGNER_CERT_INFO_PARAM", "SignedMessage", "CryptMsgGetParam()", caller);
        return -1;
    }
    if (learn_signer_certificate(ctx, *msg, issuer, sn, caller) != 0) return -1;
    auto ft = signing_time_of(ctx, *msg, "(!IsDate)", caller);
    if (!ft) return -1;
    SignerSerial *s = make_serial(sn, issuer);
    if (!s) {
        record_error(ctx, false, 0x4009, "", "", "malloc", "QZMS_MakeSerial()");
        return -1;
    }
    *serial = s;
    *sign_time = static_cast<int64_t>(*ft);
    return 0;
}

} // namespace

int64_t local_seconds_from_filetime(uint64_t filetime) {
    // UTC file time to local file time with the current bias, to calendar
    // fields, then through the C library's local-time conversion (daylight
    // saving left to it), as the original conversion goes.
    time_t now = time(nullptr);
    struct tm now_local {};
    if (!localtime_r(&now, &now_local)) return -1;
    time_t utc = crypto::filetime_to_time(filetime);
    time_t local = utc + now_local.tm_gmtoff;
    struct tm fields {};
    if (!gmtime_r(&local, &fields)) return -1;
    fields.tm_isdst = -1;
    time_t seconds = mktime(&fields);
    return seconds == static_cast<time_t>(-1) ? -1 : static_cast<int64_t>(seconds);
}

int32_t self_test(CapiContext *ctx) {
    static const char kText[] = "12345678901234567890123456789012";
    CapiBlob data{reinterpret_cast<unsigned char *>(const_cast<char *>(kText)), 32};
    CapiBlob signature{};
    if (CCA_sign_mem_sep(ctx, &data, nullptr, &signature) != 0) return -1;
    PCCERT_CONTEXT mine = make_cert_ref(ctx->MyCert);
    CheckResult check{};
    int32_t rc = mine ? CCA_check_mem_sep(ctx, &data, &signature, mine, &check) : -1;
    CCA_cert_free(ctx, check.SignerCert);
    CCA_cert_free(ctx, mine);
    CCA_free(ctx, signature.pbData);
    return rc == 0 ? 0 : -1;
}

} // namespace tarmin::qzms

extern "C" {

int32_t CCA_sign_mem_sep(CapiContext *ctx, const CapiBlob *data, PCCERT_CONTEXT cert, CapiBlob *signature) {
    clear_blob(signature);
    if (!ctx || !signature) return -1;
    const char *caller = "CCA_sign_mem_sep()";
    return guarded(ctx, caller, [&] {
        if (!ctx->MyCert) {
            record_error(ctx, true, 0x4059, "", "", "(!ctx->MyCert)", caller);
            return -1;
        }
        CertPtr signer = cert ? cert_of(cert) : ctx->MyCert;
        if (!signer || !data || (data->cbData && !data->pbData)) {
            crypto::set_last_error(crypto::kErrInvalidArg);
            record_error(ctx, true, 0x4014, "", "", "CryptSignMessage()", caller);
            return -1;
        }
        if (!lite_verify_cert(ctx, *signer, 1)) return -1;
        time_t now = time(nullptr);
        if (!crypto::encode_time_value(crypto::time_to_filetime(now))) {
            record_error(ctx, true, 0x400F, "LocalTime", "", "CryptEncodeObject()", caller);
            return -1;
        }
        auto hash = hash_of_oid(strcasecmp(signer->public_key_oid().c_str(), kOidKey2012) == 0 ? ctx->HashAlgOid2012
                                                                                               : ctx->HashAlgOid);
        // The key: the own one, or the key that "MY" keeps for another certificate.
        crypto::EvpPkeyPtr other_key;
        EVP_PKEY *key = nullptr;
        if (signer->thumbprint() == ctx->MyCert->thumbprint()) key = ctx->hUserKey;
        else if (ctx->hMyStore) key = (other_key = ctx->hMyStore->private_key(*signer)).get();
        if (!hash || !key) {
            if (!hash) crypto::set_last_error(crypto::kErrBadAlgorithm);
            else if (!key && crypto::last_error() == 0) crypto::set_last_error(crypto::kErrNoKey);
            record_error(ctx, true, 0x4014, "", "", "CryptSignMessage()", caller);
            return -1;
        }
        crypto::SignParams params;
        params.signer = signer.get();
        params.key = key;
        params.hash = *hash;
        params.include_certificate = (ctx->Flags & CCA_FLAG_INCLUDE_CERT) != 0;
        params.detached = true;
        params.signing_time = now;
        auto sig = crypto::sign_message(params, data->pbData, data->cbData);
        if (!sig) {
            record_error(ctx, true, 0x4015, "", "", "CryptSignMessage()", caller);
            return -1;
        }
        if (!hand_out(signature, sig->data(), sig->size())) {
            crypto::set_last_error(crypto::kErrOutOfMemory);
            record_error(ctx, true, 0x4015, "", "", "CryptSignMessage()", caller);
            return -1;
        }
        return 0;
    });
}

int32_t CCA_check_mem_sep(CapiContext *ctx, const CapiBlob *data, const CapiBlob *signature, PCCERT_CONTEXT cert,
                          CheckResult *result) {
    reset_result(result);
    if (!ctx || !result) return -1;
    const char *caller = "CCA_check_mem_sep()";
    return guarded(ctx, caller, [&] {
        CertPtr c = cert_of(cert);
        if (!c || !data || (data->cbData && !data->pbData)) {
            crypto::set_last_error(crypto::kErrInvalidArg);
            record_error(ctx, true, 0x4018, "", "", "CryptVerifyDetachedMessageSignature()", caller);
            return -1;
        }
        if (!lite_verify_cert(ctx, *c, 1)) return -1;
        auto msg = verify_signer(ctx, signature, *c, data, caller);
        if (!msg) return -1;
        return finish_check(ctx, *msg, c, result, caller);
    });
}

int32_t CCA_check_mem_attach(CapiContext *ctx, const CapiBlob *message, CapiBlob *content, PCCERT_CONTEXT cert,
                             CheckResult *result) {
    clear_blob(content);
    reset_result(result);
    if (!ctx || !result || !content) return -1;
    const char *caller = "CCA_check_mem_attach()";
    return guarded(ctx, caller, [&] {
        CertPtr c = cert_of(cert);
        if (!c) {
            crypto::set_last_error(crypto::kErrInvalidArg);
            record_error(ctx, true, 0x4018, "", "", "CryptVerifyDetachedMessageSignature()", caller);
            return -1;
        }
        if (!lite_verify_cert(ctx, *c, 1)) return -1;
        auto msg = verify_signer(ctx, message, *c, nullptr, caller);
        if (!msg) return -1;
        auto inner = msg->content();
        if (!inner) {
            record_error(ctx, true, 0x4018, "", "", "CryptVerifyDetachedMessageSignature()", caller);
            return -1;
        }
        if (finish_check(ctx, *msg, c, result, caller) != 0) return -1;
        if (!hand_out(content, inner->data(), inner->size())) {
            CCA_cert_free(ctx, result->SignerCert);
            result->SignerCert = nullptr;
            result->Status = 4;
            record_error(ctx, false, 0x4009, "", "", "malloc", caller);
            return -1;
        }
        return 0;
    });
}

int32_t CCA_sender_signed_data(CapiContext *ctx, const CapiBlob *signature, SignerSerial **serial,
                               int64_t *sign_time) {
    if (serial) *serial = nullptr;
    if (sign_time) *sign_time = 0;
    if (!ctx || !serial || !sign_time) return -1;
    try {
        return sender_signed(ctx, signature, serial, sign_time);
    } catch (...) {
        record_error(ctx, false, 0x4009, "", "", "malloc", "CCA_sender_signed_data()");
        return -1;
    }
}

int32_t CCA_sender_signed_data_attach(CapiContext *ctx, const CapiBlob *message, SignerSerial **serial,
                                      int64_t *sign_time) {
    return CCA_sender_signed_data(ctx, message, serial, sign_time);
}

int32_t CCA_hash_mem(CapiContext *ctx, const CapiBlob *data, CapiBlob *hash) {
    clear_blob(hash);
    if (!ctx || !hash) return -1;
    const char *caller = "CCA_hash_mem()";
    try {
        if (data && data->cbData == 0) {
            static const unsigned char zeros[32] = {};
            if (hand_out(hash, zeros, sizeof zeros)) return 0;
            record_error(ctx, false, 0x4009, "", "", "malloc", caller);
            return -1;
        }
        auto alg = hash_of_number(ctx->HashAlgNumber);
        if (!ctx->hProv || !alg) {
            crypto::set_last_error(ctx->hProv ? crypto::kErrBadAlgorithm : crypto::kErrInvalidArg);
            record_error(ctx, true, 0x4035, "", "", "CryptCreateHash()", caller);
            return -1;
        }
        crypto::Hasher h(*alg);
        if (!h.ok()) {
            record_error(ctx, true, 0x4035, "", "", "CryptCreateHash()", caller);
            return -1;
        }
        if (!data || !data->pbData || !h.update(data->pbData, data->cbData)) {
            if (!data || !data->pbData) crypto::set_last_error(crypto::kErrInvalidArg);
            record_error(ctx, true, 0x4036, "", "", "CryptHashData()", caller);
            return -1;
        }
        auto value = h.finish();
        if (!value) {
            record_error(ctx, true, 0x4037, "HP_HASHVAL", "", "CryptGetHashParam()", caller);
            return -1;
        }
        if (!hand_out(hash, value->data(), value->size())) {
            record_error(ctx, false, 0x4009, "", "", "malloc", caller);
            return -1;
        }
        return 0;
    } catch (...) {
        record_error(ctx, false, 0x4009, "", "", "malloc", caller);
        return -1;
    }
}

int32_t CCA_get_random(CapiContext *ctx, uint32_t length, void *buffer) {
    if (!ctx) return -1;
    if (!ctx->hProv || (length && !buffer) || !crypto::random_bytes(buffer, length)) {
        if (!ctx->hProv || (length && !buffer)) crypto::set_last_error(crypto::kErrInvalidArg);
        char arg[16];
        std::snprintf(arg, sizeof arg, "0x%08X", length);
        record_error(ctx, true, 0x4024, arg, "", "CryptGenRandom()", "CCA_get_random()");
        return -1;
    }
    return 0;
}

int32_t CCA_test_check_signature(uint32_t flags, const CapiBlob *document, const CapiBlob *signature,
                                 const CapiBlob *certificate, CapiBlob *protocol, char **text) {
    clear_blob(protocol);
    if (text) *text = nullptr;
    CapiContext *ctx = nullptr;
    if (CCA_create_context(&ctx) != 0) return -1;
    const char *caller = "CCA_test_check_signature()";
    int32_t rc = -1;
    PCCERT_CONTEXT cert = nullptr;
    try {
        [&] {
            if (flags & CCD_NOT_CERT) {
                record_error(ctx, false, 0x404E, "", "", "(Flag & CCD_NOT_CERT)", caller);
                return;
            }
            CertPtr c = certificate && certificate->pbData
                            ? crypto::Certificate::from_der(certificate->pbData, certificate->cbData)
                            : nullptr;
            if (!c) {
                if (!certificate || !certificate->pbData) crypto::set_last_error(crypto::kErrInvalidArg);
                record_error(ctx, true, 0x4038, "", "", "CertCreateCertificateContext()", caller);
                return;
            }
            cert = make_cert_ref(c);
            static const CapiBlob empty{};
            const CapiBlob &doc = document ? *document : empty;
            const CapiBlob &sig = signature ? *signature : empty;
            std::unique_ptr<TempFile> file;
            if (!(flags & CCD_CHECK_ONLY)) {
                file = std::make_unique<TempFile>();
                if (!file->create(ctx)) return;
                std::string head = "Протокол проверки электронной цифровой подписи (ЭП) документа\r\n\r\n"_w;
                head += printf_text("Длина подписанного документа: %d\r\n"_w, static_cast<long>(doc.cbData));
                head += "Содержимое подписанного документа:\r\n"_w;
                head += hex_dump(doc.pbData, doc.pbData ? doc.cbData : 0, (flags & CCD_SHORT_DUMP) != 0);
                head += "\r\n";
                if (!file->write(ctx, head)) return;
            }
            SignerSerial *signer = nullptr;
            int64_t when = 0;
            bool signer_read = sender_signed(ctx, &sig, &signer, &when) == 0;
            CCA_serial_free(ctx, signer);
            if (file) {
                std::string body;
                if (signer_read) {
                    char buf[256];
                    std::snprintf(buf, sizeof buf, "Время выполнения ЭП (GMT): %s\r\n"_w,
                                  format_utc(crypto::filetime_to_time(static_cast<uint64_t>(when))).c_str());
                    body += buf;
                }
                body += printf_text("Длина ЭП: %d\r\n"_w, static_cast<long>(sig.cbData));
                body += "Содержимое ЭП:\r\n"_w;
                body += hex_dump(sig.pbData, sig.pbData ? sig.cbData : 0, false) + "\r\n";
                body += printf_text("Длина сертификата открытого ключа: %d\r\n"_w, static_cast<long>(c->der().size()));
                body += "Содержимое сертификата открытого ключа:\r\n"_w;
                body += hex_dump(c->der().data(), c->der().size(), false) + "\r\n";
                if (!file->write(ctx, body)) return;
            }
            bool correct = false;
            if (signer_read) {
                CheckResult check{};
                correct = CCA_check_mem_sep(ctx, &doc, &sig, cert, &check) == 0;
                if (correct && check.Status != CCD_CORRECT) {
                    record_error(ctx, false, 0x4018, "", "", "(Check.Status!=CCD_CORRECT)", caller);
                    correct = false;
                }
                CCA_cert_free(ctx, check.SignerCert);
            }
            if (file) {
                if (!file->write(ctx, correct ? "Проверка ЭП выполнена успешно\r\n"_w
                                              : "Проверка ЭП завершилась с ошибкой\r\n"_w))
                    return;
                if (!file->read_back(ctx, protocol)) return;
            }
            if (correct) rc = 0;
        }();
    } catch (...) {
        record_error(ctx, false, 0x4009, "", "", "malloc", caller);
    }
    if (rc != 0) {
        rc = static_cast<int32_t>(ctx->CodeError);
        if (text) *text = hand_out_text(ctx->TextError);
    }
    CCA_cert_free(ctx, cert);
    CCA_final(ctx);
    CCA_close_context(ctx);
    return rc;
}

} // extern "C"

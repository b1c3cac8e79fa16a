// Signed notes (detached signatures of any block of data, with a description
// of the signer) and the KOI8-R conversions.
#include <cstdlib>
#include <cstring>

#include "common/codepage.h"
#include "smime/context.h"
#include "smime/der_names.h"
#include "smime/report.h"
#include "smime/settings.h"

using namespace tarmin::cp::literals;
using namespace tarmin::smime;

namespace {

char *copy_text(const char *text) {
    char *out = strdup(text ? text : "");
    if (!out) throw std::bad_alloc();
    return out;
}

void clear_signer(MhaContext *ctx, DssSigner *s) {
    CCA_cert_free(ctx ? crypto(ctx) : nullptr, s->Cert);
    std::free(s->NotesName);
    std::free(s->Name);
    std::free(s->AutenName);
    std::memset(s, 0, sizeof *s);
}

bool apply_certificate_settings(MhaContext *ctx, const char *function) {
    if (set_flag_auto_mode(ctx)) return true;
    note_trace("set_flag_auto_mode", function);
    return false;
}

// Describes a signer by issuer and serial: certificate, names, the NOTES name
// and whether it is the own certificate. A signer the crypto library cannot
// describe is filled in as unknown; only exhausted memory is a failure
// (thrown).
void get_dossier_signer(MhaContext *ctx, const SignerSerial *serial, DssSigner *s) {
    constexpr const char *kFn = "get_dossier_signer";
    clear_signer(ctx, s);
    CapiContext *c = crypto(ctx);
    int32_t differs = 1;
    if (st(ctx).my_serial) CCA_compare_serial(c, st(ctx).my_serial, serial, &differs);
    s->Own = differs == 0 ? 1 : 0;
    const char *failed = nullptr;
    char *name = nullptr, *auten = nullptr;
    unsigned char *der = nullptr;
    uint32_t der_length = 0;
    int32_t flag = 0;
    if (CCA_find_cert_by_serial(c, 0, serial, &s->Cert) != 0)
        failed = "CCA_find_cert_by_serial";
    else if (CCA_get_name_cert(c, s->Cert, &name) != 0)
        failed = "CCA_get_name_cert";
    else if (CCA_get_auten_name(c, s->Cert, &auten, &flag) != 0)
        failed = "CCA_get_auten_name";
    else if (CCA_get_cert(c, s->Cert, &der, &der_length) != 0)
        failed = "CCA_get_cert";
    if (failed) {
        report_crypto_note(c, failed, kFn);
        CCA_cert_free(c, s->Cert);
        s->Cert = nullptr;
    }
    try {
        if (failed) {
            s->Name = copy_text("Unknown");
            s->AutenName = copy_text("");
        } else {
            s->Name = copy_text(name);
            s->AutenName = copy_text(auten);
            // The crypto library lists no certificate structure, so the NOTES
            // entry is read from the certificate's own encoding.
            auto notes = certificate_notes_name(std::string_view(reinterpret_cast<char *>(der), der_length));
            if (notes) s->NotesName = copy_text(notes->c_str());
        }
    } catch (...) {
        CCA_free(c, name), CCA_free(c, auten), CCA_free(c, der);
        clear_signer(ctx, s);
        throw;
    }
    CCA_free(c, name);
    CCA_free(c, auten);
    CCA_free(c, der);
}

CapiBlob blob(const void *data, uint32_t length) {
    return CapiBlob{static_cast<unsigned char *>(const_cast<void *>(data)), length};
}

const char *status_text(int32_t status) {
    switch (status) {
    case 0: return "Статус проверки ЭП: ПОДПИСЬ ВЕРНА"_w;
    case 1: return "Статус проверки ЭП: ПОДПИСЬ НЕ ВЕРНА"_w;
    case 2: return "Статус проверки ЭП: НЕ НАЙДЕН СЕРТИФИКАТ ПОДПИСАВШЕГО"_w;
    case 3: return "Статус проверки ЭП: ОШИБКА ПРОВЕРКИ СЕРТИФИКАТА ПОДПИСАВШЕГО"_w;
    default: return "Статус проверки ЭП: ОШИБКА ПРОВЕРКИ ПОДПИСИ"_w;
    }
}

// The note functions report exhausted memory with their own code.
template <class F> int32_t guarded_note(const char *function, F &&body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc &) {
        QZ_ReportEvent(QZ_LEVEL_SUMMARY, kNoteNoMemory);
        note_trace("malloc", function);
        return kFailed;
    } catch (...) {
        note_trace("exception", function);
        return kFailed;
    }
}

} // namespace

extern "C" {

int32_t DSS_sign_note(MhaContext *ctx, uint32_t length, const void *data, DssBlob *signature) {
    if (signature) *signature = DssBlob{};
    if (!ctx || !signature || (!data && length)) return kFailed;
    return guarded_note("DSS_sign_note", [&]() -> int32_t {
        if (!apply_certificate_settings(ctx, "DSS_sign_note")) return kFailed;
        CapiBlob in = blob(data, length), sig{};
        if (CCA_sign_mem_sep(crypto(ctx), &in, st(ctx).my_cert, &sig) != 0) {
            report_crypto_note(crypto(ctx), "CCA_sign_mem_sep", "DSS_sign_note");
            return kFailed;
        }
        auto *copy = static_cast<unsigned char *>(std::malloc(sig.cbData ? sig.cbData : 1));
        if (!copy) {
            CCA_free(crypto(ctx), sig.pbData);
            throw std::bad_alloc();
        }
        std::memcpy(copy, sig.pbData, sig.cbData);
        signature->pbData = copy;
        signature->cbData = sig.cbData;
        CCA_free(crypto(ctx), sig.pbData);
        return 0;
    });
}

int32_t DSS_check_note(MhaContext *ctx, uint32_t length, const void *data, const DssBlob *signature,
                       DssVerification **out) {
    if (out) *out = nullptr;
    if (!ctx || !signature || !out || (!data && length)) return kFailed;
    return guarded_note("DSS_check_note", [&]() -> int32_t {
        constexpr const char *kFn = "DSS_check_note";
        if (!apply_certificate_settings(ctx, kFn)) return kFailed;
        auto *v = static_cast<DssVerification *>(std::calloc(1, sizeof(DssVerification)));
        if (!v) throw std::bad_alloc();
        CapiContext *c = crypto(ctx);
        CapiBlob sig = blob(signature->pbData, signature->cbData);
        SignerSerial *serial = nullptr;
        int64_t sign_time = 0;
        if (CCA_sender_signed_data(c, &sig, &serial, &sign_time) != 0) {
            report_crypto_note(c, "CCA_sender_signed_data", kFn);
            std::free(v);
            return kFailed;
        }
        try {
            get_dossier_signer(ctx, serial, &v->Signer);
        } catch (...) {
            CCA_serial_free(c, serial);
            std::free(v);
            throw;
        }
        CCA_serial_free(c, serial);
        v->Signer.SignTime = sign_time;
        if (!v->Signer.Cert) {
            v->Status = 2;
        } else {
            CheckResult check{};
            CapiBlob in = blob(data, length);
            if (CCA_check_mem_sep(c, &in, &sig, v->Signer.Cert, &check) != 0) {
                report_crypto_note(c, "CCA_check_mem_sep", kFn);
                v->Status = 1;
            } else {
                v->Status = check.Status > 3 || check.Status < 0 ? 4 : check.Status;
            }
            CCA_cert_free(c, check.SignerCert);
        }
        v->StatusText = strdup(status_text(v->Status));
        if (!v->StatusText) {
            DSS_free_verification(ctx, v);
            throw std::bad_alloc();
        }
        *out = v;
        return v->Status == 0 ? 0 : 1;
    });
}

int32_t DSS_get_signer(MhaContext *ctx, const DssBlob *signature, DssSigner *signer) {
    if (!ctx || !signature || !signer) return kFailed;
    std::memset(signer, 0, sizeof *signer);
    return guarded_note("DSS_get_signer", [&]() -> int32_t {
        constexpr const char *kFn = "DSS_get_signer";
        if (!apply_certificate_settings(ctx, kFn)) return kFailed;
        CapiBlob sig = blob(signature->pbData, signature->cbData);
        SignerSerial *serial = nullptr;
        int64_t sign_time = 0;
        if (CCA_sender_signed_data(crypto(ctx), &sig, &serial, &sign_time) != 0) {
            report_crypto_note(crypto(ctx), "CCA_sender_signed_data", kFn);
            return kFailed;
        }
        try {
            get_dossier_signer(ctx, serial, signer);
        } catch (...) {
            CCA_serial_free(crypto(ctx), serial);
            throw;
        }
        CCA_serial_free(crypto(ctx), serial);
        signer->SignTime = sign_time;
        return 0;
    });
}

int32_t DSS_get_current_user(MhaContext *ctx, DssSigner *signer) {
    if (!ctx || !signer) return kFailed;
    std::memset(signer, 0, sizeof *signer);
    return guarded_note("DSS_get_current_user", [&]() -> int32_t {
        constexpr const char *kFn = "DSS_get_current_user";
        if (!apply_certificate_settings(ctx, kFn)) return kFailed;
        if (!st(ctx).my_serial) {
            note_trace("(ctx->MySerial == NULL)", kFn);
            return kFailed;
        }
        get_dossier_signer(ctx, st(ctx).my_serial, signer);
        return 0;
    });
}

int32_t DSS_test_sign_format(MhaContext *ctx, const DssBlob *signature) {
    if (!ctx || !signature) return kFailed;
    return guarded_note("DSS_test_sign_format", [&]() -> int32_t {
        CapiBlob sig = blob(signature->pbData, signature->cbData);
        SignerSerial *serial = nullptr;
        int64_t sign_time = 0;
        if (CCA_sender_signed_data(crypto(ctx), &sig, &serial, &sign_time) != 0) {
            report_crypto_note(crypto(ctx), "CCA_sender_signed_data", "DSS_test_sign_format");
            return kFailed;
        }
        CCA_serial_free(crypto(ctx), serial);
        return 0;
    });
}

int32_t DSS_free_signature(MhaContext *, DssBlob *signature) {
    if (!signature) return 0;
    std::free(signature->pbData);
    *signature = DssBlob{};
    return 0;
}

int32_t DSS_free_signer(MhaContext *ctx, DssSigner *signer) {
    if (signer) clear_signer(ctx, signer);
    return 0;
}

int32_t DSS_free_verification(MhaContext *ctx, DssVerification *v) {
    if (!v) return 0;
    clear_signer(ctx, &v->Signer);
    std::free(v->StatusText);
    std::memset(v, 0, sizeof *v);
    std::free(v);
    return 0;
}

void DOP_koi8r_to_windows(const char *input, char *output) {
    if (!input || !output) return;
    // Byte for byte: the output has the input's length.
    for (size_t i = 0;; ++i) {
        unsigned char b = static_cast<unsigned char>(input[i]);
        if (b < 0x80) {
            output[i] = static_cast<char>(b);
            if (!b) return;
            continue;
        }
        int w = tarmin::cp::to_cp1251(tarmin::cp::from_koi8r(b));
        output[i] = static_cast<char>(w < 0 ? '?' : w);
    }
}

void DOP_windows_to_koi8r(const char *input, char *output) {
    if (!input || !output) return;
    for (size_t i = 0;; ++i) {
        unsigned char b = static_cast<unsigned char>(input[i]);
        if (b < 0x80) {
            output[i] = static_cast<char>(b);
            if (!b) return;
            continue;
        }
        int k = tarmin::cp::to_koi8r(tarmin::cp::from_cp1251(b));
        output[i] = static_cast<char>(k < 0 ? 'E' : k);
    }
}

} // extern "C"

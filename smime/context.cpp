// The library context and the certificate session.
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "common/codepage.h"
#include "smime/certs.h"
#include "smime/context.h"
#include "smime/mime_text.h"
#include "smime/settings.h"
#include "smime/report.h"

using namespace tarmin::cp::literals;
using namespace tarmin::smime;

namespace tarmin::smime {

int address_type_code(std::string_view type) {
    if (iequals(type, "SMTP")) return CCA_ADDRESS_SMTP;
    if (iequals(type, "EX")) return CCA_ADDRESS_EX;
    if (iequals(type, "NOTES")) return CCA_ADDRESS_NOTES;
    return -1;
}

bool find_certs_by_address(MhaContext *ctx, std::string &type, const std::string &address,
                           std::vector<PCCERT_CONTEXT> &certs, const char *function) {
    type = cp::upper_1251(type);
    int code = address_type_code(type);
    if (code < 0) {
        report(kAddressType, type.c_str());
        trace("address type", function);
        return false;
    }
    PCCERT_CONTEXT found[CCA_MAX_CERTS] = {};
    uint32_t count = 0;
    if (CCA_find_cert_by_address(crypto(ctx), 0, static_cast<uint32_t>(code), address.c_str(), found, &count) != 0)
        return true; // nothing found for the address
    for (uint32_t i = 0; i < count && i < CCA_MAX_CERTS; ++i) certs.push_back(found[i]);
    return true;
}

void store_upper_type(char *caller_text, const std::string &upper) {
    if (!caller_text || std::strlen(caller_text) != upper.size()) return;
    for (size_t i = 0; i < upper.size(); ++i)
        if (caller_text[i] != upper[i]) caller_text[i] = upper[i];
}

void release_certs(MhaContext *ctx, std::vector<PCCERT_CONTEXT> &certs) {
    for (PCCERT_CONTEXT c : certs) CCA_cert_free(crypto(ctx), c);
    certs.clear();
}

bool refuse_without_crypto(MhaContext *ctx, const char *function) {
    if (!ctx->head.NotUseSkzi) return false;
    trace("(ctx->NotUseSkzi)", function);
    report(kNoCrypto);
    return true;
}

void release_encoder(MhaContext *ctx);
void release_notify(MhaContext *ctx);

} // namespace tarmin::smime

namespace {

constexpr const char *kWarningCaption = "Предупреждение системы \"Тармин\""_w;
constexpr const char *kWarningText = "Ошибка инициализации системы \"Тармин\".\nХотите продолжить работу\n"
                                     "с возможностью открывать подписанные документы\nбез проверки подписи?"_w;

int32_t vcert_init_ext(MhaContext *ctx) {
    if (!ctx) return kFailed;
    State &s = st(ctx);
    // Each session decides anew whether it works without cryptography.
    ctx->head.NotUseSkzi = 0;
    int32_t rc = CCA_init(crypto(ctx));
    if (rc != 0) {
        if (ctx->head.AskToContinue &&
            QZ_MessageBox(nullptr, kWarningText, kWarningCaption,
                          QZ_MB_YESNOCANCEL | QZ_MB_ICONINFORMATION | QZ_MB_SETFOREGROUND) == QZ_IDYES) {
            ctx->head.NotUseSkzi = 1;
            return 0;
        }
        report_crypto(crypto(ctx), "CCA_init", "vcert_init_ext");
        MHA_vcert_final(ctx);
        if (rc == -1) return kFailed;
        QZ_ClearReports(2);
        return rc;
    }
    const char *failed = nullptr;
    int32_t flag = 0;
    if (CCA_get_my_cert(crypto(ctx), &s.my_cert, &s.my_serial) != 0)
        failed = "CCA_get_my_cert";
    else if (CCA_get_name_cert(crypto(ctx), s.my_cert, &s.owner_name) != 0)
        failed = "CCA_get_name_cert";
    else if (CCA_get_auten_name(crypto(ctx), s.my_cert, &s.auten_name, &flag) != 0)
        failed = "CCA_get_auten_name";
    if (failed) {
        report_crypto(crypto(ctx), failed, "vcert_init_ext");
        MHA_vcert_final(ctx);
        return kFailed;
    }
    std::srand(static_cast<unsigned>(std::time(nullptr)));
    return 0;
}

} // namespace

extern "C" {

int32_t MHA_create_context(MhaContext **context) {
    if (context) *context = nullptr;
    return guarded("MHA_create_context", [&]() -> int32_t {
        if (!context) return kFailed;
        auto *ctx = static_cast<MhaContext *>(std::calloc(1, sizeof(MhaContext)));
        if (!ctx) throw std::bad_alloc();
        try {
            ctx->state = new State;
        } catch (...) {
            std::free(ctx);
            throw;
        }
        char key[4096];
        if (QZ_GetRegistryKeyString(key, sizeof key) != 0) {
            QZ_ReportEvent(QZ_LEVEL_DETAIL, kRegistryKey, "QZ_GetRegistryKeyString", "MHA_create_context");
            MHA_close_context(ctx);
            return kFailed;
        }
        ctx->state->key_path = key;
        if (CCA_create_context(&ctx->head.CryptoContext) != 0) {
            report_no_memory("CCA_create_context", "MHA_create_context");
            MHA_close_context(ctx);
            return kFailed;
        }
        ctx->head.CryptoContextCreated = 1;
        *context = ctx;
        return 0;
    });
}

int32_t MHA_close_context(MhaContext *ctx) {
    if (!ctx) return 0;
    guarded("MHA_close_context", [&]() -> int32_t {
        if (ctx->state) {
            release_encoder(ctx);
            release_notify(ctx);
            st(ctx).dec.reset();
        }
        if (ctx->head.CryptoContextCreated) {
            CCA_close_context(ctx->head.CryptoContext);
            ctx->head.CryptoContextCreated = 0;
        }
        return 0;
    });
    delete ctx->state;
    std::free(ctx);
    return 0;
}

int32_t MHA_set_email_to_context(MhaContext *ctx, void *email) {
    if (!ctx) return kFailed;
    CCA_set_email_to_context(crypto(ctx), email);
    return 0;
}

int32_t MHA_vcert_init(MhaContext *ctx, ...) {
    return guarded("MHA_vcert_init", [&] { return vcert_init_ext(ctx); });
}

int32_t MHA_vcert_init_profile(MhaContext *ctx, ...) {
    return guarded("MHA_vcert_init_profile", [&] { return vcert_init_ext(ctx); });
}

int32_t MHA_vcert_init_ext(MhaContext *ctx, void *, void *, void *) {
    return guarded("MHA_vcert_init_ext", [&] { return vcert_init_ext(ctx); });
}

int32_t MHA_vcert_final(MhaContext *ctx) {
    if (!ctx) return kFailed;
    return guarded("MHA_vcert_final", [&]() -> int32_t {
        State &s = st(ctx);
        CapiContext *c = crypto(ctx);
        bool ok = true;
        if (s.my_cert && CCA_cert_free(c, s.my_cert) != 0) {
            report_crypto(c, "CCA_cert_free", "MHA_vcert_final");
            ok = false;
        }
        s.my_cert = nullptr;
        if (s.my_serial && CCA_serial_free(c, s.my_serial) != 0) {
            report_crypto(c, "CCA_serial_free", "MHA_vcert_final");
            ok = false;
        }
        s.my_serial = nullptr;
        CCA_free(c, s.owner_name);
        CCA_free(c, s.auten_name);
        s.owner_name = s.auten_name = nullptr;
        release_encoder(ctx);
        release_notify(ctx);
        s.settings.archive_out.clear();
        s.settings.archive_in.clear();
        s.dec.reset();
        if (!ctx->head.NotUseSkzi) {
            int32_t rc = CCA_final(c);
            if (rc != 0) {
                char step[32];
                std::snprintf(step, sizeof step, "CCA_final(%08X)", static_cast<unsigned>(rc));
                trace(step, "MHA_vcert_final");
                ok = false;
            }
        }
        return ok ? 0 : kFailed;
    });
}

int32_t MHA_vcert_init_load_key(void *parameters, ...) {
    if (!parameters) return CCA_init_vcert_for_load_key_only(nullptr);
    // The three values after the record's first member, in a record of their own.
    void *values[3];
    std::memcpy(values, static_cast<char *>(parameters) + sizeof(void *), sizeof values);
    return CCA_init_vcert_for_load_key_only(values);
}

int32_t MHA_vcert_final_load_key(void *parameters, ...) { return CCA_final_vcert_for_load_key_only(parameters); }

int32_t MHA_NotUseSkzi(MhaContext *ctx) { return ctx && ctx->head.NotUseSkzi ? 1 : 0; }

const char *MHA_get_owner(MhaContext *ctx) { return ctx ? st(ctx).owner_name : nullptr; }

int32_t MHA_is_cert_by_address(MhaContext *ctx, MhaAddress *address) {
    if (!ctx || !address || !address->TypeAddress || !address->Address) return kFailed;
    return guarded("MHA_is_cert_by_address", [&]() -> int32_t {
        std::string type = address->TypeAddress;
        std::vector<PCCERT_CONTEXT> certs;
        bool ok = find_certs_by_address(ctx, type, address->Address, certs, "is_cert_by_address");
        store_upper_type(address->TypeAddress, type);
        bool found = ok && !certs.empty();
        release_certs(ctx, certs);
        return found ? 0 : kFailed;
    });
}

int32_t MHA_vcert_crl_refresh(MhaContext *ctx) {
    if (!ctx) return kFailed;
    return guarded("MHA_vcert_crl_refresh", [&]() -> int32_t {
        if (refuse_without_crypto(ctx, "MHA_vcert_crl_refresh")) return kFailed;
        if (!set_flag_auto_mode(ctx)) {
            trace("set_flag_auto_mode", "MHA_vcert_crl_refresh");
            return kFailed;
        }
        if (CCA_update_crl(crypto(ctx)) != 0) {
            report_crypto(crypto(ctx), "CCA_update_crl", "MHA_vcert_crl_refresh");
            return kFailed;
        }
        return 0;
    });
}

int32_t MHA_vcert_view_cert(MhaContext *ctx, PCCERT_CONTEXT cert, ...) {
    if (!ctx) return kFailed;
    return guarded("MHA_vcert_view_cert", [&]() -> int32_t {
        if (refuse_without_crypto(ctx, "MHA_vcert_view_cert")) return kFailed;
        if (CCA_view_cert(crypto(ctx), cert) != 0) {
            report_crypto(crypto(ctx), "CCA_view_cert", "MHA_vcert_view_cert");
            return kFailed;
        }
        return 0;
    });
}

int32_t MHA_CheckExpiringCertKey(void *, ...) { return 0; }
int32_t MHA_CheckRAUpdate(void *, ...) { return 0; }

int32_t MHA_free(void *memory) {
    std::free(memory);
    return 0;
}

int32_t MHA_smime_free(MhaContext *, MhaSmime *smime) {
    if (!smime) return 0;
    std::free(smime->Data);
    std::free(smime);
    return 0;
}

int32_t MHA_object_free(MhaContext *, MhaObject *o) {
    if (!o) return 0;
    switch (o->Type) {
    case MHA_OBJ_START:
    case MHA_OBJ_END:
    case MHA_OBJ_NESTED_START:
    case MHA_OBJ_NESTED_END:
    case MHA_OBJ_DATE: break;
    case MHA_OBJ_BODY: std::free(o->Body); break;
    case MHA_OBJ_ATTACHMENT:
        std::free(o->AttachName);
        std::free(o->AttachContentId);
        std::free(o->AttachData);
        break;
    case MHA_OBJ_FROM:
        std::free(o->FromTypeAddress), std::free(o->FromName), std::free(o->FromAddress);
        break;
    case MHA_OBJ_TO: std::free(o->ToTypeAddress), std::free(o->ToName), std::free(o->ToAddress); break;
    case MHA_OBJ_CC: std::free(o->CcTypeAddress), std::free(o->CcName), std::free(o->CcAddress); break;
    case MHA_OBJ_BCC: std::free(o->BccTypeAddress), std::free(o->BccName), std::free(o->BccAddress); break;
    case MHA_OBJ_SUBJECT: std::free(o->Subject); break;
    case MHA_OBJ_HTML: std::free(o->HtmlData); break;
    default: return 0; // pass-through and unknown objects stay the host's
    }
    std::free(o);
    return 0;
}

int32_t MHA_result_free(MhaContext *ctx, MhaResult *r) {
    if (!r) return 0;
    CapiContext *c = ctx ? crypto(ctx) : nullptr;
    std::free(r->EncryptorName);
    std::free(r->SignerName);
    CCA_cert_free(c, r->EncryptorCert);
    CCA_cert_free(c, r->SignerCert);
    std::free(r->FromText);
    std::free(r->ToText);
    std::free(r->DateText);
    std::free(r->CcText);
    std::free(r->Subject);
    std::free(r->ResultDetail);
    for (MhaAttachSigner *n = r->AttachSigners; n;) {
        MhaAttachSigner *next = n->next;
        std::free(n->SignerName);
        CCA_cert_free(c, n->SignerCert);
        std::free(n);
        n = next;
    }
    std::free(r);
    return 0;
}

} // extern "C"

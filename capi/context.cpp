// Context life cycle: creation, initialisation with the own certificate and
// key, the remembered own certificate, algorithm defaults, the extended
// address file, release.
#include "capi/capi_internal.h"
#include "capi/session_key.h"
#include "common/codepage.h"
#include "include/qzcom.h"
#include "platform/crypto/crypto_error.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

using namespace tarmin::cp::literals;
using namespace tarmin;
using namespace tarmin::qzms;

namespace {

const char *kInit = "CCA_init()";
constexpr QZ_DWORD kRegistryBuffer = 8192;

// The remembered issuer and serial of the own certificate.
struct Remembered {
    bool present = false;
    Bytes serial, issuer;
};

std::string skzi_path(const char *key_path) { return std::string(key_path) + "\\SKZIpath"; }

// Reads the remembered pair. -1 when the product key path cannot be read
// (recorded when ctx is given); a missing value means nothing is remembered.
int read_remembered(CapiContext *ctx, Remembered *out) {
    char path[QZ_MAX_KEY_PATH];
    if (QZ_GetRegistryKeyString(path, sizeof path) != 0) {
        record_error(ctx, false, 0x4006, "", "", "QZ_GetRegistryKeyString()", "QZMS_ReadSerNumFromRegistry()");
        return -1;
    }
    std::string key = skzi_path(path);
    Bytes serial(kRegistryBuffer), issuer(kRegistryBuffer);
    QZ_DWORD serial_len = kRegistryBuffer, issuer_len = kRegistryBuffer;
    if (QZ_GetKeyBinary(key.c_str(), "CertSerialNumber", serial.data(), &serial_len, 1) != 0 ||
        QZ_GetKeyBinary(key.c_str(), "CertIssuer", issuer.data(), &issuer_len, 1) != 0)
        return 0;
    serial.resize(serial_len);
    issuer.resize(issuer_len);
    out->present = true;
    out->serial = std::move(serial);
    out->issuer = std::move(issuer);
    return 0;
}

int write_remembered(CapiContext *ctx, const crypto::Certificate &cert) {
    const char *caller = "QZMS_WriteSerNumToRegistry()";
    char path[QZ_MAX_KEY_PATH];
    if (QZ_GetRegistryKeyString(path, sizeof path) != 0) {
        record_error(ctx, false, 0x4006, "", "", "QZ_GetRegistryKeyString()", caller);
        return -1;
    }
    std::string key = skzi_path(path);
    Bytes serial = cert.serial_le(), issuer = cert.issuer_der();
    if (QZ_SetKeyBinary(key.c_str(), "CertSerialNumber", serial.data(), static_cast<QZ_DWORD>(serial.size()),
                        QZ_REG_BINARY, 1) != 0) {
        record_error(ctx, false, 0x4007, key, "CertSerialNumber", "TMN_ConfSetValue()", caller);
        return -1;
    }
    if (QZ_SetKeyBinary(key.c_str(), "CertIssuer", issuer.data(), static_cast<QZ_DWORD>(issuer.size()),
                        QZ_REG_BINARY, 1) != 0) {
        record_error(ctx, false, 0x4007, key, "CertIssuer", "TMN_ConfSetValue()", caller);
        return -1;
    }
    return 0;
}

// Reads a whole file; records 0x4047 / 0x4048 / 0x4049 when it cannot.
bool read_from_file(CapiContext *ctx, const std::string &name, std::string *out) {
    const char *caller = "read_from_file()";
    // Opening never waits: a named pipe under the name would block a plain open.
    int fd = ::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        crypto::set_last_error_from_errno(errno);
        record_error(ctx, true, 0x4047, name, "GENERIC_READ", "CreateFile()", caller);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        int e = errno;
        if (st.st_mode == 0) crypto::set_last_error_from_errno(e);
        else if (S_ISDIR(st.st_mode)) crypto::set_last_error_from_errno(EISDIR);
        else crypto::set_last_error(crypto::kErrNotRegularFile);
        ::close(fd);
        record_error(ctx, true, 0x4048, name, "", "GetFileSize()", caller);
        return false;
    }
    std::string data(static_cast<size_t>(st.st_size), '\0');
    size_t got = 0;
    while (got < data.size()) {
        ssize_t n = ::read(fd, data.data() + got, data.size() - got);
        if (n <= 0) {
            crypto::set_last_error_from_errno(n < 0 ? errno : EIO);
            ::close(fd);
            record_error(ctx, true, 0x4049, name, "", "ReadFile()", caller);
            return false;
        }
        got += static_cast<size_t>(n);
    }
    ::close(fd);
    *out = std::move(data);
    return true;
}

// The extended address file of the installation directory. -1 only when the
// directory cannot be told; a missing file leaves its record and goes on.
int load_extended_address_file(CapiContext *ctx) {
    const char *caller = "load_extented_address_file()";
    char path[QZ_MAX_KEY_PATH];
    if (QZ_GetRegistryKeyString(path, sizeof path) != 0) {
        record_error(ctx, false, 0x4006, "", "", "QZ_GetRegistryKeyString()", caller);
        return -1;
    }
    char *dir = nullptr;
    if (QZ_GetKeyString(path, "Path", &dir, nullptr) != 0 || !dir) {
        QZ_Free(dir);
        record_error(ctx, false, 0x404F, path, "Path", "TMN_ConfGetPath()", caller);
        return -1;
    }
    std::string name = dir;
    QZ_Free(dir);
    if (name.empty() || (name.back() != '\\' && name.back() != '/')) name += '/';
    name += "extadr.cfg";
    std::string data;
    if (read_from_file(ctx, name, &data)) {
        ctx->ExtAddrData = std::move(data);
        ctx->ExtAddrSize = static_cast<uint32_t>(ctx->ExtAddrData.size());
    }
    return 0;
}

bool set_default_algorithms(CapiContext *ctx, const std::string &provider) {
    if (!istarts_with(provider, "Crypto-Pro") && !istarts_with(provider, "Kelvoria")) {
        record_error(ctx, false, 0x4013, provider, "HashAlgOid", "QZMS_SetDefaultAlg()", kInit);
        return false;
    }
    ctx->HashAlgOid = "1.2.643.2.2.9";
    ctx->HashAlgOid2012 = "1.2.643.7.1.1.2.2";
    ctx->EncryptAlgOid = "1.2.643.2.2.21";
    ctx->HashAlgNumber = 0x801E;
    ctx->KeyAlgNumber = 0x661E;
    ctx->AlgIdNumber = 0x661F;
    ctx->ImitAlgNumber = 0x801F;
    return true;
}

// Releases all that initialisation acquired, in the order of the interface,
// and resets the fields.
void release_all(CapiContext *ctx) {
    ctx->ExtAddrData.clear();
    ctx->ExtAddrData.shrink_to_fit();
    ctx->ExtAddrSize = 0;
    release_context_keys(ctx); // session keys made on the context, the file key among them
    ctx->HashAlgOid.clear();
    ctx->HashAlgOid2012.clear();
    ctx->EncryptAlgOid.clear();
    ctx->HashAlgNumber = ctx->KeyAlgNumber = ctx->AlgIdNumber = ctx->ImitAlgNumber = 0;
    ctx->hTmpStore.reset();
    // The provider of a key acquired for the certificate (not owned by the
    // caller) goes with the certificate.
    delete ctx->hProv;
    ctx->hProv = nullptr;
    ctx->hUserKey = nullptr;
    ctx->CallerFreeProv = 0;
    ctx->MyCert.reset();
    ctx->hMyStore.reset();
}

int32_t init_steps(CapiContext *ctx) {
    // 2. Verification only: the store of learned certificates and nothing else.
    if (ctx->Flags & CCA_FLAG_VERIFY_ONLY) {
        ctx->hTmpStore = crypto::CertStore::open_memory();
        if (!ctx->hTmpStore) {
            record_error(ctx, true, 0x400C, "TMP_MEMORY", "", "CertOpenSystemStore()", kInit);
            return -1;
        }
        return 0;
    }
    // 3. The personal store.
    ctx->hMyStore = crypto::CertStore::open(crypto::StoreLocation::CurrentUser, "MY");
    if (!ctx->hMyStore) {
        record_error(ctx, true, 0x4001, "MY", "", "CertOpenSystemStore()", kInit);
        return 4;
    }
    // 4. The remembered own certificate.
    Remembered remembered;
    if (read_remembered(ctx, &remembered) != 0) return -1;
    if (remembered.present) {
        // 5. It must still be in "MY".
        ctx->MyCert = ctx->hMyStore->find_by_issuer_serial(remembered.issuer, remembered.serial);
        if (!ctx->MyCert) {
            record_error(ctx, true, 0x4003, "CertInfo", "MY", "CertGetSubjectCertificateFromStore()", kInit);
            return 4;
        }
    } else {
        // 6. The operator chooses, and the choice is remembered.
        ctx->MyCert = choose_certificate(*ctx->hMyStore, nullptr, nullptr);
        if (!ctx->MyCert) {
            record_error(ctx, false, 0x4005, "", "MY", "QZMS_GetCertFromStore()", kInit);
            return 4;
        }
        if (write_remembered(ctx, *ctx->MyCert) != 0) return -1;
    }
    // 7. Full check.
    if (!verify_cert(ctx, *ctx->MyCert)) return -1;
    // 8. The private key of the certificate.
    std::string provider_name;
    crypto::EvpPkeyPtr key = ctx->hMyStore->private_key(*ctx->MyCert, &provider_name);
    if (!key) {
        record_error(ctx, true, 0x400D, "", "", "CryptAcquireCertificatePrivateKey()", kInit);
        return 1;
    }
    ctx->hProv = new Provider{std::move(key), provider_name};
    ctx->CallerFreeProv = 0;
    // 9. The key pair.
    if (!crypto::key_alg_of(ctx->hProv->key.get())) {
        crypto::set_last_error(crypto::kErrNoKey);
        record_error(ctx, true, 0x402F, "AT_KEYEXCHANGE", "", "CryptGetUserKey()", kInit);
        return 1;
    }
    ctx->hUserKey = ctx->hProv->key.get();
    // 10. The store of learned certificates, holding the own one.
    ctx->hTmpStore = crypto::CertStore::open_memory();
    if (!ctx->hTmpStore) {
        record_error(ctx, true, 0x400C, "TMP_MEMORY", "", "CertOpenSystemStore()", kInit);
        return -1;
    }
    if (!ctx->hTmpStore->add(ctx->MyCert, crypto::AddDisposition::ReplaceExisting)) {
        record_error(ctx, true, 0x400E, "My", "TMP_MEMORY", "CertAddCertificateContextToStore()", kInit);
        return -1;
    }
    // 11, 12. Algorithms by the provider's name.
    if (!set_default_algorithms(ctx, ctx->hProv->name)) return -1;
    // 13. Redirections and aliases of addresses.
    if (load_extended_address_file(ctx) != 0) return -1;
    // 14. Prove the key.
    return self_test(ctx);
}

// Hands out a new reference to the own certificate and its serial.
int32_t hand_out_my_cert(CapiContext *ctx, PCCERT_CONTEXT *cert, SignerSerial **serial, const char *caller) {
    if (!ctx->MyCert) {
        record_error(ctx, true, 0x4059, "", "", "(!ctx->MyCert)", caller);
        return -1;
    }
    PCCERT_CONTEXT ref = make_cert_ref(ctx->MyCert);
    if (!ref) {
        crypto::set_last_error(crypto::kErrOutOfMemory);
        record_error(ctx, true, 0x4017, "", "", "CertDuplicateCertificateContext()", caller);
        return -1;
    }
    SignerSerial *s = make_serial(ctx->MyCert->serial_le(), ctx->MyCert->issuer_der());
    if (!s) {
        free_cert_ref(ref);
        record_error(ctx, false, 0x4009, "", "", "malloc", "QZMS_MakeSerial()");
        return -1;
    }
    *cert = ref;
    *serial = s;
    return 0;
}

} // namespace

extern "C" {

int32_t CCA_create_context(CapiContext **ctx) {
    if (!ctx) return -1;
    *ctx = nullptr;
    *ctx = new (std::nothrow) CapiContext();
    return *ctx ? 0 : -1;
}

int32_t CCA_set_flag(CapiContext *ctx, uint32_t flags) {
    if (!ctx) return -1;
    ctx->Flags = flags | CCA_FLAG_COLLECT_ALL;
    return 0;
}

void CCA_set_email_to_context(CapiContext *ctx, void *value) {
    if (ctx) ctx->EmailToContext = value;
}

int32_t CCA_init(CapiContext *ctx) {
    if (!ctx) return -1;
    try {
        release_all(ctx);
        ctx->Flags |= CCA_FLAG_COLLECT_ALL;
        int32_t rc = init_steps(ctx);
        if (rc != 0) release_all(ctx);
        return rc;
    } catch (const std::bad_alloc &) {
        record_error(ctx, false, 0x4009, "", "", "malloc", kInit);
    } catch (...) {
        record_error(ctx, false, 0x4009, "", "", "malloc", kInit);
    }
    release_all(ctx);
    return -1;
}

int32_t CCA_get_my_cert(CapiContext *ctx, PCCERT_CONTEXT *cert, SignerSerial **serial) {
    if (cert) *cert = nullptr;
    if (serial) *serial = nullptr;
    if (!ctx || !cert || !serial) return -1;
    const char *caller = "CCA_get_my_cert()";
    return guarded(ctx, caller, [&] { return hand_out_my_cert(ctx, cert, serial, caller); });
}

int32_t CCA_final(CapiContext *ctx) {
    if (ctx) release_all(ctx);
    return 0;
}

int32_t CCA_close_context(CapiContext *ctx) {
    delete ctx;
    return 0;
}

// Session control of other tool kits: nothing to do here.
static int32_t no_session_control(void *) { return 0; }
int32_t CCA_init_vcert_for_load_key_only(void *params) { return no_session_control(params); }
int32_t CCA_final_vcert_for_load_key_only(void *params) { return no_session_control(params); }
int32_t CCA_ctrl_session(void *params) { return no_session_control(params); }

int QZMS_SetMyCert(void) {
    try {
        Remembered remembered;
        read_remembered(nullptr, &remembered);
        auto store = crypto::CertStore::open(crypto::StoreLocation::CurrentUser, "MY");
        if (!store) return 0;
        CertPtr chosen = choose_certificate(*store, remembered.present ? &remembered.issuer : nullptr,
                                            remembered.present ? &remembered.serial : nullptr);
        if (!chosen) return 0;
        return write_remembered(nullptr, *chosen) == 0 ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

} // extern "C"

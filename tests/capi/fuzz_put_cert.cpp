// libFuzzer target: CCA_put_cert on arbitrary and mutated certificates. A
// failure hands out nothing; a success hands out the certificate that was
// given, which the context has then learned.
#include "fuzz_seeds.h"
#include "include/qzms.h"

#include <openssl/err.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    tarmin::fuzz::seeds();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const auto &s = tarmin::fuzz::seeds();
    if (size < 2) return 0;
    tarmin::fuzz::Bytes input = tarmin::fuzz::shape(data + 1, size - 1, data[0] & 0x80 ? s.root_der : s.user_der);

    CapiContext *ctx = nullptr;
    if (CCA_create_context(&ctx) != 0) std::abort();
    CCA_set_flag(ctx, CCA_FLAG_VERIFY_ONLY);
    if (CCA_init(ctx) != 0) std::abort();
    PCCERT_CONTEXT cert = reinterpret_cast<PCCERT_CONTEXT>(1);
    int32_t rc = CCA_put_cert(ctx, input.data(), static_cast<uint32_t>(input.size()), &cert);
    if (rc == 0) {
        if (!cert || !cert->pbCertEncoded || cert->cbCertEncoded == 0 || cert->cbCertEncoded > input.size())
            std::abort();
        // Learned: found again by its issuer and serial without a store search.
        PCCERT_CONTEXT again = nullptr;
        if (CCA_find_cert_by_serial(ctx, 0, cert->pCertInfo, &again) != 0 || !again ||
            again->cbCertEncoded != cert->cbCertEncoded ||
            std::memcmp(again->pbCertEncoded, cert->pbCertEncoded, cert->cbCertEncoded) != 0)
            std::abort();
        CCA_cert_free(ctx, again);
    } else if (rc != -1 || cert) {
        std::abort();
    }
    CCA_cert_free(ctx, cert);
    CCA_final(ctx);
    CCA_close_context(ctx);
    // Parsers leave their complaints on OpenSSL's per-thread error queue; a
    // clear queue keeps allocations balanced for the fuzzer's leak check.
    ERR_clear_error();
    return 0;
}

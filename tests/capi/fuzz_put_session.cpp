// libFuzzer target: CCA_put_session on arbitrary and mutated session blobs.
// A refused blob is a key-structure error, a key that does not unwrap, or a
// vector the key cannot take, and hands out no key; an accepted one hands
// out a key that seals and opens a container.
#include "fuzz_encrypt_setup.h"

#include <openssl/err.h>

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    tarmin::fuzz::encrypt_setup();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    auto &s = tarmin::fuzz::encrypt_setup();
    tarmin::fuzz::Bytes input = tarmin::fuzz::shape(data, size, s.session_blob);
    HCRYPTKEY key = reinterpret_cast<HCRYPTKEY>(1);
    int32_t rc = CCA_put_session(s.ctx, input.data(), static_cast<uint32_t>(input.size()), &key);
    if (rc == 0) {
        if (!key) std::abort();
        unsigned char text[] = "x";
        CapiBlob in{text, 1}, sealed{}, opened{};
        if (CCA_encrypt_session(s.ctx, &in, key, nullptr, &sealed) != 0 ||
            CCA_decrypt_session(s.ctx, &sealed, key, nullptr, &opened) != 0 || opened.cbData != 1 ||
            opened.pbData[0] != 'x')
            std::abort();
        CCA_free(s.ctx, sealed.pbData);
        CCA_free(s.ctx, opened.pbData);
    } else {
        tarmin::fuzz::expect_refused(s.ctx, {0x403F, 0x403D, 0x403B}, rc == -1 && key == nullptr);
    }
    CCA_session_free(s.ctx, key);
    ERR_clear_error();
    return 0;
}

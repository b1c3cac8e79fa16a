// libFuzzer target: CCA_decrypt_file on arbitrary and mutated file
// containers. A refused container is a structure error, a key that does not
// import or take the vector, or a MAC mismatch, and hands out nothing; an
// opened one hands out less than the container held.
#include "fuzz_encrypt_setup.h"

#include <openssl/err.h>

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    tarmin::fuzz::encrypt_setup();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    auto &s = tarmin::fuzz::encrypt_setup();
    tarmin::fuzz::Bytes input = tarmin::fuzz::shape(data, size, s.file_container);
    CapiBlob in{input.data(), static_cast<uint32_t>(input.size())};
    CapiBlob out{reinterpret_cast<unsigned char *>(1), 1};
    int32_t rc = CCA_decrypt_file(s.ctx, &in, s.key, &out);
    if (rc == 0) {
        if (!out.pbData || out.cbData == 0 || out.cbData >= input.size()) std::abort();
    } else {
        tarmin::fuzz::expect_refused(s.ctx, {0x4044, 0x4043, 0x403D, 0x403B}, rc == -1 && !out.pbData && !out.cbData);
    }
    CCA_free(s.ctx, out.pbData);
    ERR_clear_error();
    return 0;
}

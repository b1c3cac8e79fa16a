// libFuzzer target: QZ_Decompress on arbitrary bytes. A successful result
// must round-trip through QZ_Compress.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "common/compress.h"
#include "qzcom.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const bool limited = (tarmin::qzcom::set_decompress_limit(1 << 24), true); // keep memory in bounds
    (void)limited;
    if (size > UINT32_MAX) return 0;
    void *out = nullptr;
    QZ_DWORD length = 0;
    if (QZ_Decompress(data, &out, static_cast<QZ_DWORD>(size), &length) != 0) {
        if (out || length) std::abort();
        return 0;
    }
    void *again = nullptr;
    QZ_DWORD again_length = 0;
    if (QZ_Compress(out, length, &again, &again_length) != 0) std::abort();
    void *back = nullptr;
    QZ_DWORD back_length = 0;
    if (QZ_Decompress(again, &back, again_length, &back_length) != 0 || back_length != length ||
        std::memcmp(back, out, length) != 0)
        std::abort();
    QZ_Free(out);
    QZ_Free(again);
    QZ_Free(back);
    return 0;
}

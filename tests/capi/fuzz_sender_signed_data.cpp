// libFuzzer target: CCA_sender_signed_data and CCA_sender_signed_data_attach
// on arbitrary and mutated signed messages. Every failure must leave the
// outputs empty with a code of the signed-data reader; a success must hand
// out an issuer-and-serial record.
#include "fuzz_seeds.h"
#include "include/qzms.h"

#include <openssl/err.h>

#include <cstdint>
#include <cstdlib>
#include <initializer_list>

namespace {

bool known_failure(uint32_t code) {
    for (uint32_t c : {0x4009u, 0x4019u, 0x401Au, 0x401Bu, 0x401Cu, 0x401Du, 0x401Eu, 0x401Fu, 0x4021u, 0x4023u})
        if (code == c) return true;
    return false;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    tarmin::fuzz::seeds();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const auto &s = tarmin::fuzz::seeds();
    if (size < 2) return 0;
    bool attach = data[0] & 0x80;
    tarmin::fuzz::Bytes input = tarmin::fuzz::shape(data + 1, size - 1, attach ? s.attached : s.detached);

    CapiContext *ctx = nullptr;
    if (CCA_create_context(&ctx) != 0) std::abort();
    CCA_set_flag(ctx, CCA_FLAG_VERIFY_ONLY);
    if (CCA_init(ctx) != 0) std::abort();
    CapiBlob message{input.data(), static_cast<uint32_t>(input.size())};
    SignerSerial *serial = reinterpret_cast<SignerSerial *>(1);
    int64_t when = -1;
    int32_t rc = attach ? CCA_sender_signed_data_attach(ctx, &message, &serial, &when)
                        : CCA_sender_signed_data(ctx, &message, &serial, &when);
    if (rc == 0) {
        if (!serial || serial->SerialNumber.cbData == 0 || serial->Issuer.cbData == 0) std::abort();
    } else {
        if (rc != -1 || serial || when != 0 || !known_failure(static_cast<uint32_t>(CCA_get_code_error(ctx))))
            std::abort();
    }
    CCA_serial_free(ctx, serial);
    CCA_final(ctx);
    CCA_close_context(ctx);
    // Parsers leave their complaints on OpenSSL's per-thread error queue; a
    // clear queue keeps allocations balanced for the fuzzer's leak check.
    ERR_clear_error();
    return 0;
}

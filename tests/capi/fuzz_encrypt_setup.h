// Shared set-up of the container and session-blob fuzz targets: a context
// with the provider's algorithm numbers, a session key of the process, and
// well-formed file containers, session containers and session blobs made
// with them, which the targets mutate (tarmin::fuzz::shape) so that the
// fuzzer reaches the key import, the decryption and the MAC check.
#pragma once

#include "capi/session_key.h"
#include "fuzz_seeds.h"

#include <cstdlib>
#include <set>

namespace tarmin::fuzz {

struct EncryptSetup {
    CapiContext *ctx = nullptr;
    HCRYPTKEY key = nullptr;
    Bytes file_container, session_container, session_blob;
};

inline Bytes bytes_of(const CapiBlob &b) { return Bytes(b.pbData, b.pbData + b.cbData); }

// Made once per process; the context, key and blocks live until exit.
inline EncryptSetup &encrypt_setup() {
    static EncryptSetup s = [] {
        ::setenv("LANG", "C.UTF-8", 1);
        EncryptSetup e;
        if (CCA_create_context(&e.ctx) != 0) setup_failed("no context");
        // What initialisation sets for the GOST provider.
        e.ctx->HashAlgNumber = 0x801E;
        e.ctx->KeyAlgNumber = 0x661E;
        e.ctx->AlgIdNumber = 0x661F;
        e.ctx->ImitAlgNumber = 0x801F;
        if (CCA_create_session(e.ctx, &e.key) != 0) setup_failed(CCA_get_debug_error(e.ctx));
        static const char text[] = "fuzzing the containers of encrypted files and session keys";
        CapiBlob data{reinterpret_cast<unsigned char *>(const_cast<char *>(text)), sizeof text - 1};
        CapiBlob out{};
        if (CCA_encrypt_file(e.ctx, &data, e.key, &out) != 0) setup_failed(CCA_get_debug_error(e.ctx));
        e.file_container = bytes_of(out);
        CCA_free(e.ctx, out.pbData);
        if (CCA_encrypt_session(e.ctx, &data, e.key, nullptr, &out) != 0) setup_failed(CCA_get_debug_error(e.ctx));
        e.session_container = bytes_of(out);
        CCA_free(e.ctx, out.pbData);
        unsigned char *blob = nullptr;
        uint32_t length = 0;
        if (CCA_get_session(e.ctx, e.key, &blob, &length) != 0) setup_failed(CCA_get_debug_error(e.ctx));
        e.session_blob = Bytes(blob, blob + length);
        CCA_free(e.ctx, blob);
        return e;
    }();
    return s;
}

// A refused container or blob: one of the codes of bad input, nothing handed out.
inline void expect_refused(CapiContext *ctx, const std::set<uint32_t> &codes, bool nothing_out) {
    if (!nothing_out || codes.count(static_cast<uint32_t>(CCA_get_code_error(ctx))) == 0) std::abort();
}

} // namespace tarmin::fuzz

// QZ_Compress / QZ_Decompress: zlib streams (RFC 1950).
#include "common/compress.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <zlib.h>

#include "qzcom.h"

namespace tarmin::qzcom {

namespace {
std::atomic<std::size_t> g_limit{kMaxDecompressedSize};
constexpr std::size_t kFirstOutputSize = 64 * 1024;
} // namespace

void set_decompress_limit(std::size_t limit) { g_limit.store(limit ? limit : kMaxDecompressedSize); }

namespace {

// Inflates the whole input into a growing malloc buffer. The stream must end
// exactly at the end of the input, and its output must stay within the limit.
int inflate_all(const unsigned char *data, QZ_DWORD length, unsigned char *&buffer, std::size_t &produced) {
    const std::size_t limit = g_limit.load();
    z_stream zs{};
    if (inflateInit(&zs) != Z_OK) return Z_MEM_ERROR;
    zs.next_in = const_cast<unsigned char *>(data);
    zs.avail_in = length;
    std::size_t capacity = 0;
    int rc;
    for (;;) {
        // With the buffer at the limit, a one-byte probe tells whether the
        // stream would produce more.
        unsigned char probe;
        const bool probing = produced == capacity && capacity >= limit;
        if (probing) {
            zs.next_out = &probe;
            zs.avail_out = 1;
        } else {
            if (produced == capacity) {
                std::size_t grown = std::min(limit, std::max(kFirstOutputSize, capacity * 2));
                auto *p = static_cast<unsigned char *>(std::realloc(buffer, grown));
                if (!p) {
                    rc = Z_MEM_ERROR;
                    break;
                }
                buffer = p;
                capacity = grown;
            }
            zs.next_out = buffer + produced;
            zs.avail_out = static_cast<uInt>(std::min<std::size_t>(capacity - produced, UINT32_MAX));
        }
        const uInt room = zs.avail_out;
        rc = inflate(&zs, Z_NO_FLUSH);
        const std::size_t got = room - zs.avail_out;
        if (probing && got > 0) {
            rc = Z_MEM_ERROR; // over-long
            break;
        }
        if (!probing) produced += got;
        if (rc != Z_OK) break;
        if (zs.avail_in == 0 && zs.avail_out > 0) {
            rc = Z_BUF_ERROR; // all input used before the stream's end: cut short
            break;
        }
    }
    inflateEnd(&zs);
    if (rc == Z_STREAM_END) return zs.avail_in == 0 ? Z_OK : Z_DATA_ERROR; // bytes after the stream
    if (rc == Z_NEED_DICT) return Z_DATA_ERROR;                           // preset dictionaries are not ours
    return rc == Z_OK ? Z_DATA_ERROR : rc;                                // Z_BUF_ERROR: cut short
}

} // namespace

} // namespace tarmin::qzcom

extern "C" {

int QZ_Compress(const void *data, QZ_DWORD length, void **out, QZ_DWORD *out_length) {
    if (out) *out = nullptr;
    if (out_length) *out_length = 0;
    if (!out || !out_length || (!data && length > 0)) return Z_STREAM_ERROR;
    uLongf size = compressBound(length);
    auto *buffer = static_cast<unsigned char *>(std::malloc(size));
    if (!buffer) return Z_MEM_ERROR;
    static const unsigned char kEmpty = 0;
    int rc = compress2(buffer, &size, data ? static_cast<const Bytef *>(data) : &kEmpty, length, Z_DEFAULT_COMPRESSION);
    if (rc == Z_OK && size > UINT32_MAX) rc = Z_BUF_ERROR;
    if (rc != Z_OK) {
        std::free(buffer);
        return rc;
    }
    *out = buffer;
    *out_length = static_cast<QZ_DWORD>(size);
    return 0;
}

int QZ_Decompress(const void *data, void **out, QZ_DWORD length, QZ_DWORD *out_length) {
    if (out) *out = nullptr;
    if (out_length) *out_length = 0;
    if (!out || !out_length || !data) return Z_STREAM_ERROR;
    unsigned char *buffer = nullptr;
    std::size_t produced = 0;
    int rc = tarmin::qzcom::inflate_all(static_cast<const unsigned char *>(data), length, buffer, produced);
    if (rc != Z_OK) {
        std::free(buffer);
        return rc;
    }
    if (!buffer) buffer = static_cast<unsigned char *>(std::malloc(1)); // an empty stream
    if (!buffer) return Z_MEM_ERROR;
    *out = buffer;
    *out_length = static_cast<QZ_DWORD>(produced);
    return 0;
}

} // extern "C"

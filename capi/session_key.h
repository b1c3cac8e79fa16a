// Session key handles handed out by the library, and what encryption with
// a session key shares between the file containers and the session
// containers: the MAC of a plaintext and the trailer of length-prefixed
// fields read from the end.
#pragma once

#include "capi/capi_internal.h"
#include "platform/crypto/symmetric.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

namespace tarmin::qzms {

// Session keys are the provider's: each belongs to the context it was made
// on and lives until the caller frees it or that context is released
// (CCA_final), whichever comes first. A handle is not an address but a
// 64-bit number drawn once from a counter: no handle is handed out twice in
// a process, so a freed handle never names a key made after it. Handles are
// looked up in a table of live ones; a freed, foreign or made-up value is
// refused, never followed.

// A key in use: kept alive while an operation uses it, even if another
// thread frees its handle meanwhile (the key is wiped when the last user lets
// it go).
using KeyRef = std::shared_ptr<crypto::SymmetricKey>;

// A new handle owning key, made on owner; null when memory is exhausted.
HCRYPTKEY make_key_handle(const CapiContext *owner, crypto::SymmetricKeyPtr key);
// The key behind a live handle; null for null or a value that is not one.
KeyRef key_of(HCRYPTKEY handle);
// Ends a live handle (null and dead handles ignored); its key is wiped.
void destroy_key_handle(HCRYPTKEY handle);
// The release of a context: ends every handle made on it, the file key
// among them, and resets CryptFileKey.
void release_context_keys(CapiContext *ctx);
// The same; the name the context's release calls.
inline void destroy_file_key(CapiContext *ctx) { release_context_keys(ctx); }

// Limits of the trailer fields.
inline constexpr uint32_t kMaxWrappedKey = 1024;
inline constexpr uint32_t kMaxVector = 256;
inline constexpr uint32_t kMaxMac = 256;

// The MAC of a plaintext keyed with key (a hash object of ImitAlgNumber).
// Records 0x4035 / 0x4036 / 0x4037 with caller "impr_data()".
std::optional<Bytes> impr_data(CapiContext *ctx, const crypto::SymmetricKey &key, const void *data, size_t length);

// Whether data can be sealed in a container: present and not empty (an
// empty ciphertext makes a container that no one can open). Records 0x4041.
bool sealable(CapiContext *ctx, const CapiBlob *data, const char *caller);

// Decrypts a final block with key, checks the MAC of the plaintext and hands
// the plaintext out. Records 0x4042, impr_data's codes, 0x4043 for a MAC
// that does not match (in length or value) and 0x4009; nothing is handed out
// on failure and the plaintext is wiped.
int32_t open_sealed(CapiContext *ctx, const crypto::SymmetricKey &key, const uint8_t *cipher, size_t length,
                    const uint8_t *mac, uint32_t mac_length, CapiBlob *out, const char *caller);

// Reads the fields of a container from its end: each field is preceded, in
// reading order, by its 32-bit little-endian length that follows it in the
// container. take() hands out the next field (null when the length does not
// fit in what is left or exceeds limit); rest() is what lies in front.
class TrailerReader {
public:
    TrailerReader(const uint8_t *data, size_t length) : data_(data), left_(data ? length : 0) {}
    const uint8_t *take(uint32_t limit, uint32_t *length);
    const uint8_t *rest() const { return data_; }
    size_t rest_length() const { return left_; }

private:
    const uint8_t *data_;
    size_t left_;
};

// Appends a field and its 32-bit little-endian length.
void append_field(Bytes &out, const void *data, size_t length);

// Overwrites a buffer with zeros before it is released.
void wipe(Bytes &b);

// Empties an output block before anything can fail.
void reset_blob(CapiBlob *b);
// Hands out head followed by tail as one block; false when memory is
// exhausted or the whole would not fit a 32-bit length.
bool hand_out_joined(CapiBlob *out, const Bytes &head, const Bytes &tail);

} // namespace tarmin::qzms

// GOST 28147-89 session keys of the provider: what CryptGenKey, CryptDeriveKey,
// CryptImportKey / CryptExportKey (SIMPLEBLOB), CryptEncrypt / CryptDecrypt
// with a final block, CryptGetKeyParam / CryptSetKeyParam (KP_IV, KP_ALGID),
// CryptCreateHash with a MAC algorithm keyed by a session key, and
// CryptHashSessionKey do for a caller of the system's interface.
//
// Cipher: GOST 28147-89 in CFB-64 mode with the CryptoPro-A parameter set
// ("1.2.643.2.2.31.1") and CryptoPro key meshing (RFC 4357, section 2.3),
// as the GOST engine's "gost89" cipher runs it. A final block is the whole
// data: CFB needs no padding, so the ciphertext is as long as the plaintext.
// Encrypting or decrypting never changes the key's vector (KP_IV): each
// call starts from it, as a final block does in the system's interface.
//
// MAC: the GOST 28147-89 imitation insert (the engine's "gost-mac"), 4 bytes,
// keyed with the session key, CryptoPro-A S-box, zero start vector.
//
// Every function that fails sets the thread's last error (crypto_error.h)
// and returns false / null / nullopt. Keys are plain objects owned by their
// caller (std::unique_ptr), safe to use from one thread at a time; the key
// bytes are wiped when a key is destroyed.
#pragma once

#include "platform/crypto/provider.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

#pragma GCC visibility push(default)

namespace tarmin::crypto {

// Algorithm numbers, as the system's interface names them (ALG_ID).
inline constexpr uint32_t kAlgGost28147 = 0x661E;          // CALG_G28147: session keys
inline constexpr uint32_t kAlgProExport = 0x661F;          // CALG_PRO_EXPORT: CryptoPro key wrap
inline constexpr uint32_t kAlgGost28147Mac = 0x801F;       // CALG_G28147_IMIT: the MAC
inline constexpr uint32_t kAlgGostR3411 = 0x801E;          // CALG_GR3411: GOST R 34.11-94
inline constexpr uint32_t kAlgGostR3411_2012_256 = 0x8021; // CALG_GR3411_2012_256
inline constexpr uint32_t kAlgGostR3411_2012_512 = 0x8022; // CALG_GR3411_2012_512

// Errors of this file besides those of crypto_error.h.
inline constexpr uint32_t kErrBadKey = 0x80090003;      // NTE_BAD_KEY: a key unfit for the operation
inline constexpr uint32_t kErrBadLength = 0x80090004;   // NTE_BAD_LEN: a length the operation cannot take
inline constexpr uint32_t kErrBadKeyState = 0x8009000B; // NTE_BAD_KEY_STATE: key not exportable

inline constexpr size_t kGostKeySize = 32; // GOST 28147-89 key bytes
inline constexpr size_t kGostIvSize = 8;   // GOST 28147-89 block / vector bytes
inline constexpr size_t kGostMacSize = 4;  // imitation insert bytes

// The hash algorithm of an algorithm number (0x801E, 0x8021, 0x8022);
// nullopt with kErrBadAlgorithm for any other.
std::optional<HashAlg> hash_alg_from_id(uint32_t alg_id);

// SIMPLEBLOB: a session key exported under another key (the key-encryption
// key, KEK) with the CryptoPro key wrap of RFC 4357 (section 6.3), the KEK
// diversified by the 8-byte UKM (section 6.5). Layout, integers
// little-endian:
//   offset size  field
//        0    1  bType            0x01 (SIMPLEBLOB)
//        1    1  bVersion         0x20
//        2    2  reserved         0
//        4    4  aiKeyAlg         0x661E, the algorithm of the wrapped key
//        8    4  Magic            0x374A51FD
//       12    4  EncryptKeyAlgId  0x661E, the cipher of the wrap
//       16    8  UKM              random, diversifies the KEK
//       24   32  encrypted key    GOST 28147-89 ECB under KEK(UKM)
//       56    4  MAC              imitation insert of the key under KEK(UKM), start vector UKM
//       60   11  parameter set    DER SEQUENCE { OID 1.2.643.2.2.31.1 }
// 71 bytes in all. The vector of the session key is not part of the blob.
inline constexpr size_t kSimpleBlobSize = 71;
inline constexpr uint32_t kSimpleBlobMagic = 0x374A51FD;

class SymmetricKey;
using SymmetricKeyPtr = std::unique_ptr<SymmetricKey>;

class SymmetricKey {
public:
    // CryptGenKey: a fresh random key and vector of alg_id (only 0x661E).
    // kErrBadAlgorithm for another algorithm.
    static SymmetricKeyPtr generate(uint32_t alg_id, bool exportable);
    // CryptDeriveKey: a key of alg_id whose value is the first 32 bytes of a
    // hash value (at least 32 bytes, else kErrBadLength), with a fresh
    // random vector.
    static SymmetricKeyPtr derive(uint32_t alg_id, const Bytes &hash_value, bool exportable);
    // A key of known value and vector (tests, interoperability).
    static SymmetricKeyPtr from_value(const uint8_t (&value)[kGostKeySize], const uint8_t (&iv)[kGostIvSize],
                                      bool exportable);
    // CryptImportKey of a SIMPLEBLOB under kek. The kek must have KP_ALGID
    // 0x661F (kErrBadAlgorithm otherwise). A blob of another length or
    // header, or whose MAC does not match (wrong KEK, altered bytes), fails
    // with kErrBadData. The new key gets a fresh random vector.
    static SymmetricKeyPtr import_simple_blob(const SymmetricKey &kek, const void *blob, size_t length,
                                              bool exportable);

    ~SymmetricKey();
    SymmetricKey(const SymmetricKey &) = delete;
    SymmetricKey &operator=(const SymmetricKey &) = delete;

    // A copy of the key (CryptDuplicateKey).
    SymmetricKeyPtr duplicate() const;

    // KP_ALGID: 0x661E as made; 0x661F makes the key a key-encryption key
    // for export_simple_blob / import_simple_blob. Other values:
    // kErrBadAlgorithm.
    uint32_t alg_id() const { return alg_id_; }
    bool set_alg_id(uint32_t alg_id);

    // KP_IV: 8 bytes. set_iv with another length fails with kErrBadLength.
    const std::array<uint8_t, kGostIvSize> &iv() const { return iv_; }
    bool set_iv(const void *iv, size_t length);

    bool exportable() const { return exportable_; }

    // CryptEncrypt / CryptDecrypt of a final block: the whole data in one go,
    // starting from the key's vector. Empty input gives empty output.
    std::optional<Bytes> encrypt(const void *data, size_t length) const;
    std::optional<Bytes> decrypt(const void *data, size_t length) const;

    // The 4-byte imitation insert of the data keyed with this key
    // (a CALG_G28147_IMIT hash object).
    std::optional<Bytes> mac(const void *data, size_t length) const;

    // CryptExportKey(SIMPLEBLOB) of this key under kek (KP_ALGID 0x661F,
    // else kErrBadAlgorithm); kErrBadKeyState when this key is not
    // exportable.
    std::optional<Bytes> export_simple_blob(const SymmetricKey &kek) const;

    // CryptHashSessionKey: feeds the key value into a hash.
    bool hash_into(Hasher &hasher) const;

private:
    SymmetricKey() = default;
    std::array<uint8_t, kGostKeySize> value_{};
    std::array<uint8_t, kGostIvSize> iv_{};
    uint32_t alg_id_ = kAlgGost28147;
    bool exportable_ = false;

    friend struct SymmetricKeyAccess; // tests of the key wrap read the value
};

// The key-wrap steps of RFC 4357 on the GOST 28147-89 cipher (CryptoPro-A
// S-box), exposed for tests against published and engine-made values.
// KEK diversification (section 6.5).
std::optional<std::array<uint8_t, kGostKeySize>> diversify_kek(const uint8_t (&kek)[kGostKeySize],
                                                                const uint8_t (&ukm)[kGostIvSize]);
// CryptoPro key wrap (section 6.3): UKM | encrypted key | MAC (44 bytes).
std::optional<Bytes> wrap_key_cryptopro(const uint8_t (&kek)[kGostKeySize], const uint8_t (&ukm)[kGostIvSize],
                                        const uint8_t (&cek)[kGostKeySize]);
// Unwrap (section 6.4) of UKM | encrypted key | MAC; kErrBadData when the MAC
// does not match.
std::optional<std::array<uint8_t, kGostKeySize>> unwrap_key_cryptopro(const uint8_t (&kek)[kGostKeySize],
                                                                       const void *wrapped, size_t length);
// The imitation insert of data under a raw key with a start vector (zero
// vector: the plain MAC).
std::optional<Bytes> gost_mac(const uint8_t (&key)[kGostKeySize], const uint8_t (&iv)[kGostIvSize],
                              const void *data, size_t length);

} // namespace tarmin::crypto

#pragma GCC visibility pop

// GOST 28147-89 session keys: the cipher and MAC against the openssl command
// line, the SIMPLEBLOB key wrap against the engine's own key transport, and
// the failures of keys and blobs.
#include "crypto_test_util.h"

#include "platform/crypto/crypto_error.h"
#include "platform/crypto/envelope.h"
#include "platform/crypto/symmetric.h"

#include <gtest/gtest.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstring>

namespace tarmin::crypto {
// The test reads key values through the friend of SymmetricKey.
struct SymmetricKeyAccess {
    static const std::array<uint8_t, kGostKeySize> &value(const SymmetricKey &k) { return k.value_; }
};
} // namespace tarmin::crypto

namespace {

using namespace tarmin::crypto;
using namespace tarmin::test;
using namespace tarmin::test::crypto;

constexpr uint8_t kKey[kGostKeySize] = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0a,
                                        0x0b, 0x0c, 0x0d, 0x0e, 0x0f, 0x10, 0x11, 0x12, 0x13, 0x14, 0x15,
                                        0x16, 0x17, 0x18, 0x19, 0x1a, 0x1b, 0x1c, 0x1d, 0x1e, 0x1f};
constexpr uint8_t kIv[kGostIvSize] = {1, 2, 3, 4, 5, 6, 7, 8};

std::string pattern(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 131 + 7) & 0xFF);
    return s;
}

SymmetricKeyPtr known_key(bool exportable = true) { return SymmetricKey::from_value(kKey, kIv, exportable); }

SymmetricKeyPtr kek_of(const SymmetricKey &key) {
    SymmetricKeyPtr kek = key.duplicate();
    EXPECT_TRUE(kek->set_alg_id(kAlgProExport));
    return kek;
}

TEST(Gost28147, EncryptsAsOpensslEncWithCryptoProAAcrossKeyMeshingBoundaries) {
    // 1024 bytes is where CryptoPro key meshing changes the key.
    auto dir = make_temp_dir("enc");
    auto conf = openssl_conf_cryptopro_a(dir);
    auto key = known_key();
    for (size_t n : {size_t(1), size_t(7), size_t(8), size_t(1023), size_t(1024), size_t(1025), size_t(5000)}) {
        std::string plain = pattern(n);
        write_file(dir / "in", plain);
        std::string expected;
        ASSERT_EQ(0, openssl({"enc", "-gost89", "-K", hex(kKey, sizeof kKey), "-iv", hex(kIv, sizeof kIv), "-in",
                              (dir / "in").string()},
                             &expected, nullptr, conf));
        auto cipher = key->encrypt(plain.data(), plain.size());
        ASSERT_TRUE(cipher);
        EXPECT_EQ(hex(expected), hex(*cipher)) << n << " bytes";
        auto back = key->decrypt(cipher->data(), cipher->size());
        ASSERT_TRUE(back);
        EXPECT_EQ(plain, string_of(*back));
    }
}

TEST(Gost28147, FinalBlockStartsFromTheKeyVectorEveryTime) {
    auto key = known_key();
    std::string plain = pattern(100);
    auto first = key->encrypt(plain.data(), plain.size());
    auto second = key->encrypt(plain.data(), plain.size());
    ASSERT_TRUE(first && second);
    EXPECT_EQ(*first, *second);
    EXPECT_EQ(0, std::memcmp(key->iv().data(), kIv, sizeof kIv));

    uint8_t other_iv[kGostIvSize] = {9, 9, 9, 9, 9, 9, 9, 9};
    ASSERT_TRUE(key->set_iv(other_iv, sizeof other_iv));
    auto third = key->encrypt(plain.data(), plain.size());
    ASSERT_TRUE(third);
    EXPECT_NE(*first, *third);

    EXPECT_FALSE(key->set_iv(other_iv, 7));
    EXPECT_EQ(kErrBadLength, last_error());
    EXPECT_FALSE(key->set_iv(nullptr, 8));

    auto empty = key->encrypt("", 0);
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->empty());
}

TEST(Gost28147, MacIsTheEnginesImitationInsert) {
    auto dir = make_temp_dir("mac");
    auto key = known_key();
    for (size_t n : {size_t(1), size_t(8), size_t(20), size_t(4096)}) {
        std::string data = pattern(n);
        write_file(dir / "in", data);
        std::string out;
        ASSERT_EQ(0, openssl({"dgst", "-mac", "gost-mac", "-macopt", "hexkey:" + hex(kKey, sizeof kKey),
                              (dir / "in").string()},
                             &out));
        auto mac = key->mac(data.data(), data.size());
        ASSERT_TRUE(mac);
        ASSERT_EQ(kGostMacSize, mac->size());
        EXPECT_NE(std::string::npos, out.find("= " + hex(*mac))) << out;
    }
    // The vector of the key plays no part in its MAC.
    std::string data = pattern(64);
    auto before = key->mac(data.data(), data.size());
    uint8_t iv[kGostIvSize] = {7, 7, 7, 7, 7, 7, 7, 7};
    key->set_iv(iv, sizeof iv);
    EXPECT_EQ(*before, *key->mac(data.data(), data.size()));
}

TEST(Gost28147, MacWithStartVectorEqualsVectorXoredIntoTheFirstBlock) {
    std::string data = pattern(32);
    auto with_iv = gost_mac(kKey, kIv, data.data(), data.size());
    std::string xored = data;
    for (size_t i = 0; i < kGostIvSize; ++i) xored[i] = static_cast<char>(xored[i] ^ kIv[i]);
    static const uint8_t zero[kGostIvSize] = {};
    auto plain = gost_mac(kKey, zero, xored.data(), xored.size());
    ASSERT_TRUE(with_iv && plain);
    EXPECT_EQ(*plain, *with_iv);
    EXPECT_NE(*gost_mac(kKey, zero, data.data(), data.size()), *with_iv);
}

TEST(Gost28147, GeneratedKeysAreFreshAndOfTheSessionAlgorithmOnly) {
    auto a = SymmetricKey::generate(kAlgGost28147, true);
    auto b = SymmetricKey::generate(kAlgGost28147, true);
    ASSERT_TRUE(a && b);
    EXPECT_NE(SymmetricKeyAccess::value(*a), SymmetricKeyAccess::value(*b));
    EXPECT_NE(a->iv(), b->iv());
    EXPECT_EQ(kAlgGost28147, a->alg_id());

    EXPECT_FALSE(SymmetricKey::generate(kAlgProExport, true));
    EXPECT_EQ(kErrBadAlgorithm, last_error());
    EXPECT_FALSE(a->set_alg_id(0x6601));
    EXPECT_EQ(kErrBadAlgorithm, last_error());
    EXPECT_EQ(kAlgGost28147, a->alg_id());
}

TEST(Gost28147, DerivedKeyIsTheHashValueAndKeyHashingIsOrdered) {
    auto h = hash(HashAlg::Gost94, "constant", 8);
    ASSERT_TRUE(h);
    auto k1 = SymmetricKey::derive(kAlgGost28147, *h, true);
    auto k2 = SymmetricKey::derive(kAlgGost28147, *h, true);
    ASSERT_TRUE(k1 && k2);
    EXPECT_EQ(SymmetricKeyAccess::value(*k1), SymmetricKeyAccess::value(*k2));
    EXPECT_EQ(0, std::memcmp(SymmetricKeyAccess::value(*k1).data(), h->data(), kGostKeySize));
    EXPECT_FALSE(SymmetricKey::derive(kAlgGost28147, Bytes(31, 1), true));
    EXPECT_EQ(kErrBadLength, last_error());

    // Hashing two keys in the two orders gives two different values.
    auto x = SymmetricKey::generate(kAlgGost28147, true);
    auto y = SymmetricKey::generate(kAlgGost28147, true);
    Hasher xy(HashAlg::Gost94), yx(HashAlg::Gost94);
    ASSERT_TRUE(x->hash_into(xy) && y->hash_into(xy) && y->hash_into(yx) && x->hash_into(yx));
    EXPECT_NE(*xy.finish(), *yx.finish());

    EXPECT_EQ(HashAlg::Gost94, hash_alg_from_id(0x801E));
    EXPECT_EQ(HashAlg::Streebog256, hash_alg_from_id(0x8021));
    EXPECT_FALSE(hash_alg_from_id(0x8004));
}

TEST(SimpleBlob, ExportImportRoundTripKeepsTheKeyNotTheVector) {
    auto session = SymmetricKey::generate(kAlgGost28147, true);
    auto kek = kek_of(*SymmetricKey::generate(kAlgGost28147, true));
    auto blob = session->export_simple_blob(*kek);
    ASSERT_TRUE(blob);
    ASSERT_EQ(kSimpleBlobSize, blob->size());
    EXPECT_EQ(0x01, (*blob)[0]);
    EXPECT_EQ(0x20, (*blob)[1]);
    EXPECT_EQ(0x1E, (*blob)[4]);
    EXPECT_EQ(0x66, (*blob)[5]);
    EXPECT_EQ(0xFD, (*blob)[8]);
    EXPECT_EQ(0x37, (*blob)[11]);

    auto back = SymmetricKey::import_simple_blob(*kek, blob->data(), blob->size(), true);
    ASSERT_TRUE(back);
    EXPECT_EQ(SymmetricKeyAccess::value(*session), SymmetricKeyAccess::value(*back));
    // The UKM is fresh for every export.
    auto again = session->export_simple_blob(*kek);
    EXPECT_NE(*blob, *again);
    // With the vector carried beside the blob, the imported key decrypts.
    back->set_iv(session->iv().data(), kGostIvSize);
    std::string plain = pattern(3000);
    auto c = session->encrypt(plain.data(), plain.size());
    EXPECT_EQ(plain, string_of(*back->decrypt(c->data(), c->size())));
}

TEST(SimpleBlob, EveryAlteredByteWrongKekOrLengthIsRefused) {
    auto session = SymmetricKey::generate(kAlgGost28147, true);
    auto kek = kek_of(*SymmetricKey::generate(kAlgGost28147, true));
    auto blob = *session->export_simple_blob(*kek);
    for (size_t i = 0; i < blob.size(); ++i) {
        Bytes bad = blob;
        bad[i] ^= 0x01;
        EXPECT_FALSE(SymmetricKey::import_simple_blob(*kek, bad.data(), bad.size(), true)) << "byte " << i;
        EXPECT_EQ(kErrBadData, last_error()) << "byte " << i;
    }
    auto other = kek_of(*SymmetricKey::generate(kAlgGost28147, true));
    EXPECT_FALSE(SymmetricKey::import_simple_blob(*other, blob.data(), blob.size(), true));
    EXPECT_EQ(kErrBadData, last_error());
    EXPECT_FALSE(SymmetricKey::import_simple_blob(*kek, blob.data(), blob.size() - 1, true));
    EXPECT_EQ(kErrBadData, last_error());
    Bytes longer = blob;
    longer.push_back(0);
    EXPECT_FALSE(SymmetricKey::import_simple_blob(*kek, longer.data(), longer.size(), true));
    EXPECT_FALSE(SymmetricKey::import_simple_blob(*kek, nullptr, blob.size(), true));
    EXPECT_EQ(kErrInvalidArg, last_error());
}

TEST(SimpleBlob, NeedsAnExportKekAndAnExportableKey) {
    auto kek = SymmetricKey::generate(kAlgGost28147, true);
    auto session = SymmetricKey::generate(kAlgGost28147, true);
    EXPECT_FALSE(session->export_simple_blob(*kek));
    EXPECT_EQ(kErrBadAlgorithm, last_error());
    ASSERT_TRUE(kek->set_alg_id(kAlgProExport));
    auto blob = session->export_simple_blob(*kek);
    ASSERT_TRUE(blob);

    auto locked = SymmetricKey::generate(kAlgGost28147, false);
    EXPECT_FALSE(locked->export_simple_blob(*kek));
    EXPECT_EQ(kErrBadKeyState, last_error());
    // An imported key keeps the exportability it was imported with.
    auto imported = SymmetricKey::import_simple_blob(*kek, blob->data(), blob->size(), false);
    ASSERT_TRUE(imported);
    EXPECT_FALSE(imported->export_simple_blob(*kek));

    kek->set_alg_id(kAlgGost28147);
    EXPECT_FALSE(SymmetricKey::import_simple_blob(*kek, blob->data(), blob->size(), true));
    EXPECT_EQ(kErrBadAlgorithm, last_error());
}

// ---- The key wrap against the engine ---------------------------------------
//
// The engine wraps the content key of enveloped data for a GOST R 34.10-2001
// recipient with the same CryptoPro key wrap, under a key agreed with VKO.
// Taking that agreement from the engine, our unwrap must accept its wrapped
// key (the MAC proves diversification, ECB and MAC), and our wrap with the
// same UKM must give the same bytes.

// A minimal DER reader: the element at p, its tag, its content.
struct Der {
    uint8_t tag = 0;
    const uint8_t *start = nullptr; // the tag
    const uint8_t *content = nullptr;
    size_t length = 0;
    const uint8_t *end = nullptr; // just after the element
};
bool read_der(const uint8_t *p, const uint8_t *limit, Der *d) {
    if (limit - p < 2) return false;
    d->start = p;
    d->tag = p[0];
    size_t len = p[1];
    const uint8_t *q = p + 2;
    if (len & 0x80) {
        int n = len & 0x7F;
        if (n == 0 || n > 4 || limit - q < n) return false;
        len = 0;
        for (int i = 0; i < n; ++i) len = len << 8 | *q++;
    }
    if (static_cast<size_t>(limit - q) < len) return false;
    d->content = q;
    d->length = len;
    d->end = q + len;
    return true;
}
// The children of a constructed element.
std::vector<Der> children(const Der &d) {
    std::vector<Der> out;
    for (const uint8_t *p = d.content; p < d.end;) {
        Der c;
        if (!read_der(p, d.end, &c)) break;
        out.push_back(c);
        p = c.end;
    }
    return out;
}

TEST(KeyWrap, UnwrapsAndRewrapsTheEnginesKeyTransport) {
    ASSERT_TRUE(ensure_provider());
    auto dir = make_temp_dir("wrap");
    PemPair pair = make_self_signed(dir, "Recipient2001", "gost2001");
    write_file(dir / "data", pattern(64));
    ASSERT_EQ(0, openssl({"cms", "-encrypt", "-gost89", "-binary", "-in", (dir / "data").string(), "-outform", "DER",
                          "-out", (dir / "env.der").string(), pair.cert.string()}));
    std::string env = read_file(dir / "env.der");
    const auto *b = reinterpret_cast<const uint8_t *>(env.data());

    // ContentInfo -> [0] -> EnvelopedData -> recipientInfos -> ktri -> encryptedKey
    Der ci, explicit0, envd;
    ASSERT_TRUE(read_der(b, b + env.size(), &ci));
    explicit0 = children(ci)[1];
    envd = children(explicit0)[0];
    auto env_fields = children(envd);
    Der rinfos = env_fields[1];
    ASSERT_EQ(0x31, rinfos.tag);
    auto ktri = children(children(rinfos)[0]);
    Der encrypted_key = ktri.back();
    ASSERT_EQ(0x04, encrypted_key.tag);

    // GostR3410-KeyTransport ::= SEQUENCE { Gost28147-89-EncryptedKey,
    //   [0] IMPLICIT GostR3410-TransportParameters }
    Der transport;
    ASSERT_TRUE(read_der(encrypted_key.content, encrypted_key.end, &transport));
    auto tparts = children(transport);
    ASSERT_EQ(2u, tparts.size());
    auto enc = children(tparts[0]); // encryptedKey (32), macKey (4)
    ASSERT_EQ(32u, enc.front().length);
    ASSERT_EQ(4u, enc.back().length);
    auto params = children(tparts[1]); // paramSet OID, [0] ephemeral key, ukm
    ASSERT_EQ(3u, params.size());
    ASSERT_EQ(8u, params[2].length);

    // The ephemeral SubjectPublicKeyInfo, its implicit tag made a SEQUENCE again.
    Bytes spki(params[1].start, params[1].end);
    spki[0] = 0x30;
    const uint8_t *sp = spki.data();
    EvpPkeyPtr ephemeral(d2i_PUBKEY(nullptr, &sp, static_cast<long>(spki.size())));
    ASSERT_TRUE(ephemeral);

    EvpPkeyPtr own = load_key(pair.key);
    ASSERT_TRUE(own);
    EVP_PKEY_CTX *ctx = EVP_PKEY_CTX_new(own.get(), nullptr);
    ASSERT_TRUE(ctx);
    uint8_t ukm[kGostIvSize];
    std::memcpy(ukm, params[2].content, sizeof ukm);
    ASSERT_EQ(1, EVP_PKEY_derive_init(ctx));
    ASSERT_EQ(1, EVP_PKEY_derive_set_peer(ctx, ephemeral.get()));
    ASSERT_LT(0, EVP_PKEY_CTX_ctrl(ctx, -1, EVP_PKEY_OP_DERIVE, EVP_PKEY_CTRL_SET_IV, 8, ukm));
    uint8_t kek[kGostKeySize];
    size_t kek_len = sizeof kek;
    ASSERT_EQ(1, EVP_PKEY_derive(ctx, kek, &kek_len));
    EVP_PKEY_CTX_free(ctx);
    ASSERT_EQ(kGostKeySize, kek_len);

    Bytes wrapped(ukm, ukm + 8);
    wrapped.insert(wrapped.end(), enc.front().content, enc.front().end);
    wrapped.insert(wrapped.end(), enc.back().content, enc.back().end);
    auto cek = unwrap_key_cryptopro(kek, wrapped.data(), wrapped.size());
    ASSERT_TRUE(cek) << "the engine's wrapped key does not unwrap";
    // The engine's own unwrap gives the same content key.
    EVP_PKEY_CTX *dctx = EVP_PKEY_CTX_new(own.get(), nullptr);
    uint8_t engine_cek[64];
    size_t engine_len = sizeof engine_cek;
    ASSERT_EQ(1, EVP_PKEY_decrypt_init(dctx));
    ASSERT_EQ(1, EVP_PKEY_decrypt(dctx, engine_cek, &engine_len, encrypted_key.content, encrypted_key.length));
    EVP_PKEY_CTX_free(dctx);
    EXPECT_EQ(hex(engine_cek, engine_len), hex(cek->data(), cek->size()));

    uint8_t cek_raw[kGostKeySize];
    std::memcpy(cek_raw, cek->data(), sizeof cek_raw);
    auto rewrapped = wrap_key_cryptopro(kek, ukm, cek_raw);
    ASSERT_TRUE(rewrapped);
    EXPECT_EQ(hex(wrapped), hex(*rewrapped));

    kek[0] ^= 1;
    EXPECT_FALSE(unwrap_key_cryptopro(kek, wrapped.data(), wrapped.size()));
    EXPECT_EQ(kErrBadData, last_error());
}

// Whether the stack below this frame still holds the bytes: the frames of
// the calls that the caller just made lay there. The memory below the stack
// pointer is read as it is left, without calling anything that would write
// over it (and without the address checker, which sees it as unused).
__attribute__((noinline, no_sanitize_address)) bool stack_below_holds(const uint8_t *bytes, size_t n) {
    const volatile uint8_t *top = static_cast<const volatile uint8_t *>(__builtin_frame_address(0));
    for (size_t below = n + 64; below < (size_t{1} << 16); ++below) {
        const volatile uint8_t *p = top - below;
        size_t k = 0;
        while (k < n && p[k] == bytes[k]) ++k;
        if (k == n) return true;
    }
    return false;
}

// Byte by byte, so that the key never passes through vector registers,
// which the dynamic linker saves on the stack when it binds a function.
bool same_bytes(const uint8_t *a, const uint8_t *b, size_t n) {
    uint8_t diff = 0;
    for (size_t i = 0; i < n; ++i) diff |= static_cast<uint8_t>(a[i] ^ b[i]);
    return diff == 0;
}

__attribute__((noinline)) void wrap_and_unwrap(const uint8_t (&kek)[kGostKeySize], const uint8_t (&ukm)[kGostIvSize],
                                               const uint8_t (&cek)[kGostKeySize], bool *round_trip) {
    // The key unwrapped here is made in place and wiped, so that this frame
    // leaves no copy of its own.
    auto wrapped = wrap_key_cryptopro(kek, ukm, cek);
    if (!wrapped) return;
    auto back = unwrap_key_cryptopro(kek, wrapped->data(), wrapped->size());
    *round_trip = back && same_bytes(back->data(), cek, kGostKeySize);
    if (back) OPENSSL_cleanse(back->data(), back->size());
}

__attribute__((noinline)) void export_and_import(const uint8_t (&cek)[kGostKeySize], bool *round_trip) {
    auto key = SymmetricKey::from_value(cek, kIv, true);
    auto kek = kek_of(*known_key());
    auto blob = key->export_simple_blob(*kek);
    auto back = blob ? SymmetricKey::import_simple_blob(*kek, blob->data(), blob->size(), false) : nullptr;
    *round_trip = back && same_bytes(SymmetricKeyAccess::value(*back).data(), cek, kGostKeySize);
}

// Wrapping and unwrapping leave no copy of the content key on the stack.
TEST(KeyWrap, LeavesNoCopyOfTheContentKeyOnTheStack) {
    // The content key is made here, not drawn from the random generator,
    // whose own work may leave its output on the stack.
    uint8_t kek[kGostKeySize], ukm[kGostIvSize], cek[kGostKeySize];
    ASSERT_TRUE(random_bytes(kek, sizeof kek) && random_bytes(ukm, sizeof ukm));
    for (size_t i = 0; i < sizeof cek; ++i) cek[i] = static_cast<uint8_t>(0xC3 ^ (i * 29) ^ kek[i]);
    bool round_trip = false;
    OPENSSL_cleanse(&round_trip, 0); // bound before any key is about
    wrap_and_unwrap(kek, ukm, cek, &round_trip);
    ASSERT_TRUE(round_trip);
    EXPECT_FALSE(stack_below_holds(cek, sizeof cek)) << "the content key stayed on the stack after the key wrap";
    export_and_import(cek, &round_trip);
    ASSERT_TRUE(round_trip);
    EXPECT_FALSE(stack_below_holds(cek, sizeof cek)) << "the content key stayed on the stack after a SIMPLEBLOB";
    OPENSSL_cleanse(cek, sizeof cek);
    OPENSSL_cleanse(kek, sizeof kek);
}

} // namespace

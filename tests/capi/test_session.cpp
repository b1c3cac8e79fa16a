// Session keys: blobs between contexts, combined keys, session containers
// and their damage, the file key, and the records of each failure.
#include "capi/capi_internal.h"
#include "encrypt_test_support.h"

using namespace tarmin::test;
using namespace tarmin::cp::literals;

namespace {

class QzmsSession : public OperatorContext {
protected:
    // The session container of data under key; fails the test when it cannot.
    std::string seal(HCRYPTKEY key, const std::string &data) {
        OutBlob out;
        CapiBlob in = blob_of(data);
        EXPECT_EQ(CCA_encrypt_session(ctx_, &in, key, nullptr, out.out()), 0) << utf8(ctx_.text());
        return out.str();
    }
    // Opens a container; the plaintext, or the error code with nothing handed out.
    int32_t open(HCRYPTKEY key, const std::string &container, std::string *plain, Ctx *on = nullptr) {
        Ctx &c = on ? *on : ctx_;
        OutBlob out;
        CapiBlob in = blob_of(container);
        int32_t rc = CCA_decrypt_session(c, &in, key, nullptr, out.out());
        if (rc != 0) {
            EXPECT_TRUE(out.empty()) << "plaintext handed out on failure";
            return static_cast<int32_t>(c.code());
        }
        *plain = out.str();
        return 0;
    }
    std::string blob_of_key(HCRYPTKEY key) {
        unsigned char *p = nullptr;
        uint32_t n = 0;
        EXPECT_EQ(CCA_get_session(ctx_, key, &p, &n), 0) << utf8(ctx_.text());
        std::string s(reinterpret_cast<char *>(p), n);
        CCA_free(ctx_, p);
        return s;
    }

};

TEST_F(QzmsSession, ContainerRoundTripsAndCarriesVectorAndMacAtTheEnd) {
    SessionKey key(ctx_);
    ASSERT_EQ(CCA_create_session(ctx_, key.out()), 0) << utf8(ctx_.text());
    for (size_t n : {1u, 7u, 8u, 9u, 1023u, 70000u}) {
        std::string data = sample(n);
        std::string c = seal(key, data);
        // ciphertext | vector (8) | 8 | MAC (4) | 4
        ASSERT_EQ(c.size(), n + 8 + 4 + 4 + 4);
        EXPECT_EQ(get_le32(c, c.size() - 4), 4u);
        EXPECT_EQ(get_le32(c, c.size() - 12), 8u);
        EXPECT_NE(c.substr(0, n), data);
        std::string plain;
        ASSERT_EQ(open(key, c, &plain), 0) << std::hex << ctx_.code();
        EXPECT_EQ(plain, data);
    }
}

TEST_F(QzmsSession, EveryContainerHasAVectorOfItsOwn) {
    SessionKey key(ctx_);
    ASSERT_EQ(CCA_create_session(ctx_, key.out()), 0);
    std::string data = sample(64);
    std::string a = seal(key, data), b = seal(key, data);
    EXPECT_NE(a.substr(64, 8), b.substr(64, 8));
    EXPECT_NE(a.substr(0, 64), b.substr(0, 64));
    std::string plain;
    ASSERT_EQ(open(key, b, &plain), 0);
    ASSERT_EQ(open(key, a, &plain), 0);
    EXPECT_EQ(plain, data);
}

TEST_F(QzmsSession, BlobMovesTheKeyToAnotherContext) {
    SessionKey key(ctx_);
    ASSERT_EQ(CCA_create_session(ctx_, key.out()), 0);
    std::string blob = blob_of_key(key);
    // V | vector | SIMPLEBLOB (71 bytes)
    ASSERT_EQ(blob.size(), 4u + 8u + 71u);
    EXPECT_EQ(get_le32(blob, 0), 8u);
    EXPECT_EQ(static_cast<uint8_t>(blob[12]), 0x01);
    EXPECT_EQ(get_le32(blob, 12 + 4), 0x661Eu);
    EXPECT_EQ(get_le32(blob, 12 + 8), 0x374A51FDu);
    std::string data = sample(5000);
    std::string container = seal(key, data);

    Ctx other;
    ASSERT_EQ(CCA_init(other), 0);
    SessionKey moved(other);
    CapiBlob in = blob_of(blob);
    ASSERT_EQ(CCA_put_session(other, in.pbData, in.cbData, moved.out()), 0) << utf8(other.text());
    std::string plain;
    ASSERT_EQ(open(moved, container, &plain, &other), 0) << std::hex << other.code();
    EXPECT_EQ(plain, data);
    // The moved key carries the vector of the blob: its own blob starts alike.
    unsigned char *p = nullptr;
    uint32_t n = 0;
    ASSERT_EQ(CCA_get_session(other, moved, &p, &n), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(p), 12), blob.substr(0, 12));
    CCA_free(other, p);
}

TEST_F(QzmsSession, DamagedBlobsAreRefusedWithTheirCodes) {
    SessionKey key(ctx_);
    ASSERT_EQ(CCA_create_session(ctx_, key.out()), 0);
    const std::string blob = blob_of_key(key);
    auto put = [&](const std::string &b) -> uint32_t {
        SessionKey k(ctx_);
        int32_t rc = CCA_put_session(ctx_, reinterpret_cast<const unsigned char *>(b.data()),
                                     static_cast<uint32_t>(b.size()), k.out());
        if (rc == 0) return 0;
        EXPECT_EQ(k.h, nullptr);
        return ctx_.code();
    };
    std::string v300 = blob;
    put_le32(v300, 0, 300);
    EXPECT_EQ(put(v300), 0x403Fu);
    EXPECT_EQ(utf8(ctx_.text()), "Ошибка ключевой структуры.");
    EXPECT_EQ(utf8(ctx_.debug()),
              "Ошибка в функции ((len_sp+4>= SessionLength)||(len_sp>MAX_SP)). Вызывающая функция: CCA_put_session().");
    // A vector length that leaves no room for the key, or no word at all.
    EXPECT_EQ(put(blob.substr(0, 12)), 0x403Fu);
    EXPECT_EQ(put(blob.substr(0, 3)), 0x403Fu);
    EXPECT_EQ(put(""), 0x403Fu);
    std::string huge = blob;
    put_le32(huge, 0, 0xFFFFFFFD);
    EXPECT_EQ(put(huge), 0x403Fu);
    // A wrapped key cut short, extended or altered does not unwrap.
    EXPECT_EQ(put(blob.substr(0, blob.size() - 1)), 0x403Du);
    EXPECT_EQ(put(blob + '\0'), 0x403Du);
    for (size_t at : {12u + 16u, 12u + 30u, 12u + 57u}) {
        std::string flipped = blob;
        flipped[at] ^= 0x10;
        EXPECT_EQ(put(flipped), 0x403Du) << at;
    }
    // A vector of another length does not fit the key.
    std::string v4 = blob.substr(0, 4) + blob.substr(4, 4) + blob.substr(12);
    put_le32(v4, 0, 4);
    EXPECT_EQ(put(v4), 0x403Bu);
    EXPECT_EQ(utf8(ctx_.text()).rfind("Ошибка установки параметра ключа (KP_IV). [0x", 0), 0u) << utf8(ctx_.text());
    // Every cut of the blob is refused.
    for (size_t n = 0; n < blob.size(); ++n) EXPECT_TRUE(is_container_failure(put(blob.substr(0, n)))) << n;
    EXPECT_EQ(put(blob), 0u);
}

TEST_F(QzmsSession, DamagedContainersYieldNoPlaintext) {
    SessionKey key(ctx_);
    ASSERT_EQ(CCA_create_session(ctx_, key.out()), 0);
    const std::string data = sample(100);
    const std::string c = seal(key, data);
    std::string plain;

    std::string altered = c;
    altered[37] ^= 0x01;
    EXPECT_EQ(open(key, altered, &plain), 0x4043);
    EXPECT_EQ(utf8(ctx_.text()), "Ошибка контроля целостности при сравнении имитовставки.");
    EXPECT_EQ(utf8(ctx_.debug()),
              "Ошибка в функции memcmp(impr_r,impr,len_impr). Вызывающая функция: CCA_decrypt_session().");
    std::string mac_altered = c;
    mac_altered[c.size() - 6] ^= 0x80;
    EXPECT_EQ(open(key, mac_altered, &plain), 0x4043);

    // Lengths that lie: MAC or vector longer than their limit or than what is
    // left, no MAC at all, no ciphertext.
    auto with_word = [&](size_t from_end, uint32_t v) {
        std::string s = c;
        put_le32(s, s.size() - from_end, v);
        return s;
    };
    EXPECT_EQ(open(key, with_word(4, 257), &plain), 0x4044);
    EXPECT_EQ(open(key, with_word(4, 0), &plain), 0x4044);
    EXPECT_EQ(open(key, with_word(4, static_cast<uint32_t>(c.size())), &plain), 0x4044);
    EXPECT_EQ(open(key, with_word(12, 257), &plain), 0x4044);
    EXPECT_EQ(open(key, with_word(12, 0xFFFFFFF0), &plain), 0x4044);
    EXPECT_EQ(open(key, with_word(12, 8 + 100), &plain), 0x4044);
    EXPECT_EQ(open(key, c.substr(100), &plain), 0x4044);
    EXPECT_EQ(utf8(ctx_.debug()), "Ошибка в функции crypt_struct_error. Вызывающая функция: CCA_decrypt_session().");
    EXPECT_EQ(open(key, "", &plain), 0x4044);

    // Every cut, every extension by a byte and every single-bit flip fails.
    for (size_t n = 0; n < c.size(); ++n) EXPECT_TRUE(is_container_failure(open(key, c.substr(0, n), &plain))) << n;
    for (char extra : {'\0', '\x04', '\xFF'})
        EXPECT_TRUE(is_container_failure(open(key, c + extra, &plain))) << int(extra);
    for (size_t i = 0; i < c.size(); ++i) {
        // The vector is the container's: a flip there changes the plaintext,
        // which the MAC then refuses.
        std::string f = c;
        f[i] ^= static_cast<char>(1 << (i % 8));
        EXPECT_TRUE(is_container_failure(open(key, f, &plain))) << i;
    }
    EXPECT_EQ(open(key, c, &plain), 0);
    EXPECT_EQ(plain, data);
}

TEST_F(QzmsSession, CombinedKeysDependOnTheOrderAndTakeTheFirstVector) {
    SessionKey k1(ctx_), k2(ctx_), ab(ctx_), ab2(ctx_), ba(ctx_);
    ASSERT_EQ(CCA_create_session(ctx_, k1.out()), 0);
    ASSERT_EQ(CCA_create_session(ctx_, k2.out()), 0);
    ASSERT_EQ(CCA_xor_session(ctx_, k1, k2, ab.out()), 0) << utf8(ctx_.text());
    ASSERT_EQ(CCA_xor_session(ctx_, k1, k2, ab2.out()), 0);
    ASSERT_EQ(CCA_xor_session(ctx_, k2, k1, ba.out()), 0);
    std::string data = sample(300);
    std::string c = seal(ab, data), plain;
    EXPECT_EQ(open(ab2, c, &plain), 0);
    EXPECT_EQ(plain, data);
    EXPECT_EQ(open(ba, c, &plain), 0x4043);
    EXPECT_EQ(open(k1, c, &plain), 0x4043);
    EXPECT_EQ(blob_of_key(ab).substr(0, 12), blob_of_key(k1).substr(0, 12));
    EXPECT_EQ(blob_of_key(ba).substr(0, 12), blob_of_key(k2).substr(0, 12));
}

TEST_F(QzmsSession, UnusableKeysAreRecordedAtTheirFirstUse) {
    SessionKey good(ctx_), out(ctx_);
    ASSERT_EQ(CCA_create_session(ctx_, good.out()), 0);
    const std::string data_text = "data";
    CapiBlob data = blob_of(data_text);
    OutBlob container;
    EXPECT_EQ(CCA_encrypt_session(ctx_, &data, nullptr, nullptr, container.out()), -1);
    EXPECT_EQ(ctx_.code(), 0x403Eu);
    EXPECT_EQ(utf8(ctx_.text()).rfind("Ошибка получения параметра ключа (KP_IV). [0x80090003 ", 0), 0u)
        << utf8(ctx_.text());
    EXPECT_EQ(utf8(ctx_.debug()).rfind(
                  "Ошибка в функции CryptGetKeyParam(). Вызывающая функция: CCA_encrypt_session(). [0x80090003 ", 0),
              0u);
    EXPECT_EQ(CCA_xor_session(ctx_, good, nullptr, out.out()), -1);
    EXPECT_EQ(ctx_.code(), 0x4040u);
    EXPECT_EQ(utf8(ctx_.text()).rfind("Ошибка хэширования сеансового ключа (hKey2).", 0), 0u);
    EXPECT_EQ(CCA_xor_session(ctx_, nullptr, good, out.out()), -1);
    EXPECT_EQ(ctx_.code(), 0x403Eu);
    unsigned char *p = reinterpret_cast<unsigned char *>(1);
    uint32_t n = 1;
    EXPECT_EQ(CCA_get_session(ctx_, nullptr, &p, &n), -1);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(n, 0u);
    std::string plain;
    EXPECT_EQ(open(nullptr, seal(good, "x"), &plain), 0x403B);

    // Empty data would make a container that cannot be opened.
    CapiBlob empty{nullptr, 0};
    EXPECT_EQ(CCA_encrypt_session(ctx_, &empty, good, nullptr, container.out()), -1);
    EXPECT_EQ(ctx_.code(), 0x4041u);
    EXPECT_TRUE(container.empty());
}

TEST_F(QzmsSession, ContextWithoutAlgorithmsMakesNoKeys) {
    Ctx verify_only;
    CCA_set_flag(verify_only, CCA_FLAG_VERIFY_ONLY);
    ASSERT_EQ(CCA_init(verify_only), 0);
    SessionKey key(verify_only);
    EXPECT_EQ(CCA_create_session(verify_only, key.out()), -1);
    EXPECT_EQ(key.h, nullptr);
    EXPECT_EQ(verify_only.code(), 0x4039u);
    EXPECT_EQ(utf8(verify_only.debug()).rfind("Ошибка в функции CryptGenKey(). Вызывающая функция: CCA_create_session().", 0),
              0u);
    // A key made elsewhere cannot travel as a blob without the hash algorithm.
    SessionKey mine(ctx_);
    ASSERT_EQ(CCA_create_session(ctx_, mine.out()), 0);
    unsigned char *p = nullptr;
    uint32_t n = 0;
    EXPECT_EQ(CCA_get_session(verify_only, mine, &p, &n), -1);
    EXPECT_EQ(verify_only.code(), 0x4035u);
}

TEST_F(QzmsSession, FileKeyIsHandedOutButNeverFreedByTheCaller) {
    SessionKey none(ctx_);
    EXPECT_EQ(CCA_file_session(ctx_, none.out()), -1);
    EXPECT_EQ(ctx_.code(), 0x4045u);
    EXPECT_EQ(utf8(ctx_.text()), "Отсутствует файловый ключ.");
    EXPECT_EQ(utf8(ctx_.debug()), "Ошибка в функции (!ctx->CryptFileKey). Вызывающая функция: CCA_file_session().");

    HCRYPTKEY file_key = nullptr;
    ASSERT_EQ(CCA_create_session(ctx_, &file_key), 0);
    ctx_.ctx->CryptFileKey = file_key;
    HCRYPTKEY handed = nullptr;
    ASSERT_EQ(CCA_file_session(ctx_, &handed), 0);
    EXPECT_EQ(handed, file_key);
    EXPECT_EQ(CCA_session_free(ctx_, handed), 0);
    // Still alive: it seals and opens.
    std::string c = seal(file_key, "still here"), plain;
    ASSERT_EQ(open(file_key, c, &plain), 0);
    EXPECT_EQ(plain, "still here");
    // The context's release destroys it.
    CCA_final(ctx_);
    EXPECT_EQ(ctx_.ctx->CryptFileKey, nullptr);
    ASSERT_EQ(CCA_init(ctx_), 0);
    EXPECT_EQ(open(file_key, c, &plain), 0x403B);
}

TEST_F(QzmsSession, KeysEndWithTheContextTheyWereMadeOn) {
    Ctx other;
    ASSERT_EQ(CCA_init(other), 0);
    HCRYPTKEY mine = nullptr, theirs = nullptr, freed = nullptr;
    ASSERT_EQ(CCA_create_session(ctx_, &mine), 0);
    ASSERT_EQ(CCA_create_session(other, &theirs), 0);
    ASSERT_EQ(CCA_create_session(other, &freed), 0);
    EXPECT_EQ(CCA_session_free(other, freed), 0);
    std::string c = seal(theirs, "theirs"), plain;
    CCA_final(other);
    // Keys of the released context are refused, freeing them again is harmless.
    EXPECT_EQ(open(theirs, c, &plain), 0x403B);
    const std::string text = "data";
    CapiBlob data = blob_of(text);
    OutBlob out;
    EXPECT_EQ(CCA_encrypt_session(ctx_, &data, theirs, nullptr, out.out()), -1);
    EXPECT_EQ(ctx_.code(), 0x403Eu);
    EXPECT_EQ(CCA_session_free(ctx_, theirs), 0);
    EXPECT_EQ(CCA_session_free(ctx_, freed), 0);
    // Keys of a context that lives on are untouched.
    EXPECT_EQ(open(mine, seal(mine, "mine"), &plain), 0);
    EXPECT_EQ(plain, "mine");
    CCA_session_free(ctx_, mine);
}

// A handle is never handed out twice in a process: a freed handle names no
// key made after it, so using or freeing it again cannot touch another key.
TEST_F(QzmsSession, FreedHandlesNeverNameAnotherKey) {
    HCRYPTKEY freed = nullptr;
    ASSERT_EQ(CCA_create_session(ctx_, &freed), 0);
    std::string c = seal(freed, "sealed before the key was freed"), plain;
    EXPECT_EQ(CCA_session_free(ctx_, freed), 0);
    std::set<HCRYPTKEY> seen{freed};
    HCRYPTKEY live = nullptr;
    for (int i = 0; i < 3000; ++i) {
        if (live) CCA_session_free(ctx_, live);
        ASSERT_EQ(CCA_create_session(ctx_, &live), 0);
        ASSERT_TRUE(seen.insert(live).second) << "handle handed out again after " << i << " keys";
    }
    // The freed handle is refused, and freeing it again leaves the live key alone.
    EXPECT_EQ(open(freed, c, &plain), 0x403B);
    EXPECT_EQ(CCA_session_free(ctx_, freed), 0);
    std::string mine = seal(live, "live");
    EXPECT_EQ(open(live, mine, &plain), 0);
    EXPECT_EQ(plain, "live");
    EXPECT_EQ(CCA_session_free(ctx_, live), 0);
    EXPECT_EQ(CCA_session_free(ctx_, live), 0);
    EXPECT_EQ(open(live, mine, &plain), 0x403B);
}

} // namespace

// Shared pieces of the encryption and session-key tests: an initialised
// context on the test PKI, owned outputs and keys, container surgery.
#pragma once

#include "capi_test_support.h"
#include "common/codepage.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>

namespace tarmin::test {

// An output block freed with the library.
struct OutBlob {
    CapiBlob b{nullptr, 0};
    OutBlob() = default;
    OutBlob(const OutBlob &) = delete;
    ~OutBlob() { CCA_free(nullptr, b.pbData); }
    CapiBlob *out() { return &b; }
    std::string str() const { return b.pbData ? std::string(reinterpret_cast<char *>(b.pbData), b.cbData) : ""; }
    bool empty() const { return b.pbData == nullptr && b.cbData == 0; }
};

// A session key freed with the library.
struct SessionKey {
    CapiContext *ctx;
    HCRYPTKEY h = nullptr;
    explicit SessionKey(CapiContext *c) : ctx(c) {}
    SessionKey(const SessionKey &) = delete;
    ~SessionKey() { CCA_session_free(ctx, h); }
    HCRYPTKEY *out() { return &h; }
    operator HCRYPTKEY() const { return h; }
};

inline void put_le32(std::string &s, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>(v >> (8 * i));
}
inline uint32_t get_le32(const std::string &s, size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(s[at + i]);
    return v;
}

// A text of some length whose bytes differ, so that block mix-ups show.
inline std::string sample(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 131 + 7) ^ (i >> 8));
    return s;
}

inline std::string utf8(const std::string &w) { return cp::cp1251_to_utf8(w); }

// The container failures that may come from bytes that lie about lengths.
inline bool is_container_failure(uint32_t code) {
    static const std::set<uint32_t> codes{0x4044, 0x4043, 0x403F, 0x403D, 0x403B};
    return codes.count(code) != 0;
}

// Tests on a context initialised with the operator's certificate of a fresh
// test PKI (Russian user language).
class OperatorContext : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ::setenv("LANG", "ru_RU.UTF-8", 1);
        pki_ = new Pki(make_pki());
        init_product();
        set_my(*pki_, "operator");
    }
    static void TearDownTestSuite() {
        delete pki_;
        pki_ = nullptr;
    }
    void SetUp() override {
        ::setenv("LANG", "ru_RU.UTF-8", 1);
        ASSERT_EQ(CCA_init(ctx_), 0) << utf8(ctx_.text());
    }

    inline static Pki *pki_ = nullptr;
    Ctx ctx_;
};

} // namespace tarmin::test

// Secrets are wiped before their memory goes back: decrypted content and
// session blobs, in the library's own buffers and in the blocks the caller
// releases with CCA_free. The test program replaces the global allocation so
// that it can keep what the library's C++ buffers held when they were
// released.
#include "encrypt_test_support.h"

#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#endif

using namespace tarmin::test;

namespace {

// What released C++ blocks held while a call ran, one after the other.
char g_released[1 << 22];
std::atomic<size_t> g_released_length{0};
std::atomic<bool> g_keeping{false};

void keep(void *p, size_t n) {
    if (!g_keeping || !p) return;
    size_t at = g_released_length.fetch_add(n);
    if (at + n <= sizeof g_released) std::memcpy(g_released + at, p, n);
}

// Runs fn, keeping what the C++ blocks released meanwhile held.
template <typename F> void keeping_released(F &&fn) {
    g_released_length = 0;
    g_keeping = true;
    fn();
    g_keeping = false;
    ASSERT_LE(g_released_length.load(), sizeof g_released) << "more released than kept";
}

bool released_holds(const std::string &secret) {
    return memmem(g_released, g_released_length.load(), secret.data(), secret.size()) != nullptr;
}

// Whether a block released with CCA_free still holds any 16 bytes of what
// it held after its first 16 (the allocator may keep its own records in the
// first bytes of a released block). Only the address checker lets a test
// read memory that has been released: elsewhere there is no answer.
std::optional<bool> freed_block_holds(const unsigned char *p, const std::string &was) {
#if defined(__SANITIZE_ADDRESS__)
    bool holds = false;
    __asan_unpoison_memory_region(p, was.size());
    for (size_t at = 16; at + 16 <= was.size() && !holds; at += 16)
        holds = std::memcmp(p + at, was.data() + at, 16) == 0;
    __asan_poison_memory_region(p, was.size());
    return holds;
#else
    (void)p;
    (void)was;
    return std::nullopt;
#endif
}

} // namespace

void *operator new(std::size_t size) {
    if (void *p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void *operator new[](std::size_t size) { return ::operator new(size); }
void *operator new(std::size_t size, const std::nothrow_t &) noexcept { return std::malloc(size ? size : 1); }
void *operator new[](std::size_t size, const std::nothrow_t &) noexcept { return std::malloc(size ? size : 1); }
void operator delete(void *p) noexcept {
    keep(p, p ? malloc_usable_size(p) : 0);
    std::free(p);
}
void operator delete[](void *p) noexcept { ::operator delete(p); }
void operator delete(void *p, std::size_t n) noexcept {
    keep(p, n);
    std::free(p);
}
void operator delete[](void *p, std::size_t) noexcept { ::operator delete(p); }
void operator delete(void *p, const std::nothrow_t &) noexcept { ::operator delete(p); }
void operator delete[](void *p, const std::nothrow_t &) noexcept { ::operator delete(p); }

namespace {

class Wipe : public OperatorContext {};

TEST_F(Wipe, DecryptedContentLeavesNoCopyBehind) {
    std::string secret;
    for (int i = 0; i < 64; ++i) secret += "secret payload line " + std::to_string(i) + "\n";
    PCCERT_CONTEXT mine = nullptr;
    SignerSerial *serial = nullptr;
    ASSERT_EQ(CCA_get_my_cert(ctx_, &mine, &serial), 0);
    CapiBlob data = blob_of(secret), enveloped{}, content{};
    ASSERT_EQ(CCA_encrypt_mem(ctx_, &data, nullptr, &mine, 1, &enveloped), 0) << utf8(ctx_.text());
    keeping_released([&] { ASSERT_EQ(CCA_decrypt_mem(ctx_, &enveloped, nullptr, nullptr, &content), 0); });
    EXPECT_FALSE(released_holds(secret.substr(0, 200))) << "a buffer of the decrypted content was released unwiped";
    std::string handed(reinterpret_cast<char *>(content.pbData), content.cbData);
    EXPECT_EQ(handed, secret);
    // The block the caller releases is wiped too.
    CCA_free(ctx_, content.pbData);
    if (auto holds = freed_block_holds(content.pbData, handed))
        EXPECT_FALSE(*holds) << "CCA_free left the content in released memory";
    CCA_free(ctx_, enveloped.pbData);
    CCA_cert_free(ctx_, mine);
    CCA_serial_free(ctx_, serial);
}

// A session blob is the key itself to anyone with the library: neither the
// library's buffers nor the block the caller releases keep it.
TEST_F(Wipe, SessionBlobLeavesNoCopyBehind) {
    SessionKey key(ctx_);
    ASSERT_EQ(CCA_create_session(ctx_, key.out()), 0);
    unsigned char *blob = nullptr;
    uint32_t length = 0;
    keeping_released([&] { ASSERT_EQ(CCA_get_session(ctx_, key, &blob, &length), 0); });
    std::string was(reinterpret_cast<char *>(blob), length);
    ASSERT_GT(was.size(), 12u + 40u);
    // The wrapped key follows the length and the vector.
    EXPECT_FALSE(released_holds(was.substr(12, 40))) << "a buffer of the session blob was released unwiped";
    CCA_free(ctx_, blob);
    if (auto holds = freed_block_holds(blob, was))
        EXPECT_FALSE(*holds) << "CCA_free left the session blob in released memory";
}

} // namespace

// Memory running out inside an export: the C caller gets -1 and the code
// 0x4009, never a C++ exception crossing the library boundary. The test
// program replaces the global allocation so that it can fail on demand.
#include "capi_test_support.h"

#include <cstdlib>
#include <new>

using namespace tarmin::test;

namespace {
thread_local bool g_refuse_memory = false;

// Refuses every C++ allocation of this thread while it lives.
struct MemoryRefused {
    MemoryRefused() { g_refuse_memory = true; }
    ~MemoryRefused() { g_refuse_memory = false; }
};
} // namespace

void *operator new(std::size_t size) {
    if (g_refuse_memory) throw std::bad_alloc();
    if (void *p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void *operator new[](std::size_t size) { return ::operator new(size); }
void *operator new(std::size_t size, const std::nothrow_t &) noexcept {
    return g_refuse_memory ? nullptr : std::malloc(size ? size : 1);
}
void *operator new[](std::size_t size, const std::nothrow_t &tag) noexcept { return ::operator new(size, tag); }
void operator delete(void *p) noexcept { std::free(p); }
void operator delete[](void *p) noexcept { std::free(p); }
void operator delete(void *p, std::size_t) noexcept { std::free(p); }
void operator delete[](void *p, std::size_t) noexcept { std::free(p); }
void operator delete(void *p, const std::nothrow_t &) noexcept { std::free(p); }
void operator delete[](void *p, const std::nothrow_t &) noexcept { std::free(p); }

namespace {

class OutOfMemory : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        pki_ = new Pki(make_pki());
        init_product();
        set_my(*pki_, "operator");
    }
    void SetUp() override {
        ASSERT_EQ(CCA_init(ctx_), 0) << ctx_.text();
        ASSERT_EQ(CCA_get_my_cert(ctx_, &cert_, &serial_), 0);
    }
    void TearDown() override {
        CCA_cert_free(ctx_, cert_);
        CCA_serial_free(ctx_, serial_);
    }
    static Pki *pki_;
    Ctx ctx_;
    PCCERT_CONTEXT cert_ = nullptr;
    SignerSerial *serial_ = nullptr;
};
Pki *OutOfMemory::pki_ = nullptr;

TEST_F(OutOfMemory, CertificateQueriesFailWithTheMemoryCode) {
    char *name = nullptr;
    int32_t flag = 7;
    int32_t rc = 0;
    {
        MemoryRefused refused;
        rc = CCA_get_name_cert(ctx_, cert_, &name);
    }
    EXPECT_EQ(rc, -1);
    EXPECT_EQ(name, nullptr);
    EXPECT_EQ(ctx_.code(), 0x4009u);

    {
        MemoryRefused refused;
        rc = CCA_get_auten_name(ctx_, cert_, &name, &flag);
    }
    EXPECT_EQ(rc, -1);
    EXPECT_EQ(name, nullptr);
    EXPECT_EQ(flag, 0);

    {
        MemoryRefused refused;
        rc = CCA_is_address_in_cert(ctx_, "operator@example.org", cert_, &flag);
    }
    EXPECT_EQ(rc, -1);
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(ctx_.code(), 0x4009u);
}

TEST_F(OutOfMemory, OwnCertificateSerialAndViewersFailWithTheMemoryCode) {
    PCCERT_CONTEXT mine = nullptr;
    SignerSerial *serial = nullptr;
    int32_t same = 5;
    std::string der = pki_->der("operator");
    std::string crl = read_file(pki_->dir / "ca.crl");
    int32_t got_mine, compared, shown, crl_shown;
    {
        MemoryRefused refused;
        got_mine = CCA_get_my_cert(ctx_, &mine, &serial);
        compared = CCA_compare_serial(ctx_, serial_, serial_, &same);
        shown = CCA_show_cert(ctx_, reinterpret_cast<const unsigned char *>(der.data()),
                              static_cast<uint32_t>(der.size()));
        crl_shown = CCA_show_crl(ctx_, reinterpret_cast<const unsigned char *>(crl.data()),
                                 static_cast<uint32_t>(crl.size()));
    }
    EXPECT_EQ(got_mine, -1);
    EXPECT_EQ(mine, nullptr);
    EXPECT_EQ(serial, nullptr);
    EXPECT_EQ(compared, -1);
    EXPECT_EQ(same, 1);
    EXPECT_EQ(shown, -1);
    EXPECT_EQ(crl_shown, -1);
    EXPECT_EQ(ctx_.code(), 0x4009u);

    // Memory back: the same calls work again on the same context.
    EXPECT_EQ(CCA_compare_serial(ctx_, serial_, serial_, &same), 0);
    EXPECT_EQ(same, 0);
    ASSERT_EQ(CCA_get_my_cert(ctx_, &mine, &serial), 0);
    CCA_cert_free(ctx_, mine);
    CCA_serial_free(ctx_, serial);
}

} // namespace

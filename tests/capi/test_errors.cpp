// Error records: the message table in the user's language with the English
// fallback, the trace wording, the system error suffix, and that a
// successful call leaves the last error in place.
#include "capi_test_support.h"
#include "common/codepage.h"

using namespace tarmin::test;
using namespace tarmin::cp::literals;

namespace {

class QzmsErrors : public ::testing::Test {
protected:
    void SetUp() override {
        ::unsetenv("LC_ALL");
        ::unsetenv("LC_MESSAGES");
        ::setenv("LANG", "ru_RU.UTF-8", 1);
    }
    void TearDown() override { SetUp(); }

    // A failure with two template arguments and no system error.
    static void unsupported_type(Ctx &ctx) {
        PCCERT_CONTEXT certs[CCA_MAX_CERTS];
        uint32_t count = 0;
        EXPECT_EQ(CCA_find_cert_by_address(ctx, 0, 7, "x@y", certs, &count), -1);
    }
    // A failure that takes the system error (an invalid provider handle).
    static void random_without_provider(Ctx &ctx) {
        unsigned char buf[16];
        EXPECT_EQ(CCA_get_random(ctx, sizeof buf, buf), -1);
    }
};

TEST_F(QzmsErrors, RussianUserGetsRussianTemplateAndTrace) {
    Ctx ctx;
    unsupported_type(ctx);
    EXPECT_EQ(ctx.code(), 0x402Du);
    EXPECT_EQ(ctx.text(), "Поиск сертификата по адресу (x@y) типа (OTHER_ADDRESS_TYPE_7) не поддерживается."_w);
    EXPECT_EQ(ctx.debug(), "Ошибка в функции (AddressType!=SMTP,EX,LOTUS). Вызывающая функция: CCA_find_cert_by_address()."_w);
}

TEST_F(QzmsErrors, EnglishUserGetsEnglishTemplateAndTrace) {
    ::setenv("LANG", "en_GB.UTF-8", 1);
    Ctx ctx;
    unsupported_type(ctx);
    EXPECT_EQ(ctx.text(), "Search certificate by address (x@y) of type (OTHER_ADDRESS_TYPE_7) not supported.");
    EXPECT_EQ(ctx.debug(), "Error function: (AddressType!=SMTP,EX,LOTUS). Calling function: CCA_find_cert_by_address().");
}

TEST_F(QzmsErrors, OtherLanguageGetsEnglishTemplateAndRussianTrace) {
    ::setenv("LANG", "uk_UA.UTF-8", 1);
    Ctx ctx;
    unsupported_type(ctx);
    EXPECT_EQ(ctx.text(), "Search certificate by address (x@y) of type (OTHER_ADDRESS_TYPE_7) not supported.");
    EXPECT_EQ(ctx.debug(), "Ошибка в функции (AddressType!=SMTP,EX,LOTUS). Вызывающая функция: CCA_find_cert_by_address()."_w);
}

TEST_F(QzmsErrors, LanguageVariablesInOrderOfPrecedence) {
    ::setenv("LANG", "ru_RU.UTF-8", 1);
    ::setenv("LC_MESSAGES", "en_US.UTF-8", 1);
    Ctx ctx;
    unsupported_type(ctx);
    EXPECT_EQ(ctx.text().rfind("Search certificate", 0), 0u);
    ::setenv("LC_ALL", "ru_RU.KOI8-R", 1);
    unsupported_type(ctx);
    EXPECT_EQ(ctx.text().rfind("Поиск сертификата"_w, 0), 0u);
    // "C" is no language: English.
    ::setenv("LC_ALL", "C", 1);
    unsupported_type(ctx);
    EXPECT_EQ(ctx.text().rfind("Search certificate", 0), 0u);
}

TEST_F(QzmsErrors, SystemErrorIsAppendedToBothTexts) {
    Ctx ctx;
    random_without_provider(ctx);
    EXPECT_EQ(ctx.code(), 0x4024u);
    EXPECT_EQ(ctx.text(), "Ошибка получения (0x00000010) байт случайных данных. [0x80070057 Параметр задан неверно.]"_w);
    EXPECT_EQ(ctx.debug(), "Ошибка в функции CryptGenRandom(). Вызывающая функция: CCA_get_random(). [0x80070057 Параметр задан неверно.]"_w);
    ::setenv("LANG", "en_US.UTF-8", 1);
    random_without_provider(ctx);
    EXPECT_EQ(ctx.text(), "Error gets (0x00000010) bytes random valuele. [0x80070057 The parameter is incorrect.]");
    EXPECT_EQ(ctx.debug(), "Error function: CryptGenRandom(). Calling function: CCA_get_random(). [0x80070057 The parameter is incorrect.]");
}

TEST_F(QzmsErrors, TemplatesIgnoreArgumentsTheyHaveNoPlaceFor) {
    Ctx ctx;
    // 0x404C has one place: the second argument is dropped.
    EXPECT_EQ(CCA_struct_cert(ctx), -1);
    EXPECT_EQ(ctx.text(), "Функция (CCA_struct_cert) не поддерживается."_w);
    // 0x4059 has none.
    std::string x = "x";
    CapiBlob data = blob_of(x), sig{};
    EXPECT_EQ(CCA_sign_mem_sep(ctx, &data, nullptr, &sig), -1);
    EXPECT_EQ(ctx.code(), 0x4059u);
    EXPECT_EQ(ctx.text().rfind("Отозван личный сертфикат пользователя."_w, 0), 0u) << ctx.text();
}

TEST_F(QzmsErrors, SuccessLeavesTheLastErrorInPlace) {
    Ctx ctx;
    unsupported_type(ctx);
    std::string text = ctx.text(), debug = ctx.debug();
    EXPECT_EQ(CCA_set_flag(ctx, 0), 0);
    CapiBlob empty{}, hash{};
    EXPECT_EQ(CCA_hash_mem(ctx, &empty, &hash), 0);
    CCA_free(ctx, hash.pbData);
    EXPECT_EQ(ctx.code(), 0x402Du);
    EXPECT_EQ(ctx.text(), text);
    EXPECT_EQ(ctx.debug(), debug);
}

TEST_F(QzmsErrors, NullContextReadsAsNoContext) {
    EXPECT_EQ(CCA_get_code_error(nullptr), -1);
    EXPECT_STREQ(CCA_get_text_error(nullptr), "");
    EXPECT_STREQ(CCA_get_debug_error(nullptr), "");
    // Failing calls on a null context fail without touching anything.
    EXPECT_EQ(CCA_struct_cert(nullptr), -1);
    int32_t flag = 7;
    EXPECT_EQ(CCA_is_address_in_cert(nullptr, nullptr, nullptr, &flag), -1);
    EXPECT_EQ(flag, 0);
}

TEST_F(QzmsErrors, LongArgumentsAreCutToTheTextCapacity) {
    Ctx ctx;
    std::string address(9000, 'a');
    PCCERT_CONTEXT certs[CCA_MAX_CERTS];
    uint32_t count = 0;
    EXPECT_EQ(CCA_find_cert_by_address(ctx, 0, 9, address.c_str(), certs, &count), -1);
    EXPECT_EQ(ctx.text().size(), 4103u);
    EXPECT_EQ(ctx.text().rfind("Поиск сертификата по адресу (aaa"_w, 0), 0u);
}

} // namespace

// Reports kept by QZ_ReportEvent, shown through a presenter and cleared; the
// event texts with their arguments. This program never initialises the
// services, so no event file is written.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "common/codepage.h"
#include "common/event_file.h"
#include "common/event_texts.h"
#include "qzcom.h"
#include "testsupport.h"

using namespace tarmin::cp::literals;
namespace fs = std::filesystem;

namespace {

constexpr time_t kNow = 1709633707; // 2024-03-05 10:15:07 UTC
time_t fixed_clock() { return kNow; }

struct Shown {
    QZ_HWND owner;
    int mode;
    std::vector<int> levels;
    std::vector<QZ_DWORD> codes;
    std::vector<std::string> texts;
    std::vector<time_t> times;
};

// Records what QZ_ShowReports hands over.
struct Recorder {
    std::vector<Shown> calls;
    bool report_while_shown = false;

    static void present(QZ_HWND owner, int mode, const QZ_REPORT *reports, size_t count, void *user) {
        auto *self = static_cast<Recorder *>(user);
        Shown s{owner, mode, {}, {}, {}, {}};
        for (size_t i = 0; i < count; ++i) {
            s.levels.push_back(reports[i].level);
            s.codes.push_back(reports[i].code);
            s.texts.push_back(reports[i].text);
            s.times.push_back(reports[i].time);
        }
        self->calls.push_back(s);
        if (self->report_while_shown) QZ_ReportEvent(1, 0xE0030002);
    }
};

class Reports : public ::testing::Test {
protected:
    void SetUp() override {
        tarmin::qzcom::set_event_clock(fixed_clock);
        QZ_ClearReports(3);
        QZ_SetReportPresenter(&Recorder::present, &recorder);
    }
    void TearDown() override {
        QZ_SetReportPresenter(nullptr, nullptr);
        QZ_ClearReports(3);
        tarmin::qzcom::set_event_clock(nullptr);
    }
    Recorder recorder;
};

std::string text_of(QZ_DWORD code, ...) {
    va_list args;
    va_start(args, code);
    std::string s = tarmin::qzcom::format_event_text(code, args);
    va_end(args);
    return s;
}

// The conversions of a template in order ("Xuss" for "%X ... %u ... %s %s").
std::string conversions(const char *tmpl) {
    std::string kinds;
    for (const char *p = tmpl; *p; ++p)
        if (*p == '%' && p[1]) {
            ++p;
            if (*p != '%') kinds += *p;
        }
    return kinds;
}

} // namespace

TEST_F(Reports, KeptUntilShownThenForgotten) {
    int owner = 0;
    QZ_ReportEvent(1, 0xE0030015, "CCA_init", "vcert_init_ext");
    QZ_ReportEvent(3, 0xE0030001, "Ключ не найден"_w);
    QZ_ReportEvent(3, 0xE0070006);
    EXPECT_EQ(QZ_GetReportCount(), 3u);

    QZ_ShowReports(&owner, 3);
    ASSERT_EQ(recorder.calls.size(), 1u);
    const Shown &s = recorder.calls[0];
    EXPECT_EQ(s.owner, &owner);
    EXPECT_EQ(s.mode, 3);
    EXPECT_EQ(s.levels, (std::vector<int>{1, 3, 3}));
    EXPECT_EQ(s.codes, (std::vector<QZ_DWORD>{0xE0030015, 0xE0030001, 0xE0070006}));
    EXPECT_EQ(s.texts[0], "Ошибка при выполнении CCA_init в функции vcert_init_ext"_w);
    EXPECT_EQ(s.texts[1], "Ошибка криптографической библиотеки: Ключ не найден"_w);
    EXPECT_EQ(s.times, (std::vector<time_t>{kNow, kNow, kNow}));
    EXPECT_EQ(QZ_GetReportCount(), 0u);

    // Nothing kept: the presenter is not called.
    QZ_ShowReports(nullptr, 1);
    EXPECT_EQ(recorder.calls.size(), 1u);
}

TEST_F(Reports, ClearForgetsWithoutShowing) {
    QZ_ReportEvent(3, 0xE0030019);
    QZ_ReportEvent(3, 0xE0030027);
    QZ_ClearReports(2);
    EXPECT_EQ(QZ_GetReportCount(), 0u);
    QZ_ShowReports(nullptr, 1);
    EXPECT_TRUE(recorder.calls.empty());
}

TEST_F(Reports, EventsDuringPresentationAreKeptForTheNextShow) {
    recorder.report_while_shown = true;
    QZ_ReportEvent(3, 0xE0030019);
    QZ_ShowReports(nullptr, 1);
    ASSERT_EQ(recorder.calls.size(), 1u);
    EXPECT_EQ(recorder.calls[0].codes.size(), 1u);
    EXPECT_EQ(QZ_GetReportCount(), 1u);
    recorder.report_while_shown = false;
    QZ_ShowReports(nullptr, 1);
    ASSERT_EQ(recorder.calls.size(), 2u);
    EXPECT_EQ(recorder.calls[1].codes, std::vector<QZ_DWORD>{0xE0030002});
}

TEST_F(Reports, DefaultPresenterWritesUtf8ToStandardError) {
    QZ_SetReportPresenter(nullptr, nullptr);
    QZ_ReportEvent(1, 0xE0030015, "malloc", "create_boundary");
    QZ_ReportEvent(3, 0xE0030010, "/var/arch/Отчёты"_w);
    ::testing::internal::CaptureStderr();
    QZ_ShowReports(nullptr, 3);
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "0xE0030010 Ошибка создания каталога /var/arch/Отчёты\n"
                   "  Подробности:\n"
                   "  0xE0030015 Ошибка при выполнении malloc в функции create_boundary\n");

    QZ_ReportEvent(1, 0xE0030002);
    ::testing::internal::CaptureStderr();
    QZ_ShowReports(nullptr, 1);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "0xE0030002 Недостаточно памяти\n");
}

TEST_F(Reports, OldestDroppedBeyondTheKeepingLimit) {
    for (QZ_DWORD i = 0; i < 10001; ++i) QZ_ReportEvent(1, 0xE0030003, std::to_string(i).c_str());
    EXPECT_EQ(QZ_GetReportCount(), 10000u);
    QZ_ShowReports(nullptr, 1);
    ASSERT_EQ(recorder.calls.size(), 1u);
    EXPECT_EQ(recorder.calls[0].texts.front(), "Ошибка создания файла 1"_w);
    EXPECT_EQ(recorder.calls[0].texts.back(), "Ошибка создания файла 10000"_w);
}

TEST_F(Reports, ManyThreadsReportAtOnce) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([] {
            for (int i = 0; i < 300; ++i) QZ_ReportEvent(1, 0xE0030015, "step", "thread");
        });
    for (auto &t : threads) t.join();
    EXPECT_EQ(QZ_GetReportCount(), 2400u);
}

TEST_F(Reports, WithoutInitialisationNoEventFileIsWritten) {
    fs::path temp = tarmin::test::make_temp_dir("temp");
    ::setenv("TEMP", temp.c_str(), 1);
    ::setenv("TMPDIR", temp.c_str(), 1);
    QZ_ReportEvent(1, 0xE0030002);
    EXPECT_EQ(QZ_GetReportCount(), 1u);
    EXPECT_TRUE(fs::is_empty(temp));
}

TEST(EventTexts, EveryCodeTakesTheDocumentedArguments) {
    // The argument table of common/event_texts.h.
    const std::map<QZ_DWORD, std::string> documented = {
        {0x600E0005, "Xuss"}, {0xA00E0001, "s"},  {0xE0020004, ""},   {0xE0030001, "s"},  {0xE0030002, ""},
        {0xE0030003, "s"},    {0xE0030004, ""},   {0xE0030005, ""},   {0xE0030006, ""},   {0xE0030007, ""},
        {0xE0030008, ""},     {0xE0030009, "d"},  {0xE003000A, "d"},  {0xE003000B, "ss"}, {0xE003000C, "s"},
        {0xE003000D, "s"},    {0xE003000E, "s"},  {0xE003000F, "ss"}, {0xE0030010, "s"},  {0xE0030011, "s"},
        {0xE0030015, "ss"},   {0xE0030016, "uu"}, {0xE0030017, "uu"}, {0xE0030018, "uu"}, {0xE0030019, ""},
        {0xE003001A, "ss"},   {0xE003001E, ""},   {0xE003001F, "s"},  {0xE0030021, "s"},  {0xE0030026, "sd"},
        {0xE0030027, ""},     {0xE0070005, ""},   {0xE0070006, ""},   {0xE00B0001, ""},   {0xE00B0003, "ss"},
        {0xE00C0009, "ssu"},  {0xE00E0002, "ussss"}, {0xE00E0003, "uss"}, {0xE00E0004, ""}, {0xE00E0006, ""},
    };
    for (const auto &[code, kinds] : documented) {
        const char *tmpl = tarmin::qzcom::event_template(code);
        ASSERT_NE(tmpl, nullptr) << std::hex << code;
        EXPECT_EQ(conversions(tmpl), kinds) << std::hex << code;
    }
}

TEST(EventTexts, TextsThatTheMonitorReadsBack) {
    EXPECT_EQ(text_of(0x600E0005, 0xE0030015u, 3u, "05/03/2024", "10:15:07"),
              "Ошибка 0xE0030015 возникла 3 раз; последняя: 05/03/2024 10:15:07"_w);
    EXPECT_EQ(text_of(0xE00E0002, 120u, "Отчёт"_w, "09:00:00", "05/03/2024", "0A1B2C"),
              "Истёк таймаут 120 минут на получение квитанции на письмо 'Отчёт', отправленное 09:00:00 05/03/2024 hash=0A1B2C"_w);
}

TEST(EventTexts, ArgumentsOfEveryKind) {
    EXPECT_EQ(text_of(0xE0030026, "Иванов И.И."_w, 2), "Подпись не прошла проверку: подписавший Иванов И.И., статус 2"_w);
    EXPECT_EQ(text_of(0xE003000A, -3), "Ошибка распаковки данных (код -3)"_w);
    EXPECT_EQ(text_of(0xE0030017, 4096u, 4093u),
              "Длина зашифрованных данных не совпадает с заявленной: заявлено 4096, получено 4093"_w);
    EXPECT_EQ(text_of(0xE00E0003, 13u, "fopen", "CMainApp::SendMailAboutOverdue"),
              "Системная ошибка 13 при выполнении fopen в CMainApp::SendMailAboutOverdue"_w);
    EXPECT_EQ(text_of(0xE00C0009, "Ошибка записи во временный файл"_w, "/out/TO1", 28u),
              "Ошибка записи во временный файл /out/TO1: системная ошибка 28"_w);
    EXPECT_EQ(text_of(0xA00E0001, "7"), "Рассылка 7: нет данных для отправки"_w);
}

TEST(EventTexts, NullTextsUnknownCodesAndSystemErrors) {
    EXPECT_EQ(text_of(0xE0030015, nullptr, nullptr), "Ошибка при выполнении (нет) в функции (нет)"_w);
    EXPECT_EQ(text_of(0x12345678), "Событие 0x12345678"_w);
    EXPECT_EQ(text_of(0), "Событие 0x0"_w);
    std::string system = text_of(2);
    EXPECT_EQ(system.rfind("Системная ошибка 2: "_w, 0), 0u) << system;
    EXPECT_GT(system.size(), std::string("Системная ошибка 2: "_w).size());
}

TEST(EventTexts, TemplateConversions) {
    auto format = [](const char *tmpl, ...) {
        va_list args;
        va_start(args, tmpl);
        std::string s = tarmin::qzcom::format_template(tmpl, args);
        va_end(args);
        return s;
    };
    EXPECT_EQ(format("100%% %X-%u-%d", 0xABCu, 4000000000u, -5), "100% ABC-4000000000--5");
    EXPECT_EQ(format("tail %"), "tail ");
    EXPECT_EQ(format("%q"), "%q");
}

// Opening and releasing the operator's cryptographic context over recording
// qzms functions: where a failure of each step leaves the stage, the events
// it reports in their order, and that release gives back exactly the objects
// obtained, last first.
#include "monitor/core/OperatorContext.h"
#include "common/codepage.h"
#include "qzcom.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

using namespace tarmin::monitor;
using namespace tarmin::cp::literals;

namespace {

// The objects the fake library hands out; release calls must give back these.
char g_contextObject;
CERT_CONTEXT g_cert{};
SignerSerial g_serial{};
char g_name[] = "CN=Operator";
CapiContext *const kContext = reinterpret_cast<CapiContext *>(&g_contextObject);

int g_failAt = 0; // 1..4: that step fails with kFailure
constexpr int32_t kFailure = 0x4059;
std::vector<std::string> g_calls;

int32_t step(int number, const char *name) {
    g_calls.push_back(name);
    return number == g_failAt ? kFailure : 0;
}
void released(const char *name, bool sameObject) { g_calls.push_back(std::string(name) + (sameObject ? "" : " (wrong)")); }

const CapiCalls kFake{
    [](CapiContext **c) {
        *c = nullptr;
        if (step(1, "CCA_create_context") != 0) return kFailure;
        *c = kContext;
        return 0;
    },
    [](CapiContext *) { return step(2, "CCA_init"); },
    [](CapiContext *, PCCERT_CONTEXT *cert, SignerSerial **serial) {
        if (step(3, "CCA_get_my_cert") != 0) return kFailure;
        *cert = &g_cert;
        *serial = &g_serial;
        return 0;
    },
    [](CapiContext *, PCCERT_CONTEXT cert, char **name) {
        if (step(4, "CCA_get_name_cert") != 0 || cert != &g_cert) return kFailure;
        *name = g_name;
        return 0;
    },
    [](CapiContext *) { return "operator text"; },
    [](CapiContext *) { return "trace text"; },
    [](CapiContext *c, void *p) {
        released("CCA_free", c == kContext && p == g_name);
        return 0;
    },
    [](CapiContext *c, SignerSerial *s) {
        released("CCA_serial_free", c == kContext && s == &g_serial);
        return 0;
    },
    [](CapiContext *c, PCCERT_CONTEXT cert) {
        released("CCA_cert_free", c == kContext && cert == &g_cert);
        return 0;
    },
    [](CapiContext *c) {
        released("CCA_final", c == kContext);
        return 0;
    },
    [](CapiContext *c) {
        released("CCA_close_context", c == kContext);
        return 0;
    },
};

using Report = std::tuple<int, QZ_DWORD, std::string>;

std::vector<Report> shownReports() {
    std::vector<Report> shown;
    QZ_SetReportPresenter(
        [](QZ_HWND, int, const QZ_REPORT *reports, size_t count, void *user) {
            for (size_t i = 0; i < count; ++i)
                static_cast<std::vector<Report> *>(user)->emplace_back(reports[i].level, reports[i].code,
                                                                        reports[i].text);
        },
        &shown);
    QZ_ShowReports(nullptr, 1);
    QZ_SetReportPresenter(nullptr, nullptr);
    return shown;
}

class OperatorContextTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_failAt = 0;
        g_calls.clear();
        QZ_ClearReports(3);
    }
};

} // namespace

TEST_F(OperatorContextTest, EachFailingStepReportsInOrderAndReleaseUndoesWhatWasReached) {
    const std::vector<std::string> steps{"CCA_create_context", "CCA_init", "CCA_get_my_cert", "CCA_get_name_cert"};
    const std::vector<std::vector<std::string>> releases{
        {},
        {"CCA_close_context"},
        {"CCA_final", "CCA_close_context"},
        {"CCA_serial_free", "CCA_cert_free", "CCA_final", "CCA_close_context"},
    };
    for (int failing = 1; failing <= 4; ++failing) {
        SCOPED_TRACE(steps[failing - 1]);
        g_failAt = failing;
        g_calls.clear();
        OperatorContext context(kFake);
        EXPECT_EQ(context.open(), kFailure);
        EXPECT_EQ(context.stage(), failing); // the last step reached
        EXPECT_FALSE(context.isOpen());
        EXPECT_EQ(context.subjectName(), nullptr);

        std::vector<Report> expected;
        if (failing > 1) {
            expected.emplace_back(1, 0xE0030001, "Ошибка криптографической библиотеки: trace text"_w);
            expected.emplace_back(3, 0xE0030001, "Ошибка криптографической библиотеки: operator text"_w);
        }
        const std::string caller = failing == 1 ? "InitInstance" : "SecurityInit";
        expected.emplace_back(1, 0xE0030015,
                              "Ошибка при выполнении "_w + steps[failing - 1] + " в функции "_w + caller);
        EXPECT_EQ(shownReports(), expected);

        g_calls.clear();
        context.release();
        EXPECT_EQ(g_calls, releases[failing - 1]);
        EXPECT_EQ(context.stage(), OperatorContext::kStageClosed);
        EXPECT_EQ(context.handle(), nullptr);
    }
}

TEST_F(OperatorContextTest, OpenedContextHoldsTheObjectsAndReleasesThemOnceLastFirst) {
    const std::vector<std::string> kRelease{"CCA_free", "CCA_serial_free", "CCA_cert_free", "CCA_final",
                                            "CCA_close_context"};
    {
        OperatorContext context(kFake);
        ASSERT_EQ(context.open(), 0);
        EXPECT_EQ(g_calls, (std::vector<std::string>{"CCA_create_context", "CCA_init", "CCA_get_my_cert",
                                                      "CCA_get_name_cert"}));
        EXPECT_EQ(context.stage(), OperatorContext::kStageSubjectName);
        EXPECT_TRUE(context.isOpen());
        EXPECT_EQ(context.handle(), kContext);
        EXPECT_EQ(context.certificate(), &g_cert);
        EXPECT_EQ(context.serial(), &g_serial);
        EXPECT_STREQ(context.subjectName(), "CN=Operator");
        EXPECT_EQ(QZ_GetReportCount(), 0u);

        // Opening again gives the first context back before taking a new one.
        g_calls.clear();
        ASSERT_EQ(context.open(), 0);
        EXPECT_EQ(g_calls.at(0), "CCA_free");
        EXPECT_EQ(g_calls.at(5), "CCA_create_context");

        g_calls.clear();
        context.release();
        EXPECT_EQ(g_calls, kRelease);
        OperatorContext other(kFake);
        ASSERT_EQ(other.open(), 0);
        g_calls.clear();
    }
    // Destruction releases the open context; the one already released is left alone.
    EXPECT_EQ(g_calls, kRelease);
}

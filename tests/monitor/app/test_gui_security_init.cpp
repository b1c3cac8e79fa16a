// Start-up with the operator's cryptographic context (ProtectionFlags bit 0)
// on the real library and a test PKI: the opened context and its subject
// name, the reports and the end of start-up when it cannot be opened, and
// what the exit releases.
#include "GuiTestSupport.h"
#include "tests/capi/capi_test_support.h"

#include "common/codepage.h"
#include "monitor/app/CMainApp.h"
#include "monitor/app/CMainFrame.h"
#include "monitor/views/ReportWindow.h"

#include <QTreeWidget>

#include <gtest/gtest.h>

using namespace tarmin::monitor;
using namespace tarmin::test;
using namespace tarmin::cp::literals;

namespace {

// Every qzms call of the context, recorded by name, then made for real.
std::vector<std::string> g_calls;
bool g_closedAfterFinalize = false;

const CapiCalls kRecording{
    [](CapiContext **c) { return g_calls.push_back("CCA_create_context"), CCA_create_context(c); },
    [](CapiContext *c) { return g_calls.push_back("CCA_init"), CCA_init(c); },
    [](CapiContext *c, PCCERT_CONTEXT *cert, SignerSerial **serial) {
        return g_calls.push_back("CCA_get_my_cert"), CCA_get_my_cert(c, cert, serial);
    },
    [](CapiContext *c, PCCERT_CONTEXT cert, char **name) {
        return g_calls.push_back("CCA_get_name_cert"), CCA_get_name_cert(c, cert, name);
    },
    [](CapiContext *c) { return g_calls.push_back("CCA_get_text_error"), CCA_get_text_error(c); },
    [](CapiContext *c) { return g_calls.push_back("CCA_get_debug_error"), CCA_get_debug_error(c); },
    [](CapiContext *c, void *p) { return g_calls.push_back("CCA_free"), CCA_free(c, p); },
    [](CapiContext *c, SignerSerial *s) { return g_calls.push_back("CCA_serial_free"), CCA_serial_free(c, s); },
    [](CapiContext *c, PCCERT_CONTEXT cert) { return g_calls.push_back("CCA_cert_free"), CCA_cert_free(c, cert); },
    [](CapiContext *c) { return g_calls.push_back("CCA_final"), CCA_final(c); },
    [](CapiContext *c) {
        g_calls.push_back("CCA_close_context");
        g_closedAfterFinalize = QZ_GetProductKeyName() == nullptr;
        return CCA_close_context(c);
    },
};

class SecurityInitTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_calls.clear();
        setString("", "GWMonGWLogDirectory", make_temp_dir("gwlogs").string());
    }
    void TearDown() override {
        if (app) app->ExitInstance();
    }
    // Starts the monitor without a profile as main() does; false when
    // start-up ended.
    bool start(uint32_t protectionFlags, const CapiCalls &calls = qzmsCalls()) {
        setDword("", "ProtectionFlags", protectionFlags);
        app = std::make_unique<CMainApp>(calls);
        return app->InitInstance({"tmngwmon"});
    }
    MessageRecorder messages;
    DialogScript dialogs;
    std::unique_ptr<CMainApp> app;
};

} // namespace

TEST_F(SecurityInitTest, WithoutBitZeroNoCryptoCallIsMadeAndNothingReleased) {
    ASSERT_TRUE(start(2, kRecording)); // bit 1 (beep) only
    EXPECT_EQ(app->stage(), CMainApp::kStageCommonServices);
    EXPECT_EQ(app->operatorContext().handle(), nullptr);
    app->ExitInstance();
    EXPECT_TRUE(g_calls.empty());
}

TEST_F(SecurityInitTest, RememberedCertificateOpensTheContextWithItsSubjectName) {
    const Pki pki = make_pki();
    set_my(pki, "operator");
    setString("", "Path", make_temp_dir("install").string()); // the library reads its address file there
    ASSERT_TRUE(start(3));
    EXPECT_TRUE(messages.messages.empty());
    EXPECT_TRUE(dialogs.shown.empty());
    EXPECT_EQ(app->stage(), OperatorContext::kStageSubjectName);
    const OperatorContext &context = app->operatorContext();
    ASSERT_NE(context.certificate(), nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(context.certificate()->pbCertEncoded),
                          context.certificate()->cbCertEncoded),
              pki.der("operator"));
    ASSERT_NE(context.serial(), nullptr);
    EXPECT_EQ(context.serial()->SerialNumber.cbData, context.certificate()->pCertInfo->SerialNumber.cbData);
    EXPECT_STREQ(context.subjectName(),
                 "CN=Оператор шлюза, OU=Отдел связи, O=Tarmin Test, C=RU, E=operator@tarmin.test"_w);
    // The exit gives everything back (the sanitiser's leak check sees the rest).
    app->ExitInstance();
    EXPECT_EQ(app->stage(), CMainApp::kStageNone);
    EXPECT_EQ(context.handle(), nullptr);
    EXPECT_EQ(context.subjectName(), nullptr);
}

TEST_F(SecurityInitTest, EmptyPersonalStoreShowsTheReportsEndsStartUpAndExitClosesOnlyTheContext) {
    HiddenCertificateStores empty; // another test of this process may have made a PKI
    QWidget *owner = nullptr;
    QStringList summary, all;
    auto rows = [](QDialog &d) {
        QStringList texts;
        auto *list = d.findChild<QTreeWidget *>(QStringLiteral("reports"));
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            texts << list->topLevelItem(i)->text(0) + QLatin1Char(' ') + list->topLevelItem(i)->text(3);
        return texts;
    };
    dialogs.on(QStringLiteral("ReportWindow"), [&](QDialog &d) {
        owner = d.parentWidget();
        summary = rows(d);
        static_cast<ReportWindow &>(d).toggleDetails();
        all = rows(d);
        return QDialog::Accepted;
    });
    EXPECT_FALSE(start(1, kRecording)); // no certificate in "MY": CCA_init fails
    EXPECT_EQ(g_calls, (std::vector<std::string>{"CCA_create_context", "CCA_init", "CCA_get_debug_error",
                                                  "CCA_get_text_error"}));
    EXPECT_EQ(app->stage(), OperatorContext::kStageCreated);
    EXPECT_EQ(dialogs.shown, std::vector<QString>{QStringLiteral("ReportWindow")});
    EXPECT_EQ(owner, app->mainFrame());

    const QString library = QStringLiteral("0xE0030001 Ошибка криптографической библиотеки: ");
    ASSERT_EQ(summary.size(), 3) << summary.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(summary[0].startsWith(library));
    EXPECT_GT(summary[0].size(), library.size()); // the library's operator text
    EXPECT_EQ(summary[1], QStringLiteral("0xE0070006 Ошибка инициализации криптографического контекста оператора"));
    EXPECT_EQ(summary[2], QStringLiteral("0xE0070005 Работа программы будет завершена"));
    ASSERT_EQ(all.size(), 5) << all.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(all[0].startsWith(library));
    EXPECT_NE(all[0], all[1]); // the trace text, then the operator text
    EXPECT_EQ(all[1], summary[0]);
    EXPECT_EQ(all[2], QStringLiteral("0xE0030015 Ошибка при выполнении CCA_init в функции SecurityInit"));
    EXPECT_EQ(all.mid(3), summary.mid(1));

    g_calls.clear();
    app->ExitInstance();
    EXPECT_EQ(g_calls, std::vector<std::string>{"CCA_close_context"});
    EXPECT_TRUE(g_closedAfterFinalize);
    app.reset();
}

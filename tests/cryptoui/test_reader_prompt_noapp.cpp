// The list prompt called from a process without a Qt application: one is made
// for the call when a display is available and removed afterwards; without a
// display nothing is shown and the call answers as cancelled.
#include "common/codepage.h"
#include "cryptoui/CReaderPromt.h"
#include "cryptoui/ui_session.h"
#include "include/qzvoui.h"

#include <QApplication>
#include <QComboBox>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

using namespace tarmin::cp::literals;

namespace {

class Accepting : public tarmin::qzvoui::UiHook {
public:
    int runDialog(QDialog &dialog) override {
        ++dialogs;
        hadApp = qobject_cast<QApplication *>(QCoreApplication::instance()) != nullptr;
        dialog.findChild<QComboBox *>(kReaderListName)->setCurrentIndex(1);
        return QDialog::Accepted;
    }
    int messageBox(const QString &, const QString &, uint32_t) override { return 1; }
    int dialogs = 0;
    bool hadApp = false;
};

int32_t ask(int32_t *selected) {
    static std::string a = "Первый"_w, b = "Второй"_w, p = "Выбор:"_w;
    const char *items[] = {a.c_str(), b.c_str()};
    return TMN_UIGetReader(items, 2, p.c_str(), items, selected, nullptr);
}

TEST(ReaderPromptWithoutApplication, AnApplicationLivesForTheCallOnly) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    Accepting op;
    tarmin::qzvoui::setUiHook(&op);
    for (int round = 0; round < 2; ++round) {
        int32_t selected = 0;
        EXPECT_EQ(ask(&selected), 1);
        EXPECT_EQ(selected, 1);
        EXPECT_EQ(QCoreApplication::instance(), nullptr);
    }
    EXPECT_EQ(op.dialogs, 2);
    EXPECT_TRUE(op.hadApp);
    tarmin::qzvoui::setUiHook(nullptr);
}

TEST(ReaderPromptWithoutApplication, NoDisplayAnswersCancelled) {
    ::unsetenv("QT_QPA_PLATFORM");
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
    Accepting op;
    tarmin::qzvoui::setUiHook(&op);
    int32_t selected = 0;
    EXPECT_EQ(ask(&selected), 2);
    EXPECT_EQ(selected, 0);
    EXPECT_EQ(op.dialogs, 0);
    tarmin::qzvoui::setUiHook(nullptr);
}

} // namespace

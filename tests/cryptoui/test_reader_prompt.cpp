// The list prompt: texts and selection shown as it opens, detail text
// following the selection, confirmation and cancellation, refused arguments,
// and the message box, with the operator's part played by a hook.
#include "common/codepage.h"
#include "cryptoui/CReaderPromt.h"
#include "cryptoui/ui_session.h"
#include "include/qzvoui.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

using namespace tarmin::cp::literals;
using tarmin::qzvoui::UiHook;

namespace {

// What the dialog showed when the hook received it.
struct Seen {
    QString caption, prompt, details;
    QStringList items;
    int selected = -2;
    bool okEnabled = false;
};

Seen look(QDialog &d) {
    Seen s;
    s.caption = d.windowTitle();
    auto *list = d.findChild<QComboBox *>(kReaderListName);
    for (int i = 0; list && i < list->count(); ++i) s.items << list->itemText(i);
    s.selected = list ? list->currentIndex() : -2;
    if (auto *l = d.findChild<QLabel *>(kReaderPromptName)) s.prompt = l->text();
    if (auto *l = d.findChild<QLabel *>(kReaderDetailsName)) s.details = l->text();
    if (auto *ok = d.findChild<QPushButton *>("IDOK")) s.okEnabled = ok->isEnabled();
    return s;
}

// A hook that runs one action per dialog and records message boxes.
class Operator : public UiHook {
public:
    explicit Operator(std::function<int(QDialog &)> act = {}) : act_(std::move(act)) {
        previous_ = tarmin::qzvoui::setUiHook(this);
    }
    ~Operator() override { tarmin::qzvoui::setUiHook(previous_); }
    int runDialog(QDialog &dialog) override {
        ++dialogs;
        seen = look(dialog);
        return act_ ? act_(dialog) : QDialog::Rejected;
    }
    int messageBox(const QString &text, const QString &caption, uint32_t flags) override {
        boxes.push_back({text, caption, flags});
        return 1;
    }
    struct Box {
        QString text, caption;
        uint32_t flags;
    };
    int dialogs = 0;
    Seen seen;
    std::vector<Box> boxes;

private:
    std::function<int(QDialog &)> act_;
    UiHook *previous_ = nullptr;
};

// Items and details in Windows-1251, as the C callers pass them.
struct Lists {
    std::vector<std::string> itemTexts{"CN=Иванов, O=Банк"_w, "CN=Петров, O=Банк"_w, "CN=Сидоров"_w};
    std::vector<std::string> detailTexts{"Серийный номер: 01"_w, "Серийный номер: 02"_w, "Серийный номер: 03"_w};
    std::vector<const char *> items, details;
    Lists() {
        for (auto &s : itemTexts) items.push_back(s.c_str());
        for (auto &s : detailTexts) details.push_back(s.c_str());
    }
    int32_t count() const { return static_cast<int32_t>(items.size()); }
};

int32_t prompt(Lists &l, int32_t *selected, const char *title = nullptr) {
    static const std::string text = "Используемый сертификат:"_w;
    return TMN_UIGetReader(l.items.data(), l.count(), text.c_str(), l.details.data(), selected, title);
}

int select(QDialog &d, int index) {
    d.findChild<QComboBox *>(kReaderListName)->setCurrentIndex(index);
    return QDialog::Accepted;
}

TEST(ReaderPrompt, OpensWithTextsAndPreselectedDetails) {
    Lists l;
    Operator op([](QDialog &) { return QDialog::Accepted; });
    int32_t selected = 1;
    std::string title = "Выбор личного сертификата"_w;
    EXPECT_EQ(prompt(l, &selected, title.c_str()), 1);
    EXPECT_EQ(selected, 1);
    EXPECT_EQ(op.dialogs, 1);
    EXPECT_EQ(op.seen.caption, QStringLiteral("Выбор личного сертификата"));
    EXPECT_EQ(op.seen.prompt, QStringLiteral("Используемый сертификат:"));
    EXPECT_EQ(op.seen.items, (QStringList{"CN=Иванов, O=Банк", "CN=Петров, O=Банк", "CN=Сидоров"}));
    EXPECT_EQ(op.seen.selected, 1);
    EXPECT_EQ(op.seen.details, QStringLiteral("Серийный номер: 02"));
    EXPECT_TRUE(op.seen.okEnabled);
}

TEST(ReaderPrompt, DetailsFollowTheSelectionAndOkReturnsIt) {
    Lists l;
    QString detailsAfterChange;
    Operator op([&](QDialog &d) {
        select(d, 2);
        detailsAfterChange = d.findChild<QLabel *>(kReaderDetailsName)->text();
        return QDialog::Accepted;
    });
    int32_t selected = 0;
    EXPECT_EQ(prompt(l, &selected), 1);
    EXPECT_EQ(selected, 2);
    EXPECT_EQ(detailsAfterChange, QStringLiteral("Серийный номер: 03"));
    EXPECT_EQ(op.seen.caption, QStringLiteral("Выберите ключевой носитель")) << "no title keeps the caption";
}

TEST(ReaderPrompt, CancelReturnsTwoAndKeepsTheIncomingIndex) {
    Lists l;
    Operator op([](QDialog &d) {
        select(d, 2);
        return QDialog::Rejected;
    });
    int32_t selected = 1;
    EXPECT_EQ(prompt(l, &selected), 2);
    EXPECT_EQ(selected, 1);
}

TEST(ReaderPrompt, IndexOutsideTheListLeavesNoSelection) {
    Lists l;
    for (int32_t incoming : {-1, 3, 1000}) {
        Operator op([](QDialog &) { return QDialog::Accepted; });
        int32_t selected = incoming;
        // Confirming without a selection hands nothing back.
        EXPECT_EQ(prompt(l, &selected), 2) << incoming;
        EXPECT_EQ(selected, incoming);
        EXPECT_EQ(op.seen.selected, -1) << incoming;
        EXPECT_TRUE(op.seen.details.isEmpty()) << incoming;
        EXPECT_FALSE(op.seen.okEnabled) << incoming;
    }
}

TEST(ReaderPrompt, MissingArgumentsReturnTwoWithoutDialog) {
    Lists l;
    Operator op([](QDialog &) { return QDialog::Accepted; });
    std::string text = "Выбор"_w;
    int32_t selected = 0;
    EXPECT_EQ(TMN_UIGetReader(nullptr, 3, text.c_str(), l.details.data(), &selected, nullptr), 2);
    EXPECT_EQ(TMN_UIGetReader(l.items.data(), 0, text.c_str(), l.details.data(), &selected, nullptr), 2);
    EXPECT_EQ(TMN_UIGetReader(l.items.data(), -2, text.c_str(), l.details.data(), &selected, nullptr), 2);
    EXPECT_EQ(TMN_UIGetReader(l.items.data(), 3, nullptr, l.details.data(), &selected, nullptr), 2);
    EXPECT_EQ(TMN_UIGetReader(l.items.data(), 3, text.c_str(), nullptr, &selected, nullptr), 2);
    EXPECT_EQ(TMN_UIGetReader(l.items.data(), 3, text.c_str(), l.details.data(), nullptr, nullptr), 2);
    EXPECT_EQ(op.dialogs, 0);
    EXPECT_EQ(selected, 0);
}

TEST(ReaderPrompt, NullEntriesShowAsEmptyTexts) {
    Lists l;
    l.items[1] = nullptr;
    l.details[1] = nullptr;
    Operator op([](QDialog &) { return QDialog::Accepted; });
    int32_t selected = 1;
    EXPECT_EQ(prompt(l, &selected), 1);
    EXPECT_EQ(op.seen.items.size(), 3);
    EXPECT_TRUE(op.seen.items[1].isEmpty());
    EXPECT_TRUE(op.seen.details.isEmpty());
}

TEST(ReaderPrompt, RealModalLoopIsAnsweredByTheOperator) {
    // Without a hook the dialog runs its own loop; answer it as a user would.
    Lists l;
    bool answered = false;
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto *d = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (!d || answered) return;
        answered = true;
        d->findChild<QComboBox *>(kReaderListName)->setCurrentIndex(0);
        d->findChild<QPushButton *>("IDOK")->click();
    });
    poll.start();
    int32_t selected = 2;
    EXPECT_EQ(prompt(l, &selected), 1);
    EXPECT_TRUE(answered);
    EXPECT_EQ(selected, 0);
}

TEST(MessageBox, TextCaptionAndFlagsReachTheOperator) {
    Operator op;
    std::string text = "Сертификат содержит неподдерживаемый алгоритм"_w;
    std::string title = "Выбор личного сертификата"_w;
    EXPECT_EQ(TMN_UIMessageBox(text.c_str(), title.c_str(), TMN_MB_ICONERROR | TMN_MB_SETFOREGROUND), 1);
    ASSERT_EQ(op.boxes.size(), 1u);
    EXPECT_EQ(op.boxes[0].text, QStringLiteral("Сертификат содержит неподдерживаемый алгоритм"));
    EXPECT_EQ(op.boxes[0].caption, QStringLiteral("Выбор личного сертификата"));
    EXPECT_EQ(op.boxes[0].flags, TMN_MB_ICONERROR | TMN_MB_SETFOREGROUND);
}

} // namespace

// The tree and the record list in the real main window: reading each
// category, incremental refreshes, the kept selection, sorting, the column
// minimum, beeps, the overflow message, the day window, the filter command,
// the detail dialogs and the notifications category.
#include "GuiTestSupport.h"
#include "testsupport.h"

#include "monitor/alerts/ReceiptStore.h"
#include "monitor/app/CMainApp.h"
#include "monitor/app/CMainFrame.h"
#include "monitor/logs/CErrorRecord.h"
#include "monitor/logs/CNotifRecord.h"
#include "monitor/resources/MonitorIcons.h"
#include "monitor/views/CFilterDlg.h"
#include "monitor/views/CHeaderCtrlEx.h"
#include "monitor/views/CLeftView.h"
#include "monitor/views/CMonView.h"
#include "monitor/views/CNotificationsDlg.h"
#include "monitor/views/RecordTableModel.h"
#include "monitor/core/MonitorContext.h"
#include "qzcom.h"

#include <QAction>
#include <QApplication>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QTableView>
#include <QTest>
#include <QToolTip>
#include <QTreeWidget>

#include <gtest/gtest.h>

using namespace tarmin::monitor;
using namespace tarmin::test;

namespace {

class ListTest : public ::testing::Test {
protected:
    // Each test has a profile of its own, so that tests run in one process
    // do not see each other's settings.
    void SetUp() override {
        profile = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        logs = std::make_unique<GatewayLogs>(make_temp_dir("gwlogs"));
        setString(profile, "GWMonGWLogDirectory", logs->dir().string());
    }
    void TearDown() override {
        if (app) app->ExitInstance();
    }
    void start(ReceiptTracking *receipts = nullptr, ErrorStatisticsSink *statistics = nullptr) {
        app = std::make_unique<CMainApp>();
        app->context().receipts = receipts;
        app->context().errorStatistics = statistics;
        ASSERT_TRUE(app->InitInstance({"tmngwmon", "/profile=" + profile}));
        frame = app->mainFrame();
        tree = frame->leftView();
        list = frame->monView();
        model = list->recordModel();
    }
    QString cell(int row, int column) const { return model->index(row, column).data().toString(); }
    QStringList column(int c) const {
        QStringList out;
        for (int row = 0; row < model->rowCount(); ++row) out << cell(row, c);
        return out;
    }
    QStringList headers() const {
        QStringList out;
        for (int c = 0; c < model->columnCount(); ++c) out << model->headerData(c, Qt::Horizontal).toString();
        return out;
    }
    void refresh() { frame->command(kCmdRefresh)->trigger(); }
    void clickHeader(int column) {
        QHeaderView *header = list->reportView()->horizontalHeader();
        const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2, header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
    }

    std::string profile;
    std::unique_ptr<GatewayLogs> logs;
    MessageRecorder messages;
    DialogScript dialogs;
    AttentionCounter beeps;
    std::unique_ptr<CMainApp> app;
    CMainFrame *frame = nullptr;
    CLeftView *tree = nullptr;
    CMonView *list = nullptr;
    RecordTableModel *model = nullptr;
};

std::string err(const std::string &time, const std::string &code = "E0030015", const std::string &module = "smtp",
                const std::string &info = "Соединение разорвано") {
    return GatewayLogs::errorLine(dayText(), time, module, "err", code, info);
}

} // namespace

// The log directory setting is Windows-1251 text: a directory with Cyrillic
// letters is read; one that cannot be read says why in the status bar instead
// of looking like a quiet gateway.
TEST_F(ListTest, CyrillicLogDirectoryIsReadAndAMissingOneSaysWhy) {
    GatewayLogs cyrillic(make_temp_dir("gwlogs") / "Протоколы шлюза");
    std::filesystem::create_directories(cyrillic.dir());
    cyrillic.write("tarmin-gw-1.csv", {err("10:00:00")});
    setString(profile, "GWMonGWLogDirectory", cyrillic.dir().string());
    start();
    QLabel *pane = frame->statusPane(0);
    ASSERT_TRUE(tree->selectCategory(1));
    EXPECT_EQ(model->rowCount(), 1);
    EXPECT_EQ(pane->text(), QString());

    const std::string missing = (cyrillic.dir() / "нет").string();
    app->context().logDirectory = w(missing) + "/";
    ASSERT_TRUE(tree->selectCategory(2));
    EXPECT_EQ(pane->text(), QString::fromStdString("Каталог протоколов Шлюза " + missing + "/ не найден"));
    const std::string file = (cyrillic.dir() / "tarmin-gw-1.csv").string();
    app->context().logDirectory = w(file);
    ASSERT_TRUE(tree->selectCategory(3));
    EXPECT_EQ(pane->text(), QString::fromStdString("Путь к протоколам Шлюза " + file + " указывает не на каталог"));
    app->context().logDirectory = w(cyrillic.dir().string()) + "/";
    ASSERT_TRUE(tree->selectCategory(1));
    EXPECT_EQ(pane->text(), QString());
}

TEST_F(ListTest, TreeHasTheRootAndFourCategories) {
    start();
    QTreeWidgetItem *root = tree->topLevelItem(0);
    ASSERT_TRUE(root);
    EXPECT_EQ(root->text(0), QStringLiteral("АРМ Оператора Тармин-Шлюз"));
    ASSERT_EQ(root->childCount(), 4);
    EXPECT_EQ(root->child(0)->text(0), QStringLiteral("Протокол ошибок"));
    EXPECT_EQ(root->child(1)->text(0), QStringLiteral("Входящие сообщения"));
    EXPECT_EQ(root->child(2)->text(0), QStringLiteral("Исходящие сообщения"));
    EXPECT_EQ(root->child(3)->text(0), QStringLiteral("Уведомления"));
    EXPECT_TRUE(root->isExpanded());
    EXPECT_EQ(tree->selectedCategory(), 0);
    // Without receipt tracking in the program the notifications cannot be chosen.
    EXPECT_TRUE(root->child(3)->isDisabled());
    EXPECT_FALSE(tree->selectCategory(4));
}

// The tree draws its lines, also at the root: the vertical line that joins
// the categories passes between them, and the root has its line too.
TEST_F(ListTest, TreeDrawsLinesAlsoAtTheRoot) {
    start();
    tree->resize(300, 200);
    tree->show();
    tree->clearSelection(); // no highlight over the lines
    const QImage image = tree->viewport()->grab().toImage();
    const QColor base = tree->palette().color(QPalette::Base);
    const int indent = tree->indentation();
    auto inked = [&](int x, int y0, int y1) {
        for (int x1 = x - 1; x1 <= x + 1; ++x1)
            for (int y = y0; y <= y1; ++y)
                if (image.pixelColor(x1, y) != base) return true;
        return false;
    };
    const QRect second = tree->visualItemRect(tree->categoryItem(2));
    const QRect third = tree->visualItemRect(tree->categoryItem(3));
    // Between the second and the third category, in the categories' column.
    EXPECT_TRUE(inked(indent + indent / 2, second.center().y() + 2, third.center().y() - 2));
    // The root's own line, from its column to the item.
    const QRect root = tree->visualItemRect(tree->categoryItem(0));
    EXPECT_TRUE(inked(indent - 2, root.center().y(), root.center().y()));
}

TEST_F(ListTest, SelectingEachCategoryReadsItsLog) {
    logs->write("tarmin-gw-1.csv", {err("10:00:00", "E0020004", "smtp"), err("10:05:00", "0", "pop3", "Готово")});
    logs->write("tmnrecv-1.csv",
                {GatewayLogs::inLine(dayText(), "11:00:00", "0", "AB12", "OK", "ivanov@example.ru", "Отчёт", "a.txt;b.doc", "1"),
                 GatewayLogs::inLine(dayText(), "11:30:00", "E0030001", "CD34", "", "petrov@example.ru", "Заявка", "", "2")});
    logs->write("tmnsent-1.csv",
                {GatewayLogs::outLine(dayText(), "12:00:00", "0", "EF56", "a@x.ru;b@x.ru", "План", "plan.xls", "3")});
    start();

    ASSERT_TRUE(tree->selectCategory(1));
    EXPECT_EQ(list->category(), 1);
    EXPECT_EQ(headers(), (QStringList{"Дата", "Время", "Модуль", "Результат", "Информация"}));
    ASSERT_EQ(model->rowCount(), 2);
    EXPECT_EQ(column(1), (QStringList{"10:05:00", "10:00:00"})); // newest first
    EXPECT_EQ(cell(1, 2), "smtp");
    EXPECT_EQ(cell(1, 3), "E0020004");
    EXPECT_EQ(cell(0, 4), "Готово");
    EXPECT_FALSE(model->index(0, 0).data(Qt::DecorationRole).isNull());

    ASSERT_TRUE(tree->selectCategory(2));
    EXPECT_EQ(headers(), (QStringList{"Дата", "Время", "Код обработки", "Адрес", "Тема сообщения",
                                      "Результат уведомления", "Вложения"}));
    ASSERT_EQ(model->rowCount(), 2);
    EXPECT_EQ(column(2), (QStringList{"Ошибка", "OK"}));
    // The initial widths of the category, a narrow 40 pixels included.
    QHeaderView *header = list->reportView()->horizontalHeader();
    EXPECT_EQ(header->sectionSize(0), 100);
    EXPECT_EQ(header->sectionSize(2), 40);
    EXPECT_EQ(header->sectionSize(3), 250);
    EXPECT_EQ(cell(1, 3), "ivanov@example.ru");
    EXPECT_EQ(cell(1, 4), "Отчёт");
    EXPECT_EQ(cell(1, 5), "OK");
    EXPECT_EQ(cell(1, 6), "a.txt;b.doc");

    ASSERT_TRUE(tree->selectCategory(3));
    EXPECT_EQ(headers(), (QStringList{"Дата", "Время", "Код обработки", "Получатели сообщения", "Тема сообщения",
                                      "Вложения"}));
    ASSERT_EQ(model->rowCount(), 1);
    EXPECT_EQ(cell(0, 3), "a@x.ru;b@x.ru");
    EXPECT_EQ(cell(0, 5), "plan.xls");

    ASSERT_TRUE(tree->selectCategory(0));
    EXPECT_EQ(model->rowCount(), 0);
    EXPECT_EQ(model->columnCount(), 0);
}

TEST_F(ListTest, ReadingAgainAddsOnlyNewRecordsAndSwitchingBackReloads) {
    logs->write("tarmin-gw-1.csv", {err("10:00:00"), err("10:01:00")});
    start();
    ASSERT_TRUE(tree->selectCategory(1));
    ASSERT_EQ(model->rowCount(), 2);
    list->OnCategorySelected(1); // the same category again: nothing new
    EXPECT_EQ(model->rowCount(), 2);
    logs->append("tarmin-gw-1.csv", {err("10:02:00")});
    logs->write("tarmin-gw-2.csv", {err("10:03:00")});
    list->OnCategorySelected(1);
    EXPECT_EQ(column(1), (QStringList{"10:03:00", "10:02:00", "10:01:00", "10:00:00"}));
    // Another category and back: the errors are read again from the first file.
    ASSERT_TRUE(tree->selectCategory(2));
    ASSERT_TRUE(tree->selectCategory(1));
    EXPECT_EQ(column(1), (QStringList{"10:03:00", "10:02:00", "10:01:00", "10:00:00"}));
}

TEST_F(ListTest, RefreshKeepsTheSelectedRecordSelected) {
    logs->write("tarmin-gw-1.csv", {err("10:00:00"), err("10:01:00"), err("10:02:00"), err("10:03:00")});
    start();
    ASSERT_TRUE(tree->selectCategory(1));
    list->selectRow(2); // 10:01:00
    ASSERT_EQ(cell(list->selectedRow(), 1), "10:01:00");
    logs->append("tarmin-gw-1.csv", {err("10:04:00"), err("10:05:00"), err("10:06:00")});
    refresh();
    ASSERT_EQ(model->rowCount(), 7);
    EXPECT_EQ(list->selectedRow(), 5);
    EXPECT_EQ(cell(list->selectedRow(), 1), "10:01:00");
}

TEST_F(ListTest, HeaderClicksSortAscendingThenDescending) {
    logs->write("tmnsent-1.csv",
                {GatewayLogs::outLine("31/12/2023", "09:00:00", "0", "H1", "a@x", "бета", "", "1"),
                 GatewayLogs::outLine("01/01/2024", "08:00:00", "0", "H2", "a@x", "Альфа", "", "1"),
                 GatewayLogs::outLine("15/06/2023", "10:00:00", "0", "H3", "a@x", "ГАММА", "", "1")});
    start();
    ASSERT_TRUE(tree->selectCategory(3));
    list->selectRow(0); // 15/06/2023 is read last: newest position at the top
    const QString selected = cell(0, 4);
    clickHeader(0);
    EXPECT_EQ(column(0), (QStringList{"15/06/2023", "31/12/2023", "01/01/2024"}));
    EXPECT_EQ(list->sortColumn(), 0);
    EXPECT_TRUE(list->sortAscending());
    EXPECT_EQ(list->header()->sortMarkColumn(), 0);
    EXPECT_EQ(cell(list->selectedRow(), 4), selected); // the selection follows its record
    clickHeader(0);
    EXPECT_EQ(column(0), (QStringList{"01/01/2024", "31/12/2023", "15/06/2023"}));
    EXPECT_FALSE(list->sortAscending());
    clickHeader(4);
    EXPECT_EQ(column(4), (QStringList{"Альфа", "бета", "ГАММА"}));
    clickHeader(4);
    EXPECT_EQ(column(4), (QStringList{"ГАММА", "бета", "Альфа"}));
}

TEST_F(ListTest, ColumnsCannotBeDraggedNarrowerThanFiftyPixels) {
    logs->write("tarmin-gw-1.csv", {err("10:00:00")});
    start();
    frame->resize(1000, 600);
    ASSERT_TRUE(tree->selectCategory(1));
    QHeaderView *header = list->reportView()->horizontalHeader();
    EXPECT_EQ(header->sectionSize(4), 350);
    const int edge = header->sectionViewportPosition(2) + header->sectionSize(2) - 1;
    const int y = header->height() / 2;
    QTest::mousePress(header->viewport(), Qt::LeftButton, {}, QPoint(edge, y));
    QTest::mouseMove(header->viewport(), QPoint(edge - 30, y));
    QTest::mouseMove(header->viewport(), QPoint(edge - 85, y));
    QTest::mouseRelease(header->viewport(), Qt::LeftButton, {}, QPoint(edge - 85, y));
    EXPECT_EQ(header->sectionSize(2), CMonView::kMinColumnWidth);
    // The width in use is kept for the category.
    ASSERT_TRUE(tree->selectCategory(2));
    EXPECT_EQ(list->columnWidths(1)[2], CMonView::kMinColumnWidth);
    ASSERT_TRUE(tree->selectCategory(1));
    EXPECT_EQ(header->sectionSize(2), CMonView::kMinColumnWidth);
}

TEST_F(ListTest, ListedCodeBeepsOncePerNewRecordTime) {
    setDword(profile, "ProtectionFlags", 2);
    setString(profile, "GWMonBeepErrorsList", "0xe0020004, 0xE0030001");
    logs->write("tarmin-gw-1.csv", {err("10:00:00", "E0020004"), err("10:00:30", "0")});
    start();
    ASSERT_TRUE(tree->selectCategory(1));
    EXPECT_EQ(beeps.count, 1);
    EXPECT_EQ(list->lastBeepTime(1), "10:00:00");
    refresh(); // nothing new
    EXPECT_EQ(beeps.count, 1);
    logs->append("tarmin-gw-1.csv", {err("10:00:00", "E0030001")}); // the same time text
    refresh();
    EXPECT_EQ(beeps.count, 1);
    logs->append("tarmin-gw-1.csv", {err("10:07:00", "0")}); // not listed
    refresh();
    EXPECT_EQ(beeps.count, 1);
    logs->append("tarmin-gw-1.csv", {err("10:09:00", "E0020004")});
    refresh();
    EXPECT_EQ(beeps.count, 2);
    EXPECT_EQ(list->lastBeepTime(1), "10:09:00");
}

TEST_F(ListTest, NoBeepWhenTheBeepFlagIsOff) {
    setString(profile, "GWMonBeepErrorsList", "0XE0020004");
    logs->write("tarmin-gw-1.csv", {err("10:00:00", "E0020004")});
    start();
    ASSERT_TRUE(tree->selectCategory(1));
    EXPECT_EQ(beeps.count, 0);
}

TEST_F(ListTest, FullListShowsTheOverflowMessageAndKeepsTheNewest) {
    logs->write("tarmin-gw-1.csv", {err("10:00:00"), err("10:01:00"), err("10:02:00"), err("10:03:00")});
    start();
    model->setCapacity(3);
    ASSERT_TRUE(tree->selectCategory(1));
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(messages.messages[0].text, QStringLiteral("Невозможно отобразить все записи журнала из-за переполнения"));
    EXPECT_EQ(messages.messages[0].icon, MsgIcon::Error);
    EXPECT_EQ(column(1), (QStringList{"10:03:00", "10:02:00", "10:01:00"}));
}

TEST_F(ListTest, DayWindowOfOneDayShowsOnlyToday) {
    setDword(profile, "PathsFlags", 1);
    setDword(profile, "AnalyzeNday", 1);
    logs->write("tarmin-gw-1.csv", {GatewayLogs::errorLine(dayText(-1), "23:59:59", "smtp", "err", "1", "вчера"),
                                    GatewayLogs::errorLine(dayText(), "00:00:01", "smtp", "err", "1", "сегодня")});
    start();
    ASSERT_TRUE(tree->selectCategory(1));
    EXPECT_EQ(column(4), (QStringList{"сегодня"}));
}

TEST_F(ListTest, FilterCommandReadsTheCategoryAgainWithTheConditions) {
    logs->write("tarmin-gw-1.csv", {err("10:00:00", "1", "smtp"), err("10:01:00", "1", "POP3"), err("10:02:00", "1", "smtp-out")});
    start();
    ASSERT_TRUE(tree->selectCategory(1));
    ASSERT_EQ(model->rowCount(), 3);
    dialogs.on(QStringLiteral("CFilterDlg"), [](QDialog &d) {
        auto &filter = static_cast<CFilterDlg &>(d);
        EXPECT_EQ(filter.windowTitle(), QStringLiteral("Фильтрация ошибок"));
        static_cast<QLineEdit *>(filter.control(CFilterDlg::kModule))->setText(QStringLiteral("SMTP"));
        filter.accept();
        return filter.result();
    });
    frame->command(kCmdFilter)->trigger();
    EXPECT_EQ(column(2), (QStringList{"smtp-out", "smtp"}));
    EXPECT_EQ(list->conditions(1).module, "SMTP");
}

TEST_F(ListTest, FilterDialogStartsWithTheConditionsAndCancelKeepsThem) {
    logs->write("tarmin-gw-1.csv", {err("10:00:00", "1", "smtp"), err("10:01:00", "1", "pop3")});
    start();
    ASSERT_TRUE(tree->selectCategory(1));
    FilterConditions c;
    c.module = "pop";
    list->setConditions(1, c);
    list->Refresh();
    ASSERT_EQ(column(2), (QStringList{"pop3"}));
    QString shownModule;
    dialogs.on(QStringLiteral("CFilterDlg"), [&](QDialog &d) {
        auto &filter = static_cast<CFilterDlg &>(d);
        shownModule = static_cast<QLineEdit *>(filter.control(CFilterDlg::kModule))->text();
        filter.OnClearAll();
        filter.reject();
        return filter.result();
    });
    frame->command(kCmdFilter)->trigger();
    EXPECT_EQ(shownModule, QStringLiteral("pop"));
    EXPECT_EQ(list->conditions(1).module, "pop");
    EXPECT_EQ(column(2), (QStringList{"pop3"}));
}

TEST_F(ListTest, EnterOrDoubleClickOpensTheRecordsDialog) {
    logs->write("tarmin-gw-1.csv", {err("10:00:00")});
    logs->write("tmnsent-1.csv", {GatewayLogs::outLine(dayText(), "12:00:00", "0", "EF56", "a@x.ru", "План", "p.xls", "3")});
    start();
    ASSERT_TRUE(tree->selectCategory(1));
    list->selectRow(0);
    QTest::keyClick(list->reportView(), Qt::Key_Return);
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0], QStringLiteral("CErrorDlg"));
    ASSERT_TRUE(tree->selectCategory(3));
    const QRect rect = list->reportView()->visualRect(model->index(0, 1));
    QTest::mouseClick(list->reportView()->viewport(), Qt::LeftButton, {}, rect.center());
    QTest::mouseDClick(list->reportView()->viewport(), Qt::LeftButton, {}, rect.center());
    ASSERT_EQ(dialogs.shown.size(), 2u);
    EXPECT_EQ(dialogs.shown[1], QStringLiteral("COutRecordDlg"));
}

namespace {
// Receipt tracking as the notifications category sees it.
class FakeReceipts : public ReceiptTracking {
public:
    void runBatch(unsigned lines) override {
        ++batches;
        lastLines = lines;
    }
    bool catchUpPending() const override { return pending; }
    std::vector<std::unique_ptr<CNotifRecord>> pendingMessages() const override {
        std::vector<std::unique_ptr<CNotifRecord>> out;
        for (const auto &[time, hash, subject] : waiting)
            out.push_back(std::make_unique<CNotifRecord>(dayText(), time, hash, "2", w(subject)));
        return out;
    }
    void checkOverdue(const CNotifRecord &m) override { checked.emplace_back(m.hash()); }
    void addReportedHashes(const std::vector<std::string> &) override {}
    std::vector<const PendingMessage *> messagesWithHash(std::string_view hash) const override {
        std::vector<const PendingMessage *> out;
        for (const PendingMessage::Owned &m : messages)
            if (m->hash() == hash) out.push_back(m.get());
        return out;
    }

    std::vector<std::string> subjects() const override { return {}; }

    int batches = 0;
    unsigned lastLines = 0;
    bool pending = false;
    std::vector<std::tuple<std::string, std::string, std::string>> waiting;
    std::vector<std::string> checked;
    std::vector<PendingMessage::Owned> messages;
    void track(std::string_view hash, std::vector<std::string_view> recipients, std::vector<std::string_view> statuses,
               std::vector<std::string_view> attachments) {
        messages.push_back(PendingMessage::make({"", "", hash, "2", "", recipients, statuses, attachments}));
    }
};

QStringList texts(const QTreeWidget *list, int column) {
    QStringList out;
    for (int row = 0; row < list->topLevelItemCount(); ++row) out << list->topLevelItem(row)->text(column);
    return out;
}
} // namespace

TEST_F(ListTest, NotificationsAreRebuiltFromReceiptTracking) {
    FakeReceipts receipts;
    receipts.waiting = {{"09:00:00", "AAA", "Первое"}, {"09:30:00", "BBB", "Второе"}, {"10:00:00", "CCC", "Третье"}};
    start(&receipts);
    EXPECT_FALSE(tree->categoryItem(4)->isDisabled());
    const int batchesAtStart = receipts.batches;
    ASSERT_TRUE(tree->selectCategory(4));
    EXPECT_EQ(receipts.batches, batchesAtStart + 1);
    EXPECT_EQ(receipts.lastLines, 1000u);
    EXPECT_EQ(headers(), (QStringList{"Дата", "Время", "Тема сообщения"}));
    EXPECT_EQ(column(2), (QStringList{"Третье", "Второе", "Первое"}));
    EXPECT_EQ(receipts.checked.size(), 3u);
    list->selectRow(1); // BBB
    receipts.waiting.erase(receipts.waiting.begin()); // AAA got its receipts
    receipts.waiting.emplace_back("10:30:00", "DDD", "Четвёртое");
    refresh();
    EXPECT_EQ(column(2), (QStringList{"Четвёртое", "Третье", "Второе"}));
    EXPECT_EQ(cell(list->selectedRow(), 2), "Второе");
    // While the catch-up is pending the category is not read.
    receipts.pending = true;
    receipts.waiting.clear();
    list->OnCategorySelected(4);
    EXPECT_EQ(model->rowCount(), 3);
}

TEST_F(ListTest, NotificationRowOpensTheReceiptsOfItsMessage) {
    FakeReceipts receipts;
    receipts.waiting = {{"09:00:00", "AAA", "Первое"}, {"09:30:00", "BBB", "Второе"}, {"10:00:00", "CCC", "Третье"}};
    // BBB is tracked without recipients; CCC is not tracked at all.
    receipts.track("AAA", {"a@x.ru", "b@x.ru", "c@x.ru"}, {"OK", "ER", "WAIT"}, {"1.txt", "2.doc"});
    receipts.track("BBB", {}, {}, {"3.txt"});
    start(&receipts);
    ASSERT_TRUE(tree->selectCategory(4));
    QStringList addresses, results, attachments, counters;
    std::vector<qint64> icons;
    dialogs.on(QStringLiteral("CNotificationsDlg"), [&](QDialog &d) {
        auto &n = static_cast<CNotificationsDlg &>(d);
        addresses = texts(n.recipientList(), 0);
        results = texts(n.recipientList(), 1);
        attachments = texts(n.attachmentList(), 0);
        for (QLineEdit *f : {n.totalField(), n.receivedField(), n.confirmedField(), n.failedField()}) counters << f->text();
        for (int row = 0; row < n.recipientList()->topLevelItemCount(); ++row)
            icons.push_back(n.recipientList()->topLevelItem(row)->icon(0).cacheKey());
        EXPECT_EQ(n.windowTitle(), QStringLiteral("Тармин-Оператор"));
        EXPECT_TRUE(n.title()->font().bold());
        // The dialog's own font in bold, as the record dialogs' headings.
        EXPECT_EQ(n.title()->font().family(), n.font().family());
        EXPECT_EQ(n.title()->font().pointSizeF(), n.font().pointSizeF());
        return int(QDialog::Accepted);
    });
    list->selectRow(2); // AAA, the oldest, at the bottom
    QTest::keyClick(list->reportView(), Qt::Key_Return);
    ASSERT_EQ(dialogs.shown, (std::vector<QString>{QStringLiteral("CNotificationsDlg")}));
    // Rows go in at the top: the stored entries show last first.
    EXPECT_EQ(addresses, (QStringList{"c@x.ru", "b@x.ru", "a@x.ru"}));
    EXPECT_EQ(results, (QStringList{"WAIT", "ER", "OK"}));
    EXPECT_EQ(attachments, (QStringList{"2.doc", "1.txt"}));
    EXPECT_EQ(counters, (QStringList{"3", "2", "1", "1"}));
    EXPECT_EQ(icons, (std::vector<qint64>{MonitorIcons::receiptWaiting().cacheKey(),
                                          MonitorIcons::receiptFailed().cacheKey(),
                                          MonitorIcons::receiptConfirmed().cacheKey()}));
    // Without recipients the dialog closes at once, never shown.
    for (int row : {1, 0}) {
        list->selectRow(row);
        QTest::keyClick(list->reportView(), Qt::Key_Return);
    }
    EXPECT_EQ(dialogs.shown.size(), 1u);
}

TEST_F(ListTest, TabMovesBetweenThePanes) {
    start();
    frame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frame));
    tree->setFocus();
    QTest::keyClick(tree, Qt::Key_Tab);
    EXPECT_TRUE(list->reportView()->hasFocus());
    QTest::keyClick(list->reportView(), Qt::Key_Tab);
    EXPECT_TRUE(tree->hasFocus());
}

TEST_F(ListTest, SelectedRowKeepsTheListColoursAcrossTheWholeRow) {
    logs->write("tarmin-gw-1.csv", {err("10:00:00"), err("10:01:00")});
    start();
    frame->resize(1000, 600);
    ASSERT_TRUE(tree->selectCategory(1));
    list->selectRow(0);
    QTableView *table = list->reportView();
    const QImage image = table->viewport()->grab().toImage();
    const QColor base = table->palette().color(QPalette::Base);
    const QColor highlight = table->palette().color(QPalette::Highlight);
    // A point inside the last cell of the selected row, right of its text.
    const QRect cell = table->visualRect(model->index(0, 4));
    const QColor inside = image.pixelColor(cell.right() - 5, cell.center().y());
    EXPECT_EQ(inside, base);
    EXPECT_NE(inside, highlight);
    EXPECT_EQ(list->selectedBackgroundColour(), base);
    // The row is marked along its top edge in every column; the row below is not.
    auto markedTop = [&](int row, int c) {
        const QRect r = table->visualRect(model->index(row, c));
        for (int x = r.left() + 2; x < r.right() - 2; ++x)
            if (image.pixelColor(x, r.top()) != base) return true;
        return false;
    };
    for (int c = 0; c < model->columnCount(); ++c) {
        EXPECT_TRUE(markedTop(0, c)) << c;
        EXPECT_FALSE(markedTop(1, c) && c > 0) << c;
    }
}

TEST_F(ListTest, ViewStylesShowTheSameRowsAndSelection) {
    logs->write("tarmin-gw-1.csv", {err("10:00:00"), err("10:01:00"), err("10:02:00")});
    start();
    ASSERT_TRUE(tree->selectCategory(1));
    list->selectRow(1);
    frame->command(kCmdLargeIcons)->trigger();
    EXPECT_EQ(list->viewStyle(), ViewStyle::LargeIcons);
    EXPECT_EQ(list->iconView()->model(), model);
    EXPECT_EQ(list->iconView()->iconSize(), QSize(32, 32));
    EXPECT_EQ(list->selectedRow(), 1);
    frame->command(kCmdArrange)->trigger();
    EXPECT_EQ(list->iconView()->model(), model);
    frame->command(kCmdList)->trigger();
    EXPECT_EQ(list->iconView()->iconSize(), QSize(16, 16));
    EXPECT_FALSE(frame->command(kCmdArrange)->isEnabled());
    frame->command(kCmdDetails)->trigger();
    EXPECT_EQ(list->iconView()->model(), nullptr); // the icon list lets go of the rows
    EXPECT_EQ(list->selectedRow(), 1);
}

TEST_F(ListTest, CutOffCellsShowTheirWholeTextAsToolTip) {
    const std::string longInfo(120, 'x');
    logs->write("tarmin-gw-1.csv", {err("10:00:00", "1", "smtp", longInfo)});
    start();
    frame->resize(1000, 600);
    ASSERT_TRUE(tree->selectCategory(1));
    QTableView *table = list->reportView();
    auto tipAt = [&](int column) {
        const QRect rect = table->visualRect(model->index(0, column));
        QHelpEvent help(QEvent::ToolTip, rect.center(), table->viewport()->mapToGlobal(rect.center()));
        QApplication::sendEvent(table->viewport(), &help);
        return QToolTip::isVisible() ? QToolTip::text() : QString();
    };
    EXPECT_EQ(tipAt(2), QString());                        // "smtp" fits: no tip
    EXPECT_EQ(tipAt(4), QString::fromStdString(longInfo)); // 350 pixels are too few
}

namespace {
// Error statistics that raise an event for every counted record, as the
// numerous-error alert does.
class ReportingStatistics : public ErrorStatisticsSink {
public:
    void resetForPass() override { ++resets; }
    void count(const CErrorRecord &record, const ErrorsReadingSettings &settings) override {
        ++counted;
        threshold = settings.maxErrorRepeat;
        QZ_ReportEvent(QZ_LEVEL_DETAIL, 0x600E0005u, record.codeNumber(), settings.maxErrorRepeat,
                       std::string(record.date()).c_str(), std::string(record.time()).c_str());
    }
    int resets = 0, counted = 0;
    uint32_t threshold = 0;
};
} // namespace

TEST_F(ListTest, ErrorsPassCountsRecordsAndShowsTheReportsItCollected) {
    setDword(profile, "KVITFlags", 8);
    setDword(profile, "MaxErrorRepeat", 3);
    logs->write("tarmin-gw-1.csv", {err("10:00:00", "E0030015"), err("10:01:00", "E0030015")});
    ReportingStatistics statistics;
    QStringList shownReports;
    dialogs.keepReports(shownReports);
    start(nullptr, &statistics);
    ASSERT_TRUE(tree->selectCategory(1));
    EXPECT_EQ(statistics.resets, 1);
    EXPECT_EQ(statistics.counted, 2);
    EXPECT_EQ(statistics.threshold, 3u);
    ASSERT_EQ(shownReports.size(), 1);
    EXPECT_EQ(shownReports[0].count(QStringLiteral("0x600E0005")), 2);
    EXPECT_EQ(QZ_GetReportCount(), 0u);
    // A refresh without new records counts nothing and shows nothing.
    refresh();
    EXPECT_EQ(statistics.resets, 2);
    EXPECT_EQ(statistics.counted, 2);
    EXPECT_EQ(shownReports.size(), 1);
    // With counting off the records are not counted.
    setDword(profile, "KVITFlags", 0);
    logs->append("tarmin-gw-1.csv", {err("10:02:00", "E0030015")});
    refresh();
    EXPECT_EQ(statistics.counted, 2);
}

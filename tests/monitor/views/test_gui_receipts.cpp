// Receipt tracking in the running program: a backlog larger than one batch is
// worked off on the fast refresh timer after start-up, then the notifications
// category lists the messages still waiting and reports an overdue one once.
#include "GuiTestSupport.h"
#include "testsupport.h"

#include "monitor/app/CMainApp.h"
#include "monitor/app/CMainFrame.h"
#include "monitor/views/CFilterDlg.h"
#include "monitor/views/CLeftView.h"
#include "monitor/views/CMonView.h"
#include "monitor/views/RecordTableModel.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>

#include <gtest/gtest.h>


using namespace tarmin::monitor;
using namespace tarmin::test;

namespace {

std::string sending(long secondsAgo, const std::string &hash, const std::string &subject) {
    auto [date, time] = local_date_time(secondsAgo);
    return GatewayLogs::outLine(date, time, "0", hash, "a@x.ru", subject, "", "1");
}

std::string receipt(const std::string &hash) {
    auto [date, time] = local_date_time(60);
    return GatewayLogs::inLine(date, time, "0", hash, "OK", "a@x.ru", "Re", "", "1");
}

} // namespace

TEST(ReceiptsInTheProgram, BacklogIsWorkedOffAndTheWaitingMessagesAreListed) {
    const std::string profile = "ReceiptsInTheProgram";
    GatewayLogs logs(make_temp_dir("gwlogs"));
    setString(profile, "GWMonGWLogDirectory", logs.dir().string());
    setString(profile, "Filename", make_temp_dir("events").string() + "/");
    setDword(profile, "KVITFlags", 1 | 2);
    setDword(profile, "KvitTimeout", 120);
    // 1002 sendings; all but two get their receipt.
    std::vector<std::string> sent{sending(3 * 3600, "DEAD01", "Просрочено")};
    std::vector<std::string> received;
    for (int i = 0; i < 1000; ++i) {
        const std::string hash = "C" + std::to_string(10000 + i);
        sent.push_back(sending(600, hash, "Отчёт"));
        received.push_back(receipt(hash));
    }
    sent.push_back(sending(300, "BEEF02", "Ждёт"));
    logs.write("tmnsent-1.csv", sent);
    logs.write("tmnrecv-1.csv", received);

    MessageRecorder messages;
    DialogScript dialogs;
    QStringList shownReports;
    dialogs.keepReports(shownReports);
    CMainApp app;
    ASSERT_TRUE(app.InitInstance({"tmngwmon", "/profile=" + profile}));
    CLeftView *tree = app.mainFrame()->leftView();
    EXPECT_FALSE(tree->categoryItem(4)->isDisabled());
    // The start-up batch stopped at its limit: the refresh timer runs fast
    // until the logs are read.
    EXPECT_TRUE(app.catchUpPending());
    EXPECT_EQ(app.refreshPeriodMs(), 100);
    QElapsedTimer waited;
    waited.start();
    while (app.catchUpPending() && waited.elapsed() < 20000) QApplication::processEvents(QEventLoop::AllEvents, 50);
    ASSERT_FALSE(app.catchUpPending());

    ASSERT_TRUE(tree->selectCategory(4));
    RecordTableModel *model = app.mainFrame()->monView()->recordModel();
    auto subjects = [&] {
        QStringList out;
        for (int row = 0; row < model->rowCount(); ++row) out << model->index(row, 2).data().toString();
        return out;
    };
    EXPECT_EQ(subjects(), (QStringList{"Ждёт", "Просрочено"}));
    ASSERT_EQ(shownReports.size(), 1);
    EXPECT_TRUE(shownReports[0].contains(QStringLiteral("'Просрочено'")));
    EXPECT_TRUE(shownReports[0].contains(QStringLiteral("hash=DEAD01")));

    // The last one is confirmed; the overdue one stays and is not reported again.
    logs.append("tmnrecv-1.csv", {receipt("BEEF02")});
    app.mainFrame()->command(kCmdRefresh)->trigger();
    EXPECT_EQ(subjects(), (QStringList{"Просрочено"}));
    EXPECT_EQ(shownReports.size(), 1);
    app.ExitInstance();
}

// "Уведомления" chosen while the receipts are still being caught up: the list
// keeps what it shows, the filter command edits the notifications' filter,
// and the first refresh after the catch-up shows the notifications.
TEST(ReceiptsInTheProgram, NotificationsChosenDuringTheCatchUpComeWhenItEnds) {
    const std::string profile = "ChosenDuringCatchUp";
    GatewayLogs logs(make_temp_dir("gwlogs"));
    setString(profile, "GWMonGWLogDirectory", logs.dir().string());
    setString(profile, "Filename", make_temp_dir("events").string() + "/");
    std::vector<std::string> sent;
    for (int i = 0; i < 2500; ++i) sent.push_back(sending(600, "H" + std::to_string(i), "Отчёт"));
    logs.write("tmnsent-1.csv", sent);
    logs.write("tarmin-gw-1.csv", {GatewayLogs::errorLine(dayText(), "10:00:00", "smtp", "err", "1", "x")});

    MessageRecorder messages;
    DialogScript dialogs;
    int filterCategory = -1;
    dialogs.on(QStringLiteral("CFilterDlg"), [&](QDialog &d) {
        filterCategory = static_cast<CFilterDlg &>(d).category();
        return QDialog::Rejected;
    });
    CMainApp app;
    ASSERT_TRUE(app.InitInstance({"tmngwmon", "/profile=" + profile}));
    app.mainFrame()->refreshTimer().stop(); // the ticks are driven here
    CLeftView *tree = app.mainFrame()->leftView();
    CMonView *list = app.mainFrame()->monView();
    ASSERT_TRUE(tree->selectCategory(1));
    ASSERT_TRUE(app.catchUpPending());
    ASSERT_TRUE(tree->selectCategory(4));
    EXPECT_EQ(list->category(), 1); // nothing to show yet
    EXPECT_TRUE(app.mainFrame()->command(kCmdFilter)->isEnabled());
    app.mainFrame()->command(kCmdFilter)->trigger();
    EXPECT_EQ(filterCategory, 4);

    for (int tick = 0; tick < 20 && app.catchUpPending(); ++tick) app.mainFrame()->OnRefresh();
    ASSERT_FALSE(app.catchUpPending());
    app.mainFrame()->OnRefresh();
    EXPECT_EQ(list->category(), 4);
    EXPECT_EQ(list->recordModel()->rowCount(), 2500);
    app.ExitInstance();
}

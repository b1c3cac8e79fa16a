// The monitor's alerts in the running program: alert times and overdue
// hashes found in the operator event files at start-up keep the quiet period
// of an earlier run, and the job writers' message boxes reach the operator
// from a worker thread.
#include "GuiTestSupport.h"
#include "testsupport.h"

#include "monitor/app/CMainApp.h"
#include "monitor/app/CMainFrame.h"
#include "monitor/jobs/JobMessages.h"
#include "monitor/logs/CNotifRecord.h"
#include "monitor/views/CLeftView.h"
#include "monitor/views/JobMessageBoxes.h"
#include "qzcom.h"

#include <QAction>
#include <QApplication>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace tarmin::monitor;
using namespace tarmin::test;

namespace {

// Receipt tracking that only keeps the hashes handed to it.
class HashKeepingReceipts : public ReceiptTracking {
public:
    void runBatch(unsigned) override {}
    bool catchUpPending() const override { return false; }
    std::vector<std::unique_ptr<CNotifRecord>> pendingMessages() const override { return {}; }
    void checkOverdue(const CNotifRecord &) override {}
    void addReportedHashes(const std::vector<std::string> &hashes) override {
        reported.insert(reported.end(), hashes.begin(), hashes.end());
    }
    std::vector<const PendingMessage *> messagesWithHash(std::string_view) const override { return {}; }
    std::vector<std::string> subjects() const override { return {}; }
    std::vector<std::string> reported;
};

} // namespace

TEST(AlertsInTheProgram, QuietPeriodOfAnEarlierRunHoldsAfterStartUp) {
    const std::string profile = "AlertsRestart";
    GatewayLogs logs(make_temp_dir("gwlogs"));
    const auto events = make_temp_dir("events");
    const auto out = make_temp_dir("out");
    setString(profile, "GWMonGWLogDirectory", logs.dir().string());
    setString(profile, "Filename", events.string() + "/");
    setString(profile, "GWMonOutputDirectory", out.string());
    setString(profile, "AdmAddr", "admin@bank.ru");
    setDword(profile, "KVITFlags", 8 | 16);
    setDword(profile, "MaxErrorRepeat", 2);
    setDword(profile, "ErrPeriodRepeat", 60);
    // What the earlier run reported: an alert for E0030015 today at 10:00:00
    // and an overdue letter.
    write_file(events / "tarmin-operator20240301.csv",
               w(dayText() + ",10:00:01,0x600E0005,1,Ошибка 0xE0030015 возникла 2 раз; последняя: " + dayText() +
                 " 10:00:00\n" + dayText() +
                 ",10:00:02,0xE00E0002,1,Истёк таймаут 120 минут на получение квитанции на письмо 'Отчёт', "
                 "отправленное 08:00:00 " +
                 dayText() + " hash=9F86D081884C7D65\n"));
    auto err = [](const std::string &time) {
        return GatewayLogs::errorLine(dayText(), time, "smtp", "err", "E0030015", "Соединение разорвано");
    };
    logs.write("tarmin-gw-1.csv", {err("10:00:00"), err("10:30:00"), err("11:00:00")});

    MessageRecorder messages;
    DialogScript dialogs;
    QStringList shownReports;
    dialogs.keepReports(shownReports);
    HashKeepingReceipts receipts;
    CMainApp app;
    app.context().receipts = &receipts;
    ASSERT_TRUE(app.InitInstance({"tmngwmon", "/profile=" + profile}));
    EXPECT_EQ(receipts.reported, (std::vector<std::string>{"9F86D081884C7D65"}));

    // Within 60 minutes of the earlier alert: nothing is counted.
    ASSERT_TRUE(app.mainFrame()->leftView()->selectCategory(1));
    EXPECT_TRUE(shownReports.isEmpty());
    EXPECT_TRUE(names_in(out).empty());

    // Two records after the quiet period raise the alert and write its job.
    logs.append("tarmin-gw-1.csv", {err("11:00:01"), err("11:00:02")});
    app.mainFrame()->command(kCmdRefresh)->trigger();
    ASSERT_EQ(shownReports.size(), 1);
    EXPECT_EQ(shownReports[0].count(QStringLiteral("0x600E0005")), 1);
    EXPECT_EQ(names_in(out).size(), 1u);
    app.ExitInstance();
}

TEST(AlertsInTheProgram, JobMessageFromAWorkerThreadIsShownOnTheInterfaceThread) {
    // Records the thread on which each box is shown.
    class ThreadRecorder : public MessageBoxHandler {
    public:
        int show(const MessageRequest &request) override {
            texts << request.text;
            icons.push_back(request.icon);
            onInterfaceThread.push_back(QThread::currentThread() == qApp->thread());
            return kAnswerOk;
        }
        QStringList texts;
        std::vector<MsgIcon> icons;
        std::vector<bool> onInterfaceThread;
    } boxes;
    MessageBoxHandler *previous = setMessageBoxHandler(&boxes);
    installJobMessagePresenter();

    std::atomic<bool> done{false};
    std::thread worker([&] {
        showJobMessage(w("Ошибка создания временного файла"), JobMessageIcon::Error);
        done = true;
    });
    while (!done) QApplication::processEvents(QEventLoop::AllEvents, 10);
    worker.join();
    showJobMessage(w("Размещение завершено"), JobMessageIcon::Information);

    setJobMessagePresenter(nullptr);
    setMessageBoxHandler(previous);
    EXPECT_EQ(boxes.texts, (QStringList{QStringLiteral("Ошибка создания временного файла"),
                                        QStringLiteral("Размещение завершено")}));
    EXPECT_EQ(boxes.icons, (std::vector<MsgIcon>{MsgIcon::Error, MsgIcon::Information}));
    EXPECT_EQ(boxes.onInterfaceThread, (std::vector<bool>{true, true}));
}

// The distribution wizard and the automatic sending windows in the running
// program on a test PKI: the greeting page's list, period and packet checks;
// a three-packet sender list sent once (numbers matched against "PacketNum",
// the buttons held while the worker runs, a report from the worker shown on
// the window's thread, the results, sources deleted or kept); manual choice
// and "run again"; the output directory checks of the command; an automatic
// sending window (first run one period after opening, a tick during a run
// ignored, the output directory gone between runs); windows of one command
// sharing one context released by the last; and the main window closing while
// a window sends a packet of 10,000 files.
#include "GuiTestSupport.h"
#include "tests/capi/capi_test_support.h"

#include "common/codepage.h"
#include "monitor/app/CMainApp.h"
#include "monitor/app/CMainFrame.h"
#include "monitor/lists/ListSettings.h"
#include "monitor/views/CAutoSendDlg.h"
#include "monitor/views/CDistributionWizard.h"
#include "monitor/views/ReportWindow.h"

#include <QAbstractButton>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTest>
#include <QPointer>
#include <QStyle>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>

using namespace tarmin::monitor;
using namespace tarmin::test;
using namespace tarmin::cp::literals;
namespace fs = std::filesystem;

namespace {

const std::string kProfile = "Distribution";

// With TARMIN_UI_SHOTS set, the window's picture goes into that directory
// (the pictures of the documentation are made so).
void shot(QWidget &window, const char *name) {
    if (const char *dir = std::getenv("TARMIN_UI_SHOTS")) {
        EXPECT_TRUE(window.grab().save(QString::fromLocal8Bit(dir) + QLatin1Char('/') + QLatin1String(name)));
    }
}

QStringList column(const QTreeWidget *list, int c) {
    QStringList out;
    for (int i = 0; i < list->topLevelItemCount(); ++i) out << list->topLevelItem(i)->text(c);
    return out;
}

struct Packet {
    std::string number, dir, subject, sign, keep;
    uint32_t protection = 3;
    std::vector<std::string> recipients = {};
};

// A wizard page script: what the operator does with the wizard in one run.
using Script = std::function<int(QWizard &)>;

class DistributionTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!pki_) pki_ = new Pki(make_pki());
    }
    void SetUp() override {
        setString(kProfile, "Path", make_temp_dir("install").string());
        setString(kProfile, "GWMonGWLogDirectory", make_temp_dir("gwlogs").string());
        setDword(kProfile, "ProtectionFlags", 0); // the wizard opens a context of its own
        out_ = make_temp_dir("out");
        setString(kProfile, "GWMonOutputDirectory", out_.string());
        run_tmncert({"setmy", "--profile", kProfile, pki_->thumb.at("operator")});
        CAutoSendDlg::setMillisecondsPerMinute(60000);
    }
    void TearDown() override {
        if (app_) app_->ExitInstance();
        CAutoSendDlg::setMillisecondsPerMinute(60000);
    }
    void start() {
        app_ = std::make_unique<CMainApp>();
        ASSERT_TRUE(app_->InitInstance({"tmngwmon", "/profile=" + kProfile}));
    }
    void packets(const std::vector<Packet> &list) {
        std::vector<ListRow> rows;
        for (const Packet &p : list) {
            ListRow row;
            row.cells = {p.number, p.dir, w(p.subject), "*.dat", "", p.sign, "", p.keep};
            row.number = p.protection;
            row.nested = p.recipients;
            rows.push_back(row);
        }
        ASSERT_TRUE(saveListRows(kPacketListLayout, productKey(kProfile), rows));
    }
    void senderLists(const std::vector<std::pair<std::string, std::string>> &lists) {
        std::vector<ListRow> rows;
        for (const auto &[name, numbers] : lists) {
            ListRow row;
            row.cells = {w(name), numbers};
            rows.push_back(row);
        }
        ASSERT_TRUE(saveListRows(kSenderListLayout, productKey(kProfile), rows));
    }
    fs::path source(const std::string &name, const std::vector<std::string> &files) {
        fs::path dir = make_temp_dir(name);
        for (const std::string &f : files) write_file(dir / f, "content of " + f);
        return dir;
    }
    // Runs the command; each wizard run plays the next script.
    void sendPackets(std::vector<Script> scripts) {
        size_t next = 0;
        dialogs_.on(QStringLiteral("CDistributionWizard"), [&](QDialog &d) {
            auto &wizard = static_cast<QWizard &>(d);
            wizard.show();
            if (next >= scripts.size()) {
                ADD_FAILURE() << "the wizard ran once more than expected";
                wizard.reject();
                return wizard.result();
            }
            return scripts[next++](wizard);
        });
        app_->mainFrame()->command(kCmdSendPacket)->trigger();
        EXPECT_EQ(next, scripts.size());
    }
    // The greeting page: a list by its name, and the period when given.
    static void choose(QWizard &wizard, const QString &list, int period = 0) {
        QWizardPage *page = wizard.currentPage();
        auto *lists = control<QComboBox>(*page, 1035);
        lists->setCurrentIndex(lists->findText(list));
        control<QCheckBox>(*page, 1037)->setChecked(period != 0);
        if (period) control<QSpinBox>(*page, 1034)->setValue(period);
        wizard.next();
    }
    QStringList messageTexts() const {
        QStringList out;
        for (const auto &m : messages_.messages) out << m.text;
        return out;
    }
    // The job directories, each as its file names.
    std::vector<std::vector<std::string>> jobs() const {
        std::vector<std::vector<std::string>> out;
        for (const std::string &name : names_in(out_)) out.push_back(names_in(out_ / name));
        return out;
    }
    std::vector<std::string> infoFiles() const {
        std::vector<std::string> out;
        for (const std::string &name : names_in(out_)) out.push_back(read_file(out_ / name / "tmninfo.txt"));
        return out;
    }

    static inline Pki *pki_ = nullptr;
    fs::path out_;
    MessageRecorder messages_;
    DialogScript dialogs_;
    std::unique_ptr<CMainApp> app_;
};

TEST_F(DistributionTest, SenderListOfThreePacketsSentOnce) {
    // Numbers differ from positions: the list "3, 1,1" names the packets
    // numbered 3 and 1, not those at positions 3 and 1.
    const fs::path a = source("a", {"a.dat"}), b = source("b", {"b1.dat", "b2.DAT", "b.txt"}), c = source("c", {"c.dat"});
    packets({{"2", a.string(), "Альфа", "", ""},
             {"3", b.string(), "Бета", "", "+", 1, {"SMTP:b@bank.ru", "NOTES:b/bank"}},
             {"1", c.string(), "Гамма", "", "", 2, {"SMTP:c@bank.ru"}}});
    senderLists({{"Утренняя", "3, 1,1"}, {"Вечерняя", "2"}});
    ASSERT_NO_FATAL_FAILURE(start());
    QStringList reports;
    QString buttonsDuringRun;
    bool animationDuringRun = false;
    QWizard *running = nullptr;
    dialogs_.on(QStringLiteral("ReportWindow"), [&](QDialog &d) {
        reports << static_cast<ReportWindow &>(d).plainText();
        // Raised by the worker, shown here while the run waits.
        if (running) {
            buttonsDuringRun = wizardButtons(*running, true);
            animationDuringRun = control<QLabel>(*running->currentPage(), 1060)->isVisible();
        }
        return int(QDialog::Accepted);
    });

    QStringList results;
    sendPackets({[&](QWizard &wizard) {
        EXPECT_EQ(wizard.windowTitle(), QStringLiteral("Мастер отправки пакета"));
        QWizardPage *page = wizard.currentPage();
        QLabel *title = control<QLabel>(*page, 1000);
        EXPECT_EQ(title->text(), QStringLiteral("Вас приветствует мастер отправки пакета"));
        EXPECT_TRUE(title->font().bold());
        EXPECT_EQ(wizardButtons(wizard, true), QStringLiteral("Next Cancel"));
        auto *lists = control<QComboBox>(*page, 1035);
        QStringList offered;
        for (int i = 0; i < lists->count(); ++i) offered << lists->itemText(i);
        EXPECT_EQ(offered, (QStringList{QStringLiteral("Вечерняя"), QStringLiteral("Ручной режим создания"),
                                        QStringLiteral("Утренняя")}));
        EXPECT_EQ(lists->currentText(), QStringLiteral("Ручной режим создания"));
        // The period controls follow the check box; periods outside 5..65535
        // keep the page.
        auto *period = control<QSpinBox>(*page, 1034);
        EXPECT_FALSE(period->isEnabled());
        EXPECT_EQ(period->value(), 15);
        for (int refused : {4, 70000}) {
            choose(wizard, QStringLiteral("Утренняя"), refused);
            EXPECT_EQ(wizard.currentId(), CDistributionWizard::kIntroPage) << refused;
        }
        EXPECT_TRUE(period->isEnabled());
        EXPECT_EQ(messageTexts(), (QStringList(2, QStringLiteral("Введите целое число от 5 до 65535."))));
        messages_.messages.clear();

        choose(wizard, QStringLiteral("Утренняя"));
        page = wizard.currentPage();
        EXPECT_EQ(page->title(), QStringLiteral("Выбор рассылок"));
        EXPECT_EQ(wizardButtons(wizard, true), QStringLiteral("Back Next Cancel"));
        auto *list = control<QTreeWidget>(*page, 1036);
        QTest::qWait(0);
        EXPECT_EQ(column(list, 0), (QStringList{"3", "1", "1"}));
        EXPECT_EQ(column(list, 1), (QStringList{QString::fromStdString(b.string() + "/"),
                                                QString::fromStdString(c.string() + "/"),
                                                QString::fromStdString(c.string() + "/")}));
        EXPECT_EQ(column(list, 2), (QStringList{"Бета", "Гамма", "Гамма"}));
        EXPECT_EQ(list->selectedItems().size(), 3);
        const int eighth = list->columnWidth(0);
        EXPECT_GT(eighth, 0);
        EXPECT_EQ(list->columnWidth(2), 3 * eighth);
        EXPECT_EQ(list->columnWidth(3), eighth);
        EXPECT_EQ(list->columnWidth(0) + list->columnWidth(1) + list->columnWidth(2) + list->columnWidth(3),
                  list->width() - 2 * list->frameWidth() - list->style()->pixelMetric(QStyle::PM_ScrollBarExtent));

        shot(wizard, "monitor-distribution-select.png");
        running = &wizard;
        wizard.next();
        EXPECT_EQ(wizard.currentPage()->title(), QStringLiteral("Создание пакета"));
        EXPECT_TRUE(QTest::qWaitFor([&] { return wizard.currentId() == CDistributionWizard::kEndPage; }, 60000));
        running = nullptr;
        page = wizard.currentPage();
        EXPECT_EQ(control<QLabel>(*page, 1000)->text(), QStringLiteral("Завершение работы мастера отправки пакета"));
        EXPECT_EQ(wizardButtons(wizard, true), QStringLiteral("Finish"));
        auto *lines = control<QListWidget>(*page, 1055);
        for (int i = 0; i < lines->count(); ++i) results << lines->item(i)->text();
        wizard.button(QWizard::FinishButton)->click();
        return wizard.result();
    }});

    EXPECT_EQ(results, (QStringList{"Рассылка 3: OK", "Рассылка 1: OK", "Рассылка 1: Нет данных"}));
    // The packet sent twice finds its file deleted the second time: reported
    // from the worker, with the controls disabled and the animation playing.
    ASSERT_EQ(reports.size(), 1);
    EXPECT_TRUE(reports[0].contains(QStringLiteral("Рассылка 1: нет данных для отправки"))) << reports[0].toStdString();
    EXPECT_EQ(buttonsDuringRun, QString());
    EXPECT_TRUE(animationDuringRun);
    std::vector<std::vector<std::string>> made = jobs();
    std::sort(made.begin(), made.end());
    EXPECT_EQ(made, (std::vector<std::vector<std::string>>{{"b1.dat", "b2.DAT", "tmninfo.txt"},
                                                           {"c.dat", "tmninfo.txt"}}));
    std::vector<std::string> info = infoFiles();
    std::sort(info.begin(), info.end());
    EXPECT_EQ(info, (std::vector<std::string>{
                        "Subject:Бета\r\nProtection:Crypt\r\nEmail:SMTP:b@bank.ru\r\nEmail:NOTES:b/bank\r\n"_w,
                        "Subject:Гамма\r\nProtection:Sign\r\nEmail:SMTP:c@bank.ru\r\n"_w}));
    // "NotDelSended" = "+" keeps the sources; the others are deleted.
    EXPECT_EQ(names_in(b), (std::vector<std::string>{"b.txt", "b1.dat", "b2.DAT"}));
    EXPECT_TRUE(names_in(c).empty());
    EXPECT_EQ(names_in(a), std::vector<std::string>{"a.dat"});
}

TEST_F(DistributionTest, ManualChoiceRunAgainAndMissingConfiguration) {
    const fs::path a = source("a", {"a.dat"}), b = source("b", {"b.dat"});
    packets({{"1", a.string(), "Альфа", "", ""}, {"2", b.string(), "", "", ""}});
    ASSERT_NO_FATAL_FAILURE(start());
    QStringList results;
    sendPackets({[&](QWizard &wizard) {
                     choose(wizard, QStringLiteral("Ручной режим создания"));
                     auto *list = control<QTreeWidget>(*wizard.currentPage(), 1036);
                     // Every packet, none selected; the default subject.
                     EXPECT_EQ(column(list, 0), (QStringList{"1", "2"}));
                     EXPECT_EQ(column(list, 2), (QStringList{"Альфа", "Рассылка 2"}));
                     EXPECT_TRUE(list->selectedItems().isEmpty());
                     wizard.next();
                     EXPECT_EQ(wizard.currentId(), CDistributionWizard::kSelectPage);
                     EXPECT_EQ(messageTexts(), QStringList{QStringLiteral("Ни одна рассылка не выбрана!")});
                     EXPECT_EQ(messages_.messages.back().icon, MsgIcon::None);
                     messages_.messages.clear();
                     list->topLevelItem(1)->setSelected(true);
                     wizard.next();
                     EXPECT_TRUE(QTest::qWaitFor(
                         [&] { return wizard.currentId() == CDistributionWizard::kEndPage; }, 60000));
                     auto *lines = control<QListWidget>(*wizard.currentPage(), 1055);
                     for (int i = 0; i < lines->count(); ++i) results << lines->item(i)->text();
                     control<QCheckBox>(*wizard.currentPage(), 1056)->setChecked(true);
                     wizard.button(QWizard::FinishButton)->click();
                     return wizard.result();
                 },
                 [&](QWizard &wizard) {
                     // Run again: no packet is configured any more.
                     QZ_DeleteKey((productKey(kProfile) + "\\PacketList").c_str(), 1);
                     choose(wizard, QStringLiteral("Ручной режим создания"));
                     EXPECT_EQ(wizard.currentId(), CDistributionWizard::kIntroPage);
                     wizard.reject();
                     return wizard.result();
                 }});
    EXPECT_EQ(results, QStringList{"Рассылка 2: OK"});
    EXPECT_EQ(messageTexts(), QStringList{QStringLiteral(
                                  "В конфигурации не задан ни один список рассылки. Отправка пакета невозможна.")});
    EXPECT_EQ(jobs(), (std::vector<std::vector<std::string>>{{"b.dat", "tmninfo.txt"}}));
    EXPECT_EQ(infoFiles(), std::vector<std::string>{"Subject:Рассылка 2\r\nProtection:Crypt\r\nProtection:Sign\r\n"_w});

    // The output directory: missing setting, or no such directory.
    const struct {
        std::string value;
        QString message;
    } outputs[] = {
        {"", QStringLiteral("Необходимо запустить программу конфигурации и выполнить необходимую настройку.\n"
                            "Ошибка чтения настройки каталога для сохранения результатов работы из системного "
                            "реестра (параметр GWMonOutputDirectory).")},
        {(out_ / "none").string(), QStringLiteral("Необходимо запустить программу конфигурации и выполнить "
                                                  "необходимую настройку каталога шлюза на существующий каталог")},
    };
    for (const auto &o : outputs) {
        setString(kProfile, "GWMonOutputDirectory", o.value);
        messages_.messages.clear();
        sendPackets({});
        EXPECT_EQ(messageTexts(), QStringList{o.message});
        EXPECT_EQ(messages_.messages.back().icon, MsgIcon::Error);
    }
}

// Opens an automatic sending window: the list, the period, Next twice.
Script periodic(const QString &list, int period) {
    return [=](QWizard &wizard) {
        auto *lists = control<QComboBox>(*wizard.currentPage(), 1035);
        lists->setCurrentIndex(lists->findText(list));
        control<QCheckBox>(*wizard.currentPage(), 1037)->setChecked(true);
        control<QSpinBox>(*wizard.currentPage(), 1034)->setValue(period);
        wizard.next();
        wizard.next();
        // The wizard ends as finished, without the sending and last pages.
        EXPECT_TRUE(QTest::qWaitFor([&] { return !wizard.isVisible(); }, 5000));
        EXPECT_EQ(wizard.currentId(), CDistributionWizard::kSelectPage);
        return wizard.result();
    };
}

QString fieldText(CAutoSendDlg *window, int id) { return control<QLineEdit>(*window, id)->text(); }

TEST_F(DistributionTest, AutomaticSendingWindow) {
    constexpr int kMinuteMs = 60; // a period of 5 minutes lasts 300 ms
    CAutoSendDlg::setMillisecondsPerMinute(kMinuteMs);
    const fs::path keep = source("keep", {"k.dat"}), once = source("once", {"o.dat"});
    packets({{"1", keep.string(), "Остаётся", "+", "+"}, {"2", once.string(), "Удаляется", "", ""}});
    senderLists({{"Авто", "1 2"}});
    ASSERT_NO_FATAL_FAILURE(start());
    QElapsedTimer sinceOpening;
    sendPackets({[&](QWizard &wizard) {
        sinceOpening.start();
        return periodic(QStringLiteral("Авто"), 5)(wizard);
    }});
    const std::vector<CAutoSendDlg *> windows = app_->mainFrame()->autoSendWindows().windows();
    ASSERT_EQ(windows.size(), 1u);
    CAutoSendDlg *window = windows[0];
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Авторассылка: Авто"));
    EXPECT_EQ(window->timer().interval(), 5 * kMinuteMs);
    EXPECT_EQ(window->runsFinished(), 0);
    EXPECT_TRUE(names_in(out_).empty());
    std::weak_ptr<const OperatorContext> context = window->data().context;

    // The first run one full period after opening.
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->runsFinished() == 1; }, 60000));
    EXPECT_GE(sinceOpening.elapsed(), 5 * kMinuteMs);
    window->timer().stop();
    EXPECT_EQ(fieldText(window, 1040), QStringLiteral("OK"));
    shot(*window, "monitor-autosend.png");
    const QString firstTime = fieldText(window, 1034);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d{4}\\.\\d\\d\\.\\d\\d \\d\\d:\\d\\d:\\d\\d$"))
                    .match(firstTime)
                    .hasMatch())
        << firstTime.toStdString();
    std::vector<std::vector<std::string>> made = jobs();
    std::sort(made.begin(), made.end());
    EXPECT_EQ(made, (std::vector<std::vector<std::string>>{{"TMNSIGN.TMS", "k.dat", "tmninfo.txt"},
                                                           {"o.dat", "tmninfo.txt"}}));

    // A tick while a run is in progress starts no second run; the kept file
    // is sent again, the deleted one is not there any more.
    window->OnTimer();
    window->OnTimer();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->runsFinished() == 2; }, 60000));
    QTest::qWait(100);
    EXPECT_EQ(window->runsFinished(), 2);
    EXPECT_EQ(names_in(out_).size(), 3u);
    EXPECT_EQ(names_in(keep), std::vector<std::string>{"k.dat"});
    EXPECT_EQ(fieldText(window, 1040), QStringLiteral("OK"));
    EXPECT_TRUE(messages_.messages.empty());

    // The output directory disappears between runs: the job writer's box
    // (from the worker, shown here), and the result "Ошибка".
    fs::remove_all(out_);
    window->OnTimer();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->runsFinished() == 3; }, 60000));
    ASSERT_EQ(messages_.messages.size(), 1u);
    EXPECT_TRUE(messages_.messages[0].text.startsWith(QStringLiteral("Ошибка создания каталога")))
        << messages_.messages[0].text.toStdString();
    EXPECT_EQ(fieldText(window, 1040), QStringLiteral("Ошибка"));

    // "Нет данных" after a shown result leaves both fields.
    fs::create_directories(out_);
    fs::remove(keep / "k.dat");
    window->OnTimer();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->runsFinished() == 4; }, 60000));
    EXPECT_EQ(fieldText(window, 1040), QStringLiteral("Ошибка"));
    EXPECT_TRUE(names_in(out_).empty());

    // "Завершить" closes the window and lets its context go.
    QPointer<CAutoSendDlg> alive(window);
    control<QAbstractButton>(*window, 2)->click();
    EXPECT_TRUE(QTest::qWaitFor([&] { return alive.isNull(); }, 5000));
    EXPECT_TRUE(context.expired());
    EXPECT_TRUE(app_->mainFrame()->autoSendWindows().windows().empty());
}

TEST_F(DistributionTest, WindowsOfOneCommandShareTheContextAndTheMainWindowWaitsForTheirRun) {
    const fs::path once = source("once", {"e.dat"}), keep = source("keep", {"k.dat"}), small = source("small", {"s.dat"});
    const fs::path big = make_temp_dir("big");
    constexpr int kBigFiles = 10000;
    for (int i = 0; i < kBigFiles; ++i) write_file(big / ("f" + std::to_string(i) + ".dat"), std::to_string(i));
    packets({{"1", once.string(), "Разово", "", ""},
             {"2", keep.string(), "Подписан", "+", "+"},
             {"3", big.string(), "Большой", "", ""},
             {"4", small.string(), "Малый", "", ""}});
    senderLists({{"Разовая", "1"}, {"Подписанная", "2"}, {"Большая", "2 3 4"}});
    ASSERT_NO_FATAL_FAILURE(start());

    // A run sent once that asks to run again; then two automatic sending
    // windows (each wizard run after them opens again), then Cancel.
    sendPackets({[&](QWizard &wizard) {
                     choose(wizard, QStringLiteral("Разовая"));
                     wizard.next();
                     EXPECT_TRUE(QTest::qWaitFor(
                         [&] { return wizard.currentId() == CDistributionWizard::kEndPage; }, 60000));
                     control<QCheckBox>(*wizard.currentPage(), 1056)->setChecked(true);
                     wizard.button(QWizard::FinishButton)->click();
                     return wizard.result();
                 },
                 periodic(QStringLiteral("Подписанная"), 5), periodic(QStringLiteral("Большая"), 5),
                 [](QWizard &wizard) {
                     wizard.reject();
                     return wizard.result();
                 }});
    const std::vector<CAutoSendDlg *> windows = app_->mainFrame()->autoSendWindows().windows();
    ASSERT_EQ(windows.size(), 2u);
    CAutoSendDlg *first = windows[0], *second = windows[1];
    // Placed down and to the right of the last one, by one step each way.
    const QPoint step = second->pos() - first->pos();
    EXPECT_GT(step.x(), 0);
    EXPECT_EQ(step.x(), step.y());
    EXPECT_EQ(second->size(), first->size());
    first->timer().stop();
    second->timer().stop();
    ASSERT_EQ(first->data().context, second->data().context);
    std::weak_ptr<const OperatorContext> context = first->data().context;
    const size_t before = names_in(out_).size();
    EXPECT_EQ(before, 1u);

    // The first window ends: the second still signs with the shared context.
    control<QAbstractButton>(*first, 2)->click();
    ASSERT_FALSE(context.expired());
    EXPECT_TRUE(context.lock()->isOpen());
    ASSERT_EQ(app_->mainFrame()->autoSendWindows().windows().size(), 1u);

    // The second window signs its first packet with the shared context and
    // sends the 10,000 files of the next; the main window closes while they
    // are copied. The window's thread keeps running meanwhile, the job is
    // finished (never stopped inside), the packet after it is not begun, and
    // the context goes with the window.
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(10);
    second->OnTimer();
    ASSERT_TRUE(QTest::qWaitFor([&] { return names_in(out_).size() == before + 2; }, 60000));
    const int ticksAtJobStart = ticks;
    QTest::qWait(100);
    EXPECT_TRUE(second->runInProgress()) << "the run ended before the window could close during it";
    EXPECT_GT(ticks, ticksAtJobStart + 2) << "the window's thread waited for the run";
    QPointer<CAutoSendDlg> alive(second);
    app_->mainFrame()->close();
    ticker.stop();
    EXPECT_TRUE(QTest::qWaitFor([&] { return alive.isNull(); }, 5000));
    EXPECT_TRUE(context.expired());
    size_t bigJobs = 0;
    for (const auto &files : jobs()) {
        if (files.size() < kBigFiles) continue;
        ++bigJobs;
        EXPECT_EQ(files.size(), kBigFiles + 1u);
        EXPECT_TRUE(std::binary_search(files.begin(), files.end(), "tmninfo.txt"));
    }
    EXPECT_EQ(bigJobs, 1u);
    EXPECT_EQ(names_in(out_).size(), before + 2);
    size_t signedJobs = 0;
    for (const auto &files : jobs()) signedJobs += files == std::vector<std::string>{"TMNSIGN.TMS", "k.dat", "tmninfo.txt"};
    EXPECT_EQ(signedJobs, 1u);
    EXPECT_EQ(names_in(small), std::vector<std::string>{"s.dat"});
    EXPECT_TRUE(names_in(big).empty());
    EXPECT_TRUE(messages_.messages.empty());
}

} // namespace

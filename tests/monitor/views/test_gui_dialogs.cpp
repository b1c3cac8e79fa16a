// The filter dialog of every category, the three record detail dialogs and
// the report window, each built and worked as the operator would.
#include "GuiTestSupport.h"
#include "testsupport.h"

#include "common/codepage.h"
#include "monitor/logs/GWRecords.h"
#include "monitor/logs/RecordFilter.h"
#include "monitor/resources/MonitorIcons.h"
#include "monitor/views/CErrorDlg.h"
#include "monitor/views/CFilterDlg.h"
#include "monitor/views/CInRecordDlg.h"
#include "monitor/views/CMonView.h"
#include "monitor/views/COutRecordDlg.h"
#include "monitor/views/FolderBrowser.h"
#include "monitor/views/ReportWindow.h"
#include "qzcom.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDateEdit>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimeEdit>
#include <QTreeWidget>

#include <gtest/gtest.h>

using namespace tarmin::monitor;
using namespace tarmin::test;

namespace {

const QList<int> kConditionControls = {
    CFilterDlg::kModule,          CFilterDlg::kResultCode,      CFilterDlg::kInformation,
    CFilterDlg::kProcessingOk,    CFilterDlg::kProcessingError, CFilterDlg::kAddress,
    CFilterDlg::kSubject,         CFilterDlg::kNotificationOk,  CFilterDlg::kNotificationEr,
    CFilterDlg::kNotificationNone, CFilterDlg::kAttachments};

QList<int> enabledConditions(const CFilterDlg &d) {
    QList<int> out;
    for (int id : kConditionControls)
        if (d.control(id)->isEnabled()) out << id;
    return out;
}

template <typename W> W *ctl(const CFilterDlg &d, int id) { return static_cast<W *>(d.control(id)); }

} // namespace

TEST(FilterDialog, EachCategoryEnablesItsConditionsAndCaption) {
    struct Case {
        int category;
        QString caption;
        QList<int> enabled;
    };
    const QList<Case> cases = {
        {1, "Фильтрация ошибок", {CFilterDlg::kModule, CFilterDlg::kResultCode, CFilterDlg::kInformation}},
        {2,
         "Фильтрация входящих",
         {CFilterDlg::kProcessingOk, CFilterDlg::kProcessingError, CFilterDlg::kAddress, CFilterDlg::kSubject,
          CFilterDlg::kNotificationOk, CFilterDlg::kNotificationEr, CFilterDlg::kNotificationNone,
          CFilterDlg::kAttachments}},
        {3,
         "Фильтрация исходящих",
         {CFilterDlg::kProcessingOk, CFilterDlg::kProcessingError, CFilterDlg::kAddress, CFilterDlg::kSubject,
          CFilterDlg::kAttachments}},
        {4, "Фильтрация уведомлений", {CFilterDlg::kSubject}},
        {0, "Фильтрация", {}},
    };
    for (const Case &c : cases) {
        CFilterDlg d(c.category);
        EXPECT_EQ(d.windowTitle(), c.caption);
        EXPECT_EQ(enabledConditions(d), c.enabled) << c.category;
        for (int check : {CFilterDlg::kStartDateCheck, CFilterDlg::kStartTimeCheck, CFilterDlg::kEndDateCheck,
                          CFilterDlg::kEndTimeCheck})
            EXPECT_TRUE(d.control(check)->isEnabled());
    }
}

TEST(FilterDialog, PickersFollowTheirCheckBoxesAndStartWithToday) {
    CFilterDlg d(1);
    EXPECT_FALSE(d.control(CFilterDlg::kStartDate)->isEnabled());
    EXPECT_EQ(ctl<QDateEdit>(d, CFilterDlg::kStartDate)->date(), QDate::currentDate());
    EXPECT_EQ(ctl<QDateEdit>(d, CFilterDlg::kEndDate)->date(), QDate::currentDate());
    const QList<QPair<int, int>> pairs = {{CFilterDlg::kStartDateCheck, CFilterDlg::kStartDate},
                                          {CFilterDlg::kStartTimeCheck, CFilterDlg::kStartTime},
                                          {CFilterDlg::kEndDateCheck, CFilterDlg::kEndDate},
                                          {CFilterDlg::kEndTimeCheck, CFilterDlg::kEndTime}};
    for (const auto &[check, picker] : pairs) {
        QTest::mouseClick(ctl<QCheckBox>(d, check), Qt::LeftButton);
        EXPECT_TRUE(d.control(picker)->isEnabled()) << picker;
    }
    ctl<QCheckBox>(d, CFilterDlg::kStartTimeCheck)->setChecked(false);
    EXPECT_FALSE(d.control(CFilterDlg::kStartTime)->isEnabled());
    EXPECT_TRUE(d.control(CFilterDlg::kEndTime)->isEnabled());
}

TEST(FilterDialog, ClearAllLeavesNoConditionAtAll) {
    CFilterDlg d(2);
    FilterDlgValues v;
    v.startDateOn = v.startTimeOn = v.endDateOn = v.endTimeOn = true;
    v.endTime = QTime(18, 30, 0);
    v.processing = 1;
    v.address = QStringLiteral("ivanov");
    v.subject = QStringLiteral("Отчёт");
    v.notification = 2;
    v.attachments = QStringLiteral("*.doc");
    d.setValues(v);
    EXPECT_EQ(d.values().processing, 1);
    EXPECT_TRUE(ctl<QRadioButton>(d, CFilterDlg::kNotificationNone)->isChecked());
    QTest::mouseClick(static_cast<QPushButton *>(d.control(CFilterDlg::kClearAll)), Qt::LeftButton);
    for (int picker : {CFilterDlg::kStartDate, CFilterDlg::kStartTime, CFilterDlg::kEndDate, CFilterDlg::kEndTime})
        EXPECT_FALSE(d.control(picker)->isEnabled());
    EXPECT_FALSE(ctl<QRadioButton>(d, CFilterDlg::kNotificationNone)->isChecked());
    EXPECT_FALSE(ctl<QRadioButton>(d, CFilterDlg::kProcessingError)->isChecked());
    EXPECT_EQ(ctl<QLineEdit>(d, CFilterDlg::kSubject)->text(), QString());
    d.accept();
    EXPECT_EQ(d.result(), QDialog::Accepted);
    EXPECT_EQ(CMonView::conditionsFrom(d.values()), FilterConditions());
}

TEST(FilterDialog, ResultCodeIsCheckedOnOk) {
    MessageRecorder messages;
    for (const char *good : {"", "0", "0x1F", "0XE0020004", "123"}) {
        CFilterDlg d(1);
        ctl<QLineEdit>(d, CFilterDlg::kResultCode)->setText(QString::fromUtf8(good));
        d.accept();
        EXPECT_EQ(d.result(), QDialog::Accepted) << good;
    }
    EXPECT_TRUE(messages.messages.empty());
    for (const char *bad : {"01", "0x", "x1F", "12a", "-5", "0x1G"}) {
        messages.messages.clear();
        CFilterDlg d(1);
        d.show();
        QLineEdit *code = ctl<QLineEdit>(d, CFilterDlg::kResultCode);
        code->setText(QString::fromUtf8(bad));
        d.accept();
        EXPECT_EQ(d.result(), QDialog::Rejected) << bad; // still open
        EXPECT_TRUE(d.isVisible()) << bad;
        ASSERT_EQ(messages.messages.size(), 1u) << bad;
        EXPECT_EQ(messages.messages[0].text, QStringLiteral("Некорректный формат числа"));
        EXPECT_EQ(messages.messages[0].icon, MsgIcon::None);
        EXPECT_EQ(code->selectedText(), QString::fromUtf8(bad));
        d.hide();
    }
}

TEST(FilterDialog, ValuesTravelToConditionsAndBack) {
    FilterDlgValues v;
    v.startDateOn = true;
    v.startDate = QDate(2024, 3, 5);
    v.endTimeOn = true;
    v.endTime = QTime(9, 7, 3);
    v.subject = QStringLiteral("Заявка");
    v.processing = 0;
    const FilterConditions c = CMonView::conditionsFrom(v);
    EXPECT_EQ(c.startDate, "05/03/2024");
    EXPECT_EQ(c.startTime, "");
    EXPECT_EQ(c.endTime, "09:07:03");
    EXPECT_EQ(c.subject, w("Заявка"));
    EXPECT_EQ(c.processingResult, FilterConditions::kResultOk);
    RecordFilter filter;
    EXPECT_TRUE(filter.set(c)); // the dialog's texts are always well formed
    const FilterDlgValues back = CMonView::dialogValues(c);
    EXPECT_TRUE(back.startDateOn);
    EXPECT_EQ(back.startDate, QDate(2024, 3, 5));
    EXPECT_FALSE(back.startTimeOn);
    EXPECT_EQ(back.endTime, QTime(9, 7, 3));
    EXPECT_EQ(back.subject, QStringLiteral("Заявка"));
}

namespace {
template <typename R> std::unique_ptr<R> parsed(LogKind kind, const std::string &utf8Line) {
    auto record = parseRecord(kind, w(utf8Line), ',');
    EXPECT_TRUE(record) << utf8Line;
    return std::unique_ptr<R>(static_cast<R *>(record.release()));
}
} // namespace

TEST(RecordDialogs, InboundRecordShowsItsFieldsAndAttachments) {
    auto ok = parsed<CInRecord>(LogKind::Inbound, "05/03/2024,10:15:00,1,gw,0,AB,OK,ivanov@example.ru,Отчёт,a.txt;b.doc,1");
    CInRecordDlg d(*ok);
    EXPECT_EQ(d.windowTitle(), QStringLiteral("Тармин-Оператор"));
    EXPECT_EQ(d.heading()->text(), QStringLiteral("Входящее сообщение"));
    EXPECT_TRUE(d.heading()->font().bold());
    EXPECT_EQ(d.field(QStringLiteral("От:"))->text(), QStringLiteral("ivanov@example.ru"));
    EXPECT_EQ(d.field(QStringLiteral("Отправлено:"), 0)->text(), QStringLiteral("05/03/2024"));
    EXPECT_EQ(d.field(QStringLiteral("Отправлено:"), 1)->text(), QStringLiteral("10:15:00"));
    EXPECT_EQ(d.field(QStringLiteral("Тема сообщения:"))->text(), QStringLiteral("Отчёт"));
    EXPECT_TRUE(d.field(QStringLiteral("От:"))->isReadOnly());
    EXPECT_EQ(d.imageIndex(), 8);
    ASSERT_EQ(d.attachmentList()->topLevelItemCount(), 2);
    EXPECT_EQ(d.attachmentList()->topLevelItem(0)->text(0), QStringLiteral("a.txt"));
    EXPECT_EQ(d.attachmentList()->topLevelItem(1)->text(0), QStringLiteral("b.doc"));
    EXPECT_EQ(d.attachmentList()->headerItem()->text(0), QStringLiteral("Имя вложения"));
    EXPECT_EQ(d.attachmentList()->columnWidth(0), 350);
    EXPECT_FALSE(d.attachmentsLabel()->isHidden());
    EXPECT_TRUE(d.errorText()->isHidden());
}

TEST(RecordDialogs, FailedInboundRecordShowsTheErrorTextInsteadOfTheLabel) {
    auto failed = parsed<CInRecord>(LogKind::Inbound, "05/03/2024,10:15:00,1,gw,E0030001,AB,,x@y,Тема,,2");
    CInRecordDlg d(*failed);
    EXPECT_TRUE(d.attachmentsLabel()->isHidden());
    EXPECT_FALSE(d.errorText()->isHidden());
    EXPECT_EQ(d.errorText()->text(), QStringLiteral("Произошла ошибка при обработке сообщения."));
    EXPECT_TRUE(d.errorText()->font().bold());
    EXPECT_EQ(d.imageIndex(), 9);
    EXPECT_EQ(d.attachmentList()->topLevelItemCount(), 0);
    EXPECT_EQ(d.attachmentList()->columnCount(), 1);
}

TEST(RecordDialogs, OutgoingRecordShowsRecipientsAndItsErrorText) {
    auto failed = parsed<COutRecord>(LogKind::Outgoing, "06/03/2024,11:00:00,1,gw,E0030001,H,a@x;b@x,План,,3");
    COutRecordDlg d(*failed);
    EXPECT_EQ(d.heading()->text(), QStringLiteral("Исходящее сообщение"));
    EXPECT_EQ(d.field(QStringLiteral("Кому:"))->text(), QStringLiteral("a@x;b@x"));
    EXPECT_EQ(d.field(QStringLiteral("Отправлено:"), 1)->text(), QStringLiteral("11:00:00"));
    EXPECT_EQ(d.errorText()->text(),
              QStringLiteral("Произошла ошибка при обработке сообщения. Вложения были удалены."));
    EXPECT_FALSE(d.errorText()->isHidden());
    auto ok = parsed<COutRecord>(LogKind::Outgoing, "06/03/2024,11:00:00,1,gw,0,H,a@x,План,p.xls,3");
    COutRecordDlg d2(*ok);
    EXPECT_EQ(d2.imageIndex(), 7);
    EXPECT_TRUE(d2.errorText()->isHidden());
}

TEST(RecordDialogs, ErrorRecordShowsItsFieldsAndKindIcon) {
    auto e = parsed<CErrorRecord>(LogKind::Errors, "05/03/2024,10:15:00,smtp,err,E0020004,Connection refused");
    CErrorDlg d(*e);
    EXPECT_EQ(d.heading()->text(), QStringLiteral("Информация об ошибке"));
    EXPECT_EQ(d.field(QStringLiteral("Модуль:"))->text(), QStringLiteral("smtp"));
    EXPECT_EQ(d.field(QStringLiteral("Дата:"))->text(), QStringLiteral("05/03/2024"));
    EXPECT_EQ(d.field(QStringLiteral("Время:"))->text(), QStringLiteral("10:15:00"));
    EXPECT_EQ(d.field(QStringLiteral("Результат:"))->text(), QStringLiteral("E0020004"));
    EXPECT_EQ(d.field(QStringLiteral("Дополнительная информация:"))->text(), QStringLiteral("Connection refused"));
    EXPECT_EQ(d.imageIndex(), kImageSystemError);
    EXPECT_FALSE(d.iconLabel()->pixmap().isNull());
    EXPECT_EQ(d.attachmentList(), nullptr);
    auto info = parsed<CErrorRecord>(LogKind::Errors, "05/03/2024,10:15:00,smtp,INF,0,ok");
    EXPECT_EQ(CErrorDlg(*info).imageIndex(), kImageSystemInformation);
}

TEST(ReportWindowTest, SummaryModeShowsSummariesAndDetailsOnRequest) {
    ASSERT_EQ(QZ_Initialize("tarmin-operator", QZ_VERSION), 0);
    installReportPresenter();
    DialogScript dialogs;
    QString summary, all;
    int rowsFirst = -1, rowsAfter = -1;
    dialogs.on(QStringLiteral("ReportWindow"), [&](QDialog &d) {
        auto &window = static_cast<ReportWindow &>(d);
        auto *list = window.findChild<QTreeWidget *>(QStringLiteral("reports"));
        rowsFirst = list->topLevelItemCount();
        summary = window.plainText();
        window.toggleDetails();
        rowsAfter = list->topLevelItemCount();
        all = window.plainText();
        window.copyToClipboard();
        return QDialog::Accepted;
    });
    QZ_ReportEvent(QZ_LEVEL_DETAIL, 0xE0030015u, "CCA_init", "SecurityInit");
    QZ_ReportEvent(QZ_LEVEL_SUMMARY, 0xE0020004u);
    QZ_ShowReports(nullptr, 3);
    EXPECT_EQ(rowsFirst, 1);
    EXPECT_EQ(rowsAfter, 2);
    EXPECT_TRUE(summary.contains(QStringLiteral("0xE0020004")));
    EXPECT_TRUE(summary.contains(QStringLiteral("Шлюз: ошибка соединения")));
    EXPECT_FALSE(summary.contains(QStringLiteral("0xE0030015")));
    EXPECT_TRUE(all.contains(QStringLiteral("Ошибка при выполнении CCA_init в функции SecurityInit")));
    EXPECT_EQ(QApplication::clipboard()->text(), all);
    EXPECT_EQ(QZ_GetReportCount(), 0u);
    // Mode 1 shows every report at once.
    QZ_ReportEvent(QZ_LEVEL_DETAIL, 0xE0030015u, "a", "b");
    QZ_ShowReports(nullptr, 1);
    EXPECT_EQ(rowsFirst, 1);
    EXPECT_TRUE(summary.contains(QStringLiteral("0xE0030015")));
    QZ_Finalize();
}

TEST(ImageLists, FourteenImagesInBothSizesOwnOnesAllDifferent) {
    QList<QImage> own;
    for (int i = 0; i < kImageCount; ++i) {
        const QPixmap small = MonitorIcons::small(i), large = MonitorIcons::large(i);
        ASSERT_EQ(small.size(), QSize(16, 16)) << i;
        ASSERT_EQ(large.size(), QSize(32, 32)) << i;
        const QImage image = large.toImage();
        int painted = 0;
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x) painted += qAlpha(image.pixel(x, y)) > 0;
        EXPECT_GT(painted, 100) << i; // a picture, not an empty square
        if (i <= 10) own << image;
    }
    for (int a = 0; a < own.size(); ++a)
        for (int b = a + 1; b < own.size(); ++b) EXPECT_NE(own[a], own[b]) << a << " " << b;
    EXPECT_TRUE(MonitorIcons::icon(-1).isNull());
    EXPECT_TRUE(MonitorIcons::icon(kImageCount).isNull());
    EXPECT_FALSE(MonitorIcons::attachment().isNull());
}

TEST(FolderBrowser, ChosenDirectoryGoesIntoTheEditAndCancelKeepsIt) {
    installFolderBrowser();
    DialogScript dialogs;
    const auto chosen = make_temp_dir("chosen");
    QString startedIn;
    dialogs.on(QStringLiteral("FolderBrowser"), [&](QDialog &d) {
        auto &browser = static_cast<QFileDialog &>(d);
        startedIn = browser.directory().absolutePath();
        browser.setDirectory(QString::fromStdString(chosen.string()));
        browser.selectFile(QString::fromStdString(chosen.string()));
        return QDialog::Accepted;
    });
    QLineEdit edit(QString::fromStdString(home().string()));
    EXPECT_EQ(QZ_BrowseForFolder(&edit, nullptr), 0);
    EXPECT_EQ(startedIn, QString::fromStdString(home().string()));
    EXPECT_EQ(edit.text(), QString::fromStdString(chosen.string()));
    dialogs.on(QStringLiteral("FolderBrowser"), [](QDialog &) { return QDialog::Rejected; });
    QLineEdit other(QStringLiteral("/nonexistent"));
    DialogScript cancelling;
    cancelling.on(QStringLiteral("FolderBrowser"), [](QDialog &) { return QDialog::Rejected; });
    EXPECT_NE(QZ_BrowseForFolder(&other, nullptr), 0);
    EXPECT_EQ(other.text(), QStringLiteral("/nonexistent"));
}

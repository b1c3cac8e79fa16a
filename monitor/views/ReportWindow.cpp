#include "monitor/views/ReportWindow.h"

#include "common/codepage.h"
#include "monitor/resources/MonitorIcons.h"
#include "monitor/views/GuiThread.h"
#include "monitor/views/MessageBoxes.h"
#include "monitor/views/ModalRunner.h"
#include "qzcom.h"

#include <QApplication>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QWidget>

namespace tarmin::monitor {

namespace {

constexpr int kSummaryLevel = QZ_LEVEL_SUMMARY;

// The two top bits of an event code give its severity: 3 error, 2 warning,
// 1 information, 0 success.
int severityImage(uint32_t code) {
    switch (code >> 30) {
    case 3: return kImageSystemError;
    case 2: return kImageSystemWarning;
    default: return kImageSystemInformation;
    }
}

QString codeText(uint32_t code) {
    return QStringLiteral("0x") + QString::number(code, 16).toUpper().rightJustified(8, QLatin1Char('0'));
}

QString levelText(int level) {
    return level == kSummaryLevel ? QStringLiteral("Итог") : QStringLiteral("Подробность");
}

void presentReports(QZ_HWND owner, int mode, const QZ_REPORT *reports, size_t count, void *) {
    QVector<ReportEntry> entries;
    entries.reserve(static_cast<qsizetype>(count));
    for (size_t i = 0; i < count; ++i) {
        ReportEntry e;
        e.level = reports[i].level;
        e.code = reports[i].code;
        e.text = QString::fromStdString(cp::cp1251_to_utf8(reports[i].text ? reports[i].text : ""));
        e.time = QDateTime::fromSecsSinceEpoch(static_cast<qint64>(reports[i].time));
        entries.push_back(e);
    }
    // A sending run of the distribution wizard reports from its worker
    // thread: the window is shown on the user-interface thread meanwhile.
    runOnGuiThread([&] {
        ReportWindow window(entries, mode, static_cast<QWidget *>(owner));
        runModal(window);
    });
}

} // namespace

ReportWindow::ReportWindow(const QVector<ReportEntry> &reports, int mode, QWidget *parent)
    : QDialog(parent), m_reports(reports), m_mode(mode), m_detailsShown(mode != 3) {
    setObjectName(QStringLiteral("ReportWindow"));
    setWindowTitle(programCaption());
    setWindowIcon(MonitorIcons::icon(kImageApplication));

    m_list = new QTreeWidget(this);
    m_list->setObjectName(QStringLiteral("reports"));
    m_list->setRootIsDecorated(false);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setHeaderLabels({QStringLiteral("Код"), QStringLiteral("Уровень"), QStringLiteral("Время"),
                             QStringLiteral("Сообщение")});
    m_list->header()->setStretchLastSection(true);
    m_list->setWordWrap(true);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    auto *copy = buttons->addButton(QStringLiteral("Копировать"), QDialogButtonBox::ActionRole);
    copy->setObjectName(QStringLiteral("copy"));
    m_details = buttons->addButton(QStringLiteral("Подробнее"), QDialogButtonBox::ActionRole);
    m_details->setObjectName(QStringLiteral("details"));
    m_details->setVisible(mode == 3);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(copy, &QPushButton::clicked, this, &ReportWindow::copyToClipboard);
    connect(m_details, &QPushButton::clicked, this, &ReportWindow::toggleDetails);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_list);
    layout->addWidget(buttons);
    resize(720, 320);
    fill();
}

void ReportWindow::fill() {
    m_list->clear();
    for (const ReportEntry &e : m_reports) {
        if (!m_detailsShown && e.level != kSummaryLevel) continue;
        auto *item = new QTreeWidgetItem(m_list);
        item->setIcon(0, MonitorIcons::icon(severityImage(e.code)));
        item->setText(0, codeText(e.code));
        item->setText(1, levelText(e.level));
        item->setText(2, e.time.toString(QStringLiteral("dd.MM.yyyy hh:mm:ss")));
        item->setText(3, e.text);
        item->setToolTip(3, e.text);
    }
    for (int c = 0; c < 3; ++c) m_list->resizeColumnToContents(c);
    m_details->setText(m_detailsShown ? QStringLiteral("Скрыть подробности") : QStringLiteral("Подробнее"));
}

void ReportWindow::toggleDetails() {
    m_detailsShown = !m_detailsShown;
    fill();
}

QString ReportWindow::plainText() const {
    QString text;
    for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
        const QTreeWidgetItem *item = m_list->topLevelItem(i);
        text += item->text(0) + QLatin1Char('\t') + item->text(1) + QLatin1Char('\t') + item->text(2) +
                QLatin1Char('\t') + item->text(3) + QLatin1Char('\n');
    }
    return text;
}

void ReportWindow::copyToClipboard() { QApplication::clipboard()->setText(plainText()); }

void installReportPresenter() { QZ_SetReportPresenter(presentReports, nullptr); }

} // namespace tarmin::monitor

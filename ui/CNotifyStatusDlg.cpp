#include "ui/CNotifyStatusDlg.h"

#include "cryptoui/ui_session.h"
#include "ui/ui_common.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

using namespace tarmin::tmnui;
using tarmin::qzvoui::fromCp1251;

namespace {

QLabel *count(const char *name, uint64_t value, QWidget *parent) {
    auto *l = new QLabel(QString::asprintf("%llu", static_cast<unsigned long long>(value)), parent);
    l->setObjectName(QString::fromLatin1(name));
    return l;
}

QString signTime(int64_t t) {
    if (t == 0) return {};
    const std::string text = tarmin::qzvoui::timeText(static_cast<std::time_t>(t), 3);
    return text.empty() ? QString() : QStringLiteral("%1 GMT").arg(fromCp1251(text));
}

} // namespace

CNotifyStatusDlg::CNotifyStatusDlg(const TmnNotifyHeader &header, const std::vector<NotifyEntry> &entries, QWidget *parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("CNotifyStatusDlg"));
    setWindowTitle(QStringLiteral("Тармин"));
    auto *heading = new QLabel(QStringLiteral("Уведомления о криптографической проверке"), this);
    heading->setObjectName(QStringLiteral("Heading"));
    setDialogFont(heading, QStringLiteral("MS Sans Serif"), 8, true);

    auto *counts = new QFormLayout;
    counts->addRow(QStringLiteral("Всего получателей:"), count("Recipients", header.Recipients, this));
    counts->addRow(QStringLiteral("Получено уведомлений:"),
                   count("Received", uint64_t{header.ErrorReceipts} + header.SuccessReceipts, this));
    counts->addRow(QStringLiteral("Уведомлений об успешной проверке:"), count("Successes", header.SuccessReceipts, this));
    counts->addRow(QStringLiteral("Уведомлений об ошибке:"), count("Errors", header.ErrorReceipts, this));

    list_ = new QTableWidget(0, 6, this);
    list_->setObjectName(QStringLiteral("Receipts"));
    list_->setHorizontalHeaderLabels({QStringLiteral("Имя получателя"), QStringLiteral("Время подписи"),
                                      QStringLiteral("Тип адреса"), QStringLiteral("Адрес"),
                                      QStringLiteral("Тип получателя"), QStringLiteral("Результат проверки")});
    list_->verticalHeader()->hide();
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setShowGrid(true);
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list_->setWordWrap(false);
    for (const NotifyEntry &e : entries) {
        const int row = list_->rowCount();
        list_->insertRow(row);
        const StatusIcon icon = e.receiptResult == 0 ? StatusIcon::none
                                : e.receiptResult == 1 ? StatusIcon::error
                                                       : StatusIcon::ok;
        auto *name = new QTableWidgetItem(statusIcon(icon), fromCp1251(e.name));
        name->setData(Qt::UserRole, icon == StatusIcon::none ? QString() : icon == StatusIcon::error ? QStringLiteral("error") : QStringLiteral("ok"));
        list_->setItem(row, 0, name);
        list_->setItem(row, 1, new QTableWidgetItem(signTime(e.signTime)));
        list_->setItem(row, 2, new QTableWidgetItem(fromCp1251(e.addressType)));
        list_->setItem(row, 3, new QTableWidgetItem(fromCp1251(e.address)));
        list_->setItem(row, 4, new QTableWidgetItem(e.recipientType == 1 ? QStringLiteral("Общая папка")
                                                                         : QStringLiteral("Пользователь")));
        list_->setItem(row, 5, new QTableWidgetItem(e.receiptResult == 0   ? QStringLiteral("Отсутствует")
                                                    : e.receiptResult == 1 ? QStringLiteral("Ошибка")
                                                                           : QStringLiteral("OK")));
    }

    QDialogButtonBox *buttons = tarmin::qzvoui::okCancelButtons(this);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(heading);
    layout->addLayout(counts);
    layout->addWidget(list_, 1);
    layout->addWidget(buttons);
    list_->setCurrentItem(nullptr);
    resize(900, 360);
    applyShares();
}

void CNotifyStatusDlg::applyShares() {
    const int width = list_->viewport()->width();
    for (int i = 0; i < 6; ++i) list_->setColumnWidth(i, width * kShares[i] / 100);
}

void CNotifyStatusDlg::resizeEvent(QResizeEvent *event) {
    QDialog::resizeEvent(event);
    applyShares();
}

void CNotifyStatusDlg::showEvent(QShowEvent *event) {
    QDialog::showEvent(event);
    applyShares();
}

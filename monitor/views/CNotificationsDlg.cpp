#include "monitor/views/CNotificationsDlg.h"

#include "monitor/alerts/ReceiptStore.h"
#include "monitor/resources/MonitorIcons.h"
#include "monitor/views/ModalRunner.h"
#include "monitor/views/QtText.h"
#include "monitor/views/RecordDlgBase.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace tarmin::monitor {

namespace {

constexpr int kAddressWidth = 350;
constexpr int kResultWidth = 70;
constexpr int kAttachmentWidth = 350;

QTreeWidget *reportList(const QString &objectName, const QStringList &columns, QWidget *parent) {
    auto *list = new QTreeWidget(parent);
    list->setObjectName(objectName);
    list->setRootIsDecorated(false);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setIconSize(QSize(16, 16));
    list->setHeaderLabels(columns);
    list->header()->setStretchLastSection(false);
    return list;
}

QIcon recipientIcon(ReceiptResult result) {
    switch (result) {
    case ReceiptResult::Confirmed: return MonitorIcons::receiptConfirmed();
    case ReceiptResult::Failed: return MonitorIcons::receiptFailed();
    case ReceiptResult::Waiting: break;
    }
    return MonitorIcons::receiptWaiting();
}

} // namespace

CNotificationsDlg::CNotificationsDlg(std::string_view hash, const ReceiptTracking *receipts, QWidget *parent)
    : QDialog(parent), m_title(new QLabel(QStringLiteral("Уведомления о криптографической проверке"), this)),
      m_recipients(reportList(QStringLiteral("recipients"), {QStringLiteral("Адрес"), QStringLiteral("Результат")}, this)),
      m_attachments(reportList(QStringLiteral("attachments"), {QStringLiteral("Имя вложения")}, this)),
      m_counters(new QFormLayout) {
    setObjectName(QStringLiteral("CNotificationsDlg"));
    setWindowTitle(QStringLiteral("Тармин-Оператор"));
    setWindowIcon(MonitorIcons::icon(kImageNotifications));
    m_title->setObjectName(QStringLiteral("title"));
    m_title->setFont(boldFont(font()));
    m_recipients->setColumnWidth(0, kAddressWidth);
    m_recipients->setColumnWidth(1, kResultWidth);
    m_attachments->setColumnWidth(0, kAttachmentWidth);

    // Every row goes in at the top, so the lists show the stored entries
    // last first.
    if (receipts)
        for (const PendingMessage *message : receipts->messagesWithHash(hash)) {
            for (std::size_t i = 0; i < message->recipientCount(); ++i) {
                const std::string_view status = message->recipientStatus(i);
                auto *row = new QTreeWidgetItem({qtText(message->recipientAddress(i)), qtText(status)});
                row->setIcon(0, recipientIcon(m_counts.add(status)));
                m_recipients->insertTopLevelItem(0, row);
            }
            for (std::size_t i = 0; i < message->attachmentCount(); ++i) {
                auto *row = new QTreeWidgetItem({qtText(message->attachment(i))});
                row->setIcon(0, MonitorIcons::attachment());
                m_attachments->insertTopLevelItem(0, row);
            }
        }

    m_total = addCounter(QStringLiteral("Всего получателей:"), m_counts.recipients, QStringLiteral("total"));
    m_received = addCounter(QStringLiteral("Получено уведомлений:"), m_counts.received(), QStringLiteral("received"));
    m_confirmed = addCounter(QStringLiteral("Уведомлений об успешной проверке:"), m_counts.confirmed,
                             QStringLiteral("confirmed"));
    m_failed = addCounter(QStringLiteral("Уведомлений об ошибке:"), m_counts.failed, QStringLiteral("failed"));

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_title);
    layout->addWidget(m_recipients, 2);
    layout->addWidget(m_attachments, 1);
    layout->addLayout(m_counters);
    layout->addWidget(okCancelButtons(this));
    resize(480, 480);
}

QLineEdit *CNotificationsDlg::addCounter(const QString &label, unsigned value, const QString &objectName) {
    auto *field = new QLineEdit(QString::number(value), this);
    field->setObjectName(objectName);
    field->setReadOnly(true);
    m_counters->addRow(label, field);
    return field;
}

int CNotificationsDlg::run() {
    if (m_counts.recipients == 0) {
        setResult(QDialog::Rejected);
        return QDialog::Rejected;
    }
    return runModal(*this);
}

} // namespace tarmin::monitor

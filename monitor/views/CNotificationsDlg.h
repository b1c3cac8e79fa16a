// The notification details dialog of a message waiting for receipts: every
// recipient with the result of the cryptographic check its receipt reported,
// the message's attachments, and the counters of recipients, receipts,
// confirmations and failures.
#pragma once

#include "monitor/views/model/NotificationCounts.h"

#include <QDialog>

#include <string_view>

class QFormLayout;
class QLabel;
class QLineEdit;
class QTreeWidget;

namespace tarmin::monitor {

class ReceiptTracking;

class CNotificationsDlg : public QDialog {
    Q_OBJECT
public:
    static constexpr int kResource = 153;

    // Fills the lists from every tracked message with this hash (without
    // regard to case); no store shows nothing.
    CNotificationsDlg(std::string_view hash, const ReceiptTracking *receipts, QWidget *parent = nullptr);

    // Runs the dialog modally. A message without recipients (or none with
    // this hash) closes at once as cancelled, without being shown.
    int run();

    const NotificationCounts &counts() const { return m_counts; }
    QLabel *title() const { return m_title; }
    QTreeWidget *recipientList() const { return m_recipients; }
    QTreeWidget *attachmentList() const { return m_attachments; }
    // The counters: total recipients, received, confirmed, failed.
    QLineEdit *totalField() const { return m_total; }
    QLineEdit *receivedField() const { return m_received; }
    QLineEdit *confirmedField() const { return m_confirmed; }
    QLineEdit *failedField() const { return m_failed; }

private:
    QLineEdit *addCounter(const QString &label, unsigned value, const QString &objectName);

    NotificationCounts m_counts;
    QLabel *m_title;
    QTreeWidget *m_recipients;
    QTreeWidget *m_attachments;
    QLineEdit *m_total = nullptr;
    QLineEdit *m_received = nullptr;
    QLineEdit *m_confirmed = nullptr;
    QLineEdit *m_failed = nullptr;
    QFormLayout *m_counters;
};

} // namespace tarmin::monitor

#include "monitor/views/RecordDetailsDialogs.h"

#include "monitor/logs/CGWRecord.h"
#include "monitor/logs/CNotifRecord.h"
#include "monitor/views/CErrorDlg.h"
#include "monitor/views/CInRecordDlg.h"
#include "monitor/views/CMonView.h"
#include "monitor/views/CNotificationsDlg.h"
#include "monitor/views/COutRecordDlg.h"
#include "monitor/views/ModalRunner.h"
#include "monitor/core/MonitorContext.h"

#include <QWidget>

namespace tarmin::monitor {

namespace {

class QtRecordDetailsPresenter final : public RecordDetailsPresenter {
public:
    void showError(const CErrorRecord &record, void *owner) override {
        CErrorDlg dialog(record, static_cast<QWidget *>(owner));
        runModal(dialog);
    }
    void showOutgoing(const COutRecord &record, void *owner) override {
        COutRecordDlg dialog(record, static_cast<QWidget *>(owner));
        runModal(dialog);
    }
    void showInbound(const CInRecord &record, void *owner) override {
        CInRecordDlg dialog(record, static_cast<QWidget *>(owner));
        runModal(dialog);
    }
    void showNotification(const CNotifRecord &record, void *owner) override {
        // The receipts come from the store of the list that shows the row.
        auto *widget = static_cast<QWidget *>(owner);
        const ReceiptTracking *receipts = nullptr;
        for (QObject *o = widget; o; o = o->parent())
            if (auto *view = qobject_cast<CMonView *>(o)) {
                receipts = view->context().receipts;
                break;
            }
        CNotificationsDlg dialog(record.hash(), receipts, widget);
        dialog.run();
    }
};

} // namespace

void installRecordDetailsPresenter() {
    static QtRecordDetailsPresenter presenter;
    if (recordDetailsPresenter() != &presenter) setRecordDetailsPresenter(&presenter);
}

} // namespace tarmin::monitor

#include "monitor/views/RecordDetailsDialogs.h"

#include "monitor/logs/CGWRecord.h"
#include "monitor/views/CErrorDlg.h"
#include "monitor/views/CInRecordDlg.h"
#include "monitor/views/COutRecordDlg.h"
#include "monitor/views/MessageBoxes.h"
#include "monitor/views/ModalRunner.h"

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
    void showNotification(const CNotifRecord &, void *owner) override {
        // Notification rows come from receipt tracking; the dialog with a
        // message's receipts comes with it.
        messageBox(static_cast<QWidget *>(owner),
                   QStringLiteral("Просмотр уведомлений о сообщении в этой версии программы недоступен."),
                   MsgIcon::Information);
    }
};

} // namespace

void installRecordDetailsPresenter() {
    static QtRecordDetailsPresenter presenter;
    if (recordDetailsPresenter() != &presenter) setRecordDetailsPresenter(&presenter);
}

} // namespace tarmin::monitor

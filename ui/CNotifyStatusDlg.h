// The dialog "Тармин" with the receipts of cryptographic checking that the
// recipients of a sent message returned: the counts and one row per
// recipient, each column its share of the list's width.
#pragma once

#include "include/tmnui.h"
#include "ui/notify_entries.h"

#include <QDialog>

#include <vector>

class QTableWidget;

class CNotifyStatusDlg : public QDialog {
    Q_OBJECT
public:
    CNotifyStatusDlg(const TmnNotifyHeader &header, const std::vector<tarmin::tmnui::NotifyEntry> &entries,
                     QWidget *parent = nullptr);

    // Shares of the list's width of the six columns, in per cent.
    static constexpr int kShares[6] = {24, 12, 7, 40, 10, 18};

protected:
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void applyShares();
    QTableWidget *list_ = nullptr;
};

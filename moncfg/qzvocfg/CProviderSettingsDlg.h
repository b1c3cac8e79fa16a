// The window of the provider's settings: the report of ProviderReport.h in
// four groups ("Криптопровайдер", "Алгоритмы", "Сертификат оператора",
// "Хранилища сертификатов") and the button that makes the library forget the
// remembered own certificate.
#pragma once

#include "moncfg/qzvocfg/ProviderReport.h"

#include <QDialog>

class QLabel;
class QPushButton;
class QTreeWidget;

namespace tarmin::qzvocfg {

class CProviderSettingsDlg : public QDialog {
    Q_OBJECT
public:
    explicit CProviderSettingsDlg(QWidget *parent = nullptr);

    QTreeWidget *reportView() const { return m_report; }
    QPushButton *forgetButton() const { return m_forget; }
    QLabel *statusLine() const { return m_status; }

    // "Забыть сертификат оператора".
    void forget();

private:
    void showReport();

    QTreeWidget *m_report = nullptr;
    QPushButton *m_forget = nullptr;
    QLabel *m_status = nullptr;
};

} // namespace tarmin::qzvocfg

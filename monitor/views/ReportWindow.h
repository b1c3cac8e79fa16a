// The window in which the monitor shows the reports kept by the common
// services (QZ_ShowReports): one row per report with its level, code, time
// and text; the summary reports first in the summary mode, the details on
// request; everything can be copied as text.
#pragma once

#include <QDateTime>
#include <QDialog>
#include <QString>
#include <QVector>

#include <cstdint>

class QTreeWidget;
class QPushButton;

namespace tarmin::monitor {

struct ReportEntry {
    int level = 0;
    uint32_t code = 0;
    QString text;
    QDateTime time;
};

class ReportWindow : public QDialog {
    Q_OBJECT
public:
    // mode 1 shows every report; mode 3 shows the summary reports (level 3)
    // and keeps the details behind the "Подробнее" button.
    ReportWindow(const QVector<ReportEntry> &reports, int mode, QWidget *parent = nullptr);

    // The reports as plain text, one line each, as the copy button puts them
    // on the clipboard.
    QString plainText() const;
    bool detailsShown() const { return m_detailsShown; }

public slots:
    void copyToClipboard();
    void toggleDetails();

private:
    void fill();

    QVector<ReportEntry> m_reports;
    int m_mode;
    bool m_detailsShown;
    QTreeWidget *m_list;
    QPushButton *m_details;
};

// Installs the report window as the presenter of QZ_ShowReports.
void installReportPresenter();

} // namespace tarmin::monitor

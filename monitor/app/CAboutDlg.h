// The About box: the product caption as a link to the maker's web site and
// the program's version.
#pragma once

#include <QDialog>

class QLabel;

namespace tarmin::monitor {

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget *parent = nullptr);

    // "Версия %d.%d.%d.%d" of the program's version.
    static QString versionText();
    static QString webAddress();

private:
    QLabel *m_link;
    QLabel *m_version;
};

} // namespace tarmin::monitor

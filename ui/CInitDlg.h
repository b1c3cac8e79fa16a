// The initialisation windows: the dialog with the status of the
// cryptographic system, and the modeless window shown while it starts.
#pragma once

#include <QDialog>

class CInitDlg : public QDialog {
    Q_OBJECT
public:
    CInitDlg(const QString &text1, const QString &text2, int status, QWidget *parent = nullptr);
    // The message of a status ("" for a status without one).
    static QString statusMessage(int status);
};

class CUnmodalInitWnd : public QWidget {
    Q_OBJECT
public:
    CUnmodalInitWnd(const QString &text1, const QString &text2, const QString &text3, QWidget *parent = nullptr);
};

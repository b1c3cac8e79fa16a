// Asks for a password without showing it: once to open a file, twice (the
// same text) to protect a new one.
#pragma once

#include <QDialog>

#include <string>

class QLineEdit;
class QLabel;

class CPasswordDlg : public QDialog {
    Q_OBJECT
public:
    CPasswordDlg(const QString &prompt, bool confirm, QWidget *parent = nullptr);
    ~CPasswordDlg() override;
    // The password as UTF-8 (the form PKCS #12 tools read), once accepted.
    const std::string &password() const { return password_; }

public slots:
    void accept() override;

private:
    QLineEdit *password1_ = nullptr;
    QLineEdit *password2_ = nullptr;
    QLabel *problem_ = nullptr;
    std::string password_;
};

// Viewers of a certificate and of a revocation list: a general page and a
// page of every field, with the value of the selected field below.
#pragma once

#include "platform/crypto/certificate.h"

#include <QDialog>

class QTableWidget;
class QPlainTextEdit;

class CFieldsPage : public QWidget {
    Q_OBJECT
public:
    explicit CFieldsPage(QWidget *parent = nullptr);
    void addField(const QString &name, const QString &value);
    QTableWidget *table() const { return table_; }

private:
    QTableWidget *table_ = nullptr;
    QPlainTextEdit *value_ = nullptr;
};

class CCertificateViewer : public QDialog {
    Q_OBJECT
public:
    CCertificateViewer(const tarmin::crypto::Certificate &cert, unsigned flags, QWidget *parent = nullptr);
};

class CCrlViewer : public QDialog {
    Q_OBJECT
public:
    CCrlViewer(const tarmin::crypto::Crl &crl, QWidget *parent = nullptr);
};

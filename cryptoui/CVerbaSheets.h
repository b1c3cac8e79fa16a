// The viewers of the client's certificate and revocation-list records:
// property sheets with a general page and a page of every field, whose
// printout can be written to a text file.
#pragma once

#include "include/qzvoui.h"

#include <QDialog>

#include <functional>
#include <string>
#include <vector>

class CFieldsPage;

// The "Состав" page: the fields with the value of the selected one below, and
// the print and save buttons that write the printout to a file.
class CVerbaFieldsPage : public QWidget {
    Q_OBJECT
public:
    CVerbaFieldsPage(const QString &heading, const std::string &printout, const QString &defaultName,
                     QWidget *parent = nullptr);
    CFieldsPage *fields() const { return fields_; }
    // Asks for the file and writes the printout (Windows-1251) into it.
    void savePrintout();

private:
    CFieldsPage *fields_ = nullptr;
    std::string printout_;
    QString defaultName_;
};

class CVerbaCertSheet : public QDialog {
    Q_OBJECT
public:
    // owner (may be null): the issuing authority's record, behind "Сертификат ЦС...".
    CVerbaCertSheet(const TMN_VERBA_CERT *owner, const TMN_VERBA_CERT &cert, QWidget *parent = nullptr);

private:
    const TMN_VERBA_CERT *owner_;
};

class CVerbaCrlSheet : public QDialog {
    Q_OBJECT
public:
    CVerbaCrlSheet(const TMN_VERBA_CRL &crl, const std::vector<std::string> &serials, QWidget *parent = nullptr);
};

// The sheet "Результат разбора сообщения": what the processing of a protected
// message found (decryption, signature, the message's fields) and the
// signers of its attachments with the detailed result.
#pragma once

#include "include/tmnui.h"

#include <QDialog>

#include <vector>

class QLabel;
class QPushButton;
class QTableWidget;

// At most this many attachment signers are read from the list (a list that
// loops back ends there).
inline constexpr int kMaxAttachSigners = 65536;

class CResultGeneralPage : public QWidget {
    Q_OBJECT
public:
    CResultGeneralPage(MhaContext *context, const ProcessResult &result, QWidget *parent = nullptr);
};

class CResultDetailsPage : public QWidget {
    Q_OBJECT
public:
    CResultDetailsPage(MhaContext *context, const ProcessResult &result, QWidget *parent = nullptr);
    // Asks for a file and writes the detailed result into it unchanged.
    void saveDetails();

private:
    void showSelectedCertificate();
    void selectionChanged();

    MhaContext *context_;
    const char *details_;
    std::vector<PCCERT_CONTEXT> certs_; // per row
    QTableWidget *signers_ = nullptr;
    QPushButton *show_ = nullptr;
};

class CResultSheet : public QDialog {
    Q_OBJECT
public:
    CResultSheet(MhaContext *context, const ProcessResult &result, QWidget *parent = nullptr);
};

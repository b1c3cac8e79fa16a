// The key-number prompt: an editable list of the remembered key numbers,
// limited to the required length, preset with the last one confirmed. OK
// takes only an entry of exactly that length.
#pragma once

#include "cryptoui/key_history.h"

#include <QDialog>

#include <string>

class QComboBox;

class CKeyNumberDlg : public QDialog {
    Q_OBJECT
public:
    CKeyNumberDlg(const tarmin::qzvoui::KeyHistory &history, int length, QWidget *parent = nullptr);

    // The confirmed entry (Windows-1251), once accepted.
    const std::string &entry() const { return entry_; }

public slots:
    void accept() override;

private:
    int length_;
    std::string entry_;
    QComboBox *list_ = nullptr;
};

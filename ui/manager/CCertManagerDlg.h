// The certificate manager window: one tab per store (own certificates,
// other users, trusted roots, intermediate authorities) and one of the
// revocation lists, with the actions of the stores. The work itself is the
// model's; this window asks the operator and shows the outcome.
#pragma once

#include "ui/manager/CertManagerModel.h"

#include <QDialog>

#include <map>
#include <string>

class QComboBox;
class QLabel;
class QPushButton;
class QTabWidget;
class QTableWidget;

class CCertManagerDlg : public QDialog {
    Q_OBJECT
public:
    explicit CCertManagerDlg(tarmin::tmnui::CertManagerModel &model, QWidget *parent = nullptr);

    // The list of a store ("MY", "AddressBook", "Root", "CA") or of the
    // revocation lists ("CRL").
    QTableWidget *table(const std::string &name) const;
    void selectTab(const std::string &name);

public slots:
    void refresh();
    void importFile();
    void exportSelected();
    void deleteSelected();
    void viewSelected();
    void addRevocationList();
    void setOwnSelected();

private:
    std::string currentTab() const;
    // The thumbprint of the selected row of the current tab ("" when none).
    std::string selectedThumbprint() const;
    void updateButtons();
    void fillStore(const std::string &store);
    void fillRevocationLists();
    void tell(const tarmin::tmnui::Outcome &outcome);
    // Reads a chosen file, or tells the operator why it cannot.
    bool readFile(const QString &path, std::string &bytes);
    bool emailOnly() const;

    tarmin::tmnui::CertManagerModel &model_;
    QComboBox *purpose_ = nullptr;
    QTabWidget *tabs_ = nullptr;
    std::map<std::string, QTableWidget *> tables_;
    std::map<std::string, std::map<std::string, tarmin::tmnui::CertRow>> rows_; // store -> thumbprint -> row
    QLabel *status_ = nullptr;
    QPushButton *import_ = nullptr, *export_ = nullptr, *delete_ = nullptr, *view_ = nullptr, *addCrl_ = nullptr,
                *setOwn_ = nullptr;
};

// The configuration window: a tree of pages on the left ("Конфигурация :"),
// the selected page on the right, and "OK", "&Отменить", "&Применить".
// The tree is built from the page table, one row per node in tree order with
// its depth; every page is made once, hidden until its node is selected.
// Any change on a page sets the modified flag, which enables "&Применить".
#pragma once

#include <QDialog>
#include <QString>

#include <string>
#include <vector>

class QPushButton;
class QStackedWidget;
class QTreeWidget;

namespace tarmin::moncfg {

class CConfigPage;
class CProtPass;

class CFpconfigDlg : public QDialog {
    Q_OBJECT
public:
    struct PageRow {
        QString title;
        int depth = 1; // 1 for the root
        CConfigPage *page = nullptr;
    };

    // profile: UTF-8, empty for none. isProtected: opened with the correct
    // settings password.
    CFpconfigDlg(const std::string &profile, bool isProtected, QWidget *parent = nullptr);

    const std::vector<PageRow> &pages() const { return m_pages; }
    CProtPass *rootPage() const { return m_root; }
    bool isModified() const { return m_modified; }

    // "&Применить": saves every page in table order; the modified flag is
    // cleared when all of them were written.
    bool saveAll();

    // "OK" and closing the window: with changes, offers to save them first.
    void accept() override;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void addPage(const QString &title, int depth, CConfigPage *page);
    void buildTree();
    void showSelectedPage();
    void setModified(bool modified);
    // Asks about unsaved changes; returns when the window may close.
    void offerToSave();

    std::vector<PageRow> m_pages;
    CProtPass *m_root = nullptr;
    QTreeWidget *m_tree = nullptr;
    QStackedWidget *m_stack = nullptr;
    QPushButton *m_apply = nullptr;
    bool m_modified = false;
};

// "Тармин-Оператор", followed by " - [profile]" when a profile is given.
QString configCaption(const std::string &profile);

} // namespace tarmin::moncfg

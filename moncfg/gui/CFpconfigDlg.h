// The configuration window: a tree of pages on the left ("Конфигурация :"),
// the selected page on the right, and "OK", "&Отменить", "&Применить".
// The tree is built from the page table, one row per node in tree order with
// its depth; every page is made once and loads its values, hidden until its
// node is selected. Any change on a page sets the modified flag, which
// enables "&Применить"; a page that could only be opened for reading is
// read-only and leaves the flag clear.
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
    // settings password. With "Setup" set in the product key, every page is
    // saved at once, so that each value exists with the value shown.
    CFpconfigDlg(const std::string &profile, bool isProtected, QWidget *parent = nullptr);

    const std::vector<PageRow> &pages() const { return m_pages; }
    CProtPass *rootPage() const { return m_root; }
    CConfigPage *page(int dialog) const;
    bool isModified() const { return m_modified; }
    bool isReadOnly() const { return m_readOnly; }
    QPushButton *applyButton() const { return m_apply; }
    // Shows the page of a tree node.
    void selectPage(const CConfigPage *page);

    // "&Применить": every page's texts checked, then every page saved in
    // table order, all in one write batch of the store. The modified flag is
    // cleared when all were written; otherwise nothing is.
    bool saveAll();

    // "OK" and closing the window: with changes, offers to save them first.
    void accept() override;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void addPage(const QString &title, int depth, CConfigPage *page);
    void buildTree();
    void loadPages();
    void showSelectedPage();
    void setModified(bool modified);
    // Asks about unsaved changes and saves on "Да"; false when saving was
    // asked for and failed (the window then stays).
    bool offerToSave();

    std::vector<PageRow> m_pages;
    CProtPass *m_root = nullptr;
    QTreeWidget *m_tree = nullptr;
    QStackedWidget *m_stack = nullptr;
    QPushButton *m_apply = nullptr;
    bool m_modified = false;
    bool m_readOnly = false;
};

// "Тармин-Оператор", followed by " - [profile]" when a profile is given.
QString configCaption(const std::string &profile);

} // namespace tarmin::moncfg

// A list page: the rows of one list of the page table in a list control,
// with "&Добавить", "&Изменить" and "&Удалить". Adding opens the page's item
// dialog empty and appends the row; editing opens it with the selected row
// and replaces that row in place; deleting asks first and removes every
// selected row. The rows are saved whole, renumbered from 0.
#pragma once

#include "moncfg/gui/CConfigPage.h"

#include <optional>
#include <vector>

class QPushButton;
class QTreeWidget;

namespace tarmin::moncfg {

class CListPage : public CConfigPage {
    Q_OBJECT
public:
    struct Column {
        QString header;
        int percent; // of the list's width
    };
    struct Buttons {
        int add, edit, remove;
    };

    CListPage(const PageSpec &spec, int listControl, std::vector<Column> columns, Buttons buttons,
              const char *deleteQuestion, QWidget *parent = nullptr);

    const std::vector<monitor::ListRow> &rows() const { return m_rows; }
    QTreeWidget *list() const { return m_list; }
    // Positions of the selected rows, top to bottom.
    std::vector<std::size_t> selectedRows() const;

    PageValues values() const override;

    // The button commands, as the operator's clicks run them.
    void addRow();
    void editRow();
    void deleteRows();

protected:
    // Opens the item dialog on row (empty when adding); true when the
    // operator confirmed it. editedRow: the row's position when editing.
    virtual bool runItemDialog(monitor::ListRow &row, std::optional<std::size_t> editedRow) = 0;
    // Whether a row added or edited becomes the only selected row.
    virtual bool selectsEditedRow() const { return false; }

    void showValues(const PageValues &values) override;
    // Read-only: the buttons are disabled, the list still scrolls.
    void applyReadOnly() override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void showRows();
    void fitColumns();
    void selectOnly(std::size_t row);

    QTreeWidget *m_list = nullptr;
    std::vector<Column> m_columns;
    const char *m_deleteQuestion;
    std::vector<monitor::ListRow> m_rows;
};

} // namespace tarmin::moncfg

// A list of records in four view styles (small icons, large icons, list,
// details) over one item model. The details style is a table with the
// owner-drawn header (CHeaderCtrlEx) that sorts by a clicked column; the
// other styles are an icon list that is attached to the model only while it
// is shown, so that a list of millions of rows costs nothing in the details
// style beyond the table.
#pragma once

#include <QColor>
#include <QWidget>

class QAbstractItemModel;
class QAbstractItemView;
class QListView;
class QStackedWidget;
class QTableView;

namespace tarmin::monitor {

class CHeaderCtrlEx;
class ListItemDelegate;

// The view-style commands of the main frame carry these numbers.
enum class ViewStyle : int { SmallIcons = 59408, LargeIcons = 59409, List = 59410, Details = 59411 };

class CListViewEx : public QWidget {
    Q_OBJECT
public:
    explicit CListViewEx(QWidget *parent = nullptr);

    void setModel(QAbstractItemModel *model);
    QAbstractItemModel *model() const { return m_model; }

    // The sorted column (-1: none) and its direction.
    int sortColumn() const { return m_sortColumn; }
    bool sortAscending() const { return m_sortAscending; }

    int minColumnWidth() const { return m_minColumnWidth; }
    void setMinColumnWidth(int width);
    bool columnResizeForbidden() const { return m_noResize; }
    void setColumnResizeForbidden(bool forbidden);

    // The colours of selected rows (by default the list's own text and
    // background colours).
    void setSelectedColours(const QColor &text, const QColor &background);
    QColor selectedTextColour() const;
    QColor selectedBackgroundColour() const;

    void setViewStyle(ViewStyle style);
    ViewStyle viewStyle() const { return m_style; }
    bool isIconStyle() const { return m_style == ViewStyle::SmallIcons || m_style == ViewStyle::LargeIcons; }
    // Puts the icons back on the grid (icon styles only).
    void arrangeIcons();

    // The selected row, -1 when none.
    int selectedRow() const;
    // Selects one row and scrolls it into view (-1 clears the selection).
    void selectRow(int row);

    QTableView *reportView() const { return m_table; }
    QListView *iconView() const { return m_icons; }
    CHeaderCtrlEx *header() const { return m_header; }
    QAbstractItemView *activeView() const;

signals:
    // Double-click, Enter or Space on the selected row.
    void rowActivated(int row);
    // Tab in the list: the focus should move to the other pane.
    void focusOtherPane();

protected:
    // Clicking a header sorts: ascending when the column was not the sorted
    // one, otherwise in the other direction.
    virtual void sortByColumn(int column, bool ascending) = 0;
    void setSortState(int column, bool ascending);
    bool eventFilter(QObject *watched, QEvent *event) override;

private slots:
    void headerClicked(int column);

private:
    void configureIconView();

    QAbstractItemModel *m_model = nullptr;
    QStackedWidget *m_stack;
    QTableView *m_table;
    QListView *m_icons;
    CHeaderCtrlEx *m_header;
    ListItemDelegate *m_delegate;
    ViewStyle m_style = ViewStyle::Details;
    int m_sortColumn = -1;
    bool m_sortAscending = true;
    int m_minColumnWidth = 0;
    bool m_noResize = false;
};

} // namespace tarmin::monitor

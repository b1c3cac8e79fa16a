// The category tree: a root item with the program's title and the four
// categories of the record list under it.
#pragma once

#include <QTreeWidget>

namespace tarmin::monitor {

class CLeftView : public QTreeWidget {
    Q_OBJECT
public:
    explicit CLeftView(QWidget *parent = nullptr);

    // Rebuilds the tree (root and categories), expands the root and selects
    // it; selection changes during the rebuild are not reported.
    void OnInitialUpdate();

    // The category of the selected item (0 for the root, -1 when none).
    int selectedCategory() const;
    // Selects the item of a category (0 to 4); false when it cannot be
    // selected (unknown or disabled).
    bool selectCategory(int category);
    // Enables or disables the item of one category.
    void setCategoryEnabled(int category, bool enabled, const QString &reason = {});
    QTreeWidgetItem *categoryItem(int category) const;

signals:
    // The operator (or the program) selected another item.
    void categorySelected(int category);
    // Tab in the tree: the focus should move to the other pane.
    void focusOtherPane();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    // Dotted lines join every item to its parent and its siblings, the root
    // item included ("lines" and "lines at the root" of the tree control),
    // under the style's expand buttons.
    void drawBranches(QPainter *painter, const QRect &rect, const QModelIndex &index) const override;
    bool focusNextPrevChild(bool next) override;

private slots:
    void onSelectionChanged();

private:
    bool m_building = false;
    QList<bool> m_enabled{true, true, true, true, true};
    QStringList m_disabledReasons{{}, {}, {}, {}, {}};
};

} // namespace tarmin::monitor

// The record list's header: shows the sorted column with a triangle drawn in
// the button highlight and shadow colours, and keeps every column at least
// as wide as the list's minimum when the operator drags its divider.
#pragma once

#include <QHeaderView>

namespace tarmin::monitor {

class CHeaderCtrlEx : public QHeaderView {
    Q_OBJECT
public:
    explicit CHeaderCtrlEx(QWidget *parent = nullptr);

    // The column that carries the triangle (-1: none) and its direction.
    void setSortMark(int column, bool ascending);
    int sortMarkColumn() const { return m_sortColumn; }
    bool sortMarkAscending() const { return m_ascending; }

    // Narrowest width the operator can give a column by dragging its divider
    // (or fitting it to its contents); widths set by the program are kept as
    // they are given.
    void setMinimumColumnWidth(int width);
    int minimumColumnWidth() const { return m_minimumWidth; }
    // Forbids (or allows again) resizing the columns.
    void setResizingAllowed(bool allowed);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void paintSection(QPainter *painter, const QRect &rect, int logicalIndex) const override;

private:
    void keepMinimum(int logicalIndex, int oldSize, int newSize);

    int m_minimumWidth = 0;
    bool m_operatorResizing = false;
    int m_sortColumn = -1;
    bool m_ascending = true;
};

} // namespace tarmin::monitor

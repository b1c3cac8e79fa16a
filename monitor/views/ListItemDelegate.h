// Draws the record list's cells: a selected row keeps the list's own text
// and background colours (not the selection colours) and is marked by a
// frame around the whole row; a cell whose text is cut off shows the whole
// text as its tool tip.
#pragma once

#include <QColor>
#include <QStyledItemDelegate>

namespace tarmin::monitor {

class ListItemDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    explicit ListItemDelegate(QObject *parent = nullptr);

    void setSelectedColours(const QColor &text, const QColor &background);
    QColor selectedText() const { return m_text; }
    QColor selectedBackground() const { return m_background; }

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    bool helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                   const QModelIndex &index) override;

    // Whether the cell's text does not fit into its rectangle.
    bool isCutOff(const QStyleOptionViewItem &option, const QModelIndex &index) const;

private:
    QColor m_text;
    QColor m_background;
};

} // namespace tarmin::monitor

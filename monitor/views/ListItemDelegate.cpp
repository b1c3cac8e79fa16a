#include "monitor/views/ListItemDelegate.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QHelpEvent>
#include <QPainter>
#include <QToolTip>

namespace tarmin::monitor {

ListItemDelegate::ListItemDelegate(QObject *parent)
    : QStyledItemDelegate(parent), m_text(QApplication::palette().color(QPalette::Text)),
      m_background(QApplication::palette().color(QPalette::Base)) {}

void ListItemDelegate::setSelectedColours(const QColor &text, const QColor &background) {
    m_text = text;
    m_background = background;
}

void ListItemDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const {
    QStyleOptionViewItem opt = option;
    const bool selected = opt.state & QStyle::State_Selected;
    if (selected) {
        opt.palette.setColor(QPalette::Highlight, m_background);
        opt.palette.setColor(QPalette::HighlightedText, m_text);
    }
    opt.state &= ~QStyle::State_HasFocus; // the row frame below replaces the per-cell focus mark
    QStyledItemDelegate::paint(painter, opt, index);
    if (!selected) return;

    // The frame runs around the whole row: top and bottom of every cell, the
    // left side of the first column and the right side of the last.
    const auto *view = qobject_cast<const QAbstractItemView *>(option.widget);
    const bool rowWise = view && view->selectionBehavior() == QAbstractItemView::SelectRows &&
                         index.model()->columnCount(index.parent()) > 1;
    const bool first = !rowWise || index.column() == 0;
    const bool last = !rowWise || index.column() == index.model()->columnCount(index.parent()) - 1;
    const QRect r = option.rect.adjusted(0, 0, -1, -1);
    painter->save();
    painter->setPen(QPen(option.palette.color(QPalette::Highlight), 1, Qt::DotLine));
    painter->drawLine(r.topLeft(), r.topRight());
    painter->drawLine(r.bottomLeft(), r.bottomRight());
    if (first) painter->drawLine(r.topLeft(), r.bottomLeft());
    if (last) painter->drawLine(r.topRight(), r.bottomRight());
    painter->restore();
}

bool ListItemDelegate::isCutOff(const QStyleOptionViewItem &option, const QModelIndex &index) const {
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const QSize wanted = sizeHint(opt, index);
    return wanted.width() > option.rect.width();
}

bool ListItemDelegate::helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                                 const QModelIndex &index) {
    if (event->type() != QEvent::ToolTip || !index.isValid()) return QStyledItemDelegate::helpEvent(event, view, option, index);
    if (!isCutOff(option, index)) {
        QToolTip::hideText();
        return true;
    }
    QToolTip::showText(event->globalPos(), index.data(Qt::DisplayRole).toString(), view, option.rect);
    return true;
}

} // namespace tarmin::monitor

#include "monitor/views/CHeaderCtrlEx.h"

#include <QPainter>

namespace tarmin::monitor {

namespace {
constexpr int kTriangleSize = 8;
constexpr int kTriangleMargin = 6;
} // namespace

CHeaderCtrlEx::CHeaderCtrlEx(QWidget *parent) : QHeaderView(Qt::Horizontal, parent) {
    setObjectName(QStringLiteral("CHeaderCtrlEx"));
    setSectionsClickable(true);
    setHighlightSections(false);
    setStretchLastSection(false);
    setSortIndicatorShown(false);
    setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
}

void CHeaderCtrlEx::setSortMark(int column, bool ascending) {
    m_sortColumn = column;
    m_ascending = ascending;
    viewport()->update();
}

void CHeaderCtrlEx::setMinimumColumnWidth(int width) {
    // Qt clamps drags (and fits to contents) to this size; widths set by the
    // program itself, such as a 40-pixel default, stay as they are given.
    const int previousDefault = defaultSectionSize();
    setMinimumSectionSize(width);
    if (previousDefault < width) setDefaultSectionSize(width);
}

void CHeaderCtrlEx::setResizingAllowed(bool allowed) {
    setSectionResizeMode(allowed ? QHeaderView::Interactive : QHeaderView::Fixed);
}

void CHeaderCtrlEx::paintSection(QPainter *painter, const QRect &rect, int logicalIndex) const {
    painter->save();
    QHeaderView::paintSection(painter, rect, logicalIndex);
    painter->restore();
    if (logicalIndex != m_sortColumn || rect.width() < kTriangleSize + 2 * kTriangleMargin) return;

    // A flat triangle with a lit edge and a shadowed edge, pointing up for
    // ascending and down for descending order.
    const int right = rect.right() - kTriangleMargin;
    const int left = right - kTriangleSize;
    const int midX = (left + right) / 2;
    const int top = rect.center().y() - kTriangleSize / 2 + 1;
    const int bottom = top + kTriangleSize - 2;
    const QColor light = palette().color(QPalette::Light);
    const QColor shadow = palette().color(QPalette::Dark);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, false);
    if (m_ascending) {
        painter->setPen(shadow);
        painter->drawLine(midX, top, left, bottom);
        painter->setPen(light);
        painter->drawLine(left, bottom, right, bottom);
        painter->drawLine(right, bottom, midX, top);
    } else {
        painter->setPen(shadow);
        painter->drawLine(left, top, right, top);
        painter->drawLine(left, top, midX, bottom);
        painter->setPen(light);
        painter->drawLine(midX, bottom, right, top);
    }
    painter->restore();
}

} // namespace tarmin::monitor

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
    // Qt's own minimum would also clamp the widths the program sets; the
    // operator's minimum is kept by keepMinimum() instead.
    setMinimumSectionSize(1);
    connect(this, &QHeaderView::sectionResized, this, &CHeaderCtrlEx::keepMinimum);
}

void CHeaderCtrlEx::setSortMark(int column, bool ascending) {
    m_sortColumn = column;
    m_ascending = ascending;
    viewport()->update();
}

void CHeaderCtrlEx::setMinimumColumnWidth(int width) { m_minimumWidth = width; }

void CHeaderCtrlEx::keepMinimum(int logicalIndex, int, int newSize) {
    if (m_operatorResizing && newSize < m_minimumWidth) resizeSection(logicalIndex, m_minimumWidth);
}

void CHeaderCtrlEx::mousePressEvent(QMouseEvent *event) {
    m_operatorResizing = true;
    QHeaderView::mousePressEvent(event);
}

void CHeaderCtrlEx::mouseReleaseEvent(QMouseEvent *event) {
    QHeaderView::mouseReleaseEvent(event);
    m_operatorResizing = false;
}

void CHeaderCtrlEx::mouseDoubleClickEvent(QMouseEvent *event) {
    // A double click on a divider fits the column to its contents.
    m_operatorResizing = true;
    QHeaderView::mouseDoubleClickEvent(event);
    m_operatorResizing = false;
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

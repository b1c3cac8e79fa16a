#include "monitor/views/CLeftView.h"

#include "monitor/resources/MonitorIcons.h"
#include "monitor/views/MessageBoxes.h"
#include "monitor/views/model/Categories.h"

#include <QMouseEvent>
#include <QPainter>

namespace tarmin::monitor {

namespace {
constexpr int kCategoryRole = Qt::UserRole;
}

CLeftView::CLeftView(QWidget *parent) : QTreeWidget(parent) {
    setObjectName(QStringLiteral("CLeftView"));
    setHeaderHidden(true);
    setColumnCount(1);
    setRootIsDecorated(true);
    setItemsExpandable(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setIconSize(QSize(16, 16));
    connect(this, &QTreeWidget::itemSelectionChanged, this, &CLeftView::onSelectionChanged);
}

void CLeftView::OnInitialUpdate() {
    m_building = true;
    clear();
    auto *root = new QTreeWidgetItem(this);
    root->setText(0, programCaption());
    root->setIcon(0, MonitorIcons::icon(kImageApplication));
    root->setData(0, kCategoryRole, static_cast<int>(Category::Root));
    for (const CategoryInfo &info : categoryTable()) {
        auto *item = new QTreeWidgetItem(root);
        item->setText(0, QString::fromUtf8(info.treeText));
        item->setIcon(0, MonitorIcons::icon(info.image));
        item->setData(0, kCategoryRole, static_cast<int>(info.category));
    }
    for (int c = 1; c < m_enabled.size(); ++c) setCategoryEnabled(c, m_enabled[c], m_disabledReasons[c]);
    expandItem(root);
    setCurrentItem(root);
    m_building = false;
}

QTreeWidgetItem *CLeftView::categoryItem(int category) const {
    QTreeWidgetItem *root = topLevelItem(0);
    if (!root) return nullptr;
    if (category == 0) return root;
    if (category < 1 || category > root->childCount()) return nullptr;
    return root->child(category - 1);
}

int CLeftView::selectedCategory() const {
    const QList<QTreeWidgetItem *> items = selectedItems();
    if (items.isEmpty()) return -1;
    return items.first()->data(0, kCategoryRole).toInt();
}

bool CLeftView::selectCategory(int category) {
    QTreeWidgetItem *item = categoryItem(category);
    if (!item || item->isDisabled()) return false;
    setCurrentItem(item);
    return true;
}

void CLeftView::setCategoryEnabled(int category, bool enabled, const QString &reason) {
    if (category < 1 || category >= m_enabled.size()) return;
    m_enabled[category] = enabled;
    m_disabledReasons[category] = enabled ? QString() : reason;
    if (QTreeWidgetItem *item = categoryItem(category)) {
        item->setDisabled(!enabled);
        item->setToolTip(0, m_disabledReasons[category]);
    }
}

void CLeftView::onSelectionChanged() {
    if (m_building) return;
    const int category = selectedCategory();
    if (category >= 0) emit categorySelected(category);
}

void CLeftView::drawBranches(QPainter *painter, const QRect &rect, const QModelIndex &index) const {
    painter->save();
    QPen pen(palette().color(QPalette::Dark));
    pen.setStyle(Qt::DotLine);
    painter->setPen(pen);
    const int indent = indentation();
    const int middle = rect.center().y();
    auto hasNextSibling = [](const QModelIndex &i) { return i.sibling(i.row() + 1, 0).isValid(); };
    // The item's own column: a line from the vertical line of its siblings to
    // the item; the vertical line goes on below when a sibling follows, and
    // starts at the item for the first item at the top.
    int column = rect.right() + 1 - indent;
    int x = column + indent / 2;
    painter->drawLine(x, middle, column + indent - 1, middle);
    const bool first = !index.parent().isValid() && index.row() == 0;
    painter->drawLine(x, first ? middle : rect.top(), x, hasNextSibling(index) ? rect.bottom() : middle);
    // The columns of the ancestors: their lines pass by when a sibling of
    // theirs follows.
    for (QModelIndex ancestor = index.parent(); ancestor.isValid(); ancestor = ancestor.parent()) {
        column -= indent;
        x = column + indent / 2;
        if (hasNextSibling(ancestor)) painter->drawLine(x, rect.top(), x, rect.bottom());
    }
    painter->restore();
    QTreeWidget::drawBranches(painter, rect, index);
}

void CLeftView::mousePressEvent(QMouseEvent *event) {
    // A right click selects the item under the cursor as a left click does.
    if (event->button() == Qt::RightButton) {
        if (QTreeWidgetItem *item = itemAt(event->position().toPoint()); item && !item->isDisabled())
            setCurrentItem(item);
        return;
    }
    QTreeWidget::mousePressEvent(event);
}

bool CLeftView::focusNextPrevChild(bool) {
    // Tab and Shift+Tab move to the record list, the splitter's other pane.
    emit focusOtherPane();
    return true;
}

} // namespace tarmin::monitor

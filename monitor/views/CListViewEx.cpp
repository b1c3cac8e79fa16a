#include "monitor/views/CListViewEx.h"

#include "monitor/views/CHeaderCtrlEx.h"
#include "monitor/views/ListItemDelegate.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QListView>
#include <QStackedWidget>
#include <QTableView>
#include <QVBoxLayout>

namespace tarmin::monitor {

CListViewEx::CListViewEx(QWidget *parent)
    : QWidget(parent), m_stack(new QStackedWidget(this)), m_table(new QTableView(m_stack)),
      m_icons(new QListView(m_stack)), m_header(new CHeaderCtrlEx(m_table)), m_delegate(new ListItemDelegate(this)) {
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_stack);

    m_table->setObjectName(QStringLiteral("reportView"));
    m_table->setHorizontalHeader(m_header);
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_table->verticalHeader()->setDefaultSectionSize(m_table->fontMetrics().height() + 4);
    m_table->setShowGrid(false);
    m_table->setWordWrap(false);
    m_table->setTabKeyNavigation(false);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_table->setIconSize(QSize(16, 16));
    m_table->setItemDelegate(m_delegate);
    m_table->installEventFilter(this);
    m_table->viewport()->installEventFilter(this);

    m_icons->setObjectName(QStringLiteral("iconView"));
    m_icons->setSelectionMode(QAbstractItemView::SingleSelection);
    m_icons->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_icons->setTabKeyNavigation(false);
    m_icons->setItemDelegate(m_delegate);
    m_icons->installEventFilter(this);

    m_stack->addWidget(m_table);
    m_stack->addWidget(m_icons);

    connect(m_header, &QHeaderView::sectionClicked, this, &CListViewEx::headerClicked);
    connect(m_table, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex &i) { emit rowActivated(i.row()); });
    connect(m_icons, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex &i) { emit rowActivated(i.row()); });
}

void CListViewEx::setModel(QAbstractItemModel *model) {
    m_model = model;
    m_table->setModel(model);
    if (isIconStyle() || m_style == ViewStyle::List) m_icons->setModel(model);
}

void CListViewEx::setMinColumnWidth(int width) {
    m_minColumnWidth = width;
    m_header->setMinimumColumnWidth(width);
}

void CListViewEx::setColumnResizeForbidden(bool forbidden) {
    m_noResize = forbidden;
    m_header->setResizingAllowed(!forbidden);
}

void CListViewEx::setSelectedColours(const QColor &text, const QColor &background) {
    m_delegate->setSelectedColours(text, background);
    m_table->viewport()->update();
    m_icons->viewport()->update();
}

QColor CListViewEx::selectedTextColour() const { return m_delegate->selectedText(); }
QColor CListViewEx::selectedBackgroundColour() const { return m_delegate->selectedBackground(); }

QAbstractItemView *CListViewEx::activeView() const {
    return m_style == ViewStyle::Details ? static_cast<QAbstractItemView *>(m_table) : m_icons;
}

void CListViewEx::configureIconView() {
    switch (m_style) {
    case ViewStyle::LargeIcons:
        m_icons->setViewMode(QListView::IconMode);
        m_icons->setIconSize(QSize(32, 32));
        m_icons->setGridSize(QSize(96, 64));
        m_icons->setMovement(QListView::Snap);
        break;
    case ViewStyle::SmallIcons:
        m_icons->setViewMode(QListView::IconMode);
        m_icons->setIconSize(QSize(16, 16));
        m_icons->setGridSize(QSize(160, 22));
        m_icons->setMovement(QListView::Snap);
        break;
    case ViewStyle::List:
        m_icons->setViewMode(QListView::ListMode);
        m_icons->setIconSize(QSize(16, 16));
        m_icons->setGridSize(QSize());
        m_icons->setFlow(QListView::TopToBottom);
        m_icons->setWrapping(true);
        m_icons->setMovement(QListView::Static);
        break;
    case ViewStyle::Details: break;
    }
    m_icons->setUniformItemSizes(true);
    m_icons->setLayoutMode(QListView::Batched);
    m_icons->setBatchSize(2000);
    m_icons->setResizeMode(QListView::Adjust);
}

void CListViewEx::setViewStyle(ViewStyle style) {
    if (style == m_style) return;
    const int row = selectedRow();
    m_style = style;
    if (style == ViewStyle::Details) {
        m_icons->setModel(nullptr);
        m_stack->setCurrentWidget(m_table);
    } else {
        configureIconView();
        if (m_icons->model() != m_model) m_icons->setModel(m_model);
        m_stack->setCurrentWidget(m_icons);
    }
    selectRow(row);
}

void CListViewEx::arrangeIcons() {
    if (!isIconStyle()) return;
    // A fresh layout puts every icon back on its grid place.
    const int row = selectedRow();
    m_icons->setModel(nullptr);
    m_icons->setModel(m_model);
    selectRow(row);
}

int CListViewEx::selectedRow() const {
    const QAbstractItemView *view = activeView();
    if (!view->selectionModel()) return -1;
    const QModelIndexList rows = view->selectionModel()->selectedIndexes();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void CListViewEx::selectRow(int row) {
    QAbstractItemView *view = activeView();
    if (!view->selectionModel() || !m_model) return;
    if (row < 0 || row >= m_model->rowCount()) {
        view->selectionModel()->clearSelection();
        return;
    }
    const QModelIndex index = m_model->index(row, 0);
    view->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    view->scrollTo(index);
}

void CListViewEx::setSortState(int column, bool ascending) {
    m_sortColumn = column;
    m_sortAscending = ascending;
    m_header->setSortMark(column, ascending);
}

void CListViewEx::headerClicked(int column) {
    const bool ascending = column == m_sortColumn ? !m_sortAscending : true;
    sortByColumn(column, ascending);
}

bool CListViewEx::eventFilter(QObject *watched, QEvent *event) {
    if (event->type() == QEvent::KeyPress && (watched == m_table || watched == m_icons)) {
        auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) {
            emit focusOtherPane();
            return true;
        }
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter || key->key() == Qt::Key_Space) {
            const int row = selectedRow();
            if (row >= 0) emit rowActivated(row);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace tarmin::monitor

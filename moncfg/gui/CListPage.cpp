#include "moncfg/gui/CListPage.h"

#include "moncfg/ListItems.h"
#include "moncfg/gui/CfgUi.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace tarmin::moncfg {

CListPage::CListPage(const PageSpec &spec, int listControl, std::vector<Column> columns, Buttons buttons,
                     const char *deleteQuestion, QWidget *parent)
    : CConfigPage(spec, parent), m_columns(std::move(columns)), m_deleteQuestion(deleteQuestion) {
    m_list = new QTreeWidget(this);
    m_list->setObjectName(controlName(listControl));
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_list->header()->setStretchLastSection(false);
    QStringList headers;
    for (const Column &column : m_columns) headers << column.header;
    m_list->setHeaderLabels(headers);
    m_list->viewport()->installEventFilter(this);
    connect(m_list, &QTreeWidget::itemDoubleClicked, this, [this] {
        if (!isReadOnly()) editRow();
    });

    auto *add = new QPushButton(QStringLiteral("&Добавить"), this);
    auto *edit = new QPushButton(QStringLiteral("&Изменить"), this);
    auto *remove = new QPushButton(QStringLiteral("&Удалить"), this);
    add->setObjectName(controlName(buttons.add));
    edit->setObjectName(controlName(buttons.edit));
    remove->setObjectName(controlName(buttons.remove));
    connect(add, &QPushButton::clicked, this, &CListPage::addRow);
    connect(edit, &QPushButton::clicked, this, &CListPage::editRow);
    connect(remove, &QPushButton::clicked, this, &CListPage::deleteRows);

    auto *buttonRow = new QHBoxLayout;
    buttonRow->addStretch();
    buttonRow->addWidget(add);
    buttonRow->addWidget(edit);
    buttonRow->addWidget(remove);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_list, 1);
    layout->addLayout(buttonRow);
}

std::vector<std::size_t> CListPage::selectedRows() const {
    std::vector<std::size_t> rows;
    for (int i = 0; i < m_list->topLevelItemCount(); ++i)
        if (m_list->topLevelItem(i)->isSelected()) rows.push_back(static_cast<std::size_t>(i));
    return rows;
}

PageValues CListPage::values() const {
    PageValues values = CConfigPage::values();
    values.rows = m_rows;
    return values;
}

void CListPage::showValues(const PageValues &values) {
    CConfigPage::showValues(values);
    m_rows = values.rows;
    showRows();
}

void CListPage::applyReadOnly() {
    CConfigPage::applyReadOnly();
    m_list->setEnabled(true);
}

void CListPage::showRows() {
    const monitor::ListLayout &layout = *spec().list;
    m_list->clear();
    QList<QTreeWidgetItem *> items;
    items.reserve(static_cast<qsizetype>(m_rows.size()));
    for (const monitor::ListRow &row : m_rows) {
        auto *item = new QTreeWidgetItem;
        for (std::size_t c = 0; c < layout.columns.size(); ++c)
            item->setText(static_cast<int>(c), fromCp1251(cellText(layout, row, c)));
        items.append(item);
    }
    m_list->addTopLevelItems(items);
}

void CListPage::selectOnly(std::size_t row) {
    m_list->clearSelection();
    if (QTreeWidgetItem *item = m_list->topLevelItem(static_cast<int>(row))) {
        item->setSelected(true);
        m_list->setCurrentItem(item);
        m_list->scrollToItem(item);
    }
}

void CListPage::addRow() {
    monitor::ListRow row;
    row.cells.resize(spec().list->columns.size());
    if (!runItemDialog(row, std::nullopt)) return;
    m_rows.push_back(std::move(row));
    showRows();
    if (selectsEditedRow()) selectOnly(m_rows.size() - 1);
    markModified();
}

void CListPage::editRow() {
    const std::vector<std::size_t> selected = selectedRows();
    QTreeWidgetItem *current = m_list->currentItem();
    std::size_t position;
    if (current && current->isSelected())
        position = static_cast<std::size_t>(m_list->indexOfTopLevelItem(current));
    else if (!selected.empty())
        position = selected.front();
    else
        return;
    monitor::ListRow row = m_rows[position];
    if (!runItemDialog(row, position)) return;
    m_rows[position] = std::move(row);
    showRows();
    if (selectsEditedRow()) selectOnly(position);
    markModified();
}

void CListPage::deleteRows() {
    const std::vector<std::size_t> selected = selectedRows();
    if (selected.empty()) return;
    if (messageBox(this, fromCp1251(m_deleteQuestion), MsgIcon::Question, MsgButtons::YesNo) != kAnswerYes) return;
    removeRows(m_rows, selected);
    showRows();
    markModified();
}

bool CListPage::eventFilter(QObject *watched, QEvent *event) {
    if (watched == m_list->viewport() && event->type() == QEvent::Resize) fitColumns();
    return CConfigPage::eventFilter(watched, event);
}

void CListPage::fitColumns() {
    const int width = m_list->viewport()->width();
    for (std::size_t c = 0; c < m_columns.size(); ++c)
        m_list->header()->resizeSection(static_cast<int>(c), width * m_columns[c].percent / 100);
}

} // namespace tarmin::moncfg

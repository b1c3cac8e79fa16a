#include "monitor/views/RecordTableModel.h"

#include "monitor/logs/CGWRecord.h"
#include "monitor/resources/MonitorIcons.h"
#include "monitor/views/QtText.h"

#include <unordered_map>

namespace tarmin::monitor {

RecordTableModel::RecordTableModel(QObject *parent) : QAbstractTableModel(parent) {}

int RecordTableModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_list.size());
}

int RecordTableModel::columnCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : static_cast<int>(columnsOf(m_list.category()).size());
}

QVariant RecordTableModel::data(const QModelIndex &index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const auto row = static_cast<std::size_t>(index.row());
    switch (role) {
    case Qt::DisplayRole: return qtText(m_list.text(row, index.column()));
    case Qt::DecorationRole:
        if (index.column() == 0) return MonitorIcons::icon(m_list.image(row));
        break;
    default: break;
    }
    return {};
}

QVariant RecordTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    const auto columns = columnsOf(m_list.category());
    if (section < 0 || section >= static_cast<int>(columns.size())) return {};
    return QString::fromUtf8(columns[section].caption);
}

const CGWRecord *RecordTableModel::recordAt(int row) const {
    if (row < 0 || row >= rowCount()) return nullptr;
    return &m_list.at(static_cast<std::size_t>(row));
}

void RecordTableModel::resetCategory(Category category) {
    beginResetModel();
    m_list.reset(category);
    endResetModel();
}

std::size_t RecordTableModel::prependRecords(std::vector<std::unique_ptr<CGWRecord>> &&records) {
    if (records.empty()) return 0;
    const std::size_t room = m_list.capacity() > m_list.size() ? m_list.capacity() - m_list.size() : 0;
    const std::size_t planned = std::min(room, records.size());
    if (planned == 0) {
        records.clear();
        return 0;
    }
    // An empty list takes a whole reading at once, which views digest
    // faster as a reset than as an insertion.
    const bool fresh = m_list.empty();
    if (fresh)
        beginResetModel();
    else
        beginInsertRows(QModelIndex(), 0, static_cast<int>(planned) - 1);
    const std::size_t added = m_list.prepend(std::move(records));
    if (fresh) {
        endResetModel();
    } else {
        endInsertRows();
        if (added < planned) {
            // Memory ran out part way: the rows announced but not taken go again.
            beginRemoveRows(QModelIndex(), 0, static_cast<int>(planned - added) - 1);
            endRemoveRows();
        }
    }
    return added;
}

void RecordTableModel::sortRows(int column, bool ascending) {
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    // Persistent indexes (the selection, the current row) follow their
    // records: note each one's record by its distance from the end before
    // the sort, find the records' rows after it.
    const QModelIndexList before = persistentIndexList();
    std::vector<const CGWRecord *> records;
    records.reserve(static_cast<std::size_t>(before.size()));
    for (const QModelIndex &i : before) records.push_back(recordAt(i.row()));
    m_list.sort(column, ascending);
    if (!before.isEmpty()) {
        std::unordered_map<const CGWRecord *, int> rowOf;
        for (const CGWRecord *r : records) rowOf.emplace(r, -1);
        for (int row = 0; row < rowCount(); ++row)
            if (auto it = rowOf.find(recordAt(row)); it != rowOf.end()) it->second = row;
        QModelIndexList after;
        for (qsizetype k = 0; k < before.size(); ++k)
            after.append(index(rowOf[records[static_cast<std::size_t>(k)]], before[k].column()));
        changePersistentIndexList(before, after);
    }
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

} // namespace tarmin::monitor

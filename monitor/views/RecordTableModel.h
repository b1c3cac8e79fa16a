// The record list as a Qt item model: one row per shown record (newest at
// the top), the category's columns, the record's image in the first column.
// Texts are converted from Windows-1251 only for the cells a view asks for,
// so a list of millions of rows costs no more than its records.
#pragma once

#include "monitor/views/model/RecordList.h"

#include <QAbstractTableModel>

#include <memory>
#include <vector>

namespace tarmin::monitor {

class RecordTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit RecordTableModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    Category category() const { return m_list.category(); }
    const RecordList &list() const { return m_list; }
    const CGWRecord *recordAt(int row) const;

    // Empties the list and gives it the columns of a category (none for the root).
    void resetCategory(Category category);
    // Puts the records of a pass (oldest first) at the top, the newest in
    // row 0. Returns how many rows were added; fewer than given means that
    // the list refused the rest.
    std::size_t prependRecords(std::vector<std::unique_ptr<CGWRecord>> &&records);
    // Sorts by one column; the selected rows stay with their records.
    void sortRows(int column, bool ascending);

    // The largest number of rows (tests use a small one).
    void setCapacity(std::size_t rows) { m_list.setCapacity(rows); }

private:
    RecordList m_list;
};

} // namespace tarmin::monitor

// The records that the record list shows, newest at the top, and the order
// in which it shows them. The records are kept in the order they were read
// (oldest first) and owned here; the rows are a permutation of them stored
// bottom first, so that the records of a refresh, which go to the top, are
// appended, and a row keeps its distance from the end when rows are added.
#pragma once

#include "monitor/views/model/Categories.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <string_view>
#include <vector>

namespace tarmin::monitor {

class CGWRecord;

class RecordList {
public:
    // The most rows a list can hold (the row numbers of the views are int).
    static constexpr std::size_t kMaxRows = static_cast<std::size_t>(std::numeric_limits<int>::max()) - 1;

    explicit RecordList(Category category = Category::Root);
    ~RecordList();
    RecordList(const RecordList &) = delete;
    RecordList &operator=(const RecordList &) = delete;

    Category category() const { return m_category; }
    // Empties the list and gives it another category.
    void reset(Category category);

    std::size_t size() const { return m_rows.size(); }
    bool empty() const { return m_rows.empty(); }
    // The record of a row (row 0 is the top).
    const CGWRecord &at(std::size_t row) const { return *m_records[recordIndex(row)]; }
    std::string_view text(std::size_t row, int column) const;
    int image(std::size_t row) const;

    // Adds the records of one reading pass, given oldest first, at the top:
    // the newest becomes row 0. Stops when the list is full (capacity rows)
    // or memory runs out; returns how many were added. Records not added are
    // released.
    std::size_t prepend(std::vector<std::unique_ptr<CGWRecord>> &&pass);

    // Sorts the rows by one column of the category.
    void sort(int column, bool ascending);

    // The row of a record index kept by distanceFromEnd().
    std::size_t distanceFromEnd(std::size_t row) const { return m_rows.size() - 1 - row; }
    std::size_t rowAtDistanceFromEnd(std::size_t distance) const { return m_rows.size() - 1 - distance; }

    // Largest number of rows (tests set a small one to see a full list).
    void setCapacity(std::size_t rows) { m_capacity = rows; }
    std::size_t capacity() const { return m_capacity; }

private:
    uint32_t recordIndex(std::size_t row) const { return m_rows[m_rows.size() - 1 - row]; }

    Category m_category;
    std::vector<std::unique_ptr<CGWRecord>> m_records; // oldest first
    std::vector<uint32_t> m_rows;                      // bottom row first
    std::size_t m_capacity = kMaxRows;
};

// The text of one column of a record of a category (Windows-1251); empty for
// a column the category does not have.
std::string_view cellText(const CGWRecord &record, Category category, int column);

} // namespace tarmin::monitor

// The record list of the main window: reads the log of the category chosen
// in the tree, in full when the category is newly shown and incrementally at
// every refresh, keeps the selected row at its distance from the end, sorts
// by any column, applies the category's filter, and beeps for listed codes.
#pragma once

#include "monitor/logs/RecordFilter.h"
#include "monitor/views/CListViewEx.h"
#include "monitor/views/CFilterDlg.h"
#include "monitor/views/model/Categories.h"
#include "monitor/views/model/CategoryReader.h"

#include <array>
#include <memory>
#include <string>
#include <vector>

namespace tarmin::monitor {

struct MonitorContext;
class RecordTableModel;

class CMonView : public CListViewEx {
    Q_OBJECT
public:
    static constexpr int kMinColumnWidth = 50;

    CMonView(MonitorContext &context, QWidget *parent = nullptr);
    ~CMonView() override;

    // A tree item was selected (0 root, 1 to 4 the categories).
    void OnCategorySelected(int category);
    // Reads the category chosen in the tree again (refresh timer and command).
    void Refresh();
    // The filter command: edits the conditions of the category chosen in the
    // tree and, after OK, reads the category again in full.
    void OnFilter();
    // Opens the detail dialog of a row.
    void OnRowActivated(int row);

    // The category shown (0 when none).
    int category() const { return static_cast<int>(m_category); }
    // The category chosen in the tree: what a refresh reads and the filter
    // command edits. It differs from the one shown while the notifications
    // wait for the receipt catch-up.
    int selectedCategory() const { return static_cast<int>(m_selected); }
    RecordTableModel *recordModel() const { return m_model; }
    const MonitorContext &context() const { return m_context; }
    const FilterConditions &conditions(int category) const;
    void setConditions(int category, const FilterConditions &conditions);
    // The column widths kept for a category.
    const std::vector<int> &columnWidths(int category) const;
    // The time text of the record that last made the window beep.
    const std::string &lastBeepTime(int category) const;
    CategoryReader &reader(LogKind kind);

    // The filter dialog's values from a category's conditions and back.
    static FilterDlgValues dialogValues(const FilterConditions &conditions);
    static FilterConditions conditionsFrom(const FilterDlgValues &values);

signals:
    // What the status bar should say after a reading: why the logs cannot be
    // read, or nothing when they can.
    void statusText(const QString &text);

protected:
    void sortByColumn(int column, bool ascending) override;

private:
    void readLogCategory(Category category);
    void readNotifications();
    void showCategory(Category category);
    void keepColumnWidths();
    void applyColumnWidths(Category category);
    RecordFilter preparedFilter(Category category);
    void insertPass(ReadingPass &pass);
    void beepIfListed(Category category, const ReadingPass &pass);

    MonitorContext &m_context;
    RecordTableModel *m_model;
    Category m_category = Category::Root;
    Category m_selected = Category::Root;
    std::array<std::unique_ptr<CategoryReader>, 3> m_readers;
    std::array<FilterConditions, kCategoryCount> m_conditions;
    std::array<bool, kCategoryCount> m_filterChanged{};
    std::array<std::string, kCategoryCount> m_lastBeepTime;
    std::array<std::vector<int>, kCategoryCount> m_widths;
};

} // namespace tarmin::monitor

// The categories of the record list and their column sets: caption, sort
// kind and initial width of every column.
#pragma once

#include "monitor/views/model/CSortClassEx.h"

#include <span>

namespace tarmin::monitor {

enum class Category : int { Root = 0, Errors = 1, Inbound = 2, Outbound = 3, Notifications = 4 };
inline constexpr int kCategoryCount = 5;

struct ColumnInfo {
    const char *caption; // UTF-8, shown in the header
    SortKind sortKind;
    int width; // pixels
};

struct CategoryInfo {
    Category category;
    const char *treeText; // UTF-8
    int image;            // image index of the tree item
    std::span<const ColumnInfo> columns;
};

// The four categories in tree order (the root is not among them).
std::span<const CategoryInfo> categoryTable();
// The columns of a category (none for the root or an unknown number).
std::span<const ColumnInfo> columnsOf(Category category);
// The category of a number 0..4; the root for any other number.
Category categoryOf(int number);

} // namespace tarmin::monitor

// The page table of the configuration window: one row per tree node, in
// tree order, naming the node's title and depth, its page, and what the page
// keeps in the settings: a check-box group (one 32-bit value, a bit per box),
// text and number fields, and a list. Loading and saving go through this
// table alone (PageSettings.h); the pages only lay their controls out under
// the control numbers the table names.
#pragma once

#include "monitor/lists/ListSettings.h"

#include <cstdint>
#include <span>

namespace tarmin::moncfg {

enum class PageId { Root, Paths, Emails, SenderLists, Packets, Protocol, Notifications };

struct CheckBox {
    int control;
    uint32_t flag;
};

struct CheckGroup {
    const char *value;
    uint32_t def;
    std::span<const CheckBox> boxes;
};

enum class FieldKind { Number, Text };

struct Field {
    const char *value;
    int control;
    FieldKind kind;
    const char *def; // the default as text (decimal for numbers)
    // The spin beside a number field and the range it steps in (0: none).
    int spin = 0;
    uint32_t min = 0;
    uint32_t max = 0;
};

// A control that is enabled only while its boxes are checked (and the page
// is not read-only).
struct Dependency {
    int control;
    int box;
    int secondBox = 0; // 0: only box
};

struct PageSpec {
    const char *title; // Windows-1251
    int depth;         // 1 for the root
    PageId id;
    int dialog;
    const CheckGroup *checks = nullptr;
    std::span<const Field> fields;
    const monitor::ListLayout *list = nullptr;
    std::span<const Dependency> dependencies = {};
};

// Every row, in tree order.
std::span<const PageSpec> pageTable();
const PageSpec &pageSpec(PageId id);

// Longest text of a page's text field, in characters: what a 260-byte
// buffer holds with its terminator.
inline constexpr int kFieldTextMax = 259;

} // namespace tarmin::moncfg

#include "monitor/views/model/Categories.h"

#include <array>

namespace tarmin::monitor {

namespace {

constexpr SortKind kWhole = SortKind::WholeNumber;
constexpr SortKind kText = SortKind::TextNoCase;
constexpr SortKind kDate = SortKind::DateTime;
// The errors' result codes are hexadecimal: read as decimal, E0030001 and
// C00A0001 would both be 0.
constexpr SortKind kHex = SortKind::HexCode;

constexpr std::array<ColumnInfo, 5> kErrorColumns = {{
    {"Дата", kDate, 100},
    {"Время", kDate, 80},
    {"Модуль", kText, 90},
    {"Результат", kHex, 100},
    {"Информация", kText, 350},
}};

constexpr std::array<ColumnInfo, 7> kInboundColumns = {{
    {"Дата", kDate, 100},
    {"Время", kDate, 80},
    {"Код обработки", kWhole, 40},
    {"Адрес", kText, 250},
    {"Тема сообщения", kText, 150},
    {"Результат уведомления", kText, 40},
    {"Вложения", kText, 150},
}};

constexpr std::array<ColumnInfo, 6> kOutboundColumns = {{
    {"Дата", kDate, 100},
    {"Время", kDate, 80},
    {"Код обработки", kWhole, 40},
    {"Получатели сообщения", kText, 250},
    {"Тема сообщения", kText, 150},
    {"Вложения", kText, 150},
}};

constexpr std::array<ColumnInfo, 3> kNotificationColumns = {{
    {"Дата", kDate, 100},
    {"Время", kDate, 80},
    {"Тема сообщения", kText, 250},
}};

// Tree images: the categories use the images 1 to 4 of the image lists.
const std::array<CategoryInfo, 4> kCategories = {{
    {Category::Errors, "Протокол ошибок", 1, kErrorColumns},
    {Category::Inbound, "Входящие сообщения", 2, kInboundColumns},
    {Category::Outbound, "Исходящие сообщения", 3, kOutboundColumns},
    {Category::Notifications, "Уведомления", 4, kNotificationColumns},
}};

} // namespace

std::span<const CategoryInfo> categoryTable() { return kCategories; }

std::span<const ColumnInfo> columnsOf(Category category) {
    for (const CategoryInfo &info : kCategories)
        if (info.category == category) return info.columns;
    return {};
}

Category categoryOf(int number) {
    return number >= 1 && number <= 4 ? static_cast<Category>(number) : Category::Root;
}

} // namespace tarmin::monitor

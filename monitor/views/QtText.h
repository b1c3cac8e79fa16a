// Windows-1251 texts of the monitor's core at the edge of the Qt interface.
#pragma once

#include <QString>
#include <QStringList>

#include <string>
#include <string_view>
#include <vector>

namespace tarmin::monitor {

// Windows-1251 bytes to a QString, character by character (no UTF-8 detour,
// since the record list converts the visible cells on every paint).
QString qtText(std::string_view cp1251);
QStringList qtTexts(const std::vector<std::string_view> &cp1251);
// A QString to Windows-1251; characters the code page lacks become '?'.
std::string cp1251Text(const QString &text);

} // namespace tarmin::monitor

#include "monitor/core/FileNames.h"

#include "common/codepage.h"

namespace tarmin::monitor {

std::string fileSystemPath(std::string_view text1251) {
    std::string out;
    // Every byte but 0x98 has a character; that one is kept as it is, so that
    // such a path fails to open rather than naming another file.
    if (cp::try_cp1251_to_utf8(text1251, out)) return out;
    return std::string(text1251);
}

std::optional<std::string> textName(std::string_view fileSystemName) {
    std::string out;
    if (!cp::try_utf8_to_cp1251(fileSystemName, out)) return std::nullopt;
    return out;
}

std::string displayPath(std::string_view fileSystemPath) {
    if (auto text = textName(fileSystemPath)) return *text;
    return cp::utf8_to_cp1251(fileSystemPath);
}

bool sameFileName(std::string_view a, std::string_view b) {
    if (a == b) return true;
    // Names outside Windows-1251 are refused before they are compared; two
    // different ones count as different names.
    const auto ta = textName(a), tb = textName(b);
    return ta && tb && cp::iequals_1251(*ta, *tb);
}

} // namespace tarmin::monitor

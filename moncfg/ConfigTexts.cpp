#include "moncfg/ConfigTexts.h"

#include <cstdio>

namespace tarmin::moncfg::texts {

std::string outsideCodePageMessage(std::string_view fieldLabelUtf8, std::u32string_view text) {
    for (char32_t c : text) {
        if (cp::to_cp1251(c) >= 0) continue;
        std::string character;
        cp::append_utf8(character, c);
        char code[16];
        std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(c));
        return "Поле «" + std::string(fieldLabelUtf8) + "» содержит символ «" + character + "» (" + code +
               "), которого нет в кодовой странице Windows-1251. Такой текст нельзя сохранить в настройках: "
               "замените или удалите этот символ.";
    }
    return {};
}

} // namespace tarmin::moncfg::texts

#include "monitor/views/QtText.h"

#include "common/codepage.h"

namespace tarmin::monitor {

QString qtText(std::string_view cp1251) {
    QString out(static_cast<qsizetype>(cp1251.size()), Qt::Uninitialized);
    QChar *dst = out.data();
    for (char c : cp1251) {
        const auto b = static_cast<unsigned char>(c);
        *dst++ = b < 0x80 ? QChar(b) : QChar(static_cast<char16_t>(cp::kCp1251High[b - 0x80]));
    }
    return out;
}

QStringList qtTexts(const std::vector<std::string_view> &cp1251) {
    QStringList out;
    out.reserve(static_cast<qsizetype>(cp1251.size()));
    for (std::string_view text : cp1251) out.append(qtText(text));
    return out;
}

std::string cp1251Text(const QString &text) { return cp::utf8_to_cp1251(text.toStdString()); }

} // namespace tarmin::monitor

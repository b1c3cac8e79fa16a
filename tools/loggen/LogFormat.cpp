#include "tools/loggen/LogFormat.h"

#include "common/codepage.h"

#include <cstdio>
#include <initializer_list>

namespace tarmin::gwlog {

using namespace tarmin::cp::literals;

const char *familyPrefix(Family family) {
    switch (family) {
    case Family::Errors: return "tarmin-gw";
    case Family::Inbound: return "tmnrecv";
    case Family::Outgoing: return "tmnsent";
    }
    return "";
}

namespace {
std::string joined(char separator, std::initializer_list<const char *> names) {
    std::string h;
    for (const char *n : names) {
        if (!h.empty()) h += separator;
        h += n;
    }
    return h;
}
} // namespace

std::string familyHeader(Family family, char separator) {
    switch (family) {
    case Family::Errors:
        return joined(separator, {"Дата"_w, "Время"_w, "Модуль"_w, "Тип"_w, "Код"_w, "Информация"_w});
    case Family::Inbound:
        return joined(separator, {"Дата"_w, "Время"_w, "Отправитель"_w, "Идентификатор"_w, "Код"_w, "Хеш"_w,
                                  "Результат уведомления"_w, "Адрес"_w, "Тема"_w, "Вложения"_w, "Защита"_w});
    case Family::Outgoing:
        return joined(separator, {"Дата"_w, "Время"_w, "Отправитель"_w, "Идентификатор"_w, "Код"_w, "Хеш"_w,
                                  "Получатели"_w, "Тема"_w, "Вложения"_w, "Защита"_w});
    }
    return {};
}

void appendUnsigned(std::string &out, uint64_t v) {
    char digits[24];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v);
    while (n) out += digits[--n];
}

void appendHex(std::string &out, uint64_t v, int width) {
    static const char hex[] = "0123456789ABCDEF";
    for (int shift = (width - 1) * 4; shift >= 0; shift -= 4) out += hex[(v >> shift) & 0xF];
}

void appendTwo(std::string &out, int v) {
    out += static_cast<char>('0' + v / 10 % 10);
    out += static_cast<char>('0' + v % 10);
}

void appendCode(std::string &out, uint32_t code) {
    if (code) appendHex(out, code, 8);
    else out += '0';
}

void TimeText::append(std::string &out, std::time_t t, char sep) {
    int64_t minute = static_cast<int64_t>(t) / 60 - (t % 60 < 0 ? 1 : 0);
    if (minute != m_minute) {
        std::time_t start = static_cast<std::time_t>(minute * 60);
        std::tm tm{};
        localtime_r(&start, &tm);
        m_prefix.clear();
        appendTwo(m_prefix, tm.tm_mday);
        m_prefix += '/';
        appendTwo(m_prefix, tm.tm_mon + 1);
        m_prefix += '/';
        appendUnsigned(m_prefix, static_cast<uint64_t>(tm.tm_year + 1900));
        m_prefix += '\x01'; // the separator, set below
        appendTwo(m_prefix, tm.tm_hour);
        m_prefix += ':';
        appendTwo(m_prefix, tm.tm_min);
        m_prefix += ':';
        m_minute = minute;
    }
    std::size_t at = out.size();
    out += m_prefix;
    out[at + 10] = sep;
    appendTwo(out, static_cast<int>(t - static_cast<std::time_t>(m_minute * 60)));
}

std::string localDay(std::time_t t) {
    std::tm tm{};
    localtime_r(&t, &tm);
    char text[40];
    std::snprintf(text, sizeof text, "%04d%02d%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
    return text;
}

} // namespace tarmin::gwlog

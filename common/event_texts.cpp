// Event texts of QZ_ReportEvent (the table of codes and arguments is in
// event_texts.h).
#include "common/event_texts.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include "common/codepage.h"

using namespace tarmin::cp::literals;

namespace tarmin::qzcom {

namespace {

struct EventText {
    QZ_DWORD code;
    const char *text; // Windows-1251 template
};

// Sorted by code.
constexpr std::array kEventTexts = {
    EventText{0x600E0005, "Ошибка 0x%X возникла %u раз; последняя: %s %s"_w},
    EventText{0xA00E0001, "Рассылка %s: нет данных для отправки"_w},
    EventText{0xE0020004, "Шлюз: ошибка соединения"_w},
    EventText{0xE0030001, "Ошибка криптографической библиотеки: %s"_w},
    EventText{0xE0030002, "Недостаточно памяти"_w},
    EventText{0xE0030003, "Ошибка создания файла %s"_w},
    EventText{0xE0030004, "Ошибка записи во временный файл"_w},
    EventText{0xE0030005, "Ошибка преобразования даты и времени"_w},
    EventText{0xE0030006, "Ошибка получения размера временного файла"_w},
    EventText{0xE0030007, "Ошибка чтения временного файла"_w},
    EventText{0xE0030008, "Ошибка закрытия временного файла"_w},
    EventText{0xE0030009, "Ошибка сжатия данных (код %d)"_w},
    EventText{0xE003000A, "Ошибка распаковки данных (код %d)"_w},
    EventText{0xE003000B, "Ошибка чтения числового параметра %s из раздела реестра %s"_w},
    EventText{0xE003000C, "Неизвестный тип адреса %s (допустимы SMTP, EX и NOTES)"_w},
    EventText{0xE003000D, "Ошибка записи в файл %s"_w},
    EventText{0xE003000E, "Ошибка закрытия файла %s"_w},
    EventText{0xE003000F, "Ошибка чтения параметра %s из раздела реестра %s"_w},
    EventText{0xE0030010, "Ошибка создания каталога %s"_w},
    EventText{0xE0030011, "Ошибка формата сообщения: отсутствует или пусто поле %s"_w},
    EventText{0xE0030015, "Ошибка при выполнении %s в функции %s"_w},
    EventText{0xE0030016, "Длина подписи не совпадает с заявленной: заявлено %u, получено %u"_w},
    EventText{0xE0030017, "Длина зашифрованных данных не совпадает с заявленной: заявлено %u, получено %u"_w},
    EventText{0xE0030018, "Длина вложения не совпадает с заявленной: заявлено %u, получено %u"_w},
    EventText{0xE0030019, "Не заданы получатели для зашифрования"_w},
    EventText{0xE003001A, "Не удалось получить раздел реестра продукта (%s в функции %s)"_w},
    EventText{0xE003001E, "Получено неподписанное сообщение, а требуется подпись"_w},
    EventText{0xE003001F, "Адрес отправителя %s отсутствует в сертификате подписавшего"_w},
    EventText{0xE0030021, "Ошибка разбора адреса в заголовке: %s"_w},
    EventText{0xE0030026, "Подпись не прошла проверку: подписавший %s, статус %d"_w},
    EventText{0xE0030027, "Операция недоступна в режиме без криптографии"_w},
    EventText{0xE0070005, "Работа программы будет завершена"_w},
    EventText{0xE0070006, "Ошибка инициализации криптографического контекста оператора"_w},
    EventText{0xE00B0001, "Недостаточно памяти для работы с подписанными заметками"_w},
    EventText{0xE00B0003, "Ошибка при выполнении %s в функции %s"_w},
    EventText{0xE00C0009, "%s %s: системная ошибка %u"_w},
    EventText{0xE00E0002,
              "Истёк таймаут %u минут на получение квитанции на письмо '%s', отправленное %s %s hash=%s"_w},
    EventText{0xE00E0003, "Системная ошибка %u при выполнении %s в %s"_w},
    EventText{0xE00E0004, "Не удалось отправить администратору уведомление о просроченной квитанции"_w},
    EventText{0xE00E0006, "Не удалось отправить администратору уведомление о повторяющейся ошибке"_w},
};

static_assert(std::is_sorted(kEventTexts.begin(), kEventTexts.end(),
                             [](const EventText &a, const EventText &b) { return a.code < b.code; }));

// Codes up to this value are the system's own error numbers (errno).
constexpr QZ_DWORD kLastSystemError = 0xFFFF;

std::string printf_text(const char *format, ...) __attribute__((format(printf, 1, 2)));

std::string printf_text(const char *format, ...) {
    char buffer[256];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return n < 0 ? std::string() : std::string(buffer, std::min<std::size_t>(static_cast<std::size_t>(n), sizeof buffer - 1));
}

std::string system_error_text(QZ_DWORD code) {
    char buffer[256];
    const char *reason = ::strerror_r(static_cast<int>(code), buffer, sizeof buffer); // GNU variant
    return printf_text("%s %u: %s", "Системная ошибка"_w, code, reason);
}

} // namespace

const char *event_template(QZ_DWORD code) {
    auto it = std::lower_bound(kEventTexts.begin(), kEventTexts.end(), code,
                               [](const EventText &e, QZ_DWORD c) { return e.code < c; });
    return it != kEventTexts.end() && it->code == code ? it->text : nullptr;
}

std::string format_template(const char *tmpl, va_list args) {
    std::string out;
    for (const char *p = tmpl; *p; ++p) {
        if (*p != '%') {
            out += *p;
            continue;
        }
        switch (*++p) {
        case 's': {
            const char *s = va_arg(args, const char *);
            out += s ? s : "(нет)"_w;
            break;
        }
        case 'u': out += printf_text("%u", va_arg(args, unsigned)); break;
        case 'd': out += printf_text("%d", va_arg(args, int)); break;
        case 'X': out += printf_text("%X", va_arg(args, unsigned)); break;
        case '%': out += '%'; break;
        case '\0': return out; // a lone '%' at the end
        default: out += '%'; out += *p; break;
        }
    }
    return out;
}

std::string format_event_text(QZ_DWORD code, va_list args) {
    if (const char *tmpl = event_template(code)) return format_template(tmpl, args);
    if (code != 0 && code <= kLastSystemError) return system_error_text(code);
    return printf_text("%s 0x%X", "Событие"_w, code);
}

} // namespace tarmin::qzcom

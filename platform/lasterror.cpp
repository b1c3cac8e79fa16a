#include "platform/lasterror.h"

#include "common/codepage.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

using namespace tarmin::cp::literals;

namespace tarmin::platform {

namespace {

thread_local uint32_t t_last_error = 0;

// Our own codes and their texts, in Windows-1251 like every library text.
const char *own_text(uint32_t code) {
    switch (code) {
    case kErrorSharingViolation:
        return "Процесс не может получить доступ к файлу, так как этот файл занят другим процессом."_w;
    case kErrorLockViolation:
        return "Процесс не может получить доступ к файлу, так как часть этого файла заблокирована другим процессом."_w;
    case kErrorWaitTimeout:
        return "Превышен интервал ожидания."_w;
    case kErrorFileEmpty:
        return "Файл нулевой длины нельзя спроецировать на память."_w;
    case kErrorAlreadyRunning:
        return "Программа уже запущена для этого пользователя и профиля."_w;
    case kErrorNotRegularFile:
        return "Путь указывает не на обычный файл."_w;
    case kErrorLocalSocket:
        return "Ошибка локального сокета."_w;
    default:
        return nullptr;
    }
}

} // namespace

uint32_t last_error() { return t_last_error; }

void set_last_error(uint32_t code) { t_last_error = code; }

uint32_t set_last_error_from_errno(int err) {
    uint32_t code = static_cast<uint32_t>(err);
    if (code == kErrorSharingViolation || code == kErrorLockViolation) code |= kErrnoAliasBit;
    t_last_error = code;
    return code;
}

int errno_of(uint32_t code) {
    if (code & kErrnoAliasBit) return static_cast<int>(code & ~kErrnoAliasBit);
    if (own_text(code)) return 0;
    return code < 4096 ? static_cast<int>(code) : 0;
}

std::string error_text_utf8(uint32_t code) {
    if (const char *own = own_text(code)) return cp::cp1251_to_utf8(own);
    int err = errno_of(code);
    if (err == 0) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "Error 0x%X", code);
        return buf;
    }
    char buf[256];
    // The GNU strerror_r returns its text, which need not be in buf.
    return ::strerror_r(err, buf, sizeof buf);
}

std::string error_text(uint32_t code) {
    if (const char *own = own_text(code)) return own;
    return cp::utf8_to_cp1251(error_text_utf8(code));
}

} // namespace tarmin::platform

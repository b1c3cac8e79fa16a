#include "platform/crypto/crypto_error.h"
#include "platform/crypto/symmetric.h" // kErrBadKey, kErrBadLength, kErrBadKeyState

#include "common/codepage.h"

#include <openssl/err.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace tarmin::crypto {

using namespace tarmin::cp::literals;

namespace {
thread_local uint32_t t_last_error = 0;
thread_local std::string t_detail;

struct LangEntry {
    const char *code;
    uint16_t id;
};
// ISO 639-1 codes and their Windows language identifiers (primary language,
// default sub-language).
constexpr LangEntry kLanguages[] = {
    {"ru", 0x0419}, {"en", 0x0409}, {"uk", 0x0422}, {"be", 0x0423}, {"kk", 0x043F}, {"de", 0x0407},
    {"fr", 0x040C}, {"es", 0x0C0A}, {"it", 0x0410}, {"pl", 0x0415}, {"cs", 0x0405}, {"bg", 0x0402},
    {"pt", 0x0816}, {"nl", 0x0413}, {"sv", 0x041D}, {"fi", 0x040B}, {"tr", 0x041F}, {"ja", 0x0411},
    {"zh", 0x0804}, {"ko", 0x0412}, {"lt", 0x0427}, {"lv", 0x0426}, {"et", 0x0425}, {"ro", 0x0418},
    {"hu", 0x040E}, {"el", 0x0408}, {"he", 0x040D}, {"ar", 0x0401}, {"da", 0x0406}, {"nb", 0x0414},
    {"sk", 0x041B}, {"sl", 0x0424}, {"hr", 0x041A}, {"sr", 0x081A}, {"ka", 0x0437}, {"hy", 0x042B},
    {"az", 0x042C}, {"uz", 0x0443}, {"tt", 0x0444},
};

struct Message {
    uint32_t code;
    const char *ru; // Windows-1251
    const char *en;
};

const Message kMessages[] = {
    {kErrInvalidArg, "Параметр задан неверно."_w, "The parameter is incorrect."},
    {kErrOutOfMemory, "Недостаточно памяти для обработки команды."_w, "Not enough memory resources are available."},
    {kErrBadKey, "Неправильный ключ."_w, "Bad Key."},
    {kErrBadLength, "Неправильная длина."_w, "Bad Length."},
    {kErrBadData, "Неправильные данные."_w, "Bad Data."},
    {kErrBadKeyState, "Ключ не может быть использован в указанном состоянии."_w, "Key not valid for use in specified state."},
    {kErrBadSignature, "Неправильная подпись."_w, "Invalid Signature."},
    {kErrBadAlgorithm, "Указан неправильный алгоритм."_w, "Invalid algorithm specified."},
    {kErrNoKey, "Ключ не существует."_w, "Key does not exist."},
    {kErrBadKeyset, "Набор ключей не определен."_w, "Keyset does not exist."},
    {kErrProviderMissing, "Криптопровайдер ГОСТ (модуль gost для OpenSSL) не загружен."_w,
     "The GOST provider (OpenSSL gost engine) could not be loaded."},
    {kErrInternal, "Внутренняя ошибка криптопровайдера."_w, "Internal error of the provider."},
    {kErrBadMessage, "Неверный тип криптографического сообщения."_w, "Invalid cryptographic message type."},
    {kErrHashValue, "Значение хеша неверно."_w, "The hash value is not correct."},
    {kErrInvalidIndex, "Значение индекса неверно."_w, "The index value is not valid."},
    {kErrNotFound, "Объект или свойство не найдены."_w, "Cannot find object or property."},
    {kErrExists, "Объект или свойство уже существуют."_w, "The object or property already exists."},
    {kErrNoSigner, "Не найден сертификат подписавшего."_w, "Cannot find the original signer."},
    {kErrBadEncoding, "Ошибка ASN1: неожиданный тег."_w, "ASN1 bad tag value met."},
    {kErrKeyEncrypted, "Закрытый ключ защищен паролем; используются только ключи без пароля."_w,
     "The private key is protected by a password; only keys without a password are used."},
    {kErrTooManyCertificates, "Сообщение содержит слишком много сертификатов."_w,
     "The message carries too many certificates."},
    {kErrNotRegularFile, "Объект хранилища не является обычным файлом."_w,
     "The store entry is not a regular file."},
    {kErrKeyExposed, "Файл закрытого ключа доступен другим пользователям или принадлежит другому пользователю."_w,
     "The private key file is open to other users or owned by another user."},
    {kErrStoreExposed,
     "Хранилище закрытых ключей доступно другим пользователям или принадлежит другому пользователю."_w,
     "The store of private keys is open to other users or owned by another user."},
};

// A language code from a locale name such as "ru_RU.UTF-8" or "en".
std::string language_of(const char *locale) {
    std::string lang;
    for (const char *p = locale; *p && std::isalpha(static_cast<unsigned char>(*p)); ++p)
        lang += static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
    return lang;
}
} // namespace

uint32_t last_error() { return t_last_error; }

void set_last_error(uint32_t code) {
    t_last_error = code;
    t_detail.clear();
}

uint32_t set_last_error_from_errno(int err) {
    set_last_error(static_cast<uint32_t>(err));
    return t_last_error;
}

void set_last_error_openssl(uint32_t code) {
    t_last_error = code;
    t_detail.clear();
    unsigned long e;
    char buf[256];
    while ((e = ERR_get_error()) != 0) {
        ERR_error_string_n(e, buf, sizeof buf);
        if (!t_detail.empty()) t_detail += "; ";
        t_detail += buf;
    }
}

const std::string &last_error_detail() { return t_detail; }

uint16_t user_lang_id() {
    for (const char *var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char *v = std::getenv(var);
        if (!v || !*v) continue;
        std::string lang = language_of(v);
        for (const auto &l : kLanguages)
            if (lang == l.code) return l.id;
        return 0x0409; // "C", "POSIX" and unknown languages read as English
    }
    return 0x0409;
}

std::string error_message(uint32_t code, uint16_t lang) {
    for (const auto &m : kMessages)
        if (m.code == code) return std::string(lang == 0x0419 ? m.ru : m.en) + "\r\n";
    if (code != 0 && code < 0x10000) {
        // errno values: the C library's text (English, ASCII).
        char buf[256];
        const char *text = ::strerror_r(static_cast<int>(code), buf, sizeof buf);
        if (text && std::string_view(text).rfind("Unknown error", 0) != 0) return std::string(text) + "\r\n";
    }
    return {};
}

} // namespace tarmin::crypto

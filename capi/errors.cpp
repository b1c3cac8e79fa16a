// Error recording of the library: the bilingual message table and the three
// functions that read the last error back.
#include "capi/capi_internal.h"
#include "common/codepage.h"
#include "platform/crypto/crypto_error.h"

#include <cstdio>
#include <cstring>
#include <string_view>

using namespace tarmin::cp::literals;

namespace tarmin::qzms {

namespace {

struct MessageEntry {
    uint32_t code;
    uint16_t lang;
    const char *text;
};

// Every code has a Russian (0x0419) and an English (0x0409) template with up
// to two "%s"; the table ends with code 0.
const MessageEntry kMessageTable[] = {
    {0x4001, 0x0419, "Ошибка открытия системного хранилища сертификатов (%s)."_w},
    {0x4001, 0x0409, "Error open certificate system store (%s)."_w},
    {0x4002, 0x0419, "Ошибка поиска сертификата (%s) в хранилище (%s)."_w},
    {0x4002, 0x0409, "Certificate (%s) not found in store (%s)."_w},
    {0x4003, 0x0419, "Ошибка получения сертификата (%s) в хранилище (%s)."_w},
    {0x4003, 0x0409, "Error get certificate (%s) in store (%s)."_w},
    {0x4004, 0x0419, "Ошибка определния личного сертификата (%s) в хранилище (%s)."_w},
    {0x4004, 0x0409, "Personal certificate (%s) not selected in store (%s)."_w},
    {0x4005, 0x0419, "Ошибка установки личного сертификата (%s) в хранилище (%s)."_w},
    {0x4005, 0x0409, "Personal certificate (%s) not set in store (%s)."_w},
    {0x4006, 0x0419, "Ошибка получения ключевой строки из системного реестра."_w},
    {0x4006, 0x0409, "Error get key string from registry."_w},
    {0x4007, 0x0419, "Ошибка записи параметра (%s) в системный реестр (%s)."_w},
    {0x4007, 0x0409, "Error write parameter (%s) into registry (%s)."_w},
    {0x4008, 0x0419, "Ошибка чтения параметра (%s) из системного реестра (%s)."_w},
    {0x4008, 0x0409, "Error read parameter (%s) from registry (%s)."_w},
    {0x4009, 0x0419, "Не достаточно оперативной памяти."_w},
    {0x4009, 0x0409, "Not enough memory."_w},
    {0x400A, 0x0419, "Ошибка при построении проверочной цепочки сртификатов."_w},
    {0x400A, 0x0409, "Certificate chain build error."_w},
    {0x400B, 0x0419, "Ошибка проверки цепочки сртификатов."_w},
    {0x400B, 0x0409, "Verify certificate chain error."_w},
    {0x400C, 0x0419, "Ошибка открытия хранилища сертификатов (%s)."_w},
    {0x400C, 0x0409, "Open certificate store (%s) error."_w},
    {0x400D, 0x0419, "Ошибка загрузки личного ключа пользователя."_w},
    {0x400D, 0x0409, "Acquire private key by certificate error."_w},
    {0x400E, 0x0419, "Ошибка добавления сертификата (%s) в справочник (%s)."_w},
    {0x400E, 0x0409, "Add certificate (%s) to store (%s) error."_w},
    {0x400F, 0x0419, "Ошибка кодирования объекта (%s)."_w},
    {0x400F, 0x0409, "Encode object (%s) error."_w},
    {0x4010, 0x0419, "Ошибка определения размера закодированного объекта (%s)."_w},
    {0x4010, 0x0409, "Error get length encode oject (%s)."_w},
    {0x4011, 0x0419, "Ошибка получения (%s) байт оперативной памяти."_w},
    {0x4011, 0x0409, "Erroc alloc (%s) byte of memory."_w},
    {0x4012, 0x0419, "Ошибка получения параметра (%s) криптопровайдера."_w},
    {0x4012, 0x0409, "Error get cryptoprovider parameter (%s)."_w},
    {0x4013, 0x0419, "Для криптопровайдера (%s) отсутствует значение алгоритма (%s). Установите необходимые параметры системного реестра."_w},
    {0x4013, 0x0409, "No default algorithm specified for cryptoprovider (%s). Set this parameters in system registry."_w},
    {0x4014, 0x0419, "Ошибка определения размера подписанных данных."_w},
    {0x4014, 0x0409, "Error get length sign data."_w},
    {0x4015, 0x0419, "Ошибка подписи данных."_w},
    {0x4015, 0x0409, "Sign data error."_w},
    {0x4016, 0x0419, "Ошибка записи параметра (%s) в системный реестр (%s)."_w},
    {0x4016, 0x0409, "Error write parameter (%s) into registry (%s)."_w},
    {0x4017, 0x0419, "Ошибка создания копии контекста сертификата."_w},
    {0x4017, 0x0409, "Error duplicate certificate context."_w},
    {0x4018, 0x0419, "Ошибка пороверки подписи."_w},
    {0x4018, 0x0409, "Error verification detached message signature."_w},
    {0x4019, 0x0419, "Ошибка открытия сообщения для декодирования."_w},
    {0x4019, 0x0409, "Error open message for decode."_w},
    {0x401A, 0x0419, "Ошибка загрузки декодируемой подписи."_w},
    {0x401A, 0x0409, "Error message update."_w},
    {0x401B, 0x0419, "Ошибка определения размера параметра (%s) из сообщения (%s)."_w},
    {0x401B, 0x0409, "Error get length parameter (%s) from message (%s)."_w},
    {0x401C, 0x0419, "Ошибка получения параметра (%s) из сообщения (%s)."_w},
    {0x401C, 0x0409, "Error get parameter (%s) from message (%s)."_w},
    {0x401D, 0x0419, "Ошибка декодирования объекта (%s)."_w},
    {0x401D, 0x0409, "Error decode object (%s)."_w},
    {0x401E, 0x0419, "Ошибка определения размера разкодированного объекта (%s)."_w},
    {0x401E, 0x0409, "Error get length decode oject (%s)."_w},
    {0x401F, 0x0419, "Ошибочный размер даты подписи."_w},
    {0x401F, 0x0409, "Error length sign date."_w},
    {0x4020, 0x0419, "Ошибка преобразования даты."_w},
    {0x4020, 0x0409, "Error convert FILETIME to SystemTime."_w},
    {0x4021, 0x0419, "Подпись не содержит время подписи."_w},
    {0x4021, 0x0409, "No signature date in sign."_w},
    {0x4022, 0x0419, "Ошибка поиска сертификата (%s) в хранилище (%s)."_w},
    {0x4022, 0x0409, "Find certificate (%s) in store (%s) error."_w},
    {0x4023, 0x0419, "Подписанное сообщение содержит (%s) подписей."_w},
    {0x4023, 0x0409, "Signed message contains (%s) signatures."_w},
    {0x4024, 0x0419, "Ошибка получения (%s) байт случайных данных."_w},
    {0x4024, 0x0409, "Error gets (%s) bytes random valuele."_w},
    {0x4025, 0x0419, "Ошибка перечисления всех размещений справочников сертификатов."_w},
    {0x4025, 0x0409, "Enumerate all system store location error."_w},
    {0x4026, 0x0419, "Ошибка перечисления всех справочников сертификатов."_w},
    {0x4026, 0x0409, "Error enumerate all system stores."_w},
    {0x4027, 0x0419, "Требуемый сертификат не найден."_w},
    {0x4027, 0x0409, "Specified certificate not found."_w},
    {0x4028, 0x0419, "Ошибка определения размера зашифрованных данных."_w},
    {0x4028, 0x0409, "Error get length encrypted data."_w},
    {0x4029, 0x0419, "Ошибка зашифрования данных."_w},
    {0x4029, 0x0409, "Encrypt data error."_w},
    {0x402A, 0x0419, "Ошибка определения размера расшифрованных данных."_w},
    {0x402A, 0x0409, "Error get length decrypted data."_w},
    {0x402B, 0x0419, "Ошибка расшифрования данных."_w},
    {0x402B, 0x0409, "Decrypt data error."_w},
    {0x402C, 0x0419, "Не удалось найти сертификат отправителя зашифрованного сообщения."_w},
    {0x402C, 0x0409, "Encrypted message sender certificate not found."_w},
    {0x402D, 0x0419, "Поиск сертификата по адресу (%s) типа (%s) не поддерживается."_w},
    {0x402D, 0x0409, "Search certificate by address (%s) of type (%s) not supported."_w},
    {0x402E, 0x0419, "Сертификат с требуемым адресом (%s) не найден."_w},
    {0x402E, 0x0409, "Certificate not found by address (%s)."_w},
    {0x402F, 0x0419, "Ошибка загрузки ключа пользователя (%s)."_w},
    {0x402F, 0x0409, "Load user (%s) secret key error."_w},
    {0x4030, 0x0419, "В зашифрованном сообщении не указано ниодного получателя."_w},
    {0x4030, 0x0409, "No recipients specified in encrypted message."_w},
    {0x4031, 0x0419, "Получателя нет в списке получателей зашифрованного сообщения."_w},
    {0x4031, 0x0409, "Recipient is not found in recipients list."_w},
    {0x4032, 0x0419, "Ошибка получения имени владельца сертификата."_w},
    {0x4032, 0x0409, "Error get certificate subject name."_w},
    {0x4033, 0x0419, "Ошибка отображения диалогового окна с данными сертификата."_w},
    {0x4033, 0x0409, "Error view certificate."_w},
    {0x4034, 0x0419, "Ошибка записи параметра (%s) в системный реестр (%s)."_w},
    {0x4034, 0x0409, "Error write parameter (%s) into registry (%s)."_w},
    {0x4035, 0x0419, "Ошибка создания контекста хэширования."_w},
    {0x4035, 0x0409, "Error create hash context."_w},
    {0x4036, 0x0419, "Ошибка хэширования данных."_w},
    {0x4036, 0x0409, "Error hashing data."_w},
    {0x4037, 0x0419, "Ошибка получения параметра (%s) хэширования."_w},
    {0x4037, 0x0409, "Error get hash parameter (%s)."_w},
    {0x4038, 0x0419, "Ошибка создания контекста сертификата."_w},
    {0x4038, 0x0409, "Error create certificate context."_w},
    {0x4039, 0x0419, "Ошибка создания сеансового ключа шифрования."_w},
    {0x4039, 0x0409, "Error create session crypt key."_w},
    {0x403A, 0x0419, "Ошибка создания временного ключа."_w},
    {0x403A, 0x0409, "Error derive key."_w},
    {0x403B, 0x0419, "Ошибка установки параметра ключа (%s)."_w},
    {0x403B, 0x0409, "Error set key parameter (%s)."_w},
    {0x403C, 0x0419, "Ошибка экспорта ключа."_w},
    {0x403C, 0x0409, "Error export key."_w},
    {0x403D, 0x0419, "Ошибка импорта ключа."_w},
    {0x403D, 0x0409, "Error import key."_w},
    {0x403E, 0x0419, "Ошибка получения параметра ключа (%s)."_w},
    {0x403E, 0x0409, "Error get key parameter (%s)."_w},
    {0x403F, 0x0419, "Ошибка ключевой структуры."_w},
    {0x403F, 0x0409, "Error key structure."_w},
    {0x4040, 0x0419, "Ошибка хэширования сеансового ключа (%s)."_w},
    {0x4040, 0x0409, "Error hash session key (%s)."_w},
    {0x4041, 0x0419, "Ошибка зашифрования данных."_w},
    {0x4041, 0x0409, "Encrypt data error."_w},
    {0x4042, 0x0419, "Ошибка расшифрования данных."_w},
    {0x4042, 0x0409, "Decrypt data error."_w},
    {0x4043, 0x0419, "Ошибка контроля целостности при сравнении имитовставки."_w},
    {0x4043, 0x0409, "Error compare HMAC."_w},
    {0x4044, 0x0419, "Ошибка структуры зашифрованных данных."_w},
    {0x4044, 0x0409, "Error crypt structure."_w},
    {0x4045, 0x0419, "Отсутствует файловый ключ."_w},
    {0x4045, 0x0409, "No file key."_w},
    {0x4046, 0x0419, "Ошибка копирования ключа."_w},
    {0x4046, 0x0409, "Error duplicate key."_w},
    {0x4047, 0x0419, "Ошибка открытия файла (%s) в режиме (%s)."_w},
    {0x4047, 0x0409, "Error open file (%s) for (%s)"_w},
    {0x4048, 0x0419, "Ошибка определения размера файла (%s)."_w},
    {0x4048, 0x0409, "Error get file (%s) size"_w},
    {0x4049, 0x0419, "Ошибка чтения данных из файла (%s)."_w},
    {0x4049, 0x0409, "Read file (%s) error."_w},
    {0x404A, 0x0419, "Ошибка создания контекста CRL."_w},
    {0x404A, 0x0409, "Error create CRL context."_w},
    {0x404B, 0x0419, "Ошибка отображения диалогового окна с данными CRL."_w},
    {0x404B, 0x0409, "Show CRL information error."_w},
    {0x404C, 0x0419, "Функция (%s) не поддерживается."_w},
    {0x404C, 0x0409, "Function (%s) is not supported."_w},
    {0x404D, 0x0419, "Ошибка записи данных в файл (%s)."_w},
    {0x404D, 0x0409, "Write file (%s) error."_w},
    {0x404E, 0x0419, "Ошибка установки входных параметров: не задан сертификат открытого ключа."_w},
    {0x404E, 0x0409, "Public key certificate not set."_w},
    {0x404F, 0x0419, "Ошибка чтения параметра (%s) из системного реестра (%s)."_w},
    {0x404F, 0x0409, "Error read parameter (%s) from registry (%s)."_w},
    {0x4051, 0x0419, "Ошибка функции проверки подписи сертификата."_w},
    {0x4051, 0x0409, "Verify certificate signature error."_w},
    {0x4052, 0x0419, "Сертификат еще не вступил в действте по времени."_w},
    {0x4052, 0x0409, "Error certificate not before."_w},
    {0x4053, 0x0419, "Сертификат уже закончил свое действие по времени."_w},
    {0x4053, 0x0409, "Error certificate not after."_w},
    {0x4054, 0x0419, "Сертификат отозван."_w},
    {0x4054, 0x0409, "Certificate is revoked."_w},
    {0x4055, 0x0419, "В сертификате нет назначения ключа (KeyUsage)."_w},
    {0x4055, 0x0409, "No key usage in certificate."_w},
    {0x4056, 0x0419, "В сертификате нет назначения ключа для подписи."_w},
    {0x4056, 0x0409, "No signature key usage in certificate."_w},
    {0x4057, 0x0419, "В сертификате нет назначения ключа для шифрования."_w},
    {0x4057, 0x0409, "No key enchipherment key usage in certificate."_w},
    {0x4058, 0x0419, "Ошибка удаления сертификата из справочника."_w},
    {0x4058, 0x0409, "Error delete certificate from stores."_w},
    {0x4059, 0x0419, "Отозван личный сертфикат пользователя."_w},
    {0x4059, 0x0409, "Personal certificate is revoked."_w},
    {0x405A, 0x0419, "Ошибка полученяи контекста криптопровайдера."_w},
    {0x405A, 0x0409, "Acquire cryptoprovider context error."_w},
    {0x405B, 0x0419, "Сертификат или сертификат из цепочки не действителен по времени %s %s."_w},
    {0x405B, 0x0409, "This certificate or chain certificate is not time valid %s %s."_w},
    {0x405C, 0x0419, "Сертификаты в цепочке не соответствуют времени издания %s %s."_w},
    {0x405C, 0x0409, "Certificates in the chain are not properly time nested %s %s."_w},
    {0x405D, 0x0419, "Сертификат или сертификат из цепочки отозван %s %s."_w},
    {0x405D, 0x0409, "Trust for this certificate or chain certificate has been revoked %s %s."_w},
    {0x405E, 0x0419, "Сертификат или сертификат из цепочки имеет неправильную подпись %s %s."_w},
    {0x405E, 0x0409, "The certificate or chaincertificate does not have a valid signature %s %s."_w},
    {0x405F, 0x0419, "Сертификат или сертификат из цепочки не соответствует использованию ключа %s %s."_w},
    {0x405F, 0x0409, "The certificate or certificate chain is not valid for its proposed usage %s %s."_w},
    {0x4060, 0x0419, "Сертификат или сертификат из цепочки базируется на недоверенном заверителе %s %s."_w},
    {0x4060, 0x0409, "The certificate or certificate chain is based on an untrusted root %s %s."_w},
    {0x4061, 0x0419, "Статус отзыва сертификата или сертификата из цепочки не определен %s %s."_w},
    {0x4061, 0x0409, "The revocation status of the certificate or chain certificate is unknown %s %s."_w},
    {0x4062, 0x0419, "Цепочка сертификатов зацикливается %s %s."_w},
    {0x4062, 0x0409, "Certificates chain was cyclic %s %s."_w},
    {0x4063, 0x0419, "Один из сертификатов цепочки имеет неправильное расширение %s %s."_w},
    {0x4063, 0x0409, "One of the certificates has an invalid extension %s %s."_w},
    {0x4064, 0x0419, "Один из сертификатов цепочки имеет неправильную policy constraints %s %s."_w},
    {0x4064, 0x0409, "The certificate or chain certificate has invalid policy constraints %s %s."_w},
    {0x4065, 0x0419, "Один из сертификатов цепочки имеет неправильную base constraints %s %s."_w},
    {0x4065, 0x0409, "The certificate or chain certificate has invalid base constraints %s %s."_w},
    {0x4066, 0x0419, "Один из сертификатов цепочки имеет неправильную name constraints %s %s."_w},
    {0x4066, 0x0409, "The certificate or chain certificate has invalid name constraints %s %s."_w},
    {0x4067, 0x0419, "Один из сертификатов цепочки имеет name constraints, содержащий неподдерживаемые поля %s %s."_w},
    {0x4067, 0x0409, "The certificate or chain certificate has name constraints extension containing unsupported fields %s %s."_w},
    {0x4068, 0x0419, "Один из сертификатов цепочки имеет не определенный name constraints %s %s."_w},
    {0x4068, 0x0409, "The certificate or chain certificate has not defined name constraints %s %s."_w},
    {0x4069, 0x0419, "Один из сертификатов цепочки имеет не разрешенный name constraints %s %s."_w},
    {0x4069, 0x0409, "The certificate or chain certificate has not permited name constraints %s %s."_w},
    {0x406A, 0x0419, "Один из сертификатов цепочки имеет не исключенный name constraints %s %s."_w},
    {0x406A, 0x0409, "The certificate or chain certificate has excluded name constraints %s %s."_w},
    {0x406B, 0x0419, "Статус отзыва сертификата или сертификата из цепочки устарел %s %s."_w},
    {0x406B, 0x0409, "The revocation status of the certificate or chain certificate is either off-line or stale %s %s."_w},
    {0x406C, 0x0419, "The end certificate doesn't have any resultant issuance policies %s %s."_w},
    {0x406C, 0x0409, "The end certificate doesn't have any resultant issuance policies %s %s."_w},
    {0x406D, 0x0419, "The certificate chain is not compete %s %s."_w},
    {0x406D, 0x0409, "The certificate chain is not compete %s %s."_w},
    {0x406E, 0x0419, "A CTL used to create this chain was not time valid %s %s."_w},
    {0x406E, 0x0409, "A CTL used to create this chain was not time valid %s %s."_w},
    {0x406F, 0x0419, "A CTL used to create this chain did not have a valid signature %s %s."_w},
    {0x406F, 0x0409, "A CTL used to create this chain did not have a valid signature %s %s."_w},
    {0x4070, 0x0419, "A CTL used to create this chain is not valid for this usage %s %s."_w},
    {0x4070, 0x0409, "A CTL used to create this chain is not valid for this usage %s %s."_w},
    {0x4071, 0x0419, "Статус проверки цепочки сертификатов вернул неизвестную ошибку %s %s."_w},
    {0x4071, 0x0409, "The status of the certificate or chain certificate is unknown %s %s."_w},
    {0x4072, 0x0419, "Ошибка выполения тестовой подписи на рабочем ключе пользователя."_w},
    {0x4072, 0x0409, "User key testting signature error."_w},
    {0x4073, 0x0419, "Ошибка выполения тестовой проверки подписи на рабочем сертификате пользователя."_w},
    {0x4073, 0x0409, "User key testting verify error."_w},
    {0x4074, 0x0419, "Ошибка преобразования системной даты в локальную дату."_w},
    {0x4074, 0x0409, "Error convert FILETIME to LocalTime."_w},
    {0, 0, nullptr},
};

const char *find_template(uint32_t code, uint16_t lang) {
    for (const MessageEntry *e = kMessageTable; e->code; ++e)
        if (e->code == code && e->lang == lang) return e->text;
    return nullptr;
}

// Fills the "%s" of a template with the arguments, in order; further "%s"
// stay empty and other characters are copied.
std::string fill(const char *tmpl, const std::string &a1, const std::string &a2) {
    std::string out;
    int used = 0;
    for (const char *p = tmpl; *p; ++p) {
        if (p[0] == '%' && p[1] == 's') {
            out += used == 0 ? a1 : used == 1 ? a2 : std::string();
            ++used;
            ++p;
        } else {
            out += *p;
        }
    }
    return out;
}

void copy_cut(char *dst, size_t capacity, std::string_view text) {
    size_t n = std::min(text.size(), capacity - 1);
    std::memcpy(dst, text.data(), n);
    dst[n] = '\0';
}

std::string hex_code(uint32_t code) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%X", code);
    return buf;
}

// The operator and trace texts of a recorded error; may throw when memory
// runs out.
void compose_texts(CapiContext *ctx, bool take_system, uint32_t sys, uint32_t code, const std::string &arg1,
                   const std::string &arg2, const char *step, const char *caller) {
    uint16_t lang = crypto::user_lang_id();
    if (lang == 0) lang = 0x0409;
    const char *tmpl = find_template(code, lang);
    if (!tmpl) tmpl = find_template(code, 0x0409);
    std::string formatted = tmpl ? fill(tmpl, arg1, arg2) : std::string();

    std::string sys_text;
    bool have_sys_text = false;
    if (take_system) {
        sys_text = crypto::error_message(sys, lang);
        if (!sys_text.empty()) {
            have_sys_text = true;
            if (sys_text.size() > 2 && sys_text[sys_text.size() - 2] == '\r') sys_text.resize(sys_text.size() - 2);
        }
    }
    std::string suffix;
    if (have_sys_text) suffix = " [" + hex_code(sys) + " " + sys_text + "]";
    else if (sys != 0) suffix = " [" + hex_code(sys) + "]";

    copy_cut(ctx->TextError, sizeof ctx->TextError, suffix.empty() ? formatted : formatted + suffix);
    std::string debug = lang == 0x0409 ? fill("Error function: %s. Calling function: %s.", step, caller)
                                       : fill("Ошибка в функции %s. Вызывающая функция: %s."_w, step, caller);
    copy_cut(ctx->DebugError, sizeof ctx->DebugError, debug + suffix);
}

} // namespace

void record_error(CapiContext *ctx, bool take_system, uint32_t code, const std::string &arg1,
                  const std::string &arg2, const char *step, const char *caller) {
    // The system error first, before anything else can change it.
    uint32_t sys = take_system ? crypto::last_error() : 0;
    if (!ctx) return;
    ctx->CodeError = code;
    try {
        compose_texts(ctx, take_system, sys, code, arg1, arg2, step, caller);
    } catch (...) {
        // Memory ran out while composing: the code stays, the texts shrink
        // to the bare code instead of letting the exception reach a caller.
        std::snprintf(ctx->TextError, sizeof ctx->TextError, "0x%X", code);
        std::snprintf(ctx->DebugError, sizeof ctx->DebugError, "0x%X", code);
    }
}

void record_direct(CapiContext *ctx, uint32_t code, const char *text, const char *debug) {
    if (!ctx) return;
    ctx->CodeError = code;
    copy_cut(ctx->TextError, sizeof ctx->TextError, text);
    copy_cut(ctx->DebugError, sizeof ctx->DebugError, debug);
}

} // namespace tarmin::qzms

extern "C" {

int32_t CCA_get_code_error(CapiContext *ctx) { return ctx ? static_cast<int32_t>(ctx->CodeError) : -1; }
const char *CCA_get_text_error(CapiContext *ctx) { return ctx ? ctx->TextError : ""; }
const char *CCA_get_debug_error(CapiContext *ctx) { return ctx ? ctx->DebugError : ""; }

} // extern "C"

#include "cryptoui/verba_text.h"

#include "common/codepage.h"
#include "cryptoui/ui_session.h"

#include <cstring>

using namespace tarmin::cp::literals;

namespace tarmin::qzvoui {

namespace {

std::string text(const char *s) { return s ? s : ""; }

std::string when(const QZ_FILETIME &ft) { return fileTimeText(ft.dwLowDateTime, ft.dwHighDateTime, 5); }

const char *webAccessText(const TMN_VERBA_CERT &c) { return c.WebAccess ? "Разрешен"_w : "Запрещен"_w; }

// The printout's line forms.
std::string numberLine(const char *label, int32_t value) {
    return "    " + std::string(label) + ": " + std::to_string(value) + "\n";
}
std::string textLine(const char *label, const std::string &value) {
    return "    " + std::string(label) + ": " + value + "\n";
}

} // namespace

std::string hexText(const unsigned char *data, size_t length) {
    if (!data || !length) return {};
    char *out = nullptr;
    std::string s;
    if (QZ_FormatHex(data, length, &out) == 0 && out) s = out;
    QZ_Free(out);
    return s;
}

std::string emailsText(const TMN_VERBA_CERT &cert) {
    std::string s;
    for (uint32_t i = 0; cert.Emails && i < cert.EmailCount; ++i)
        s += text(cert.Emails[i].Type) + ":" + text(cert.Emails[i].Address) + "\xA0";
    return s;
}

bool aliasOf(const TMN_VERBA_CERT &cert, std::string &alias) {
    if (!cert.AuthAlias || cert.AuthAliasLength == 0) return false;
    alias.assign(cert.AuthAlias, strnlen(cert.AuthAlias, cert.AuthAliasLength));
    return true;
}

std::vector<VerbaField> certFields(const TMN_VERBA_CERT &c) {
    std::vector<VerbaField> f{
        {"Версия"_w, std::to_string(c.Version)},
        {"Алгоритм"_w, std::to_string(c.Algorithm)},
        {"Серийный номер"_w, text(c.OwnerSerial)},
        {"Владелец"_w, text(c.Owner)},
        {"Серийный номер издателя"_w, text(c.IssuerSerial)},
        {"Действителен с"_w, when(c.Times[TMN_VERBA_TIME_START])},
        {"Действителен по"_w, when(c.Times[TMN_VERBA_TIME_CERT_END])},
        {"Адреса электронной почты"_w, emailsText(c)},
    };
    if (c.GatewayAddress && *c.GatewayAddress)
        f.push_back({"Адрес шлюза"_w, text(c.GatewayType) + ":" + text(c.GatewayAddress)});
    f.push_back({"Ключ действителен с"_w, when(c.Times[TMN_VERBA_TIME_START])});
    f.push_back({"Ключ действителен по"_w, when(c.Times[TMN_VERBA_TIME_KEY_END])});
    f.push_back({"Открытый ключ ЭП"_w, hexText(c.PublicKey, c.PublicKeyLength)});
    f.push_back({"Подпись издателя"_w, hexText(c.Signature, c.SignatureLength)});
    std::string alias;
    if (aliasOf(c, alias)) f.push_back({"Псевдоним аутентификации"_w, alias});
    f.push_back({"Доступ к защищенным файлам WEB сервера"_w, webAccessText(c)});
    return f;
}

std::string certPrintout(const TMN_VERBA_CERT &c) {
    std::string s = "Сертификат:\n"_w;
    s += "  Данные:\n"_w;
    s += numberLine("Версия"_w, c.Version);
    s += numberLine("Алгоритм"_w, c.Algorithm);
    s += textLine("Серийный номер"_w, text(c.OwnerSerial));
    s += textLine("Владелец"_w, text(c.Owner));
    s += textLine("Серийный номер издателя"_w, text(c.IssuerSerial));
    s += textLine("Действителен с"_w, when(c.Times[TMN_VERBA_TIME_START]));
    s += textLine("Действителен по"_w, when(c.Times[TMN_VERBA_TIME_CERT_END]));
    s += "    " + std::string("Адреса электронной почты"_w) + ":\n";
    for (uint32_t i = 0; c.Emails && i < c.EmailCount; ++i)
        s += "      " + text(c.Emails[i].Type) + ":" + text(c.Emails[i].Address) + "\n";
    s += textLine("Ключ действителен с"_w, when(c.Times[TMN_VERBA_TIME_START]));
    s += textLine("Ключ действителен по"_w, when(c.Times[TMN_VERBA_TIME_KEY_END]));
    s += "    " + std::string("Открытый ключ ЭП"_w) + ":\n";
    s += "      " + hexText(c.PublicKey, c.PublicKeyLength) + "\n";
    std::string alias;
    if (aliasOf(c, alias)) s += textLine("Псевдоним аутентификации"_w, alias);
    s += "    " + std::string("Доступ к защищенным файлам WEB сервера"_w) + ": ";
    s += std::string(webAccessText(c)) + "\n";
    s += "  " + std::string("Подпись издателя"_w) + ":\n";
    s += "    " + hexText(c.Signature, c.SignatureLength) + "\n";
    return s;
}

std::vector<VerbaField> crlFields(const TMN_VERBA_CRL &c) {
    return {
        {"Версия"_w, std::to_string(c.Version)},
        {"Алгоритм"_w, std::to_string(c.Algorithm)},
        {"Серийный номер издателя"_w, text(c.IssuerSerial)},
        {"Действителен с"_w, when(c.Time)},
        {"Подпись издателя"_w, hexText(c.Signature, c.SignatureLength)},
    };
}

std::string crlPrintout(const TMN_VERBA_CRL &c) {
    // "сертфиикатов" is the system's own spelling of the heading.
    std::string s = "Список отозванных сертфиикатов:\n"_w;
    s += "  Данные:\n"_w;
    s += numberLine("Версия"_w, c.Version);
    s += numberLine("Алгоритм"_w, c.Algorithm);
    s += textLine("Серийный номер издателя"_w, text(c.IssuerSerial));
    s += textLine("Действителен с"_w, when(c.Time));
    s += "  " + std::string("Подпись издателя"_w) + ":\n";
    s += "    " + hexText(c.Signature, c.SignatureLength) + "\n";
    return s;
}

} // namespace tarmin::qzvoui

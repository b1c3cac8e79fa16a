#include "monitor/jobs/SignMessage.h"

#include "common/codepage.h"
#include "monitor/core/FileNames.h"
#include "platform/files.h"
#include "qzcom.h"

#include <string_view>

namespace tarmin::monitor {

using namespace tarmin::cp::literals;

namespace {

constexpr const char *kAddressBookKey = "GWMonEmailList";
constexpr QZ_DWORD kAddressTextSize = 1024;

} // namespace

AddressBook readAddressBook() {
    AddressBook book;
    const char *product = QZ_GetProductKeyName();
    if (!product) return book;
    const std::string path = std::string(product) + "\\" + kAddressBookKey;
    QZ_HKEY key = nullptr;
    if (QZ_RegOpenKey(&key, path.c_str(), QZ_KEY_READ, nullptr) != 0 || !key) return book;
    book.opened = true;
    QZ_DWORD count = 0;
    QZ_RegGetDword(key, "GWMonEmailListNum", &count, 0);
    for (QZ_DWORD i = 0; i < count; ++i) {
        QZ_HKEY entry = nullptr;
        const std::string entryPath = path + "\\" + std::to_string(i);
        if (QZ_RegOpenKey(&entry, entryPath.c_str(), QZ_KEY_READ, nullptr) != 0 || !entry) continue;
        char email[kAddressTextSize] = "";
        char name[kAddressTextSize] = "";
        QZ_RegGetString(entry, "Email", email, kAddressTextSize, "");
        QZ_RegGetString(entry, "CName", name, kAddressTextSize, "");
        QZ_RegCloseKey(entry);
        book.entries.push_back(std::string(name) + " (" + email + ")");
    }
    QZ_RegCloseKey(key);
    return book;
}

std::string addressBookMissingMessage() {
    std::string text = "Необходимо запустить программу конфигурации и выполнить необходимую настройку.\n"
                       "Ошибка открытия ключа настройки со списком зарегистрированных адресов из системного "
                       "реестра (ключ %s)."_w;
    text.replace(text.find("%s"), 2, kAddressBookKey);
    return text;
}

std::size_t firstDuplicateAttachment(const std::vector<std::string> &listed,
                                     const std::vector<std::string> &selected) {
    std::vector<std::string_view> names;
    for (const auto &path : listed) names.push_back(platform::file_name_of(path));
    for (std::size_t i = 0; i < selected.size(); ++i) {
        const std::string_view name = platform::file_name_of(selected[i]);
        for (std::string_view other : names)
            if (sameFileName(other, name)) return i;
        names.push_back(name);
    }
    return selected.size();
}

std::size_t firstUnrepresentableAttachment(const std::vector<std::string> &selected) {
    for (std::size_t i = 0; i < selected.size(); ++i)
        if (!textName(platform::file_name_of(selected[i]))) return i;
    return selected.size();
}

std::string unrepresentableAttachmentMessage(const std::string &path) {
    return "Имя файла "_w + displayPath(platform::file_name_of(path)) +
           " нельзя записать в кодировке Windows-1251, в которой шлюз принимает имена вложений. "
           "Переименуйте файл."_w;
}

std::string duplicateAttachmentMessage() {
    return "Защищенное сообщение не может содержать несколько вложений с одинаковым именем."_w;
}

std::string noAttachmentMessage() {
    return "Защищенное сообщение обязательно должно содержать хотя бы одно вложение"_w;
}

std::vector<std::string> signSummaryLines(const SignMessageData &data) {
    const std::string byDefault = "<По умолчанию>"_w;
    std::vector<std::string> lines;
    lines.push_back("Тема сообщения: "_w + (data.subject.empty() ? byDefault : data.subject));
    lines.push_back("Получатели сообщения: "_w);
    if (data.recipients.empty()) lines.push_back("\t" + byDefault);
    for (const auto &entry : data.recipients) lines.push_back("\t" + entry);
    lines.push_back("Список вложений: "_w);
    if (data.attachments.empty()) lines.push_back("\tНет вложений"_w);
    for (const auto &path : data.attachments) lines.push_back("    " + displayPath(path));
    lines.push_back("Обработка на шлюзе: "_w);
    if (data.signOnGateway) lines.push_back("\tВыполнить ЭП сообщения"_w);
    if (data.encryptOnGateway) lines.push_back("\tВыполнить шифрование сообщения"_w);
    return lines;
}

GatewayJob messageJob(const SignMessageData &data, CapiContext *context, PCCERT_CONTEXT ownCert,
                      const std::string &signerName) {
    GatewayJob job;
    job.subject = data.subject;
    job.from = data.from;
    job.encryptOnGateway = data.encryptOnGateway;
    job.signOnGateway = data.signOnGateway;
    job.recipients = data.recipients;
    job.body = data.body;
    job.attachments = data.attachments;
    job.signAtWorkstation = true;
    job.deleteSources = false;
    job.context = context;
    job.ownCert = ownCert;
    job.signerName = signerName;
    return job;
}

} // namespace tarmin::monitor

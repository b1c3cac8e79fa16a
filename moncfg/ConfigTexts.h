// The messages of the configuration window and its item dialogs, in
// Windows-1251, with their string numbers where they have one.
#pragma once

#include "common/codepage.h"

#include <string>
#include <string_view>

namespace tarmin::moncfg::texts {

using namespace tarmin::cp::literals;

inline const char *const kReadAccessFailed = "Ошибка получения доступа к реестру на чтение"_w;
inline const char *const kWriteAccessFailed =
    "Ошибка получения доступа к реестру на запись. Недостаточно прав для выполнение операции."_w;
// 1001
inline const char *const kSaveChanges = "В процессе редактирования параметров конфигурации, были сделаны изменения. "
                                        "Хотите сохранить их сейчас?"_w;
// 1002, 1003, 1004
inline const char *const kDeleteEmails = "Вы действительно хотите удалить выбранные E-mail?"_w;
inline const char *const kDeletePackets = "Вы действительно хотите удалить выбранные списки?"_w;
inline const char *const kDeleteSenderLists = "Вы действительно хотите удалить выбранные пакеты?"_w;
// 2001, 2008, 2009, 2010, 2006
inline const char *const kNoEmail = "Не введен e-mail"_w;
inline const char *const kNoRecipientName = "Не введено имя получателя"_w;
inline const char *const kNoPacketNumber = "Не введен номер рассылки"_w;
inline const char *const kPacketNumberUsed = "Такой номер рассылки уже существует"_w;
inline const char *const kNoPacketDirectory = "Не установлен каталог для файлов"_w;
inline const char *const kNoPacketAddresses = "Список адресов пуст"_w;
inline const char *const kNoSenderListName = "Не введено наименование пакета"_w;
inline const char *const kNoSenderPackets = "Список номеров рассылки пуст"_w;
// A sender list whose numbers do not fit the stored text.
inline const char *const kSenderPacketsTooLong =
    "Список номеров рассылки слишком длинный: в настройках помещается не более 259 символов"_w;

// A password with such a character; the character is not named, the field
// being masked.
inline const char *const kPasswordOutsideCodePage =
    "Пароль содержит символ, которого нет в кодовой странице Windows-1251. Введите пароль из букв "
    "русского или латинского алфавита, цифр и знаков."_w;

// The message for a field's text that holds a character Windows-1251 lacks:
// the field's label, the first such character and why it is refused. It is
// UTF-8, since it names a character the code page cannot hold. Empty when
// every character is in the code page.
std::string outsideCodePageMessage(std::string_view fieldLabelUtf8, std::u32string_view text);

} // namespace tarmin::moncfg::texts

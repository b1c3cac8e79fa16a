// The monitor's two image lists (16 and 32 pixels), shared by the tree, the
// record list and the dialogs. Indexes 0 to 10 are the monitor's own icons,
// drawn here at start-up so that every size stays sharp and the set keeps one
// look; 11 to 13 are the system's information, error and warning icons.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace tarmin::monitor {

enum ImageIndex : int {
    kImageApplication = 0,   // the program and the tree root
    kImageErrorsLog = 1,     // "Протокол ошибок"
    kImageInbound = 2,       // "Входящие сообщения"
    kImageOutbound = 3,      // "Исходящие сообщения"
    kImageNotifications = 4, // "Уведомления"
    kImagePlainMessage = 5,  // message without protection
    kImageSignedMessage = 6, // protection kind "2": signed
    kImageSignedEncrypted = 7, // protection kind "3": signed and encrypted
    kImageEncryptedMessage = 8, // protection kind "1": encrypted
    kImageFailedMessage = 9, // processing ended with an error
    kImageAwaitingReceipt = 10, // message still waiting for its receipts
    kImageSystemInformation = 11,
    kImageSystemError = 12,
    kImageSystemWarning = 13,
    kImageCount = 14
};

class MonitorIcons {
public:
    // The icon of an image index at both sizes; an index outside 0..13 gives
    // a null icon.
    static QIcon icon(int index);
    // One size of an image index (16 or 32 pixels), as the image lists hold it.
    static QPixmap small(int index);
    static QPixmap large(int index);
    // The attachment icon of the record dialogs' attachment lists.
    static QIcon attachment();
    // The recipient icons of the notification details dialog: a receipt that
    // confirmed the check ("OK"), one that reported a failure ("ER"), and no
    // receipt yet.
    static QIcon receiptConfirmed();
    static QIcon receiptFailed();
    static QIcon receiptWaiting();

private:
    static void ensureBuilt();
};

} // namespace tarmin::monitor

/*
 * tmnui.h - the UI module of the Tarmin suite (Qt dialogs for mail-client
 * integrations): the result of processing a protected message, the receipts
 * of a sent message, the initialisation status, the confirmation before
 * sending, the choice of signing and encrypting, and the certificate manager.
 *
 * Conventions
 *   - Texts passed in are Windows-1251 and zero-terminated; a null text
 *     shows as empty.
 *   - An owner window (QZ_HWND) is a QWidget* of the calling program, or null
 *     for the active window.
 *   - Every function runs its dialog on the calling (GUI) thread and lets no
 *     exception escape; an unexpected one is written to the trace
 *     (QZ_Trace). In a process without a QApplication one is made for the
 *     dialog when a display is available (QT_QPA_PLATFORM, DISPLAY or
 *     WAYLAND_DISPLAY); without one no dialog can be shown and the modal
 *     functions answer as if it was cancelled.
 *   - Modal results: 1 (OK), 2 (cancelled), -1 when the dialog cannot run
 *     (the framework's failure result).
 */
#ifndef TARMIN_TMNUI_H
#define TARMIN_TMNUI_H

#include <stdint.h>

#include "qzcom.h"
#include "tmnsmime.h"

#ifdef __cplusplus
extern "C" {
#endif

#define TMNUI_API __attribute__((visibility("default")))

/* ---- Result of processing a protected message ------------------------------ */

/* Result codes of DecryptStatus, SignStatus and of the attachment signers:
 * -1 not encrypted / not signed, 0 OK, 1 wrong signature, 2 public key not
 * found, 3 wrong public key, 4 error. */
typedef struct ProcessResult {
    int32_t DecryptStatus;
    int64_t Reserved;              /* not shown */
    PCCERT_CONTEXT DecryptCert;    /* behind the first "Показать сертификат..." (may be null) */
    int32_t SignStatus;
    char *SignerName;              /* "Подписал:" */
    PCCERT_CONTEXT SignerCert;     /* behind the second "Показать сертификат..." (may be null) */
    int64_t SignTime;              /* seconds since 1970 UTC, 0 = none: "Дата выполнения ЭП:" */
    char *From;                    /* "От:" */
    char *To;                      /* "Кому:" */
    char *Sent;                    /* "Отправлено:" */
    char *Cc;                      /* "Копия:" */
    char *Subject;                 /* "Тема:" */
    MhaAttachSigner *AttachSigners; /* signers of attachments, in list order */
    char *Details;                 /* the detailed processing result, saved unchanged */
} ProcessResult;

/* The record of a decoding result of tmnsmime (MHA_decode_init). The texts,
 * certificates and signers are borrowed: they stay the MhaResult's, valid
 * until MHA_result_free. */
static inline void TMN_UIResultFromMha(const MhaResult *m, ProcessResult *r) {
    r->DecryptStatus = m->DecryptStatus;
    r->Reserved = 0;
    r->DecryptCert = m->EncryptorCert;
    r->SignStatus = m->SignStatus;
    r->SignerName = m->SignerName;
    r->SignerCert = m->SignerCert;
    r->SignTime = m->CheckValue;
    r->From = m->FromText;
    r->To = m->ToText;
    r->Sent = m->DateText;
    r->Cc = m->CcText;
    r->Subject = m->Subject;
    r->AttachSigners = m->AttachSigners;
    r->Details = m->ResultDetail;
}

/* The sheet "Результат разбора сообщения": the general page (decryption and
 * signature results, the message's addresses, date and subject, the
 * certificates shown through MHA_vcert_view_cert with context) and the
 * details page (signers of attachments, the detailed result, which can be
 * saved to a file). Returns 87 when result or context is null, otherwise 1
 * (OK) or 2. The Windows version also returned 87 for a record it could not
 * read in full; a process here cannot probe memory for readability, so the
 * record must be valid. At most 65536 attachment signers are shown (a list
 * that loops ends there). */
TMNUI_API int32_t TMN_UIShowResult(QZ_HWND owner, MhaContext *context, const ProcessResult *result);

/* ---- Receipts of a sent message ------------------------------------------- */

typedef struct TmnNotifyHeader {
    uint32_t Recipients;      /* number of entries */
    uint32_t ErrorReceipts;
    uint32_t SuccessReceipts;
} TmnNotifyHeader;

/* The fixed part of one entry (32 bytes); the entry goes on with the name
 * (NameLength bytes, ending at a zero byte within them), the address
 * (AddressLength bytes) and the address type (AddressTypeLength bytes), so
 * that it occupies 32 + N + A + T bytes; entries follow each other. */
typedef struct TmnNotifyEntryHead {
    uint32_t NameLength;
    uint32_t AddressLength;
    uint32_t AddressTypeLength;
    uint32_t RecipientType;   /* 1 shared folder, else user */
    uint32_t ReceiptResult;   /* 0 none, 1 error, else OK */
    uint32_t Reserved;
    int64_t SignTime;         /* seconds since 1970 UTC, 0 = none */
} TmnNotifyEntryHead;

/* The dialog "Тармин" with the counts and one row per recipient. The
 * argument that the Windows version ignored is the byte length of entries:
 * every length an entry states is checked against it, and a buffer whose
 * entries do not fit (or hold fewer than header->Recipients) shows nothing
 * and gives -1, as does a null header. Returns 1 (OK: open the message) or 2. */
TMNUI_API int32_t TMN_UIShowNotificationStatus(QZ_HWND owner, const TmnNotifyHeader *header, uint32_t entries_length,
                                               const void *entries);

/* ---- Initialisation ------------------------------------------------------- */

/* Status codes of TMN_UIShowInit. */
#define TMN_INIT_READY 0
#define TMN_INIT_FAILED 1
#define TMN_INIT_NO_PERSONAL_BOOK 2
#define TMN_INIT_NO_LOCAL_BOOK 3
#define TMN_INIT_NO_OWN_CERT 4
#define TMN_INIT_BOOK_CHECK_FAILED 5
#define TMN_INIT_ERROR (-1)

/* The dialog "Инициализация" with the two texts and the status message
 * (status -1 and 6 show the general one; others without a message of their
 * own show none). Status 0 returns 1 at once without a window; otherwise the
 * dialog's result (1). */
TMNUI_API int32_t TMN_UIShowInit(QZ_HWND owner, const char *text1, const char *text2, int32_t status);

/* The modeless window "Инициализация" with the three texts, shown and painted
 * before the call returns. Returns its handle, or null when it cannot be
 * shown. A process without a QApplication gets one that lives until the last
 * such window is destroyed. */
TMNUI_API QZ_HWND TMN_UIShowUnmodalInit(QZ_HWND owner, const char *text1, const char *text2, const char *text3);
/* Destroys a window of TMN_UIShowUnmodalInit; null and handles that are not
 * such a window (any more) are ignored. */
TMNUI_API void TMN_UIDeleteUnmodalInit(QZ_HWND window);

/* ---- Sending ---------------------------------------------------------------- */

#define TMN_SEND_ENCRYPTED 0x01u
#define TMN_SEND_SIGNED 0x02u
#define TMN_SEND_SAVED 0x10u   /* saved instead of sent */

/* The confirmation box "Система защиты" telling how the message will be sent
 * (or saved), OK and Cancel, always on top (modal for the whole application
 * without owner). Returns 1 (OK) or 2. */
TMNUI_API int32_t TMN_UISendNotifyBox(QZ_HWND owner, uint32_t flags);

/* Flags of GetUserInput. */
#define TMN_INPUT_ENCRYPT 0x01u         /* "Зашифровано" checked */
#define TMN_INPUT_ENCRYPT_FIXED 0x02u   /* checked and cannot be changed */
#define TMN_INPUT_SIGN 0x08u            /* "Подписано" checked */
#define TMN_INPUT_SIGN_FIXED 0x10u      /* checked and cannot be changed */
/* Out flags: */
#define TMN_OUTPUT_ENCRYPT 0x01u
#define TMN_OUTPUT_SIGN 0x02u

/* The dialog "Параметры отправлемого сообщения". Returns 0 with *out set to
 * the chosen TMN_OUTPUT_* flags when confirmed, 1 when cancelled (or out is
 * null: no dialog then). */
TMNUI_API int32_t GetUserInput(QZ_HWND owner, uint32_t flags, uint32_t *out);

/* ---- Certificate manager -------------------------------------------------- */

/* The certificate manager window over the current user's stores (MY,
 * AddressBook, Root, CA and their revocation lists), showing the
 * certificates for e-mail protection: view, import (DER, PEM, PKCS #12),
 * export, delete, add a revocation list, choose the own certificate.
 * Returns null. */
TMNUI_API void *TMN_UIShowManager(void);

#ifdef __cplusplus
}
#endif

#endif /* TARMIN_TMNUI_H */

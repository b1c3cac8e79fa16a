/*
 * qzvoui.h - the crypto UI library of the Tarmin suite (Qt dialogs).
 *
 * Texts passed in are Windows-1251. Every function runs its dialog modally on
 * the calling (GUI) thread and lets no exception escape. In a process without
 * a QApplication one is made for the dialog's duration when a display is
 * available (QT_QPA_PLATFORM, DISPLAY or WAYLAND_DISPLAY); without one the
 * dialog cannot be shown and the functions answer as if it was cancelled.
 */
#ifndef TARMIN_QZVOUI_H
#define TARMIN_QZVOUI_H

#include <stdint.h>

#include "qzcom.h"

#ifdef __cplusplus
extern "C" {
#endif

#define QZVOUI_API __attribute__((visibility("default")))

/* The list prompt: one entry of a list, with a detail text per entry.
 * Returns 1 when the operator confirmed (*selected = the chosen index), 2
 * when cancelled (*selected back to its incoming value) or when items,
 * count, prompt or details is null or zero (no dialog then). An incoming
 * index outside the list leaves the list without a selection. title (may be
 * null) replaces the caption "Выберите ключевой носитель". */
QZVOUI_API int32_t TMN_UIGetReader(const char **items, int32_t count, const char *prompt, const char **details,
                                   int32_t *selected, const char *title);

/* Flags of the message boxes (as the system's): buttons, icon, behaviour. */
#define TMN_MB_OK 0x0u
#define TMN_MB_OKCANCEL 0x1u
#define TMN_MB_YESNOCANCEL 0x3u
#define TMN_MB_YESNO 0x4u
#define TMN_MB_ICONERROR 0x10u
#define TMN_MB_ICONQUESTION 0x20u
#define TMN_MB_ICONWARNING 0x30u
#define TMN_MB_ICONINFORMATION 0x40u
#define TMN_MB_TASKMODAL 0x2000u
#define TMN_MB_SETFOREGROUND 0x10000u
#define TMN_MB_TOPMOST 0x40000u
/* Answers (the buttons' numbers). */
#define TMN_IDOK 1
#define TMN_IDCANCEL 2
#define TMN_IDYES 6
#define TMN_IDNO 7
/* A message box with an OK button, owned by the active window. Returns 1. */
QZVOUI_API int32_t TMN_UIMessageBox(const char *text, const char *title, uint32_t flags);

/* Viewer flags (as the system's certificate viewer takes them). */
#define TMN_VIEW_DISABLE_EDITPROPERTIES 0x04u
#define TMN_VIEW_DISABLE_ADDTOSTORE 0x10u
/* The certificate viewer for a DER certificate, owned by the active window:
 * general page (subject, issuer, validity, serial, mail name, key usage) and
 * a details page of every field. 1 when shown, 0 when the bytes are not a
 * certificate. */
QZVOUI_API int32_t TMN_UIViewCertificate(const unsigned char *der, uint32_t length, uint32_t flags);
/* The revocation-list viewer for a DER CRL: issuer, times, revoked serial
 * numbers. 1 when shown, 0 when the bytes are not a revocation list. */
QZVOUI_API int32_t TMN_UIViewCrl(const unsigned char *der, uint32_t length);

/* ---- Key number, splash window, save-as prompt ---------------------------- */

/* The key-number prompt "Укажите номер ключа": an editable list of the
 * remembered key numbers (settings key "Software\KELVORIA\common-M",
 * values "NumOfKeys", "0".."9", "CurrentKey"), preset with the last one
 * confirmed and limited to length characters. OK takes only an entry of
 * exactly length characters (otherwise an error box and the entry stays
 * open); the entry is remembered (at most 10, the oldest pushed out) and
 * copied with its terminating zero into buffer, which holds length + 1
 * bytes. Returns 1 then; 2 when cancelled, or when buffer is null, length is
 * not positive or flag is 0 (no dialog then). */
QZVOUI_API int32_t TMN_UIGetUserKeyNumber(char *buffer, int32_t length, int32_t flag);

/* A modal window with that title and text that closes itself after seconds
 * seconds (0 or less: at the first tick). Returns 1; nothing is shown when
 * title or text is null. */
QZVOUI_API int32_t TMN_UIShowSplash(const char *title, const char *text, int32_t seconds);

#define TMN_MAX_PATH 260
/* The save dialog, with a prompt before an existing file is replaced.
 * file_name (TMN_MAX_PATH bytes): in, the name proposed (may be empty); out,
 * the full path chosen. directory, default_ext, title and filter (the
 * system's form "Text (*.txt)|*.txt||") may be null. out_path (TMN_MAX_PATH
 * bytes) or null also receives the full path. Returns 1 (TMN_IDOK) when a
 * file was chosen, 2 (TMN_IDCANCEL) when cancelled or when the path does not
 * fit into TMN_MAX_PATH bytes or has a character that Windows-1251 lacks (the
 * operator is told why); file_name is then left as it was. */
QZVOUI_API int32_t TMN_GetNameFileSaveAs(char *file_name, const char *directory, const char *default_ext,
                                         const char *title, const char *filter, char *out_path);

/* ---- Viewers of the client's certificate and revocation-list records ------- */

/* One e-mail entry of a certificate: its type ("SMTP", "EX", "NOTES") and address. */
typedef struct TMN_VERBA_EMAIL {
    char *Type;
    char *Address;
} TMN_VERBA_EMAIL;

/* Indexes of TMN_VERBA_CERT.Times. */
#define TMN_VERBA_TIME_START 0    /* start of validity, of the certificate and of the key */
#define TMN_VERBA_TIME_KEY_END 1  /* end of the key's validity */
#define TMN_VERBA_TIME_CERT_END 2 /* end of the certificate's validity */

/* A certificate as the viewer shows it. Texts are Windows-1251; a null text
 * shows as empty. */
typedef struct TMN_VERBA_CERT {
    int32_t Version;
    int32_t Algorithm;         /* algorithm number of the key (0x2E23, 0x2E49, 0x2E3D ...) */
    char *Owner;
    char *OwnerSerial;         /* the certificate's serial number */
    char *IssuerSerial;        /* the issuer's (key) serial number */
    QZ_FILETIME Times[3];      /* UTC, see TMN_VERBA_TIME_* */
    uint32_t EmailCount;
    TMN_VERBA_EMAIL *Emails;
    unsigned char *PublicKey;
    uint32_t PublicKeyLength;
    char *AuthAlias;           /* optional: shown when non-null and AuthAliasLength > 0 */
    uint32_t AuthAliasLength;  /* bytes of AuthAlias shown (up to a zero byte) */
    int32_t WebAccess;         /* non-zero: access to protected web-server files */
    unsigned char *Signature;  /* the issuer's signature */
    uint32_t SignatureLength;
    char *GatewayType;         /* optional gateway address, shown as type ":" address */
    char *GatewayAddress;      /* when non-null and not empty */
} TMN_VERBA_CERT;

/* A revocation list as the viewer shows it. */
typedef struct TMN_VERBA_CRL {
    int32_t Version;
    int32_t Algorithm;
    char *Issuer;
    char *IssuerSerial;
    QZ_FILETIME Time;          /* the time of the list (UTC) */
    unsigned char *Signature;
    uint32_t SignatureLength;
    /* Filled by TMN_UIVerbaCrlFromDer for TMN_UIVerbaShowCrl: the revoked
     * serial numbers in list order. */
    char **RevokedSerials;
    int32_t RevokedCount;
} TMN_VERBA_CRL;

/* The certificate viewer "Сертификат": pages "Общие" and "Состав" (with the
 * printout saved to a text file); owner, when given, is the issuing
 * authority's record, shown by the button "Сертификат ЦС...". Returns 1 (OK)
 * or 2 (closed otherwise, or cert null, or no display). */
QZVOUI_API int32_t TMN_UIVerbaShowCert(const TMN_VERBA_CERT *owner, const TMN_VERBA_CERT *cert);
/* The revocation-list viewer "Список отозванных сертификатов" with the given
 * serial numbers (count of them; serials may be null when count is 0).
 * Returns 1 (OK) or 2. */
QZVOUI_API int32_t TMN_UIVerbaShowCrl(const TMN_VERBA_CRL *crl, const char *const *serials, int32_t count);

/* Records from an X.509 certificate or CRL (DER, or PEM): owner = the
 * subject's name string, serial numbers as "0A1B 2C3D " texts, the issuer's
 * serial = its key identifier (authority key identifier; for a self-signed
 * certificate its own subject key identifier), the e-mail entries = the
 * rfc822 names ("SMTP"), the EX and NOTES names of the subject alternative
 * name and the e-mail attributes of the subject, the key's end = the private
 * key usage period's end when given, the alias = the common name, web access
 * = the TLS client purpose, the gateway address = the forwarding name
 * ("SMTP"). 0 with *out set (released with TMN_UIVerbaFreeCert /
 * TMN_UIVerbaFreeCrl), -1 when the bytes do not decode or memory runs out. */
QZVOUI_API int32_t TMN_UIVerbaCertFromDer(const unsigned char *der, uint32_t length, TMN_VERBA_CERT **out);
QZVOUI_API void TMN_UIVerbaFreeCert(TMN_VERBA_CERT *cert);
QZVOUI_API int32_t TMN_UIVerbaCrlFromDer(const unsigned char *der, uint32_t length, TMN_VERBA_CRL **out);
QZVOUI_API void TMN_UIVerbaFreeCrl(TMN_VERBA_CRL *crl);

#ifdef __cplusplus
}
#endif

#endif /* TARMIN_QZVOUI_H */

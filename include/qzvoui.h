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

/* Flags of TMN_UIMessageBox (as the system's). */
#define TMN_MB_OK 0x0u
#define TMN_MB_ICONERROR 0x10u
#define TMN_MB_ICONWARNING 0x30u
#define TMN_MB_ICONINFORMATION 0x40u
#define TMN_MB_SETFOREGROUND 0x10000u
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

#ifdef __cplusplus
}
#endif

#endif /* TARMIN_QZVOUI_H */

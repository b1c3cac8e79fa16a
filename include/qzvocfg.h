/*
 * qzvocfg.h - settings of the GOST crypto provider.
 *
 * One function, which the configuration program calls from its button
 * "&Настройка СКЗИ": a window that shows the provider behind the suite's
 * cryptography (the OpenSSL GOST engine and its version), the algorithms and
 * parameter sets the CryptoAPI interface library will use, the own
 * certificate it remembers, and where the certificate stores are kept. The
 * operator can make the library forget the remembered own certificate, so
 * that the next initialisation asks for it again.
 */
#ifndef TARMIN_QZVOCFG_H
#define TARMIN_QZVOCFG_H

#include "qzcom.h"

#ifdef __cplusplus
extern "C" {
#endif

#define QZVOCFG_API __attribute__((visibility("default")))

/* Shows the provider's settings modally over owner (a QWidget*, may be null)
 * and returns when the operator closes them: 0, or -1 when the window could
 * not be shown (no application object). The common services must be
 * initialised (the settings of the current product and profile are shown).
 * No C++ exception leaves this function. */
QZVOCFG_API int QZVO_ProviderSettings(QZ_HWND owner);

#ifdef __cplusplus
}
#endif

#endif /* TARMIN_QZVOCFG_H */

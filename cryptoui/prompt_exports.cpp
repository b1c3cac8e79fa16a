// The exported prompts and viewers of the crypto UI library: key number,
// splash window, save-as prompt, and the viewers of the client's certificate
// and revocation-list records. Each runs inside a UiScope and lets no
// exception escape; an unexpected one goes to the trace.
#include "include/qzvoui.h"

#include "cryptoui/CKeyNumberDlg.h"
#include "cryptoui/CSplashWnd.h"
#include "cryptoui/CVerbaSheets.h"
#include "cryptoui/key_history.h"
#include "cryptoui/ui_session.h"

#include <QDir>

#include <cstring>
#include <exception>
#include <string>
#include <vector>

using namespace tarmin::qzvoui;

namespace {

constexpr int32_t kOk = TMN_IDOK;
constexpr int32_t kCancel = TMN_IDCANCEL;

int32_t sheetResult(int dialogResult) { return dialogResult == QDialog::Accepted ? kOk : kCancel; }

template <typename F> int32_t guarded(const char *traceText, int32_t failed, F &&body) {
    try {
        return body();
    } catch (...) {
        QZ_Trace("%s", traceText);
        return failed;
    }
}

} // namespace

extern "C" QZVOUI_API int32_t TMN_UIGetUserKeyNumber(char *buffer, int32_t length, int32_t flag) {
    if (!buffer || length <= 0 || !flag) return kCancel;
    return guarded("TMN_UIGetUserKeyNumber\n", kCancel, [&]() -> int32_t {
        UiScope scope;
        if (!scope.ok()) return kCancel;
        KeyHistory history = loadKeyHistory();
        CKeyNumberDlg dialog(history, length, activeOwner());
        if (runModal(dialog) != QDialog::Accepted) return kCancel;
        confirmKey(history, dialog.entry());
        if (!saveKeyHistory(history)) QZ_Trace("TMN_UIGetUserKeyNumber: the key history was not written\n");
        std::memcpy(buffer, dialog.entry().c_str(), dialog.entry().size() + 1);
        return kOk;
    });
}

extern "C" QZVOUI_API int32_t TMN_UIShowSplash(const char *title, const char *text, int32_t seconds) {
    if (!title || !text) return 1;
    return guarded("TMN_UIShowSplash\n", 1, [&]() -> int32_t {
        UiScope scope;
        if (!scope.ok()) return 1;
        CSplashWnd splash(fromCp1251(title), fromCp1251(text), seconds, activeOwner());
        runModal(splash);
        return 1;
    });
}

extern "C" QZVOUI_API int32_t TMN_GetNameFileSaveAs(char *fileName, const char *directory, const char *defaultExt,
                                                    const char *title, const char *filter, char *outPath) {
    if (!fileName) return kCancel;
    return guarded("TMN_GetNameFileSaveAs\n", kCancel, [&]() -> int32_t {
        UiScope scope;
        if (!scope.ok()) return kCancel;
        const std::string proposed(fileName, strnlen(fileName, TMN_MAX_PATH));
        const QString path = askSaveFileName(activeOwner(), fromCp1251(title), fromCp1251(directory),
                                             fromCp1251(proposed), fromCp1251(defaultExt), fromCp1251(filter));
        if (path.isEmpty()) return kCancel;
        std::string chosen;
        QString refusal;
        if (!toCp1251(path, chosen))
            refusal = QStringLiteral("Имя файла содержит знаки, которых нет в кодировке Windows-1251:\n%1");
        else if (chosen.size() >= TMN_MAX_PATH)
            refusal = QStringLiteral("Путь к файлу длиннее %1 знаков:\n%2").arg(TMN_MAX_PATH - 1);
        if (!refusal.isEmpty()) {
            showMessageBox(refusal.arg(QDir::toNativeSeparators(path)), fromCp1251(title), TMN_MB_ICONERROR);
            return kCancel;
        }
        std::memcpy(fileName, chosen.c_str(), chosen.size() + 1);
        if (outPath) std::memcpy(outPath, chosen.c_str(), chosen.size() + 1);
        return kOk;
    });
}

extern "C" QZVOUI_API int32_t TMN_UIVerbaShowCert(const TMN_VERBA_CERT *owner, const TMN_VERBA_CERT *cert) {
    if (!cert) return kCancel;
    return guarded("TMN_UIVerbaShowCert\n", kCancel, [&]() -> int32_t {
        UiScope scope;
        if (!scope.ok()) return kCancel;
        CVerbaCertSheet sheet(owner, *cert, activeOwner());
        return sheetResult(runModal(sheet));
    });
}

extern "C" QZVOUI_API int32_t TMN_UIVerbaShowCrl(const TMN_VERBA_CRL *crl, const char *const *serials, int32_t count) {
    if (!crl || count < 0 || (count > 0 && !serials)) return kCancel;
    return guarded("TMN_UIVerbaShowCrl\n", kCancel, [&]() -> int32_t {
        UiScope scope;
        if (!scope.ok()) return kCancel;
        std::vector<std::string> list;
        list.reserve(static_cast<size_t>(count));
        for (int32_t i = 0; i < count; ++i) list.emplace_back(serials[i] ? serials[i] : "");
        CVerbaCrlSheet sheet(*crl, list, activeOwner());
        return sheetResult(runModal(sheet));
    });
}

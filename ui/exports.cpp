// The exported functions of the UI module. Each runs its dialog inside a
// UiScope (a Qt application for the call when the process has none) and
// lets no exception escape; an unexpected one goes to the trace.
#include "include/tmnui.h"

#include "cryptoui/ui_session.h"
#include "include/qzvoui.h"
#include "ui/CInitDlg.h"
#include "ui/CNotifyStatusDlg.h"
#include "ui/CResultSheet.h"
#include "ui/CUserInputDlg.h"
#include "ui/notify_entries.h"
#include "ui/ui_common.h"

#include <QApplication>
#include <QPointer>
#include <QThread>

#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

using namespace tarmin::tmnui;
using namespace tarmin::qzvoui;

namespace {

constexpr int32_t kOk = TMN_IDOK;
constexpr int32_t kCancel = TMN_IDCANCEL;
constexpr int32_t kNoDialog = -1;   // the framework's result for a dialog that cannot run
constexpr int32_t kBadRecord = 87;  // ERROR_INVALID_PARAMETER

int32_t modalResult(int result) { return result == QDialog::Accepted ? kOk : kCancel; }

// The modeless windows of TMN_UIShowUnmodalInit, and the application made
// for them in a process that had none (it lives until the last one goes).
std::vector<QPointer<CUnmodalInitWnd>> g_unmodal;
QApplication *g_unmodalApp = nullptr;
int g_argc = 1;
char g_arg0[] = "tmnui";
char *g_argv[] = {g_arg0, nullptr};

bool displayAvailable() {
    for (const char *name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
        const char *v = std::getenv(name);
        if (v && *v) return true;
    }
    return false;
}

// A GUI application on this thread that outlives the call.
bool lastingApplication() {
    if (QCoreApplication *app = QCoreApplication::instance())
        return qobject_cast<QApplication *>(app) && QThread::currentThread() == app->thread();
    if (!displayAvailable()) return false;
    g_unmodalApp = new (std::nothrow) QApplication(g_argc, g_argv);
    return g_unmodalApp != nullptr;
}

const char *kSendTexts[2][4] = {
    {"Сообщение будет отправлено в открытом виде.", "Сообщение будет отправлено в зашифрованном виде.",
     "Сообщение будет отправлено в подписанном виде.",
     "Сообщение будет отправлено в зашифрованном и подписанном виде."},
    {"Сообщение будет сохранено в открытом виде.", "Сообщение будет сохранено в зашифрованном виде.",
     "Сообщение будет сохранено в подписанном виде.", "Сообщение будет сохранено в зашифрованном и подписанном виде."},
};

} // namespace

extern "C" TMNUI_API int32_t TMN_UIShowResult(QZ_HWND owner, MhaContext *context, const ProcessResult *result) {
    if (!context || !result) return kBadRecord;
    return guarded("TMNui: TMN_UIShowResult() exception catched\n", kNoDialog, [&]() -> int32_t {
        UiScope scope;
        if (!scope.ok()) return kNoDialog;
        CResultSheet sheet(context, *result, ownerOf(owner));
        return modalResult(runModal(sheet));
    });
}

extern "C" TMNUI_API int32_t TMN_UIShowNotificationStatus(QZ_HWND owner, const TmnNotifyHeader *header,
                                                          uint32_t entriesLength, const void *entries) {
    if (!header) return kNoDialog;
    return guarded("TMN_UIShowNotificationStatus\n", kNoDialog, [&]() -> int32_t {
        auto read = readNotifyEntries(entries, entries ? entriesLength : 0, header->Recipients);
        if (!read) {
            QZ_Trace("TMN_UIShowNotificationStatus: the entries of %u recipients do not fit into %u bytes\n",
                     header->Recipients, entriesLength);
            return kNoDialog;
        }
        UiScope scope;
        if (!scope.ok()) return kNoDialog;
        CNotifyStatusDlg dialog(*header, *read, ownerOf(owner));
        return modalResult(runModal(dialog));
    });
}

extern "C" TMNUI_API int32_t TMN_UIShowInit(QZ_HWND owner, const char *text1, const char *text2, int32_t status) {
    if (status == TMN_INIT_READY) return kOk;
    return guarded("TMNui: TMN_UIShowInit() exception catched\n", kNoDialog, [&]() -> int32_t {
        UiScope scope;
        if (!scope.ok()) return kNoDialog;
        CInitDlg dialog(fromCp1251(text1), fromCp1251(text2), status, ownerOf(owner));
        return modalResult(runModal(dialog));
    });
}

extern "C" TMNUI_API QZ_HWND TMN_UIShowUnmodalInit(QZ_HWND owner, const char *text1, const char *text2, const char *text3) {
    return guarded("TMN_UIShowUnmodalInit\n", static_cast<QZ_HWND>(nullptr), [&]() -> QZ_HWND {
        if (!lastingApplication()) return nullptr;
        auto window = std::make_unique<CUnmodalInitWnd>(fromCp1251(text1), fromCp1251(text2), fromCp1251(text3),
                                                        ownerOf(owner));
        window->show();
        window->repaint(); // painted before the caller goes on with its slow work
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        g_unmodal.emplace_back(window.get());
        return static_cast<QWidget *>(window.release());
    });
}

extern "C" TMNUI_API void TMN_UIDeleteUnmodalInit(QZ_HWND handle) {
    guarded("TMN_UIDeleteUnmodalInit\n", 0, [&]() -> int {
        if (!handle) return 0;
        // Only a window of ours that still exists is destroyed.
        for (auto it = g_unmodal.begin(); it != g_unmodal.end(); ++it) {
            if (it->isNull() || static_cast<QWidget *>(it->data()) != static_cast<QWidget *>(handle)) continue;
            delete it->data();
            g_unmodal.erase(it);
            break;
        }
        std::erase_if(g_unmodal, [](const QPointer<CUnmodalInitWnd> &w) { return w.isNull(); });
        if (g_unmodal.empty() && g_unmodalApp) {
            delete g_unmodalApp;
            g_unmodalApp = nullptr;
        }
        return 0;
    });
}

extern "C" TMNUI_API int32_t TMN_UISendNotifyBox(QZ_HWND owner, uint32_t flags) {
    return guarded("TMN_UISendNotifyBox\n", kCancel, [&]() -> int32_t {
        UiScope scope;
        if (!scope.ok()) return kCancel;
        const uint32_t kind = flags & (TMN_SEND_ENCRYPTED | TMN_SEND_SIGNED);
        const QString text = QString::fromUtf8(kSendTexts[(flags & TMN_SEND_SAVED) ? 1 : 0][kind]);
        // A message going out unprotected is a warning; a protected one, news.
        uint32_t box = TMN_MB_OKCANCEL | TMN_MB_TOPMOST | (kind == 0 ? TMN_MB_ICONWARNING : TMN_MB_ICONINFORMATION);
        if (!owner) box |= TMN_MB_TASKMODAL;
        return showMessageBox(text, QStringLiteral("Система защиты"), box, ownerOf(owner)) == TMN_IDOK ? kOk : kCancel;
    });
}

extern "C" TMNUI_API int32_t GetUserInput(QZ_HWND owner, uint32_t flags, uint32_t *out) {
    if (!out) return 1;
    return guarded("GetUserInput\n", 1, [&]() -> int32_t {
        UiScope scope;
        if (!scope.ok()) return 1;
        CUserInputDlg dialog(flags, ownerOf(owner));
        if (runModal(dialog) != QDialog::Accepted) return 1;
        *out = dialog.chosenFlags();
        return 0;
    });
}

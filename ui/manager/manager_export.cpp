// TMN_UIShowManager: the suite's certificate manager over the current user's
// stores, owned by no window, opened under the wait cursor.
#include "include/tmnui.h"

#include "cryptoui/ui_session.h"
#include "ui/manager/CCertManagerDlg.h"
#include "ui/ui_common.h"

#include <QApplication>

#include <memory>

namespace {

// The wait cursor while the stores are read.
struct WaitCursor {
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor &) = delete;
    WaitCursor &operator=(const WaitCursor &) = delete;
};

} // namespace

extern "C" TMNUI_API void *TMN_UIShowManager(void) {
    return tarmin::tmnui::guarded("TMN_UIShowManager exception catched\n", static_cast<void *>(nullptr), []() -> void * {
        tarmin::qzvoui::UiScope scope;
        if (!scope.ok()) return nullptr;
        tarmin::tmnui::CertManagerModel model;
        std::unique_ptr<CCertManagerDlg> dialog;
        {
            WaitCursor wait;
            dialog = std::make_unique<CCertManagerDlg>(model, nullptr);
        }
        tarmin::qzvoui::runModal(*dialog);
        return nullptr;
    });
}

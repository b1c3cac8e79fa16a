// QZ_BrowseForFolder through the folder browser that a GUI program installs.
#include <mutex>

#include "qzcom.h"

namespace {
std::mutex g_mutex;
QZ_FOLDER_BROWSER g_browser = nullptr;
void *g_browser_user = nullptr;
} // namespace

extern "C" {

void QZ_SetFolderBrowser(QZ_FOLDER_BROWSER browser, void *user) {
    std::lock_guard guard(g_mutex);
    g_browser = browser;
    g_browser_user = user;
}

int QZ_BrowseForFolder(QZ_HWND edit, QZ_HWND parent) {
    QZ_FOLDER_BROWSER browser;
    void *user;
    {
        std::lock_guard guard(g_mutex);
        browser = g_browser;
        user = g_browser_user;
    }
    // Without a window system there is nothing to choose with.
    if (!browser) return -1;
    return browser(edit, parent, user);
}

} // extern "C"

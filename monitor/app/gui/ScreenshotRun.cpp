#include "monitor/app/gui/ScreenshotRun.h"

#include "monitor/app/gui/CMainApp.h"
#include "monitor/app/gui/CMainFrame.h"
#include "monitor/views/CLeftView.h"

#include <QApplication>
#include <QPixmap>

#include <cstdio>

namespace tarmin::monitor {

namespace {
constexpr int kShotWidth = 1280;
constexpr int kShotHeight = 720;
} // namespace

void selectInitialCategory(CMainApp &app) {
    const int category = app.commandLine().initialCategory();
    if (category > 0 && app.mainFrame()) app.mainFrame()->leftView()->selectCategory(category);
}

int runScreenshot(CMainApp &app) {
    CMainFrame *frame = app.mainFrame();
    const std::string &file = app.commandLine().screenshotFile();
    if (!frame->isMaximized()) frame->resize(kShotWidth, kShotHeight);
    selectInitialCategory(app); // the list reads the category before this returns
    QApplication::processEvents();
    const QPixmap shot = frame->grab();
    const bool saved = shot.save(QString::fromStdString(file), "PNG");
    frame->destroyWithoutSaving(); // a screenshot leaves the saved placement alone
    if (!saved) {
        std::fprintf(stderr, "tmngwmon: cannot write the screenshot to %s\n", file.c_str());
        return 1;
    }
    std::fprintf(stderr, "tmngwmon: screenshot written to %s\n", file.c_str());
    return 0;
}

} // namespace tarmin::monitor

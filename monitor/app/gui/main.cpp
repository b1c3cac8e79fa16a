// tmngwmon: the operator monitor of the gateway.
#include "monitor/app/gui/CMainApp.h"
#include "monitor/app/gui/ScreenshotRun.h"

#include <QApplication>

#include <cstring>
#include <string>
#include <vector>

int main(int argc, char **argv) {
    // "--screenshot FILE" renders the window without a display.
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], "--screenshot", 12) == 0 && !qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");

    QApplication qapp(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tmngwmon"));
    const std::vector<std::string> args(argv, argv + argc);

    tarmin::monitor::CMainApp app;
    if (!app.InitInstance(args)) {
        app.ExitInstance();
        return 1;
    }
    int rc;
    if (!app.commandLine().screenshotFile().empty()) {
        rc = tarmin::monitor::runScreenshot(app);
    } else {
        tarmin::monitor::selectInitialCategory(app);
        rc = QApplication::exec();
    }
    const int exitRc = app.ExitInstance();
    return rc != 0 ? rc : exitRc;
}

// tmngwmon: the operator monitor of the gateway.
#include "monitor/app/CMainApp.h"
#include "monitor/app/CMyCommandLineInfo.h"
#include "monitor/app/ScreenshotRun.h"
#include "tools/cli/gui_program.h"

#include <QApplication>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

int main(int argc, char **argv) {
    using tarmin::monitor::CMyCommandLineInfo;
    const std::vector<std::string> args(argv, argv + argc);
    CMyCommandLineInfo options;
    options.Parse(args);
    // What needs no window is done before any.
    if (options.helpRequested()) {
        std::fputs(CMyCommandLineInfo::usage().c_str(), stdout);
        return 0;
    }
    if (options.versionRequested()) {
        std::fputs(CMyCommandLineInfo::versionLine().c_str(), stdout);
        return 0;
    }
    if (options.screenshotWithoutFile()) {
        std::fprintf(stderr, "tmngwmon: --screenshot needs the name of the file to write\n%s",
                     CMyCommandLineInfo::usage().c_str());
        return 2;
    }
    // A mistyped option is refused rather than run past: the operator
    // would otherwise get the monitor without what was asked for.
    if (!options.unknown().empty()) {
        const std::string &first = options.unknown().front();
        const bool option = first[0] == '-' || first[0] == '/';
        std::fprintf(stderr, "tmngwmon: %s %s\n%s", option ? "unknown option" : "unexpected argument", first.c_str(),
                     CMyCommandLineInfo::usage().c_str());
        return 2;
    }
    tarmin::cli::routeQtMessages();
    // "--screenshot FILE" renders the window without a display.
    if (options.screenshotMode() && !qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    QApplication qapp(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tmngwmon"));

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

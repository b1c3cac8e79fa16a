// tmnmoncfg: the configuration program of the operator monitor.
#include "moncfg/gui/CFpconfigDlg.h"
#include "moncfg/gui/CMainApp.h"
#include "tools/cli/gui_program.h"

#include <QApplication>

#include <string>
#include <vector>

namespace {

constexpr const char *kUsage =
    "Usage: tmnmoncfg [-profile:NAME]\n"
    "Edits the settings of the Tarmin operator monitor (tmngwmon) in a window: the gateway's\n"
    "log and output directories, the address book, sender lists and distribution packets,\n"
    "the event files, receipts and repeated errors, and the settings password.\n"
    "  -profile:NAME, -profile=NAME   settings profile to edit (also /profile:NAME, /profile=NAME)\n"
    "  -h, --help                     print this text and exit\n"
    "  --version                      print the version and exit\n"
    "A second start for the same profile brings the running program's window to the front.\n";

} // namespace

int main(int argc, char **argv) {
    const std::vector<std::string> args(argv, argv + argc);
    if (auto status = tarmin::cli::screenCommandLine("tmnmoncfg", args, tarmin::cli::isProfileSwitch, kUsage,
                                                     "tmnmoncfg " TARMIN_VERSION "\n"))
        return *status;
    tarmin::cli::routeQtMessages();

    QApplication qapp(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tmnmoncfg"));

    tarmin::moncfg::CMainApp app;
    if (app.InitInstance(args)) {
        QObject::connect(app.mainDialog(), &QDialog::finished, &qapp, &QApplication::quit);
        QApplication::exec();
    }
    return app.ExitInstance();
}

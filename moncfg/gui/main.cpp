// tmnmoncfg: the configuration program of the operator monitor.
#include "moncfg/gui/CFpconfigDlg.h"
#include "moncfg/gui/CMainApp.h"

#include <QApplication>

#include <string>
#include <vector>

int main(int argc, char **argv) {
    QApplication qapp(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tmnmoncfg"));
    const std::vector<std::string> args(argv, argv + argc);

    tarmin::moncfg::CMainApp app;
    if (app.InitInstance(args)) {
        QObject::connect(app.mainDialog(), &QDialog::finished, &qapp, &QApplication::quit);
        QApplication::exec();
    }
    return app.ExitInstance();
}

// A stand-in for the configuration program in the monitor's tests. It takes
// the configuration program's single-instance socket for its profile (which
// says "idle" to every connection), notes in a log file what it was started with
// and what it was asked, may write the gateway log directory setting as an
// operator would, and exits after a given time.
//
// Environment: FAKE_TMNMONCFG_LOG (log file), FAKE_TMNMONCFG_LIFETIME (ms,
// default 500), FAKE_TMNMONCFG_LOGDIR (value written to GWMonGWLogDirectory
// of the profile just before exiting).
#include "platform/single_instance.h"
#include "qzcom.h"

#include <QCoreApplication>
#include <QFile>
#include <QTimer>

#include <string>

namespace {

void note(const QByteArray &line) {
    QFile log(qEnvironmentVariable("FAKE_TMNMONCFG_LOG"));
    if (log.open(QIODevice::Append)) log.write(line + "\n");
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    std::string profile;
    QByteArray started = "start";
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        started += " " + QByteArray(argv[i]);
        if (a.rfind("-profile=", 0) == 0) profile = a.substr(9);
    }
    note(started);

    tarmin::platform::SingleInstanceServer server;
    if (!server.listen("tmnmoncfg", profile)) {
        note("listen failed");
        return 2;
    }
    QObject::connect(&server, &tarmin::platform::SingleInstanceServer::raise_requested, [] { note("raise"); });
    const int lifetime = qEnvironmentVariableIsSet("FAKE_TMNMONCFG_LIFETIME")
                             ? qEnvironmentVariableIntValue("FAKE_TMNMONCFG_LIFETIME")
                             : 500;
    QTimer::singleShot(lifetime, &app, [&] {
        const QByteArray directory = qgetenv("FAKE_TMNMONCFG_LOGDIR");
        if (!directory.isEmpty() &&
            QZ_InitializeWithProfile("tarmin-operator", profile.c_str(), QZ_VERSION) == 0) {
            QZ_SetKeyString(QZ_GetProductKeyName(), "GWMonGWLogDirectory", directory.constData(), 0);
            QZ_Finalize();
        }
        note("exit");
        app.quit();
    });
    return app.exec();
}

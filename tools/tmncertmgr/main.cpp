// tmncertmgr: the certificate manager window (TMN_UIShowManager of tmnui)
// over the current user's certificate stores, as a desktop program: view,
// import, export and delete certificates, add revocation lists, choose the
// own certificate of a settings profile.
#include "include/qzcom.h"
#include "include/tmnui.h"
#include "tools/cli/gui_program.h"

#include <QApplication>

#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr const char *kUsage =
    "Usage: tmncertmgr [-profile:NAME]\n"
    "Opens the Tarmin certificate manager on the current user's certificate stores: own\n"
    "certificates with their keys (MY), other users (AddressBook), trusted roots (Root) and\n"
    "intermediate authorities (CA); import of DER, PEM and PKCS #12 files, export, deletion,\n"
    "revocation lists, and the own certificate the suite signs with.\n"
    "  -profile:NAME, -profile=NAME   settings profile whose own certificate is shown and set\n"
    "                                 (also /profile:NAME, /profile=NAME)\n"
    "  -h, --help                     print this text and exit\n"
    "  --version                      print the version and exit\n";

// The profile of the last profile switch, empty without one.
std::string profileOf(const std::vector<std::string> &args) {
    std::string profile;
    for (std::size_t i = 1; i < args.size(); ++i)
        if (tarmin::cli::isProfileSwitch(args[i])) profile = args[i].substr(9);
    return profile;
}

} // namespace

int main(int argc, char **argv) {
    const std::vector<std::string> args(argv, argv + argc);
    if (auto status = tarmin::cli::screenCommandLine("tmncertmgr", args, tarmin::cli::isProfileSwitch, kUsage,
                                                     "tmncertmgr " TARMIN_VERSION "\n"))
        return *status;
    tarmin::cli::routeQtMessages();

    QApplication qapp(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tmncertmgr"));
    const std::string profile = profileOf(args);
    const int rc = profile.empty() ? QZ_Initialize("tarmin-operator", QZ_VERSION)
                                   : QZ_InitializeWithProfile("tarmin-operator", profile.c_str(), QZ_VERSION);
    if (rc != 0) {
        std::fprintf(stderr, "tmncertmgr: the settings store cannot be opened (TARMIN_TRACE=- tells why)\n");
        return 1;
    }
    TMN_UIShowManager();
    QZ_Finalize();
    return 0;
}

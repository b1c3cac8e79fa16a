// tmnmoncfg_shots DIR: renders every page of the configuration window, and
// the packet dialog, into DIR as PNG files, on sample settings kept in a
// temporary settings store (the user's own settings are never read).
#include "common/codepage.h"
#include "moncfg/PageSettings.h"
#include "moncfg/gui/CAddPacket.h"
#include "moncfg/gui/CConfigPage.h"
#include "moncfg/gui/CFpconfigDlg.h"
#include "monitor/lists/ListSettings.h"
#include "qzcom.h"
#include "tools/cli/gui_program.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

using namespace tarmin;
using namespace tarmin::cp::literals;

namespace {

monitor::ListRow row(std::vector<std::string> cells, uint32_t number = 0, std::vector<std::string> nested = {}) {
    return monitor::ListRow{std::move(cells), number, std::move(nested)};
}

void writeSampleSettings() {
    const std::string product = QZ_GetProductKeyName();
    QZ_SetKeyString(product.c_str(), "GWMonOutputDirectory", "/srv/tarmin/gateway/in", 0);
    QZ_SetKeyString(product.c_str(), "GWMonGWLogDirectory", "/srv/tarmin/gateway/log", 0);
    QZ_SetKeyDword(product.c_str(), "PathsFlags", 1, 0);
    QZ_SetKeyDword(product.c_str(), "KVITFlags", 1 | 2 | 8, 0);
    QZ_SetKeyDword(product.c_str(), "MaxErrorRepeat", 5, 0);
    QZ_SetKeyDword(product.c_str(), "ErrPeriodRepeat", 60, 0);
    QZ_SetKeyString(product.c_str(), "AdmAddr", "SMTP:admin@bank.example", 0);
    monitor::saveListRows(monitor::kAddressBookLayout, product,
                          {row({"Иванов Иван Иванович"_w, "SMTP:ivanov@bank.example"}),
                           row({"Отдел отчётности"_w, "SMTP:reports@cb.example"}),
                           row({"Петрова Мария"_w, "NOTES:Petrova/Bank"})});
    monitor::saveListRows(monitor::kPacketListLayout, product,
                          {row({"1", "/srv/out/daily", "Ежедневная отчётность"_w, "*.xml", "SMTP:oper@bank.example",
                                "+", "", ""},
                               3, {"SMTP:reports@cb.example"}),
                           row({"2", "/srv/out/balance", "Баланс"_w, "*.txt", "", "", "", "+"}, 1,
                               {"SMTP:reports@cb.example", "SMTP:audit@cb.example"}),
                           row({"3", "/srv/out/misc", "", "*", "", "", "", ""}, 0, {"SMTP:ivanov@bank.example"})});
    monitor::saveListRows(monitor::kSenderListLayout, product,
                          {row({"Ежедневный"_w, "1,2"}), row({"Все"_w, "1,2,3"})});
}

} // namespace

constexpr const char *kUsage =
    "Usage: tmnmoncfg_shots DIR\n"
    "Renders every page of the configuration program, and the packet dialog, into DIR as PNG\n"
    "files, offscreen, on sample settings in a temporary settings store (the user's own\n"
    "settings are never read).\n"
    "  -h, --help   print this text and exit\n"
    "  --version    print the version and exit\n";

int main(int argc, char **argv) {
    const std::vector<std::string> args(argv, argv + argc);
    const auto isDirectory = [](const std::string &a) { return !a.empty() && a[0] != '-'; };
    if (auto status = tarmin::cli::screenCommandLine("tmnmoncfg_shots", args, isDirectory, kUsage,
                                                     "tmnmoncfg_shots " TARMIN_VERSION "\n"))
        return *status;
    if (argc != 2) {
        std::fprintf(stderr, "tmnmoncfg_shots: %s\n%s", argc < 2 ? "the directory to write is missing" : "one directory only",
                     kUsage);
        return 2;
    }
    tarmin::cli::routeQtMessages();
    const std::filesystem::path out = std::filesystem::absolute(argv[1]);
    char home[] = "/tmp/tmnmoncfg-shots-XXXXXX";
    if (!mkdtemp(home)) return 1;
    setenv("TARMIN_HOME", home, 1);
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);

    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("Тармин-Оператор"));
    int rc = 0;
    if (QZ_InitializeWithProfile("tarmin-operator", "demo", QZ_VERSION) != 0) return 1;
    writeSampleSettings();
    {
        moncfg::CFpconfigDlg dialog("demo", false);
        dialog.resize(900, 560);
        dialog.show();
        const char *names[] = {"root", "paths", "emails", "senderlists", "packets", "protocol", "notifications"};
        for (std::size_t i = 0; i < dialog.pages().size(); ++i) {
            dialog.selectPage(dialog.pages()[i].page);
            QApplication::processEvents();
            const QString file = QString::fromStdString((out / ("moncfg-" + std::string(names[i]) + ".png")).string());
            if (!dialog.grab().save(file, "PNG")) rc = 1;
        }
        moncfg::CConfigPage *packets = dialog.page(175);
        const monitor::ListLoad rows = monitor::loadListRows(monitor::kPacketListLayout, QZ_GetProductKeyName());
        moncfg::CAddPacket packet(rows.rows, 0, packets);
        packet.setRow(rows.rows.front());
        packet.show();
        QApplication::processEvents();
        if (!packet.grab().save(QString::fromStdString((out / "moncfg-packet-dialog.png").string()), "PNG")) rc = 1;
    }
    QZ_Finalize();
    std::filesystem::remove_all(home);
    std::fprintf(stderr, "tmnmoncfg_shots: %s\n", rc == 0 ? "written" : "some pictures could not be written");
    return rc;
}

#include "tools/cli/gui_program.h"

#include "qzcom.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <cstdlib>

namespace tarmin::cli {

std::optional<int> screenCommandLine(std::string_view program, const std::vector<std::string> &args,
                                     const std::function<bool(const std::string &)> &recognised,
                                     std::string_view usage, std::string_view version, std::FILE *out,
                                     std::FILE *err) {
    const std::string name(program);
    std::optional<std::string> refused;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string &a = args[i];
        if (a == "--help" || a == "-h") {
            std::fwrite(usage.data(), 1, usage.size(), out);
            return 0;
        }
        if (a == "--version") {
            std::fwrite(version.data(), 1, version.size(), out);
            return 0;
        }
        if (!refused && !recognised(a)) refused = a;
    }
    if (!refused) return std::nullopt;
    const bool option = !refused->empty() && (refused->front() == '-' || refused->front() == '/');
    std::fprintf(err, "%s: %s %s\n", name.c_str(), option ? "unknown option" : "unexpected argument",
                 refused->c_str());
    std::fwrite(usage.data(), 1, usage.size(), err);
    return 2;
}

bool isProfileSwitch(std::string_view arg) {
    for (std::string_view sw : {"-profile:", "/profile:", "-profile=", "/profile="})
        if (arg.starts_with(sw)) return true;
    return false;
}

namespace {

// The last notes that were not shown: a failure that ends the program is
// explained by them ("could not connect to display" comes as a warning
// before the fatal "no Qt platform plugin could be initialized").
constexpr int kKeptNotes = 4;
QByteArray g_notes[kKeptNotes];
int g_noteCount = 0;

void qtMessage(QtMsgType type, const QMessageLogContext &, const QString &text) {
    const QByteArray bytes = text.toLocal8Bit();
    if (type == QtCriticalMsg || type == QtFatalMsg) {
        const int first = g_noteCount > kKeptNotes ? g_noteCount - kKeptNotes : 0;
        for (int i = first; i < g_noteCount; ++i) std::fprintf(stderr, "%s\n", g_notes[i % kKeptNotes].constData());
        g_noteCount = 0;
        std::fprintf(stderr, "%s\n", bytes.constData());
        return;
    }
    const char *trace = std::getenv("TARMIN_TRACE");
    if (trace && *trace) {
        QZ_Trace("Qt: %s\n", bytes.constData());
        return;
    }
    g_notes[g_noteCount % kKeptNotes] = bytes;
    ++g_noteCount;
}

} // namespace

void routeQtMessages() { qInstallMessageHandler(qtMessage); }

} // namespace tarmin::cli

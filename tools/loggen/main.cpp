// loggen: gateway log generator for tests, benchmarks and the demo.
#include "tools/loggen/LogGenerator.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <getopt.h>
#include <stdexcept>
#include <string>

using tarmin::loggen::Options;

namespace {

std::atomic<bool> g_stop{false};

void onSignal(int) { g_stop.store(true); }

const char kHelp[] =
    "Usage: loggen --dir DIR [options]\n"
    "\n"
    "Writes gateway log files into DIR: errors (tarmin-gw_*.csv), inbound messages\n"
    "and receipts (tmnrecv_*.csv), outgoing messages (tmnsent_*.csv). Every file\n"
    "starts with a header line; texts are Windows-1251; file names carry the time of\n"
    "the first line and a sequence number. A history is written first, spread over\n"
    "the last DAYS days; with --follow the families then grow in real time.\n"
    "The same options and seed (and --end) give the same bytes.\n"
    "\n"
    "History:\n"
    "  --dir DIR              directory of the log files (created when missing)\n"
    "  --days N               days of history up to the end time (default 3; may be\n"
    "                         fractional; 0 puts the whole history at the end time)\n"
    "  --end TIME             end of the history: seconds since 1970 or\n"
    "                         \"dd/mm/yyyy hh:mm:ss\" local time (default now)\n"
    "  --outgoing N           outgoing messages (default 1000)\n"
    "  --inbound N            inbound messages besides receipts (default 500)\n"
    "  --errors N             errors log records (default 300)\n"
    "  --families LIST        families to write, comma list of err,in,out (default all)\n"
    "  --rotate-lines N       new file every N lines of a family (default 0: off)\n"
    "  --rotate-hours H       new file whenever the log time enters a new period of\n"
    "                         H hours (default 24; 0: off)\n"
    "  --interleave K         write each family into K files at once, consecutive\n"
    "                         lines taking turns, so that their lines interleave in\n"
    "                         time (default 1)\n"
    "  --error-codes N        distinct codes in the errors log, a few of them\n"
    "                         repeating often (default 8)\n"
    "  --error-percent P      messages with an error result code (default 5)\n"
    "  --receipts OK,ER       percent of the recipients of a protected, successfully\n"
    "                         sent message that return an \"OK\" / \"ER\" receipt; the\n"
    "                         others never answer (default 85,5)\n"
    "  --receipt-delay A:B    delay of a receipt after sending, seconds (default 60:5400)\n"
    "  --separator C          field separator (default ,)\n"
    "  --seed S               random seed (default 1)\n"
    "  --no-header            files without a header line\n"
    "  --crlf                 \"\\r\\n\" line ends\n"
    "\n"
    "Follow mode:\n"
    "  --follow RATE          after the history, append RATE lines per second (all\n"
    "                         families; receipts come when due) until SIGINT/SIGTERM;\n"
    "                         each open file is held under an advisory lock and\n"
    "                         written a whole line at a time\n"
    "  --duration SEC         stop following after SEC seconds\n"
    "  --follow-rotate-lines N   new file every N lines (default: --rotate-lines)\n"
    "  --follow-rotate-seconds N new file every N seconds (default 3600; 0: off)\n"
    "\n"
    "  --quiet                no summary on standard output\n"
    "  --help                 this text\n"
    "  --version              the version\n"
    "\n"
    "Summary: one line per family, \"<prefix>: F files, L lines, B bytes\", and the\n"
    "number of receipts.\n";

uint64_t number(const char *option, const char *text) {
    char *end = nullptr;
    errno = 0;
    unsigned long long v = std::strtoull(text, &end, 10);
    if (errno || !end || *end || !*text || *text == '-')
        throw std::invalid_argument(std::string("invalid value for ") + option + ": " + text);
    return v;
}

double decimal(const char *option, const char *text) {
    char *end = nullptr;
    double v = std::strtod(text, &end);
    if (!end || *end || !*text || v < 0) throw std::invalid_argument(std::string("invalid value for ") + option + ": " + text);
    return v;
}

unsigned percent(const char *option, const char *text) {
    uint64_t v = number(option, text);
    if (v > 100) throw std::invalid_argument(std::string("invalid percentage for ") + option + ": " + text);
    return static_cast<unsigned>(v);
}

std::time_t endTime(const char *text) {
    int d, m, y, H, M, S;
    char rest;
    if (std::sscanf(text, "%d/%d/%d %d:%d:%d%c", &d, &m, &y, &H, &M, &S, &rest) == 6) {
        std::tm tm{};
        tm.tm_mday = d;
        tm.tm_mon = m - 1;
        tm.tm_year = y - 1900;
        tm.tm_hour = H;
        tm.tm_min = M;
        tm.tm_sec = S;
        tm.tm_isdst = -1;
        return std::mktime(&tm);
    }
    return static_cast<std::time_t>(number("--end", text));
}

void families(Options &o, const std::string &list) {
    o.withErrors = o.withInbound = o.withOutgoing = false;
    std::size_t pos = 0;
    while (pos <= list.size()) {
        std::size_t comma = list.find(',', pos);
        std::string f = list.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
        if (f == "err") o.withErrors = true;
        else if (f == "in") o.withInbound = true;
        else if (f == "out") o.withOutgoing = true;
        else throw std::invalid_argument("unknown family: " + f + " (err, in, out)");
        if (comma == std::string::npos) break;
        pos = comma + 1;
    }
}

void pairOf(const char *option, const char *text, char between, unsigned &a, unsigned &b) {
    const char *mid = std::strchr(text, between);
    if (!mid) throw std::invalid_argument(std::string("invalid value for ") + option + ": " + text);
    std::string first(text, mid);
    a = static_cast<unsigned>(number(option, first.c_str()));
    b = static_cast<unsigned>(number(option, mid + 1));
}

} // namespace

int main(int argc, char **argv) {
    enum {
        kDir = 1000, kDays, kEnd, kOutgoing, kInbound, kErrors, kFamilies, kRotateLines, kRotateHours, kInterleave,
        kErrorCodes, kErrorPercent, kReceipts, kReceiptDelay, kSeparator, kSeed, kNoHeader, kCrlf, kFollow,
        kDuration, kFollowRotateLines, kFollowRotateSeconds, kQuiet, kHelpOption, kVersionOption
    };
    static const option longOptions[] = {
        {"dir", required_argument, nullptr, kDir},
        {"days", required_argument, nullptr, kDays},
        {"end", required_argument, nullptr, kEnd},
        {"outgoing", required_argument, nullptr, kOutgoing},
        {"inbound", required_argument, nullptr, kInbound},
        {"errors", required_argument, nullptr, kErrors},
        {"families", required_argument, nullptr, kFamilies},
        {"rotate-lines", required_argument, nullptr, kRotateLines},
        {"rotate-hours", required_argument, nullptr, kRotateHours},
        {"interleave", required_argument, nullptr, kInterleave},
        {"error-codes", required_argument, nullptr, kErrorCodes},
        {"error-percent", required_argument, nullptr, kErrorPercent},
        {"receipts", required_argument, nullptr, kReceipts},
        {"receipt-delay", required_argument, nullptr, kReceiptDelay},
        {"separator", required_argument, nullptr, kSeparator},
        {"seed", required_argument, nullptr, kSeed},
        {"no-header", no_argument, nullptr, kNoHeader},
        {"crlf", no_argument, nullptr, kCrlf},
        {"follow", required_argument, nullptr, kFollow},
        {"duration", required_argument, nullptr, kDuration},
        {"follow-rotate-lines", required_argument, nullptr, kFollowRotateLines},
        {"follow-rotate-seconds", required_argument, nullptr, kFollowRotateSeconds},
        {"quiet", no_argument, nullptr, kQuiet},
        {"help", no_argument, nullptr, kHelpOption},
        {"version", no_argument, nullptr, kVersionOption},
        {nullptr, 0, nullptr, 0},
    };

    Options o;
    bool quiet = false;
    try {
        int c;
        opterr = 0;
        while ((c = getopt_long(argc, argv, "", longOptions, nullptr)) != -1) {
            std::string optionName = "--";
            for (const option &lo : longOptions)
                if (lo.name && lo.val == c) optionName += lo.name;
            const char *name = optionName.c_str();
            switch (c) {
            case kDir: o.dir = optarg; break;
            case kDays: o.days = decimal(name, optarg); break;
            case kEnd: o.end = endTime(optarg); break;
            case kOutgoing: o.outgoing = number(name, optarg); break;
            case kInbound: o.inbound = number(name, optarg); break;
            case kErrors: o.errors = number(name, optarg); break;
            case kFamilies: families(o, optarg); break;
            case kRotateLines: o.rotateLines = number(name, optarg); break;
            case kRotateHours: o.rotateHours = decimal(name, optarg); break;
            case kInterleave:
                o.interleave = static_cast<unsigned>(number(name, optarg));
                if (o.interleave == 0 || o.interleave > 10000) throw std::invalid_argument("--interleave: 1 to 10000");
                break;
            case kErrorCodes: o.errorCodes = static_cast<unsigned>(std::max<uint64_t>(1, number(name, optarg))); break;
            case kErrorPercent: o.errorPercent = percent(name, optarg); break;
            case kReceipts:
                pairOf(name, optarg, ',', o.receiptOkPercent, o.receiptErPercent);
                if (o.receiptOkPercent + o.receiptErPercent > 100)
                    throw std::invalid_argument("--receipts: OK and ER add up to more than 100");
                break;
            case kReceiptDelay:
                pairOf(name, optarg, ':', o.receiptDelayMin, o.receiptDelayMax);
                if (o.receiptDelayMax < o.receiptDelayMin) throw std::invalid_argument("--receipt-delay: A > B");
                break;
            case kSeparator:
                if (std::strlen(optarg) != 1 || *optarg == '\n' || *optarg == '\r' || *optarg == ';')
                    throw std::invalid_argument("--separator: one character other than a line end or \";\"");
                o.separator = *optarg;
                break;
            case kSeed: o.seed = number(name, optarg); break;
            case kNoHeader: o.header = false; break;
            case kCrlf: o.crlf = true; break;
            case kFollow: o.followRate = decimal(name, optarg); break;
            case kDuration: o.duration = decimal(name, optarg); break;
            case kFollowRotateLines: o.followRotateLines = number(name, optarg); break;
            case kFollowRotateSeconds: o.followRotateSeconds = decimal(name, optarg); break;
            case kQuiet: quiet = true; break;
            case kHelpOption: std::fputs(kHelp, stdout); return 0;
            case kVersionOption: std::fputs("loggen " TARMIN_VERSION "\n", stdout); return 0;
            default:
                std::fprintf(stderr, "loggen: unknown or incomplete option: %s\n%s",
                             optind > 0 ? argv[optind - 1] : "?", kHelp);
                return 2;
            }
        }
        if (optind < argc) throw std::invalid_argument(std::string("unexpected argument: ") + argv[optind]);
        if (o.dir.empty()) throw std::invalid_argument("--dir is required");
    } catch (const std::exception &e) {
        std::fprintf(stderr, "loggen: %s\nTry 'loggen --help'.\n", e.what());
        return 2;
    }

    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    try {
        tarmin::loggen::Stats s = tarmin::loggen::generate(o, g_stop);
        if (!quiet) {
            auto line = [](const char *prefix, const tarmin::loggen::FamilyStats &f) {
                std::printf("%s: %llu files, %llu lines, %llu bytes\n", prefix, static_cast<unsigned long long>(f.files),
                            static_cast<unsigned long long>(f.lines), static_cast<unsigned long long>(f.bytes));
            };
            if (o.withErrors) line("tarmin-gw", s.errors);
            if (o.withInbound) line("tmnrecv", s.inbound);
            if (o.withOutgoing) line("tmnsent", s.outgoing);
            std::printf("receipts: %llu\n", static_cast<unsigned long long>(s.receipts));
        }
    } catch (const std::exception &e) {
        std::fprintf(stderr, "loggen: %s\n", e.what());
        return 1;
    }
    return 0;
}

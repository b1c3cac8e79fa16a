// tmngwd: the gateway host. Takes jobs from its output directory, sends them
// as S/MIME messages to the peer gateway, receives messages and receipts,
// and writes the logs the monitor reads. See README.md.
#include "gateway/Gateway.h"

#include "common/codepage.h"
#include "include/qzcom.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <getopt.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

std::atomic<bool> g_stop{false};

void onSignal(int) { g_stop.store(true); }

const char kHelp[] =
    "Usage: tmngwd --spool DIR --peer DIR --address ADDR [options]\n"
    "\n"
    "Runs a gateway for one profile and home (TARMIN_HOME, or --home): takes the\n"
    "job directories that appear in its output directory, builds S/MIME messages\n"
    "as their protection lines say and delivers them into the peer gateway's\n"
    "inbox; decodes and verifies what arrives in its own inbox, hands the content\n"
    "to its mailbox and returns a receipt (\"OK\" or \"ER\") to the sender's gateway;\n"
    "writes the logs tarmin-gw_*.csv, tmnsent_*.csv and tmnrecv_*.csv.\n"
    "\n"
    "  --spool DIR        the gateway's directories: DIR/out (jobs), DIR/inbox\n"
    "                     (Maildir), DIR/mailbox, DIR/logs, DIR/state\n"
    "  --peer DIR         the peer gateway's spool: messages go to DIR/inbox\n"
    "  --address ADDR     own address, the sender of receipts and of jobs\n"
    "                     without \"From:\"\n"
    "  --name NAME        name in message identifiers (default: the address's\n"
    "                     part before \"@\")\n"
    "  --out DIR          job output directory instead of DIR/out (the monitor's\n"
    "                     GWMonOutputDirectory)\n"
    "  --logs DIR         log directory instead of DIR/logs\n"
    "  --profile NAME     profile of the settings (default: none)\n"
    "  --home DIR         TARMIN_HOME of this gateway (default: the environment's)\n"
    "  --poll-ms N        pause between passes without work (default 200)\n"
    "  --once             stop after the first pass that finds no work\n"
    "  --no-sync          do not fsync files before renaming them into place\n"
    "                     (a crash of the process still loses nothing; a crash of\n"
    "                     the machine may)\n"
    "  --tamper-subject T flip one byte in transit of every message whose job\n"
    "                     subject contains T (to show a damaged message)\n"
    "  --help             this text\n"
    "  --version          the version\n"
    "\n"
    "SIGTERM or SIGINT: the message in hand is finished, then the gateway exits.\n"
    "Exit status: 0 stopped, 1 could not start, 2 usage error.\n";

int usage(const char *message) {
    std::fprintf(stderr, "tmngwd: %s\nTry 'tmngwd --help'.\n", message);
    return 2;
}

} // namespace

int main(int argc, char **argv) {
    // First of all: a stop asked for during start-up is a clean stop too.
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);

    enum { kSpool = 1, kPeer, kAddress, kName, kOut, kLogs, kProfile, kHome, kPoll, kOnce, kNoSync, kTamper, kHelpOpt, kVersion };
    static const option longOptions[] = {
        {"spool", required_argument, nullptr, kSpool},   {"peer", required_argument, nullptr, kPeer},
        {"address", required_argument, nullptr, kAddress}, {"name", required_argument, nullptr, kName},
        {"out", required_argument, nullptr, kOut},       {"logs", required_argument, nullptr, kLogs},
        {"profile", required_argument, nullptr, kProfile}, {"home", required_argument, nullptr, kHome},
        {"poll-ms", required_argument, nullptr, kPoll},  {"once", no_argument, nullptr, kOnce},
        {"no-sync", no_argument, nullptr, kNoSync},      {"tamper-subject", required_argument, nullptr, kTamper},
        {"help", no_argument, nullptr, kHelpOpt},        {"version", no_argument, nullptr, kVersion},
        {nullptr, 0, nullptr, 0}};
    std::string spool, peer, out, logs, profile;
    tarmin::gateway::GatewayOptions o;
    long pollMs = 200;
    bool once = false;
    opterr = 0;
    for (int c; (c = getopt_long(argc, argv, "", longOptions, nullptr)) != -1;) {
        switch (c) {
        case kSpool: spool = optarg; break;
        case kPeer: peer = optarg; break;
        case kAddress: o.address = optarg; break;
        case kName: o.name = optarg; break;
        case kOut: out = optarg; break;
        case kLogs: logs = optarg; break;
        case kProfile: profile = optarg; break;
        case kHome: ::setenv("TARMIN_HOME", optarg, 1); break;
        case kPoll: {
            char *end = nullptr;
            pollMs = std::strtol(optarg, &end, 10);
            if (!*optarg || *end || pollMs < 1 || pollMs > 60000) return usage("--poll-ms takes 1 to 60000");
            break;
        }
        case kOnce: once = true; break;
        case kNoSync: o.sync = false; break;
        case kTamper: o.tamperSubject = tarmin::cp::utf8_to_cp1251(optarg); break;
        case kHelpOpt: std::fputs(kHelp, stdout); return 0;
        case kVersion: std::printf("tmngwd %s\n", TARMIN_VERSION); return 0;
        default: return usage((std::string("unknown or incomplete option ") + argv[optind - 1]).c_str());
        }
    }
    if (optind < argc) return usage((std::string("unexpected argument ") + argv[optind]).c_str());
    if (spool.empty() || peer.empty() || o.address.empty()) return usage("--spool, --peer and --address are required");
    if (o.name.empty()) o.name = o.address.substr(0, o.address.find('@'));
    if (!tarmin::gateway::safeId(o.name) || o.name.find('.') != std::string::npos)
        return usage("--name may hold letters, digits, \"-\" and \"_\" only");
    o.outDir = out.empty() ? spool + "/out" : out;
    o.logDir = logs.empty() ? spool + "/logs" : logs;
    o.inboxDir = spool + "/inbox";
    o.mailboxDir = spool + "/mailbox";
    o.stateDir = spool + "/state";

    if (::mkdir(spool.c_str(), 0750) != 0 && errno != EEXIST) {
        std::fprintf(stderr, "tmngwd: cannot create %s: %s\n", spool.c_str(), std::strerror(errno));
        return 1;
    }
    ::mkdir(o.stateDir.c_str(), 0750);
    // One gateway per spool: a second one would take the same jobs.
    const std::string lockPath = o.stateDir + "/tmngwd.lock";
    int lockFd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (lockFd < 0 || ::flock(lockFd, LOCK_EX | LOCK_NB) != 0) {
        std::fprintf(stderr, "tmngwd: another gateway runs on %s (or %s cannot be locked)\n", spool.c_str(),
                     lockPath.c_str());
        return 1;
    }

    if (QZ_InitializeWithProfile("tarmin-operator", profile.empty() ? nullptr : profile.c_str(), QZ_VERSION) != 0) {
        std::fprintf(stderr, "tmngwd: the common services cannot be initialised (TARMIN_HOME, profile)\n");
        return 1;
    }
    int status = 0;
    {
        tarmin::gateway::MaildirTransport transport(peer + "/inbox", o.sync);
        ::mkdir(peer.c_str(), 0750);
        if (!tarmin::gateway::makeMaildir(peer + "/inbox")) {
            std::fprintf(stderr, "tmngwd: the peer's inbox %s/inbox cannot be used: %s\n", peer.c_str(),
                         std::strerror(errno));
            QZ_Finalize();
            return 1;
        }
        tarmin::gateway::Gateway gateway(o, transport);
        std::string why;
        if (!gateway.open(why)) {
            std::fprintf(stderr, "tmngwd: %s\n", why.c_str());
            status = 1;
        } else {
            while (!g_stop.load()) {
                if (gateway.runOnce(g_stop).total() > 0) continue;
                if (once) break;
                for (long waited = 0; waited < pollMs && !g_stop.load(); waited += 20)
                    std::this_thread::sleep_for(std::chrono::milliseconds(std::min(20L, pollMs - waited)));
            }
        }
    }
    QZ_Finalize();
    return status;
}

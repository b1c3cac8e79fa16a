// tmngw-traffic: a traffic source for a gateway. Writes message jobs into the
// gateway's output directory with the monitor's own job writer (attachments
// signed at the workstation with the profile's own certificate, as the
// signing wizard does), some of them to recipients without a certificate
// and some marked to be damaged in transit.
#include "monitor/jobs/GatewayJob.h"

#include "common/codepage.h"
#include "include/qzcom.h"
#include "include/qzms.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <getopt.h>
#include <random>
#include <unistd.h>
#include <string>
#include <vector>

namespace {

const char kHelp[] =
    "Usage: tmngw-traffic --out DIR --to ADDR [options]\n"
    "\n"
    "Writes COUNT message jobs into the gateway output directory DIR with the\n"
    "monitor's job writer, each with attachments signed at the workstation\n"
    "(TMNSIGN.TMS) with the own certificate of the profile. DIR becomes the\n"
    "profile's setting GWMonOutputDirectory, as the configuration program would\n"
    "set it. Prints one line per job: its number, subject and attachment names.\n"
    "\n"
    "  --out DIR            the gateway's output directory\n"
    "  --to ADDR            recipient (repeatable)\n"
    "  --from ADDR          sender address (\"From:\"; default none)\n"
    "  --count N            jobs to write (default 10)\n"
    "  --attachments N      attachments per job (default 1)\n"
    "  --size BYTES         size of each attachment (default 10240)\n"
    "  --protection P       sign, crypt or both (default both)\n"
    "  --no-cert-every K    every K-th job goes to --no-cert-to instead (default 0)\n"
    "  --no-cert-to ADDR    a recipient without a certificate (default\n"
    "                       nobody@nowhere.test)\n"
    "  --tamper-every K     every K-th job's subject ends in \" [tamper]\": a gateway\n"
    "                       started with --tamper-subject \"[tamper]\" damages it\n"
    "  --seed S             seed of the attachment contents (default 1)\n"
    "  --work DIR           where the attachment sources are made (default: a\n"
    "                       directory under the system's temporary directory)\n"
    "  --profile NAME       profile of the settings\n"
    "  --help, --version\n";

int usage(const std::string &message) {
    std::fprintf(stderr, "tmngw-traffic: %s\nTry 'tmngw-traffic --help'.\n", message.c_str());
    return 2;
}

bool number(const char *text, unsigned long &out) {
    char *end = nullptr;
    errno = 0;
    out = std::strtoul(text, &end, 10);
    return *text && !*end && !errno && *text != '-';
}

} // namespace

int main(int argc, char **argv) {
    enum { kOut = 1, kTo, kFrom, kCount, kAttach, kSize, kProtection, kNoCertEvery, kNoCertTo, kTamper, kSeed, kWork, kProfile, kHelp_, kVersion };
    static const option longOptions[] = {
        {"out", required_argument, nullptr, kOut},           {"to", required_argument, nullptr, kTo},
        {"from", required_argument, nullptr, kFrom},         {"count", required_argument, nullptr, kCount},
        {"attachments", required_argument, nullptr, kAttach}, {"size", required_argument, nullptr, kSize},
        {"protection", required_argument, nullptr, kProtection},
        {"no-cert-every", required_argument, nullptr, kNoCertEvery},
        {"no-cert-to", required_argument, nullptr, kNoCertTo}, {"tamper-every", required_argument, nullptr, kTamper},
        {"seed", required_argument, nullptr, kSeed},         {"work", required_argument, nullptr, kWork},
        {"profile", required_argument, nullptr, kProfile},   {"help", no_argument, nullptr, kHelp_},
        {"version", no_argument, nullptr, kVersion},         {nullptr, 0, nullptr, 0}};
    std::string out, from, protection = "both", noCertTo = "nobody@nowhere.test", work, profile;
    std::vector<std::string> to;
    unsigned long count = 10, attachments = 1, size = 10240, noCertEvery = 0, tamperEvery = 0, seed = 1;
    opterr = 0;
    for (int c; (c = getopt_long(argc, argv, "", longOptions, nullptr)) != -1;) {
        unsigned long *n = nullptr;
        switch (c) {
        case kOut: out = optarg; break;
        case kTo: to.push_back(optarg); break;
        case kFrom: from = optarg; break;
        case kCount: n = &count; break;
        case kAttach: n = &attachments; break;
        case kSize: n = &size; break;
        case kProtection: protection = optarg; break;
        case kNoCertEvery: n = &noCertEvery; break;
        case kNoCertTo: noCertTo = optarg; break;
        case kTamper: n = &tamperEvery; break;
        case kSeed: n = &seed; break;
        case kWork: work = optarg; break;
        case kProfile: profile = optarg; break;
        case kHelp_: std::fputs(kHelp, stdout); return 0;
        case kVersion: std::printf("tmngw-traffic %s\n", TARMIN_VERSION); return 0;
        default: return usage(std::string("unknown or incomplete option ") + argv[optind - 1]);
        }
        if (n && !number(optarg, *n)) return usage(std::string("not a number: ") + optarg);
    }
    if (optind < argc) return usage(std::string("unexpected argument ") + argv[optind]);
    if (out.empty() || to.empty()) return usage("--out and --to are required");
    if (protection != "sign" && protection != "crypt" && protection != "both")
        return usage("--protection takes sign, crypt or both");
    if (size == 0 && attachments) return usage("--size must be at least 1 (a job writer cannot map an empty file)");

    if (QZ_InitializeWithProfile("tarmin-operator", profile.empty() ? nullptr : profile.c_str(), QZ_VERSION) != 0) {
        std::fprintf(stderr, "tmngw-traffic: the common services cannot be initialised\n");
        return 1;
    }
    std::error_code ec;
    std::filesystem::create_directories(out, ec);
    QZ_SetKeyString(QZ_GetProductKeyName(), "GWMonOutputDirectory", tarmin::cp::utf8_to_cp1251(out).c_str(), 1);
    if (work.empty()) work = (std::filesystem::temp_directory_path() / ("tmngw-traffic-" + std::to_string(::getpid()))).string();
    std::filesystem::create_directories(work, ec);

    // The workstation's signing context, as the signing wizard opens it.
    CapiContext *capi = nullptr;
    PCCERT_CONTEXT own = nullptr;
    SignerSerial *serial = nullptr;
    char *signer = nullptr;
    if (CCA_create_context(&capi) != 0 || CCA_init(capi) != 0 || CCA_get_my_cert(capi, &own, &serial) != 0 ||
        CCA_get_name_cert(capi, own, &signer) != 0) {
        QZ_ShowReports(nullptr, 1);
        std::fprintf(stderr, "tmngw-traffic: the own certificate cannot be opened\n");
        CCA_close_context(capi);
        QZ_Finalize();
        return 1;
    }
    std::mt19937_64 rng(seed);
    int status = 0;
    for (unsigned long i = 1; i <= count; ++i) {
        tarmin::monitor::GatewayJob job;
        job.subject = tarmin::cp::utf8_to_cp1251("Сообщение №" + std::to_string(i));
        if (tamperEvery && i % tamperEvery == 0) job.subject += " [tamper]";
        job.from = from;
        job.signOnGateway = protection != "crypt";
        job.encryptOnGateway = protection != "sign";
        job.recipients = noCertEvery && i % noCertEvery == 0 ? std::vector<std::string>{noCertTo} : to;
        job.body = tarmin::cp::utf8_to_cp1251("Текст сообщения №" + std::to_string(i) + "\n");
        std::string names;
        for (unsigned long a = 1; a <= attachments; ++a) {
            const std::string name = "вложение-" + std::to_string(i) + "-" + std::to_string(a) + ".bin";
            const std::string path = work + "/" + name;
            std::string data(size, '\0');
            for (char &c : data) c = static_cast<char>(rng());
            std::ofstream(path, std::ios::binary).write(data.data(), static_cast<std::streamsize>(data.size()));
            job.attachments.push_back(path);
            names += (names.empty() ? "" : ";") + name;
        }
        job.signAtWorkstation = !job.attachments.empty();
        job.context = capi;
        job.ownCert = own;
        job.signerName = signer;
        if (tarmin::monitor::WriteGatewayJob(job) != tarmin::monitor::kJobWritten) {
            std::fprintf(stderr, "tmngw-traffic: job %lu was not written\n", i);
            status = 1;
            break;
        }
        for (const std::string &p : job.attachments) std::filesystem::remove(p, ec);
        std::printf("%lu %s %s\n", i, tarmin::cp::cp1251_to_utf8(job.subject).c_str(), names.c_str());
    }
    std::filesystem::remove_all(work, ec);
    CCA_free(capi, signer);
    CCA_serial_free(capi, serial);
    CCA_cert_free(capi, own);
    CCA_final(capi);
    CCA_close_context(capi);
    QZ_Finalize();
    return status;
}

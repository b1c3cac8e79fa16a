// Two gateways run as processes (ours with the operator's certificate, the
// partner with alice's), the jobs written into ours by the monitor's job
// writer, and the counts read back from their logs, mailboxes and spools.
// Shared by the gateway tests and the benchmarks in bench/.
#pragma once

#include "common/codepage.h"
#include "include/qzcom.h"
#include "include/qzms.h"
#include "monitor/jobs/GatewayJob.h"

#include <dirent.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char **environ;

namespace tarmin::gwtest {

namespace fs = std::filesystem;

inline std::string readAll(const fs::path &p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Starts a program with TARMIN_HOME set, its output appended to `output`.
inline pid_t spawnWithHome(const fs::path &home, const std::vector<std::string> &argv, const fs::path &output) {
    std::fflush(nullptr); // a child must not write this process's buffered output again
    pid_t pid = fork();
    if (pid == 0) {
        ::setenv("TARMIN_HOME", home.c_str(), 1);
        if (std::freopen(output.c_str(), "a", stdout)) ::dup2(::fileno(stdout), 2);
        std::vector<char *> args;
        for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    return pid;
}

// Runs a program with TARMIN_HOME set; its exit status (-1 when it did not run).
inline int runWithHome(const fs::path &home, const std::vector<std::string> &argv, const fs::path &output) {
    pid_t pid = spawnWithHome(home, argv, output);
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct Pair {
    fs::path bin, source;
    fs::path ourHome, partnerHome, ourSpool, partnerSpool;
    std::vector<std::string> extraArgs; // for both gateways

    // Both homes from one test PKI (gateway/setup-pair.sh). Our home must be
    // the TARMIN_HOME of this process when jobs are written here.
    bool setUp(const fs::path &root) {
        ourSpool = root / "org";
        partnerSpool = root / "partner";
        if (ourHome.empty()) ourHome = root / "our-home";
        partnerHome = root / "partner-home";
        fs::create_directories(root);
        return runWithHome(ourHome, {"/bin/sh", (source / "gateway/setup-pair.sh").string(), ourHome.string(),
                                     partnerHome.string(), bin.string()},
                           root / "setup.log") == 0;
    }

    pid_t start(bool our) const {
        std::vector<std::string> argv = {(bin / "tmngwd").string(), "--spool",
                                         (our ? ourSpool : partnerSpool).string(), "--peer",
                                         (our ? partnerSpool : ourSpool).string(), "--address",
                                         our ? "operator@tarmin.test" : "alice@tarmin.test", "--poll-ms", "20"};
        argv.insert(argv.end(), extraArgs.begin(), extraArgs.end());
        fs::create_directories(our ? ourSpool : partnerSpool);
        const pid_t pid = spawnWithHome(our ? ourHome : partnerHome, argv, (our ? ourSpool : partnerSpool) / "tmngwd.out");
        return pid;
    }
};

// Sends a signal and waits; the exit status, or 128 + the signal.
inline int stop(pid_t pid, int sig) {
    ::kill(pid, sig);
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// The records of a log family: every line after each file's header, split
// at ",", Windows-1251.
inline std::vector<std::vector<std::string>> records(const fs::path &logDir, const std::string &prefix) {
    std::vector<std::vector<std::string>> out;
    std::vector<fs::path> files;
    std::error_code ec;
    for (const auto &e : fs::directory_iterator(logDir, ec))
        if (e.path().filename().string().rfind(prefix + "_", 0) == 0) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    for (const fs::path &f : files) {
        std::istringstream lines(readAll(f));
        std::string line;
        std::getline(lines, line); // header
        while (std::getline(lines, line)) {
            std::vector<std::string> fields;
            size_t pos = 0;
            for (size_t c; (c = line.find(',', pos)) != std::string::npos; pos = c + 1) fields.push_back(line.substr(pos, c - pos));
            fields.push_back(line.substr(pos));
            out.push_back(fields);
        }
    }
    return out;
}

inline size_t entryCount(const fs::path &dir) {
    size_t n = 0;
    std::error_code ec;
    for (auto it = fs::directory_iterator(dir, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) ++n;
    return n;
}

// Writes message jobs into an output directory with the monitor's job
// writer, attachments signed at the workstation with the own certificate of
// this process's home (the common services must be initialised).
class JobSource {
public:
    explicit JobSource(const fs::path &outputDirectory, const fs::path &sources)
        : m_sources(sources) {
        fs::create_directories(outputDirectory);
        fs::create_directories(sources);
        QZ_SetKeyString(QZ_GetProductKeyName(), "GWMonOutputDirectory", outputDirectory.c_str(), 1);
        m_ok = CCA_create_context(&m_capi) == 0 && CCA_init(m_capi) == 0 &&
               CCA_get_my_cert(m_capi, &m_own, &m_serial) == 0 && CCA_get_name_cert(m_capi, m_own, &m_signer) == 0;
    }
    ~JobSource() {
        CCA_free(m_capi, m_signer);
        CCA_serial_free(m_capi, m_serial);
        CCA_cert_free(m_capi, m_own);
        CCA_final(m_capi);
        CCA_close_context(m_capi);
        QZ_ClearReports(3);
    }
    bool ok() const { return m_ok; }

    // One job; attachments are (UTF-8 file name, content). True when written.
    bool write(const std::string &subject, const std::vector<std::string> &recipients,
               const std::vector<std::pair<std::string, std::string>> &attachments, bool sign, bool crypt,
               const std::string &body = "") {
        monitor::GatewayJob job;
        job.subject = subject;
        job.recipients = recipients;
        job.signOnGateway = sign;
        job.encryptOnGateway = crypt;
        job.body = body;
        for (const auto &[name, data] : attachments) {
            const fs::path p = m_sources / name;
            std::ofstream(p, std::ios::binary).write(data.data(), static_cast<std::streamsize>(data.size()));
            job.attachments.push_back(p.string());
        }
        job.signAtWorkstation = !attachments.empty();
        job.context = m_capi;
        job.ownCert = m_own;
        job.signerName = m_signer ? m_signer : "";
        return monitor::WriteGatewayJob(job) == monitor::kJobWritten;
    }

private:
    fs::path m_sources;
    CapiContext *m_capi = nullptr;
    PCCERT_CONTEXT m_own = nullptr;
    SignerSerial *m_serial = nullptr;
    char *m_signer = nullptr;
    bool m_ok = false;
};

// Bytes that differ from job to job.
inline std::string content(uint64_t seed, size_t n) {
    std::mt19937_64 rng(seed);
    std::string s(n, '\0');
    for (char &c : s) c = static_cast<char>(rng());
    return s;
}

// What a run of both gateways left behind.
struct Counts {
    size_t sentLines = 0, sentIds = 0, sentErrors = 0;
    size_t receiptLines = 0, receiptIds = 0, receiptHashes = 0, receiptsOk = 0, receiptsEr = 0;
    size_t partnerInboundLines = 0, partnerInboundIds = 0;
    size_t mailbox = 0, workLeft = 0, failed = 0, outLeft = 0, inboxLeft = 0;
    // Receipts whose hash is not the hash of a sent message.
    size_t receiptsForUnknownHash = 0;
};

inline Counts count(const Pair &p) {
    Counts c;
    std::set<std::string> ids, hashes, sentHashes;
    for (const auto &r : records(p.ourSpool / "logs", "tmnsent")) {
        c.sentLines++;
        if (r.size() > 5) {
            ids.insert(r[3]);
            if (r[4] == "0") sentHashes.insert(r[5]);
            else c.sentErrors++;
        }
    }
    c.sentIds = ids.size();
    ids.clear();
    for (const auto &r : records(p.ourSpool / "logs", "tmnrecv")) {
        if (r.size() < 11 || r[6].empty()) continue;
        c.receiptLines++;
        ids.insert(r[3]);
        hashes.insert(r[5]);
        (r[6] == "OK" ? c.receiptsOk : c.receiptsEr)++;
        if (!sentHashes.count(r[5])) c.receiptsForUnknownHash++;
    }
    c.receiptIds = ids.size();
    c.receiptHashes = hashes.size();
    ids.clear();
    for (const auto &r : records(p.partnerSpool / "logs", "tmnrecv")) {
        c.partnerInboundLines++;
        if (r.size() > 3) ids.insert(r[3]);
    }
    c.partnerInboundIds = ids.size();
    c.mailbox = 0;
    std::error_code ec;
    for (const auto &e : fs::directory_iterator(p.partnerSpool / "mailbox", ec))
        if (e.path().filename().string()[0] != '.') c.mailbox++;
    c.workLeft = entryCount(p.ourSpool / "out/.work");
    c.failed = entryCount(p.ourSpool / "out/failed");
    c.inboxLeft = entryCount(p.ourSpool / "inbox/new") + entryCount(p.partnerSpool / "inbox/new");
    c.outLeft = 0;
    for (const auto &e : fs::directory_iterator(p.ourSpool / "out", ec)) {
        const std::string n = e.path().filename().string();
        if (n[0] != '.' && n != "failed") c.outLeft++;
    }
    return c;
}

inline std::string describe(const Counts &c) {
    std::ostringstream s;
    s << "sent lines " << c.sentLines << " (ids " << c.sentIds << ", errors " << c.sentErrors << "), receipts "
      << c.receiptLines << " (ids " << c.receiptIds << ", hashes " << c.receiptHashes << ", OK " << c.receiptsOk
      << ", ER " << c.receiptsEr << ", unknown hash " << c.receiptsForUnknownHash << "), partner inbound "
      << c.partnerInboundLines << " (ids " << c.partnerInboundIds << "), mailbox " << c.mailbox << ", left: work "
      << c.workLeft << ", out " << c.outLeft << ", inbox " << c.inboxLeft << ", failed " << c.failed;
    return s.str();
}

// Waits until `done` holds or the time is up; false on time-out.
template <class F> bool waitFor(F done, double seconds) {
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

// The kill run: `jobs` jobs to alice, written `perKill` at a time while the
// gateways run; after each group, a pause of minPauseMs to maxPauseMs and a
// SIGKILL to one of the two gateways (pause and gateway drawn from `seed`),
// which is started again at once. Then both run on undisturbed until every
// receipt is in (at most settleSeconds).
struct KillRun {
    Counts counts;
    unsigned kills[2] = {0, 0};
    bool written = false, finished = false;
    int exitOur = -1, exitPartner = -1;
    double seconds = 0;
};

inline KillRun killRun(Pair &p, JobSource &source, unsigned jobs, unsigned perKill, uint64_t seed,
                       double settleSeconds, unsigned minPauseMs, unsigned maxPauseMs) {
    KillRun run;
    std::mt19937_64 rng(seed);
    pid_t pids[2] = {p.start(true), p.start(false)};
    const auto begin = std::chrono::steady_clock::now();
    auto done = [&] {
        Counts c = count(p);
        return c.receiptIds >= jobs && c.workLeft == 0 && c.outLeft == 0 && c.inboxLeft == 0;
    };
    run.written = true;
    for (unsigned i = 0; i < jobs && run.written; i += perKill) {
        for (unsigned j = i; j < std::min(jobs, i + perKill); ++j)
            run.written = run.written &&
                          source.write(cp::utf8_to_cp1251("Задание " + std::to_string(j)), {"alice@tarmin.test"},
                                       {{"a" + std::to_string(j) + ".bin", content(seed + j, 512 + j % 97)}}, true, true);
        std::this_thread::sleep_for(std::chrono::milliseconds(minPauseMs + rng() % (maxPauseMs - minPauseMs + 1)));
        int which = static_cast<int>(rng() % 2);
        stop(pids[which], SIGKILL);
        run.kills[which]++;
        pids[which] = p.start(which == 0);
    }
    run.finished = run.written && waitFor(done, settleSeconds);
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    // A gateway started a moment ago may not have set up its signal handler
    // yet: give the last one started time to get there.
    std::this_thread::sleep_for(std::chrono::seconds(1));
    run.exitOur = stop(pids[0], SIGTERM);
    run.exitPartner = stop(pids[1], SIGTERM);
    run.counts = count(p);
    return run;
}

} // namespace tarmin::gwtest

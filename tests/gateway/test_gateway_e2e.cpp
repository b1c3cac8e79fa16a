// Both gateways as processes: jobs from the monitor's job writer go through
// ours to the partner and come back confirmed; what the partner's mailbox
// holds, what both logs say and what the monitor's log reader and receipt
// tracking make of our logs are checked against the jobs.
#include "gateway_harness.h"
#include "testsupport.h"

#include "gateway/Gateway.h"
#include "monitor/alerts/ReceiptStore.h"
#include "monitor/jobs/AlertJobs.h"
#include "monitor/logs/GWRecords.h"
#include "monitor/logs/vfiles.h"

#include <gtest/gtest.h>

using namespace tarmin;
using namespace tarmin::gwtest;
using namespace tarmin::cp::literals;

namespace {

struct Expected {
    std::string subject; // Windows-1251
    std::vector<std::pair<std::string, std::string>> attachments;
    bool sign, crypt;
};

// The partner's mailbox entry whose message has this subject.
fs::path mailboxEntry(const fs::path &mailbox, const std::string &subject) {
    for (const auto &e : fs::directory_iterator(mailbox)) {
        std::string text = readAll(e.path() / "message.txt");
        if (text.find("Subject: " + subject + "\r\n") != std::string::npos) return e.path();
        if (readAll(e.path() / "message.eml").find(subject) != std::string::npos) return e.path();
    }
    return {};
}

// The decoded bytes of every line of a message that is all base64 letters.
std::string base64Lines(const std::string &message) {
    static const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::istringstream lines(message);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line.find_first_not_of(alphabet + "=") != std::string::npos) continue;
        uint32_t bits = 0;
        int have = 0;
        for (char ch : line) {
            if (ch == '=') break;
            bits = (bits << 6) | static_cast<uint32_t>(alphabet.find(ch));
            if ((have += 6) >= 8) out += static_cast<char>((bits >> (have -= 8)) & 0xFF);
        }
    }
    return out;
}

size_t occurrences(const std::string &text, const std::string &what) {
    size_t n = 0;
    for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
    return n;
}

const std::vector<std::string> *lineWith(const std::vector<std::vector<std::string>> &lines, size_t field,
                                         const std::string &value) {
    for (const auto &l : lines)
        if (l.size() > field && l[field] == value) return &l;
    return nullptr;
}

// Both homes, made once for the test program; ours is the test home.
class GatewayEndToEnd : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        p.bin = test::built_program("tmngwd").parent_path();
        p.source = test::source_dir();
        p.ourHome = test::home();
        p.extraArgs = {"--tamper-subject", "[tamper]", "--no-sync"};
        root = test::make_temp_dir("pair");
        ready = p.setUp(root) && QZ_Initialize("tarmin-operator", QZ_VERSION) == 0;
    }
    static void TearDownTestSuite() { QZ_Finalize(); }
    void SetUp() override { ASSERT_TRUE(ready) << readAll(root / "setup.log"); }
    static inline Pair p;
    static inline fs::path root;
    static inline bool ready = false;
};

TEST_F(GatewayEndToEnd, JobsTravelBothWaysAndTheMonitorSeesTheSameCounts) {
    QZ_SetKeyDword(QZ_GetProductKeyName(), "PathsFlags", 0, 1);
    const fs::path out = p.ourSpool / "out";
    JobSource source(out, root / "sources");
    ASSERT_TRUE(source.ok());

    const std::vector<Expected> delivered = {
        {"Отчёт за месяц"_w, {{"отчёт.pdf", content(1, 20000)}, {"data.xml", "<a>1</a>\r\n"}}, true, true},
        {"Только подпись"_w, {{"scan.jpg", content(2, 3000)}}, true, false},
        {"Только шифрование"_w, {{"letter.doc", content(3, 777)}}, false, true},
    };
    for (const Expected &e : delivered)
        ASSERT_TRUE(source.write(e.subject, {"Alice (alice@tarmin.test)"}, e.attachments, e.sign, e.crypt,
                                 "Добрый день!\n"_w));
    const std::string tampered = "Повреждено в пути [tamper]"_w, noCert = "Без сертификата"_w;
    ASSERT_TRUE(source.write(tampered, {"alice@tarmin.test"}, {{"t.bin", content(4, 5000)}}, true, true));
    ASSERT_TRUE(source.write(noCert, {"nobody@nowhere.test"}, {{"n.bin", "x"}}, true, true));
    // An alert of the monitor: plain, the lower-case dialect.
    ASSERT_FALSE(monitor::SendMailAboutOverdue(out.string() + "/", "alice@tarmin.test", 120, "Letter", "10:00:00",
                                               "01/01/2026", "ABCDEF0123456789ABCD")
                     .empty());
    // Jobs the gateway cannot read: a broken information file, an attachment
    // that is a link to a file outside.
    fs::create_directories(out / "broken");
    test::write_file(out / "broken/tmninfo.txt", "garbage without a key\r\n");
    fs::create_directories(out / "linked");
    fs::create_symlink("/etc/passwd", out / "linked/passwd");
    test::write_file(out / "linked/tmninfo.txt", "Subject:x\r\nEmail:alice@tarmin.test\r\n");

    pid_t our = p.start(true), partner = p.start(false);
    const bool settled = waitFor(
        [&] {
            Counts c = count(p);
            return c.receiptLines >= 4 && c.failed >= 3 && c.mailbox >= 4 && c.inboxLeft == 0 && c.workLeft == 0;
        },
        120);
    EXPECT_EQ(stop(our, SIGTERM), 0);
    EXPECT_EQ(stop(partner, SIGTERM), 0);
    Counts c = count(p);
    ASSERT_TRUE(settled) << describe(c) << "\n" << readAll(p.ourSpool / "tmngwd.out")
                         << readAll(p.partnerSpool / "tmngwd.out");
    EXPECT_EQ(c.sentLines, 6u) << describe(c); // every job but the two unreadable ones
    EXPECT_EQ(c.sentIds, 6u);
    EXPECT_EQ(c.sentErrors, 1u); // no certificate: logged as sent with the error
    EXPECT_EQ(c.receiptLines, 4u);
    EXPECT_EQ(c.receiptIds, 4u);
    EXPECT_EQ(c.receiptsOk, 3u);
    EXPECT_EQ(c.receiptsEr, 1u);
    EXPECT_EQ(c.receiptsForUnknownHash, 0u);
    EXPECT_EQ(c.mailbox, 4u); // three messages and the alert
    EXPECT_EQ(c.failed, 3u);

    const auto sent = records(p.ourSpool / "logs", "tmnsent");
    const auto receipts = records(p.ourSpool / "logs", "tmnrecv");
    for (const Expected &e : delivered) {
        SCOPED_TRACE(cp::cp1251_to_utf8(e.subject));
        const fs::path box = mailboxEntry(p.partnerSpool / "mailbox", e.subject);
        ASSERT_FALSE(box.empty());
        for (const auto &[name, data] : e.attachments) EXPECT_EQ(readAll(box / "attachments" / name), data) << name;
        const std::string status = readAll(box / "status.txt"), detail = readAll(box / "result.txt");
        EXPECT_NE(status.find(std::string("Decrypt-Status: ") + (e.crypt ? "0" : "-1")), std::string::npos) << status;
        EXPECT_NE(status.find(std::string("Sign-Status: ") + (e.sign ? "0" : "-1")), std::string::npos) << status;
        if (e.sign) {
            // Every attachment's signature verified, none failed.
            EXPECT_GE(occurrences(detail, "Статус проверки подписи вложения: УСПЕШНО"_w), e.attachments.size());
            EXPECT_EQ(occurrences(detail, "Статус проверки подписи вложения: "_w),
                      occurrences(detail, "Статус проверки подписи вложения: УСПЕШНО"_w));
            EXPECT_EQ(occurrences(status, "Attachment-Signer-Status: 0"), occurrences(status, "Attachment-Signer-Status:"));
        }
        // One receipt, "OK" from alice, against the hash this message was sent with.
        const auto *line = lineWith(sent, 7, e.subject);
        ASSERT_TRUE(line);
        EXPECT_EQ((*line)[4], "0");
        EXPECT_EQ((*line)[9], e.sign && e.crypt ? "3" : e.sign ? "2" : "1");
        size_t found = 0;
        for (const auto &r : receipts)
            if (r[5] == (*line)[5]) {
                ++found;
                EXPECT_EQ(r[6], "OK");
                EXPECT_EQ(r[7], "alice@tarmin.test");
            }
        EXPECT_EQ(found, 1u);
    }

    // The damaged message: "ER" back against its hash, an error line and an
    // inbound line with the error's code at the partner.
    const auto *damaged = lineWith(sent, 7, tampered);
    ASSERT_TRUE(damaged);
    const auto *er = lineWith(receipts, 5, (*damaged)[5]);
    ASSERT_TRUE(er);
    EXPECT_EQ((*er)[6], "ER");
    const auto partnerInbound = records(p.partnerSpool / "logs", "tmnrecv");
    const auto *inbound = lineWith(partnerInbound, 3, (*damaged)[3]);
    ASSERT_TRUE(inbound);
    EXPECT_NE((*inbound)[4], "0");
    bool errorLine = false;
    for (const auto &l : records(p.partnerSpool / "logs", "tarmin-gw"))
        errorLine |= l.size() > 5 && l[3] == "err" && l[5].find((*damaged)[3]) != std::string::npos;
    EXPECT_TRUE(errorLine);

    // No certificate: sent with an error code, an error line naming the
    // address, the job kept in "failed" with its reason.
    const auto *failedLine = lineWith(sent, 7, noCert);
    ASSERT_TRUE(failedLine);
    EXPECT_EQ((*failedLine)[4], "E00F0007");
    bool named = false;
    for (const auto &l : records(p.ourSpool / "logs", "tarmin-gw"))
        named |= l.size() > 5 && l[5].find("nobody@nowhere.test") != std::string::npos;
    EXPECT_TRUE(named);
    size_t reasons = 0;
    for (const auto &e : fs::directory_iterator(p.ourSpool / "out/failed"))
        reasons += fs::exists(e.path() / ".tmngwd/reason");
    EXPECT_EQ(reasons, 3u);

    // The alert went out unprotected and arrived as it was sent.
    const auto *alert = lineWith(sent, 7, "notification overdue");
    ASSERT_TRUE(alert);
    EXPECT_EQ((*alert)[9], "0");
    size_t plain = 0;
    for (const auto &e : fs::directory_iterator(p.partnerSpool / "mailbox"))
        if (fs::exists(e.path() / "message.eml")) {
            ++plain;
            EXPECT_NE(base64Lines(readAll(e.path() / "message.eml")).find("hash=ABCDEF0123456789ABCD"), std::string::npos);
        }
    EXPECT_EQ(plain, 1u);

    // The monitor's reader: the same records.
    const std::string logDir = (p.ourSpool / "logs").string() + "/";
    size_t outRecords = 0, receiptRecords = 0;
    for (auto [kind, prefix] : {std::pair{monitor::LogKind::Outgoing, "tmnsent"}, {monitor::LogKind::Inbound, "tmnrecv"}}) {
        monitor::vfiles files;
        ASSERT_EQ(files.load(logDir.c_str(), prefix, 0), 0);
        char buffer[4096];
        while (char *l = files.fgets(buffer, sizeof buffer)) {
            std::string_view line(l);
            if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
            auto record = monitor::parseRecord(kind, line, ',');
            ASSERT_TRUE(record) << line;
            if (kind == monitor::LogKind::Outgoing) ++outRecords;
            else if (!static_cast<const monitor::CInRecord &>(*record).notificationResult().empty()) ++receiptRecords;
        }
    }
    EXPECT_EQ(outRecords, c.sentLines);
    EXPECT_EQ(receiptRecords, c.receiptLines);
    // Receipt tracking: only the damaged message still waits, with "ER".
    monitor::MonitorContext context;
    context.logDirectory = logDir;
    monitor::ReceiptStore store(context);
    store.runBatch(1000);
    while (store.catchUpPending()) store.runBatch(1000);
    EXPECT_EQ(store.size(), 1u);
    const monitor::PendingMessage *waiting = store.find((*damaged)[5]);
    ASSERT_TRUE(waiting);
    ASSERT_EQ(waiting->recipientCount(), 1u);
    EXPECT_EQ(waiting->recipientStatus(0), "ER");
}

// A transport that refuses a number of deliveries before it lets them
// through to a Maildir.
class RefusingTransport : public gateway::Transport {
public:
    RefusingTransport(std::string inbox, int refusals) : m_maildir(std::move(inbox), false), m_refusals(refusals) {}
    bool deliver(const std::string &id, const std::string &file, std::string &why) override {
        ++calls;
        if (m_refusals-- > 0) {
            why = "connection refused";
            return false;
        }
        return m_maildir.deliver(id, file, why);
    }
    int calls = 0;

private:
    gateway::MaildirTransport m_maildir;
    int m_refusals;
};

TEST_F(GatewayEndToEnd, FailedDeliveriesOfMessagesAndReceiptsAreTriedAgainAfterAPause) {
    const fs::path spool = test::make_temp_dir("inproc");
    const fs::path peer = spool / "peer";
    ASSERT_TRUE(gateway::makeMaildir(peer.string()));
    gateway::GatewayOptions o{"org", "operator@tarmin.test", (spool / "out").string(), (spool / "state").string(),
                              (spool / "inbox").string(), (spool / "mailbox").string(), (spool / "logs").string(),
                              false, ""};
    RefusingTransport transport(peer.string(), 2);
    gateway::Gateway gw(o, transport);
    std::string why;
    ASSERT_TRUE(gw.open(why)) << why;
    std::time_t now = std::time(nullptr);
    gw.log().now = [&] { return now; };
    JobSource source(spool / "out", spool / "sources");
    ASSERT_TRUE(source.write("Retry"_w, {"alice@tarmin.test"}, {{"r.bin", content(9, 100)}}, true, true));
    const std::atomic<bool> go{false}, stopped{true};

    EXPECT_EQ(gw.runOnce(stopped).total(), 0u); // a stop before anything is taken
    EXPECT_EQ(entryCount(spool / "out/.work"), 0u);
    gw.runOnce(go);
    EXPECT_EQ(transport.calls, 1);
    EXPECT_EQ(entryCount(spool / "out/.work"), 1u);
    gw.runOnce(go); // within the pause: not tried
    EXPECT_EQ(transport.calls, 1);
    now += 6;
    gw.runOnce(go); // refused again; the pause doubles
    EXPECT_EQ(transport.calls, 2);
    now += 6;
    gw.runOnce(go);
    EXPECT_EQ(transport.calls, 2);
    now += 5;
    gw.runOnce(go);
    EXPECT_EQ(transport.calls, 3);
    EXPECT_EQ(entryCount(spool / "out/.work"), 0u);
    EXPECT_EQ(entryCount(peer / "new"), 1u);
    const auto errors = records(spool / "logs", "tarmin-gw");
    ASSERT_EQ(errors.size(), 2u);
    for (const auto &e : errors) {
        EXPECT_EQ(e[4], "E00F0002");
        EXPECT_NE(e[5].find("connection refused"), std::string::npos);
    }
    const auto sent = records(spool / "logs", "tmnsent");
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0][7], "Retry"_w);

    // The receiving side (a second gateway of this home: the sender's own
    // certificate is among the recipients of every encrypted message) cannot
    // send the receipt at first: the message stays in its inbox, unlogged,
    // until the receipt has gone out; then it is logged and taken once.
    const fs::path back = spool / "back";
    ASSERT_TRUE(gateway::makeMaildir(back.string()));
    gateway::GatewayOptions r{"rcv", "alice@tarmin.test", (spool / "r-out").string(), (spool / "r-state").string(),
                              peer.string(), (spool / "r-mailbox").string(), (spool / "r-logs").string(), false, ""};
    RefusingTransport receipts(back.string(), 1);
    gateway::Gateway receiver(r, receipts);
    ASSERT_TRUE(receiver.open(why)) << why;
    receiver.log().now = [&] { return now; };
    receiver.runOnce(go);
    EXPECT_EQ(receipts.calls, 1);
    EXPECT_EQ(entryCount(peer / "new"), 1u);
    EXPECT_EQ(entryCount(spool / "r-mailbox"), 1u); // handed over already
    EXPECT_TRUE(records(spool / "r-logs", "tmnrecv").empty());
    receiver.runOnce(go); // within the pause
    EXPECT_EQ(receipts.calls, 1);
    now += 6;
    receiver.runOnce(go);
    receiver.runOnce(go);
    EXPECT_EQ(receipts.calls, 2);
    EXPECT_EQ(entryCount(peer / "new"), 0u);
    EXPECT_EQ(entryCount(back / "new"), 1u);
    EXPECT_EQ(entryCount(spool / "r-mailbox"), 1u);
    const auto inbound = records(spool / "r-logs", "tmnrecv");
    ASSERT_EQ(inbound.size(), 1u);
    EXPECT_EQ(inbound[0][5], sent[0][5]);
    const auto receiverErrors = records(spool / "r-logs", "tarmin-gw");
    ASSERT_EQ(receiverErrors.size(), 1u);
    EXPECT_EQ(receiverErrors[0][4], "E00F0002");
}

} // namespace

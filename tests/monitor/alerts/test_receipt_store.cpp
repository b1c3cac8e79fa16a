// Receipt tracking fed from gateway logs written here: which sendings are
// tracked, receipts per recipient, the overdue report (once, also across a
// restart) and the batch limit that holds the receipts back until the
// outgoing log has been read.
#include "testsupport.h"

#include "monitor/alerts/ReceiptStore.h"
#include "monitor/logs/CNotifRecord.h"
#include "qzcom.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>

using namespace tarmin::monitor;
using namespace tarmin::test;
namespace fs = std::filesystem;

namespace {

const std::string kOutHeader = "Date,Time,Id,Host,Code,Hash,Recipients,Subject,Attachments,Protection\n";
const std::string kInHeader = "Date,Time,Id,Host,Code,Hash,Notification,Address,Subject,Attachments,Protection\n";

std::string outLine(const std::string &hash, const std::string &recipients, const std::string &code = "0",
                    const std::string &protection = "1", long secondsAgo = 60, const std::string &subject = "Plan") {
    auto [date, time] = local_date_time(secondsAgo);
    return date + "," + time + ",1,gw," + code + "," + hash + "," + recipients + "," + subject + ",a.txt;b.doc," +
           protection + "\n";
}

std::string receipt(const std::string &hash, const std::string &result, const std::string &address) {
    auto [date, time] = local_date_time(30);
    return date + "," + time + ",1,gw,0," + hash + "," + result + "," + address + ",Re: Plan,,1\n";
}

std::string lower(std::string text) {
    for (char &c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::vector<std::string> statuses(const PendingMessage *m) {
    std::vector<std::string> out;
    if (m)
        for (std::size_t i = 0; i < m->recipientCount(); ++i)
            out.push_back(std::string(m->recipientAddress(i)) + "=" + std::string(m->recipientStatus(i)));
    return out;
}

class ReceiptStoreTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        setenv("TEMP", make_temp_dir("temp").c_str(), 1);
        ASSERT_EQ(QZ_Initialize("tarmin-operator", QZ_VERSION), 0);
    }
    static void TearDownTestSuite() { QZ_Finalize(); }
    void SetUp() override {
        QZ_DeleteKey(key(), 0);
        logs = make_temp_dir("gwlogs");
        context.logDirectory = logs.string() + "/";
        QZ_ClearReports(3);
        QZ_SetReportPresenter(&ReceiptStoreTest::present, this);
    }
    void TearDown() override {
        QZ_SetReportPresenter(nullptr, nullptr);
        QZ_ClearReports(3);
    }
    static const char *key() { return QZ_GetProductKeyName(); }
    static void setNumber(const char *name, uint32_t v) { ASSERT_EQ(QZ_SetKeyDword(key(), name, v, 0), 0); }
    static void setText(const char *name, const std::string &v) {
        ASSERT_EQ(QZ_SetKeyString(key(), name, v.c_str(), 0), 0);
    }
    void append(const std::string &name, const std::string &header, const std::vector<std::string> &lines) {
        const fs::path p = logs / name;
        const bool fresh = !fs::exists(p);
        std::ofstream out(p, std::ios::binary | std::ios::app);
        if (fresh) out << header;
        for (const std::string &l : lines) out << l;
    }
    void sent(const std::vector<std::string> &lines) { append("tmnsent-1.csv", kOutHeader, lines); }
    void received(const std::vector<std::string> &lines) { append("tmnrecv-1.csv", kInHeader, lines); }

    // The events reported since the last call, as texts.
    std::vector<std::string> takeEvents() {
        events.clear();
        QZ_ShowReports(nullptr, 1);
        return events;
    }
    // A notifications reading: the rows and the overdue check of each.
    std::vector<std::string> read(ReceiptStore &store) {
        std::vector<std::string> hashes;
        for (const auto &row : store.pendingMessages()) {
            store.checkOverdue(*row);
            hashes.emplace_back(row->hash());
        }
        return hashes;
    }
    static void present(QZ_HWND, int, const QZ_REPORT *list, size_t count, void *user) {
        auto *self = static_cast<ReceiptStoreTest *>(user);
        for (size_t i = 0; i < count; ++i)
            self->events.push_back(std::to_string(list[i].code) + ":" + list[i].text);
    }

    fs::path logs;
    MonitorContext context;
    std::vector<std::string> events;
};

} // namespace

TEST_F(ReceiptStoreTest, ReceiptsPerRecipientUntilEveryoneConfirmed) {
    setNumber("PathsFlags", 1);
    setNumber("AnalyzeNday", 2);
    sent({outLine("A0", "x@y.ru", "0", "0"),          // unprotected
          outLine("A1", "x@y.ru", "E0030001", "1"),   // failed
          outLine("A2", "x@y.ru", "0", "2", 2 * 86400), // outside the two-day window
          outLine("ab12", "Ivanov@X.ru;;petrov@x.ru", "0", "3", 86400)});
    ReceiptStore store(context);
    store.runBatch(1000);
    EXPECT_FALSE(store.catchUpPending());
    ASSERT_EQ(store.size(), 1u);
    const PendingMessage *m = store.find("AB12");
    ASSERT_TRUE(m);
    EXPECT_EQ(m->hash(), "AB12");
    EXPECT_EQ(m->protection(), "3");
    ASSERT_EQ(m->attachmentCount(), 2u);
    EXPECT_EQ(m->attachment(0), "a.txt");
    EXPECT_EQ(m->attachment(1), "b.doc");
    EXPECT_EQ(statuses(m), (std::vector<std::string>{"ivanov@x.ru=WAIT", "petrov@x.ru=WAIT"}));
    auto rows = store.pendingMessages();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0]->hash(), "AB12");
    EXPECT_EQ(rows[0]->subject(), "Plan");
    EXPECT_EQ(rows[0]->date(), local_date_time(86400).first);

    // The first recipient confirms; a receipt for a hash nobody waits for and
    // one from an address that is not a recipient change nothing.
    received({receipt("ab12", "OK", "IVANOV@x.ru"), receipt("FFFF", "OK", "petrov@x.ru"),
              receipt("AB12", "OK", "sidorov@x.ru")});
    store.runBatch(1000);
    EXPECT_EQ(statuses(store.find("AB12")), (std::vector<std::string>{"ivanov@x.ru=OK", "petrov@x.ru=WAIT"}));

    // A failed check keeps the message waiting with that result.
    received({receipt("AB12", "ER", "petrov@x.ru")});
    store.runBatch(1000);
    EXPECT_EQ(statuses(store.find("AB12")), (std::vector<std::string>{"ivanov@x.ru=OK", "petrov@x.ru=ER"}));

    received({receipt("AB12", "ok", "petrov@x.ru")});
    store.runBatch(1000);
    EXPECT_EQ(store.size(), 0u);
    EXPECT_EQ(store.find("AB12"), nullptr);
    EXPECT_TRUE(store.pendingMessages().empty());
}

TEST_F(ReceiptStoreTest, OverdueAfterTheTimeoutReportedOnceAlsoAfterRestart) {
    const fs::path out = make_temp_dir("out");
    setNumber("KVITFlags", 7);
    setNumber("KvitTimeout", 120);
    setText("AdmAddr", "admin@bank.ru");
    setText("GWMonOutputDirectory", out.string());
    sent({outLine("0123456789ABCDEF0123", "a@x.ru", "0", "1", 121 * 60, "Late"),
          outLine("FEDC", "a@x.ru", "0", "1", 119 * 60, "Early")});

    ReceiptStore store(context);
    store.runBatch(1000);
    EXPECT_EQ(read(store), (std::vector<std::string>{"0123456789ABCDEF0123", "FEDC"}));
    std::vector<std::string> reported = takeEvents();
    ASSERT_EQ(reported.size(), 1u);
    EXPECT_EQ(reported[0].rfind(std::to_string(0xE00E0002) + ":", 0), 0u) << reported[0];
    EXPECT_NE(reported[0].find("'Late'"), std::string::npos);
    EXPECT_TRUE(reported[0].ends_with(" hash=0123456789ABCDEF0123")) << reported[0];
    const std::vector<std::string> jobs = names_in(out);
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_TRUE(jobs[0].ends_with("0123456789ABCDEF")) << jobs[0];
    EXPECT_NE(read_file(out / jobs[0] / "tmninfo.txt").find("email:admin@bank.ru"), std::string::npos);

    // The next reading does not report it again.
    read(store);
    EXPECT_TRUE(takeEvents().empty());
    EXPECT_EQ(names_in(out).size(), 1u);

    // A restart that found the hash in the event files stays quiet.
    ReceiptStore restarted(context);
    restarted.addReportedHashes({"0123456789abcdef0123"});
    restarted.runBatch(1000);
    read(restarted);
    EXPECT_TRUE(takeEvents().empty());

    // Without bit 2 the report is made but no job is written.
    setNumber("KVITFlags", 3);
    ReceiptStore fresh(context);
    fresh.runBatch(1000);
    read(fresh);
    EXPECT_EQ(takeEvents().size(), 1u);
    EXPECT_EQ(names_in(out).size(), 1u);

    // A sending time that is no calendar time counts as overdue.
    EXPECT_TRUE(ReceiptStore::isOverdue("30/02/2026", "10:00:00", 120, std::time(nullptr)));
    EXPECT_TRUE(ReceiptStore::isOverdue("01/02/2026", "24:00:00", 120, std::time(nullptr)));
}

TEST_F(ReceiptStoreTest, ReceiptsWaitUntilTheOutgoingLogIsRead) {
    // 1005 sendings whose hashes come in no order, and receipts for three of them.
    std::vector<std::string> lines;
    std::vector<std::string> hashes;
    for (int i = 0; i < 1005; ++i) {
        char hash[16];
        std::snprintf(hash, sizeof hash, "H%04X", (i * 7919) % 1005);
        hashes.push_back(hash);
        lines.push_back(outLine(hash, "a@x.ru"));
    }
    sent(lines);
    received({receipt(hashes[0], "OK", "a@x.ru"), receipt(lower(hashes[500]), "OK", "a@x.ru"),
              receipt(hashes[1004], "OK", "a@x.ru")});

    ReceiptStore store(context);
    store.runBatch(1000);
    EXPECT_TRUE(store.catchUpPending());
    EXPECT_EQ(store.size(), 1000u);
    EXPECT_TRUE(store.find(hashes[0]));

    store.runBatch(1000);
    EXPECT_FALSE(store.catchUpPending());
    EXPECT_EQ(store.size(), 1002u);
    for (int i : {0, 500, 1004}) EXPECT_FALSE(store.find(hashes[i])) << hashes[i];
    for (int i : {1, 499, 501, 1003}) EXPECT_TRUE(store.find(hashes[i])) << hashes[i];
    // The rows keep the order of sending.
    auto rows = store.pendingMessages();
    ASSERT_EQ(rows.size(), 1002u);
    EXPECT_EQ(rows.front()->hash(), hashes[1]);
    EXPECT_EQ(rows.back()->hash(), hashes[1003]);

    // A full batch of receipts keeps the catch-up going.
    std::vector<std::string> many(1000, receipt("NONE", "OK", "a@x.ru"));
    received(many);
    store.runBatch(1000);
    EXPECT_TRUE(store.catchUpPending());
    store.runBatch(1000);
    EXPECT_FALSE(store.catchUpPending());
}

TEST_F(ReceiptStoreTest, MessagesWithOneHashComeTogetherOldestFirst) {
    sent({outLine("DD", "d@x.ru"), outLine("CC", "first@x.ru"), outLine("BB", "b@x.ru"), outLine("cc", "second@x.ru")});
    ReceiptStore store(context);
    store.runBatch(1000);
    std::vector<std::string> found;
    for (const PendingMessage *m : store.messagesWithHash("Cc"))
        for (const std::string &s : statuses(m)) found.push_back(s);
    EXPECT_EQ(found, (std::vector<std::string>{"first@x.ru=WAIT", "second@x.ru=WAIT"}));
    EXPECT_TRUE(store.messagesWithHash("C").empty());
}

// Many messages, some sharing a hash, and receipts in every order: what waits
// and with which statuses matches a plain model of the rules, also after the
// store has dropped the messages gone many times over.
TEST_F(ReceiptStoreTest, LargeBacklogAgreesWithAPlainModel) {
    struct Model {
        std::string hash;
        std::vector<std::pair<std::string, std::string>> recipients;
        bool gone = false;
    };
    std::vector<Model> model;
    std::map<std::string, std::vector<std::size_t>> byHash;
    std::vector<std::string> sentLines, receiptLines;
    uint64_t seed = 12345;
    auto next = [&] { return seed = seed * 6364136223846793005ull + 1442695040888963407ull, seed >> 33; };
    for (int i = 0; i < 30000; ++i) {
        char hash[24];
        // About one hash in twenty is sent twice.
        std::snprintf(hash, sizeof hash, "%08llX", static_cast<unsigned long long>(next() % 28500));
        Model m{hash, {}, false};
        std::string recipients;
        for (unsigned r = 0, n = 1 + next() % 3; r < n; ++r) {
            const std::string address = "u" + std::to_string(next() % 50) + "@x.ru";
            recipients += (r ? ";" : "") + address;
            m.recipients.emplace_back(address, "WAIT");
        }
        sentLines.push_back(outLine(hash, recipients));
        byHash[hash].push_back(model.size());
        model.push_back(std::move(m));
    }
    // Receipts for random messages (the oldest waiting one of the hash takes it).
    for (int i = 0; i < 60000; ++i) {
        const Model &target = model[next() % model.size()];
        const std::string &address = target.recipients[next() % target.recipients.size()].first;
        const char *result = next() % 10 == 0 ? "ER" : "OK";
        receiptLines.push_back(receipt(next() % 2 ? lower(target.hash) : target.hash, result, address));
        for (std::size_t at : byHash[target.hash]) {
            Model &m = model[at];
            if (m.gone) continue;
            bool complete = true;
            for (auto &[a, status] : m.recipients) {
                if (a == address) status = result;
                complete = complete && status == "OK";
            }
            m.gone = complete;
            break;
        }
    }
    sent(sentLines);
    received(receiptLines);
    ReceiptStore store(context);
    do store.runBatch(1000);
    while (store.catchUpPending());

    std::vector<std::string> expected;
    for (const Model &m : model)
        if (!m.gone) expected.push_back(m.hash);
    std::vector<std::string> waiting;
    for (const auto &row : store.pendingMessages()) waiting.emplace_back(row->hash());
    ASSERT_EQ(waiting, expected);
    EXPECT_EQ(store.size(), expected.size());
    // The statuses of every message of a few hashes, oldest first.
    for (std::size_t i = 0; i < model.size(); i += 997) {
        std::vector<std::string> want, got;
        for (std::size_t at : byHash[model[i].hash])
            if (!model[at].gone)
                for (const auto &[a, status] : model[at].recipients) want.push_back(a + "=" + status);
        for (const PendingMessage *m : store.messagesWithHash(model[i].hash))
            for (const std::string &s : statuses(m)) got.push_back(s);
        EXPECT_EQ(got, want) << model[i].hash;
    }
}

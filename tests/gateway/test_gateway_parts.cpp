// The gateway's parts in-process: the information file in both dialects,
// the envelope, the log lines as the monitor parses them, and the jobs it
// must refuse.
#include "testsupport.h"

#include "common/codepage.h"
#include "gateway/Delivery.h"
#include "gateway/GatewayLog.h"
#include "gateway/JobIntake.h"
#include "monitor/logs/GWRecords.h"

#include <gtest/gtest.h>

#include <sys/file.h>
#include <sys/stat.h>

#include <algorithm>
#include <functional>

using namespace tarmin;
using namespace tarmin::gateway;
using namespace tarmin::cp::literals;
namespace fs = std::filesystem;

namespace {

TEST(GatewayParts, InformationFilesOfBothDialects) {
    struct Case {
        const char *text;
        const char *expected; // subject|from|E/S|recipients|body, or "!" + the start of the reason
    };
    const Case cases[] = {
        // The job writer's dialect; the body keeps its bytes to the end.
        {"Subject:Plan\r\nFrom:SMTP:op@x.ru\r\nProtection:Crypt\r\nProtection:Sign\r\nEmail:SMTP:a@b.ru\r\n"
         "Email:NOTES:c@d\r\nBody:\r\nline 1\r\nline 2",
         "Plan|SMTP:op@x.ru|ES|SMTP:a@b.ru,NOTES:c@d|line 1\r\nline 2"},
        {"Protection:Sign\r\nEmail:a@b.ru\r\n", "||S|SMTP:a@b.ru|"},
        // The alert dialect: lower case, blanks after the colon.
        {"subject: notification overdue\r\nprotection: Plain\r\nemail:adm@x.ru\r\nbody:\r\ntext\r\nhash=AB",
         "notification overdue|||SMTP:adm@x.ru|text\r\nhash=AB"},
        // A "Body:" line in the body is body text.
        {"Email:a@b\nBody:\nEmail:x@y\n", "|||SMTP:a@b|Email:x@y\n"},
        {"Email:a@b\r\nColour:red\r\n", "!неизвестный ключ"},
        {"Email:a@b\r\nProtection:Strong\r\n", "!неизвестный вид защиты"},
        {"Protection:Plain\r\nProtection:Sign\r\nEmail:a@b\r\n", "!защита Plain"},
        {"Subject:x\r\n", "!нет получателя"},
        {"Email:\r\n", "!нет получателя"},
        {"just text\r\n", "!строка без ключа"},
    };
    for (const Case &c : cases) {
        std::string why;
        std::optional<JobInfo> info = parseJobInfo(c.text, why);
        std::string got;
        if (!info) got = "!" + why;
        else {
            got = info->subject + "|" + (info->from ? info->from->type + ":" + info->from->address : "") + "|" +
                  (info->encrypt ? "E" : "") + (info->sign ? "S" : "") + "|";
            for (size_t i = 0; i < info->recipients.size(); ++i)
                got += (i ? "," : "") + info->recipients[i].type + ":" + info->recipients[i].address;
            got += "|" + info->body;
        }
        if (c.expected[0] == '!') EXPECT_EQ(got.rfind(c.expected, 0), 0u) << c.text << " -> " << got;
        else EXPECT_EQ(got, c.expected) << c.text;
    }
}

TEST(GatewayParts, EnvelopeRoundTripAndBrokenEnvelopes) {
    Envelope e{"org-1-gw1.tmp", "message", "op@x.ru", {"a@b.ru", "c@d.ru"}, "ABCD", '3'};
    std::string file = packEnvelope(e, "MIME-Version: 1.0\r\n\r\nbody");
    std::string_view message;
    std::optional<Envelope> back = unpackEnvelope(file, message);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->id, e.id);
    EXPECT_EQ(back->to, e.to);
    EXPECT_EQ(back->hash, "ABCD");
    EXPECT_EQ(back->protection, '3');
    EXPECT_EQ(message, "MIME-Version: 1.0\r\n\r\nbody");
    // A line break in a value cannot add a header of its own.
    e.from = "x\r\nX-Gateway-Kind: receipt";
    ASSERT_TRUE(unpackEnvelope(packEnvelope(e, ""), message));
    EXPECT_EQ(unpackEnvelope(packEnvelope(e, ""), message)->kind, "message");

    const char *broken[] = {
        "",                                                                          // no envelope
        "X-Gateway-Id: a\r\nX-Gateway-Kind: message\r\n\r\n",                        // no protection
        "X-Gateway-Id: ../x\r\nX-Gateway-Kind: message\r\nX-Gateway-Protection: 1\r\n\r\n", // not a file name
        "X-Gateway-Id: a\r\nX-Gateway-Kind: other\r\nX-Gateway-Protection: 1\r\n\r\n",
        "X-Gateway-Id: a\r\nX-Gateway-Kind: message\r\nX-Gateway-Protection: 7\r\n\r\n",
        "X-Gateway-Id: a\r\nX-Gateway-Kind: message\r\nX-Gateway-Protection: 1\r\nSubject: x\r\n\r\n",
        "X-Gateway-Id: a\r\nX-Gateway-Kind: message\r\nX-Gateway-Protection: 1", // no end of the envelope
    };
    for (const char *b : broken) EXPECT_FALSE(unpackEnvelope(b, message)) << b;

    // In transit one byte of the message changes, none of the envelope.
    std::string smime = packEnvelope(Envelope{"i", "message", "", {}, "", '3'},
                                     "Content-Type: x\r\n\r\nQUJDREVGR0hJSktMTU5PUFFSU1RVVldYWVo=\r\n");
    std::string damaged = smime;
    tamperWith(damaged);
    size_t differences = 0, at = 0;
    for (size_t i = 0; i < smime.size(); ++i)
        if (smime[i] != damaged[i]) ++differences, at = i;
    EXPECT_EQ(differences, 1u);
    EXPECT_GT(at, smime.find("Content-Type: x\r\n\r\n") + 19);
}

TEST(GatewayParts, LogLinesAreWhatTheMonitorParsesAndFilesTurnWithTheDay) {
    const fs::path dir = test::make_temp_dir("logs");
    GatewayLog log(dir.string());
    std::time_t now = 1767607262; // a fixed day
    log.now = [&] { return now; };
    SentLine s{"op@x.ru", "org-1", 0, "ABC123", {"a@b.ru", "c@d.ru"}, "План, квартал"_w, {"a.txt", "b;c.doc"}, '3'};
    ASSERT_TRUE(log.sent(s));
    s.id = "org-2";
    s.code = 0xE0030001;
    ASSERT_TRUE(log.sent(s));
    ReceivedLine r{"a@b.ru", "R-org-1", 0, "ABC123", "OK", "a@b.ru", "Уведомление о доставке"_w, {}, '2'};
    ASSERT_TRUE(log.received(r));
    ASSERT_TRUE(log.error("smime", "err", 0xE0030011, "Ошибка формата, поле X"_w));

    const std::string outPath = log.fileOf(gwlog::Family::Outgoing, now);
    std::string text = test::read_file(outPath);
    // One header, then the lines; the separator inside a text became a blank.
    EXPECT_EQ(text.rfind(gwlog::familyHeader(gwlog::Family::Outgoing, ',') + "\n", 0), 0u);
    std::vector<std::string> lines;
    for (size_t pos = text.find('\n') + 1, end; (end = text.find('\n', pos)) != std::string::npos; pos = end + 1)
        lines.push_back(text.substr(pos, end - pos));
    ASSERT_EQ(lines.size(), 2u);
    auto out = monitor::parseRecord(monitor::LogKind::Outgoing, lines[0], ',');
    ASSERT_TRUE(out);
    const auto &o = static_cast<const monitor::COutRecord &>(*out);
    EXPECT_EQ(o.codeNumber(), 0);
    EXPECT_EQ(o.hash(), "ABC123");
    EXPECT_EQ(o.recipients(), "a@b.ru;c@d.ru");
    EXPECT_EQ(o.subject(), "План  квартал"_w);
    EXPECT_EQ(o.attachmentsText(), "a.txt;b c.doc");
    auto failed = monitor::parseRecord(monitor::LogKind::Outgoing, lines[1], ',');
    ASSERT_TRUE(failed);
    EXPECT_EQ(static_cast<uint32_t>(static_cast<const monitor::COutRecord &>(*failed).codeNumber()), 0xE0030001u);

    std::string in = test::read_file(log.fileOf(gwlog::Family::Inbound, now));
    auto receipt = monitor::parseRecord(monitor::LogKind::Inbound, in.substr(in.find('\n') + 1, in.size() - in.find('\n') - 2), ',');
    ASSERT_TRUE(receipt);
    EXPECT_EQ(static_cast<const monitor::CInRecord &>(*receipt).notificationResult(), "OK");
    EXPECT_EQ(static_cast<const monitor::CInRecord &>(*receipt).address(), "a@b.ru");
    std::string err = test::read_file(log.fileOf(gwlog::Family::Errors, now));
    auto error = monitor::parseRecord(monitor::LogKind::Errors, err.substr(err.find('\n') + 1, err.size() - err.find('\n') - 2), ',');
    ASSERT_TRUE(error);
    EXPECT_EQ(static_cast<const monitor::CErrorRecord &>(*error).codeNumber(), 0xE0030011u);
    EXPECT_EQ(static_cast<const monitor::CErrorRecord &>(*error).information(), "Ошибка формата  поле X"_w);

    // Identifiers are found in their own field only.
    EXPECT_TRUE(log.contains(gwlog::Family::Outgoing, "org-2"));
    EXPECT_FALSE(log.contains(gwlog::Family::Outgoing, "ABC123"));
    EXPECT_FALSE(log.contains(gwlog::Family::Outgoing, "org"));
    // The next day writes a new file with its own header; yesterday's lines
    // are still found.
    now += 86400;
    s.id = "org-3";
    ASSERT_TRUE(log.sent(s));
    EXPECT_NE(log.fileOf(gwlog::Family::Outgoing, now), outPath);
    EXPECT_EQ(test::read_file(log.fileOf(gwlog::Family::Outgoing, now)).rfind(gwlog::familyHeader(gwlog::Family::Outgoing, ','), 0), 0u);
    EXPECT_TRUE(log.contains(gwlog::Family::Outgoing, "org-1"));
    EXPECT_TRUE(log.contains(gwlog::Family::Outgoing, "org-3"));
    // No lock is left on the file between lines.
    int fd = ::open(outPath.c_str(), O_RDONLY);
    EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    ::close(fd);
    // A link planted under a log's name is not written through.
    now += 86400;
    fs::create_symlink(dir / "elsewhere", log.fileOf(gwlog::Family::Errors, now));
    EXPECT_FALSE(log.error("x", "err", 1, "y"));
    EXPECT_FALSE(fs::exists(dir / "elsewhere"));
}

TEST(GatewayParts, JobsThatCannotBeReadAreRefusedWithAReason) {
    const fs::path out = test::make_temp_dir("out");
    auto job = [&](const std::string &name, const std::string &info) {
        fs::create_directories(out / name);
        test::write_file(out / name / "tmninfo.txt", info);
        return out / name;
    };
    const std::string info = "Subject:x\r\nEmail:a@b.ru\r\n";
    // A good one: attachments by name, the signature file last.
    const fs::path good = job("gw1.tmp", info);
    test::write_file(good / "TMNSIGN.TMS", "sig");
    test::write_file(good / "b.txt", "bb");
    test::write_file(good / "отчёт.txt", "report");
    std::string why;
    std::optional<Job> read = readJob(good.string(), why);
    ASSERT_TRUE(read) << why;
    ASSERT_EQ(read->attachments.size(), 3u);
    EXPECT_EQ(read->attachments[0].name, "b.txt");
    EXPECT_EQ(read->attachments[1].name, "отчёт.txt"_w);
    EXPECT_EQ(read->attachments[2].name, "TMNSIGN.TMS");
    EXPECT_EQ(read->name, "gw1.tmp");

    struct Case {
        std::string name;
        std::function<void(const fs::path &)> make;
        const char *reason;
    };
    const Case cases[] = {
        {"link", [](const fs::path &d) { fs::create_symlink("/etc/passwd", d / "passwd"); }, "вложение passwd"},
        {"fifo", [](const fs::path &d) { ::mkfifo((d / "pipe").c_str(), 0600); }, "вложение pipe"},
        {"subdir", [](const fs::path &d) { fs::create_directories(d / "sub"); }, "вложение sub"},
        {"name", [](const fs::path &d) { test::write_file(d / "\xF0\x9F\x98\x80.txt", "x"); }, "имя файла нельзя записать"},
        {"infolink", [&](const fs::path &d) { fs::remove(d / "tmninfo.txt"); fs::create_symlink(good / "tmninfo.txt", d / "tmninfo.txt"); },
         "файл tmninfo.txt не читается"},
    };
    for (const Case &c : cases) {
        const fs::path d = job(c.name, info);
        c.make(d);
        EXPECT_FALSE(readJob(d.string(), why)) << c.name;
        EXPECT_EQ(why.rfind(c.reason, 0), 0u) << c.name << ": " << why;
    }
    // Only real directories with an information file are complete jobs; the
    // gateway's own folders and a link to a job are not.
    fs::create_directories(out / "incomplete");
    fs::create_directories(out / "failed" / "x");
    test::write_file(out / "failed" / "tmninfo.txt", info);
    fs::create_directory_symlink(good, out / "gw2.tmp");
    std::vector<std::string> complete = completeJobs(out.string());
    std::sort(complete.begin(), complete.end());
    EXPECT_EQ(complete, (std::vector<std::string>{"fifo", "gw1.tmp", "infolink", "link", "name", "subdir"}));
}

} // namespace

namespace {

TEST(GatewayParts, CommandLines) {
    struct Case {
        const char *program;
        std::vector<std::string> args;
        int status;
        const char *output; // the start of standard output (0) or a text of standard error (2)
    };
    const std::string d = test::make_temp_dir("cli").string();
    const Case cases[] = {
        {"tmngwd", {"--help"}, 0, "Usage: tmngwd --spool DIR"},
        {"tmngwd", {"--version"}, 0, "tmngwd 3."},
        {"tmngwd", {"--spool", d}, 2, "--spool, --peer and --address are required"},
        {"tmngwd", {"--spool", d, "--peer", d, "--address", "a@b", "--bogus"}, 2, "unknown or incomplete option --bogus"},
        {"tmngwd", {"--spool", d, "--peer", d, "--address", "a@b", "extra"}, 2, "unexpected argument extra"},
        {"tmngwd", {"--spool", d, "--peer", d, "--address", "a@b", "--poll-ms", "0"}, 2, "--poll-ms takes"},
        {"tmngwd", {"--spool", d, "--peer", d, "--address", "a@b", "--name", "a/b"}, 2, "--name may hold"},
        {"tmngwd", {"--spool"}, 2, "unknown or incomplete option"},
        {"tmngw-traffic", {"--help"}, 0, "Usage: tmngw-traffic --out DIR --to ADDR"},
        {"tmngw-traffic", {"--version"}, 0, "tmngw-traffic 3."},
        {"tmngw-traffic", {"--out", d}, 2, "--out and --to are required"},
        {"tmngw-traffic", {"--out", d, "--to", "a@b", "--count", "x"}, 2, "not a number: x"},
        {"tmngw-traffic", {"--out", d, "--to", "a@b", "--protection", "none"}, 2, "--protection takes"},
    };
    for (const Case &c : cases) {
        std::vector<std::string> argv = {test::built_program(c.program).string()};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        std::string out, err;
        EXPECT_EQ(test::run(argv, &out, &err), c.status) << c.program << " " << c.args[0] << err;
        if (c.status == 0) EXPECT_EQ(out.rfind(c.output, 0), 0u) << out;
        else EXPECT_NE(err.find(c.output), std::string::npos) << err;
    }
}

} // namespace

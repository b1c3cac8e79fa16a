// Records of the three gateway logs: field counts, separator limits, codes,
// image indexes, attachment lists, the processing result text.
#include "common/codepage.h"
#include "monitor/logs/GWRecords.h"

#include <gtest/gtest.h>

using namespace tarmin::monitor;
using namespace tarmin::cp::literals;

namespace {

template <class R> std::unique_ptr<R> parsed(std::string_view line, char sep = ',') {
    auto r = std::make_unique<R>();
    return r->Parse(line, sep) ? std::move(r) : nullptr;
}

std::string outLine(const std::string &code, const std::string &prot, const std::string &attachments = "a.txt") {
    return "05/03/2024,10:15:00,sender,id," + code + ",ABCDEF,a@x.ru;b@y.ru,Subject," + attachments + "," + prot;
}

std::string inLine(const std::string &code, const std::string &prot, const std::string &notif = "OK") {
    return "05/03/2024,10:15:00,sender,id," + code + ",ABCDEF," + notif + ",c@z.ru,Subject,a.txt," + prot;
}

} // namespace

TEST(ErrorRecord, ExampleLine) {
    auto r = parsed<CErrorRecord>("05/03/2024,10:15:00,smtp,err,E0020004,Connection refused\n");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->date(), "05/03/2024");
    EXPECT_EQ(r->time(), "10:15:00");
    EXPECT_EQ(r->module(), "smtp");
    EXPECT_EQ(r->kind(), "err");
    EXPECT_EQ(r->codeText(), "E0020004");
    EXPECT_EQ(r->codeNumber(), 0xE0020004u);
    EXPECT_EQ(r->information(), "Connection refused");
    EXPECT_EQ(r->ImageIndex(), 12);
    // Fields are zero-terminated texts inside the record.
    EXPECT_STREQ(r->module().data(), "smtp");
}

TEST(ErrorRecord, FieldCountsAndSeparatorLimits) {
    EXPECT_FALSE(parsed<CErrorRecord>("05/03/2024,10:15:00,smtp,err,E0020004"));
    auto r = parsed<CErrorRecord>("05/03/2024,10:15:00,smtp,err,E0020004,refused, retry later,x");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->information(), "refused"); // fields beyond the information are ignored
    auto semi = parsed<CErrorRecord>("05/03/2024;10:15:00;smtp;err;0;refused, retry later", ';');
    ASSERT_TRUE(semi);
    EXPECT_EQ(semi->information(), "refused, retry later");
    EXPECT_EQ(semi->date(), "05/03/2024");
}

TEST(ErrorRecord, KindsAndImages) {
    struct {
        const char *kind;
        int image;
    } cases[] = {{"err", 12}, {"ERR", 12}, {"inf", 11}, {"Notice", 11}, {"", 13}, {"warn", 13}, {"errx", 13}};
    for (auto &c : cases) {
        auto r = parsed<CErrorRecord>(std::string("05/03/2024,10:15:00,m,") + c.kind + ",0,x");
        ASSERT_TRUE(r);
        EXPECT_EQ(r->ImageIndex(), c.image) << c.kind;
    }
}

TEST(ErrorRecord, CodeReading) {
    struct {
        const char *code;
        uint32_t number;
    } cases[] = {{"E0020004", 0xE0020004u}, {"0xe0020004", 0xE0020004u}, {"0X1f", 0x1Fu},
                 {"12zz", 0x12u},           {"zz", 0u},                  {"", 0u},
                 {" 7", 7u},                {"0x", 0u}};
    for (auto &c : cases) {
        auto r = parsed<CErrorRecord>(std::string("05/03/2024,10:15:00,m,err,") + c.code + ",x");
        ASSERT_TRUE(r);
        EXPECT_EQ(r->codeNumber(), c.number) << c.code;
    }
}

TEST(OutRecord, FieldsAndProcessingResult) {
    auto ok = parsed<COutRecord>(outLine("0", "3", "a.txt;b.doc") + "\n");
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok->hash(), "ABCDEF");
    EXPECT_EQ(ok->recipients(), "a@x.ru;b@y.ru");
    EXPECT_EQ(ok->subject(), "Subject");
    EXPECT_EQ(ok->attachmentsText(), "a.txt;b.doc");
    EXPECT_EQ(ok->attachmentList(), (std::vector<std::string_view>{"a.txt", "b.doc"}));
    EXPECT_EQ(ok->protectionKind(), '3');
    EXPECT_EQ(ok->codeNumber(), 0);
    EXPECT_STREQ(ok->processingResult(), "OK");
    EXPECT_EQ(ok->ImageIndex(), 7);

    auto err = parsed<COutRecord>(outLine("E0030001", "3"));
    ASSERT_TRUE(err);
    EXPECT_TRUE(err->isError());
    EXPECT_EQ(err->codeNumber(), static_cast<int32_t>(0xE0030001u));
    EXPECT_STREQ(err->processingResult(), "Ошибка"_w);
    EXPECT_EQ(err->ImageIndex(), 9);
}

TEST(OutRecord, FieldCountsAndProtectionImages) {
    EXPECT_FALSE(parsed<COutRecord>("05/03/2024,10:15:00,s,id,0,H,a@x,Subj,att"));
    struct {
        const char *prot;
        int image;
        char kind;
    } cases[] = {{"1", 8, '1'}, {"2", 6, '2'}, {"3", 7, '3'}, {"", 5, '\0'}, {"0", 5, '0'}, {"9", 5, '9'},
                 {"2abc", 6, '2'}};
    for (auto &c : cases) {
        auto r = parsed<COutRecord>(outLine("0", c.prot));
        ASSERT_TRUE(r);
        EXPECT_EQ(r->ImageIndex(), c.image) << c.prot;
        EXPECT_EQ(r->protectionKind(), c.kind);
    }
    // Splitting stops after 11 separators: the protection field ends at the 10th.
    auto extra = parsed<COutRecord>(outLine("0", "1") + ",x,y,z");
    ASSERT_TRUE(extra);
    EXPECT_EQ(extra->protectionKind(), '1');
}

TEST(InRecord, FieldCounts) {
    std::string ten = "05/03/2024,10:15:00,s,id,0,H,OK,c@z.ru,Subj,a.txt";
    EXPECT_FALSE(parsed<CInRecord>(ten));
    auto eleven = parsed<CInRecord>(ten + ",2");
    ASSERT_TRUE(eleven);
    EXPECT_EQ(eleven->protectionKind(), '2');
    auto twelve = parsed<CInRecord>(ten + ",2,ignored");
    ASSERT_TRUE(twelve);
    EXPECT_EQ(twelve->protectionKind(), '2');
    EXPECT_EQ(twelve->attachmentsText(), "a.txt");
}

TEST(InRecord, Fields) {
    auto r = parsed<CInRecord>(inLine("80000001", "1", "ER"));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->notificationResult(), "ER");
    EXPECT_EQ(r->address(), "c@z.ru");
    EXPECT_EQ(r->subject(), "Subject");
    EXPECT_EQ(r->hash(), "ABCDEF");
    EXPECT_TRUE(r->isError());
    EXPECT_EQ(r->ImageIndex(), 9);
    auto empty = parsed<CInRecord>(inLine("0", "", ""));
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->notificationResult(), "");
    EXPECT_EQ(empty->ImageIndex(), 5);
    EXPECT_STREQ(empty->processingResult(), "OK");
}

TEST(Records, AttachmentListsSkipEmptyPieces) {
    auto r = parsed<COutRecord>(outLine("0", "1", ";a.txt;;b.doc;"));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->attachmentList(), (std::vector<std::string_view>{"a.txt", "b.doc"}));
    auto none = parsed<COutRecord>(outLine("0", "1", ""));
    ASSERT_TRUE(none);
    EXPECT_TRUE(none->attachmentList().empty());
}

TEST(Records, LineEndsAndOddBytes) {
    auto crlf = parsed<CErrorRecord>("05/03/2024,10:15:00,m,err,0,info\r\n");
    ASSERT_TRUE(crlf);
    EXPECT_EQ(crlf->information(), "info");
    auto noLf = parsed<CErrorRecord>("05/03/2024,10:15:00,m,err,0,info");
    ASSERT_TRUE(noLf);
    EXPECT_EQ(noLf->information(), "info");
    // A zero byte inside a field stays inside it; nothing breaks.
    std::string withNul("05/03/2024,10:15:00,m\0x,err,0,info", 34);
    auto nul = parsed<CErrorRecord>(withNul);
    ASSERT_TRUE(nul);
    EXPECT_EQ(nul->module(), std::string_view("m\0x", 3));
    EXPECT_EQ(nul->information(), "info");
    EXPECT_FALSE(parsed<CErrorRecord>(""));
    EXPECT_FALSE(parsed<CErrorRecord>("\n"));
    EXPECT_FALSE(parsed<CErrorRecord>(",,,,"));
    EXPECT_TRUE(parsed<CErrorRecord>(",,,,,"));
}

TEST(Records, Windows1251TextKeepsItsBytes) {
    std::string subject = "Отчёт за март"_w;
    auto r = parsed<COutRecord>(outLine("0", "3").replace(outLine("0", "3").find("Subject"), 7, subject));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->subject(), subject);
}

TEST(NotifRecord, FilledNotParsed) {
    CNotifRecord n("05/03/2024", "10:15:00", "ABC", "2abc", "Subj");
    EXPECT_EQ(n.Parse("05/03/2024,10:15:00,s,id,0,H,a,b,c,d,e", ','), 0);
    EXPECT_EQ(n.date(), "05/03/2024");
    EXPECT_EQ(n.time(), "10:15:00");
    EXPECT_EQ(n.hash(), "ABC");
    EXPECT_EQ(n.protectionKind(), '2');
    EXPECT_EQ(n.ImageIndex(), 6);
    n.Fill("06/03/2024", "11:00:00", "DEF", "", "S2");
    EXPECT_EQ(n.ImageIndex(), 5);
    EXPECT_EQ(n.subject(), "S2");
}

TEST(Records, FactoryAndDetailsPresenter) {
    EXPECT_STREQ(logPrefix(LogKind::Errors), "tarmin-gw");
    EXPECT_STREQ(logPrefix(LogKind::Inbound), "tmnrecv");
    EXPECT_STREQ(logPrefix(LogKind::Outgoing), "tmnsent");
    auto e = parseRecord(LogKind::Errors, "05/03/2024,10:15:00,m,err,0,x", ',');
    ASSERT_TRUE(e);
    EXPECT_TRUE(dynamic_cast<CErrorRecord *>(e.get()));
    EXPECT_FALSE(parseRecord(LogKind::Inbound, "05/03/2024,10:15:00,m,err,0,x", ','));
    EXPECT_FALSE(e->ShowDetails(nullptr)); // no presenter installed

    struct Recorder : RecordDetailsPresenter {
        std::string shown;
        void showError(const CErrorRecord &r, void *) override { shown = "error " + std::string(r.module()); }
        void showOutgoing(const COutRecord &, void *) override { shown = "out"; }
        void showInbound(const CInRecord &, void *) override { shown = "in"; }
        void showNotification(const CNotifRecord &r, void *) override { shown = "notif " + std::string(r.hash()); }
    } recorder;
    setRecordDetailsPresenter(&recorder);
    EXPECT_TRUE(e->ShowDetails(nullptr));
    EXPECT_EQ(recorder.shown, "error m");
    CNotifRecord n("05/03/2024", "10:15:00", "H1", "1", "S");
    EXPECT_TRUE(n.ShowDetails(nullptr));
    EXPECT_EQ(recorder.shown, "notif H1");
    setRecordDetailsPresenter(nullptr);
}

TEST(Records, ComparableDateTime) {
    EXPECT_EQ(comparableDate("05/03/2024"), "20240305");
    EXPECT_EQ(comparableDateTime("05/03/2024", "10:15:00"), "2024030510:15:00");
    EXPECT_LT(comparableDateTime("31/12/2023", "23:59:59"), comparableDateTime("01/01/2024", "00:00:00"));
    EXPECT_EQ(comparableDate("5/3/2024"), "5/3/2024");
}

TEST(Records, SharedBlockRecordsMoveAndReparse) {
    std::string line = outLine("0", "2", "a.txt;b.doc");
    auto r = parseRecord(LogKind::Outgoing, line, ',');
    ASSERT_TRUE(r);
    auto &out = static_cast<COutRecord &>(*r);
    COutRecord moved(std::move(out));
    EXPECT_EQ(moved.subject(), "Subject");
    EXPECT_EQ(moved.attachmentList(), (std::vector<std::string_view>{"a.txt", "b.doc"}));
    r.reset(); // the block the line came from is gone
    EXPECT_EQ(moved.recipients(), "a@x.ru;b@y.ru");
    EXPECT_EQ(moved.ImageIndex(), 6);

    // A record made for a short line takes a longer one too.
    auto small = CGWRecord::create<CErrorRecord>(10);
    std::string longLine = "05/03/2024,10:15:00,smtp,err,E0020004," + std::string(500, 'i');
    ASSERT_TRUE(small->Parse(longLine, ','));
    EXPECT_EQ(small->information().size(), 500u);
    ASSERT_TRUE(small->Parse("05/03/2024,10:15:00,m,inf,0,x", ','));
    EXPECT_EQ(small->ImageIndex(), 11);
}

TEST(Records, SplittingMatchesASimpleReference) {
    // Random lines with separators everywhere, across the 16-byte blocks of
    // the splitter: fields must be exactly what a plain scan finds.
    uint32_t x = 7;
    auto next = [&x] { return x = x * 1664525 + 1013904223; };
    for (int round = 0; round < 2000; ++round) {
        std::size_t length = next() % 120;
        std::string line;
        for (std::size_t i = 0; i < length; ++i) line += (next() % 4 == 0) ? ',' : static_cast<char>('a' + next() % 26);
        std::vector<std::string> expected;
        std::size_t start = 0, separators = 0;
        for (std::size_t i = 0; i < line.size() && separators < COutRecord::kMaxSeparators; ++i) {
            if (line[i] == ',') {
                expected.push_back(line.substr(start, i - start));
                start = i + 1;
                ++separators;
            }
        }
        expected.push_back(line.substr(start));
        auto r = parseRecord(LogKind::Outgoing, line, ',');
        ASSERT_EQ(r != nullptr, expected.size() >= 10) << line;
        if (!r) continue;
        auto &o = static_cast<COutRecord &>(*r);
        EXPECT_EQ(o.date(), expected[0]) << line;
        EXPECT_EQ(o.codeText(), expected[4]) << line;
        EXPECT_EQ(o.hash(), expected[5]) << line;
        EXPECT_EQ(o.subject(), expected[7]) << line;
        EXPECT_EQ(o.attachmentsText(), expected[8]) << line;
        EXPECT_EQ(o.protectionKind(), expected[9].empty() ? '\0' : expected[9][0]) << line;
    }
}

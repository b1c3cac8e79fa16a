// What the encoder writes decodes back into the same objects: generated
// messages of every shape (nesting, empty and large attachments, Cyrillic
// names and subjects, both charsets, base64 and binary, signature files,
// signed and/or encrypted) through encode, decode and extract.
#include "decode_test_support.h"

#include "common/codepage.h"
#include "smime/mime_text.h"

#include <random>

using namespace tarmin::test;
using namespace tarmin::test::smime;
using namespace tarmin::cp::literals;

namespace {

// A random message in the order a host gives its objects: the addresses,
// date, subject, HTML and body, then attachments and nested messages. Returns the objects and their descriptions
// as the decoder should hand them out.
struct Generated {
    std::vector<Obj> objects;
    std::vector<std::string> expected;
};

void generate_level(std::mt19937 &rng, int depth, bool sign_files, Generated &g) {
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    const std::string names[] = {"отчёт.txt"_w, "data.bin", "Сводка за декабрь 2026 года — итог.docx"_w, "a", "x.y.z"};
    Obj from = address(MHA_OBJ_FROM, "SMTP", pick(2) ? "Оператор"_w : "", "operator@tarmin.test");
    // Addresses of the three types that alice's certificate answers to.
    Obj to = pick(2) ? address(MHA_OBJ_TO, "SMTP", "Алиса"_w, "alice@tarmin.test")
                     : address(MHA_OBJ_TO, "EX", "Алиса"_w, "/o=Tarmin/ou=Gateway/cn=Recipients/cn=alice");
    Obj cc = address(MHA_OBJ_CC, "NOTES", "Alice", "CN=Alice Notes/O=Tarmin");
    Obj when = date(kSampleDate + static_cast<uint64_t>(pick(1000)) * 10000000ULL);
    Obj subj = subject(pick(2) ? "Тема №"_w + std::to_string(depth) : "");
    Obj h = html("<b>Привет</b>"_w);
    Obj b = body(pick(2) ? "Текст\r\nписьма"_w : "");
    for (Obj *o : {&from, &to, &cc, &when, &subj, &h, &b}) {
        std::string d = describe(o->o);
        // A name left empty comes back as the address.
        if ((*o)->Type == MHA_OBJ_FROM && !*(*o)->FromName) d = "from SMTP|operator@tarmin.test|operator@tarmin.test";
        g.expected.push_back(d);
        g.objects.push_back(std::move(*o));
    }
    const int parts = pick(4);
    bool signed_attachment = false;
    for (int i = 0; i < parts; ++i) {
        if (depth < 3 && pick(4) == 0) {
            int32_t pos = pick(100);
            g.objects.push_back(nested_start(pos));
            g.expected.push_back("nested " + std::to_string(pos));
            generate_level(rng, depth + 1, sign_files, g);
            g.objects.push_back(nested_end());
            g.expected.push_back("nested end");
            continue;
        }
        const size_t sizes[] = {0, 1, 47, 48, 49, 1000, 200000};
        std::string data = sample_text(sizes[pick(7)]);
        signed_attachment |= !data.empty();
        Obj a = attachment(names[pick(5)], data, pick(10) - 1, static_cast<uint32_t>(pick(3)), pick(2) ? "cid" + std::to_string(i) : "");
        g.expected.push_back(describe(a.o));
        g.objects.push_back(std::move(a));
    }
    // The level's signature file follows its parts.
    if (sign_files && signed_attachment) g.expected.push_back("signature file");
}

class DecodeRoundTrip : public ::testing::Test {
protected:
    static void SetUpTestSuite() { suite_pki(); }
    void TearDown() override {
        set_dword("OutputMessageFlags", 0);
        set_text("Charset", "windows-1251");
    }
};

TEST_F(DecodeRoundTrip, GeneratedMessagesComeBackObjectForObject) {
    std::mt19937 rng(20261208);
    const uint32_t flag_sets[] = {MHA_SIGN, MHA_SIGN | MHA_ENCRYPT, MHA_ENCRYPT | MHA_SIGN | MHA_NO_ATTACH_SIGN,
                                  MHA_SIGN | MHA_CONFIRM};
    Session s;
    for (int round = 0; round < 24; ++round) {
        const uint32_t flags = flag_sets[round % 4];
        const bool binary = (round / 4) % 2;
        const bool utf8 = (round / 8) % 2;
        set_dword("OutputMessageFlags", binary ? 0x10000 : 0);
        set_text("Charset", utf8 ? "utf-8" : "windows-1251");
        Generated g;
        g.objects.push_back(start());
        g.expected.push_back("start");
        generate_level(rng, 0, (flags & MHA_SIGN) && !(flags & MHA_NO_ATTACH_SIGN), g);
        g.objects.push_back(end());
        g.expected.push_back("end");
        int32_t rc = 0;
        std::string message = encode(s, flags, g.objects, &rc);
        ASSERT_EQ(rc, 0) << round << reports_text(take_reports());
        Decoded d = decode(s, message);
        if (d.rc != 0 && d.result) {
            if (std::getenv("SMIME_DUMP")) write_file("/tmp/roundtrip.eml", message);
            ADD_FAILURE() << "round " << round << "\n" << tarmin::cp::cp1251_to_utf8(d.result->ResultDetail ? d.result->ResultDetail : "");
            MHA_result_free(s, d.result);
            d.result = nullptr;
        }
        ASSERT_EQ(d.rc, 0) << round << reports_text(take_reports());
        ASSERT_NE(d.result, nullptr);
        EXPECT_EQ(d.result->SignStatus, 0);
        EXPECT_EQ(d.result->DecryptStatus, (flags & MHA_ENCRYPT) ? 0 : -1);
        EXPECT_EQ(d.flags & 0xF, (flags & MHA_ENCRYPT ? 1u : 0u) | 2u | (flags & MHA_CONFIRM ? 8u : 0u)) << round;
        for (std::string &o : d.objects)
            if (o.rfind("attachment TMNSIGN.TMS", 0) == 0) o = "signature file";
        EXPECT_EQ(d.objects, g.expected) << "round " << round;
        MHA_result_free(s, d.result);
        take_reports();
    }
}

} // namespace

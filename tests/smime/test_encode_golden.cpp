// One message of each shape, byte for byte against the files in expected/
// (clock fixed; the parts that change with every signature or envelope are
// masked and checked by the interoperability tests). TARMIN_UPDATE_GOLDEN=1
// writes the files anew.
#include "smime_test_support.h"

#include "common/codepage.h"
#include "smime/mime_text.h"

#include <functional>
#include <regex>

using namespace tarmin::test;
using namespace tarmin::test::smime;
using namespace tarmin::cp::literals;
namespace sm = tarmin::smime;

namespace {

// Replaces what differs between two runs of the same signed or encrypted
// message: signatures, signature files, envelopes, and the hash and lengths
// that depend on them.
std::string mask_variable_parts(std::string text) {
    text = std::regex_replace(text, std::regex("X-Message-Hash: [^\r]*"), "X-Message-Hash: <hash>");
    text = std::regex_replace(text, std::regex("X-Signature-Length: [0-9]+"), "X-Signature-Length: <n>");
    text = std::regex_replace(text, std::regex("X-Crypt-Length: [0-9]+"), "X-Crypt-Length: <n>");
    const std::string sign_file = "X-Attachment-Name: " + sm::hex_text("TMNSIGN.TMS") + "\r\n";
    for (const std::string marker : {sign_file, std::string("name=\"smime.p7s\"\r\n"), std::string("X-Crypt-Length")}) {
        for (size_t at = text.find(marker); at != std::string::npos; at = text.find(marker, at + 1)) {
            size_t body = text.find("\r\n\r\n", at);
            if (body == std::string::npos) break;
            body += 4;
            size_t next = text.find("\r\n--", body);
            if (next == std::string::npos) next = text.size();
            text.replace(body, next - body, "<masked>");
        }
    }
    text = std::regex_replace(text, std::regex("(X-Attachment-Length: )[0-9]+(\r\nX-Attachment-Name: " +
                                               sm::hex_text("TMNSIGN.TMS") + ")"),
                              "$1<n>$2");
    return text;
}

struct Shape {
    const char *name;
    uint32_t flags;
    uint32_t output_flags;
    const char *charset;
    std::function<std::vector<Obj>()> objects;
};

std::vector<Obj> ordinary_message() {
    return objects(start(), address(MHA_OBJ_FROM, "SMTP", "Оператор шлюза"_w, "operator@tarmin.test"),
                   address(MHA_OBJ_TO, "SMTP", "Alice", "alice@tarmin.test"),
                   address(MHA_OBJ_TO, "EX", "", "/o=Tarmin/cn=alice"),
                   address(MHA_OBJ_CC, "SMTP", "", "bob@tarmin.test"), date(kSampleDate),
                   subject("Сводка за день"_w), body("Добрый день!\r\nСводка во вложении.\r\n"_w),
                   html("<p>Добрый день!</p>"_w),
                   attachment("сводка-за-декабрь-2026-года.txt"_w, "line 1\r\nline 2\r\n", 3, 1, "part1@x"),
                   attachment("", std::string(48, 'z')), end());
}

// For the enveloped shapes: recipients that have certificates.
std::vector<Obj> message_for_alice() {
    return objects(start(), address(MHA_OBJ_FROM, "SMTP", "Оператор шлюза"_w, "operator@tarmin.test"),
                   address(MHA_OBJ_TO, "SMTP", "Alice", "alice@tarmin.test"), date(kSampleDate),
                   subject("Сводка за день"_w), body("Добрый день!\r\n"_w), attachment("a.txt", "alpha"), end());
}

const Shape kShapes[] = {
    {"encrypted", MHA_ENCRYPT | MHA_CONFIRM, 0, "windows-1251", message_for_alice},
    {"signed-encrypted", MHA_SIGN | MHA_ENCRYPT, 0, "windows-1251", message_for_alice},
    {"plain", 0, 0, "windows-1251", ordinary_message},
    {"signed", MHA_SIGN | MHA_CONFIRM, 0, "windows-1251", ordinary_message},
    {"binary", 0, 0x10000, "windows-1251", ordinary_message},
    {"utf8", 0, 0, "utf-8", ordinary_message},
    {"nested",
     0,
     0,
     "windows-1251",
     [] {
         return objects(start(), address(MHA_OBJ_FROM, "SMTP", "", "operator@tarmin.test"),
                        subject("Fwd: отчёт"_w), body("См. ниже"_w), nested_start(7),
                        address(MHA_OBJ_FROM, "NOTES", "Alice", "CN=Alice/O=Tarmin"), subject("отчёт"_w),
                        attachment("a.txt", "inner"), nested_end(), attachment("b.txt", "outer"), end());
     }},
    {"pass-through",
     MHA_PASS_THROUGH | MHA_DROP_OUTER_HEADER,
     0,
     "windows-1251",
     [] {
         static const std::string kRaw = "Received: by relay\r\nMIME-Version: 1.0\r\nX-Outer: 1\r\n\r\n"
                                         "MIME-Version: 1.0\r\nContent-Type: multipart/signed;\r\n"
                                         " boundary=\"b\"\r\n\r\n--b\r\nX-Message-Hash: 0A 1B 2C 3D\r\n--b--\r\n";
         return objects(start(), address(MHA_OBJ_TO, "SMTP", "", "alice@tarmin.test"), raw(kRaw), end());
     }},
};

class EncodeGolden : public ::testing::TestWithParam<Shape> {
protected:
    static void SetUpTestSuite() { suite_pki(); }
    void TearDown() override {
        set_dword("OutputMessageFlags", 0);
        set_text("Charset", "windows-1251");
    }
};

TEST_P(EncodeGolden, MatchesExpectedFile) {
    const Shape &shape = GetParam();
    FixedClock clock;
    set_dword("OutputMessageFlags", shape.output_flags);
    set_text("Charset", shape.charset);
    Session s;
    int32_t rc = 0;
    std::string text = encode(s, shape.flags, shape.objects(), &rc);
    ASSERT_EQ(rc, 0) << reports_text(take_reports());
    text = mask_variable_parts(text);
    auto path = source_dir() / "tests/smime/expected" / (std::string(shape.name) + ".eml");
    if (std::getenv("TARMIN_UPDATE_GOLDEN")) write_file(path, text);
    EXPECT_EQ(text, read_file(path)) << "differs from " << path;
}

INSTANTIATE_TEST_SUITE_P(Shapes, EncodeGolden, ::testing::ValuesIn(kShapes), [](const auto &info) {
    std::string n = info.param.name;
    for (char &c : n)
        if (!isalnum(static_cast<unsigned char>(c))) c = '_';
    return n;
});

} // namespace

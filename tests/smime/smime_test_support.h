// Shared set-up of the S/MIME library tests: the test PKI with the operator
// as own certificate, the product settings, a context with its session open,
// message objects the way a host makes them, the reports, and the openssl
// command line with the GOST engine.
#pragma once

#include "common/codepage.h"
#include "include/qzcom.h"
#include "include/tmnsmime.h"
#include "smime/hooks.h"
#include "smime/mime_text.h"
#include "tests/capi/capi_test_support.h"
#include "tests/platform/crypto/crypto_test_util.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace tarmin::test::smime {

using tarmin::test::crypto::openssl;

// One report as the common services kept it.
struct Report {
    int level;
    uint32_t code;
    std::string text; // UTF-8
};

// The reports kept since the last call (they are taken, not shown).
inline std::vector<Report> take_reports() {
    std::vector<Report> out;
    QZ_SetReportPresenter(
        [](QZ_HWND, int, const QZ_REPORT *r, size_t n, void *user) {
            auto *v = static_cast<std::vector<Report> *>(user);
            for (size_t i = 0; i < n; ++i) v->push_back({r[i].level, r[i].code, tarmin::cp::cp1251_to_utf8(r[i].text)});
        },
        &out);
    QZ_ShowReports(nullptr, 1);
    QZ_SetReportPresenter(nullptr, nullptr);
    return out;
}

inline bool has_code(const std::vector<Report> &reports, uint32_t code, int level = QZ_LEVEL_SUMMARY) {
    for (const Report &r : reports)
        if (r.code == code && r.level == level) return true;
    return false;
}

inline std::string reports_text(const std::vector<Report> &reports) {
    std::string s;
    for (const Report &r : reports) s += std::to_string(r.level) + " " + std::to_string(r.code) + " " + r.text + "\n";
    return s;
}

inline char *dup(const std::string &s) {
    char *p = static_cast<char *>(std::malloc(s.size() + 1));
    std::memcpy(p, s.data(), s.size());
    p[s.size()] = '\0';
    return p;
}

// A message object made as a host makes it (malloc'd, released with
// MHA_object_free).
struct Obj {
    MhaObject *o;
    explicit Obj(uint32_t type) : o(static_cast<MhaObject *>(std::calloc(1, sizeof(MhaObject)))) { o->Type = type; }
    Obj(Obj &&other) noexcept : o(other.o) { other.o = nullptr; }
    Obj(const Obj &) = delete;
    ~Obj() {
        if (!o) return;
        if (o->Type == MHA_OBJ_RAW || o->Type > MHA_OBJ_HTML) std::free(o);
        else MHA_object_free(nullptr, o);
    }
    MhaObject *operator->() const { return o; }
};

inline Obj start() { return Obj(MHA_OBJ_START); }
inline Obj end() { return Obj(MHA_OBJ_END); }
inline Obj nested_start(int32_t position = 0) {
    Obj x(MHA_OBJ_NESTED_START);
    x->NestedRenderingPosition = position;
    return x;
}
inline Obj nested_end() { return Obj(MHA_OBJ_NESTED_END); }
// type 6..9 with its three texts.
inline Obj address(uint32_t type, const std::string &kind, const std::string &name, const std::string &addr) {
    Obj x(type);
    char **f = type == MHA_OBJ_FROM ? &x->FromTypeAddress
               : type == MHA_OBJ_TO ? &x->ToTypeAddress
               : type == MHA_OBJ_CC ? &x->CcTypeAddress
                                    : &x->BccTypeAddress;
    f[0] = dup(kind);
    f[1] = dup(name);
    f[2] = dup(addr);
    return x;
}
inline Obj body(const std::string &text) {
    Obj x(MHA_OBJ_BODY);
    x->Body = dup(text);
    x->BodyLength = static_cast<uint32_t>(text.size());
    return x;
}
inline Obj html(const std::string &text) {
    Obj x(MHA_OBJ_HTML);
    x->HtmlData = reinterpret_cast<unsigned char *>(dup(text));
    x->HtmlLength = static_cast<uint32_t>(text.size());
    return x;
}
inline Obj subject(const std::string &text) {
    Obj x(MHA_OBJ_SUBJECT);
    x->Subject = dup(text);
    return x;
}
inline Obj date(uint64_t filetime) {
    Obj x(MHA_OBJ_DATE);
    x->SendDate = {static_cast<uint32_t>(filetime), static_cast<uint32_t>(filetime >> 32)};
    return x;
}
inline Obj attachment(const std::string &name, const std::string &data, int32_t position = -1, uint32_t method = 1,
                      const std::string &content_id = "") {
    Obj x(MHA_OBJ_ATTACHMENT);
    x->AttachName = dup(name);
    x->AttachData = reinterpret_cast<unsigned char *>(dup(data));
    x->AttachLength = static_cast<uint32_t>(data.size());
    x->AttachRenderingPosition = position;
    x->AttachMethod = method;
    if (!content_id.empty()) x->AttachContentId = dup(content_id);
    return x;
}
inline Obj raw(const std::string &data) {
    Obj x(MHA_OBJ_RAW);
    x->RawData = reinterpret_cast<const unsigned char *>(data.data());
    x->RawLength = static_cast<uint32_t>(data.size());
    return x;
}

// Bytes of some length that differ from place to place.
inline std::string sample_text(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 131 + 7) ^ (i >> 8));
    return s;
}

// 2026-01-05 10:01:02 UTC as a file time.
constexpr uint64_t kSampleDate = (1767607262ULL + 11644473600ULL) * 10000000ULL;

// The product settings the library needs, under the product key.
inline void set_dword(const char *name, uint32_t value) {
    ASSERT_EQ(QZ_SetKeyDword(QZ_GetProductKeyName(), name, value, 1), 0);
}
inline void set_text(const char *name, const std::string &value) {
    ASSERT_EQ(QZ_SetKeyString(QZ_GetProductKeyName(), name, value.c_str(), 1), 0);
}

// Once per test program: the product, the test PKI, the operator as own
// certificate, the library's settings.
inline const Pki &suite_pki() {
    static std::unique_ptr<Pki> pki;
    if (!pki) {
        init_product();
        pki = std::make_unique<Pki>(make_pki());
        set_my(*pki, "operator");
        set_dword("CertificateFlags", 0);
        set_dword("OutputMessageFlags", 0);
    }
    return *pki;
}

// A context with the certificate session open.
struct Session {
    MhaContext *ctx = nullptr;
    explicit Session(bool init = true) {
        EXPECT_EQ(MHA_create_context(&ctx), 0);
        if (init) {
            EXPECT_EQ(MHA_vcert_init(ctx), 0) << reports_text(take_reports());
        }
    }
    ~Session() {
        MHA_vcert_final(ctx);
        MHA_close_context(ctx);
    }
    operator MhaContext *() const { return ctx; }
};

// Encodes the objects; the message text, or "" with *rc the failing status.
inline std::string encode(MhaContext *ctx, uint32_t flags, const std::vector<Obj> &objects, int32_t *rc = nullptr,
                          MhaSmime **keep = nullptr) {
    int32_t r = MHA_encode_init(ctx, flags);
    for (size_t i = 0; r == 0 && i < objects.size(); ++i) r = MHA_encode_add(ctx, objects[i].o);
    MhaSmime *smime = nullptr;
    if (r == 0) r = MHA_encode_final(ctx, &smime);
    else MHA_encode_free(ctx);
    if (rc) *rc = r;
    if (r != 0) return {};
    std::string text(reinterpret_cast<char *>(smime->Data), smime->Length);
    if (keep) *keep = smime;
    else MHA_smime_free(ctx, smime);
    return text;
}

template <class... T> std::vector<Obj> objects(T &&...o) {
    std::vector<Obj> v;
    (v.push_back(std::move(o)), ...);
    return v;
}

// The clock of the library fixed at a value (boundaries, archive dates).
struct FixedClock {
    static inline std::time_t value = 1767607262; // 2026-01-05 10:01:02 UTC
    FixedClock() {
        tarmin::smime::hooks().now = [] { return value; };
        tarmin::smime::hooks().retry_delay_ms = 0;
    }
    ~FixedClock() {
        tarmin::smime::hooks().now = nullptr;
        tarmin::smime::hooks().retry_delay_ms = 1000;
    }
};

// The parts of one multipart level as the encoder writes them: header block
// and decoded content.
struct Part {
    std::string headers;
    std::string content;
};

inline std::string header_value(const std::string &headers, const std::string &name) {
    size_t p = headers.find(name + ": ");
    if (p == std::string::npos) return {};
    p += name.size() + 2;
    return headers.substr(p, headers.find("\r\n", p) - p);
}

// Splits the message at "\r\n--<boundary>" delimiters of the top level.
inline std::vector<Part> top_level_parts(const std::string &message) {
    size_t q = message.find("boundary=\"");
    EXPECT_NE(q, std::string::npos);
    q += 10;
    std::string boundary = message.substr(q, message.find('"', q) - q);
    std::string delim = "\r\n--" + boundary;
    std::vector<Part> parts;
    size_t pos = message.find(delim);
    while (pos != std::string::npos) {
        size_t start = pos + delim.size();
        if (message.compare(start, 2, "--") == 0) break;
        start += 2; // CR LF after the delimiter
        size_t next = message.find(delim, start);
        std::string part = message.substr(start, next - start);
        size_t blank = part.find("\r\n\r\n");
        Part p{part.substr(0, blank + 2), part.substr(blank + 4)};
        if (header_value(p.headers, "Content-Transfer-Encoding") == "base64") p.content = *tarmin::smime::base64_decode(p.content);
        parts.push_back(p);
        pos = next;
    }
    return parts;
}

// TMP (where the library makes its work files) pointed at a fresh directory
// for the life of the object.
struct TempDir {
    std::filesystem::path dir = make_temp_dir("tmp");
    std::string old;
    bool had = false;
    TempDir() {
        const char *v = std::getenv("TMP");
        had = v != nullptr;
        if (v) old = v;
        ::setenv("TMP", dir.c_str(), 1);
    }
    ~TempDir() {
        if (had) ::setenv("TMP", old.c_str(), 1);
        else ::unsetenv("TMP");
    }
    TempDir(const TempDir &) = delete;
};

// The files this process holds open below dir: descriptor and target (an
// unlinked file's target ends in " (deleted)").
struct OpenFile {
    int fd;
    std::string target;
};
inline std::vector<OpenFile> open_files_in(const std::filesystem::path &dir) {
    std::vector<OpenFile> out;
    const std::string prefix = dir.string() + "/";
    for (const auto &e : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        std::string target = std::filesystem::read_symlink(e.path(), ec).string();
        if (!ec && target.rfind(prefix, 0) == 0) out.push_back({std::stoi(e.path().filename().string()), target});
    }
    return out;
}

} // namespace tarmin::test::smime

// The S/MIME decoder: a received message in the form the encoder writes is
// decrypted, its signature removed and checked, its multipart body parsed
// back into message objects, and its attachment signatures verified, with a
// Russian result-detail text.
//
// Every byte of the input comes from a stranger: lengths announced in headers
// are only compared with what was really decoded, every search is bounded by
// the buffer, nesting is limited to 128 levels, and nothing is allocated by
// an announced size.
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/codepage.h"
#include "smime/archive.h"
#include "smime/certs.h"
#include "smime/decoder.h"
#include "smime/hooks.h"
#include "smime/mime_text.h"
#include "smime/report.h"
#include "smime/settings.h"
#include "smime/signfile.h"
#include "smime/workfile.h"

using namespace tarmin::cp::literals;
using namespace tarmin::smime;

namespace {

constexpr const char *kInit = "MHA_decode_init";
constexpr int32_t kFormatStatus = static_cast<int32_t>(0xE0030011u);

// A failure inside the decoder: the status the call returns (-1, or the
// format error code).
struct DecodeError {
    int32_t status;
};

[[noreturn]] void fail(const char *step, const char *function = kInit) {
    trace(step, function);
    throw DecodeError{kFailed};
}

[[noreturn]] void fail_format(const char *step, const char *field, const char *function = kInit) {
    trace(step, function);
    report(kFormat, field);
    throw DecodeError{kFormatStatus};
}

[[noreturn]] void fail_crypto(MhaContext *ctx, const char *step, const char *function = kInit) {
    report_crypto(crypto(ctx), step, function);
    throw DecodeError{kFailed};
}


char *copy_text(std::string_view s) {
    char *p = static_cast<char *>(std::malloc(s.size() + 1));
    if (!p) throw std::bad_alloc();
    std::memcpy(p, s.data(), s.size());
    p[s.size()] = '\0';
    return p;
}

unsigned char *copy_bytes(std::string_view s) {
    auto *p = static_cast<unsigned char *>(std::malloc(s.size() + 1));
    if (!p) throw std::bad_alloc();
    std::memcpy(p, s.data(), s.size());
    p[s.size()] = 0;
    return p;
}

bool starts_with_nocase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && iequals(text.substr(0, prefix.size()), prefix);
}

// The value of a "Name: value" line when the line is that header.
bool line_header(std::string_view line, std::string_view name, std::string_view &value) {
    if (!starts_with_nocase(line, name) || line.size() <= name.size() || line[name.size()] != ':') return false;
    value = line.substr(name.size() + 1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
    return true;
}

std::optional<unsigned long long> decimal(std::string_view text) {
    if (text.empty() || text.size() > 19) return std::nullopt;
    unsigned long long v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + static_cast<unsigned>(c - '0');
    }
    return v;
}

std::optional<long long> signed_decimal(std::string_view text) {
    bool negative = !text.empty() && text.front() == '-';
    auto v = decimal(negative ? text.substr(1) : text);
    if (!v || *v > 0x7FFFFFFFULL) return std::nullopt;
    return negative ? -static_cast<long long>(*v) : static_cast<long long>(*v);
}

// ---- Transfer encodings ---------------------------------------------------------

enum class Encoding { as_is, base64, quoted_printable };

std::optional<Encoding> transfer_encoding(std::string_view value) {
    if (iequals(value, "7bit") || iequals(value, "8bit") || iequals(value, "binary")) return Encoding::as_is;
    if (iequals(value, "base64")) return Encoding::base64;
    if (iequals(value, "quoted-printable")) return Encoding::quoted_printable;
    return std::nullopt;
}

std::string decode_quoted_printable(std::string_view in) {
    auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    std::string out;
    out.reserve(in.size());
    for (size_t i = 0; i < in.size(); ++i) {
        char c = in[i];
        if (c == '=') {
            if (i + 2 < in.size() && in[i + 1] == '\r' && in[i + 2] == '\n') {
                i += 2; // soft line break
                continue;
            }
            if (i + 1 < in.size() && in[i + 1] == '\n') {
                i += 1;
                continue;
            }
            if (i + 2 < in.size() && hex(in[i + 1]) >= 0 && hex(in[i + 2]) >= 0) {
                out += static_cast<char>(hex(in[i + 1]) * 16 + hex(in[i + 2]));
                i += 2;
            }
            continue; // any other '=' is dropped
        }
        auto u = static_cast<unsigned char>(c);
        if ((u >= 33 && u <= 126) || c == ' ' || c == '\t' || c == '\r' || c == '\n') out += c;
    }
    return out;
}

std::optional<std::string> decode_content(std::string_view content, Encoding encoding) {
    switch (encoding) {
    case Encoding::base64: return base64_decode(content);
    case Encoding::quoted_printable: return decode_quoted_printable(content);
    default: return std::string(content);
    }
}

// A decoded length against the announced one: equal, or one or two bytes
// more (cut off).
bool fit_length(std::string &decoded, unsigned long long announced, QZ_DWORD code, const char *step) {
    if (decoded.size() == announced) return true;
    if (decoded.size() > announced && decoded.size() - announced <= 2) {
        decoded.resize(static_cast<size_t>(announced));
        return true;
    }
    trace(step, kInit);
    report(code, static_cast<QZ_DWORD>(announced), static_cast<QZ_DWORD>(decoded.size()));
    throw DecodeError{kFailed};
}

// The boundary parameter of a multipart Content-Type: on its own line
// ("boundary=" after a blank) or on one of the header lines that follow.
std::optional<std::string> boundary_param(std::string_view type_line, std::string_view text, size_t after) {
    size_t p = type_line.find("boundary=");
    if (p != std::string_view::npos) {
        std::string v;
        for (char c : type_line.substr(p + 9))
            if (c != '"') v += c;
        while (!v.empty() && (v.back() == ';' || v.back() == ' ')) v.pop_back();
        return v;
    }
    return header_upto_empty(text, after, "boundary");
}

// ---- Header of the message --------------------------------------------------

// Finds the Content-Type that tells the message's kind and returns the flags
// (0x1 encrypted, 0x2 signed, 0x4 compressed, 0x8 confirmation); *body is the
// position after the header block (encrypted) or after the Content-Type line
// (signed). The Content-Type's announced crypt length into *crypt_length.
uint32_t read_smime_header(std::string_view text, size_t &body, unsigned long long *crypt_length,
                           Encoding *encoding, uint32_t flags, const char *function,
                           std::string_view *type_line = nullptr) {
    LineReader in(text);
    std::string_view line, value;
    uint32_t kind = 0;
    while (in.next(line)) {
        if (!line_header(line, "Content-Type", value)) continue;
        if (starts_with_nocase(value, "application/pkcs7-mime")) kind = 0x1;
        else if (starts_with_nocase(value, "multipart/signed")) kind = 0x2;
        if (kind) {
            if (type_line) *type_line = line;
            break;
        }
    }
    if (!kind) fail_format("read_smime_header", "MHD_SIGNED_DATA or MHD_ENCRYPTED_DATA", function);
    flags |= kind;
    const size_t after = in.position();
    body = after;
    if (kind == 0x2) {
        if (auto c = header_upto_empty(text, after, "X-Confirmation")) {
            if (*c == "1") flags |= 0x8;
            else if (*c == "0") flags &= ~0x8u;
        }
        return flags;
    }
    auto need = [&](const char *name) -> std::string {
        auto v = header_upto_empty(text, after, name);
        if (!v || v->empty()) fail_format(printf_string("get_varable_upto_empty(%s)", name).c_str(), name, function);
        return *v;
    };
    auto zero_or_one = [&](const char *name, uint32_t bit) {
        std::string v = need(name);
        if (v == "1") flags |= bit;
        else if (v == "0") flags &= ~bit;
        else fail_format(printf_string("get_varable_upto_empty(%s)", name).c_str(), name, function);
    };
    if (!iequals(need("smime-type"), "enveloped-data")) fail_format("smime-type", "smime-type", function);
    auto enc = transfer_encoding(need("Content-Transfer-Encoding"));
    if (!enc) fail_format("Content-Transfer-Encoding", "Content-Transfer-Encoding", function);
    if (encoding) *encoding = *enc;
    zero_or_one("X-Signed", 0x2);
    zero_or_one("X-Compressed", 0x4);
    zero_or_one("X-Confirm-Msg", 0x8);
    auto length = decimal(need("X-Crypt-Length"));
    if (!length || *length == 0) fail_format("X-Crypt-Length", "X-Crypt-Length", function);
    if (crypt_length) *crypt_length = *length;
    LineReader rest(text, after);
    bool blank = false;
    while (rest.next(line))
        if (line.empty()) {
            blank = true;
            break;
        }
    if (!blank) fail_format("empty string", "empty string", function);
    body = rest.position();
    return flags;
}

// ---- The decoding of one message -------------------------------------------

// The decrypted message, kept in the buffer the crypto library (or the
// decompressor) handed out, without a copy, and wiped when released.
class Plaintext {
public:
    Plaintext() = default;
    Plaintext(const Plaintext &) = delete;
    Plaintext &operator=(const Plaintext &) = delete;
    Plaintext(Plaintext &&o) noexcept { *this = std::move(o); }
    Plaintext &operator=(Plaintext &&o) noexcept {
        std::swap(data_, o.data_), std::swap(size_, o.size_), std::swap(crypto_, o.crypto_);
        return *this;
    }
    ~Plaintext() { release(); }
    // Takes a buffer of the crypto library (crypto != null) or of qzcom.
    void take(void *data, size_t size, CapiContext *crypto) {
        release();
        data_ = static_cast<char *>(data), size_ = size, crypto_ = crypto;
    }
    std::string_view view() const { return {data_ ? data_ : "", size_}; }
    bool empty() const { return size_ == 0; }
    void release() {
        if (!data_) return;
        explicit_bzero(data_, size_);
        if (crypto_) CCA_free(crypto_, data_);
        else QZ_Free(data_);
        data_ = nullptr, size_ = 0, crypto_ = nullptr;
    }

private:
    char *data_ = nullptr;
    size_t size_ = 0;
    CapiContext *crypto_ = nullptr;
};

class Decoder {
public:
    Decoder(MhaContext *ctx, DecoderState &state) : ctx_(ctx), s_(state), crypto_(ctx->head.NotUseSkzi == 0) {}

    int32_t run(MhaSmime *smime, uint32_t *flags, MhaResult **result, MhaSmime **inner);

private:
    void write(const std::string &text) {
        if (crypto_) s_.detail += text;
    }
    void add(uint32_t type, int level, MhaObject *object = nullptr);
    void add_description(uint32_t type, int level, MhaObject *object);
    MhaObject *new_object(uint32_t type);

    Plaintext decrypt(std::string_view message, size_t body, unsigned long long announced, Encoding enc);
    std::string_view remove_signature(std::string_view message, std::string_view type_line, size_t after_content_type);
    void parse_inner(std::string_view text);
    void parse_part(LineReader &in, std::string_view text, int level);
    void parse_description(std::string_view doc, int level);
    MhaObject *address_object(uint32_t type, std::string_view value);
    void check_message_signature(std::string_view content);
    void check_attachment_signatures();
    void print_details(size_t index);
    const std::string &attachment_hash(size_t index);
    void verify_record(const SignRecord &r, size_t walk_start, size_t sign_index);
    void save_result_detail();

    MhaContext *ctx_;
    DecoderState &s_;
    bool crypto_;
    std::string content_;   // the raw bytes of all parts in order (the sender's data file)
    std::string signature_; // the message signature
    std::vector<std::string> boundaries_;
    std::vector<std::string> hashes_; // attachment hash texts by chain index, once each
    // Where each open level's objects begin: the description's objects go
    // right after the level's start object, so that a message comes back in
    // the order its objects were given (headers, body, then the parts).
    std::vector<size_t> level_start_;
    size_t nested_start_ = 0;
    size_t description_inserted_ = 0;
};

const std::string &Decoder::attachment_hash(size_t index) {
    if (hashes_.size() < s_.chain.size()) hashes_.resize(s_.chain.size());
    std::string &h = hashes_[index];
    const MhaObject *o = s_.chain[index].object;
    if (h.empty() && !hash_text_of(ctx_, std::string_view(reinterpret_cast<char *>(o->AttachData), o->AttachLength), h,
                                   "print_details"))
        throw DecodeError{kFailed};
    return h;
}

MhaObject *Decoder::new_object(uint32_t type) {
    auto *o = static_cast<MhaObject *>(std::calloc(1, sizeof(MhaObject)));
    if (!o) throw std::bad_alloc();
    o->Type = type;
    return o;
}

void Decoder::add(uint32_t type, int level, MhaObject *object) {
    if (!object) object = new_object(type);
    try {
        s_.chain.push_back({object, level});
    } catch (...) {
        MHA_object_free(nullptr, object);
        throw;
    }
}

void Decoder::add_description(uint32_t type, int level, MhaObject *object) {
    try {
        const size_t at = level_start_.at(static_cast<size_t>(level)) + 1 + description_inserted_;
        s_.chain.insert(s_.chain.begin() + static_cast<std::ptrdiff_t>(std::min(at, s_.chain.size())), {object, level});
        ++description_inserted_;
    } catch (...) {
        MHA_object_free(nullptr, object);
        throw;
    }
    (void)type;
}

Plaintext Decoder::decrypt(std::string_view message, size_t body, unsigned long long announced, Encoding enc) {
    auto decoded = decode_content(message.substr(body), enc);
    if (!decoded) fail_format("decode(smime.p7m)", "Content-Transfer-Encoding");
    fit_length(*decoded, announced, kCryptLength, "X-Crypt-Length");
    write("[[[--- Начало расшифрования сообщения ---\r\n"_w);
    CapiContext *c = crypto(ctx_);
    MhaResult *r = s_.result;
    CapiBlob env{reinterpret_cast<unsigned char *>(decoded->data()), static_cast<uint32_t>(decoded->size())};
    SignerSerial *sender = nullptr;
    if (CCA_sender_encrypted_data(c, &env, &sender) != 0) fail_crypto(ctx_, "CCA_sender_encrypted_data");
    if (sender) {
        int32_t rc = CCA_find_cert_by_serial(c, 0, sender, &r->EncryptorCert);
        CCA_serial_free(c, sender);
        if (rc != 0) fail_crypto(ctx_, "CCA_find_cert_by_serial");
        char *name = nullptr;
        if (CCA_get_name_cert(c, r->EncryptorCert, &name) != 0) fail_crypto(ctx_, "CCA_get_name_cert");
        r->EncryptorName = copy_text(name);
        CCA_free(c, name);
        write(printf_string("%s%s\r\n", "Имя зашифровавшего: "_w, r->EncryptorName));
    }
    if (CCA_is_recipient_encrypted_data(c, &env, st(ctx_).my_serial) != 0)
        fail_crypto(ctx_, "CCA_is_recipient_encrypted_data");
    const char *owner = st(ctx_).owner_name ? st(ctx_).owner_name : "";
    write(printf_string("%s%s\r\n", "Имя получателя: "_w, owner));
    CapiBlob plain{};
    if (CCA_decrypt_mem(c, &env, st(ctx_).my_cert, r->EncryptorCert, &plain) != 0) {
        r->DecryptStatus = 1;
        fail_crypto(ctx_, "CCA_decrypt_mem");
    }
    r->DecryptStatus = 0;
    decoded.reset(); // the envelope is no longer needed
    Plaintext out;
    out.take(plain.pbData, plain.cbData, c);
    write("Статус расшифрования сообщения: УСПЕШНО\r\n"_w);
    write("--- Конец расшифрования сообщения ---]]]\r\n\r\n"_w);
    if (s_.flags & 0x4) {
        write("[[[--- Начало распаковки сообщения ---\r\n"_w);
        void *unpacked = nullptr;
        QZ_DWORD unpacked_length = 0;
        int rc = QZ_Decompress(out.view().data(), &unpacked, static_cast<QZ_DWORD>(out.view().size()), &unpacked_length);
        if (rc != 0) {
            report(kDecompress, rc);
            fail("QZ_Decompress");
        }
        const unsigned long percent =
            unpacked_length ? static_cast<unsigned long>(out.view().size() * 100ULL / unpacked_length) : 0;
        out.take(unpacked, unpacked_length, nullptr);
        write("Статус распаковки сообщения: УСПЕШНО\r\n"_w);
        write(printf_string("%s%lu %%\r\n", "Процент сжатия: "_w, percent));
        write("--- Конец распаковки сообщения ---]]]\r\n\r\n"_w);
    }
    return out;
}

std::string_view Decoder::remove_signature(std::string_view message, std::string_view type_line, size_t after) {
    constexpr const char *kFn = "delete_smime_sign";
    auto b = boundary_param(type_line, message, after);
    if (!b || b->empty()) fail_format("get_second_part(boundary)", "boundary", kFn);
    const std::string start = "--" + *b;
    LineReader in(message, after);
    std::string_view line;
    bool found = false;
    while (in.next(line))
        if (line == start) {
            found = true;
            break;
        }
    if (!found) fail_format("ismask_buf(boundary)", "boundary", kFn);
    const size_t content_begin = in.position();
    const std::string delimiter = "\r\n--" + *b;
    const size_t content_end = message.find(delimiter, content_begin);
    if (content_end == std::string_view::npos) fail_format("ismask_buf(boundary)", "boundary", kFn);
    std::string_view content = message.substr(content_begin, content_end - content_begin);
    // The signature part.
    in.seek(content_end + 2);
    in.next(line); // the delimiter line
    const size_t headers = in.position();
    auto type = header_upto_empty(message, headers, "Content-Type");
    if (!type || !starts_with_nocase(*type, "application/x-pkcs7-signature"))
        fail_format("get_varable_upto_empty(Content-Type)", "Content-Type", kFn);
    auto te = header_upto_empty(message, headers, "Content-Transfer-Encoding");
    auto enc = te ? transfer_encoding(*te) : std::nullopt;
    if (!enc) fail_format("get_varable_upto_empty(Content-Transfer-Encoding)", "Content-Transfer-Encoding", kFn);
    auto length_text = header_upto_empty(message, headers, "X-Signature-Length");
    auto announced = length_text ? decimal(*length_text) : std::nullopt;
    if (!announced) fail_format("get_varable_upto_empty(X-Signature-Length)", "X-Signature-Length", kFn);
    while (in.next(line) && !line.empty()) {
    }
    if (!line.empty()) fail_format("empty string", "empty string", kFn);
    const size_t sig_begin = in.position();
    size_t sig_end = message.find(delimiter, sig_begin);
    if (sig_end == std::string_view::npos) sig_end = message.size();
    auto sig = decode_content(message.substr(sig_begin, sig_end - sig_begin), *enc);
    if (!sig) fail_format("decode(smime.p7s)", "Content-Transfer-Encoding", kFn);
    if (sig->size() != *announced && !(sig->size() > *announced && sig->size() - *announced <= 2)) {
        trace("X-Signature-Length", kFn);
        report(kSignLength, static_cast<QZ_DWORD>(*announced), static_cast<QZ_DWORD>(sig->size()));
        throw DecodeError{kFailed};
    }
    sig->resize(static_cast<size_t>(*announced));
    signature_ = std::move(*sig);
    return content;
}

MhaObject *Decoder::address_object(uint32_t type, std::string_view value) {
    constexpr const char *kFn = "fill_address_filds";
    auto refuse = [&](const char *step) {
        trace(step, kFn);
        report(kAddressHeader, std::string(value).c_str());
        throw DecodeError{kFailed};
    };
    size_t lt = value.find('<');
    if (lt == std::string_view::npos) refuse("!lunder(<)");
    size_t gt = value.find('>', lt);
    if (gt == std::string_view::npos) refuse("!lafter(<)");
    std::string_view name = value.substr(0, lt);
    while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
    std::string_view inside = value.substr(lt + 1, gt - lt - 1);
    std::string_view kind = "SMTP", address = inside;
    size_t colon = inside.find(':');
    if (colon != std::string_view::npos) {
        kind = inside.substr(0, colon);
        address = inside.substr(colon + 1);
        if (kind.empty()) refuse("!lunder(:)");
        if (address.empty()) refuse("!lafter(:)");
    }
    if (address.empty()) refuse("!lafter(<)");
    MhaObject *o = new_object(type);
    char **f = type == MHA_OBJ_FROM ? &o->FromTypeAddress : type == MHA_OBJ_TO ? &o->ToTypeAddress : &o->CcTypeAddress;
    try {
        f[0] = copy_text(kind);
        f[1] = copy_text(from_charset(name, s_.charset));
        f[2] = copy_text(address);
    } catch (...) {
        MHA_object_free(nullptr, o);
        throw;
    }
    return o;
}

void Decoder::parse_description(std::string_view doc, int level) {
    const bool top = level == 0;
    description_inserted_ = 0;
    LineReader in(doc);
    std::string_view line, value;
    uint32_t last_address = 0;
    std::string to_text, cc_text;
    auto append = [](std::string &all, std::string_view v) {
        if (!all.empty()) all += ", ";
        all += v;
    };
    auto keep_in_result = [&](char *&field, std::string_view v) {
        if (!top || !s_.result) return;
        std::free(field);
        field = nullptr;
        field = copy_text(v);
    };
    while (true) {
        if (!in.next(line)) break;
        uint32_t type = 0;
        if (line_header(line, "From", value)) type = MHA_OBJ_FROM;
        else if (line_header(line, "To", value)) type = MHA_OBJ_TO;
        else if (line_header(line, "Cc", value)) type = MHA_OBJ_CC;
        else if (!line.empty() && line.front() == ',' && last_address) {
            type = last_address;
            value = line.substr(1);
            while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
        }
        if (type) {
            last_address = type;
            MhaObject *o = address_object(type, value);
            if (type == MHA_OBJ_FROM && s_.sender_address.empty())
                s_.sender_address = std::string(o->FromAddress).substr(0, 4096);
            add_description(type, level, o);
            if (type == MHA_OBJ_FROM && s_.result && top && !s_.result->FromText) keep_in_result(s_.result->FromText, value);
            if (type == MHA_OBJ_TO) append(to_text, value);
            if (type == MHA_OBJ_CC) append(cc_text, value);
            continue;
        }
        last_address = 0;
        if (line_header(line, "Date", value)) {
            auto t = parse_gmt_date(value);
            if (!t) {
                trace("goto", "convert_file_time");
                report(kFileTime);
                throw DecodeError{kFailed};
            }
            MhaObject *o = new_object(MHA_OBJ_DATE);
            uint64_t ft = time_to_filetime(*t);
            o->SendDate = {static_cast<uint32_t>(ft), static_cast<uint32_t>(ft >> 32)};
            add_description(MHA_OBJ_DATE, level, o);
            if (s_.result) keep_in_result(s_.result->DateText, value);
        } else if (line_header(line, "Subject", value)) {
            const std::string subject = from_charset(value, s_.charset);
            MhaObject *o = new_object(MHA_OBJ_SUBJECT);
            add_description(MHA_OBJ_SUBJECT, level, o);
            o->Subject = copy_text(subject);
            if (s_.result) keep_in_result(s_.result->Subject, subject);
        } else if (line_header(line, "Mime-Body-Html-Base64", value)) {
            auto n = decimal(value);
            const size_t rest = doc.size() - in.position();
            if (!n || *n == 0 || *n > rest) continue;
            auto html = base64_decode(doc.substr(in.position(), static_cast<size_t>(*n)));
            in.seek(in.position() + static_cast<size_t>(*n));
            if (!html) fail_format("Mime-Body-Html-Base64", "Mime-Body-Html-Base64");
            const std::string text = from_charset(*html, s_.charset);
            MhaObject *o = new_object(MHA_OBJ_HTML);
            add_description(MHA_OBJ_HTML, level, o);
            o->HtmlData = copy_bytes(text);
            o->HtmlLength = static_cast<uint32_t>(text.size());
        } else if (line_header(line, "Body", value)) {
            const size_t body_start = in.position();
            const std::string body = from_charset(doc.substr(std::min(body_start, doc.size())), s_.charset);
            MhaObject *o = new_object(MHA_OBJ_BODY);
            add_description(MHA_OBJ_BODY, level, o);
            o->Body = copy_text(body);
            o->BodyLength = static_cast<uint32_t>(body.size());
            break;
        }
    }
    if (top && s_.result) {
        if (!to_text.empty()) keep_in_result(s_.result->ToText, to_text);
        if (!cc_text.empty()) keep_in_result(s_.result->CcText, cc_text);
    }
}

void Decoder::parse_part(LineReader &in, std::string_view text, int level) {
    const size_t headers = in.position();
    auto need = [&](const char *name) {
        auto v = header_upto_empty(text, headers, name);
        if (!v) fail_format(printf_string("get_varable_upto_empty(%s)", name).c_str(), name);
        return *v;
    };
    auto enc = transfer_encoding(need("Content-Transfer-Encoding"));
    if (!enc) fail_format("Content-Transfer-Encoding", "Content-Transfer-Encoding");
    auto announced = decimal(need("X-Attachment-Length"));
    if (!announced) fail_format("X-Attachment-Length", "X-Attachment-Length");
    auto raw_name = hex_bytes(need("X-Attachment-Name"));
    if (!raw_name) fail_format("X-Attachment-Name", "X-Attachment-Name");
    long long position = -1, method = 1;
    if (auto v = header_upto_empty(text, headers, "X-Rendering-Position")) position = signed_decimal(*v).value_or(-1);
    if (auto v = header_upto_empty(text, headers, "X-Method")) method = signed_decimal(*v).value_or(1);
    std::string content_id;
    if (auto v = header_upto_empty(text, headers, "X-Attachment-Content-Id")) {
        auto id = hex_bytes(*v);
        if (!id) fail_format("X-Attachment-Content-Id", "X-Attachment-Content-Id");
        content_id = from_charset(*id, s_.charset);
    }
    std::string_view line;
    bool blank = false;
    while (in.next(line))
        if (line.empty()) {
            blank = true;
            break;
        }
    if (!blank) fail_format("empty string", "empty string");
    const size_t begin = in.position();
    const size_t end = text.find("\r\n--" + boundaries_[static_cast<size_t>(level)], begin);
    if (end == std::string_view::npos) fail_format("ismask_buf(BoundaryDecode)", "BoundaryDecode");
    auto data = decode_content(text.substr(begin, end - begin), *enc);
    if (!data) fail_format("decode(attachment)", "Content-Transfer-Encoding");
    fit_length(*data, *announced, kAttachLength, "X-Attachment-Length");
    in.seek(end + 2);
    content_ += *data;

    if (*raw_name == "$Tarmin-Message$.txt") {
        parse_description(*data, level);
        return;
    }
    std::string name = from_charset(*raw_name, s_.charset);
    if (iequals(name, "TMNSIGN.TMS") && data->size() > 12) {
        const std::string charset = s_.charset;
        *data = convert_attachment_names(*data, [&](std::string_view v) { return from_charset(v, charset); });
    }
    MhaObject *o = new_object(MHA_OBJ_ATTACHMENT);
    add(MHA_OBJ_ATTACHMENT, level, o);
    o->AttachMethod = static_cast<uint32_t>(method);
    o->AttachRenderingPosition = static_cast<int32_t>(position);
    o->AttachName = copy_text(name);
    o->AttachContentId = copy_text(content_id);
    o->AttachData = copy_bytes(*data);
    o->AttachLength = static_cast<uint32_t>(data->size());
}

void Decoder::parse_inner(std::string_view text) {
    LineReader in(text);
    std::string_view line, value;
    int level = -1;
    add(MHA_OBJ_START, 0);
    while (in.next(line)) {
        if (line.empty()) continue;
        if (line_header(line, "X-Confirmation", value)) {
            if (value == "1") s_.flags |= 0x8;
            else s_.flags &= ~0x8u;
            continue;
        }
        if (line_header(line, "X-Charset", value)) {
            s_.charset = std::string(value);
            continue;
        }
        if (!line_header(line, "Content-Type", value)) continue;
        if (starts_with_nocase(value, "multipart/mixed")) {
            auto b = boundary_param(line, text, in.position());
            if (!b || b->empty()) fail_format("get_varable_upto_empty(boundary)", "boundary");
            if (level + 1 >= kLevels) fail_format("ObjectLevel >= 128", "BoundaryDecode");
            ++level;
            boundaries_.resize(static_cast<size_t>(level) + 1);
            boundaries_[static_cast<size_t>(level)] = *b;
            level_start_.resize(static_cast<size_t>(level) + 1);
            level_start_[static_cast<size_t>(level)] = level == 0 ? 0 : nested_start_;
        } else if (starts_with_nocase(value, "application/octet-stream")) {
            if (level < 0) fail_format("ismask_buf(BoundaryDecode)", "BoundaryDecode");
            parse_part(in, text, level);
        } else if (starts_with_nocase(value, "message/rfc822")) {
            if (level < 0) fail_format("ismask_buf(BoundaryDecode)", "BoundaryDecode");
            auto position = header_upto_empty(text, in.position(), "X-Rendering-Position");
            if (!position) fail_format("get_varable_upto_empty(X-Rendering-Position)", "X-Rendering-Position");
            if (!header_upto_empty(text, in.position(), "X-Method"))
                fail_format("get_varable_upto_empty(X-Method)", "X-Method");
            MhaObject *o = new_object(MHA_OBJ_NESTED_START);
            nested_start_ = s_.chain.size();
            add(MHA_OBJ_NESTED_START, level + 1, o);
            o->NestedRenderingPosition = static_cast<int32_t>(signed_decimal(*position).value_or(0));
        } else if (starts_with_nocase(value, "text/plain")) {
            if (level < 0) fail_format("ismask_buf(BoundaryDecode)", "BoundaryDecode");
            while (in.next(line) && !line.empty()) {
            }
            const std::string closing = "--" + boundaries_[static_cast<size_t>(level)];
            size_t at = text.find(closing, in.position());
            if (at == std::string_view::npos) fail_format("ismask_buf(BoundaryDecode)", "BoundaryDecode");
            size_t after = at + closing.size();
            if (text.compare(after, 2, "--") == 0) after += 2;
            if (text.compare(after, 2, "\r\n") == 0) after += 2;
            else if (text.compare(after, 1, "\n") == 0) after += 1;
            in.seek(after);
            if (level > 0) add(MHA_OBJ_NESTED_END, level);
            --level;
        }
    }
    add(MHA_OBJ_END, 0);
}

void Decoder::check_message_signature(std::string_view content) {
    CapiContext *c = crypto(ctx_);
    MhaResult *r = s_.result;
    CapiBlob sig{reinterpret_cast<unsigned char *>(signature_.data()), static_cast<uint32_t>(signature_.size())};
    SignerSerial *serial = nullptr;
    int64_t sign_time = 0;
    if (CCA_sender_signed_data(c, &sig, &serial, &sign_time) != 0) fail_crypto(ctx_, "CCA_sender_signed_data", "check_smime_sign");
    PCCERT_CONTEXT cert = nullptr;
    int32_t rc = CCA_find_cert_by_serial(c, 0, serial, &cert);
    CCA_serial_free(c, serial);
    write("[[[--- Начало проверки подписи сообщения ---\r\n"_w);
    if (rc != 0) {
        report_crypto(c, "CCA_find_cert_by_serial", "check_smime_sign");
        r->SignStatus = 2;
    } else {
        const uint32_t input_flags = st(ctx_).settings.input_flags;
        if (input_flags & 0x100u) {
            int32_t in_cert = 0;
            if (CCA_is_address_in_cert(c, s_.sender_address.c_str(), cert, &in_cert) != 0) in_cert = 0;
            if (!in_cert) {
                if (!(input_flags & 0x4000u)) {
                    CCA_cert_free(c, cert);
                    trace("(!IsAddrInCert)", "check_smime_sign");
                    report(kAddressNotInCert, s_.sender_address.c_str());
                    throw DecodeError{kFailed};
                }
                QZ_ReportEvent(QZ_LEVEL_DETAIL, kAddressNotInCert, s_.sender_address.c_str());
                QZ_ShowReports(nullptr, 1);
            }
        }
        r->SignerCert = cert;
        char *name = nullptr;
        if (CCA_get_name_cert(c, cert, &name) != 0) fail_crypto(ctx_, "CCA_get_name_cert", "check_smime_sign");
        r->SignerName = copy_text(name);
        CCA_free(c, name);
        write(printf_string("%s%s\r\n", "Имя подписавшего сообщение: "_w, r->SignerName));
        write(printf_string("%s%s\r\n", "Время выполнения подписи: "_w,
                            gmt_date(filetime_to_time(static_cast<uint64_t>(sign_time))).c_str()));
        CapiBlob data{reinterpret_cast<unsigned char *>(const_cast<char *>(content.data())),
                      static_cast<uint32_t>(content.size())};
        CheckResult check{};
        if (CCA_check_mem_sep(c, &data, &sig, cert, &check) != 0) {
            // The crypto library says why: a signature that does not match is
            // "wrong", anything else an error of the check.
            r->SignStatus = CCA_get_code_error(c) == 0x4018 ? 1 : (check.Status > 0 && check.Status < 4 ? check.Status : 4);
            report_crypto(c, "CCA_check_mem_sep", "check_smime_sign");
        } else {
            r->SignStatus = check.Status < 0 || check.Status > 4 ? 4 : check.Status;
            r->CheckValue = check.SignTime;
        }
        CCA_cert_free(c, check.SignerCert);
    }
    static const char *const kLines[] = {
        "Статус проверки подписи сообщения: УСПЕШНО\r\n"_w,
        "Статус проверки подписи сообщения: ПОДПИСЬ НЕ ВЕРНА\r\n"_w,
        "Статус проверки подписи сообщения: НЕ НАЙДЕН СЕРТИФИКАТ ПОДПИСАВШЕГО\r\n"_w,
        "Статус проверки подписи сообщения: ОШИБКА ПРОВЕРКИ СЕРТИФИКАТА ПОДПИСАВШЕГО\r\n"_w,
        "Статус проверки подписи сообщения: ОШИБКА ПРОВЕРКИ ПОДПИСИ\r\n"_w,
    };
    write(kLines[r->SignStatus]);
    write("--- Конец проверки подписи сообщения ---]]]\r\n\r\n"_w);
    if (r->SignStatus != 0) {
        trace("(Check.Status != CCD_CORRECT)", "check_smime_sign");
        report(kSignatureFailed, r->SignerName ? r->SignerName : "", r->SignStatus);
    }
}

void Decoder::print_details(size_t index) {
    const MhaObject *o = s_.chain[index].object;
    switch (o->Type) {
    case MHA_OBJ_START: write("<<<--- Начало основного сообщения ---\r\n\r\n"_w); break;
    case MHA_OBJ_END: write("--- Конец основного сообщения --->>>\r\n\r\n"_w); break;
    case MHA_OBJ_NESTED_START: write("<<<--- Начало вложенного сообщения ---\r\n\r\n"_w); break;
    case MHA_OBJ_NESTED_END: write("--- Конец вложенного сообщения --->>>\r\n\r\n"_w); break;
    case MHA_OBJ_ATTACHMENT: {
        const std::string &hash = attachment_hash(index);
        write(printf_string("%s%s\r\n", "Имя вложения: "_w, o->AttachName));
        write(printf_string("%s%lu\r\n", "Длина вложения: "_w, static_cast<unsigned long>(o->AttachLength)));
        write("Хэш-функция вложения: "_w + hash + "\r\n\r\n");
        break;
    }
    case MHA_OBJ_FROM:
        write(std::string("Отправитель:"_w) + " " + o->FromName + " <" + o->FromTypeAddress + ":" + o->FromAddress + ">\r\n");
        break;
    case MHA_OBJ_TO:
        write(std::string("Получатель:"_w) + " " + o->ToName + " <" + o->ToTypeAddress + ":" + o->ToAddress + ">\r\n");
        break;
    case MHA_OBJ_CC:
        write(std::string("Копия: "_w) + o->CcName + " <" + o->CcTypeAddress + ":" + o->CcAddress + ">\r\n");
        break;
    case MHA_OBJ_DATE: {
        uint64_t ft = (uint64_t(o->SendDate.dwHighDateTime) << 32) | o->SendDate.dwLowDateTime;
        write("Дата отправления: "_w + gmt_date(filetime_to_time(ft)) + "\r\n");
        break;
    }
    case MHA_OBJ_SUBJECT: write(std::string("Тема:"_w) + " " + o->Subject + "\r\n"); break;
    default: break;
    }
}

// Enters an attachment signer into the result's list (a signer already
// listed keeps its first non-zero status).
void add_cert_to_chain(MhaContext *ctx, MhaResult *r, PCCERT_CONTEXT cert, const char *name, int32_t status) {
    CapiContext *c = crypto(ctx);
    for (MhaAttachSigner *n = r->AttachSigners; n; n = n->next) {
        int32_t differs = 1;
        if (n->SignerName && name && std::strcmp(n->SignerName, name) == 0) differs = 0;
        if (!differs) {
            if (n->Status == 0) n->Status = status;
            CCA_cert_free(c, cert);
            return;
        }
    }
    auto *node = static_cast<MhaAttachSigner *>(std::calloc(1, sizeof(MhaAttachSigner)));
    if (!node) {
        CCA_cert_free(c, cert);
        throw std::bad_alloc();
    }
    node->Status = status;
    node->SignerCert = cert;
    node->SignerName = strdup(name ? name : "");
    MhaAttachSigner **tail = &r->AttachSigners;
    while (*tail) tail = &(*tail)->next;
    *tail = node;
    if (!node->SignerName) throw std::bad_alloc();
}

void Decoder::verify_record(const SignRecord &rec, size_t walk_start, size_t sign_index) {
    CapiContext *c = crypto(ctx_);
    write("[[[--- Начало проверки подписи вложения ---\r\n"_w);
    write("Наименование вложения: "_w + rec.name + "\r\n");
    CapiBlob sig{reinterpret_cast<unsigned char *>(const_cast<char *>(rec.signature.data())),
                 static_cast<uint32_t>(rec.signature.size())};
    SignerSerial *serial = nullptr;
    int64_t sign_time = 0;
    PCCERT_CONTEXT cert = nullptr;
    std::string signer = "Unknown";
    int32_t status = -1;
    if (CCA_sender_signed_data(c, &sig, &serial, &sign_time) != 0) {
        report_crypto(c, "CCA_sender_signed_data", "check_objects_in_chain");
        status = 4;
    } else {
        int32_t rc = CCA_find_cert_by_serial(c, 0, serial, &cert);
        CCA_serial_free(c, serial);
        char *name = nullptr;
        if (rc != 0) {
            report_crypto(c, "CCA_find_cert_by_serial", "check_objects_in_chain");
            status = 2;
            cert = nullptr;
        } else if (CCA_get_name_cert(c, cert, &name) == 0) {
            signer = name;
            CCA_free(c, name);
        }
        write("Имя подписавшего вложение: "_w + signer + "\r\n");
        write("Время выполнения подписи: "_w + gmt_date(filetime_to_time(static_cast<uint64_t>(sign_time))) + "\r\n");
    }
    const int level = s_.chain[sign_index].level;
    bool name_found = false;
    const MhaObject *signed_object = nullptr;
    std::string hash;
    for (size_t i = walk_start; i < sign_index && status < 0; ++i) {
        const ChainEntry &e = s_.chain[i];
        if (e.level != level || e.object->Type != MHA_OBJ_ATTACHMENT || is_sign_file_name(e.object->AttachName)) continue;
        if (rec.name != e.object->AttachName) continue;
        name_found = true;
        const std::string &h = attachment_hash(i);
        if (h == rec.hash) {
            signed_object = e.object;
            hash = h;
            break;
        }
    }
    if (status < 0 && !signed_object) {
        write(name_found ? "Статус проверки подписи вложения: НАРУШЕНА ЦЕЛОСТНОСТЬ ПОДПИСАННОГО ВЛОЖЕНИЯ\r\n"_w
                         : "Статус проверки подписи вложения: НЕ НАЙДЕНО ПОДПИСАННОЕ ВЛОЖЕНИЕ\r\n"_w);
        s_.attach_sign_failed = true;
        CCA_cert_free(c, cert);
    } else if (status < 0) {
        write(printf_string("%s%lu\r\n", "Длина вложения: "_w, static_cast<unsigned long>(signed_object->AttachLength)));
        write("Хэш-функция вложения: "_w + hash + "\r\n");
        CapiBlob data{signed_object->AttachData, signed_object->AttachLength};
        CheckResult check{};
        if (CCA_check_mem_sep(c, &data, &sig, cert, &check) != 0) {
            status = CCA_get_code_error(c) == 0x4018 ? 1 : 4;
            report_crypto(c, "CCA_check_mem_sep", "check_objects_in_chain");
        } else {
            status = check.Status < 0 || check.Status > 4 ? 4 : check.Status;
        }
        CCA_cert_free(c, check.SignerCert);
        if (status == 0 && (s_.flags & MHD_KEEP_RESULT)) {
            const std::string bytes(reinterpret_cast<char *>(signed_object->AttachData), signed_object->AttachLength);
            if (!archive_data_and_sign(ctx_, Direction::incoming, signed_object->AttachName, &bytes, &rec.signature,
                                       signer))
                trace("archive_data_and_sign", "check_objects_in_chain");
        }
        add_cert_to_chain(ctx_, s_.result, cert, signer.c_str(), status);
    } else {
        add_cert_to_chain(ctx_, s_.result, cert, signer.c_str(), status);
    }
    if (status >= 0) {
        static const char *const kLines[] = {
            "Статус проверки подписи вложения: УСПЕШНО\r\n"_w,
            "Статус проверки подписи вложения: ПОДПИСЬ НЕ ВЕРНА\r\n"_w,
            "Статус проверки подписи вложения: НЕ НАЙДЕН СЕРТИФИКАТ ПОДПИСАВШЕГО\r\n"_w,
            "Статус проверки подписи вложения: ОШИБКА ПРОВЕРКИ СЕРТИФИКАТА ПОДПИСАВШЕГО\r\n"_w,
            "Статус проверки подписи вложения: ОШИБКА ПРОВЕРКИ ПОДПИСИ\r\n"_w,
        };
        write(kLines[status]);
        if (status != 0) s_.attach_sign_failed = true;
    }
    write("--- Конец проверки подписи вложения ---]]]\r\n\r\n"_w);
}

void Decoder::check_attachment_signatures() {
    std::vector<std::pair<std::string, std::string>> seen; // (name, hash) of records verified
    // Where the search for signed attachments starts, per level: after that
    // level's previous signature file (a nested message's signature file in
    // between does not hide the attachments of the level around it).
    std::vector<size_t> walk_start(kLevels + 1, 0);
    for (size_t i = 0; i < s_.chain.size(); ++i) {
        const ChainEntry &e = s_.chain[i];
        print_details(i);
        if (e.object->Type != MHA_OBJ_ATTACHMENT || !is_sign_file_name(e.object->AttachName)) continue;
        auto records = read_sign_file(std::string_view(reinterpret_cast<char *>(e.object->AttachData), e.object->AttachLength));
        const size_t level = static_cast<size_t>(std::clamp(e.level, 0, kLevels));
        for (const SignRecord &r : records) {
            bool repeated = false;
            for (const auto &[n, h] : seen)
                if (n == r.name && h == r.hash) repeated = true;
            if (repeated) continue;
            seen.emplace_back(r.name, r.hash);
            verify_record(r, walk_start[level], i);
        }
        walk_start[level] = i + 1;
    }
}

void Decoder::save_result_detail() {
    const Settings &set = st(ctx_).settings;
    auto dir = dated_directory(set.results_path, set.results_sort);
    if (!dir) {
        QZ_ShowReports(nullptr, 1);
        QZ_ClearReports(2);
        return;
    }
    std::string subject = s_.result->Subject ? s_.result->Subject : "null";
    if (subject.size() > 252) subject.resize(252);
    std::string path = *dir + safe_file_name(subject);
    if (path.size() > 245) path.resize(245);
    const std::string candidate = free_name(path + ".tmd");
    if (!write_to_file(candidate, s_.detail)) trace("write_to_file", "save_result_detail");
}

int32_t Decoder::run(MhaSmime *smime, uint32_t *flags, MhaResult **result, MhaSmime **inner) {
    std::string_view message(reinterpret_cast<const char *>(smime->Data), smime->Length);
    s_.flags = *flags & ~0xFu;
    s_.crypto = crypto(ctx_);
    // The hash the sender announced, for the host.
    {
        size_t p = message.find("X-Message-Hash:");
        if (p != std::string_view::npos) {
            p += 15;
            size_t lf = message.find('\n', p);
            size_t with_end = (lf == std::string_view::npos ? message.size() : lf + 1) - p;
            if (with_end >= 9 && with_end <= 127) {
                std::string_view v = message.substr(p, with_end);
                size_t b = v.find_first_not_of(" \t\r\n"), e = v.find_last_not_of(" \t\r\n");
                if (b != std::string_view::npos) {
                    v = v.substr(b, e - b + 1);
                    std::memset(smime->Hash, 0, sizeof smime->Hash);
                    std::memcpy(smime->Hash, v.data(), std::min(v.size(), sizeof smime->Hash - 1));
                    smime->HashLength = static_cast<uint32_t>(std::min(v.size(), sizeof smime->Hash - 1));
                }
            }
        }
    }
    if (crypto_) {
        if (!set_archive_mode(ctx_)) fail("set_archive_mode");
        if (!set_result_detail_mode(ctx_)) fail("set_result_detail_mode");
        if (!set_flag_auto_mode(ctx_)) fail("set_flag_auto_mode");
    }
    size_t body = 0;
    unsigned long long crypt_length = 0;
    Encoding crypt_encoding = Encoding::as_is;
    std::string_view type_line;
    s_.flags = read_smime_header(message, body, &crypt_length, &crypt_encoding, s_.flags, kInit, &type_line);
    const bool encrypted = s_.flags & MHD_ENCRYPTED_DATA;
    if (encrypted && !crypto_) {
        trace("(ctx->NotUseSkzi)", kInit);
        report(kNoCrypto);
        throw DecodeError{kFailed};
    }
    if (crypto_ && encrypted && (st(ctx_).settings.input_flags & 0x80u) && !(s_.flags & MHD_SIGNED_DATA)) {
        trace("!(ctx->InSmimeFlag & MHD_SIGNED_DATA)", kInit);
        report(kUnsigned);
        throw DecodeError{kFailed};
    }
    if (crypto_) {
        s_.result = static_cast<MhaResult *>(std::calloc(1, sizeof(MhaResult)));
        if (!s_.result) throw std::bad_alloc();
        s_.result->DecryptStatus = -1;
        s_.result->SignStatus = -1;
    }
    Plaintext decrypted;
    std::string_view text = message;
    size_t after_type = body;
    if (encrypted) {
        decrypted = decrypt(message, body, crypt_length, crypt_encoding);
        text = decrypted.view();
        if (s_.flags & MHD_SIGNED_DATA) {
            if (s_.flags & MHD_RETURN_INNER) {
                auto *in = static_cast<MhaSmime *>(std::calloc(1, sizeof(MhaSmime)));
                if (!in) throw std::bad_alloc();
                in->Data = copy_bytes(decrypted.view());
                in->Length = static_cast<uint32_t>(decrypted.view().size());
                *inner = in;
            }
            uint32_t inner_flags = read_smime_header(text, after_type, nullptr, nullptr, 0, kInit, &type_line);
            if ((inner_flags & 0x3) != MHD_SIGNED_DATA) fail_format("read_smime_header", "MHD_SIGNED_DATA");
        }
    }
    std::string_view content_text = text;
    if (s_.flags & MHD_SIGNED_DATA) content_text = remove_signature(text, type_line, after_type);
    else if (encrypted) content_text = text;
    parse_inner(content_text);
    decrypted.release();
    if (!crypto_) return 0;

    std::string hash;
    if (!hash_text_of(ctx_, content_, hash, kInit)) throw DecodeError{kFailed};
    write("Хэш-функция сообщения:"_w + std::string(" ") + hash + "\r\n");
    if (s_.flags & MHD_SIGNED_DATA) {
        if (!(s_.flags & MHD_NO_MESSAGE_CHECK)) {
            check_message_signature(content_);
            if (s_.result->SignStatus != 0) {
                // The result tells why; the objects are not handed out.
                for (ChainEntry &e : s_.chain) MHA_object_free(nullptr, e.object);
                s_.chain.clear();
                s_.result->ResultDetail = copy_text(s_.detail);
                *result = s_.result;
                s_.result = nullptr;
                return 1;
            }
        }
        if (!(s_.flags & MHD_NO_ATTACH_CHECK)) check_attachment_signatures();
        else
            for (size_t i = 0; i < s_.chain.size(); ++i) print_details(i);
    } else {
        for (size_t i = 0; i < s_.chain.size(); ++i) print_details(i);
    }
    s_.result->ResultDetail = copy_text(s_.detail);
    if ((s_.flags & MHD_KEEP_RESULT) && (st(ctx_).settings.input_flags & 0x10u)) save_result_detail();
    if (s_.attach_sign_failed) s_.result->SignStatus = 1;
    *result = s_.result;
    s_.result = nullptr;
    return s_.attach_sign_failed ? 1 : 0;
}

} // namespace

extern "C" {

int32_t MHA_decode_init(MhaContext *ctx, MhaSmime *smime, uint32_t *flags, MhaResult **result, MhaSmime **inner) {
    if (result) *result = nullptr;
    if (inner) *inner = nullptr;
    if (!ctx || !smime || !flags || !result || (!smime->Data && smime->Length)) return kFailed;
    MhaSmime *inner_message = nullptr;
    int32_t rc = guarded(kInit, [&]() -> int32_t {
        st(ctx).dec.reset(new DecoderState);
        DecoderState &s = *st(ctx).dec;
        try {
            Decoder d(ctx, s);
            int32_t r = d.run(smime, flags, result, &inner_message);
            *flags = s.flags;
            return r;
        } catch (const DecodeError &e) {
            *flags = s.flags;
            return e.status;
        }
    });
    if (rc != 0 && rc != 1) {
        // Nothing is handed out after a failure.
        st(ctx).dec.reset();
        if (*result) {
            MHA_result_free(ctx, *result);
            *result = nullptr;
        }
        MHA_smime_free(ctx, inner_message);
        return rc;
    }
    if (rc == 1 && st(ctx).dec) {
        for (ChainEntry &e : st(ctx).dec->chain) MHA_object_free(nullptr, e.object);
        st(ctx).dec->chain.clear();
    }
    if (inner) *inner = inner_message;
    else MHA_smime_free(ctx, inner_message);
    return rc;
}

int32_t MHA_decode_extract(MhaContext *ctx, MhaObject **object) {
    if (object) *object = nullptr;
    if (!ctx || !object) return kFailed;
    return guarded("MHA_decode_extract", [&]() -> int32_t {
        if (!st(ctx).dec) return 0;
        DecoderState &s = *st(ctx).dec;
        while (s.read_position < s.chain.size()) {
            ChainEntry &e = s.chain[s.read_position++];
            MhaObject *o = e.object;
            if (!o) continue;
            e.object = nullptr;
            if ((s.flags & MHD_SKIP_SIGN_FILES) && o->Type == MHA_OBJ_ATTACHMENT && is_sign_file_name(o->AttachName)) {
                MHA_object_free(ctx, o);
                continue;
            }
            *object = o;
            break;
        }
        return 0;
    });
}

int32_t MHA_decode_final(MhaContext *ctx) {
    if (!ctx) return 0;
    guarded("MHA_decode_final", [&]() -> int32_t {
        st(ctx).dec.reset();
        st(ctx).settings.archive_out.clear();
        st(ctx).settings.archive_in.clear();
        return 0;
    });
    return 0;
}

int32_t MHA_smime_info(MhaContext *ctx, MhaSmime *smime, uint32_t *flags) {
    if (flags) *flags = 0;
    if (!ctx || !smime || !flags || (!smime->Data && smime->Length)) return kFailed;
    return guarded("MHA_smime_info", [&]() -> int32_t {
        std::string_view message(reinterpret_cast<const char *>(smime->Data), smime->Length);
        size_t body = 0;
        try {
            *flags = read_smime_header(message, body, nullptr, nullptr, 0, "MHA_smime_info");
        } catch (const DecodeError &) {
            trace("read_smime_header", "MHA_smime_info");
            return kFailed;
        }
        return 0;
    });
}

int32_t MHA_get_smime_from_tnef(MhaContext *ctx, const CapiBlob *tnef, MhaSmime *smime, uint32_t *flags) {
    if (flags) *flags = 0;
    if (!ctx || !tnef || !smime || !flags || !tnef->pbData) return 0;
    guarded("MHA_get_smime_from_tnef", [&]() -> int32_t {
        std::string_view blob(reinterpret_cast<const char *>(tnef->pbData), tnef->cbData);
        size_t start = blob.find("MIME-Version: 1.0");
        if (start == std::string_view::npos) start = blob.find("Content-Type:");
        if (start == std::string_view::npos) return 0;
        uint32_t length = 0;
        if (start >= 4)
            for (int i = 3; i >= 0; --i) length = length << 8 | static_cast<unsigned char>(blob[start - 4 + static_cast<size_t>(i)]);
        if (length > blob.size() - start) return 0;
        std::memset(smime, 0, sizeof *smime);
        // The record points into the host's blob; the host keeps it alive.
        smime->Data = tnef->pbData + start;
        smime->Length = length;
        size_t body = 0;
        try {
            *flags = read_smime_header(blob.substr(start, length), body, nullptr, nullptr, 0, "MHA_get_smime_from_tnef");
        } catch (const DecodeError &) {
            std::memset(smime, 0, sizeof *smime);
            *flags = 0;
        }
        return 0;
    });
    return 0;
}

} // extern "C"

namespace {

// The signed file of an attachment: its content, then every signature of the
// same level's signature files that names it and its hash.
bool make_signed_file(MhaContext *ctx, DecoderState &s, size_t index, std::string &out) {
    constexpr const char *kFn = "MHA_decode_extract_tmnfile";
    const MhaObject *o = s.chain[index].object;
    const int level = s.chain[index].level;
    std::string_view data(reinterpret_cast<const char *>(o->AttachData), o->AttachLength);
    std::string hash;
    if (!hash_text_of(ctx, data, hash, kFn)) return false;
    WorkFile file;
    if (!file.create("TMF", kFn, crypto(ctx))) return false;
    bool ok = file.write(printf_string("Length-File:%lu\r\nFile-Data:\r\n", static_cast<unsigned long>(data.size()))) &&
              file.write(data);
    for (size_t i = 0; ok && i < s.chain.size(); ++i) {
        const MhaObject *f = s.chain[i].object;
        if (!f || s.chain[i].level != level || f->Type != MHA_OBJ_ATTACHMENT || !is_sign_file_name(f->AttachName))
            continue;
        for (const SignRecord &r : read_sign_file(std::string_view(reinterpret_cast<char *>(f->AttachData), f->AttachLength))) {
            if (!iequals(r.name, o->AttachName) || r.hash != hash) continue;
            std::string entry = "Name-Signer:" + r.signer + "\r\n";
            entry += "Signer-Type-Address:" + (r.has_type ? r.type : std::string("Empty")) + "\r\n";
            entry += "Signer-Address:" + (r.has_address ? r.address : std::string("Empty")) + "\r\n";
            entry += "Length-Sign:" + std::to_string(r.signature.size()) + "\r\nSign:\r\n";
            entry += r.signature;
            ok = file.write(entry);
        }
    }
    if (!ok || !file.save_and_close(out)) {
        trace("save_tempfile", kFn);
        return false;
    }
    return true;
}

} // namespace

extern "C" int32_t MHA_decode_extract_tmnfile(MhaContext *ctx, MhaObject **object) {
    if (object) *object = nullptr;
    if (!ctx || !object) return kFailed;
    return guarded("MHA_decode_extract_tmnfile", [&]() -> int32_t {
        if (refuse_without_crypto(ctx, "MHA_decode_extract_tmnfile")) return kFailed;
        if (!st(ctx).dec) return 0;
        DecoderState &s = *st(ctx).dec;
        while (s.read_position < s.chain.size()) {
            const size_t index = s.read_position;
            MhaObject *o = s.chain[index].object;
            ++s.read_position;
            if (!o) continue;
            if (o->Type == MHA_OBJ_ATTACHMENT && is_sign_file_name(o->AttachName)) continue; // kept for the others
            if (o->Type == MHA_OBJ_ATTACHMENT) {
                std::string signed_file;
                if (!make_signed_file(ctx, s, index, signed_file)) {
                    --s.read_position;
                    return kFailed;
                }
                unsigned char *data = copy_bytes(signed_file);
                std::free(o->AttachData);
                o->AttachData = data;
                o->AttachLength = static_cast<uint32_t>(signed_file.size());
            }
            s.chain[index].object = nullptr;
            *object = o;
            break;
        }
        return 0;
    });
}

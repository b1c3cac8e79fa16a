// The S/MIME encoder: message objects in, the text of a multipart message with
// the suite's X- headers out, optionally signed as multipart/signed and
// enveloped for the recipients.
//
// Everything is streamed into work files as it arrives: the output file
// ("TMN"), the data file ("TMB": the raw bytes of every part in output order,
// which the message hash and signature cover), one description document per
// nesting level ("TMA") and the signature file of a level ("TMS").
#include <cinttypes>
#include <functional>
#include <memory>
#include <stdexcept>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/codepage.h"
#include "smime/archive.h"
#include "smime/certs.h"
#include "smime/context.h"
#include "smime/hooks.h"
#include "smime/mime_text.h"
#include "smime/report.h"
#include "smime/settings.h"
#include "smime/signfile.h"

using namespace tarmin::smime;

namespace tarmin::smime {

void release_encoder(MhaContext *ctx) {
    EncoderState &e = st(ctx).enc;
    e.output.release();
    e.data.release();
    for (WorkFile &f : e.level_files) f.release();
    e.signs.clear();
    e.sender = {};
    e.recipients.clear();
    for (PCCERT_CONTEXT c : e.recipient_certs) CCA_cert_free(crypto(ctx), c);
    e.recipient_certs.clear();
    e.boundary_stamp.clear();
    e.level = 0;
    e.collect = false;
}

} // namespace tarmin::smime

namespace {

constexpr const char *kAdd = "MHA_encode_add";
constexpr const char *kFinal = "MHA_encode_final";
constexpr const char *kDescriptionName = "$Tarmin-Message$.txt";
constexpr const char *kSignFileName = "TMNSIGN.TMS";
// A header line that carries a name, an address or a subject is built in a
// work buffer of this size; longer texts are refused as a format error (the
// decoder reads lines of at most this length too).
constexpr size_t kMaxHeaderLine = 4096;
// Attachments are base64-encoded in pieces of this many bytes (a multiple of
// 48, so the lines come out as if encoded at once).
constexpr size_t kBase64Piece = 48 * 8192;


std::string boundary(const EncoderState &e, int level) {
    return printf_string("----_=_NextPart_%03X_", static_cast<unsigned>(level)) + e.boundary_stamp;
}

std::string time_stamp() {
    uint32_t t = static_cast<uint32_t>(current_time());
    return printf_string("%08" PRIX32 ".%08" PRIX32, t, static_cast<uint32_t>(~t));
}

const char *transfer_encoding_line(const MhaContext *ctx) {
    return ctx->state->settings.binary ? "Content-Transfer-Encoding: binary\r\n"
                                       : "Content-Transfer-Encoding: base64\r\n";
}

// A failed step of MHA_encode_add: the trace, then everything of the message
// is dropped and the context refuses further objects until the next init.
int32_t fail_step(MhaContext *ctx, const char *step) {
    if (step) trace(step, kAdd);
    release_encoder(ctx);
    State &s = st(ctx);
    s.settings.archive_out.clear();
    s.settings.archive_in.clear();
    s.enc.error = true;
    return kFailed;
}

int32_t fail_format(MhaContext *ctx, const char *step, const char *field) {
    report(kFormat, field);
    return fail_step(ctx, step);
}

bool line_fits(const std::string &line) { return line.size() <= kMaxHeaderLine; }

// Writes content in the message's transfer encoding.
bool write_content(MhaContext *ctx, WorkFile &out, std::string_view data) {
    if (!out.write("\r\n")) return false;
    if (ctx->state->settings.binary) return out.write(data);
    for (size_t off = 0; off < data.size(); off += kBase64Piece)
        if (!out.write(base64_lines(data.substr(off, kBase64Piece)))) return false;
    return true;
}

// One application/octet-stream part: headers, content, and its raw bytes to
// the data file. name_1251 goes into the name parameter; hex_name and hex_id
// are the values of X-Attachment-Name and X-Attachment-Content-Id.
bool write_part(MhaContext *ctx, std::string_view name_1251, long position, unsigned long method,
                std::string_view data, const std::string &hex_name, const std::string &hex_id) {
    EncoderState &e = st(ctx).enc;
    std::string h;
    h.reserve(512);
    h += "\r\n--" + boundary(e, e.level) + "\r\n";
    h += "Content-Type: application/octet-stream;\r\n";
    h += " name=\"" + rfc2047_koi8r(name_1251) + "\"\r\n";
    h += transfer_encoding_line(ctx);
    h += printf_string("X-Rendering-Position: %ld\r\n", position);
    h += printf_string("X-Method: %lu\r\n", method);
    h += printf_string("X-Attachment-Length: %lu\r\n", static_cast<unsigned long>(data.size()));
    h += "X-Attachment-Name: " + hex_name + "\r\n";
    if (!hex_id.empty()) h += "X-Attachment-Content-Id: " + hex_id + "\r\n";
    return e.output.write(h) && write_content(ctx, e.output, data) && e.data.write(data);
}

// The multipart header of a level and its description file.
bool start_level(MhaContext *ctx) {
    EncoderState &e = st(ctx).enc;
    std::string h = "Content-Type: multipart/mixed;\r\n boundary=\"" + boundary(e, e.level) + "\"\r\n";
    return e.output.write(h) && e.level_files[e.level].create("TMA", kAdd, crypto(ctx));
}

// ---- Attachment signatures ---------------------------------------------------

// Signs an attachment into the level's list, or keeps a signature file that
// the host passed (merged = true: the attachment itself is not written).
bool add_sign_to_attachment(MhaContext *ctx, std::string_view name, std::string_view data, bool &merged) {
    constexpr const char *kFn = "add_sign_to_attachment";
    State &s = st(ctx);
    EncoderState &e = s.enc;
    merged = false;
    SignNode node;
    node.signer = s.owner_name ? s.owner_name : "";
    node.attach_name = to_charset(name, e.charset);
    node.level = e.level;
    if (is_sign_file_name(name)) {
        if (data.size() <= 11) {
            trace("signature file too short", kFn);
            report(kFormat, kSignFileName);
            return false;
        }
        const std::string charset = e.charset;
        node.signature = convert_attachment_names(data, [&](std::string_view v) { return to_charset(v, charset); });
        node.sequence = 0;
        e.signs.push_back(std::move(node));
        merged = true;
        return true;
    }
    int highest = 0;
    for (const SignNode &n : e.signs)
        if (n.level == e.level) highest = std::max(highest, n.sequence);
    node.sequence = highest + 1;

    CapiBlob in{reinterpret_cast<unsigned char *>(const_cast<char *>(data.data())), static_cast<uint32_t>(data.size())};
    CapiBlob hash{}, sig{};
    if (CCA_hash_mem(crypto(ctx), &in, &hash) != 0) {
        report_crypto(crypto(ctx), "CCA_hash_mem", kFn);
        return false;
    }
    node.hash_text = hash_text(std::string_view(reinterpret_cast<char *>(hash.pbData), hash.cbData));
    CCA_free(crypto(ctx), hash.pbData);
    if (CCA_sign_mem_sep(crypto(ctx), &in, s.my_cert, &sig) != 0) {
        report_crypto(crypto(ctx), "CCA_sign_mem_sep", kFn);
        return false;
    }
    node.signature.assign(reinterpret_cast<char *>(sig.pbData), sig.cbData);
    CCA_free(crypto(ctx), sig.pbData);
    if (!archive_data_and_sign(ctx, Direction::outgoing, name, &data, &node.signature, node.signer)) {
        trace("archive_data_and_sign", kFn);
        return false;
    }
    e.signs.push_back(std::move(node));
    return true;
}

// The signature file of a level (records of its signed attachments, then the
// kept text of a passed signature file); the level's nodes leave the list.
// had_nodes: whether the level had any. The records are in memory already,
// so the file is put together there.
void create_attached_sign(MhaContext *ctx, std::string &file, bool &had_nodes) {
    EncoderState &e = st(ctx).enc;
    had_nodes = false;
    file.clear();
    const bool with_address = !e.sender.type.empty() && !e.sender.address.empty();
    std::string kept;
    for (const SignNode &n : e.signs) {
        if (n.level != e.level) continue;
        had_nodes = true;
        if (n.sequence == 0) {
            kept += n.signature;
            continue;
        }
        SignRecord r;
        r.signer = n.signer;
        r.hash = n.hash_text;
        r.name = n.attach_name;
        r.type = e.sender.type;
        r.address = e.sender.address;
        r.signature = n.signature;
        file += format_sign_record(r, with_address);
    }
    file += kept;
    std::erase_if(e.signs, [&](const SignNode &n) { return n.level == e.level; });
}

// ---- Objects -------------------------------------------------------------------

int32_t add_start(MhaContext *ctx) {
    EncoderState &e = st(ctx).enc;
    e.recipients.clear();
    e.sender = {};
    e.collect = true;
    e.level = 0;
    e.to_started = e.cc_started = false;
    st(ctx).enc.phase = EncodePhase::open;
    if (e.flags & MHA_PASS_THROUGH) return 0;
    e.boundary_stamp = time_stamp();
    std::string h = "MIME-Version: 1.0\r\n";
    h += (e.flags & MHA_CONFIRM) ? "X-Confirmation: 1\r\n" : "X-Confirmation: 0\r\n";
    h += "X-Charset: " + e.charset + "\r\n";
    if (!e.output.write(h) || !start_level(ctx)) return fail_step(ctx, "start");
    return 0;
}

int32_t add_nested_start(MhaContext *ctx, const MhaObject *o) {
    EncoderState &e = st(ctx).enc;
    if (e.level >= kLevels - 1) return fail_format(ctx, "ObjectLevel >= 127", "message/rfc822");
    e.collect = false;
    e.to_started = e.cc_started = false;
    std::string h = "\r\n--" + boundary(e, e.level) + "\r\n";
    h += "Content-Type: message/rfc822\r\n";
    h += "MIME-Version: 1.0\r\n";
    h += printf_string("X-Rendering-Position: %ld\r\n", static_cast<long>(o->NestedRenderingPosition));
    h += "X-Method: 1\r\n";
    if (!e.output.write(h)) return fail_step(ctx, "write_string_to_tempfile");
    ++e.level;
    if (!start_level(ctx)) return fail_step(ctx, "start nested");
    return 0;
}

struct AddressFields {
    char **type;
    char *name;
    char *address;
};

AddressFields address_fields(MhaObject *o) {
    switch (o->Type) {
    case MHA_OBJ_FROM: return {&o->FromTypeAddress, o->FromName, o->FromAddress};
    case MHA_OBJ_TO: return {&o->ToTypeAddress, o->ToName, o->ToAddress};
    case MHA_OBJ_CC: return {&o->CcTypeAddress, o->CcName, o->CcAddress};
    default: return {&o->BccTypeAddress, o->BccName, o->BccAddress};
    }
}

int32_t add_address(MhaContext *ctx, MhaObject *o) {
    EncoderState &e = st(ctx).enc;
    AddressFields f = address_fields(o);
    if (!f.address || !*f.address) return fail_format(ctx, "address", "Address");
    std::string type = *f.type && **f.type ? *f.type : "SMTP";
    const std::string name = f.name ? f.name : "";
    const std::string address = f.address;
    const bool recipient = o->Type != MHA_OBJ_FROM;
    // A recipient of an encrypted message is looked up, which turns its type
    // to upper case (in the caller's text too) before the line is written.
    const bool look_up = e.collect && recipient && (e.flags & MHA_ENCRYPT);
    if (look_up) type = tarmin::cp::upper_1251(type);
    // The header line, refused when too long before anything else is done.
    std::string line;
    const bool written = o->Type != MHA_OBJ_BCC && !(e.flags & MHA_PASS_THROUGH);
    if (written) {
        if (o->Type == MHA_OBJ_FROM) line = "From: ";
        else if (o->Type == MHA_OBJ_TO) line = e.to_started ? ", " : "To: ";
        else line = e.cc_started ? ", " : "Cc: ";
        line += name.empty() ? address : to_charset(name, e.charset);
        line += " <";
        if (!iequals(type, "SMTP")) line += type + ":";
        line += address + ">\r\n";
        if (!line_fits(line)) return fail_format(ctx, "address line too long", "Address");
    }
    if (look_up) {
        std::vector<PCCERT_CONTEXT> certs;
        bool ok = find_certs_by_address(ctx, type, address, certs, kAdd);
        store_upper_type(*f.type, type);
        if (!ok) return fail_step(ctx, "find_cert_by_address");
        if (certs.empty()) {
            // The message stays open: the host may leave this recipient out.
            trace("find_cert_by_address", kAdd);
            return kFailed;
        }
        // Kept for the envelope, so that the final step need not look again.
        e.recipient_certs.insert(e.recipient_certs.end(), certs.begin(), certs.end());
    }
    if (written) {
        (o->Type == MHA_OBJ_TO ? e.to_started : e.cc_started) |= o->Type != MHA_OBJ_FROM;
        if (!e.level_files[e.level].write(line)) return fail_step(ctx, "write_string_to_tempfile");
    }
    if (e.collect) {
        Address a{type, name.empty() ? address : name, address};
        if (recipient) e.recipients.push_back(std::move(a));
        else e.sender = std::move(a);
    }
    return 0;
}

int32_t add_header_line(MhaContext *ctx, const std::string &line, const char *field) {
    EncoderState &e = st(ctx).enc;
    if (!line_fits(line)) return fail_format(ctx, "header line too long", field);
    if (!e.level_files[e.level].write(line)) return fail_step(ctx, "write_string_to_tempfile");
    return 0;
}

int32_t add_body(MhaContext *ctx, const MhaObject *o) {
    EncoderState &e = st(ctx).enc;
    if (!o->Body && o->BodyLength) return fail_format(ctx, "Body == NULL", "Body");
    std::string_view body(o->Body ? o->Body : "", o->Body ? o->BodyLength : 0);
    e.level_files[e.level].set_pending("Body:\r\n" + to_charset(body, e.charset));
    return 0;
}

int32_t add_html(MhaContext *ctx, const MhaObject *o) {
    EncoderState &e = st(ctx).enc;
    if (!o->HtmlData || o->HtmlLength == 0) return 0;
    std::string b64 = base64_lines(to_charset(
        std::string_view(reinterpret_cast<const char *>(o->HtmlData), o->HtmlLength), e.charset));
    std::string text = printf_string("Mime-Body-Html-Base64:%lu\r\n", static_cast<unsigned long>(b64.size())) + b64;
    if (!e.level_files[e.level].write(text)) return fail_step(ctx, "write_string_to_tempfile");
    return 0;
}

int32_t add_attachment(MhaContext *ctx, const MhaObject *o) {
    EncoderState &e = st(ctx).enc;
    if (!o->AttachData && o->AttachLength) return fail_format(ctx, "AttachData == NULL", "Attachment");
    const std::string name = o->AttachName ? o->AttachName : "";
    std::string_view data(reinterpret_cast<const char *>(o->AttachData), o->AttachData ? o->AttachLength : 0);
    // Refused names are refused before anything is signed or archived.
    const std::string hex_name = hex_text(name.empty() ? "Empty-Attachment-Name" : to_charset(name, e.charset));
    const std::string id = o->AttachContentId ? to_charset(o->AttachContentId, e.charset) : "";
    const std::string hex_id = hex_text(id);
    if (hex_name.size() + 21 > kMaxHeaderLine) return fail_format(ctx, "name too long", "X-Attachment-Name");
    if (hex_id.size() + 27 > kMaxHeaderLine) return fail_format(ctx, "id too long", "X-Attachment-Content-Id");
    if ((e.flags & MHA_SIGN) && !(e.flags & MHA_NO_ATTACH_SIGN) && !data.empty()) {
        bool merged = false;
        if (!add_sign_to_attachment(ctx, name, data, merged)) return fail_step(ctx, "add_sign_to_attachment");
        if (merged) return 0;
    }
    if (!write_part(ctx, name, o->AttachRenderingPosition, o->AttachMethod, data, hex_name, hex_id))
        return fail_step(ctx, "write_data_to_tempfile");
    return 0;
}

int32_t add_end(MhaContext *ctx, uint32_t type) {
    EncoderState &e = st(ctx).enc;
    if (type == MHA_OBJ_END && e.level != 0) return fail_format(ctx, "nested message not ended", "message/rfc822");
    if (type == MHA_OBJ_NESTED_END && e.level == 0) return fail_format(ctx, "no nested message", "message/rfc822");
    if (type == MHA_OBJ_END && (e.flags & MHA_PASS_THROUGH)) {
        e.collect = false;
        st(ctx).enc.phase = EncodePhase::ended;
        return 0;
    }
    std::string description;
    if (!e.level_files[e.level].save_and_close(description)) return fail_step(ctx, "save_tempfile");
    if (!write_part(ctx, kDescriptionName, -1, 1, description, hex_text(kDescriptionName), ""))
        return fail_step(ctx, "write_data_to_tempfile");
    if ((e.flags & MHA_SIGN) && !(e.flags & MHA_NO_ATTACH_SIGN)) {
        std::string tms;
        bool had_nodes = false;
        create_attached_sign(ctx, tms, had_nodes);
        if (had_nodes && !write_part(ctx, kSignFileName, -1, 1, tms, hex_text(kSignFileName), ""))
            return fail_step(ctx, "write_data_to_tempfile");
    }
    const std::string b = boundary(e, e.level);
    std::string tail = "\r\n--" + b + "\r\n";
    tail += "Content-Type: text/plain;\r\n charset=\"koi8-r\"\r\nContent-Transfer-Encoding: 7bit\r\n\r\n";
    tail += "\r\n--" + b + "--\r\n";
    if (!e.output.write(tail)) return fail_step(ctx, "write_string_to_tempfile");
    if (type == MHA_OBJ_NESTED_END) {
        --e.level;
    } else {
        e.collect = false;
        st(ctx).enc.phase = EncodePhase::ended;
    }
    return 0;
}

// Finds a line "MIME-Version: 1.0" that ends right after its text.
size_t find_mime_version_line(std::string_view data, size_t from) {
    constexpr std::string_view kLine = "MIME-Version: 1.0";
    for (size_t pos = data.find(kLine, from); pos != std::string_view::npos; pos = data.find(kLine, pos + 1)) {
        const bool line_start = pos == 0 || data[pos - 1] == '\n';
        const size_t end = pos + kLine.size();
        const bool line_end = end < data.size() && (data[end] == '\n' || (data[end] == '\r' && end + 1 < data.size() &&
                                                                           data[end + 1] == '\n'));
        if (line_start && line_end) return pos;
    }
    return std::string_view::npos;
}

// The value of the first "X-Message-Hash:" header when its line is of a
// plausible length, trimmed; empty otherwise.
std::string message_hash_header(std::string_view data) {
    size_t pos = data.find("X-Message-Hash:");
    if (pos == std::string_view::npos) return {};
    pos += std::strlen("X-Message-Hash:");
    size_t lf = data.find('\n', pos);
    size_t with_end = (lf == std::string_view::npos ? data.size() : lf + 1) - pos;
    if (with_end < 9 || with_end > 127) return {};
    std::string_view v = data.substr(pos, with_end);
    while (!v.empty() && (v.back() == '\n' || v.back() == '\r' || v.back() == ' ' || v.back() == '\t'))
        v.remove_suffix(1);
    while (!v.empty() && (v.front() == ' ' || v.front() == '\t')) v.remove_prefix(1);
    return std::string(v);
}

int32_t add_raw(MhaContext *ctx, const MhaObject *o) {
    EncoderState &e = st(ctx).enc;
    if (!(e.flags & MHA_PASS_THROUGH)) return fail_format(ctx, "raw message without pass-through", "X-Message-Hash:");
    if (!o->RawData && o->RawLength) return fail_format(ctx, "RawData == NULL", "X-Message-Hash:");
    std::string_view data(reinterpret_cast<const char *>(o->RawData), o->RawData ? o->RawLength : 0);
    e.hash_text = message_hash_header(data);
    size_t from = 0;
    if (e.flags & MHA_DROP_OUTER_HEADER) {
        size_t first = find_mime_version_line(data, 0);
        if (first != std::string_view::npos) {
            size_t second = find_mime_version_line(data, first + 1);
            from = second != std::string_view::npos ? second : first;
        }
    }
    if (!e.output.write(data.substr(from))) return fail_step(ctx, "write_data_to_tempfile");
    return 0;
}

int32_t encode_add(MhaContext *ctx, MhaObject *o) {
    if (refuse_without_crypto(ctx, kAdd)) return kFailed;
    EncoderState &e = st(ctx).enc;
    if (e.error) {
        trace("ctx->IsErrorEncode", kAdd);
        return kFailed;
    }
    if (e.phase == EncodePhase::idle) {
        trace("MHA_encode_init", kAdd);
        return kFailed;
    }
    if (!o) return fail_step(ctx, "object == NULL");
    if (o->Type > MHA_OBJ_HTML) return 0;
    EncodePhase phase = st(ctx).enc.phase;
    if (o->Type == MHA_OBJ_START) {
        if (phase != EncodePhase::before_start) return fail_format(ctx, "second start object", "MIME-Version");
        return add_start(ctx);
    }
    if (phase != EncodePhase::open) return fail_format(ctx, "object outside the message", "MIME-Version");
    const bool pass = e.flags & MHA_PASS_THROUGH;
    switch (o->Type) {
    case MHA_OBJ_END: return add_end(ctx, o->Type);
    case MHA_OBJ_FROM:
    case MHA_OBJ_TO:
    case MHA_OBJ_CC:
    case MHA_OBJ_BCC: return add_address(ctx, o);
    case MHA_OBJ_RAW: return add_raw(ctx, o);
    default: break;
    }
    if (pass) return fail_format(ctx, "object in a pass-through message", "Content-Type");
    switch (o->Type) {
    case MHA_OBJ_NESTED_START: return add_nested_start(ctx, o);
    case MHA_OBJ_NESTED_END: return add_end(ctx, o->Type);
    case MHA_OBJ_BODY: return add_body(ctx, o);
    case MHA_OBJ_HTML: return add_html(ctx, o);
    case MHA_OBJ_ATTACHMENT: return add_attachment(ctx, o);
    case MHA_OBJ_DATE: {
        uint64_t ft = (uint64_t(o->SendDate.dwHighDateTime) << 32) | o->SendDate.dwLowDateTime;
        return add_header_line(ctx, "Date: " + gmt_date(filetime_to_time(ft)) + "\r\n", "Date");
    }
    case MHA_OBJ_SUBJECT:
        return add_header_line(ctx, "Subject: " + to_charset(o->Subject ? o->Subject : "", e.charset) + "\r\n",
                               "Subject");
    default: return 0;
    }
}

// ---- Final ---------------------------------------------------------------------

// A buffer that ends up with the host (released with free by MHA_smime_free),
// filled up to the capacity it was made with, followed by 8 zero bytes.
class HostBuffer {
public:
    HostBuffer() = default;
    explicit HostBuffer(size_t capacity) : capacity_(capacity) {
        if (capacity > UINT32_MAX - 16) throw std::bad_alloc(); // lengths are 32-bit
        data_ = static_cast<unsigned char *>(std::malloc(capacity + 8));
        if (!data_) throw std::bad_alloc();
    }
    // Takes a buffer of the work files (malloc, 8 bytes of room after it).
    static HostBuffer adopt(unsigned char *data, size_t size) {
        HostBuffer b;
        b.data_ = data;
        b.size_ = b.capacity_ = size;
        return b;
    }
    HostBuffer(HostBuffer &&o) noexcept { *this = std::move(o); }
    HostBuffer &operator=(HostBuffer &&o) noexcept {
        std::swap(data_, o.data_);
        std::swap(size_, o.size_);
        std::swap(capacity_, o.capacity_);
        return *this;
    }
    ~HostBuffer() { std::free(data_); }

    // Room for n more bytes at end(), which the caller then fills.
    char *reserve_tail(size_t n) {
        if (n > capacity_ - size_) throw std::logic_error("HostBuffer overflow");
        char *p = reinterpret_cast<char *>(data_) + size_;
        size_ += n;
        return p;
    }
    void append(std::string_view s) { std::memcpy(reserve_tail(s.size()), s.data(), s.size()); }
    std::string_view view() const { return {reinterpret_cast<const char *>(data_), size_}; }
    size_t size() const { return size_; }
    // Hands the buffer over (with its 8 zero bytes).
    unsigned char *release() {
        std::memset(data_ + size_, 0, 8);
        unsigned char *p = data_;
        data_ = nullptr;
        size_ = capacity_ = 0;
        return p;
    }

private:
    unsigned char *data_ = nullptr;
    size_t size_ = 0, capacity_ = 0;
};

// "\r\n" and data in the message's transfer encoding: its length, and the
// text itself appended to out.
size_t content_size(const MhaContext *ctx, size_t n) {
    return 2 + (ctx->state->settings.binary ? n : base64_lines_size(n));
}
void append_content(const MhaContext *ctx, HostBuffer &out, std::string_view data) {
    out.append("\r\n");
    if (ctx->state->settings.binary) {
        out.append(data);
    } else {
        char *p = out.reserve_tail(base64_lines_size(data.size()));
        base64_lines_into(p, data);
    }
}

// The output file read back and closed: the inner message M.
bool read_output(MhaContext *ctx, HostBuffer &m) {
    EncoderState &e = st(ctx).enc;
    unsigned char *data = nullptr;
    uint32_t length = 0;
    if (!e.output.read_back(data, length)) {
        trace("save_tempfile", kFinal);
        return false;
    }
    m = HostBuffer::adopt(data, length);
    if (!e.output.close()) {
        trace("close_tempfile", kFinal);
        return false;
    }
    return true;
}

// The recipients' certificate array: the own certificate first, then the
// certificates found for each recipient as it was added (at most 64 each).
bool recipient_certificates(MhaContext *ctx, std::vector<PCCERT_CONTEXT> &certs) {
    constexpr const char *kFn = "find_cert_by_address";
    State &s = st(ctx);
    if (s.enc.recipients.empty()) {
        report(kNoRecipients);
        trace("no recipients", kFn);
        return false;
    }
    PCCERT_CONTEXT own = nullptr;
    SignerSerial *serial = nullptr;
    if (CCA_get_my_cert(crypto(ctx), &own, &serial) != 0) {
        report_crypto(crypto(ctx), "CCA_get_my_cert", kFn);
        return false;
    }
    CCA_serial_free(crypto(ctx), serial);
    certs.push_back(own);
    certs.insert(certs.end(), s.enc.recipient_certs.begin(), s.enc.recipient_certs.end());
    s.enc.recipient_certs.clear();
    return true;
}

bool hash_from_text(const std::string &text, std::string &bytes) {
    std::string digits;
    for (char c : text)
        if (c != ' ') digits += c;
    auto b = hex_bytes(digits);
    if (!b || b->empty() || b->size() > sizeof(MhaSmime::Hash)) return false;
    bytes = *b;
    return true;
}

// The signed message: the output file (M) as the first part of a
// multipart/signed message whose second part is the signature S. It is put
// together in the buffer that leaves the encoder, M read straight into it.
bool wrap_signed(MhaContext *ctx, const std::string &signature, HostBuffer &m) {
    EncoderState &e = st(ctx).enc;
    const std::string sb = "----_=_SignedPart_000_" + time_stamp();
    std::string h = "MIME-Version: 1.0\r\nContent-Type: multipart/signed;\r\n boundary=\"" + sb + "\"\r\n";
    h += "\r\n--" + sb + "\r\n";
    std::string t = "\r\n--" + sb + "\r\n";
    t += "Content-Type: application/x-pkcs7-signature;\r\n name=\"smime.p7s\"\r\n";
    t += transfer_encoding_line(ctx);
    t += "X-Message-Hash: " + e.hash_text + "\r\n";
    t += printf_string("X-Signature-Length: %lu\r\n", static_cast<unsigned long>(signature.size()));
    const std::string tail = "\r\n--" + sb + "--\r\n";
    size_t inner = 0;
    if (!e.output.size(inner)) return false;
    HostBuffer out(h.size() + inner + t.size() + content_size(ctx, signature.size()) + tail.size());
    out.append(h);
    if (!e.output.read_into(out.reserve_tail(inner), inner)) {
        trace("save_tempfile", kFinal);
        return false;
    }
    if (!e.output.close()) {
        trace("close_tempfile", kFinal);
        return false;
    }
    out.append(t);
    append_content(ctx, out, signature);
    out.append(tail);
    m = std::move(out);
    return true;
}

// The enveloped message around M, in place of M.
bool wrap_enveloped(MhaContext *ctx, HostBuffer &m) {
    State &s = st(ctx);
    EncoderState &e = s.enc;
    std::vector<PCCERT_CONTEXT> certs;
    if (!recipient_certificates(ctx, certs)) {
        release_certs(ctx, certs);
        return false;
    }
    CapiBlob in{reinterpret_cast<unsigned char *>(const_cast<char *>(m.view().data())),
                static_cast<uint32_t>(m.size())};
    CapiBlob env{};
    int32_t rc = CCA_encrypt_mem(crypto(ctx), &in, certs.front(), certs.data(), static_cast<uint32_t>(certs.size()), &env);
    release_certs(ctx, certs);
    m = HostBuffer(); // M is not needed any more: its memory goes before the envelope's text is made
    if (rc != 0) {
        report_crypto(crypto(ctx), "CCA_encrypt_mem", kFinal);
        return false;
    }
    std::unique_ptr<unsigned char, std::function<void(unsigned char *)>> keep(
        env.pbData, [ctx](unsigned char *p) { CCA_free(crypto(ctx), p); });
    std::string h = "Content-Type: application/pkcs7-mime;\r\n smime-type=enveloped-data;\r\n name=\"smime.p7m\"\r\n";
    h += transfer_encoding_line(ctx);
    h += (e.flags & (MHA_SIGN | MHA_PASS_THROUGH)) ? "X-Signed: 1\r\n" : "X-Signed: 0\r\n";
    h += "X-Compressed: 0\r\n";
    h += (e.flags & MHA_CONFIRM) ? "X-Confirm-Msg: 1\r\n" : "X-Confirm-Msg: 0\r\n";
    h += "X-Message-Hash: " + e.hash_text + "\r\n";
    if (!e.sender.type.empty() && !e.sender.address.empty())
        h += "X-From-Type-Address: " + e.sender.type + "\r\nX-From-Address: " + e.sender.address + "\r\n";
    h += printf_string("X-Crypt-Length: %lu\r\n", static_cast<unsigned long>(env.cbData));
    HostBuffer out(h.size() + content_size(ctx, env.cbData));
    out.append(h);
    append_content(ctx, out, std::string_view(reinterpret_cast<char *>(env.pbData), env.cbData));
    m = std::move(out);
    return true;
}

int32_t encode_final(MhaContext *ctx, MhaSmime **out) {
    State &s = st(ctx);
    EncoderState &e = s.enc;
    if (refuse_without_crypto(ctx, kFinal)) return kFailed;
    if (e.error) {
        trace("ctx->IsErrorEncode", kFinal);
        return kFailed;
    }
    if (e.phase != EncodePhase::ended) {
        report(kFormat, "MIME-Version");
        trace("message not ended", kFinal);
        return kFailed;
    }
    const bool pass = e.flags & MHA_PASS_THROUGH;
    const bool sign = (e.flags & MHA_SIGN) && !pass;
    const bool encrypt = e.flags & MHA_ENCRYPT;

    HostBuffer m; // the message as it stands after each step
    std::string hash_bytes;
    if (pass) {
        if (e.hash_text.empty() || !hash_from_text(e.hash_text, hash_bytes)) {
            report(kFormat, "X-Message-Hash:");
            trace("HashStr", kFinal);
            return kFailed;
        }
        if (!read_output(ctx, m)) return kFailed;
    } else {
        // The data file is hashed and signed where it lies (mapped, not copied).
        std::string_view data;
        if (!e.data.map(data)) {
            trace("save_tempfile", kFinal);
            return kFailed;
        }
        static const char kNothing = 0;
        CapiBlob in{reinterpret_cast<unsigned char *>(const_cast<char *>(data.empty() ? &kNothing : data.data())),
                    static_cast<uint32_t>(data.size())};
        CapiBlob hash{};
        if (CCA_hash_mem(crypto(ctx), &in, &hash) != 0) {
            report_crypto(crypto(ctx), "CCA_hash_mem", kFinal);
            return kFailed;
        }
        hash_bytes.assign(reinterpret_cast<char *>(hash.pbData), hash.cbData);
        CCA_free(crypto(ctx), hash.pbData);
        e.hash_text = hash_text(hash_bytes);
        std::string signature;
        if (sign) {
            CapiBlob sig{};
            if (CCA_sign_mem_sep(crypto(ctx), &in, s.my_cert, &sig) != 0) {
                report_crypto(crypto(ctx), "CCA_sign_mem_sep", kFinal);
                return kFailed;
            }
            signature.assign(reinterpret_cast<char *>(sig.pbData), sig.cbData);
            CCA_free(crypto(ctx), sig.pbData);
        }
        if (!e.data.close()) {
            trace("close_tempfile", kFinal);
            return kFailed;
        }
        if (sign ? !wrap_signed(ctx, signature, m) : !read_output(ctx, m)) {
            if (sign) trace("sign", kFinal);
            return kFailed;
        }
    }
    e.flags &= ~MHA_COMPRESS;
    if (encrypt && !wrap_enveloped(ctx, m)) return kFailed;

    auto *smime = static_cast<MhaSmime *>(std::calloc(1, sizeof(MhaSmime)));
    if (!smime) throw std::bad_alloc();
    smime->Length = static_cast<uint32_t>(m.size());
    smime->Data = m.release();
    const char *type = encrypt ? "application/octet-stream"
                               : (e.flags & (MHA_SIGN | MHA_PASS_THROUGH)) ? "multipart/signed" : "";
    std::snprintf(smime->ContentType, sizeof smime->ContentType, "%s", type);
    std::memcpy(smime->Hash, hash_bytes.data(), hash_bytes.size());
    smime->HashLength = static_cast<uint32_t>(hash_bytes.size());
    *out = smime;
    return 0;
}

} // namespace

extern "C" {

int32_t MHA_encode_init(MhaContext *ctx, uint32_t flags) {
    if (!ctx) return kFailed;
    return guarded("MHA_encode_init", [&]() -> int32_t {
        State &s = st(ctx);
        EncoderState &e = s.enc;
        release_encoder(ctx);
        st(ctx).enc.phase = EncodePhase::before_start;
        e.hash_text.clear();
        e.error = true; // until the init succeeds
        if (refuse_without_crypto(ctx, "MHA_encode_init")) return kFailed;
        auto fail = [&](const char *step) {
            trace(step, "MHA_encode_init");
            release_encoder(ctx);
            s.settings.archive_out.clear();
            s.settings.archive_in.clear();
            return kFailed;
        };
        if (!read_text_setting(s.key_path, "Charset", "windows-1251", e.charset)) return fail("Charset");
        if (!set_archive_mode(ctx)) return fail("set_archive_mode");
        if (!set_flag_auto_mode(ctx)) return fail("set_flag_auto_mode");
        uint32_t output_flags = 0;
        if (!read_dword_setting(s.key_path, "OutputMessageFlags", 0, output_flags)) return fail("OutputMessageFlags");
        if ((flags & MHA_ENCRYPT) && !(flags & MHA_SIGN) && (output_flags & 0x800u)) flags |= 0x42u;
        e.flags = flags;
        if (!e.output.create("TMN", "MHA_encode_init", crypto(ctx)) ||
            !e.data.create("TMB", "MHA_encode_init", crypto(ctx)))
            return fail("create_tempfile");
        e.error = false;
        return 0;
    });
}

int32_t MHA_encode_add(MhaContext *ctx, MhaObject *object) {
    if (!ctx) return kFailed;
    return guarded(kAdd, [&]() -> int32_t {
        int32_t rc = encode_add(ctx, object);
        return rc;
    });
}

int32_t MHA_encode_final(MhaContext *ctx, MhaSmime **smime) {
    if (smime) *smime = nullptr;
    if (!ctx) return kFailed;
    int32_t rc = guarded(kFinal, [&]() -> int32_t {
        if (!smime) {
            trace("smime == NULL", kFinal);
            return kFailed;
        }
        return encode_final(ctx, smime);
    });
    // Whatever the outcome, the context is ready for the next message.
    guarded(kFinal, [&]() -> int32_t {
        release_encoder(ctx);
        st(ctx).enc.phase = EncodePhase::idle;
        st(ctx).enc.error = false;
        return 0;
    });
    return rc;
}

int32_t MHA_encode_free(MhaContext *ctx) {
    if (!ctx) return 0;
    guarded("MHA_encode_free", [&]() -> int32_t {
        release_encoder(ctx);
        st(ctx).enc.phase = EncodePhase::idle;
        return 0;
    });
    return 0;
}

} // extern "C"

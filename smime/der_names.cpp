#include "smime/der_names.h"

#include <cstdint>

#include "common/codepage.h"

namespace tarmin::smime {

namespace {

// One DER element: tag, content, and the rest after it.
struct Tlv {
    unsigned tag = 0;
    std::string_view content;
};

// Reads the element at the front of in (definite lengths only, at most four
// length bytes) and advances in past it.
bool read_tlv(std::string_view &in, Tlv &out) {
    if (in.size() < 2) return false;
    auto byte = [&](size_t i) { return static_cast<unsigned char>(in[i]); };
    out.tag = byte(0);
    if ((out.tag & 0x1F) == 0x1F) return false; // high tag numbers do not occur here
    size_t pos = 2;
    uint64_t length = byte(1);
    if (length & 0x80) {
        size_t n = length & 0x7F;
        if (n == 0 || n > 4 || in.size() < 2 + n) return false;
        length = 0;
        for (size_t i = 0; i < n; ++i) length = (length << 8) | byte(2 + i);
        pos += n;
    }
    if (length > in.size() - pos) return false;
    out.content = in.substr(pos, static_cast<size_t>(length));
    in.remove_prefix(pos + static_cast<size_t>(length));
    return true;
}

constexpr unsigned char kOidSubjectAltName[] = {0x55, 0x1D, 0x11};
constexpr unsigned char kOidNotesName[] = {0x2B, 0x06, 0x01, 0x04, 0x01, 0x9C, 0x56, 0x04, 0x1C};

template <size_t N> bool same_oid(std::string_view content, const unsigned char (&oid)[N]) {
    return content.size() == N && std::equal(content.begin(), content.end(), reinterpret_cast<const char *>(oid));
}

std::string string_value(const Tlv &v) {
    std::string out;
    if (v.tag == 0x0C) { // UTF8String
        if (!cp::try_utf8_to_cp1251(v.content, out)) out = cp::utf8_to_cp1251(v.content);
    } else if (v.tag == 0x1E) { // BMPString, UTF-16 big-endian
        for (size_t i = 0; i + 1 < v.content.size(); i += 2) {
            char32_t c = (static_cast<unsigned char>(v.content[i]) << 8) | static_cast<unsigned char>(v.content[i + 1]);
            int b = cp::to_cp1251(c);
            out += static_cast<char>(b < 0 ? '?' : b);
        }
    } else {
        out = std::string(v.content.substr(0, v.content.find('\0')));
    }
    if (out.size() > 4096) out.resize(4096);
    return out;
}

std::optional<std::string> notes_in_alt_names(std::string_view value) {
    Tlv names;
    if (!read_tlv(value, names) || names.tag != 0x30) return std::nullopt;
    std::string_view list = names.content;
    while (!list.empty()) {
        Tlv name;
        if (!read_tlv(list, name)) return std::nullopt;
        if (name.tag != 0xA0) continue; // otherName only
        std::string_view other = name.content;
        Tlv oid, wrapped, inner;
        if (!read_tlv(other, oid) || oid.tag != 0x06 || !same_oid(oid.content, kOidNotesName)) continue;
        if (!read_tlv(other, wrapped) || wrapped.tag != 0xA0) continue;
        std::string_view w = wrapped.content;
        if (!read_tlv(w, inner)) continue;
        return string_value(inner);
    }
    return std::nullopt;
}

} // namespace

std::optional<std::string> certificate_notes_name(std::string_view der) {
    Tlv cert, tbs;
    if (!read_tlv(der, cert) || cert.tag != 0x30) return std::nullopt;
    std::string_view c = cert.content;
    if (!read_tlv(c, tbs) || tbs.tag != 0x30) return std::nullopt;
    std::string_view fields = tbs.content;
    while (!fields.empty()) {
        Tlv f;
        if (!read_tlv(fields, f)) return std::nullopt;
        if (f.tag != 0xA3) continue; // [3] extensions
        std::string_view e = f.content;
        Tlv seq;
        if (!read_tlv(e, seq) || seq.tag != 0x30) return std::nullopt;
        std::string_view exts = seq.content;
        while (!exts.empty()) {
            Tlv ext, oid, item;
            if (!read_tlv(exts, ext) || ext.tag != 0x30) return std::nullopt;
            std::string_view x = ext.content;
            if (!read_tlv(x, oid) || oid.tag != 0x06 || !same_oid(oid.content, kOidSubjectAltName)) continue;
            while (read_tlv(x, item))
                if (item.tag == 0x04) return notes_in_alt_names(item.content);
            return std::nullopt;
        }
    }
    return std::nullopt;
}

} // namespace tarmin::smime

#include "smime/signfile.h"

#include <charconv>

#include "smime/mime_text.h"

namespace tarmin::smime {

namespace {

constexpr size_t kMaxLine = 4096;

struct LineReader {
    std::string_view text;
    size_t pos = 0;

    // The next line without its LF (and a CR before it); false at the end, for
    // a line without LF, or over the limit.
    bool next(std::string_view &line, size_t &begin) {
        size_t lf = text.find('\n', pos);
        if (lf == std::string_view::npos || lf - pos + 1 > kMaxLine) return false;
        begin = pos;
        line = text.substr(pos, lf - pos);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        pos = lf + 1;
        return true;
    }
};

// Whether line begins with "name:" (any case); value: the rest after the
// colon without leading blanks, and its offset in the file.
bool field(std::string_view line, size_t line_begin, std::string_view name, std::string_view &value,
           size_t &value_begin) {
    if (line.size() <= name.size() || line[name.size()] != ':' || !iequals(line.substr(0, name.size()), name))
        return false;
    size_t v = name.size() + 1;
    while (v < line.size() && (line[v] == ' ' || line[v] == '\t')) ++v;
    value = line.substr(v);
    value_begin = line_begin + v;
    return true;
}

} // namespace

std::vector<SignRecord> read_sign_file(std::string_view file, size_t *stop) {
    std::vector<SignRecord> records;
    LineReader in{file};
    size_t good_end = 0;
    for (;;) {
        SignRecord r;
        std::string_view line, value;
        size_t begin = 0, vbegin = 0;
        if (!in.next(line, begin) || !field(line, begin, "Name-Signer", value, vbegin)) break;
        r.signer = value;
        if (!in.next(line, begin) || !field(line, begin, "Hash-Value", value, vbegin)) break;
        r.hash = value;
        if (!in.next(line, begin) || !field(line, begin, "Name-Attachment", value, vbegin)) break;
        r.name = value;
        r.name_begin = vbegin;
        r.name_end = vbegin + value.size();
        if (!in.next(line, begin)) break;
        if (field(line, begin, "Signer-Type-Address", value, vbegin)) {
            r.type = value;
            r.has_type = true;
            if (!in.next(line, begin)) break;
        }
        if (field(line, begin, "Signer-Address", value, vbegin)) {
            r.address = value;
            r.has_address = true;
            if (!in.next(line, begin)) break;
        }
        if (!field(line, begin, "Length-Sign", value, vbegin)) break;
        unsigned long long length = 0;
        auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), length);
        if (ec != std::errc() || end != value.data() + value.size() || value.empty()) break;
        if (!in.next(line, begin) || !field(line, begin, "Sign", value, vbegin) || !value.empty()) break;
        if (length > file.size() - in.pos) break;
        r.signature = file.substr(in.pos, static_cast<size_t>(length));
        in.pos += static_cast<size_t>(length);
        good_end = in.pos;
        records.push_back(std::move(r));
    }
    if (stop) *stop = good_end;
    return records;
}

std::string format_sign_record(const SignRecord &r, bool with_address) {
    std::string out;
    out.reserve(r.signature.size() + 256);
    out += "Name-Signer:" + r.signer + "\r\n";
    out += "Hash-Value:" + r.hash + "\r\n";
    out += "Name-Attachment:" + r.name + "\r\n";
    if (with_address) {
        out += "Signer-Type-Address:" + r.type + "\r\n";
        out += "Signer-Address:" + r.address + "\r\n";
    }
    out += "Length-Sign:" + std::to_string(r.signature.size()) + "\r\n";
    out += "Sign:\r\n";
    out += r.signature;
    return out;
}

} // namespace tarmin::smime

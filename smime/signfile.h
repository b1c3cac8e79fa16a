// Signature files ("TMNSIGN.TMS"): records of detached attachment signatures,
// one after another without header or separator:
//     Name-Signer:<name>            required
//     Hash-Value:<hash text>        required
//     Name-Attachment:<file name>   required
//     Signer-Type-Address:<type>    optional
//     Signer-Address:<address>      optional
//     Length-Sign:<n>               required
//     Sign:                         required, followed by n signature bytes
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tarmin::smime {

struct SignRecord {
    std::string signer, hash, name, type, address;
    bool has_type = false, has_address = false;
    std::string signature;
    // Where the Name-Attachment value lies in the file read.
    size_t name_begin = 0, name_end = 0;
};

// Reads records from the start of a file. Reading stops at the end, or at the
// first record that lacks a required line, has a line over 4096 bytes, or
// whose Length-Sign exceeds the bytes left; *stop (may be null) receives the
// offset where the last complete record ended.
std::vector<SignRecord> read_sign_file(std::string_view file, size_t *stop = nullptr);

// One record as the writers write it; the address lines only when with_address.
std::string format_sign_record(const SignRecord &record, bool with_address);

// The file with every record's Name-Attachment value passed through convert
// (bytes after the last complete record are kept as they are).
template <class Convert> std::string convert_attachment_names(std::string_view file, Convert convert) {
    size_t stop = 0;
    std::vector<SignRecord> records = read_sign_file(file, &stop);
    std::string out;
    out.reserve(file.size());
    size_t pos = 0;
    for (const SignRecord &r : records) {
        out.append(file.substr(pos, r.name_begin - pos));
        out += convert(file.substr(r.name_begin, r.name_end - r.name_begin));
        pos = r.name_end;
    }
    out.append(file.substr(pos));
    return out;
}

} // namespace tarmin::smime

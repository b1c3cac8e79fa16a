// libFuzzer target: the signature-file reader on arbitrary bytes. Records
// never reach past the input, reading always ends, and rewriting the names
// keeps every byte outside them.
#include "smime/signfile.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string_view file(reinterpret_cast<const char *>(data), size);
    size_t stop = 0;
    auto records = tarmin::smime::read_sign_file(file, &stop);
    if (stop > size) std::abort();
    size_t signature_bytes = 0;
    for (const auto &r : records) {
        signature_bytes += r.signature.size();
        if (r.name_end < r.name_begin || r.name_end > stop) std::abort();
    }
    if (signature_bytes > size) std::abort();
    std::string same = tarmin::smime::convert_attachment_names(file, [](std::string_view v) { return std::string(v); });
    if (same != file) std::abort();
    std::string longer =
        tarmin::smime::convert_attachment_names(file, [](std::string_view v) { return std::string(v) + "x"; });
    if (longer.size() != size + records.size()) std::abort();
    return 0;
}

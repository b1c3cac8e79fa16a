// The decoder's state in the context and its pieces that other parts of the
// library use (MHA_decode_extract_tmnfile walks the same chain).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "smime/context.h"

namespace tarmin::smime {

// One decoded object and the nesting level it was found at.
struct ChainEntry {
    MhaObject *object = nullptr;
    int level = 0;
};

struct DecoderState {
    CapiContext *crypto = nullptr;     // to release certificates
    uint32_t flags = 0;                // InSmimeFlag
    std::string charset = "windows-1251";
    std::string sender_address;        // the first "From:" address
    std::vector<ChainEntry> chain;
    size_t read_position = 0;          // of MHA_decode_extract
    MhaResult *result = nullptr;
    std::string detail;                // the result-detail text being written
    bool attach_sign_failed = false;

    ~DecoderState();
};

// Lines of a message: up to and including LF, at most 4096 bytes, a CR before
// the LF dropped. A longer line or a missing LF ends the reading.
class LineReader {
public:
    explicit LineReader(std::string_view text, size_t pos = 0) : text_(text), pos_(pos) {}
    bool next(std::string_view &line);
    size_t position() const { return pos_; }
    void seek(size_t pos) { pos_ = pos; }
    std::string_view text() const { return text_; }

private:
    std::string_view text_;
    size_t pos_;
};

// The value of the first header line from pos that begins with name (case
// ignored, leading blanks skipped) before the first empty line: the rest
// after ':' or '=' and blanks, quotes and a trailing ';' removed.
std::optional<std::string> header_upto_empty(std::string_view text, size_t pos, std::string_view name);

// The hash text of data through the crypto library ("%02X" bytes, blanks
// between); false after a reported failure.
bool hash_text_of(MhaContext *ctx, std::string_view data, std::string &text, const char *function);

} // namespace tarmin::smime

// The decoder's per-context state and the line and header readers.
#include "smime/decoder.h"

#include <cstdlib>
#include <cstring>

#include "smime/mime_text.h"
#include "smime/report.h"

namespace tarmin::smime {

DecoderState::~DecoderState() {
    for (ChainEntry &e : chain) MHA_object_free(nullptr, e.object);
    if (result) {
        // The result's certificates belong to this context's crypto library.
        MhaResult *r = result;
        result = nullptr;
        CCA_cert_free(crypto, r->EncryptorCert);
        CCA_cert_free(crypto, r->SignerCert);
        r->EncryptorCert = r->SignerCert = nullptr;
        for (MhaAttachSigner *n = r->AttachSigners; n; n = n->next) {
            CCA_cert_free(crypto, n->SignerCert);
            n->SignerCert = nullptr;
        }
        MHA_result_free(nullptr, r);
    }
}

void release_decoder(DecoderState *state) { delete state; }

bool LineReader::next(std::string_view &line) {
    constexpr size_t kMaxLine = 4096;
    if (pos_ >= text_.size()) return false;
    size_t lf = text_.find('\n', pos_);
    if (lf == std::string_view::npos || lf - pos_ + 1 > kMaxLine) return false;
    line = text_.substr(pos_, lf - pos_);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    pos_ = lf + 1;
    return true;
}

std::optional<std::string> header_upto_empty(std::string_view text, size_t pos, std::string_view name) {
    LineReader in(text, pos);
    std::string_view line;
    while (in.next(line)) {
        if (line.empty()) break;
        size_t p = 0;
        while (p < line.size() && (line[p] == ' ' || line[p] == '\t')) ++p;
        if (line.size() - p < name.size() || !iequals(line.substr(p, name.size()), name)) continue;
        p += name.size();
        size_t q = p;
        while (q < line.size() && (line[q] == ' ' || line[q] == '\t')) ++q;
        if (q >= line.size() || (line[q] != ':' && line[q] != '=')) continue; // a longer name
        ++q;
        std::string value;
        for (char c : line.substr(q))
            if (c != '"') value += c;
        size_t b = value.find_first_not_of(" \t");
        value = b == std::string::npos ? "" : value.substr(b);
        while (!value.empty() && (value.back() == ';' || value.back() == ' ' || value.back() == '\t'))
            value.pop_back();
        return value;
    }
    return std::nullopt;
}

bool hash_text_of(MhaContext *ctx, std::string_view data, std::string &text, const char *function) {
    CapiBlob in{reinterpret_cast<unsigned char *>(const_cast<char *>(data.data())), static_cast<uint32_t>(data.size())};
    CapiBlob hash{};
    if (CCA_hash_mem(crypto(ctx), &in, &hash) != 0) {
        report_crypto(crypto(ctx), "CCA_hash_mem", function);
        return false;
    }
    text = hash_text(std::string_view(reinterpret_cast<char *>(hash.pbData), hash.cbData));
    CCA_free(crypto(ctx), hash.pbData);
    return true;
}

} // namespace tarmin::smime

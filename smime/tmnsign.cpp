// MHA_make_tmnsign: a signature file for a set of files, made with the own
// certificate (after the records of an existing signature file).
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "smime/archive.h"
#include "smime/context.h"
#include "smime/mime_text.h"
#include "smime/report.h"
#include "smime/settings.h"
#include "smime/signfile.h"

using namespace tarmin::smime;

namespace {

constexpr const char *kMake = "MHA_make_tmnsign";

// The record of one file: its hash and signature; it and its signature go to
// the outgoing archive.
bool sign_file_record(MhaContext *ctx, const MhaFile &file, std::string &record) {
    State &s = st(ctx);
    CapiContext *c = crypto(ctx);
    CapiBlob in{file.Data, file.Length}, hash{}, sig{};
    if (CCA_hash_mem(c, &in, &hash) != 0) {
        report_crypto(c, "CCA_hash_mem", kMake);
        return false;
    }
    SignRecord r;
    r.hash = hash_text(std::string_view(reinterpret_cast<char *>(hash.pbData), hash.cbData));
    CCA_free(c, hash.pbData);
    if (CCA_sign_mem_sep(c, &in, s.my_cert, &sig) != 0) {
        report_crypto(c, "CCA_sign_mem_sep", kMake);
        return false;
    }
    r.signature.assign(reinterpret_cast<char *>(sig.pbData), sig.cbData);
    CCA_free(c, sig.pbData);
    r.signer = s.owner_name ? s.owner_name : "";
    r.name = std::string(file.Name, strnlen(file.Name, sizeof file.Name));
    const std::string_view data(reinterpret_cast<const char *>(file.Data), file.Data ? file.Length : 0);
    if (!archive_data_and_sign(ctx, Direction::outgoing, r.name, &data, &r.signature, r.signer)) {
        trace("archive_data_and_sign", kMake);
        return false;
    }
    record = format_sign_record(r, false);
    return true;
}

} // namespace

extern "C" int32_t MHA_make_tmnsign(MhaContext *ctx, const MhaFile *files, uint32_t count, const CapiBlob *existing,
                                    MhaFile *out) {
    if (out) std::memset(out, 0, sizeof *out);
    if (!ctx || !out || (count && !files)) return kFailed;
    return guarded(kMake, [&]() -> int32_t {
        if (!set_archive_mode(ctx)) {
            trace("set_archive_mode", kMake);
            return kFailed;
        }
        WorkFile tmp;
        if (!tmp.create("MTN", kMake, crypto(ctx))) return kFailed;
        if (existing && existing->pbData && existing->cbData &&
            !tmp.write(existing->pbData, existing->cbData)) {
            trace("write_data_to_tempfile", kMake);
            return kFailed;
        }
        for (uint32_t i = 0; i < count; ++i) {
            if (!files[i].Data && files[i].Length) {
                trace("file data == NULL", kMake);
                return kFailed;
            }
            std::string record;
            if (!sign_file_record(ctx, files[i], record)) return kFailed;
            if (!tmp.write(record)) {
                trace("write_data_to_tempfile", kMake);
                return kFailed;
            }
        }
        unsigned char *data = nullptr;
        uint32_t length = 0;
        if (!tmp.read_back(data, length)) {
            trace("save_tempfile", kMake);
            return kFailed;
        }
        if (!tmp.close()) {
            std::free(data);
            trace("close_tempfile", kMake);
            return kFailed;
        }
        out->Data = data;
        out->Length = length;
        std::snprintf(out->Name, sizeof out->Name, "%s", "TMNSIGN.TMS");
        return 0;
    });
}

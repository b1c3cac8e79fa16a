#include "smime/settings.h"

#include <cstring>

#include "smime/report.h"

namespace tarmin::smime {

namespace {

// Directory settings may hold environment references whatever their type
// ("%TEMP%\Archive\"): they are expanded here once.
std::string expanded(const std::string &text) {
    char *e = QZ_ExpandEnvironment(text.c_str());
    if (!e) throw std::bad_alloc();
    std::string out = e;
    QZ_Free(e);
    return out;
}

// Whether a value is absent (a probe that copies nothing answers 0 then).
bool value_absent(const std::string &key, const char *name) {
    QZ_DWORD length = 0, type = 0;
    return QZ_GetKeyValue(key.c_str(), name, nullptr, &length, &type, nullptr, 0, 0, 0) == 0;
}

} // namespace

bool read_text_setting(const std::string &key, const char *name, const char *def, std::string &out) {
    char *value = nullptr;
    int rc = QZ_GetKeyString(key.c_str(), name, &value, def);
    if (rc == 0 || value_absent(key, name)) {
        out = value ? value : def;
        QZ_Free(value);
        return true;
    }
    QZ_Free(value);
    report(kReadSetting, name, key.c_str());
    return false;
}

bool read_dword_setting(const std::string &key, const char *name, uint32_t def, uint32_t &out) {
    QZ_DWORD v = def;
    if (QZ_GetKeyDwordEx(key.c_str(), name, &v, def, 0) != 0) {
        report(kReadSetting, name, key.c_str());
        return false;
    }
    out = v;
    return true;
}

char sort_code(uint32_t value) {
    switch (value) {
    case 1: return 'D';
    case 2: return 'M';
    case 3: return 'Y';
    default: return 'N';
    }
}

uint32_t crypto_mode_word(uint32_t cf, uint32_t of) {
    auto bit = [](uint32_t v, int from, int to) { return ((v >> from) & 1u) << to; };
    return bit(cf, 0, 0) | bit(cf, 1, 1) | bit(cf, 2, 2) | bit(of, 7, 3) | bit(cf, 10, 6) | bit(cf, 9, 7) |
           bit(cf, 11, 8) | bit(cf, 12, 9);
}

bool set_flag_auto_mode(MhaContext *ctx) {
    State &s = st(ctx);
    QZ_DWORD cert_flags = 0;
    if (QZ_GetKeyDword(s.key_path.c_str(), "CertificateFlags", &cert_flags) != 0) {
        report(kReadDword, "CertificateFlags", s.key_path.c_str());
        return false;
    }
    QZ_DWORD out_flags = 0;
    bool have_out = QZ_GetKeyDword(s.key_path.c_str(), "OutputMessageFlags", &out_flags) == 0;
    if (!have_out) out_flags = 0;
    s.settings.binary = have_out && (out_flags & 0x10000u);
    if (CCA_set_flag(crypto(ctx), crypto_mode_word(cert_flags, out_flags)) != 0) {
        report_crypto(crypto(ctx), "CCA_set_flag", "set_flag_auto_mode");
        return false;
    }
    return true;
}

bool set_archive_mode(MhaContext *ctx) {
    State &s = st(ctx);
    Settings &set = s.settings;
    set.archive_out.clear();
    set.archive_in.clear();
    set.out_sort = set.in_sort = 'N';
    auto fail = [&](const char *step) {
        trace(step, "set_archive_mode");
        set.archive_out.clear();
        set.archive_in.clear();
        return false;
    };
    uint32_t flags = 0;
    if (!read_dword_setting(s.key_path, "ArchiveFlags", 0, flags)) return fail("TMN_ConfGetDWORDEx");
    set.archive_flags = flags;
    uint32_t sort = 0;
    if (flags & 1u) {
        if (!read_text_setting(s.key_path, "ArchivePathOut", "Archive\\Out\\", set.archive_out))
            return fail("TMN_ConfGetPath");
        if (!read_dword_setting(s.key_path, "ArchiveOutSort", 0, sort)) return fail("TMN_ConfGetDWORDEx");
        set.archive_out = expanded(set.archive_out);
        set.out_sort = sort_code(sort);
    }
    if (flags & 2u) {
        if (!read_text_setting(s.key_path, "ArchivePathIn", "Archive\\In\\", set.archive_in))
            return fail("TMN_ConfGetPath");
        if (!read_dword_setting(s.key_path, "ArchiveInSort", 0, sort)) return fail("TMN_ConfGetDWORDEx");
        set.archive_in = expanded(set.archive_in);
        set.in_sort = sort_code(sort);
    }
    return true;
}

bool set_result_detail_mode(MhaContext *ctx) {
    State &s = st(ctx);
    Settings &set = s.settings;
    set.results_path.clear();
    set.results_sort = 'N';
    if (!read_dword_setting(s.key_path, "InputMessageFlags", 0, set.input_flags)) return false;
    if (set.input_flags & 0x10u) {
        uint32_t sort = 0;
        if (!read_text_setting(s.key_path, "SaveProcessedPath", "Results\\", set.results_path)) return false;
        if (!read_dword_setting(s.key_path, "InProcessedSort", 0, sort)) return false;
        set.results_path = expanded(set.results_path);
        set.results_sort = sort_code(sort);
    }
    return true;
}

} // namespace tarmin::smime

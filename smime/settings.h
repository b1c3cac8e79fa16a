// Settings of the library, read under the product key before each message:
// the crypto mode word, the archives, the result-detail store.
#pragma once

#include <string>

#include "smime/context.h"

namespace tarmin::smime {

// CertificateFlags and OutputMessageFlags into the crypto library's mode word
// (CCA_set_flag); also takes the binary transfer encoding switch.
bool set_flag_auto_mode(MhaContext *ctx);
// The crypto mode word of the two settings.
uint32_t crypto_mode_word(uint32_t certificate_flags, uint32_t output_flags);
// ArchiveFlags, the archive paths and their sort codes.
bool set_archive_mode(MhaContext *ctx);
// InputMessageFlags, with the result store's path and sort code when kept.
bool set_result_detail_mode(MhaContext *ctx);

// A text setting with a default (absent: the default; unreadable: false with
// 0xE003000F reported).
bool read_text_setting(const std::string &key, const char *name, const char *def, std::string &out);
// A number with a default, likewise.
bool read_dword_setting(const std::string &key, const char *name, uint32_t def, uint32_t &out);
// The sort code of a sort value: 0 'N', 1 'D', 2 'M', 3 'Y', other 'N'.
char sort_code(uint32_t value);

} // namespace tarmin::smime

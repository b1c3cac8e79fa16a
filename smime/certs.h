// Certificates of the crypto context for the encoder and the session.
#pragma once

#include <string>
#include <vector>

#include "smime/context.h"

namespace tarmin::smime {

// The lookup code of an address type ("SMTP" 1, "EX" 0, "NOTES" 2); the type
// is compared without regard to case. -1 for any other type.
int address_type_code(std::string_view type);

// Certificates the crypto library finds for an address (at most 64, owned by
// the caller: release_certs). The type is turned to upper case in place; an
// unknown type reports 0xE003000C. false after a reported failure (an address
// without a certificate is not a failure: the list stays empty).
bool find_certs_by_address(MhaContext *ctx, std::string &type, const std::string &address,
                           std::vector<PCCERT_CONTEXT> &certs, const char *function);
void release_certs(MhaContext *ctx, std::vector<PCCERT_CONTEXT> &certs);

// Writes the upper-cased type back into the caller's text (same length),
// only the bytes that change: a text already in upper case, which a host may
// keep in read-only memory, is never written.
void store_upper_type(char *caller_text, const std::string &upper);

// The refusal of an operation in the mode without cryptography.
bool refuse_without_crypto(MhaContext *ctx, const char *function);

} // namespace tarmin::smime

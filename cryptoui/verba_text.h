// What the certificate and revocation-list viewers show of a record, without
// a window: the rows of the "Состав" page and the printout written to a text
// file. Texts are Windows-1251.
#pragma once

#include "include/qzvoui.h"

#include <string>
#include <vector>

namespace tarmin::qzvoui {

struct VerbaField {
    // A label of the viewer's own (static text). Not a std::string: clang 14
    // crashes while it tries to evaluate the lists of these rows as constants.
    const char *name;
    std::string value;
};

// Upper-case hexadecimal with a blank between bytes (QZ_FormatHex).
std::string hexText(const unsigned char *data, size_t length);
// The e-mail entries as "type:address" each followed by a non-breaking space.
std::string emailsText(const TMN_VERBA_CERT &cert);
// The alias when present (non-null, length above 0): its bytes up to a zero.
bool aliasOf(const TMN_VERBA_CERT &cert, std::string &alias);

std::vector<VerbaField> certFields(const TMN_VERBA_CERT &cert);
std::string certPrintout(const TMN_VERBA_CERT &cert);
std::vector<VerbaField> crlFields(const TMN_VERBA_CRL &crl);
std::string crlPrintout(const TMN_VERBA_CRL &crl);

} // namespace tarmin::qzvoui

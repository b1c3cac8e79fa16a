// The NOTES name of a certificate: the other-name entry 1.3.6.1.4.1.3670.4.28
// of its subject alternative names, read from the DER encoding with bounds
// checks on every length (certificates arrive with signatures from strangers).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tarmin::smime {

// The value in Windows-1251 (UTF-8 and BMP strings converted; other string
// types taken as bytes up to the first zero; at most 4096 bytes); nullopt
// when the certificate has no such entry or does not parse.
std::optional<std::string> certificate_notes_name(std::string_view der);

} // namespace tarmin::smime

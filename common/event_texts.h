// Event texts of QZ_ReportEvent: one template per event code.
//
// A template is a Windows-1251 text with printf-style conversions that take
// the event's arguments in order:
//   %s  const char *        a Windows-1251 text (null is shown as "(нет)")
//   %u  unsigned (QZ_DWORD)  cast size_t / unsigned long to QZ_DWORD
//   %d  int
//   %X  unsigned (QZ_DWORD)  upper-case hexadecimal
//   %%  a percent sign
// Callers pass exactly the arguments of the table below, of these types.
//
//   code        level  arguments                                   occasion
//   ----------  -----  ------------------------------------------  ------------------------------------------
//   0x600E0005  1      code %X, threshold %u, date %s, time %s     an error repeated MaxErrorRepeat times
//   0xA00E0001  1      packet number %s                            a distribution packet had nothing to send
//   0xE0020004  -      none                                        gateway log code, never reported here
//   0xE0030001  1, 3   text %s                                     crypto library failure: level 1 the text
//                                                               of CCA_get_debug_error, level 3 the text
//                                                               of CCA_get_text_error (a caller holding
//                                                               only the context passes
//                                                               CCA_get_text_error(context), never the
//                                                               context itself)
//   0xE0030002  3      none                                        memory exhausted
//   0xE0030003  3      file name %s                                creating a file failed
//   0xE0030004  3      none                                        writing a temporary file failed
//   0xE0030005  3      none                                        converting a file time failed
//   0xE0030006  3      none                                        reading the size of a temporary file failed
//   0xE0030007  3      none                                        reading a temporary file back failed
//   0xE0030008  3      none                                        closing a temporary file failed
//   0xE0030009  3      compressor code %d                          compression failed
//   0xE003000A  3      decompressor code %d                        decompression failed
//   0xE003000B  3      value name %s, key path %s                  reading a DWORD setting failed
//   0xE003000C  3      address type %s                             address type not SMTP, EX or NOTES
//   0xE003000D  3      file name %s                                writing an output file failed
//   0xE003000E  3      file name %s                                closing an output file failed
//   0xE003000F  3      value name %s, key path %s                  reading a setting failed
//   0xE0030010  3      directory %s                                creating a directory failed
//   0xE0030011  3      header or field name %s                     message format error
//   0xE0030015  1      failed step %s, function %s                 trace of a failed step
//   0xE0030016  3      announced %u, decoded %u                    decoded signature length mismatch
//   0xE0030017  3      announced %u, decoded %u                    decoded encrypted length mismatch
//   0xE0030018  3      announced %u, decoded %u                    decoded attachment length mismatch
//   0xE0030019  3      none                                        no recipients for encryption
//   0xE003001A  1      function %s, caller %s                      product key path not obtained
//   0xE003001E  3      none                                        unsigned message where a signature is required
//   0xE003001F  1, 3   address %s                                  sender address not in the signer's certificate
//   0xE0030021  3      header text %s                              address header did not parse
//   0xE0030026  3      signer name %s, status %d                   signature verification did not succeed
//   0xE0030027  3      none                                        not available without cryptography
//   0xE0070005  3      none                                        the monitor ends its start-up
//   0xE0070006  3      none                                        the operator's crypto context did not open
//   0xE00B0001  3      none                                        signed notes: memory exhausted
//   0xE00B0003  1      failed step %s, function %s                 signed notes: trace of a failed step
//   0xE00C0009  1      short text %s, path %s, system error %u     a packet job failed
//   0xE00E0002  1      timeout %u, subject %s, time %s, date %s,   a receipt is overdue
//                      hash %s
//   0xE00E0003  1      system error %u, operation %s, writer %s    an alert job could not be written
//   0xE00E0004  1      none                                        the overdue alert was not sent
//   0xE00E0006  1      none                                        the numerous-error alert was not sent
//   1..0xFFFF   1      none                                        a system error (errno), with its text
//   any other   any    none                                        generic text with the code
//
// Texts that other programs read back from the event files:
//   0x600E0005 holds " 0x" and the error code in hexadecimal, later ": ",
//              the date and the time ("Ошибка 0x%X возникла %u раз; последняя: %s %s");
//   0xE00E0002 ends in " hash=" and the hash.
#pragma once

#include <cstdarg>
#include <string>

#include "qzcom.h"

namespace tarmin::qzcom {

// The template of a code; null for codes without their own text.
const char *event_template(QZ_DWORD code);

// The event text of a code with its arguments (Windows-1251). Codes without
// a template take no arguments and get a generic text.
std::string format_event_text(QZ_DWORD code, va_list args);

// Formats a template as described above (exposed for tests).
std::string format_template(const char *tmpl, va_list args);

} // namespace tarmin::qzcom

// File names between the suite's texts and the file system.
//
// The file system speaks UTF-8; every text of the suite (settings, logs, job
// files, messages) is Windows-1251. A path that comes from a text (a log or
// output directory setting, a packet directory) is turned into file-system
// bytes where it reaches the platform layer; a name that comes from the file
// system (an attachment picked in a dialog, a file found by a mask) is turned
// into Windows-1251 where it enters a text. A name that Windows-1251 cannot
// hold has no text form: it is refused, never written as '?'.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tarmin::monitor {

// The file-system path of a Windows-1251 path text.
std::string fileSystemPath(std::string_view text1251);

// The Windows-1251 text of a file-system name or path; nullopt when the bytes
// are not UTF-8 or name a character that Windows-1251 lacks.
std::optional<std::string> textName(std::string_view fileSystemName);

// A file-system path for a message (Windows-1251): its text form, or, for a
// name without one, the characters Windows-1251 lacks shown as '?'.
std::string displayPath(std::string_view fileSystemPath);

// Whether two file-system names are the same name as Windows compares them:
// without regard to the case of Latin and Cyrillic letters.
bool sameFileName(std::string_view a, std::string_view b);

} // namespace tarmin::monitor

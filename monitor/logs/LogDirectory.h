// The gateway log directory as the settings give it: Windows-1251 text that
// is turned into a file-system path where the files are looked for, and the
// reason, when there is one, why no log can be read from it. An empty list
// must not look like a quiet gateway when the directory is missing.
#pragma once

#include <string>

namespace tarmin::monitor {

// Why no log file can be read from the directory (Windows-1251 text: the
// directory is missing, is no directory, or cannot be read, with the system's
// reason); empty when it can be read.
std::string logDirectoryProblem(const std::string &directory1251);

} // namespace tarmin::monitor

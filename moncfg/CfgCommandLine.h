// The configuration program's command line: only the profile switch.
#pragma once

#include <string>
#include <vector>

namespace tarmin::moncfg {

// The profile named by the arguments after the program name (args[0]): every
// argument that begins, letter case as written, with "-profile:",
// "/profile:", "-profile=" or "/profile=" names it with the rest of the
// argument, the last such argument winning. Empty when none does; other
// arguments are ignored.
std::string profileFromCommandLine(const std::vector<std::string> &args);

} // namespace tarmin::moncfg

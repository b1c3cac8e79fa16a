// Start-up helpers of the window programs (tmngwmon, tmnmoncfg, tmncertmgr,
// uishot): the command line is checked before any window exists, so that
// --help, --version and a mistyped option work without a display, and Qt's
// own diagnostics stay out of the terminal unless tracing is on.
#pragma once

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarmin::cli {

// Screens a window program's arguments (args[0] is the program):
// "--help" or "-h" prints usage to out and gives 0, "--version" prints
// version to out and gives 0; any other argument that recognised() refuses
// is a usage error: "PROGRAM: unknown option X" (or "unexpected argument X")
// and the usage go to err, and the result is 2. Nothing to do before the
// window gives nullopt. Help and version win over a refused argument.
std::optional<int> screenCommandLine(std::string_view program, const std::vector<std::string> &args,
                                     const std::function<bool(const std::string &)> &recognised,
                                     std::string_view usage, std::string_view version, std::FILE *out = stdout,
                                     std::FILE *err = stderr);

// Whether an argument is one of the profile switches of the suite's
// programs: "-profile:", "/profile:", "-profile=" or "/profile=" followed by
// the name (the spellings tmnmoncfg has always taken).
bool isProfileSwitch(std::string_view arg);

// Installs a Qt message handler, before the application object is made:
// Qt's debug, information and warning lines (platform plugin notes, a
// missing XDG_RUNTIME_DIR) go to the trace (QZ_Trace) when TARMIN_TRACE is
// set and are dropped otherwise; critical and fatal messages, such as a
// display that cannot be opened, always go to standard error.
void routeQtMessages();

} // namespace tarmin::cli

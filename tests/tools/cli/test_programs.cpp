// The suite's programs as a user meets them on a terminal without a display:
// --help and --version answer on standard output without opening a window,
// and an unknown or misspelt option is refused with exit status 2 before
// anything else happens. The window programs keep Qt's own notes out of the
// terminal unless tracing is on.
#include "testsupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

using namespace tarmin::test;
namespace fs = std::filesystem;

namespace {

struct Program {
    const char *name;
    const char *version; // what --version prints
};

// tmngwmon shows the four-part version of its About box.
const Program kPrograms[] = {
    {"tmngwmon", "tmngwmon " TARMIN_VERSION ".0\n"}, {"tmnmoncfg", "tmnmoncfg " TARMIN_VERSION "\n"},
    {"tmncertmgr", "tmncertmgr " TARMIN_VERSION "\n"}, {"uishot", "uishot " TARMIN_VERSION "\n"},
    {"tmncert", "tmncert " TARMIN_VERSION "\n"},       {"tmnreg", "tmnreg " TARMIN_VERSION "\n"},
    {"loggen", "loggen " TARMIN_VERSION "\n"},         {"tmngwd", "tmngwd " TARMIN_VERSION "\n"},
    {"tmnmoncfg_shots", "tmnmoncfg_shots " TARMIN_VERSION "\n"}, {"tmngw-traffic", "tmngw-traffic " TARMIN_VERSION "\n"},
};

struct Result {
    int status;
    std::string out, err;
};

// Runs a program where no window can open: without a display and on the
// X11 platform, a program that makes its application object aborts.
Result runHeadless(const std::string &program, const std::vector<std::string> &args,
                   const std::vector<std::string> &env = {}) {
    std::vector<std::string> argv{"env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", "-u", "TARMIN_TRACE",
                                  "QT_QPA_PLATFORM=xcb"};
    argv.insert(argv.end(), env.begin(), env.end());
    argv.insert(argv.end(), {"timeout", "60", built_program(program).string()});
    argv.insert(argv.end(), args.begin(), args.end());
    Result r;
    r.status = run(argv, &r.out, &r.err);
    return r;
}

} // namespace

TEST(Programs, HelpVersionAndRefusedOptionsWithoutAWindow) {
    int checked = 0;
    for (const Program &p : kPrograms) {
        if (!fs::exists(built_program(p.name))) {
            EXPECT_TRUE(std::string_view(p.name).starts_with("tmngw")) << p.name << " not built";
            continue;
        }
        ++checked;
        SCOPED_TRACE(p.name);
        const std::string usage = std::string("Usage: ") + p.name;

        Result help = runHeadless(p.name, {"--help"});
        EXPECT_EQ(help.status, 0) << help.err;
        EXPECT_EQ(help.out.rfind(usage, 0), 0u) << help.out;
        EXPECT_NE(help.out.find("--version"), std::string::npos) << help.out;
        EXPECT_EQ(help.err, "");

        Result version = runHeadless(p.name, {"--version"});
        EXPECT_EQ(version.status, 0) << version.err;
        EXPECT_EQ(version.out, p.version);
        EXPECT_EQ(version.err, "");

        // Unknown, misspelt, single-dash, and a misspelling after a good option.
        for (const std::vector<std::string> &bad :
             std::vector<std::vector<std::string>>{{"--bogus"}, {"--hlep"}, {"--verison"}, {"-Z"}, {"--help=x"}}) {
            Result r = runHeadless(p.name, bad);
            EXPECT_EQ(r.status, 2) << bad.back() << ": " << r.err;
            EXPECT_EQ(r.out, "") << bad.back();
            EXPECT_NE(r.err.find(bad.back()), std::string::npos) << bad.back() << ": " << r.err;
        }
    }
    EXPECT_GE(checked, 8);
}

// The window programs take their profile switch and still refuse what
// follows it misspelt; what comes after --help does not matter.
TEST(Programs, WindowProgramsScreenTheWholeCommandLine) {
    const struct {
        const char *program;
        std::vector<std::string> args;
        int status;
    } cases[] = {
        {"tmnmoncfg", {"-profile:demo", "--verison"}, 2},
        {"tmnmoncfg", {"/profile=demo", "extra.txt"}, 2},
        {"tmnmoncfg", {"-Profile:demo"}, 2}, // the switch is written in lower case
        {"tmncertmgr", {"-profile=demo", "--bogus"}, 2},
        {"tmngwmon", {"/profile=demo", "--screenshot=x.png", "--selec=2"}, 2},
        {"tmngwmon", {"--select=5"}, 2},
        {"uishot", {"a", "b"}, 2},
        {"uishot", {}, 2},
        {"tmnmoncfg_shots", {"a", "b"}, 2},
        {"tmnmoncfg", {"--bogus", "--help"}, 0},
        {"tmncertmgr", {"-profile:x", "-h"}, 0},
    };
    for (const auto &c : cases) {
        Result r = runHeadless(c.program, c.args);
        EXPECT_EQ(r.status, c.status) << c.program << " " << c.args.size() << ": " << r.err;
        if (c.status == 2) {
            EXPECT_NE(r.err.find(std::string("Usage: ") + c.program), std::string::npos) << r.err;
        }
    }
}

// Qt's notes (platform plugin messages, XDG_RUNTIME_DIR) reach the terminal
// only through the trace; a failure to open the display is always told,
// with the note that explains it.
TEST(Programs, QtNotesOnlyWhenTracing) {
    const fs::path logs = make_temp_dir("gwlogs");
    ASSERT_EQ(run({built_program("tmnreg").string(), "set", "Software\\KELVORIA\\tarmin-operator\\Profiles\\Shot",
                   "GWMonGWLogDirectory", "string", logs.string()}),
              0);
    const fs::path shot = make_temp_dir("shots") / "monitor.png";
    const std::vector<std::string> args{"/profile=Shot", "--screenshot", shot.string()};

    Result quiet = runHeadless("tmngwmon", args, {"QT_QPA_PLATFORM=offscreen"});
    ASSERT_EQ(quiet.status, 0) << quiet.err;
    EXPECT_TRUE(fs::exists(shot));
    // Only the program's own lines.
    std::size_t start = 0;
    while (start < quiet.err.size()) {
        const std::size_t end = quiet.err.find('\n', start);
        const std::string line = quiet.err.substr(start, end - start);
        EXPECT_EQ(line.rfind("tmngwmon: ", 0), 0u) << line;
        start = end == std::string::npos ? quiet.err.size() : end + 1;
    }

    Result traced = runHeadless("tmngwmon", args, {"QT_QPA_PLATFORM=offscreen", "TARMIN_TRACE=-"});
    ASSERT_EQ(traced.status, 0) << traced.err;
    EXPECT_NE(traced.err.find("Qt: This plugin does not support"), std::string::npos) << traced.err;

    Result noDisplay = runHeadless("tmnmoncfg", {"-profile:Shot"});
    EXPECT_NE(noDisplay.status, 0);
    EXPECT_NE(noDisplay.err.find("could not connect to display"), std::string::npos) << noDisplay.err;
}

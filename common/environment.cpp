// Environment references ("%TEMP%") and the user's data directory.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <pwd.h>
#include <sys/stat.h>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

#include "common/settings.h"
#include "qzcom.h"

extern char **environ;

namespace fs = std::filesystem;

namespace tarmin::qzcom {

namespace {

bool iequals_ascii(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        auto x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x != y && !(x < 0x80 && y < 0x80 && std::tolower(x) == std::tolower(y))) return false;
    }
    return true;
}

// A variable by name; the exact name first, then, as Windows names ignore
// case, any letter case.
std::optional<std::string> variable(std::string_view name) {
    if (name.empty()) return std::nullopt;
    std::string exact(name);
    if (const char *v = std::getenv(exact.c_str())) return std::string(v);
    for (char **e = environ; e && *e; ++e) {
        const char *eq = std::strchr(*e, '=');
        if (eq && iequals_ascii(std::string_view(*e, static_cast<size_t>(eq - *e)), name)) return std::string(eq + 1);
    }
    return std::nullopt;
}

// TEMP and TMP name a directory on every Windows machine; here they fall
// back to each other, then to TMPDIR, then to /tmp.
std::optional<std::string> lookup(std::string_view name) {
    bool temp = iequals_ascii(name, "TEMP"), tmp = iequals_ascii(name, "TMP");
    if (!temp && !tmp) return variable(name);
    for (const char *candidate : {temp ? "TEMP" : "TMP", temp ? "TMP" : "TEMP", "TMPDIR"})
        if (auto v = variable(candidate); v && !v->empty()) return v;
    return std::string("/tmp");
}

} // namespace

// As Windows expands: "%NAME%" becomes the variable's value; a reference to
// an unknown variable (or "%%") is kept whole and the scan goes on after its
// closing '%'; a '%' without a closing one is kept.
std::string expand_environment(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        size_t open = text.find('%', i);
        if (open == std::string_view::npos) {
            out.append(text.substr(i));
            break;
        }
        out.append(text.substr(i, open - i));
        size_t close = text.find('%', open + 1);
        if (close == std::string_view::npos) {
            out.append(text.substr(open));
            break;
        }
        if (auto value = lookup(text.substr(open + 1, close - open - 1)))
            out.append(*value);
        else
            out.append(text.substr(open, close - open + 1));
        i = close + 1;
    }
    return out;
}

namespace {

// Where the data lives when the user has no home directory: a name in /tmp
// that anyone could have taken first.
fs::path temporary_home() { return fs::path("/tmp") / ("tarmin-" + std::to_string(::getuid())); }

std::string octal_mode(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

// Makes the missing directories of a path, each for the user alone.
void create_private_directories(const fs::path &dir) {
    fs::path partial;
    for (const fs::path &part : dir) {
        partial /= part;
        if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) return;
    }
}

} // namespace

fs::path private_home(std::string *why) {
    const fs::path home = tarmin_home();
    const bool temporary = home == temporary_home();
    auto refuse = [&](const std::string &reason) {
        if (why) *why = reason;
        return fs::path();
    };
    struct stat st {};
    if (::lstat(home.c_str(), &st) != 0) {
        if (errno != ENOENT) return refuse("the directory " + home.string() + " cannot be used: " + std::strerror(errno));
        create_private_directories(home);
        if (::lstat(home.c_str(), &st) != 0)
            return refuse("the directory " + home.string() + " cannot be created: " + std::strerror(errno));
    }
    // The home may be a link the user made (not so the name in /tmp, which
    // anyone could have made).
    if (S_ISLNK(st.st_mode) && (temporary || ::stat(home.c_str(), &st) != 0))
        return refuse("the directory " + home.string() + " is a symbolic link" +
                      (temporary ? " in a directory shared with other users" : " to nothing"));
    if (!S_ISDIR(st.st_mode)) return refuse(home.string() + " is not a directory");
    if (st.st_uid != ::geteuid())
        return refuse("the directory " + home.string() + " belongs to another user (uid " +
                      std::to_string(st.st_uid) + "); the suite keeps its settings and keys only in a directory "
                      "of its user");
    if (st.st_mode & 077)
        return refuse("the directory " + home.string() + " is open to other users (mode " + octal_mode(st.st_mode) +
                      "); it holds settings and private keys: make it private with chmod 700 " + home.string());
    if (why) why->clear();
    return home;
}

fs::path tarmin_home() {
    if (const char *h = std::getenv("TARMIN_HOME"); h && *h) return h;
    if (const char *x = std::getenv("XDG_DATA_HOME"); x && *x) return fs::path(x) / "tarmin";
    std::string home;
    if (const char *h = std::getenv("HOME"); h && *h) {
        home = h;
    } else {
        std::vector<char> buf(16384);
        passwd pw{}, *found = nullptr;
        if (::getpwuid_r(::getuid(), &pw, buf.data(), buf.size(), &found) == 0 && found && found->pw_dir)
            home = found->pw_dir;
    }
    if (home.empty()) return temporary_home();
    return fs::path(home) / ".local/share/tarmin";
}

} // namespace tarmin::qzcom

extern "C" char *QZ_ExpandEnvironment(const char *text) {
    try {
        std::string out = tarmin::qzcom::expand_environment(text ? text : "");
        char *p = static_cast<char *>(std::malloc(out.size() + 1));
        if (p) std::memcpy(p, out.c_str(), out.size() + 1);
        return p;
    } catch (...) {
        return nullptr;
    }
}

// Environment references ("%TEMP%") and the user's data directory.
#include <cstdlib>
#include <cstring>
#include <optional>
#include <pwd.h>
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
    if (home.empty()) return fs::path("/tmp") / ("tarmin-" + std::to_string(::getuid()));
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

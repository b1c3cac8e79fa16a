#include "smime/archive.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "smime/hooks.h"
#include "smime/mime_text.h"
#include "smime/report.h"
#include "smime/workfile.h"

namespace tarmin::smime {

namespace {

bool exists(const std::string &path_1251) {
    struct stat sb {};
    return ::lstat(fs_path(path_1251).c_str(), &sb) == 0;
}

// Creates every missing directory of the path (0700: archives hold mail).
bool make_directories(const std::string &dir_1251) {
    const std::string dir = fs_path(dir_1251);
    for (size_t pos = 1; pos <= dir.size(); ++pos) {
        if (pos != dir.size() && dir[pos] != '/') continue;
        std::string part = dir.substr(0, pos);
        if (part.empty() || part.back() == '/') continue;
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    struct stat sb {};
    return ::stat(dir.c_str(), &sb) == 0 && S_ISDIR(sb.st_mode);
}

std::string cut(std::string s, size_t max) {
    if (s.size() > max) s.resize(max);
    return s;
}

// Splits a path into everything before the extension of its file name and
// the extension (with its dot; empty when the name has none).
std::pair<std::string, std::string> split_extension(const std::string &path) {
    size_t slash = path.find_last_of("/\\");
    size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {path, ""};
    return {path.substr(0, dot), path.substr(dot)};
}

std::string numbered(const std::pair<std::string, std::string> &parts, int n) {
    return parts.first + "~" + std::to_string(n) + parts.second;
}

void sync_directory(const std::string &file_1251) {
    std::string dir = fs_path(file_1251);
    size_t slash = dir.rfind('/');
    dir = slash == std::string::npos ? "." : dir.substr(0, slash + 1);
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

std::string safe_file_name(std::string_view name) {
    std::string out(name);
    for (char &c : out)
        if (c == '"' || c == '*' || c == '/' || c == ':' || c == '<' || c == '>' || c == '?' || c == '\\' ||
            c == '|')
            c = '_';
    return out;
}

std::optional<std::string> dated_directory(const std::string &path, char sort) {
    std::string dir = path;
    if (!dir.empty() && dir.back() != '\\' && dir.back() != '/') dir += '/';
    std::time_t now = current_time();
    std::tm tm{};
    localtime_r(&now, &tm);
    char sub[48] = "";
    if (sort == 'D') std::snprintf(sub, sizeof sub, "%04d%02d%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
    if (sort == 'M') std::snprintf(sub, sizeof sub, "%04d%02d", tm.tm_year + 1900, tm.tm_mon + 1);
    if (sort == 'Y') std::snprintf(sub, sizeof sub, "%04d", tm.tm_year + 1900);
    if (*sub) dir += std::string(sub) + "/";
    if (!make_directories(dir)) {
        report_system_error(errno);
        report(kCreateDirectory, dir.c_str());
        return std::nullopt;
    }
    return dir;
}

std::string free_name(const std::string &path, int *number) {
    if (number) *number = 0;
    if (!exists(path)) return path;
    const auto parts = split_extension(path);
    int n = 100;
    while (exists(numbered(parts, n))) n += 100;
    // A hundred was taken at least once: go back 99 and count by ones.
    for (n -= 99; exists(numbered(parts, n)); ++n) {
    }
    if (number) *number = n;
    return numbered(parts, n);
}

bool archive_data_and_sign(MhaContext *ctx, Direction direction, std::string_view name,
                           const std::string_view *data, const std::string *signature, std::string_view signer) {
    const Settings &set = st(ctx).settings;
    const bool outgoing = direction == Direction::outgoing;
    if (!(set.archive_flags & (outgoing ? 1u : 2u))) return true;
    const std::string &root = outgoing ? set.archive_out : set.archive_in;
    if (root.empty()) return true;
    auto dir = dated_directory(root, outgoing ? set.out_sort : set.in_sort);
    if (!dir) return false;

    std::string file = std::string(name);
    if ((set.archive_flags & 4u) && iequals(file, "TMNNOTIF.TXT")) {
        std::time_t now = current_time();
        std::tm tm{};
        localtime_r(&now, &tm);
        char buf[64];
        std::snprintf(buf, sizeof buf, "TMNNOTIF%04d%02d%02d%02d%02d%02d.TXT", tm.tm_year + 1900, tm.tm_mon + 1,
                      tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
        file = buf;
    }
    const std::string plain = cut(*dir + safe_file_name(file), 248);
    std::string data_path;
    if (data) {
        data_path = free_name(plain);
        if (!write_to_file(data_path, *data)) return false;
        sync_directory(data_path);
    } else {
        int n = 0;
        std::string first_free = free_name(plain, &n);
        data_path = first_free == plain ? plain : n >= 2 ? numbered(split_extension(plain), n - 1) : plain;
    }
    if (signature) {
        std::string sign_path = cut(data_path + "." + safe_file_name(signer), 245) + ".sgn";
        sign_path = free_name(sign_path);
        if (!write_to_file(sign_path, *signature)) return false;
        sync_directory(sign_path);
    }
    return true;
}

} // namespace tarmin::smime

#include "testsupport.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace tarmin::test {

namespace {
fs::path g_home;
int g_counter = 0;

std::string drain(int fd) {
    std::string s;
    char buf[65536];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0) s.append(buf, static_cast<size_t>(n));
    return s;
}
} // namespace

void init_home() {
    char tmpl[] = "/tmp/tarmin-test-XXXXXX";
    const char *base = std::getenv("TMPDIR");
    std::string t = std::string(base && *base ? base : "/tmp") + "/tarmin-test-XXXXXX";
    std::vector<char> buf(t.begin(), t.end());
    buf.push_back('\0');
    char *dir = ::mkdtemp(buf.data());
    if (!dir) dir = ::mkdtemp(tmpl);
    if (!dir) throw std::runtime_error("cannot create a test home directory");
    g_home = dir;
    ::setenv("TARMIN_HOME", dir, 1);
    // Event files and temporary files of the code under test stay in the home.
    fs::path tmp = g_home / "tmp";
    fs::create_directories(tmp);
    for (const char *name : {"TEMP", "TMP"}) ::setenv(name, tmp.c_str(), 1);
}

void remove_home() {
    if (g_home.empty() || std::getenv("TARMIN_KEEP_TEST_HOME")) return;
    std::error_code ec;
    // Restore permissions that read-only tests may have taken away.
    for (auto it = fs::recursive_directory_iterator(g_home, fs::directory_options::skip_permission_denied, ec);
         it != fs::recursive_directory_iterator(); it.increment(ec))
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::permissions(g_home, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(g_home, ec);
}

fs::path home() { return g_home; }

fs::path make_temp_dir(const std::string &prefix) {
    fs::path p = g_home / (prefix + "-" + std::to_string(++g_counter));
    fs::create_directories(p);
    return p;
}

std::string read_file(const fs::path &p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void write_file(const fs::path &p, const std::string &bytes) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::vector<std::string> names_in(const fs::path &dir) {
    std::vector<std::string> names;
    for (const auto &e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

fs::path built_program(const std::string &name) {
    const char *b = std::getenv("TARMIN_BUILD_DIR");
    return fs::path(b ? b : ".") / "bin" / name;
}

fs::path source_dir() {
    const char *s = std::getenv("TARMIN_SOURCE_DIR");
    return fs::path(s ? s : ".");
}

int run(const std::vector<std::string> &argv, std::string *out, std::string *err, const std::string &stdin_text) {
    int in_pipe[2], out_pipe[2], err_pipe[2];
    if (::pipe(in_pipe) || ::pipe(out_pipe) || ::pipe(err_pipe)) return -1;
    pid_t pid = ::fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        ::dup2(in_pipe[0], 0);
        ::dup2(out_pipe[1], 1);
        ::dup2(err_pipe[1], 2);
        for (int fd : {in_pipe[0], in_pipe[1], out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1]}) ::close(fd);
        std::vector<char *> args;
        for (const auto &a : argv) args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    ::close(in_pipe[0]);
    ::close(out_pipe[1]);
    ::close(err_pipe[1]);
    if (!stdin_text.empty()) {
        ssize_t ignored = ::write(in_pipe[1], stdin_text.data(), stdin_text.size());
        (void)ignored;
    }
    ::close(in_pipe[1]);
    // Read stderr after stdout; tests keep both small, so the pipes do not fill.
    std::string o = drain(out_pipe[0]);
    std::string e = drain(err_pipe[0]);
    ::close(out_pipe[0]);
    ::close(err_pipe[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (out) *out = o;
    if (err) *err = e;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::pair<std::string, std::string> local_date_time(long secondsAgo) {
    const std::time_t t = std::time(nullptr) - secondsAgo;
    std::tm tm{};
    localtime_r(&t, &tm);
    char date[32], time[32];
    std::snprintf(date, sizeof date, "%02d/%02d/%04d", tm.tm_mday, tm.tm_mon + 1, tm.tm_year + 1900);
    std::snprintf(time, sizeof time, "%02d:%02d:%02d", tm.tm_hour, tm.tm_min, tm.tm_sec);
    return {date, time};
}

} // namespace tarmin::test

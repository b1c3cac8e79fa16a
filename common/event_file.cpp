// The operator event files (see event_file.h).
#include "common/event_file.h"

#include "common/codepage.h"
#include "common/settings.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <optional>
#include <thread>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarmin::qzcom {

namespace {

std::atomic<EventClock> g_clock{nullptr};

// Serialises the writers of this process; the user's other processes are
// kept out by a lock file in a directory of the user's own (lock_for_user).
std::mutex g_write_mutex;

// How long a writer waits for another process to finish its line.
constexpr auto kLockWait = std::chrono::seconds(2);
constexpr auto kLockPoll = std::chrono::milliseconds(5);
// Sequence numbers tried for one day before giving up.
constexpr int kMaxSequence = 10000;

// A file name of ours, parsed: start date (yyyymmdd) and sequence number
// (1 for the first file of a day).
struct EventFileName {
    int date = 0;
    int sequence = 1;
    bool operator<(const EventFileName &o) const {
        return date != o.date ? date < o.date : sequence < o.sequence;
    }
};

char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

bool istarts_with(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (ascii_lower(s[i]) != ascii_lower(prefix[i])) return false;
    return true;
}

bool iends_with(std::string_view s, std::string_view suffix) {
    return s.size() >= suffix.size() && istarts_with(s.substr(s.size() - suffix.size()), suffix);
}

// Every "tarmin-operator*.csv" file counts as the product's event file.
bool is_product_event_file(std::string_view name) {
    return name.size() >= kEventFilePrefix.size() + kEventFileSuffix.size() &&
           istarts_with(name, kEventFilePrefix) && iends_with(name, kEventFileSuffix);
}

std::optional<int> parse_digits(std::string_view s) {
    if (s.empty() || s.size() > 8) return std::nullopt;
    int v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + (c - '0');
    }
    return v;
}

// "tarmin-operator20240305.csv" or "tarmin-operator20240305_2.csv".
std::optional<EventFileName> parse_event_file_name(std::string_view name) {
    if (!is_product_event_file(name)) return std::nullopt;
    std::string_view middle =
        name.substr(kEventFilePrefix.size(), name.size() - kEventFilePrefix.size() - kEventFileSuffix.size());
    EventFileName parsed;
    auto date = parse_digits(middle.substr(0, 8));
    if (middle.size() < 8 || !date) return std::nullopt;
    parsed.date = *date;
    if (middle.size() > 8) {
        if (middle[8] != '_') return std::nullopt;
        auto sequence = parse_digits(middle.substr(9));
        if (!sequence || *sequence < 2) return std::nullopt;
        parsed.sequence = *sequence;
    }
    return parsed;
}

std::string event_file_name(const EventFileName &n) {
    char middle[32];
    if (n.sequence > 1) std::snprintf(middle, sizeof middle, "%08d_%d", n.date, n.sequence);
    else std::snprintf(middle, sizeof middle, "%08d", n.date);
    return std::string(kEventFilePrefix) + middle + std::string(kEventFileSuffix);
}

std::tm local_time(std::time_t t) {
    std::tm tm{};
    localtime_r(&t, &tm);
    return tm;
}

int date_number(const std::tm &tm) { return (tm.tm_year + 1900) * 10000 + (tm.tm_mon + 1) * 100 + tm.tm_mday; }

// A file descriptor closed on scope exit.
class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }

private:
    int fd_;
};

// A directory for the user's lock files that no one else can enter:
// $XDG_RUNTIME_DIR, else /tmp/tarmin-<uid> (made with mode 0700). Empty when
// neither is the user's alone (someone else made the one in /tmp).
std::string private_lock_directory() {
    auto private_directory = [](const char *path, bool follow) {
        struct stat st{};
        int rc = follow ? ::stat(path, &st) : ::lstat(path, &st);
        return rc == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 077) == 0;
    };
    if (const char *runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime && private_directory(runtime, true))
        return runtime;
    const std::string temporary = "/tmp/tarmin-" + std::to_string(::geteuid());
    ::mkdir(temporary.c_str(), 0700);
    return private_directory(temporary.c_str(), false) ? temporary : std::string();
}

// Locks the event directory against the user's writers in other processes
// while a line is written, through a lock file named after the directory in
// a directory of the user's own. Neither the event directory nor a file in
// it is locked: in a shared directory anyone could hold such a lock and stall
// every report. A lock that stays taken (a stuck writer) must not stop the
// events either: after a while the line is written without it. The lock goes
// with the returned descriptor (-1 when there is none).
int lock_for_user(int dir_fd) {
    struct stat dir{};
    const std::string locks = private_lock_directory();
    if (locks.empty() || ::fstat(dir_fd, &dir) != 0) return -1;
    char name[96];
    std::snprintf(name, sizeof name, "/%s-events-%llx-%llx.lock", std::string(kEventFilePrefix).c_str(),
                  static_cast<unsigned long long>(dir.st_dev), static_cast<unsigned long long>(dir.st_ino));
    int fd = ::open((locks + name).c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd < 0) return -1;
    auto deadline = std::chrono::steady_clock::now() + kLockWait;
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if ((errno != EWOULDBLOCK && errno != EINTR) || std::chrono::steady_clock::now() >= deadline) break;
        std::this_thread::sleep_for(kLockPoll);
    }
    return fd;
}

// A regular file of this user; anything else under our names (a link,
// another user's file in a shared directory) is neither written nor deleted.
bool is_own_regular_file(const struct stat &st) { return S_ISREG(st.st_mode) && st.st_uid == ::geteuid(); }

struct CurrentFile {
    std::optional<EventFileName> name;
    off_t size = 0;
};

// Deletes the product's event files not written to for the keeping period and
// finds the newest file of ours that is not dated after today.
CurrentFile scan_directory(int dir_fd, const EventFileSettings &settings, std::time_t now, int today) {
    CurrentFile current;
    int dup_fd = ::dup(dir_fd);
    if (dup_fd < 0) return current;
    DIR *dir = ::fdopendir(dup_fd);
    if (!dir) {
        ::close(dup_fd);
        return current;
    }
    const std::time_t oldest_kept =
        now - static_cast<std::time_t>(settings.delete_after_days) * 24 * 60 * 60;
    while (struct dirent *entry = ::readdir(dir)) {
        std::string_view name = entry->d_name;
        if (!is_product_event_file(name)) continue;
        struct stat st{};
        if (::fstatat(dir_fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !is_own_regular_file(st)) continue;
        if (settings.delete_after_days > 0 && st.st_mtime < oldest_kept) {
            ::unlinkat(dir_fd, entry->d_name, 0);
            continue;
        }
        auto parsed = parse_event_file_name(name);
        if (!parsed || parsed->date > today) continue;
        if (!current.name || *current.name < *parsed) current = {parsed, st.st_size};
    }
    ::closedir(dir);
    return current;
}

bool needs_new_file(const CurrentFile &current, const EventFileSettings &settings, int today,
                    std::size_t line_size) {
    if (!current.name) return true;
    const QZ_DWORD period = settings.update_period;
    if ((period & kRotateDaily) && current.name->date != today) return true;
    if ((period & kRotateMonthly) && current.name->date / 100 != today / 100) return true;
    if ((period & kRotateBySize) && current.size > 0) {
        const auto limit = static_cast<unsigned long long>(settings.max_size_kb) * 1024;
        if (static_cast<unsigned long long>(current.size) + line_size > limit) return true;
    }
    return false;
}

// Opens a file of ours for appending; -1 when the name is taken by something
// that is not this user's regular file, or the open fails.
int open_for_append(int dir_fd, const std::string &name) {
    int fd = ::openat(dir_fd, name.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return -1;
    struct stat st{};
    if (::fstat(fd, &st) != 0 || !is_own_regular_file(st)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Opens the file the line goes to: the current one, or the next new one.
int open_target(int dir_fd, const CurrentFile &current, bool start_new, int today, std::string &name) {
    if (!start_new) {
        name = event_file_name(*current.name);
        int fd = open_for_append(dir_fd, name);
        if (fd >= 0) return fd;
    }
    EventFileName next{today, 1};
    if (current.name && current.name->date == today) next.sequence = current.name->sequence + 1;
    for (; next.sequence <= kMaxSequence; ++next.sequence) {
        name = event_file_name(next);
        int fd = ::openat(dir_fd, name.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) return fd;
        if (errno != EEXIST) return -1;
    }
    return -1;
}

// Writes the whole line; a failed write leaves no partial line behind.
bool write_line(int fd, std::string_view line) {
    struct stat before{};
    if (::fstat(fd, &before) != 0) return false;
    std::size_t done = 0;
    while (done < line.size()) {
        ssize_t n = ::write(fd, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (done > 0 && ::ftruncate(fd, before.st_size) != 0) { /* the line stays cut; nothing else to do */ }
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// "%TEMP%\" and "/var/log/" name the directories "/tmp" and "/var/log".
std::string strip_trailing_separators(std::string path) {
    while (path.size() > 1 && (path.back() == '/' || path.back() == '\\')) path.pop_back();
    return path;
}

} // namespace

void set_event_clock(EventClock clock) { g_clock.store(clock); }

std::time_t event_clock_now() {
    EventClock clock = g_clock.load();
    return clock ? clock() : std::time(nullptr);
}

bool read_event_file_settings(EventFileSettings &settings) {
    QZ_HKEY key = QZ_GetSettingsKey(0);
    if (!key) return false;
    // The setting is Windows-1251 text; the file system speaks UTF-8. A value
    // holding the one byte without a character (0x98) is kept as it is, so it
    // fails to open rather than naming another directory.
    const std::string text = strip_trailing_separators(setting_directory("Filename", "%TEMP%\\"));
    if (!tarmin::cp::try_cp1251_to_utf8(text, settings.directory)) settings.directory = text;
    QZ_GetDword(key, "Update period", &settings.update_period, kRotateNever);
    QZ_GetDword(key, "Maximum file size", &settings.max_size_kb, 512);
    QZ_GetDword(key, "DeleteFilePeriod", &settings.delete_after_days, 30);
    return true;
}

std::string event_line(std::time_t when, int level, QZ_DWORD code, std::string_view text) {
    std::tm tm = local_time(when);
    char head[64];
    std::snprintf(head, sizeof head, "%02d/%02d/%04d,%02d:%02d:%02d,0x%X,%d,", tm.tm_mday, tm.tm_mon + 1,
                  tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec, code, level);
    std::string line = head;
    line.reserve(line.size() + text.size() + 1);
    for (char c : text) line += static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? ' ' : c;
    line += '\n';
    return line;
}

bool append_event_line(const EventFileSettings &settings, std::time_t now, std::string_view line,
                       std::string *written) {
    const std::string directory = settings.directory.empty() ? std::string(".") : settings.directory;
    std::error_code ec;
    std::filesystem::create_directories(directory, ec);

    std::lock_guard guard(g_write_mutex);
    Fd dir_fd(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir_fd) return false;
    Fd lock(lock_for_user(dir_fd.get())); // released when closed

    const int today = date_number(local_time(now));
    CurrentFile current = scan_directory(dir_fd.get(), settings, now, today);
    std::string name;
    Fd file(open_target(dir_fd.get(), current, needs_new_file(current, settings, today, line.size()), today, name));
    if (!file || !write_line(file.get(), line)) return false;
    if (written) *written = directory + "/" + name;
    return true;
}

} // namespace tarmin::qzcom

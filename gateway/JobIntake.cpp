#include "gateway/JobIntake.h"

#include "common/codepage.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarmin::gateway {

namespace {

std::string_view trimLeft(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    return s;
}

bool iequals(std::string_view a, std::string_view b) {
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

} // namespace

JobAddress parseJobAddress(std::string_view text) {
    text = trimLeft(text);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    JobAddress a;
    size_t colon = text.find(':');
    if (colon != std::string_view::npos && text.find('@') > colon) {
        std::string type(text.substr(0, colon));
        for (char &c : type) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (type == "SMTP" || type == "NOTES" || type == "EX") {
            a.type = type;
            text.remove_prefix(colon + 1);
        }
    }
    a.address = std::string(text);
    return a;
}

std::optional<JobInfo> parseJobInfo(std::string_view text, std::string &why) {
    JobInfo info;
    size_t pos = 0;
    bool plain = false;
    while (pos < text.size()) {
        size_t lf = text.find('\n', pos);
        size_t next = lf == std::string_view::npos ? text.size() : lf + 1;
        std::string_view line = text.substr(pos, (lf == std::string_view::npos ? text.size() : lf) - pos);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        pos = next;
        if (line.empty()) continue;
        size_t colon = line.find(':');
        if (colon == std::string_view::npos) {
            why = "строка без ключа: " + cp::cp1251_to_utf8(line.substr(0, 80));
            return std::nullopt;
        }
        std::string_view key = line.substr(0, colon), value = trimLeft(line.substr(colon + 1));
        if (iequals(key, "subject")) info.subject = std::string(value);
        else if (iequals(key, "from")) info.from = parseJobAddress(value);
        else if (iequals(key, "email")) {
            JobAddress a = parseJobAddress(value);
            if (!a.address.empty()) info.recipients.push_back(a);
        } else if (iequals(key, "protection")) {
            if (iequals(value, "crypt")) info.encrypt = true;
            else if (iequals(value, "sign")) info.sign = true;
            else if (iequals(value, "plain")) plain = true;
            else {
                why = "неизвестный вид защиты " + cp::cp1251_to_utf8(value);
                return std::nullopt;
            }
        } else if (iequals(key, "body")) {
            // The body follows its line and runs to the end of the file.
            info.body = std::string(text.substr(pos));
            break;
        } else {
            why = "неизвестный ключ " + cp::cp1251_to_utf8(key.substr(0, 40));
            return std::nullopt;
        }
    }
    if (plain && (info.encrypt || info.sign)) {
        why = "защита Plain вместе с Crypt или Sign";
        return std::nullopt;
    }
    if (info.recipients.empty()) {
        why = "нет получателя";
        return std::nullopt;
    }
    return info;
}

std::optional<std::string> readRegularFile(const std::string &path, uint64_t limit) {
    int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || static_cast<uint64_t>(st.st_size) > limit) {
        ::close(fd);
        errno = EINVAL;
        return std::nullopt;
    }
    std::string data;
    data.resize(static_cast<size_t>(st.st_size));
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::read(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    ::close(fd);
    // The size stated by fstat must be what is really there.
    if (done != data.size()) {
        errno = EIO;
        return std::nullopt;
    }
    return data;
}

std::optional<Job> readJob(const std::string &directory, std::string &why) {
    Job job;
    std::string dir = directory;
    if (dir.empty() || dir.back() != '/') dir += '/';
    job.name = directory.substr(directory.find_last_of('/', directory.size() - 2) + 1);
    if (!job.name.empty() && job.name.back() == '/') job.name.pop_back();
    std::optional<std::string> infoText = readRegularFile(dir + "tmninfo.txt", 1u << 24);
    if (!infoText) {
        why = std::string("файл tmninfo.txt не читается: ") + std::strerror(errno);
        return std::nullopt;
    }
    std::optional<JobInfo> info = parseJobInfo(*infoText, why);
    if (!info) {
        why = "файл tmninfo.txt: " + why;
        return std::nullopt;
    }
    job.info = std::move(*info);

    DIR *d = ::opendir(dir.c_str());
    if (!d) {
        why = std::string("каталог задания не читается: ") + std::strerror(errno);
        return std::nullopt;
    }
    std::vector<std::string> names;
    while (dirent *e = ::readdir(d)) {
        std::string n = e->d_name;
        if (n == "." || n == ".." || n == "tmninfo.txt" || n == kStateDir) continue;
        names.push_back(n);
    }
    ::closedir(d);
    if (names.size() > kMaxJobFiles) {
        why = "слишком много файлов в задании";
        return std::nullopt;
    }
    std::sort(names.begin(), names.end());
    auto isSignFile = [](const std::string &n) { return iequals(n, "TMNSIGN.TMS"); };
    std::stable_partition(names.begin(), names.end(), [&](const std::string &n) { return !isSignFile(n); });
    uint64_t total = 0;
    for (const std::string &n : names) {
        JobFile f;
        if (!cp::try_utf8_to_cp1251(n, f.name)) {
            why = "имя файла нельзя записать в кодировке Windows-1251: " + n;
            return std::nullopt;
        }
        std::optional<std::string> data = readRegularFile(dir + n, kMaxJobBytes - total);
        if (!data) {
            why = "вложение " + n + " не является обычным файлом допустимого размера";
            return std::nullopt;
        }
        total += data->size();
        f.data = std::move(*data);
        job.attachments.push_back(std::move(f));
    }
    return job;
}

std::vector<std::string> completeJobs(const std::string &outputDirectory) {
    std::string dir = outputDirectory;
    if (dir.empty() || dir.back() != '/') dir += '/';
    std::vector<std::pair<struct timespec, std::string>> found;
    DIR *d = ::opendir(dir.c_str());
    if (!d) return {};
    while (dirent *e = ::readdir(d)) {
        std::string n = e->d_name;
        if (n.empty() || n[0] == '.' || n == "failed") continue;
        struct stat st {};
        if (::lstat((dir + n).c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) continue;
        struct stat info {};
        if (::lstat((dir + n + "/tmninfo.txt").c_str(), &info) != 0) continue;
        found.push_back({st.st_mtim, n});
    }
    ::closedir(d);
    std::sort(found.begin(), found.end(), [](const auto &a, const auto &b) {
        if (a.first.tv_sec != b.first.tv_sec) return a.first.tv_sec < b.first.tv_sec;
        if (a.first.tv_nsec != b.first.tv_nsec) return a.first.tv_nsec < b.first.tv_nsec;
        return a.second < b.second;
    });
    std::vector<std::string> names;
    for (auto &f : found) names.push_back(std::move(f.second));
    return names;
}

} // namespace tarmin::gateway

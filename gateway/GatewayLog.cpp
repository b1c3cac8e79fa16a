#include "gateway/GatewayLog.h"

#include "gateway/Delivery.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarmin::gateway {

using gwlog::Family;

namespace {
constexpr char kSep = ',';

std::string joinedList(const std::vector<std::string> &items) {
    std::string out;
    for (const std::string &i : items) {
        if (!out.empty()) out += ';';
        out += fieldText(i, true);
    }
    return out;
}
} // namespace

std::string fieldText(const std::string &text, bool listItem) {
    std::string out = text;
    for (char &c : out)
        if (c == kSep || c == '\r' || c == '\n' || (listItem && c == ';')) c = ' ';
    return out;
}

GatewayLog::GatewayLog(std::string directory) : m_dir(std::move(directory)) {
    if (!m_dir.empty() && m_dir.back() != '/') m_dir += '/';
}

GatewayLog::~GatewayLog() {
    for (Open &o : m_open)
        if (o.fd >= 0) ::close(o.fd);
}

std::string GatewayLog::fileOf(Family family, std::time_t t) const {
    return m_dir + gwlog::familyPrefix(family) + "_" + gwlog::localDay(t) + ".csv";
}

bool GatewayLog::append(Family family, std::time_t t, const std::string &line) {
    Open &o = m_open[static_cast<int>(family)];
    const std::string day = gwlog::localDay(t);
    if (o.fd >= 0 && o.day != day) {
        ::close(o.fd);
        o.fd = -1;
    }
    if (o.fd < 0) {
        // A log directory may be shared: never follow a link planted under
        // the file's name, and take only a regular file.
        o.fd = ::open(fileOf(family, t).c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                      0640);
        if (o.fd < 0) return false;
        struct stat st {};
        if (::fstat(o.fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(o.fd);
            o.fd = -1;
            errno = EINVAL;
            return false;
        }
        o.day = day;
    }
    while (::flock(o.fd, LOCK_EX) != 0)
        if (errno != EINTR) return false;
    std::string text;
    struct stat st {};
    // The first writer of a day's file puts the header in front, in the same
    // write as its line.
    if (::fstat(o.fd, &st) == 0 && st.st_size == 0) text = gwlog::familyHeader(family, kSep) + "\n";
    text += line;
    text += '\n';
    bool ok = writeAll(o.fd, text);
    int saved = errno;
    ::flock(o.fd, LOCK_UN);
    errno = saved;
    return ok;
}

bool GatewayLog::error(const std::string &module, const std::string &kind, uint32_t code, const std::string &info) {
    std::time_t t = now();
    std::string l;
    m_time.append(l, t, kSep);
    l += kSep + fieldText(module) + kSep + fieldText(kind) + kSep;
    gwlog::appendHex(l, code, 8);
    l += kSep + fieldText(info);
    return append(Family::Errors, t, l);
}

bool GatewayLog::sent(const SentLine &s) {
    std::time_t t = now();
    std::string l;
    m_time.append(l, t, kSep);
    l += kSep + fieldText(s.from) + kSep + fieldText(s.id) + kSep;
    gwlog::appendCode(l, s.code);
    l += kSep + fieldText(s.hash) + kSep + joinedList(s.recipients) + kSep + fieldText(s.subject) + kSep +
         joinedList(s.attachments) + kSep + s.protection;
    return append(Family::Outgoing, t, l);
}

bool GatewayLog::received(const ReceivedLine &r) {
    std::time_t t = now();
    std::string l;
    m_time.append(l, t, kSep);
    l += kSep + fieldText(r.from) + kSep + fieldText(r.id) + kSep;
    gwlog::appendCode(l, r.code);
    l += kSep + fieldText(r.hash) + kSep + fieldText(r.notification) + kSep + fieldText(r.address) + kSep +
         fieldText(r.subject) + kSep + joinedList(r.attachments) + kSep + r.protection;
    return append(Family::Inbound, t, l);
}

bool GatewayLog::anyLine(Family family, const std::function<bool(std::string_view)> &match) const {
    const std::time_t t = now();
    for (std::time_t day : {t, t - 86400}) {
        int fd = ::open(fileOf(family, day).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        std::string data;
        char buffer[65536];
        for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) data.append(buffer, static_cast<size_t>(n));
        ::close(fd);
        std::string_view all(data);
        for (size_t pos = 0; pos < all.size();) {
            size_t end = all.find('\n', pos);
            if (end == std::string_view::npos) end = all.size();
            if (match(all.substr(pos, end - pos))) return true;
            pos = end + 1;
        }
    }
    return false;
}

bool GatewayLog::contains(Family family, const std::string &id) const {
    const std::string wanted = fieldText(id);
    return anyLine(family, [&](std::string_view line) {
        // Field 3: after the third separator.
        size_t f = 0;
        for (int i = 0; i < 3; ++i) {
            f = line.find(kSep, f);
            if (f == std::string_view::npos) return false;
            ++f;
        }
        size_t end = line.find(kSep, f);
        return line.substr(f, end == std::string_view::npos ? std::string_view::npos : end - f) == wanted;
    });
}

bool GatewayLog::containsText(Family family, const std::string &text) const {
    return anyLine(family, [&](std::string_view line) { return line.find(text) != std::string_view::npos; });
}

} // namespace tarmin::gateway

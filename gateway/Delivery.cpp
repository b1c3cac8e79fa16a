#include "gateway/Delivery.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarmin::gateway {

namespace {
const char kPrefix[] = "X-Gateway-";

std::string oneLine(std::string s) {
    for (char &c : s)
        if (c == '\r' || c == '\n') c = ' ';
    return s;
}
} // namespace

bool writeAll(int fd, std::string_view data) {
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool safeId(std::string_view id) {
    if (id.empty() || id.size() > 200 || id[0] == '.') return false;
    for (char c : id)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_')) return false;
    return true;
}

std::string packEnvelope(const Envelope &e, std::string_view message) {
    std::string out;
    out.reserve(message.size() + 256);
    out += std::string(kPrefix) + "Id: " + oneLine(e.id) + "\r\n";
    out += std::string(kPrefix) + "Kind: " + oneLine(e.kind) + "\r\n";
    out += std::string(kPrefix) + "From: " + oneLine(e.from) + "\r\n";
    for (const std::string &t : e.to) out += std::string(kPrefix) + "To: " + oneLine(t) + "\r\n";
    out += std::string(kPrefix) + "Hash: " + oneLine(e.hash) + "\r\n";
    out += std::string(kPrefix) + "Protection: " + e.protection + "\r\n\r\n";
    out += message;
    return out;
}

std::optional<Envelope> unpackEnvelope(std::string_view file, std::string_view &message) {
    Envelope e;
    bool haveId = false, haveKind = false, haveProtection = false;
    size_t pos = 0;
    for (;;) {
        size_t end = file.find("\r\n", pos);
        if (end == std::string_view::npos || end - pos > 4096) return std::nullopt;
        std::string_view line = file.substr(pos, end - pos);
        pos = end + 2;
        if (line.empty()) break;
        if (line.substr(0, sizeof kPrefix - 1) != kPrefix) return std::nullopt;
        line.remove_prefix(sizeof kPrefix - 1);
        size_t colon = line.find(": ");
        if (colon == std::string_view::npos) return std::nullopt;
        std::string_view key = line.substr(0, colon);
        std::string value(line.substr(colon + 2));
        if (key == "Id") e.id = value, haveId = true;
        else if (key == "Kind") e.kind = value, haveKind = true;
        else if (key == "From") e.from = value;
        else if (key == "To") e.to.push_back(value);
        else if (key == "Hash") e.hash = value;
        else if (key == "Protection" && value.size() == 1 && value[0] >= '0' && value[0] <= '3')
            e.protection = value[0], haveProtection = true;
        else return std::nullopt;
    }
    if (!haveId || !haveKind || !haveProtection || !safeId(e.id) || (e.kind != "message" && e.kind != "receipt"))
        return std::nullopt;
    message = file.substr(pos);
    return e;
}

bool writeFileAtomically(const std::string &path, std::string_view data, bool sync, mode_t mode) {
    const size_t slash = path.find_last_of('/');
    const std::string temp = path.substr(0, slash + 1) + ".tmp-" + path.substr(slash + 1);
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0) return false;
    bool ok = writeAll(fd, data) && (!sync || ::fsync(fd) == 0);
    int saved = errno;
    ok = ::close(fd) == 0 && ok;
    if (ok && ::rename(temp.c_str(), path.c_str()) == 0) return true;
    saved = errno ? errno : saved;
    ::unlink(temp.c_str());
    errno = saved;
    return false;
}

bool writeFile(const std::string &path, std::string_view data, bool sync, mode_t mode) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0) return false;
    bool ok = writeAll(fd, data) && (!sync || ::fsync(fd) == 0);
    int saved = errno;
    ok = ::close(fd) == 0 && ok;
    if (!ok) errno = saved;
    return ok;
}

bool makeMaildir(const std::string &dir) {
    for (const char *sub : {"", "/tmp", "/new", "/cur"}) {
        std::string p = dir + sub;
        if (::mkdir(p.c_str(), 0750) != 0 && errno != EEXIST) return false;
        struct stat st {};
        if (::lstat(p.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    }
    return true;
}

bool MaildirTransport::deliver(const std::string &id, const std::string &file, std::string &why) {
    if (!safeId(id)) {
        why = "идентификатор сообщения не годится как имя файла";
        return false;
    }
    std::string copy;
    const std::string *bytes = &file;
    if (inTransit) {
        copy = file;
        inTransit(id, copy);
        bytes = &copy;
    }
    const std::string temp = m_inbox + "/tmp/" + id, target = m_inbox + "/new/" + id;
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0640);
    if (fd < 0) {
        why = "не удаётся создать " + temp + ": " + std::strerror(errno);
        return false;
    }
    bool ok = writeAll(fd, *bytes) && (!m_sync || ::fsync(fd) == 0);
    int err = errno;
    ok = ::close(fd) == 0 && ok;
    if (!ok || ::rename(temp.c_str(), target.c_str()) != 0) {
        if (ok) err = errno;
        why = "не удаётся доставить в " + target + ": " + std::strerror(err);
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

void tamperWith(std::string &file) {
    size_t body = file.find("\r\n\r\n");
    if (body == std::string::npos) return;
    // The S/MIME text's own header block ends at its first empty line.
    size_t smime = file.find("\r\n\r\n", body + 4);
    if (smime == std::string::npos) return;
    size_t start = smime + 4, mid = start + (file.size() - start) / 2;
    for (size_t i = mid; i < file.size(); ++i) {
        char &c = file[i];
        if (c >= 'A' && c <= 'Y') {
            c = static_cast<char>(c + 1);
            return;
        }
        if (c >= 'a' && c <= 'y') {
            c = static_cast<char>(c + 1);
            return;
        }
    }
}

} // namespace tarmin::gateway

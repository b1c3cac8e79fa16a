#include "monitor/jobs/JobFiles.h"

#include "platform/lasterror.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarmin::monitor {

namespace pf = tarmin::platform;

namespace {

// The group is the gateway's way in; a user outside that group cannot give
// it (EPERM), and the job then keeps the user's group.
bool changeGroup(int result) { return result == 0 || errno == EPERM; }

} // namespace

gid_t jobGroupOf(const std::string &outputDirectory) {
    struct stat st {};
    if (::stat(outputDirectory.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return static_cast<gid_t>(-1);
    return st.st_gid;
}

bool createJobDirectory(const std::string &path, gid_t group) {
    if (!pf::create_directory(path)) return false;
    // The mode is set whatever the umask; the directory is ours, made just now.
    if (::chmod(path.c_str(), kJobDirectoryMode) != 0 ||
        (group != static_cast<gid_t>(-1) && !changeGroup(::lchown(path.c_str(), static_cast<uid_t>(-1), group)))) {
        pf::set_last_error_from_errno(errno);
        ::rmdir(path.c_str());
        return false;
    }
    return true;
}

bool setJobFileAccess(int fd, gid_t group) {
    if (::fchmod(fd, kJobFileMode) != 0 ||
        (group != static_cast<gid_t>(-1) && !changeGroup(::fchown(fd, static_cast<uid_t>(-1), group)))) {
        pf::set_last_error_from_errno(errno);
        return false;
    }
    return true;
}

bool setJobFileAccess(const std::string &path, gid_t group) {
    int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        pf::set_last_error_from_errno(errno);
        return false;
    }
    const bool done = setJobFileAccess(fd, group);
    ::close(fd);
    return done;
}

JobFileWriter::~JobFileWriter() { discard(); }

bool JobFileWriter::create(const std::string &directory, std::string_view prefix, gid_t group) {
    auto name = pf::temp_file_name(directory, prefix);
    if (!name) return false;
    m_path = *name;
    return m_file.open(m_path, pf::kWrite | pf::kCreateAlways) && setJobFileAccess(m_file.fd(), group);
}

bool JobFileWriter::commit(const std::string &finalPath) {
    if (!pf::move_file(m_path, finalPath, true)) return false;
    m_path.clear();
    return true;
}

void JobFileWriter::discard() {
    if (m_file.is_open()) m_file.close();
    if (!m_path.empty()) ::unlink(m_path.c_str());
    m_path.clear();
}

} // namespace tarmin::monitor

// Files of a job directory as the gateway must find them.
//
// The gateway may run under another account that shares the output
// directory's group: a job directory is made 0750 and its files 0640, all in
// the group of the output directory (when the user may give them that group;
// otherwise they keep the user's own). A file appears in a job directory only
// whole: it is written under a temporary name inside the same directory and
// renamed, so that neither a full disk nor a crash leaves a partial
// "tmninfo.txt" that looks complete.
#pragma once

#include "platform/files.h"

#include <string>
#include <string_view>
#include <sys/types.h>

namespace tarmin::monitor {

inline constexpr mode_t kJobDirectoryMode = 0750;
inline constexpr mode_t kJobFileMode = 0640;

// The group that job directories in this output directory get (-1: none
// could be found, the files keep the user's group).
gid_t jobGroupOf(const std::string &outputDirectory);

// Creates the job directory (an existing one is an error, EEXIST) with the
// job mode and group. The last error is set on failure.
bool createJobDirectory(const std::string &path, gid_t group);

// Gives a file written into a job directory the job mode and group.
bool setJobFileAccess(int fd, gid_t group);
bool setJobFileAccess(const std::string &path, gid_t group);

// A file written under a temporary name in a job directory and renamed to its
// final name once written and closed. A file not committed is deleted when
// the object goes.
class JobFileWriter {
public:
    JobFileWriter() = default;
    ~JobFileWriter();
    JobFileWriter(const JobFileWriter &) = delete;
    JobFileWriter &operator=(const JobFileWriter &) = delete;

    // Creates "<directory>/<prefix><hex>.tmp" with the job mode and group.
    bool create(const std::string &directory, std::string_view prefix, gid_t group);
    bool write(std::string_view bytes) { return m_file.write(bytes); }
    // Closes the file, reporting a failure of the close.
    bool close() { return m_file.close(); }
    // Renames the closed file to its final name (an existing one is replaced).
    bool commit(const std::string &finalPath);
    // Deletes the temporary file now (nothing when it was committed).
    void discard();
    const std::string &path() const { return m_path; }

private:
    platform::File m_file;
    std::string m_path;
};

} // namespace tarmin::monitor

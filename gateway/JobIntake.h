// Jobs from the gateway's output directory, where the monitor (and anyone in
// the directory's group) places job directories.
//
// A job directory is complete once its information file "tmninfo.txt" is in
// it. The gateway takes a job by renaming the directory into its work
// directory first (one rename: a job is taken once, and a job being written
// is never read, since the writer renames "tmninfo.txt" in last); everything
// after that reads the gateway's own copy.
//
// The output directory is treated as hostile: only real directories are
// taken (no links), only regular files are read inside them, opened without
// following links, with sizes checked against what is read.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarmin::gateway {

// An address of the information file: "SMTP:a@b", "NOTES:x" or a bare
// address (SMTP).
struct JobAddress {
    std::string type = "SMTP";
    std::string address;
};

// The information file, in either dialect: the job dialect of message and
// packet jobs ("Subject:", "From:", "Protection:Crypt", "Protection:Sign",
// "Email:", "Body:") and the lower-case alert dialect ("subject: ...",
// "protection: Plain", "email:", "body:"). Keys compare without regard to
// case, blanks after the colon are dropped; the body is everything after the
// line "Body:". Texts stay Windows-1251.
struct JobInfo {
    std::string subject;
    std::optional<JobAddress> from;
    bool encrypt = false;
    bool sign = false;
    std::vector<JobAddress> recipients;
    std::string body;
};

// Parses an information file; nullopt with the reason (UTF-8) when it is
// not one: an unknown key, an unknown protection, no recipient.
std::optional<JobInfo> parseJobInfo(std::string_view text, std::string &why);
JobAddress parseJobAddress(std::string_view text);

struct JobFile {
    std::string name; // Windows-1251 (the file-system name converted)
    std::string data;
};

struct Job {
    std::string name; // the directory's name
    JobInfo info;
    // Attachments by name, the signature file "TMNSIGN.TMS" (any case) last,
    // so that it follows the attachments it signs.
    std::vector<JobFile> attachments;
};

// The gateway's own directory inside a taken job (its work files); a job
// written by the monitor never holds a directory.
constexpr const char *kStateDir = ".tmngwd";

// Limits of what a job may hold.
constexpr uint64_t kMaxJobBytes = 256ull << 20;
constexpr size_t kMaxJobFiles = 1000;

// Reads a taken job directory; nullopt with the reason (UTF-8) when it
// cannot be read: no or a broken information file, an entry that is not a
// regular file, a name Windows-1251 cannot hold, a job too large.
std::optional<Job> readJob(const std::string &directory, std::string &why);

// The complete job directories of the output directory (names), oldest
// first: real directories (not links) holding "tmninfo.txt", other than the
// gateway's own folders (names beginning with "." and "failed").
std::vector<std::string> completeJobs(const std::string &outputDirectory);

// Reads a whole regular file without following a link, nullopt when it is
// not one or cannot be read.
std::optional<std::string> readRegularFile(const std::string &path, uint64_t limit = kMaxJobBytes);

} // namespace tarmin::gateway

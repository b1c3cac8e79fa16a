// Shared helpers of the test programs.
#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace tarmin::test {

// The fresh TARMIN_HOME of this test process (created by the test main).
std::filesystem::path home();

// A fresh directory below the test home, removed with the home at exit.
std::filesystem::path make_temp_dir(const std::string &prefix = "dir");

// Reads / writes a whole file as bytes.
std::string read_file(const std::filesystem::path &p);
void write_file(const std::filesystem::path &p, const std::string &bytes);
// The names of a directory's entries, sorted.
std::vector<std::string> names_in(const std::filesystem::path &dir);

// The local date "dd/mm/yyyy" and time "hh:mm:ss" of `secondsAgo` seconds
// before now, as the gateway logs write them.
std::pair<std::string, std::string> local_date_time(long secondsAgo = 0);

// Path of a program or library built in the build tree (bin/NAME).
std::filesystem::path built_program(const std::string &name);
// The source tree (for expected-output files under tests/).
std::filesystem::path source_dir();

// Runs a program with arguments, waits, returns its exit status (-1 when it
// could not run); stdout and stderr are captured when the pointers are given.
int run(const std::vector<std::string> &argv, std::string *out = nullptr, std::string *err = nullptr,
        const std::string &stdin_text = {});

} // namespace tarmin::test

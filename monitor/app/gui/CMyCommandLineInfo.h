// The monitor's command line: the profile switch ("/profile=NAME",
// "-PROFILE:NAME", ...) and the options of this build for demonstrations
// and headless use. Every other parameter is left to the framework, which
// has nothing to do with it.
#pragma once

#include <string>
#include <vector>

namespace tarmin::monitor {

class CMyCommandLineInfo {
public:
    // argv[0] is the program and is skipped; texts are as the system gives them (UTF-8).
    void Parse(const std::vector<std::string> &args);
    // One parameter; flag tells whether it began with "/" or "-" (then
    // without that character).
    void ParseParam(const std::string &param, bool flag);

    // The profile name; empty when none was given.
    const std::string &profile() const { return m_profile; }
    // "--screenshot FILE": render the main window into FILE after the first
    // reading and exit.
    const std::string &screenshotFile() const { return m_screenshot; }
    // "--select=N": the tree category (1 to 4) to select after start-up.
    int initialCategory() const { return m_category; }
    // Parameters that nothing used, for a warning.
    const std::vector<std::string> &unknown() const { return m_unknown; }

private:
    std::string m_profile;
    std::string m_screenshot;
    int m_category = 0;
    bool m_expectScreenshotFile = false;
    std::vector<std::string> m_unknown;
};

} // namespace tarmin::monitor

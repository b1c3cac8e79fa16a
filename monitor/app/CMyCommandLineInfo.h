// The monitor's command line: the profile switch ("/profile=NAME",
// "-PROFILE:NAME", ...) and the options of this build for demonstrations
// and headless use ("--screenshot", "--select", "--help", "--version").
// Every other parameter is left to the framework, which has nothing to do
// with it: the program refuses it as a usage error (exit status 2).
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
    // reading and exit. Every message box is then written to standard error
    // and ends the program with a failure, as nobody is there to answer it.
    const std::string &screenshotFile() const { return m_screenshot; }
    bool screenshotMode() const { return !m_screenshot.empty(); }
    // "--screenshot" without a file name: an error.
    bool screenshotWithoutFile() const { return m_screenshotWithoutFile; }
    // "--help" / "--version": print and exit without opening a window.
    bool helpRequested() const { return m_help; }
    bool versionRequested() const { return m_version; }
    // "--select=N": the tree category (1 to 4) to select after start-up.
    int initialCategory() const { return m_category; }
    // Parameters that nothing used, which the program refuses.
    const std::vector<std::string> &unknown() const { return m_unknown; }

    // The usage text and the version line (UTF-8, for the terminal).
    static std::string usage();
    static std::string versionLine();

private:
    std::string m_profile;
    std::string m_screenshot;
    int m_category = 0;
    bool m_expectScreenshotFile = false;
    bool m_screenshotWithoutFile = false;
    bool m_help = false;
    bool m_version = false;
    std::vector<std::string> m_unknown;
};

} // namespace tarmin::monitor

#include "monitor/app/CMyCommandLineInfo.h"

#include <cctype>

namespace tarmin::monitor {

namespace {

constexpr std::string_view kProfileSwitch = "profile";

bool startsWithNoCase(const std::string &text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
    return true;
}

} // namespace

void CMyCommandLineInfo::Parse(const std::vector<std::string> &args) {
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string &a = args[i];
        if (m_expectScreenshotFile) {
            m_expectScreenshotFile = false;
            // "--screenshot --select=4": the option is no file name.
            if (!a.empty() && a[0] != '-') {
                m_screenshot = a;
                continue;
            }
            m_screenshotWithoutFile = true;
        }
        const bool flag = !a.empty() && (a[0] == '/' || a[0] == '-');
        ParseParam(flag ? a.substr(1) : a, flag);
    }
    if (m_expectScreenshotFile) {
        m_expectScreenshotFile = false;
        m_screenshotWithoutFile = true;
    }
}

std::string CMyCommandLineInfo::usage() {
    return "Usage: tmngwmon [/profile=NAME] [options]\n"
           "The operator's workstation of the Tarmin gateway.\n"
           "  /profile=NAME, -profile:NAME  settings profile to use\n"
           "  --select=N                    select tree category N (1 errors, 2 inbound, 3 outgoing,\n"
           "                                4 notifications) after start-up\n"
           "  --screenshot FILE             render the main window into FILE (PNG) without a display\n"
           "                                and exit; a message box ends the run with a failure\n"
           "  --help                        print this text and exit\n"
           "  --version                     print the version and exit\n";
}

std::string CMyCommandLineInfo::versionLine() {
    return "tmngwmon " + std::to_string(TMNMON_VERSION_MAJOR) + "." + std::to_string(TMNMON_VERSION_MINOR) + "." +
           std::to_string(TMNMON_VERSION_PATCH) + "." + std::to_string(TMNMON_VERSION_BUILD) + "\n";
}

void CMyCommandLineInfo::ParseParam(const std::string &param, bool flag) {
    // "profile" in any letter case, then "=" or ":", then the name.
    if (flag && param.size() > kProfileSwitch.size() && startsWithNoCase(param, kProfileSwitch) &&
        (param[kProfileSwitch.size()] == '=' || param[kProfileSwitch.size()] == ':')) {
        m_profile = param.substr(kProfileSwitch.size() + 1);
        return;
    }
    if (flag && param == "-screenshot") {
        m_expectScreenshotFile = true;
        return;
    }
    if (flag && param.rfind("-screenshot=", 0) == 0) {
        m_screenshot = param.substr(12);
        m_screenshotWithoutFile = m_screenshot.empty();
        return;
    }
    if (flag && (param == "-help" || param == "h" || param == "?")) {
        m_help = true;
        return;
    }
    if (flag && param == "-version") {
        m_version = true;
        return;
    }
    if (flag && param.rfind("-select=", 0) == 0) {
        const std::string value = param.substr(8);
        if (value.size() == 1 && value[0] >= '1' && value[0] <= '4') {
            m_category = value[0] - '0';
            return;
        }
    }
    m_unknown.push_back(flag ? "-" + param : param);
}

} // namespace tarmin::monitor

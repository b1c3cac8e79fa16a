#include "monitor/app/gui/CMyCommandLineInfo.h"

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
            m_screenshot = a;
            m_expectScreenshotFile = false;
            continue;
        }
        const bool flag = !a.empty() && (a[0] == '/' || a[0] == '-');
        ParseParam(flag ? a.substr(1) : a, flag);
    }
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

#include "moncfg/CfgCommandLine.h"

#include <string_view>

namespace tarmin::moncfg {

std::string profileFromCommandLine(const std::vector<std::string> &args) {
    static constexpr std::string_view kSwitches[] = {"-profile:", "/profile:", "-profile=", "/profile="};
    std::string profile;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        for (std::string_view sw : kSwitches)
            if (arg.starts_with(sw)) {
                profile = arg.substr(sw.size());
                break;
            }
    }
    return profile;
}

} // namespace tarmin::moncfg

#include "monitor/views/model/WindowPlacementText.h"

#include <cstdio>

namespace tarmin::monitor {

namespace {
constexpr const char *kFormat = "%u,%u,%d,%d,%d,%d,%d,%d,%d,%d";
}

std::string formatWindowPlacement(const WindowPlacementData &p) {
    char text[160];
    std::snprintf(text, sizeof text, kFormat, p.flags, p.showCmd, p.minX, p.minY, p.maxX, p.maxY, p.left, p.top,
                  p.right, p.bottom);
    return text;
}

std::optional<WindowPlacementData> parseWindowPlacement(const std::string &text) {
    WindowPlacementData p;
    const int read = std::sscanf(text.c_str(), kFormat, &p.flags, &p.showCmd, &p.minX, &p.minY, &p.maxX, &p.maxY,
                                 &p.left, &p.top, &p.right, &p.bottom);
    if (read != 10) return std::nullopt;
    return p;
}

} // namespace tarmin::monitor

// The saved placement of the main window as text: placement flags, show
// command, minimised position, maximised position and the normal rectangle,
// "%u,%u,%d,%d,%d,%d,%d,%d,%d,%d".
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tarmin::monitor {

struct WindowPlacementData {
    // Show commands as the placement text stores them.
    static constexpr uint32_t kShowNormal = 1;
    static constexpr uint32_t kShowMinimized = 2;
    static constexpr uint32_t kShowMaximized = 3;
    // Flag: a minimised window returns to the maximised state.
    static constexpr uint32_t kRestoreToMaximized = 2;

    uint32_t flags = 0;
    uint32_t showCmd = kShowNormal;
    int minX = -1, minY = -1;
    int maxX = -1, maxY = -1;
    int left = 0, top = 0, right = 0, bottom = 0;
};

std::string formatWindowPlacement(const WindowPlacementData &p);
// All ten numbers, or nothing (a shorter or malformed text is ignored).
std::optional<WindowPlacementData> parseWindowPlacement(const std::string &text);

} // namespace tarmin::monitor

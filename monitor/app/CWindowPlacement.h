// Saves and restores the main window's placement as the text "WndPos" in
// the section "Settings" of the framework profile.
#pragma once

#include "monitor/views/model/WindowPlacementText.h"

#include <optional>
#include <string>

class QWidget;

namespace tarmin::monitor {

class CWindowPlacement {
public:
    // The framework profile section ("Software\KELVORIA\tarmin-operator\3.1\Settings").
    static std::string sectionPath();

    // Reads "WndPos" and, when it yields all ten numbers, applies the
    // placement and shows the window with the stored show command. Returns
    // false (and leaves the window as it is) otherwise.
    bool Restore(QWidget &window);
    // Writes the window's current placement. 0 = success.
    int Save(const QWidget &window);

    // The placement of a window as it would be saved.
    static WindowPlacementData placementOf(const QWidget &window);
    // Applies a placement; a normal rectangle that no screen shows is moved
    // onto the primary screen, so that the window cannot get lost.
    static void apply(QWidget &window, const WindowPlacementData &placement);
};

} // namespace tarmin::monitor

// Start-up options beyond the profile: the category selected after
// start-up ("--select=N") and the headless screenshot ("--screenshot FILE").
#pragma once

namespace tarmin::monitor {

class CMainApp;

// Selects the category given with "--select=N", if any.
void selectInitialCategory(CMainApp &app);
// Selects the initial category, lets the list read it, renders the main
// window into the screenshot file and closes the window. Returns 0 when
// the file was written, 1 otherwise (with a message on standard error).
int runScreenshot(CMainApp &app);

} // namespace tarmin::monitor

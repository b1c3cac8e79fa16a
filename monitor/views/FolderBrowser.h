// The directory chooser behind QZ_BrowseForFolder in the Qt programs: a
// directory dialog that starts at the directory already in the edit control
// and writes the chosen one back into it.
#pragma once

namespace tarmin::monitor {

// Installs the chooser with QZ_SetFolderBrowser.
void installFolderBrowser();

} // namespace tarmin::monitor

// The directory chooser behind QZ_BrowseForFolder in the configuration
// program: a directory dialog, run through runModal so that a test can
// answer it, starting at the directory already in the field.
#pragma once

namespace tarmin::moncfg {

// Installs the chooser with QZ_SetFolderBrowser.
void installFolderBrowser();

} // namespace tarmin::moncfg

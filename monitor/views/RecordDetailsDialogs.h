// Opens the detail dialog of a record of the list: the Qt presenter behind
// CGWRecord::ShowDetails.
#pragma once

namespace tarmin::monitor {

// Installs the presenter (once; later calls do nothing).
void installRecordDetailsPresenter();

} // namespace tarmin::monitor

// The job writers' message boxes (monitor/jobs/JobMessages.h) shown as the
// monitor's message boxes. Packet jobs are written on worker threads: a text
// from such a thread is handed to the user-interface thread, and the worker
// waits there until the operator has closed the box.
#pragma once

namespace tarmin::monitor {

// Installs the presenter unless one is installed already (a test's).
void installJobMessagePresenter();

} // namespace tarmin::monitor

// Work that must happen on the user-interface thread (every window and
// message box) while the caller may be a worker thread: the distribution
// wizard's sending runs show the job writer's boxes and the reports of the
// common services from their worker.
#pragma once

#include <functional>

namespace tarmin::monitor {

// Runs `work` on the user-interface thread and returns when it has ended: at
// once when called there (or without an application), otherwise as a
// blocking queued call that the user-interface thread runs from its event
// loop while the caller waits.
void runOnGuiThread(const std::function<void()> &work);

} // namespace tarmin::monitor

namespace tarmin::monitor {

// Waits on the user-interface thread while `busy` says so, running the
// thread's events meanwhile except the operator's input, so that a worker
// waiting in runOnGuiThread gets its box shown (and answered) instead of
// both threads waiting for each other.
void waitWhile(const std::function<bool()> &busy);

} // namespace tarmin::monitor

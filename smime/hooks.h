// What the library takes from the world that tests must be able to fix: the
// clock and the pause between retries of a file step.
#pragma once

#include <ctime>

namespace tarmin::smime {

struct Hooks {
    // The current time; null: the system's.
    std::time_t (*now)() = nullptr;
    // Pause between two attempts of creating a file (1 second).
    unsigned retry_delay_ms = 1000;
};

Hooks &hooks();
std::time_t current_time();
void pause_before_retry();

} // namespace tarmin::smime

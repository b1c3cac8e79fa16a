#include "platform/faults.h"

#include "platform/lasterror.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <mutex>

namespace tarmin::platform {

namespace {

struct Fault {
    uint32_t error = 0;
    int skip = 0;
    int count = 0;
};

constexpr size_t kPoints = static_cast<size_t>(FaultPoint::spawn) + 1;

std::mutex g_mutex;
std::array<Fault, kPoints> g_faults;
// Armed kinds, so that the common case (nothing armed) takes no lock.
std::atomic<unsigned> g_armed{0};

unsigned bit(FaultPoint p) { return 1u << static_cast<unsigned>(p); }

} // namespace

void inject_fault(FaultPoint point, uint32_t error, int count, int skip) {
    std::lock_guard lock(g_mutex);
    g_faults[static_cast<size_t>(point)] = Fault{error, skip < 0 ? 0 : skip, count < 0 ? 0 : count};
    if (count > 0)
        g_armed |= bit(point);
    else
        g_armed &= ~bit(point);
}

void clear_fault(FaultPoint point) { inject_fault(point, 0, 0, 0); }

void clear_all_faults() {
    std::lock_guard lock(g_mutex);
    g_faults = {};
    g_armed = 0;
}

int faults_pending(FaultPoint point) {
    std::lock_guard lock(g_mutex);
    return g_faults[static_cast<size_t>(point)].count;
}

bool fault_due(FaultPoint point) {
    if ((g_armed.load(std::memory_order_relaxed) & bit(point)) == 0) return false;
    std::lock_guard lock(g_mutex);
    Fault &f = g_faults[static_cast<size_t>(point)];
    if (f.count <= 0) return false;
    if (f.skip > 0) {
        --f.skip;
        return false;
    }
    if (--f.count == 0) g_armed &= ~bit(point);
    set_last_error(f.error);
    int err = errno_of(f.error);
    errno = err ? err : EIO;
    return true;
}

} // namespace tarmin::platform

// The runtime's time-zone state: _tzset and _timezone over the C library's
// tzset() and timezone.
#include "kernel.h"

#include <time.h>

namespace vorlix {
namespace win {

// 0 until the first _tzset: loading the library does no work.
std::atomic<long> _timezone{0};

namespace posix {
namespace {
std::atomic<unsigned> g_zoneGeneration{0};
}
unsigned ZoneGeneration() { return g_zoneGeneration.load(std::memory_order_acquire); }
}  // namespace posix

void _tzset() {
    ::tzset();
    // The C library's timezone is the standard-time offset, seconds west of
    // UTC, that tzset() has just set.
    _timezone.store(static_cast<long>(::timezone), std::memory_order_relaxed);
    posix::g_zoneGeneration.fetch_add(1, std::memory_order_release);
}

}  // namespace win
}  // namespace vorlix

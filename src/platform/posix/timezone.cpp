// The runtime's time-zone state: _tzset and _timezone over the C library's
// tzset() and timezone.
#include <vorlix/win.h>

#include <time.h>

namespace vorlix {
namespace win {

// 0 until the first _tzset: loading the library does no work.
std::atomic<long> _timezone{0};

void _tzset() {
    ::tzset();
    // The C library's timezone is the standard-time offset, seconds west of
    // UTC, that tzset() has just set.
    _timezone.store(static_cast<long>(::timezone), std::memory_order_relaxed);
}

}  // namespace win
}  // namespace vorlix

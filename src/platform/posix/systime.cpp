// The system version, file times as calendar fields, and _ftime on POSIX.
#include "kernel.h"

#include <ctime>

namespace vorlix {
namespace win {

DWORD GetVersion() {
    // Low byte: major version 6; next byte: minor version 2; high word: the
    // build, 9200, with the top bit clear (the NT family).
    return 0x23F00206u;
}

BOOL FileTimeToSystemTime(const FILETIME* lpFileTime, SYSTEMTIME* lpSystemTime) {
    if (!lpFileTime || !lpSystemTime || (lpFileTime->dwHighDateTime & 0x80000000u)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    unsigned long long t =
        (static_cast<unsigned long long>(lpFileTime->dwHighDateTime) << 32) | lpFileTime->dwLowDateTime;
    const unsigned long long kTicksPerDay = 864000000000ULL;
    long long days = static_cast<long long>(t / kTicksPerDay);  // since 1601-01-01, a Monday
    unsigned long long rest = t % kTicksPerDay;
    lpSystemTime->wDayOfWeek = static_cast<WORD>((days + 1) % 7);

    // Civil date from a day count, on the proleptic Gregorian calendar, with
    // years that start on March 1 so that the leap day comes last.
    long long z = days - 134774 + 719468;  // days since 0000-03-01
    long long era = z / 146097;
    long long doe = z - era * 146097;
    long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    long long mp = (5 * doy + 2) / 153;
    long long day = doy - (153 * mp + 2) / 5 + 1;
    long long month = mp < 10 ? mp + 3 : mp - 9;
    long long year = yoe + era * 400 + (month <= 2 ? 1 : 0);

    lpSystemTime->wYear = static_cast<WORD>(year);
    lpSystemTime->wMonth = static_cast<WORD>(month);
    lpSystemTime->wDay = static_cast<WORD>(day);
    lpSystemTime->wHour = static_cast<WORD>(rest / 36000000000ULL);
    lpSystemTime->wMinute = static_cast<WORD>(rest / 600000000ULL % 60);
    lpSystemTime->wSecond = static_cast<WORD>(rest / 10000000ULL % 60);
    lpSystemTime->wMilliseconds = static_cast<WORD>(rest / 10000ULL % 1000);
    return TRUE;
}

namespace {

// The zone fields of the last second _ftime reported on this thread. The
// zone's offset changes only at whole seconds, and a new zone only comes
// with the C library's tzset (which _tzset calls, and which sets timezone
// and daylight), so a reading in the same second of the same zone reuses
// them instead of converting again, which costs more than the clock read.
struct ZoneCache {
    std::time_t second = -1;
    unsigned generation = 0;
    long west = 0;  // the C library's timezone and daylight when converted
    int daylight = 0;
    short timezone = 0;
    short dstflag = 0;
};
thread_local ZoneCache t_zone;

}  // namespace

void _ftime(_timeb* pTime) {
    if (!pTime) return;
    // The wall clock to the millisecond: the message-pump waits count on
    // the millisecond (a wait of 0 ms looks at the queue for at least one),
    // which the coarse clocks, ticking every 1 to 10 ms, do not give.
    struct timespec ts;
    ::clock_gettime(CLOCK_REALTIME, &ts);
    pTime->time = ts.tv_sec;
    pTime->millitm = static_cast<unsigned short>(ts.tv_nsec / 1000000);
    ZoneCache& z = t_zone;
    unsigned generation = posix::ZoneGeneration();
    long west = ::timezone;
    int daylight = ::daylight;
    if (z.second != ts.tv_sec || z.generation != generation || z.west != west || z.daylight != daylight) {
        struct tm local;
        z.second = ts.tv_sec;
        z.generation = generation;
        z.west = west;
        z.daylight = daylight;
        if (::localtime_r(&ts.tv_sec, &local)) {
            // Minutes west of UTC for standard time, as the runtime reports
            // it; daylight saving shows in the flag alone.
            long west = -local.tm_gmtoff / 60 + (local.tm_isdst > 0 ? 60 : 0);
            z.timezone = static_cast<short>(west);
            z.dstflag = static_cast<short>(local.tm_isdst > 0 ? 1 : 0);
        } else {
            z.timezone = 0;
            z.dstflag = 0;
        }
    }
    pTime->timezone = z.timezone;
    pTime->dstflag = z.dstflag;
}

}  // namespace win
}  // namespace vorlix

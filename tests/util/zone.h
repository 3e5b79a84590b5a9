// Sets TZ for the life of an object and has the C runtime read it, then
// restores what was there before (also the absence of TZ).
#ifndef VORLIX_TESTS_UTIL_ZONE_H
#define VORLIX_TESTS_UTIL_ZONE_H

#include <cstdlib>
#include <string>

#include <time.h>

namespace testsupport {

// The C runtime's own standard-time offset after it has read the zone again.
inline long RuntimeTimeZone() {
#if defined(_WIN32)
    _tzset();
    return _timezone;
#else
    tzset();
    return timezone;
#endif
}

class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* tz) : m_bHad(std::getenv("TZ")), m_old(m_bHad ? std::getenv("TZ") : "") {
        Set(tz);
    }
    ~ScopedTimeZone() { Set(m_bHad ? m_old.c_str() : nullptr); }

private:
    static void Set(const char* tz) {  // null removes TZ
#if defined(_WIN32)
        _putenv((std::string("TZ=") + (tz ? tz : "")).c_str());
#else
        tz ? setenv("TZ", tz, 1) : unsetenv("TZ");
#endif
        RuntimeTimeZone();
    }
    bool m_bHad;
    std::string m_old;
};

const char kSummerZone[] = "EST5EDT,M3.2.0,M11.1.0";  // US Eastern: 18000 west, summer time

}  // namespace testsupport

#endif

// _timezone follows the zone at every _tzset: the standard-time offset in
// seconds west of UTC, whether or not the zone has summer time.
#include <gtest/gtest.h>

#include "util/zone.h"

#include <vorlix/win.h>

using namespace vorlix::win;

TEST(PlatformTimeZone, StandardOffsetFollowsTheZoneAtEachCall) {
    const struct {
        const char* tz;
        long west;
    } zones[] = {{"UTC0", 0}, {testsupport::kSummerZone, 18000}, {"JST-9", -32400}, {"UTC0", 0}};
    for (const auto& z : zones) {
        testsupport::ScopedTimeZone zone(z.tz);
        vorlix::win::_tzset();
        long west = _timezone;
        EXPECT_EQ(west, z.west) << z.tz;
    }
}

// MTime: seconds since 1970 with calendar fields in local time. The cases
// hold in any time zone.
#include "support.h"

#include <gtest/gtest.h>

#include <ctime>

namespace {

TEST(TimeTest, CalendarFieldsRoundTripAndCarry) {
    MTime t(2008, 7, 15, 13, 45, 30, -1);
    ASSERT_NE(-1, t.GetTime());
    const int want[] = {2008, 7, 15, 13, 45, 30, 3};  // a Tuesday
    const int got[] = {t.GetYear(), t.GetMonth(), t.GetDay(), t.GetHour(), t.GetMinute(), t.GetSecond(), t.GetDayOfWeek()};
    for (int i = 0; i < 7; ++i) EXPECT_EQ(want[i], got[i]) << "field " << i;
    EXPECT_EQ(t.GetTime() + 90, MTime(2008, 7, 15, 13, 47, 0, -1).GetTime());
    EXPECT_EQ(MTime(2009, 1, 1, 12, 0, 0, -1), MTime(2008, 13, 1, 12, 0, 0, -1));
    MTime leap(2008, 2, 30, 12, 0, 0, -1);  // a leap year: March 1
    EXPECT_EQ(3, leap.GetMonth());
    EXPECT_EQ(1, leap.GetDay());
}

TEST(TimeTest, ValuesAndNow) {
    EXPECT_EQ(0, MTime().GetTime());
    MTime t(1000000000L);  // 2001-09-09 01:46:40 UTC
    EXPECT_EQ(2001, t.GetYear());
    EXPECT_EQ(9, t.GetMonth());
    t = 86400L;
    EXPECT_EQ(86400L, t.GetTime());
    EXPECT_TRUE(MTime(5L) < MTime(6L) && MTime(5L) == MTime(5L) && MTime(5L) != MTime(6L));
    long before = static_cast<long>(std::time(nullptr));
    long now = MTime::GetTickCount().GetTime();
    EXPECT_LE(before, now);
    EXPECT_LE(now, static_cast<long>(std::time(nullptr)));
}

}  // namespace

// MTime: seconds since 1970 with calendar fields in local time. The cases
// hold in any time zone.
#include "support.h"

#include <gtest/gtest.h>

#include <ctime>

namespace {

TEST(TimeTest, Values) {
    EXPECT_EQ(0, MTime().GetTime());
    MTime t(1000000000L);  // 2001-09-09 01:46:40 UTC
    EXPECT_EQ(1000000000L, t.GetTime());
    EXPECT_EQ(2001, t.GetYear());
    EXPECT_EQ(9, t.GetMonth());
    t = 86400L;
    EXPECT_EQ(86400L, t.GetTime());
    EXPECT_TRUE(MTime(5L) < MTime(6L));
    EXPECT_TRUE(MTime(5L) == MTime(5L));
    EXPECT_TRUE(MTime(5L) != MTime(6L));
}

TEST(TimeTest, CalendarFieldsRoundTrip) {
    MTime t(2008, 7, 15, 13, 45, 30, -1);
    ASSERT_NE(-1, t.GetTime());
    EXPECT_EQ(2008, t.GetYear());
    EXPECT_EQ(7, t.GetMonth());
    EXPECT_EQ(15, t.GetDay());
    EXPECT_EQ(13, t.GetHour());
    EXPECT_EQ(45, t.GetMinute());
    EXPECT_EQ(30, t.GetSecond());
    EXPECT_EQ(3, t.GetDayOfWeek());  // a Tuesday
    EXPECT_EQ(t.GetTime() + 90, MTime(2008, 7, 15, 13, 47, 0, -1).GetTime());
}

TEST(TimeTest, OutOfRangeFieldsCarry) {
    MTime t(2008, 13, 1, 12, 0, 0, -1);
    EXPECT_EQ(2009, t.GetYear());
    EXPECT_EQ(1, t.GetMonth());
    EXPECT_EQ(MTime(2009, 1, 1, 12, 0, 0, -1), t);
    MTime u(2008, 2, 30, 12, 0, 0, -1);  // a leap year: March 1
    EXPECT_EQ(3, u.GetMonth());
    EXPECT_EQ(1, u.GetDay());
}

TEST(TimeTest, CurrentTime) {
    long before = static_cast<long>(std::time(nullptr));
    long now = MTime::GetTickCount().GetTime();
    long after = static_cast<long>(std::time(nullptr));
    EXPECT_LE(before, now);
    EXPECT_LE(now, after);
}

}  // namespace

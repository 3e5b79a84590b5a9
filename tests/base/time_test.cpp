// MTime: seconds since 1970 with calendar fields in local time; the cases
// hold in any time zone.
#include "support.h"

#include <gtest/gtest.h>

namespace {

TEST(TimeTest, CalendarFieldsRoundTripAndCarry) {
    MTime t(2008, 7, 15, 13, 45, 30, -1);
    const int want[] = {2008, 7, 15, 13, 45, 30, 3};  // a Tuesday
    const int got[] = {t.GetYear(),   t.GetMonth(),  t.GetDay(),      t.GetHour(),
                       t.GetMinute(), t.GetSecond(), t.GetDayOfWeek()};
    for (int i = 0; i < 7; ++i) EXPECT_EQ(want[i], got[i]) << "field " << i;
    EXPECT_EQ(t.GetTime() + 90, MTime(2008, 7, 15, 13, 47, 0, -1).GetTime());
    EXPECT_EQ(MTime(2008, 3, 1, 12, 0, 0, -1), MTime(2008, 2, 30, 12, 0, 0, -1));  // leap year
    EXPECT_EQ(2001, MTime(1000000000L).GetYear());
}

}  // namespace

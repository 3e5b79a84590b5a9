// Date parsing: what the two HTTP forms accept and refuse, the hour of the
// GMT conversion in summer time, numeric dates, and 10,000 generated dates
// against the C runtime's own local-time conversion.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <ctime>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "util/zone.h"
#include "widths.h"

using testsupport::ScopedTimeZone;

namespace {

// The text as a NUL-terminated 16-bit buffer.
std::vector<unsigned short> Wide(const std::string& s) { return widths::Buf<widths::Wide>(s); }

// The time read in both widths, which must agree; "refused" when the
// text is refused (and the time must then be untouched).
std::string Parse(const std::string& text) {
    MTime narrow(12345), wide(12345);
    int r = Byte_ParsorStrTime(text.c_str(), narrow);
    EXPECT_EQ(Uni_ParsorStrTime(Wide(text).data(), wide), r) << text;
    EXPECT_EQ(wide.GetTime(), narrow.GetTime()) << text;
    if (!r) {
        EXPECT_EQ(narrow.GetTime(), 12345) << text;
    }
    return r ? std::to_string(narrow.GetTime()) : "refused";
}

long Numeric(const std::string& text) {
    long v = Byte_String2Time(text.c_str());
    EXPECT_EQ(Uni_String2Time(Wide(text).data()), v) << text;
    return v;
}

}  // namespace

TEST(UtilDate, AcceptedAndRefusedForms) {
    ScopedTimeZone zone("UTC0");
    const std::pair<const char*, const char*> cases[] = {
        {"Sun, 06 Nov 1994 08:49:37 GMT", "784111777"},
        {"Xyz,06 nov 1994   08:49:37 gmt", "784111777"},  // the weekday is not read
        {"  Sun   Nov 6   08:49:37    1994  ", "784111777"},
        {"Wed, 31 Dec 1969 23:59:59 GMT", "-1"},  // before 1970
        {"Wed Dec 31 12:00:00 1969", "-1"},
        {"Sunday, 06-Nov-94 08:49:37 GMT", "refused"},       // RFC 850: 9 tokens, token 1 ","
        {"Sun 06 Nov 1994 08:49:37 GMT", "refused"},         // 10 tokens
        {"Sun, 06 Nov 1994 08:49:37 GMT +0000", "refused"},  // 12
        {"Sun, 06 Nov 1994 08:49:37 UTC", "refused"},
        {"Sun; 06 Nov 1994 08:49:37 GMT x", "refused"},
        {"Sun, 06 Nov 1994 08,49:37 GMT", "refused"},
        {"Sun, 06 Nov 1994 08:49,37 GMT", "refused"},
        {"Sun Nov 6 08,49:37 1994", "refused"},
        {"Sun Nov 6 08:49,37 1994", "refused"},
        {"Sun, 06 June 1994 08:49:37 GMT", "refused"},  // month names are whole
        {"Sun Sept 6 08:49:37 1994", "refused"},
        {"", "refused"},
    };
    for (const auto& [text, want] : cases) EXPECT_EQ(Parse(text), want) << text;
    MTime t(12345);
    EXPECT_EQ(Byte_ParsorStrTime(nullptr, t) + Uni_ParsorStrTime(nullptr, t), 0);
    // Numbers are not checked; absurd ones reach the calendar safely.
    EXPECT_NE(Parse("Sun, 99999999999999999999 Nov -99999999999999 08:49:37 GMT"), "refused");
    EXPECT_NE(Parse("Sun Nov x 08:-2147483648:37 2147483647"), "refused");
}

TEST(UtilDate, SummerTimeAndNumericDates) {
    {
        ScopedTimeZone zone(testsupport::kSummerZone);
        EXPECT_EQ(Parse("Sat, 01 Jan 2005 12:00:00 GMT"), "1104580800");  // exact
        // An hour early where the runtime puts the date in summer time: always
        // on POSIX; Wine's runtime forgets the summer rule once TZ was unset.
        std::tm july = {};
        july.tm_year = 105, july.tm_mon = 6, july.tm_mday = 1, july.tm_hour = 12, july.tm_isdst = -1;
        std::mktime(&july);
#if !defined(_WIN32)
        EXPECT_GT(july.tm_isdst, 0);
#endif
        bool bSummer = july.tm_isdst > 0;
        EXPECT_EQ(Parse("Fri, 01 Jul 2005 12:00:00 GMT"), bSummer ? "1120215600" : "1120219200");
        EXPECT_EQ(Parse("Fri Jul  1 12:00:00 2005"), bSummer ? "1120233600" : "1120237200");  // 16:00 UTC
        // Local time after 1970, GMT before it (Windows refuses 1969 dates).
#if !defined(_WIN32)
        EXPECT_EQ(Parse("Wed, 31 Dec 1969 20:00:00 GMT"), std::to_string(-4 * 3600));
#endif
        EXPECT_EQ(Numeric(""), 0);  // the default MTime's own time
    }
    ScopedTimeZone zone("UTC0");
    EXPECT_EQ(Numeric("2008"), 1199145600);  // the rest from 1970-01-01 00:00:00
    EXPECT_EQ(Numeric("2008/01/02/10:20:30"), 1199269230);
    EXPECT_EQ(Numeric("2008/1/2/10/20/30/99"), 1199269230);  // "/" and ":" alike; extra fields ignored
    EXPECT_EQ(Numeric("2008/01/02 10:20:30"), 1199305800);   // day 2, 20:30:00
    EXPECT_EQ(Numeric("2008//03"), 1196640000);              // month 0: 2007-12-03
    EXPECT_EQ(Numeric(" +2008x/ 1/2"), 1199232000);          // atoi: blanks, sign, trailing text
}

// 10,000 dates from 1971 to 2037, every month and weekday name in mixed case
// and blanks between the fields, against mktime on the fields with summer
// time left to the zone, minus the standard-time offset for GMT.
TEST(UtilDate, GeneratedDatesMatchTheRuntime) {
    static const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    static const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    for (const char* tz : {"UTC0", testsupport::kSummerZone}) {
        ScopedTimeZone zone(tz);
        long west = testsupport::RuntimeTimeZone();
        std::mt19937 rng(1123);
        auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
        auto mixed = [&](std::string s) {
            for (char& c : s) c = static_cast<char>(pick(2) ? std::toupper(c) : std::tolower(c));
            return s;
        };
        auto sp = [&] { return std::string(1 + pick(3), ' '); };
        int bad = 0;
        for (int i = 0; i < 10000 && bad < 5; ++i) {
            int year = 1971 + pick(67), month = i % 12, day = 1 + pick(31);
            int hour = pick(24), minute = pick(60), second = pick(60);
            std::tm t = {};
            t.tm_year = year - 1900, t.tm_mon = month, t.tm_mday = day;
            t.tm_hour = hour, t.tm_min = minute, t.tm_sec = second, t.tm_isdst = -1;
            long long local = static_cast<long long>(std::mktime(&t));
            char clock[40], dd[12];
            std::snprintf(clock, sizeof clock, "%02d:%02d:%02d", hour, minute, second);
            std::snprintf(dd, sizeof dd, "%02d", day);
            std::string wd = mixed(kDays[i % 7]), mon = mixed(kMonths[month]), yyyy = std::to_string(year);
            std::string rfc = wd + "," + sp() + dd + sp() + mon + sp() + yyyy + sp() + clock + sp() + mixed("GMT");
            std::string asc = wd + sp() + mon + sp() + std::to_string(day) + sp() + clock + sp() + yyyy;
            MTime got;
            int before = bad;
            bad += !(Byte_ParsorStrTime(rfc.c_str(), got) && got.GetTime() == local - west);
            bad += !(Byte_ParsorStrTime(asc.c_str(), got) && got.GetTime() == local);
            bad += i % 10 == 0 && !(Uni_ParsorStrTime(Wide(rfc).data(), got) && got.GetTime() == local - west);
            if (bad > before) ADD_FAILURE() << tz << ": " << rfc << " / " << asc;
        }
        EXPECT_EQ(bad, 0) << tz;
    }
}

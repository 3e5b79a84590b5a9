// Date parsing for HTTP dates and numeric dates, once for both widths.
#include <vorlix/base/strarray.h>
#include <vorlix/base/text.h>
#include <vorlix/util/datetime.h>
#include <vorlix/util/split.h>
#include <vorlix/win.h>

#include "../base/literal.h"

#include <climits>
#include <cstddef>

using namespace vorlix::win;

namespace vorlix {
namespace detail {
namespace {

template <class Ch>
struct DateLits {
    static constexpr Lit<Ch, 4> kHttpSeps{" ,:"};
    static constexpr Lit<Ch, 3> kNumericSeps{"/:"};
    static constexpr Lit<Ch, 2> kComma{","};
    static constexpr Lit<Ch, 2> kColon{":"};
    static constexpr Lit<Ch, 4> kGmt{"GMT"};
    static constexpr Lit<Ch, 4> kMonths[12] = {Lit<Ch, 4>("Jan"), Lit<Ch, 4>("Feb"), Lit<Ch, 4>("Mar"),
                                               Lit<Ch, 4>("Apr"), Lit<Ch, 4>("May"), Lit<Ch, 4>("Jun"),
                                               Lit<Ch, 4>("Jul"), Lit<Ch, 4>("Aug"), Lit<Ch, 4>("Sep"),
                                               Lit<Ch, 4>("Oct"), Lit<Ch, 4>("Nov"), Lit<Ch, 4>("Dec")};
};

// The width's own splitter, number readers and runtime atoi.
int SplitEx(const char* text, MStringArray& out) {
    return Byte_GetSplitTokenEx(text, 0, DateLits<char>::kHttpSeps, out, 1, 0, 0);
}
int SplitEx(const unsigned short* text, UStringArray& out) {
    return Uni_GetSplitTokenEx(text, 0, DateLits<unsigned short>::kHttpSeps, out, 1, 0, 0);
}
int Split(const char* text, MStringArray& out) {
    return Byte_GetSplitToken(text, 0, DateLits<char>::kNumericSeps, out);
}
int Split(const unsigned short* text, UStringArray& out) {
    return Uni_GetSplitToken(text, 0, DateLits<unsigned short>::kNumericSeps, out);
}
long ToLong(const char* text) { return Byte_AtoL(text); }
long ToLong(const unsigned short* text) { return Uni_AtoL(text); }
int RuntimeToInt(const char* text) { return vorlix::win::atoi(text); }
int RuntimeToInt(const unsigned short* text) { return vorlix::win::_wtoi(reinterpret_cast<const WCHAR*>(text)); }

// A number as a calendar field for MTime, which computes year - 1900 and
// month - 1 in int: values beyond that range are taken as its nearest end
// (the date is far outside any calendar either way).
int Field(long v) {
    const long long kLow = static_cast<long long>(INT_MIN) + 1900, w = v;
    return w < kLow ? static_cast<int>(kLow) : w > INT_MAX ? INT_MAX : static_cast<int>(w);
}

// 1 to 12 for a month name, compared whole and ignoring case; 0 for none.
template <class Ch>
int MonthOf(const BasicString<Ch>& name) {
    for (int i = 0; i < 12; ++i)
        if (name.CompareNoCase(DateLits<Ch>::kMonths[i]) == 0) return i + 1;
    return 0;
}

// Seconds of local calendar fields, summer time left to the platform; -1
// when the local calendar cannot hold them as an MTime, before 1970
// included, so that every platform gives the same answer.
long LocalSeconds(int year, int month, int day, int hour, int minute, int second) {
    long v = MTime(year, month, day, hour, minute, second, -1).GetTime();
    return v < 0 ? -1 : v;
}

template <class Ch>
int ParsorStrTime(const Ch* text, MTime& tm) {
    typedef DateLits<Ch> L;
    if (!text) return 0;
    BasicStringArray<Ch> tok;
    int n = SplitEx(text, tok);
    bool bGmt = n == 11;
    // Where each field sits in the two forms.
    int iDay, iMonth, iYear, iHour, iMinute, iSecond;
    if (bGmt) {
        if (tok[1] != L::kComma || tok[6] != L::kColon || tok[8] != L::kColon || tok[10].CompareNoCase(L::kGmt) != 0)
            return 0;
        iDay = 2, iMonth = 3, iYear = 4, iHour = 5, iMinute = 7, iSecond = 9;
    } else if (n == 9) {
        if (tok[4] != L::kColon || tok[6] != L::kColon) return 0;
        iMonth = 1, iDay = 2, iHour = 3, iMinute = 5, iSecond = 7, iYear = 8;
    } else {
        return 0;
    }
    int month = MonthOf(tok[iMonth]);
    if (!month) return 0;

    _tzset();  // the zone of this moment, for the local time and _timezone alike
    long v = LocalSeconds(Field(ToLong(tok[iYear])), month, Field(ToLong(tok[iDay])), Field(ToLong(tok[iHour])),
                          Field(ToLong(tok[iMinute])), Field(ToLong(tok[iSecond])));
    if (bGmt && v >= 0) {
        // The fields were GMT: move them by the standard-time offset.
        long long gmt = static_cast<long long>(v) - static_cast<long long>(_timezone);
        v = gmt < LONG_MIN || gmt > LONG_MAX ? -1 : static_cast<long>(gmt);
    }
    tm = MTime(v);
    return 1;
}

template <class Ch>
long String2Time(const Ch* text) {
    BasicStringArray<Ch> tok;
    int n = text ? Split(text, tok) : 0;
    MTime def;
    // With no field the result is the default time itself, also where the
    // platform cannot build it again from its fields: west of Greenwich
    // they fall on 31 December 1969, which Windows refuses.
    if (n == 0) return def.GetTime();
    _tzset();
    // year, month, day, hour, minute, second
    int f[6] = {def.GetYear(), def.GetMonth(), def.GetDay(), def.GetHour(), def.GetMinute(), def.GetSecond()};
    for (int i = 0; i < 6 && i < n; ++i) f[i] = Field(RuntimeToInt(tok[i]));
    return MTime(f[0], f[1], f[2], f[3], f[4], f[5], -1).GetTime();
}

}  // namespace
}  // namespace detail
}  // namespace vorlix

namespace d = vorlix::detail;

int Byte_ParsorStrTime(const char* lpszTime, MTime& tm) { return d::ParsorStrTime(lpszTime, tm); }
int Uni_ParsorStrTime(const unsigned short* lpszTime, MTime& tm) { return d::ParsorStrTime(lpszTime, tm); }

long Byte_String2Time(const char* lpszTime) { return d::String2Time(lpszTime); }
long Uni_String2Time(const unsigned short* lpszTime) { return d::String2Time(lpszTime); }

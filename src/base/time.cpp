#include <vorlix/base/time.h>
#include <vorlix/win.h>

#include <climits>
#include <ctime>

using namespace vorlix::win;

MTime::MTime(int nYear, int nMonth, int nDay, int nHour, int nMinute, int nSecond, int nDST) {
    std::tm t = {};
    t.tm_year = nYear - 1900;
    t.tm_mon = nMonth - 1;
    t.tm_mday = nDay;
    t.tm_hour = nHour;
    t.tm_min = nMinute;
    t.tm_sec = nSecond;
    t.tm_isdst = nDST < 0 ? -1 : (nDST ? 1 : 0);
    std::time_t v = mktime(&t);
    if (v == static_cast<std::time_t>(-1) || v > LONG_MAX || v < LONG_MIN) {
        m_time = -1;
        return;
    }
    m_time = static_cast<long>(v);
}

int MTime::Field(int nWhich) const {
    std::time_t v = static_cast<std::time_t>(m_time);
    std::tm t = {};
    if (localtime_s(&t, &v) != 0) return 0;
    switch (nWhich) {
    case 0: return t.tm_year + 1900;
    case 1: return t.tm_mon + 1;
    case 2: return t.tm_mday;
    case 3: return t.tm_hour;
    case 4: return t.tm_min;
    case 5: return t.tm_sec;
    default: return t.tm_wday + 1;
    }
}

int MTime::GetYear() const { return Field(0); }
int MTime::GetMonth() const { return Field(1); }
int MTime::GetDay() const { return Field(2); }
int MTime::GetHour() const { return Field(3); }
int MTime::GetMinute() const { return Field(4); }
int MTime::GetSecond() const { return Field(5); }
int MTime::GetDayOfWeek() const { return Field(6); }

MTime MTime::GetTickCount() { return MTime(static_cast<long>(time(nullptr))); }

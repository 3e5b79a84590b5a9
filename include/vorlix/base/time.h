// MTime: a point in time, seconds since 1970-01-01 00:00:00 UTC, with its
// calendar fields in local time.
#ifndef VORLIX_BASE_TIME_H
#define VORLIX_BASE_TIME_H

#include <vorlix/config.h>

class VORLIX_API MTime {
public:
    // A default MTime holds 0, the start of 1970 (UTC).
    MTime() noexcept : m_time(0) {}
    MTime(long lTime) noexcept : m_time(lTime) {}
    // Calendar fields read as local time; nDST 1 daylight saving, 0 standard
    // time, -1 lets the platform decide. Fields out of range are carried
    // into the next larger field (month 13 is January of the next year).
    // A time the platform cannot represent gives -1.
    MTime(int nYear, int nMonth, int nDay, int nHour, int nMinute, int nSecond, int nDST = -1);

    MTime& operator=(long lTime) noexcept {
        m_time = lTime;
        return *this;
    }

    long GetTime() const noexcept { return m_time; }
    // Calendar fields in local time; all 0 when the platform cannot convert
    // the value.
    int GetYear() const;
    int GetMonth() const;      // 1 to 12
    int GetDay() const;        // 1 to 31
    int GetHour() const;       // 0 to 23
    int GetMinute() const;     // 0 to 59
    int GetSecond() const;     // 0 to 60
    int GetDayOfWeek() const;  // 1 (Sunday) to 7 (Saturday)

    // The current time.
    static MTime GetTickCount();

    bool operator==(const MTime& t) const noexcept { return m_time == t.m_time; }
    bool operator!=(const MTime& t) const noexcept { return m_time != t.m_time; }
    bool operator<(const MTime& t) const noexcept { return m_time < t.m_time; }
    bool operator>(const MTime& t) const noexcept { return m_time > t.m_time; }
    bool operator<=(const MTime& t) const noexcept { return m_time <= t.m_time; }
    bool operator>=(const MTime& t) const noexcept { return m_time >= t.m_time; }

private:
    int Field(int nWhich) const;

    long m_time;
};

#endif

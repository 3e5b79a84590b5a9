// Runtime-library functions that Windows programs take from the C runtime.
#include "kernel.h"

#include <cerrno>
#include <climits>
#include <ctime>

namespace vorlix {
namespace win {

namespace {

template <class Ch>
unsigned Fold(Ch c) {
    unsigned u = static_cast<unsigned>(c);
    if (sizeof(Ch) == 1) u &= 0xFF;
    return (u >= 'A' && u <= 'Z') ? u + ('a' - 'A') : u;
}

template <class Ch>
int CompareNoCase(const Ch* a, const Ch* b, std::size_t n) {
    if (!a || !b) return a == b ? 0 : (a ? 1 : -1);
    for (std::size_t i = 0; i < n; ++i) {
        unsigned x = Fold(a[i]), y = Fold(b[i]);
        if (x != y) return x < y ? -1 : 1;
        if (x == 0) break;
    }
    return 0;
}

template <class Ch>
int ToInt(const Ch* s) {
    if (!s) return 0;
    while (*s == ' ' || (*s >= 9 && *s <= 13)) ++s;
    bool neg = false;
    if (*s == '+' || *s == '-') neg = (*s++ == '-');
    long long v = 0;
    for (; *s >= '0' && *s <= '9'; ++s) {
        v = v * 10 + (*s - '0');
        if (v > static_cast<long long>(INT_MAX) + 1) v = static_cast<long long>(INT_MAX) + 1;
    }
    if (neg) v = -v;
    if (v > INT_MAX) v = INT_MAX;
    return static_cast<int>(v);
}

}  // namespace

int _stricmp(const char* a, const char* b) { return CompareNoCase(a, b, static_cast<std::size_t>(-1)); }
int _strnicmp(const char* a, const char* b, std::size_t n) { return CompareNoCase(a, b, n); }
int _wcsicmp(const WCHAR* a, const WCHAR* b) { return CompareNoCase(a, b, static_cast<std::size_t>(-1)); }
int _wcsnicmp(const WCHAR* a, const WCHAR* b, std::size_t n) { return CompareNoCase(a, b, n); }
int atoi(const char* s) { return ToInt(s); }
int _wtoi(const WCHAR* s) { return ToInt(s); }

int localtime_s(std::tm* ptm, const std::time_t* ptime) {
    if (!ptm || !ptime) return EINVAL;
    if (!::localtime_r(ptime, ptm)) return EINVAL;
    return 0;
}

}  // namespace win
}  // namespace vorlix

// The formatting engine behind MString::Format and UString::Format. It is
// written once over the character type, so the 16-bit form never goes
// through the platform's wchar_t functions (32 bits wide on Linux).
#include "format.h"

#include <vorlix/win.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace vorlix {
namespace detail {

using namespace vorlix::win;

namespace {

struct Conversion {
    bool left = false, plus = false, space = false, alt = false, zero = false;
    int width = 0;
    int precision = -1;
    enum Length { kNone, kHH, kH, kL, kLL, kLD, kSize } length = kNone;
    bool wide = false;  // 'l' or 'w' before c or s
    bool narrow = false;  // 'h' before c or s
};

template <class Ch>
class Builder {
public:
    void Put(Ch c) { m_buf.push_back(c); }
    void Put(const Ch* p, std::size_t n) { m_buf.insert(m_buf.end(), p, p + n); }
    void Pad(Ch c, int n) {
        if (n > 0) m_buf.insert(m_buf.end(), static_cast<std::size_t>(n), c);
    }
    void PutAscii(const char* p, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) m_buf.push_back(static_cast<Ch>(static_cast<unsigned char>(p[i])));
    }
    // A run of characters padded to the conversion's width.
    void Field(const Ch* p, std::size_t n, const Conversion& s) {
        int pad = s.width - static_cast<int>(n);
        if (!s.left) Pad(Ch(' '), pad);
        Put(p, n);
        if (s.left) Pad(Ch(' '), pad);
    }
    std::vector<Ch>& Buffer() { return m_buf; }

private:
    std::vector<Ch> m_buf;
};

template <class Ch>
void PutInteger(Builder<Ch>& b, unsigned long long mag, bool neg, bool isSigned, int base, bool upper,
                const Conversion& s) {
    char digits[72];
    int nd = 0;
    const char* set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    while (mag) {
        digits[nd++] = set[mag % static_cast<unsigned>(base)];
        mag /= static_cast<unsigned>(base);
    }
    int zeros = 0;
    if (s.precision >= 0) {
        if (s.precision > nd) zeros = s.precision - nd;
    } else if (nd == 0) {
        zeros = 1;  // the value 0
    }
    char prefix[3];
    int np = 0;
    if (isSigned) {
        if (neg) prefix[np++] = '-';
        else if (s.plus) prefix[np++] = '+';
        else if (s.space) prefix[np++] = ' ';
    }
    if (s.alt && base == 16 && nd > 0) {
        prefix[np++] = '0';
        prefix[np++] = upper ? 'X' : 'x';
    }
    if (s.alt && base == 8 && zeros == 0) zeros = 1;
    int total = np + zeros + nd;
    int pad = s.width - total;
    if (!s.left && !(s.zero && s.precision < 0)) b.Pad(Ch(' '), pad);
    b.PutAscii(prefix, static_cast<std::size_t>(np));
    if (!s.left && s.zero && s.precision < 0) b.Pad(Ch('0'), pad);
    b.Pad(Ch('0'), zeros);
    for (int i = nd - 1; i >= 0; --i) b.Put(static_cast<Ch>(digits[i]));
    if (s.left) b.Pad(Ch(' '), pad);
}

// Floating point goes through the C runtime's narrow formatter.
template <class Ch>
void PutFloat(Builder<Ch>& b, std::va_list* ap, const Conversion& s, char conv) {
    std::string f = "%";
    if (s.left) f += '-';
    if (s.plus) f += '+';
    if (s.space) f += ' ';
    if (s.alt) f += '#';
    if (s.zero) f += '0';
    f += "*.*";
    if (s.length == Conversion::kLD) f += 'L';
    f += conv;
    int prec = s.precision;
    std::vector<char> out(64);
    int n;
    if (s.length == Conversion::kLD) {
        long double v = va_arg(*ap, long double);
        n = std::snprintf(out.data(), out.size(), f.c_str(), s.width, prec, v);
        if (n >= static_cast<int>(out.size())) {
            out.resize(static_cast<std::size_t>(n) + 1);
            std::snprintf(out.data(), out.size(), f.c_str(), s.width, prec, v);
        }
    } else {
        double v = va_arg(*ap, double);
        n = std::snprintf(out.data(), out.size(), f.c_str(), s.width, prec, v);
        if (n >= static_cast<int>(out.size())) {
            out.resize(static_cast<std::size_t>(n) + 1);
            std::snprintf(out.data(), out.size(), f.c_str(), s.width, prec, v);
        }
    }
    if (n > 0) b.PutAscii(out.data(), static_cast<std::size_t>(n));
}

// Text of the other width, converted through the system's default code page.
std::vector<unsigned short> Widen(const char* p, int n) {
    std::vector<unsigned short> w;
    if (n <= 0) return w;
    int m = MultiByteToWideChar(CP_ACP, 0, p, n, nullptr, 0);
    if (m <= 0) return w;
    w.resize(static_cast<std::size_t>(m));
    MultiByteToWideChar(CP_ACP, 0, p, n, reinterpret_cast<WCHAR*>(w.data()), m);
    return w;
}

std::vector<char> Narrow(const unsigned short* p, int n) {
    std::vector<char> a;
    if (n <= 0) return a;
    const WCHAR* wp = reinterpret_cast<const WCHAR*>(p);
    int m = WideCharToMultiByte(CP_ACP, 0, wp, n, nullptr, 0, nullptr, nullptr);
    if (m <= 0) return a;
    a.resize(static_cast<std::size_t>(m));
    WideCharToMultiByte(CP_ACP, 0, wp, n, a.data(), m, nullptr, nullptr);
    return a;
}

template <class T>
int Length(const T* p, int limit) {
    int n = 0;
    while ((limit < 0 || n < limit) && p[n]) ++n;
    return n;
}

// Puts a text given in its own width.
template <class Ch>
void PutSame(Builder<Ch>& b, const Ch* p, const Conversion& s) {
    static const Ch kNull[] = {'(', 'n', 'u', 'l', 'l', ')', 0};
    if (!p) p = kNull;
    b.Field(p, static_cast<std::size_t>(Length(p, s.precision)), s);
}

void PutOther(Builder<char>& b, const unsigned short* p, const Conversion& s) {
    if (!p) {
        PutSame(b, static_cast<const char*>(nullptr), s);
        return;
    }
    std::vector<char> a = Narrow(p, Length(p, -1));
    std::size_t n = a.size();
    if (s.precision >= 0 && static_cast<std::size_t>(s.precision) < n) n = static_cast<std::size_t>(s.precision);
    b.Field(a.data(), n, s);
}

void PutOther(Builder<unsigned short>& b, const char* p, const Conversion& s) {
    if (!p) {
        PutSame(b, static_cast<const unsigned short*>(nullptr), s);
        return;
    }
    std::vector<unsigned short> w = Widen(p, Length(p, -1));
    std::size_t n = w.size();
    if (s.precision >= 0 && static_cast<std::size_t>(s.precision) < n) n = static_cast<std::size_t>(s.precision);
    b.Field(w.data(), n, s);
}

void PutOtherChar(Builder<char>& b, unsigned short c, const Conversion& s) {
    std::vector<char> a = Narrow(&c, 1);
    b.Field(a.data(), a.size(), s);
}

void PutOtherChar(Builder<unsigned short>& b, char c, const Conversion& s) {
    std::vector<unsigned short> w = Widen(&c, 1);
    b.Field(w.data(), w.size(), s);
}

template <class Ch>
bool IsDigit(Ch c) {
    return c >= '0' && c <= '9';
}

}  // namespace

template <class Ch>
void FormatInto(BasicString<Ch>& out, const Ch* pszFormat, std::va_list* ap) {
    Builder<Ch> b;
    const Ch* p = pszFormat;
    while (p && *p) {
        if (*p != '%') {
            const Ch* q = p;
            while (*q && *q != '%') ++q;
            b.Put(p, static_cast<std::size_t>(q - p));
            p = q;
            continue;
        }
        const Ch* start = p++;
        Conversion s;
        for (;; ++p) {
            if (*p == '-') s.left = true;
            else if (*p == '+') s.plus = true;
            else if (*p == ' ') s.space = true;
            else if (*p == '#') s.alt = true;
            else if (*p == '0') s.zero = true;
            else break;
        }
        if (*p == '*') {
            s.width = va_arg(*ap, int);
            if (s.width < 0) {
                s.left = true;
                s.width = s.width == -2147483647 - 1 ? 0 : -s.width;
            }
            ++p;
        } else {
            for (; IsDigit(*p); ++p) s.width = s.width > 100000000 ? s.width : s.width * 10 + (*p - '0');
        }
        if (*p == '.') {
            ++p;
            s.precision = 0;
            if (*p == '*') {
                s.precision = va_arg(*ap, int);
                if (s.precision < 0) s.precision = -1;
                ++p;
            } else {
                for (; IsDigit(*p); ++p)
                    s.precision = s.precision > 100000000 ? s.precision : s.precision * 10 + (*p - '0');
            }
        }
        // Length modifiers, including the Windows runtime's I, I32 and I64.
        for (bool more = true; more;) {
            switch (*p) {
            case 'h':
                s.length = s.length == Conversion::kH ? Conversion::kHH : Conversion::kH;
                s.narrow = true;
                ++p;
                break;
            case 'l':
                s.length = s.length == Conversion::kL ? Conversion::kLL : Conversion::kL;
                s.wide = true;
                ++p;
                break;
            case 'w': s.wide = true; ++p; break;
            case 'L': s.length = Conversion::kLD; ++p; break;
            case 'q':
            case 'j': s.length = Conversion::kLL; ++p; break;
            case 'z':
            case 't': s.length = Conversion::kSize; ++p; break;
            case 'I':
                if (p[1] == '6' && p[2] == '4') { s.length = Conversion::kLL; p += 3; }
                else if (p[1] == '3' && p[2] == '2') { s.length = Conversion::kNone; p += 3; }
                else { s.length = Conversion::kSize; ++p; }
                break;
            default: more = false;
            }
        }
        Ch conv = *p;
        if (!conv) {
            // A conversion cut off by the end of the format: keep it as text.
            b.Put(start, static_cast<std::size_t>(p - start));
            break;
        }
        ++p;
        switch (conv) {
        case '%': b.Put(Ch('%')); break;
        case 'd':
        case 'i': {
            long long v;
            switch (s.length) {
            case Conversion::kHH: v = static_cast<signed char>(va_arg(*ap, int)); break;
            case Conversion::kH: v = static_cast<short>(va_arg(*ap, int)); break;
            case Conversion::kL: v = va_arg(*ap, long); break;
            case Conversion::kLL: v = va_arg(*ap, long long); break;
            case Conversion::kSize: v = static_cast<long long>(va_arg(*ap, std::ptrdiff_t)); break;
            default: v = va_arg(*ap, int); break;
            }
            unsigned long long mag = v < 0 ? 0ULL - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
            PutInteger(b, mag, v < 0, true, 10, false, s);
            break;
        }
        case 'u':
        case 'o':
        case 'x':
        case 'X': {
            unsigned long long v;
            switch (s.length) {
            case Conversion::kHH: v = static_cast<unsigned char>(va_arg(*ap, unsigned)); break;
            case Conversion::kH: v = static_cast<unsigned short>(va_arg(*ap, unsigned)); break;
            case Conversion::kL: v = va_arg(*ap, unsigned long); break;
            case Conversion::kLL: v = va_arg(*ap, unsigned long long); break;
            case Conversion::kSize: v = va_arg(*ap, std::size_t); break;
            default: v = va_arg(*ap, unsigned); break;
            }
            int base = conv == 'u' ? 10 : conv == 'o' ? 8 : 16;
            PutInteger(b, v, false, false, base, conv == 'X', s);
            break;
        }
        case 'p': {
            Conversion ps = s;
            ps.alt = true;
            std::uintptr_t v = reinterpret_cast<std::uintptr_t>(va_arg(*ap, void*));
            PutInteger(b, v, false, false, 16, false, ps);
            break;
        }
        case 'c':
        case 'C': {
            int v = va_arg(*ap, int);
            // c: the string's own width unless h or l says otherwise; C: the other width.
            bool other = conv == 'C' ? !(sizeof(Ch) == 1 ? s.narrow : s.wide)
                                     : (sizeof(Ch) == 1 ? s.wide : s.narrow);
            if (!other) {
                Ch c = static_cast<Ch>(v);
                b.Field(&c, 1, s);
            } else if constexpr (sizeof(Ch) == 1) {
                PutOtherChar(b, static_cast<unsigned short>(v), s);
            } else {
                PutOtherChar(b, static_cast<char>(v), s);
            }
            break;
        }
        case 's':
        case 'S': {
            bool other = conv == 'S' ? !(sizeof(Ch) == 1 ? s.narrow : s.wide)
                                     : (sizeof(Ch) == 1 ? s.wide : s.narrow);
            if (!other) {
                PutSame(b, va_arg(*ap, const Ch*), s);
            } else if constexpr (sizeof(Ch) == 1) {
                PutOther(b, va_arg(*ap, const unsigned short*), s);
            } else {
                PutOther(b, va_arg(*ap, const char*), s);
            }
            break;
        }
        case 'e':
        case 'E':
        case 'f':
        case 'F':
        case 'g':
        case 'G':
        case 'a':
        case 'A': PutFloat(b, ap, s, static_cast<char>(conv)); break;
        case 'n': (void)va_arg(*ap, void*); break;  // never writes through the pointer
        default:
            // Unknown conversion: keep it as text.
            b.Put(start, static_cast<std::size_t>(p - start));
            break;
        }
    }
    std::vector<Ch>& buf = b.Buffer();
    BasicString<Ch> result(buf.data(), static_cast<int>(buf.size()));
    out.Swap(result);
}

template void FormatInto<char>(BasicString<char>&, const char*, std::va_list*);
template void FormatInto<unsigned short>(BasicString<unsigned short>&, const unsigned short*, std::va_list*);

}  // namespace detail
}  // namespace vorlix

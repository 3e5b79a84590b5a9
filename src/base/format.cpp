// The formatting engine behind MString::Format and UString::Format. It is
// written once over the character type, so the 16-bit form never goes
// through the platform's wchar_t functions (32 bits wide on Linux).
//
// The text is built in the string's own buffer, grown geometrically, and
// nothing here throws. Every text argument is read only as far as its
// precision needs, and texts of the other width are converted one
// character at a time, so a precision never cuts a character in half and
// never makes the conversion read past what it writes. When the text cannot
// be produced (longer than the limit, a width or precision beyond INT_MAX,
// memory exhausted), the string becomes empty and the failure is reported
// to PrjWarningMsg; FormatV returns 0 then.
#include "format.h"

#include <vorlix/base/objcore.h>
#include <vorlix/win.h>

#include "length.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace vorlix {
namespace detail {

using namespace vorlix::win;

namespace {

constexpr std::size_t kNoPrecision = static_cast<std::size_t>(-1);

struct Conversion {
    bool left = false, plus = false, space = false, alt = false, zero = false;
    std::size_t width = 0;
    std::size_t precision = kNoPrecision;
    enum Length { kNone, kHH, kH, kL, kLL, kLD, kSize } length = kNone;
    bool wide = false;    // 'l' or 'w' before c or s
    bool narrow = false;  // 'h' before c or s
    bool HasPrecision() const { return precision != kNoPrecision; }
};

// The text being built, in the buffer of a string of its own (the
// arguments may lie in the string being formatted). A failure is sticky:
// once the text cannot grow, every later append does nothing.
template <class Ch>
class Builder {
public:
    explicit Builder(std::size_t nMax) : m_max(nMax) {}

    bool Failed() const { return m_failed; }
    void Fail() {
        m_failed = true;
        m_cap = m_len;
    }
    std::size_t Length() const { return m_len; }
    // Characters that can still be appended.
    std::size_t Room() const { return m_max - m_len; }

    void Put(Ch c) {
        if (m_len < m_cap || Grow(1)) m_p[m_len++] = c;
    }
    void Put(const Ch* p, std::size_t n) {
        if (Ch* d = Extend(n)) std::memcpy(d, p, n * sizeof(Ch));
    }
    void Pad(Ch c, std::size_t n) {
        if (Ch* d = Extend(n))
            for (std::size_t i = 0; i < n; ++i) d[i] = c;
    }
    void PutAscii(const char* p, std::size_t n) {
        if (Ch* d = Extend(n))
            for (std::size_t i = 0; i < n; ++i) d[i] = static_cast<Ch>(static_cast<unsigned char>(p[i]));
    }
    // n more characters at the end, for the caller to fill; null when the
    // text cannot grow that far.
    Ch* Extend(std::size_t n) {
        if (n > m_cap - m_len && !Grow(n)) return nullptr;
        Ch* d = m_p + m_len;
        m_len += n;
        return d;
    }
    // Drops characters from the end back to a length.
    void Truncate(std::size_t n) {
        if (n < m_len) m_len = n;
    }
    Ch* At(std::size_t i) { return m_p + i; }

    // Pads the characters written since `start` to the conversion's width:
    // blanks after them when aligned left, before them otherwise.
    void Align(std::size_t start, const Conversion& s) {
        std::size_t n = m_len - start;
        if (m_failed || s.width <= n) return;
        std::size_t pad = s.width - n;
        if (s.left) {
            Pad(Ch(' '), pad);
            return;
        }
        if (!Extend(pad)) return;
        std::memmove(m_p + start + pad, m_p + start, n * sizeof(Ch));
        for (std::size_t i = 0; i < pad; ++i) m_p[start + i] = Ch(' ');
    }

    // Hands the text to out; on failure out becomes empty.
    int Finish(BasicString<Ch>& out) {
        if (m_failed) {
            PrjWarningMsg(0);
            out.Empty();
            return 0;
        }
        if (m_p) m_str.ReleaseBuffer(CheckedLength<Ch>(m_len));
        out.Swap(m_str);
        return 1;
    }

private:
    bool Grow(std::size_t n) {
        if (m_failed || n > m_max - m_len) {
            Fail();
            return false;
        }
        std::size_t need = m_len + n;
        std::size_t cap = m_cap + m_cap / 2;
        if (cap < 256) cap = 256;
        if (cap < need) cap = need;
        if (cap > m_max) cap = m_max;
        // The string learns the length written so far, then grows its
        // buffer keeping it. Both fit a length: m_max is at most the limit.
        if (m_p) m_str.ReleaseBuffer(CheckedLength<Ch>(m_len));
        Ch* p = m_str.GetBuffer(CheckedLength<Ch>(cap));
        if (!p) {
            Fail();
            return false;
        }
        m_p = p;
        m_cap = cap;
        return true;
    }

    BasicString<Ch> m_str;
    Ch* m_p = nullptr;
    std::size_t m_len = 0, m_cap = 0;
    std::size_t m_max;
    bool m_failed = false;
};

template <class Ch>
void PutInteger(Builder<Ch>& b, unsigned long long mag, bool neg, bool isSigned, int base, bool upper,
                const Conversion& s) {
    char digits[72];
    std::size_t nd = 0;
    const char* set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    while (mag) {
        digits[nd++] = set[mag % static_cast<unsigned>(base)];
        mag /= static_cast<unsigned>(base);
    }
    std::size_t zeros = 0;
    if (s.HasPrecision()) {
        if (s.precision > nd) zeros = s.precision - nd;
    } else if (nd == 0) {
        zeros = 1;  // the value 0
    }
    char prefix[3];
    std::size_t np = 0;
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
    // zeros is at most INT_MAX, so the sum cannot wrap.
    std::size_t total = np + zeros + nd;
    std::size_t pad = s.width > total ? s.width - total : 0;
    bool zeroPad = !s.left && s.zero && !s.HasPrecision();
    if (!s.left && !zeroPad) b.Pad(Ch(' '), pad);
    b.PutAscii(prefix, np);
    if (zeroPad) b.Pad(Ch('0'), pad);
    b.Pad(Ch('0'), zeros);
    if (Ch* d = b.Extend(nd))
        for (std::size_t i = 0; i < nd; ++i) d[i] = static_cast<Ch>(digits[nd - 1 - i]);
    if (s.left) b.Pad(Ch(' '), pad);
}

// Floating point goes through the C runtime's narrow formatter, without the
// width, which is applied here: a huge width then costs nothing before it
// is refused.
template <class Ch>
void PutFloat(Builder<Ch>& b, std::va_list* ap, const Conversion& s, char conv) {
    bool isLong = s.length == Conversion::kLD;
    long double lv = 0;
    double v = 0;
    if (isLong) lv = va_arg(*ap, long double);
    else v = va_arg(*ap, double);

    // No precision is passed on as a negative one, which C reads as none.
    std::size_t prec = s.precision;
    bool general = conv == 'g' || conv == 'G';
    if (!s.HasPrecision()) {
    } else if (general && !s.alt && prec > 12000) {
        // %g drops trailing zeros, and no long double has more than about
        // 11,500 significant decimal digits: a larger precision changes
        // nothing but the formatter's work.
        prec = 12000;
    } else if (prec > b.Room()) {
        // Every other conversion writes at least `precision` digits.
        b.Fail();
        return;
    }

    char f[16];
    int k = 0;
    f[k++] = '%';
    if (s.plus) f[k++] = '+';
    if (s.space) f[k++] = ' ';
    if (s.alt) f[k++] = '#';
    f[k++] = '.';
    f[k++] = '*';
    if (isLong) f[k++] = 'L';
    f[k++] = conv;
    f[k] = 0;
    int iprec = s.HasPrecision() ? static_cast<int>(prec) : -1;

    char small[512];
    int n = isLong ? std::snprintf(small, sizeof small, f, iprec, lv) : std::snprintf(small, sizeof small, f, iprec, v);
    if (n < 0) {
        b.Fail();
        return;
    }
    std::size_t start = b.Length();
    std::size_t len = static_cast<std::size_t>(n);
    if (len < sizeof small) {
        b.PutAscii(small, len);
    } else {
        // Formatted again straight into the text: n + 1 characters hold the
        // n bytes and the NUL in either width. The 16-bit form widens the
        // bytes in place from the end, where no unit overwrites a byte not
        // yet read.
        Ch* d = b.Extend(len + 1);
        if (!d) return;
        char* bytes = reinterpret_cast<char*>(d);
        int m = isLong ? std::snprintf(bytes, len + 1, f, iprec, lv) : std::snprintf(bytes, len + 1, f, iprec, v);
        if (m != n) {
            b.Fail();
            return;
        }
        if (sizeof(Ch) > 1)
            for (std::size_t i = len; i-- > 0;) d[i] = static_cast<Ch>(static_cast<unsigned char>(bytes[i]));
        b.Truncate(start + len);
    }
    if (b.Failed() || s.width <= len) return;
    // Zeros go after the sign and a 0x prefix, and only into a number:
    // infinity and NaN are padded with blanks.
    std::size_t at = start;
    Ch* t = b.At(start);
    if (len > 0 && (t[0] == '-' || t[0] == '+' || t[0] == ' ')) ++at;
    bool finite = at - start < len && t[at - start] >= '0' && t[at - start] <= '9';
    if (!s.left && s.zero && finite) {
        if (conv == 'a' || conv == 'A') at += 2;
        std::size_t pad = s.width - len;
        if (!b.Extend(pad)) return;
        t = b.At(start);
        std::memmove(t + (at - start) + pad, t + (at - start), (len - (at - start)) * sizeof(Ch));
        for (std::size_t i = 0; i < pad; ++i) t[at - start + i] = Ch('0');
        return;
    }
    b.Align(start, s);
}

// ---- Text of the other width ----
//
// Converted one character at a time through the system's default code page,
// so that a precision (which counts the characters written) drops a
// character that does not fit whole and the source is read only as far as
// the characters written. ASCII stands for itself in every default code
// page; UTF-8 is decoded and encoded here, as the code-page conversion of
// the platform layer does it; other code pages (Windows' ANSI ones: single
// bytes or double-byte characters) go through the platform one character
// at a time.

constexpr unsigned kReplacement = 0xFFFD;

// Appends the UTF-8 form of a code point; 0 when it does not fit in room.
std::size_t PutUtf8(Builder<char>& b, unsigned cp, std::size_t room) {
    char u[4];
    std::size_t n;
    if (cp < 0x80) {
        u[0] = static_cast<char>(cp);
        n = 1;
    } else if (cp < 0x800) {
        u[0] = static_cast<char>(0xC0 | (cp >> 6));
        u[1] = static_cast<char>(0x80 | (cp & 0x3F));
        n = 2;
    } else if (cp < 0x10000) {
        u[0] = static_cast<char>(0xE0 | (cp >> 12));
        u[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        u[2] = static_cast<char>(0x80 | (cp & 0x3F));
        n = 3;
    } else {
        u[0] = static_cast<char>(0xF0 | (cp >> 18));
        u[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        u[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        u[3] = static_cast<char>(0x80 | (cp & 0x3F));
        n = 4;
    }
    if (n > room) return 0;
    b.Put(u, n);
    return n;
}

// 16-bit text into the 8-bit form: at most `limit` bytes.
void PutOtherText(Builder<char>& b, const unsigned short* p, std::size_t limit) {
    UINT cp = GetACP();
    bool utf8 = cp == CP_UTF8;
    std::size_t written = 0;
    for (std::size_t i = 0; written < limit && !b.Failed();) {
        unsigned u = p[i];
        if (!u) break;
        if (u < 0x80) {
            b.Put(static_cast<char>(u));
            ++written;
            ++i;
            continue;
        }
        std::size_t units = 1;
        unsigned code = u;
        if (u >= 0xD800 && u <= 0xDFFF) {
            code = kReplacement;
            // The unit after a high surrogate is read only when a character
            // of at least 2 bytes can still be written.
            if (u <= 0xDBFF && limit - written >= 2) {
                unsigned v = p[i + 1];
                if (v >= 0xDC00 && v <= 0xDFFF) {
                    code = 0x10000 + ((u - 0xD800) << 10) + (v - 0xDC00);
                    units = 2;
                }
            }
        }
        std::size_t put;
        if (utf8) {
            put = PutUtf8(b, code, limit - written);
        } else {
            char bytes[16];
            WCHAR w[2] = {static_cast<WCHAR>(u), static_cast<WCHAR>(units == 2 ? p[i + 1] : 0)};
            int n = WideCharToMultiByte(cp, 0, w, static_cast<int>(units), bytes, static_cast<int>(sizeof bytes),
                                        nullptr, nullptr);
            if (n <= 0) {
                bytes[0] = '?';
                n = 1;
            }
            put = static_cast<std::size_t>(n) <= limit - written ? static_cast<std::size_t>(n) : 0;
            b.Put(bytes, put);
        }
        if (!put) break;  // the character does not fit whole
        written += put;
        i += units;
    }
}

// 8-bit text into the 16-bit form: at most `limit` units.
void PutOtherText(Builder<unsigned short>& b, const char* text, std::size_t limit) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    UINT cp = GetACP();
    bool utf8 = cp == CP_UTF8;
    std::size_t written = 0;
    for (std::size_t i = 0; written < limit && !b.Failed();) {
        unsigned c = p[i];
        if (!c) break;
        if (c < 0x80) {
            b.Put(static_cast<unsigned short>(c));
            ++written;
            ++i;
            continue;
        }
        unsigned short w[4];
        std::size_t units, bytes;
        if (utf8) {
            // Each continuation byte is read only once the bytes before it
            // are a valid start; an ill-formed sequence gives one U+FFFD.
            unsigned need, code, lo = 0x80, hi = 0xBF;
            // clang-format off
            if (c >= 0xC2 && c <= 0xDF) { need = 1; code = c & 0x1F; }
            else if (c == 0xE0) { need = 2; code = 0; lo = 0xA0; }
            else if (c >= 0xE1 && c <= 0xEC) { need = 2; code = c & 0x0F; }
            else if (c == 0xED) { need = 2; code = 0xD; hi = 0x9F; }
            else if (c >= 0xEE && c <= 0xEF) { need = 2; code = c & 0x0F; }
            else if (c == 0xF0) { need = 3; code = 0; lo = 0x90; }
            else if (c >= 0xF1 && c <= 0xF3) { need = 3; code = c & 0x07; }
            else if (c == 0xF4) { need = 3; code = 4; hi = 0x8F; }
            else { need = 0; code = kReplacement; }
            // clang-format on
            bytes = 1;
            for (unsigned k = 0; k < need; ++k) {
                unsigned x = p[i + bytes];
                if (x < (k == 0 ? lo : 0x80) || x > (k == 0 ? hi : 0xBF)) {
                    code = kReplacement;
                    break;
                }
                code = (code << 6) | (x & 0x3F);
                ++bytes;
            }
            if (code >= 0x10000) {
                w[0] = static_cast<unsigned short>(0xD800 + ((code - 0x10000) >> 10));
                w[1] = static_cast<unsigned short>(0xDC00 + ((code - 0x10000) & 0x3FF));
                units = 2;
            } else {
                w[0] = static_cast<unsigned short>(code);
                units = 1;
            }
        } else {
            bytes = IsDBCSLeadByteEx(cp, static_cast<BYTE>(c)) && p[i + 1] ? 2 : 1;
            int n = MultiByteToWideChar(cp, 0, text + i, static_cast<int>(bytes), reinterpret_cast<WCHAR*>(w), 4);
            if (n <= 0) {
                w[0] = static_cast<unsigned short>(kReplacement);
                n = 1;
            }
            units = static_cast<std::size_t>(n);
        }
        if (units > limit - written) break;  // a surrogate pair that does not fit whole
        b.Put(w, units);
        written += units;
        i += bytes;
    }
}

template <class T>
std::size_t Length(const T* p, std::size_t limit) {
    std::size_t n = 0;
    while (n < limit && p[n]) ++n;
    return n;
}

template <class Ch>
const Ch* NullText() {
    static const Ch kNull[] = {'(', 'n', 'u', 'l', 'l', ')', 0};
    return kNull;
}

// A text in the string's own width: the precision counts code units. The
// text is measured no further than the precision, nor further than one
// character past what the string can still take (and is then refused).
template <class Ch>
void PutSame(Builder<Ch>& b, const Ch* p, const Conversion& s) {
    if (!p) p = NullText<Ch>();
    std::size_t start = b.Length();
    std::size_t limit = b.Room() < s.precision ? b.Room() + 1 : s.precision;
    b.Put(p, Length(p, limit));
    b.Align(start, s);
}

template <class Ch, class Other>
void PutOther(Builder<Ch>& b, const Other* p, const Conversion& s) {
    std::size_t start = b.Length();
    if (p) PutOtherText(b, p, s.precision);
    else b.Put(NullText<Ch>(), Length(NullText<Ch>(), s.precision));
    b.Align(start, s);
}

// The conversions that format an argument.
template <class Ch>
bool TakesArgument(Ch c) {
    static const char kArgs[] = "diuoxXpcCsSeEfFgGaA";
    for (const char* k = kArgs; *k; ++k)
        if (c == static_cast<Ch>(*k)) return true;
    return false;
}

template <class Ch>
bool IsDigit(Ch c) {
    return c >= '0' && c <= '9';
}

// Reads a decimal number of the format; false when it exceeds INT_MAX.
template <class Ch>
bool ReadNumber(const Ch*& p, std::size_t& value) {
    unsigned long long v = 0;
    for (; IsDigit(*p); ++p) {
        v = v * 10 + static_cast<unsigned>(*p - '0');
        if (v > INT_MAX) {
            while (IsDigit(*p)) ++p;
            return false;
        }
    }
    value = static_cast<std::size_t>(v);
    return true;
}

}  // namespace

template <class Ch>
int FormatInto(BasicString<Ch>& out, const Ch* pszFormat, std::va_list* ap, int nMaxLength) {
    Builder<Ch> b(nMaxLength >= 0 && nMaxLength < kMaxLength<Ch> ? static_cast<std::size_t>(nMaxLength)
                                                                 : static_cast<std::size_t>(kMaxLength<Ch>));
    const Ch* p = pszFormat;
    while (p && *p && !b.Failed()) {
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
        bool fits = true;
        if (*p == '*') {
            int w = va_arg(*ap, int);
            if (w < 0) {
                // A negative width aligns left; -INT_MIN is beyond INT_MAX.
                s.left = true;
                if (w == INT_MIN) fits = false;
                else w = -w;
            }
            s.width = static_cast<std::size_t>(w < 0 ? 0 : w);
            ++p;
        } else {
            fits = ReadNumber(p, s.width);
        }
        if (*p == '.') {
            ++p;
            s.precision = 0;
            if (*p == '*') {
                int n = va_arg(*ap, int);
                s.precision = n < 0 ? kNoPrecision : static_cast<std::size_t>(n);  // negative: none
                ++p;
            } else if (!ReadNumber(p, s.precision)) {
                fits = false;
            }
        }
        if (!fits) {
            b.Fail();
            break;
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
            case 'w':
                s.wide = true;
                ++p;
                break;
            case 'L':
                s.length = Conversion::kLD;
                ++p;
                break;
            case 'q':
            case 'j':
                s.length = Conversion::kLL;
                ++p;
                break;
            case 'z':
            case 't':
                s.length = Conversion::kSize;
                ++p;
                break;
            case 'I':
                // p[2] is read only when p[1] is not the end.
                if (p[1] == '6' && p[2] == '4') {
                    s.length = Conversion::kLL;
                    p += 3;
                } else if (p[1] == '3' && p[2] == '2') {
                    s.length = Conversion::kNone;
                    p += 3;
                } else {
                    s.length = Conversion::kSize;
                    ++p;
                }
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
        // A conversion with an argument writes at least its width: one that
        // cannot fit fails before its argument is read.
        if (s.width > b.Room() && TakesArgument(conv)) {
            b.Fail();
            break;
        }
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
            unsigned long long mag =
                v < 0 ? 0ULL - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
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
            bool other = conv == 'C' ? !(sizeof(Ch) == 1 ? s.narrow : s.wide) : (sizeof(Ch) == 1 ? s.wide : s.narrow);
            std::size_t at = b.Length();
            if (!other || v == 0) {
                b.Put(static_cast<Ch>(v));
            } else if constexpr (sizeof(Ch) == 1) {
                unsigned short one[2] = {static_cast<unsigned short>(v), 0};
                PutOtherText(b, one, kNoPrecision);
            } else {
                char one[2] = {static_cast<char>(v), 0};
                PutOtherText(b, one, kNoPrecision);
            }
            b.Align(at, s);
            break;
        }
        case 's':
        case 'S': {
            bool other = conv == 'S' ? !(sizeof(Ch) == 1 ? s.narrow : s.wide) : (sizeof(Ch) == 1 ? s.wide : s.narrow);
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
    return b.Finish(out);
}

template int FormatInto<char>(BasicString<char>&, const char*, std::va_list*, int);
template int FormatInto<unsigned short>(BasicString<unsigned short>&, const unsigned short*, std::va_list*, int);

}  // namespace detail
}  // namespace vorlix

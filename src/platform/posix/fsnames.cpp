// Name conversion, pattern matching and attribute mapping shared by the
// POSIX file-system services (see fsnames.h).
#include "fsnames.h"

#include "kernel.h"

#include <cerrno>
#include <climits>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace vorlix {
namespace win {
namespace posix {

namespace {

void PutUtf8(std::string& out, unsigned cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// The length of the valid UTF-8 sequence at p (at most n bytes) and its code
// point, or 0 when the bytes there are not one.
std::size_t DecodeOne(const unsigned char* p, std::size_t n, unsigned& cp) {
    unsigned b = p[0];
    std::size_t len;
    unsigned min;
    if (b < 0x80) {
        cp = b;
        return 1;
    } else if (b >= 0xC2 && b <= 0xDF) {
        len = 2, min = 0x80, cp = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
        len = 3, min = 0x800, cp = b & 0x0F;
    } else if (b >= 0xF0 && b <= 0xF4) {
        len = 4, min = 0x10000, cp = b & 0x07;
    } else {
        return 0;
    }
    if (len > n) return 0;
    for (std::size_t i = 1; i < len; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return len;
}

inline unsigned char Fold(unsigned char c) { return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c; }

// One character of a name for "?": a UTF-8 lead byte with its continuation
// bytes, or a single stray byte.
inline std::size_t CharLength(const unsigned char* s, std::size_t i, std::size_t n) {
    std::size_t j = i + 1;
    if (s[i] >= 0xC0)
        while (j < n && (s[j] & 0xC0) == 0x80) ++j;
    return j - i;
}

bool Glob(const unsigned char* p, std::size_t np, const unsigned char* s, std::size_t ns) {
    std::size_t pi = 0, si = 0;
    // The last "*" seen and the name position it is tried against; on a
    // mismatch the star takes one more character and matching resumes.
    std::size_t starP = SIZE_MAX, starS = 0;
    while (si < ns) {
        if (pi < np && p[pi] == '*') {
            starP = pi++;
            starS = si;
        } else if (pi < np && p[pi] == '?') {
            ++pi;
            si += CharLength(s, si, ns);
        } else if (pi < np && Fold(p[pi]) == Fold(s[si])) {
            ++pi;
            ++si;
        } else if (starP != SIZE_MAX) {
            pi = starP + 1;
            starS += CharLength(s, starS, ns);
            si = starS;
        } else {
            return false;
        }
    }
    while (pi < np && p[pi] == '*') ++pi;
    return pi == np;
}

}  // namespace

std::string WideToBytes(const WCHAR* text) {
    std::size_t n = 0;
    if (text)
        while (text[n]) ++n;
    return WideToBytes(text, n);
}

std::string WideToBytes(const WCHAR* text, std::size_t length) {
    std::string out;
    if (!text) return out;
    out.reserve(length);
    for (std::size_t i = 0; i < length; ++i) {
        unsigned u = text[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            PutUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (text[i + 1] - 0xDC00u));
            ++i;
        } else if (u >= 0xDC80 && u <= 0xDCFF) {
            out += static_cast<char>(u - 0xDC00);  // a byte that was not UTF-8
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            PutUtf8(out, 0xFFFD);
        } else {
            PutUtf8(out, u);
        }
    }
    return out;
}

std::u16string BytesToWide(const char* text, std::size_t length) {
    std::u16string out;
    if (!text) return out;
    out.reserve(length);
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    std::size_t i = 0;
    while (i < length) {
        unsigned cp;
        std::size_t n = DecodeOne(p + i, length - i, cp);
        if (n == 0) {
            out += static_cast<char16_t>(0xDC00 + p[i]);
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
        i += n;
    }
    return out;
}

bool HasWildcards(const char* name, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i)
        if (name[i] == '*' || name[i] == '?') return true;
    return false;
}

bool MatchPattern(const char* pattern, std::size_t patternLength, const char* name, std::size_t nameLength) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(pattern);
    const unsigned char* s = reinterpret_cast<const unsigned char*>(name);
    if (patternLength >= 2 && p[patternLength - 2] == '.' && p[patternLength - 1] == '*' &&
        Glob(p, patternLength - 2, s, nameLength))
        return true;
    return Glob(p, patternLength, s, nameLength);
}

DWORD AttributesFromMode(unsigned mode, const char* name) {
    DWORD attrs = 0;
    if (S_ISDIR(mode)) attrs |= FILE_ATTRIBUTE_DIRECTORY;
    else if (S_ISREG(mode)) attrs |= FILE_ATTRIBUTE_ARCHIVE;
    else if (!S_ISLNK(mode)) attrs |= FILE_ATTRIBUTE_SYSTEM;  // FIFOs, sockets, devices
    if (!(mode & S_IWUSR)) attrs |= FILE_ATTRIBUTE_READONLY;
    if (name && name[0] == '.' && name[1] != '\0' && !(name[1] == '.' && name[2] == '\0'))
        attrs |= FILE_ATTRIBUTE_HIDDEN;
    return attrs ? attrs : FILE_ATTRIBUTE_NORMAL;
}

FILETIME FileTimeFromUnix(long long seconds, long nanoseconds) {
    // 369 years, 89 of them leap years, lie between 1601 and 1970.
    const long long kEpochDelta = 11644473600LL;
    FILETIME ft = {0, 0};
    if (seconds < -kEpochDelta || seconds > (LLONG_MAX / 10000000) - kEpochDelta) return ft;
    unsigned long long t = static_cast<unsigned long long>(seconds + kEpochDelta) * 10000000ULL +
                           static_cast<unsigned long long>(nanoseconds > 0 ? nanoseconds / 100 : 0);
    ft.dwLowDateTime = static_cast<DWORD>(t & 0xFFFFFFFFu);
    ft.dwHighDateTime = static_cast<DWORD>(t >> 32);
    return ft;
}

bool CurrentDirectory(std::string& out) {
    std::vector<char> buf(4096);
    for (;;) {
        if (::getcwd(buf.data(), buf.size())) {
            out.assign(buf.data());
            return true;
        }
        if (errno != ERANGE || buf.size() >= (1u << 20)) {
            SetLastErrorFromErrno();
            return false;
        }
        buf.resize(buf.size() * 2);
    }
}

}  // namespace posix
}  // namespace win
}  // namespace vorlix

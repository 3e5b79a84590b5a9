// Code-page conversion on POSIX: our own UTF-8 codec for code pages 0, 1
// and 65001, iconv for the others (949 is glibc's CP949). Units go straight
// into the caller's buffer, or are only counted for a size query; a
// conversion stops as soon as its result no longer fits (the buffer, or
// INT_MAX units), so no input, however long, makes it allocate.
#include "kernel.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include <iconv.h>

namespace vorlix {
namespace win {

namespace {

constexpr WCHAR kReplacement = 0xFFFD;

bool IsUtf8(UINT cp) { return cp == CP_ACP || cp == CP_OEMCP || cp == CP_UTF8; }

// Where converted units go: counted only (no buffer, for a size query), or
// written into the caller's buffer up to its size. Past the buffer, or past
// INT_MAX units (which no result can report), the sink is full and the
// conversion stops at once, however long the input.
template <class T>
class Sink {
public:
    Sink(T* out, std::size_t cap) : m_out(out), m_cap(out ? cap : static_cast<std::size_t>(INT_MAX)) {}
    bool Put(T v) {
        if (m_n >= m_cap) {
            m_full = true;
            return false;
        }
        if (m_out) m_out[m_n] = v;
        ++m_n;
        return true;
    }
    bool Full() const { return m_full; }
    int Count() const { return static_cast<int>(m_n); }

private:
    T* m_out;
    std::size_t m_cap;
    std::size_t m_n = 0;
    bool m_full = false;
};

enum Result { kDone, kIllFormed, kFull };

// Decodes UTF-8; every maximal ill-formed subsequence becomes one U+FFFD,
// or ends the conversion when bStrict is set.
Result DecodeUtf8(const unsigned char* s, std::size_t n, Sink<WCHAR>& out, bool bStrict) {
    std::size_t i = 0;
    while (i < n) {
        unsigned c = s[i];
        if (c < 0x80) {
            if (!out.Put(static_cast<WCHAR>(c))) return kFull;
            ++i;
            continue;
        }
        unsigned need, cp, lo = 0x80, hi = 0xBF;
        // clang-format off
        if (c >= 0xC2 && c <= 0xDF) { need = 1; cp = c & 0x1F; }
        else if (c == 0xE0) { need = 2; cp = 0; lo = 0xA0; }
        else if (c >= 0xE1 && c <= 0xEC) { need = 2; cp = c & 0x0F; }
        else if (c == 0xED) { need = 2; cp = 0xD; hi = 0x9F; }
        else if (c >= 0xEE && c <= 0xEF) { need = 2; cp = c & 0x0F; }
        else if (c == 0xF0) { need = 3; cp = 0; lo = 0x90; }
        else if (c >= 0xF1 && c <= 0xF3) { need = 3; cp = c & 0x07; }
        else if (c == 0xF4) { need = 3; cp = 4; hi = 0x8F; }
        // clang-format on
        else {
            if (bStrict) return kIllFormed;
            if (!out.Put(kReplacement)) return kFull;
            ++i;
            continue;
        }
        std::size_t j = i + 1;
        bool ok = true;
        for (unsigned k = 0; k < need; ++k, ++j) {
            unsigned b = j < n ? s[j] : 0;
            unsigned l = k == 0 ? lo : 0x80, h = k == 0 ? hi : 0xBF;
            if (j >= n || b < l || b > h) {
                ok = false;
                break;
            }
            cp = (cp << 6) | (b & 0x3F);
        }
        if (!ok) {
            if (bStrict) return kIllFormed;
            if (!out.Put(kReplacement)) return kFull;
            i = j;  // resume at the byte that broke the sequence
            continue;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            if (!out.Put(static_cast<WCHAR>(0xD800 + (cp >> 10))) ||
                !out.Put(static_cast<WCHAR>(0xDC00 + (cp & 0x3FF))))
                return kFull;
        } else if (!out.Put(static_cast<WCHAR>(cp))) {
            return kFull;
        }
        i = j;
    }
    return kDone;
}

// Encodes UTF-16 as UTF-8; unpaired surrogates become U+FFFD.
Result EncodeUtf8(const WCHAR* s, std::size_t n, Sink<char>& out) {
    for (std::size_t i = 0; i < n; ++i) {
        unsigned cp = s[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < n && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = kReplacement;
        }
        bool ok;
        if (cp < 0x80) {
            ok = out.Put(static_cast<char>(cp));
        } else if (cp < 0x800) {
            ok = out.Put(static_cast<char>(0xC0 | (cp >> 6))) && out.Put(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            ok = out.Put(static_cast<char>(0xE0 | (cp >> 12))) &&
                 out.Put(static_cast<char>(0x80 | ((cp >> 6) & 0x3F))) &&
                 out.Put(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            ok = out.Put(static_cast<char>(0xF0 | (cp >> 18))) &&
                 out.Put(static_cast<char>(0x80 | ((cp >> 12) & 0x3F))) &&
                 out.Put(static_cast<char>(0x80 | ((cp >> 6) & 0x3F))) &&
                 out.Put(static_cast<char>(0x80 | (cp & 0x3F)));
        }
        if (!ok) return kFull;
    }
    return kDone;
}

// iconv's name for a Windows code page, in buf.
const char* IconvName(UINT cp, char (&buf)[16]) {
    switch (cp) {
    case 20127: return "ASCII";
    case 20866: return "KOI8-R";
    case 21866: return "KOI8-U";
    case 28591: return "ISO-8859-1";
    case 28592: return "ISO-8859-2";
    case 28595: return "ISO-8859-5";
    case 28597: return "ISO-8859-7";
    case 28605: return "ISO-8859-15";
    case 50220: return "ISO-2022-JP";
    case 50225: return "ISO-2022-KR";
    case 51932: return "EUC-JP";
    case 51949: return "EUC-KR";
    case 52936: return "HZ";
    case 54936: return "GB18030";
    case 65000: return "UTF-7";
    default: std::snprintf(buf, sizeof buf, "CP%u", cp); return buf;
    }
}

// The 16-bit units in memory, as iconv names their encoding.
const char* NativeUtf16() {
    const unsigned short one = 1;
    return *reinterpret_cast<const unsigned char*>(&one) ? "UTF-16LE" : "UTF-16BE";
}

// A conversion descriptor, cached per thread and direction for the last
// code page used.
class IconvCache {
public:
    ~IconvCache() {
        for (Slot& s : m_slots)
            if (s.cd != reinterpret_cast<iconv_t>(-1)) iconv_close(s.cd);
    }
    iconv_t Get(UINT cp, bool toWide) {
        Slot& s = m_slots[toWide ? 0 : 1];
        if (s.cd != reinterpret_cast<iconv_t>(-1) && s.cp == cp) {
            iconv(s.cd, nullptr, nullptr, nullptr, nullptr);  // reset shift state
            return s.cd;
        }
        if (s.cd != reinterpret_cast<iconv_t>(-1)) iconv_close(s.cd);
        char buf[16];
        const char* name = IconvName(cp, buf);
        s.cd = toWide ? iconv_open(NativeUtf16(), name) : iconv_open(name, NativeUtf16());
        s.cp = cp;
        return s.cd;
    }

private:
    struct Slot {
        iconv_t cd = reinterpret_cast<iconv_t>(-1);
        UINT cp = 0;
    };
    Slot m_slots[2];
};

thread_local IconvCache t_iconv;

// Moves what iconv wrote into buf to the sink.
bool Drain(const WCHAR* buf, std::size_t bytes, Sink<WCHAR>& out) {
    for (std::size_t k = 0; k < bytes / sizeof(WCHAR); ++k)
        if (!out.Put(buf[k])) return false;
    return true;
}
bool Drain(const char* buf, std::size_t bytes, Sink<char>& out) {
    for (std::size_t k = 0; k < bytes; ++k)
        if (!out.Put(buf[k])) return false;
    return true;
}

Result IconvToWide(iconv_t cd, const char* s, std::size_t n, Sink<WCHAR>& out, bool bStrict) {
    char* in = const_cast<char*>(s);
    std::size_t inLeft = n;
    WCHAR buf[2048];
    while (inLeft > 0) {
        char* o = reinterpret_cast<char*>(buf);
        std::size_t oLeft = sizeof buf;
        std::size_t r = iconv(cd, &in, &inLeft, &o, &oLeft);
        int err = errno;
        if (!Drain(buf, sizeof buf - oLeft, out)) return kFull;
        if (r != static_cast<std::size_t>(-1) || err == E2BIG) continue;
        if (bStrict) return kIllFormed;
        if (!out.Put(kReplacement)) return kFull;  // EILSEQ or a sequence cut off at the end
        // Some converters report an ill-formed sequence at the end after
        // consuming it: nothing is left to skip then.
        if (err == EINVAL || inLeft == 0) break;
        ++in;
        --inLeft;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    // Flush any shift state.
    char* o = reinterpret_cast<char*>(buf);
    std::size_t oLeft = sizeof buf;
    iconv(cd, nullptr, nullptr, &o, &oLeft);
    return Drain(buf, sizeof buf - oLeft, out) ? kDone : kFull;
}

Result IconvFromWide(iconv_t cd, const WCHAR* s, std::size_t n, Sink<char>& out, const char* defChar,
                     bool& bUsedDefault) {
    char* in = reinterpret_cast<char*>(const_cast<WCHAR*>(s));
    std::size_t inLeft = n * sizeof(WCHAR);
    char buf[4096];
    while (inLeft > 0) {
        char* o = buf;
        std::size_t oLeft = sizeof buf;
        std::size_t r = iconv(cd, &in, &inLeft, &o, &oLeft);
        int err = errno;
        if (!Drain(buf, sizeof buf - oLeft, out)) return kFull;
        if (r != static_cast<std::size_t>(-1) || err == E2BIG) continue;
        // A character without a form here, or a broken surrogate pair.
        for (const char* d = defChar ? defChar : "?"; *d; ++d)
            if (!out.Put(*d)) return kFull;
        bUsedDefault = true;
        std::size_t skip = sizeof(WCHAR);
        if (inLeft >= 2 * sizeof(WCHAR)) {
            WCHAR u, v;
            std::memcpy(&u, in, sizeof u);
            std::memcpy(&v, in + sizeof u, sizeof v);
            if (u >= 0xD800 && u <= 0xDBFF && v >= 0xDC00 && v <= 0xDFFF) skip = 2 * sizeof(WCHAR);
        }
        if (skip > inLeft) skip = inLeft;
        in += skip;
        inLeft -= skip;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    char* o = buf;
    std::size_t oLeft = sizeof buf;
    iconv(cd, nullptr, nullptr, &o, &oLeft);
    return Drain(buf, sizeof buf - oLeft, out) ? kDone : kFull;
}

// The result of a conversion into a sink, with the Windows conventions.
int Finish(Result r, const Sink<WCHAR>& out) {
    if (r == kIllFormed) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
    }
    if (r == kFull) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    return out.Count();
}

}  // namespace

namespace posix {
std::string Utf16ToUtf8(const WCHAR* text, std::size_t length) {
    std::string out;
    if (!text) return out;
    Sink<char> count(nullptr, 0);
    if (EncodeUtf8(text, length, count) != kDone) return out;
    out.resize(static_cast<std::size_t>(count.Count()));
    Sink<char> write(&out[0], out.size());
    EncodeUtf8(text, length, write);
    return out;
}
}  // namespace posix

int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, const char* lpMultiByteStr, int cbMultiByte, WCHAR* lpWideCharStr,
                        int cchWideChar) {
    if (!lpMultiByteStr || cbMultiByte == 0 || cbMultiByte < -1 || cchWideChar < 0 ||
        (cchWideChar > 0 && !lpWideCharStr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::size_t n = cbMultiByte == -1 ? std::strlen(lpMultiByteStr) + 1 : static_cast<std::size_t>(cbMultiByte);
    bool strict = (dwFlags & MB_ERR_INVALID_CHARS) != 0;
    Sink<WCHAR> out(cchWideChar ? lpWideCharStr : nullptr, static_cast<std::size_t>(cchWideChar));
    if (IsUtf8(CodePage))
        return Finish(DecodeUtf8(reinterpret_cast<const unsigned char*>(lpMultiByteStr), n, out, strict), out);
    iconv_t cd = t_iconv.Get(CodePage, true);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return Finish(IconvToWide(cd, lpMultiByteStr, n, out, strict), out);
}

int WideCharToMultiByte(UINT CodePage, DWORD, const WCHAR* lpWideCharStr, int cchWideChar, char* lpMultiByteStr,
                        int cbMultiByte, const char* lpDefaultChar, BOOL* lpUsedDefaultChar) {
    if (!lpWideCharStr || cchWideChar == 0 || cchWideChar < -1 || cbMultiByte < 0 ||
        (cbMultiByte > 0 && !lpMultiByteStr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::size_t n;
    if (cchWideChar == -1) {
        n = 0;
        while (lpWideCharStr[n]) ++n;
        ++n;
    } else {
        n = static_cast<std::size_t>(cchWideChar);
    }
    Sink<char> out(cbMultiByte ? lpMultiByteStr : nullptr, static_cast<std::size_t>(cbMultiByte));
    bool usedDefault = false;
    Result r;
    if (IsUtf8(CodePage)) {
        if (lpDefaultChar || lpUsedDefaultChar) {  // as on Windows: not allowed with UTF-8
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        r = EncodeUtf8(lpWideCharStr, n, out);
    } else {
        iconv_t cd = t_iconv.Get(CodePage, false);
        if (cd == reinterpret_cast<iconv_t>(-1)) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        r = IconvFromWide(cd, lpWideCharStr, n, out, lpDefaultChar, usedDefault);
    }
    if (lpUsedDefaultChar) *lpUsedDefaultChar = usedDefault ? TRUE : FALSE;
    if (r == kFull) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    return out.Count();
}

UINT GetACP() { return CP_UTF8; }

BOOL IsDBCSLeadByteEx(UINT CodePage, BYTE TestChar) {
    unsigned b = TestChar;
    switch (CodePage) {
    case 932: return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
    case 936:
    case 949:
    case 950: return b >= 0x81 && b <= 0xFE;
    default: return FALSE;
    }
}

}  // namespace win
}  // namespace vorlix

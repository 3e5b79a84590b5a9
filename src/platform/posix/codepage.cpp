// Code-page conversion on POSIX: our own UTF-8 codec for code pages 0, 1
// and 65001, iconv for the others (949 is glibc's CP949).
#include "kernel.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <vector>

#include <iconv.h>

namespace vorlix {
namespace win {

namespace {

constexpr WCHAR kReplacement = 0xFFFD;

bool IsUtf8(UINT cp) { return cp == CP_ACP || cp == CP_OEMCP || cp == CP_UTF8; }

// Decodes UTF-8; every maximal ill-formed subsequence becomes one U+FFFD.
// Returns false at the first ill-formed sequence when bStrict is set.
bool DecodeUtf8(const unsigned char* s, std::size_t n, std::vector<WCHAR>& out, bool bStrict) {
    std::size_t i = 0;
    while (i < n) {
        unsigned c = s[i];
        if (c < 0x80) {
            out.push_back(static_cast<WCHAR>(c));
            ++i;
            continue;
        }
        unsigned need, cp, lo = 0x80, hi = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) { need = 1; cp = c & 0x1F; }
        else if (c == 0xE0) { need = 2; cp = 0; lo = 0xA0; }
        else if (c >= 0xE1 && c <= 0xEC) { need = 2; cp = c & 0x0F; }
        else if (c == 0xED) { need = 2; cp = 0xD; hi = 0x9F; }
        else if (c >= 0xEE && c <= 0xEF) { need = 2; cp = c & 0x0F; }
        else if (c == 0xF0) { need = 3; cp = 0; lo = 0x90; }
        else if (c >= 0xF1 && c <= 0xF3) { need = 3; cp = c & 0x07; }
        else if (c == 0xF4) { need = 3; cp = 4; hi = 0x8F; }
        else {
            if (bStrict) return false;
            out.push_back(kReplacement);
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
            if (bStrict) return false;
            out.push_back(kReplacement);
            i = j;  // resume at the byte that broke the sequence
            continue;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<WCHAR>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<WCHAR>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<WCHAR>(cp));
        }
        i = j;
    }
    return true;
}

void EncodeUtf8(const WCHAR* s, std::size_t n, std::string& out) {
    for (std::size_t i = 0; i < n; ++i) {
        unsigned cp = s[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < n && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = kReplacement;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
}

// iconv's name for a Windows code page.
std::string IconvName(UINT cp) {
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
    default: {
        char name[16];
        std::snprintf(name, sizeof name, "CP%u", cp);
        return name;
    }
    }
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
        std::string name = IconvName(cp);
        s.cd = toWide ? iconv_open("UTF-16LE", name.c_str()) : iconv_open(name.c_str(), "UTF-16LE");
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

bool IconvToWide(UINT cp, const char* s, std::size_t n, std::vector<WCHAR>& out, bool bStrict,
                 bool& bKnown) {
    iconv_t cd = t_iconv.Get(cp, true);
    bKnown = cd != reinterpret_cast<iconv_t>(-1);
    if (!bKnown) return false;
    char* in = const_cast<char*>(s);
    std::size_t inLeft = n;
    unsigned char buf[4096];
    while (inLeft > 0) {
        char* o = reinterpret_cast<char*>(buf);
        std::size_t oLeft = sizeof buf;
        std::size_t r = iconv(cd, &in, &inLeft, &o, &oLeft);
        std::size_t produced = sizeof buf - oLeft;
        for (std::size_t k = 0; k + 1 < produced; k += 2)
            out.push_back(static_cast<WCHAR>(buf[k] | (buf[k + 1] << 8)));
        if (r != static_cast<std::size_t>(-1)) continue;
        if (errno == E2BIG) continue;
        if (bStrict) return false;
        out.push_back(kReplacement);  // EILSEQ or a sequence cut off at the end
        // Some converters report an ill-formed sequence at the end after
        // consuming it: nothing is left to skip then.
        if (errno == EINVAL || inLeft == 0) break;
        ++in;
        --inLeft;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    // Flush any shift state.
    char* o = reinterpret_cast<char*>(buf);
    std::size_t oLeft = sizeof buf;
    iconv(cd, nullptr, nullptr, &o, &oLeft);
    std::size_t produced = sizeof buf - oLeft;
    for (std::size_t k = 0; k + 1 < produced; k += 2)
        out.push_back(static_cast<WCHAR>(buf[k] | (buf[k + 1] << 8)));
    return true;
}

bool IconvFromWide(UINT cp, const WCHAR* s, std::size_t n, std::string& out, const char* defChar,
                   bool& bUsedDefault) {
    iconv_t cd = t_iconv.Get(cp, false);
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    std::vector<unsigned char> le(n * 2);
    for (std::size_t i = 0; i < n; ++i) {
        le[2 * i] = static_cast<unsigned char>(s[i] & 0xFF);
        le[2 * i + 1] = static_cast<unsigned char>(s[i] >> 8);
    }
    char* in = reinterpret_cast<char*>(le.data());
    std::size_t inLeft = le.size();
    char buf[4096];
    while (inLeft > 0) {
        char* o = buf;
        std::size_t oLeft = sizeof buf;
        std::size_t r = iconv(cd, &in, &inLeft, &o, &oLeft);
        out.append(buf, sizeof buf - oLeft);
        if (r != static_cast<std::size_t>(-1) || errno == E2BIG) continue;
        // A character without a form here, or a broken surrogate pair.
        out.append(defChar ? defChar : "?");
        bUsedDefault = true;
        std::size_t skip = 2;
        if (inLeft >= 4) {
            unsigned u = static_cast<unsigned char>(in[0]) | (static_cast<unsigned char>(in[1]) << 8);
            unsigned v = static_cast<unsigned char>(in[2]) | (static_cast<unsigned char>(in[3]) << 8);
            if (u >= 0xD800 && u <= 0xDBFF && v >= 0xDC00 && v <= 0xDFFF) skip = 4;
        }
        if (skip > inLeft) skip = inLeft;
        in += skip;
        inLeft -= skip;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    char* o = buf;
    std::size_t oLeft = sizeof buf;
    iconv(cd, nullptr, nullptr, &o, &oLeft);
    out.append(buf, sizeof buf - oLeft);
    return true;
}

}  // namespace

namespace posix {
std::string Utf16ToUtf8(const WCHAR* text, std::size_t length) {
    std::string out;
    if (text) EncodeUtf8(text, length, out);
    return out;
}
}  // namespace posix

int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, const char* lpMultiByteStr, int cbMultiByte,
                        WCHAR* lpWideCharStr, int cchWideChar) {
    if (!lpMultiByteStr || cbMultiByte == 0 || cbMultiByte < -1 || cchWideChar < 0 ||
        (cchWideChar > 0 && !lpWideCharStr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::size_t n = cbMultiByte == -1 ? std::strlen(lpMultiByteStr) + 1 : static_cast<std::size_t>(cbMultiByte);
    bool strict = (dwFlags & MB_ERR_INVALID_CHARS) != 0;
    std::vector<WCHAR> out;
    out.reserve(n);
    bool ok;
    if (IsUtf8(CodePage)) {
        ok = DecodeUtf8(reinterpret_cast<const unsigned char*>(lpMultiByteStr), n, out, strict);
    } else {
        bool known = false;
        ok = IconvToWide(CodePage, lpMultiByteStr, n, out, strict, known);
        if (!known) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
    }
    if (!ok) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
    }
    if (out.size() > static_cast<std::size_t>(INT_MAX)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    int count = static_cast<int>(out.size());
    if (cchWideChar == 0) return count;
    if (count > cchWideChar) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (count) std::memcpy(lpWideCharStr, out.data(), out.size() * sizeof(WCHAR));
    return count;
}

int WideCharToMultiByte(UINT CodePage, DWORD, const WCHAR* lpWideCharStr, int cchWideChar,
                        char* lpMultiByteStr, int cbMultiByte, const char* lpDefaultChar,
                        BOOL* lpUsedDefaultChar) {
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
    std::string out;
    bool usedDefault = false;
    if (IsUtf8(CodePage)) {
        if (lpDefaultChar || lpUsedDefaultChar) {  // as on Windows: not allowed with UTF-8
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        out.reserve(n * 3);
        EncodeUtf8(lpWideCharStr, n, out);
    } else if (!IconvFromWide(CodePage, lpWideCharStr, n, out, lpDefaultChar, usedDefault)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (lpUsedDefaultChar) *lpUsedDefaultChar = usedDefault ? TRUE : FALSE;
    if (out.size() > static_cast<std::size_t>(INT_MAX)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    int count = static_cast<int>(out.size());
    if (cbMultiByte == 0) return count;
    if (count > cbMultiByte) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (count) std::memcpy(lpMultiByteStr, out.data(), out.size());
    return count;
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

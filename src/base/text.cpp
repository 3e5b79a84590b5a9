// Token, path and number primitives, written once for both widths.
#include <vorlix/base/objcore.h>
#include <vorlix/base/text.h>

#include "length.h"
#include "token_scan.h"

#include <climits>
#include <cstdint>
#include <cstring>

namespace vorlix {
namespace detail {
namespace {

// The item at pos: the position after it, its start and its separator
// index, or -1. nLength -1 reads up to the NUL, otherwise at most nLength
// characters (a NUL still ends the text).
template <class Ch>
long TokenAt(const Ch* text, long pos, const SepSet<Ch>& seps, int& index, int nLength, int nOpt, long& start) {
    index = -1;
    if (!text || pos < 0 || (nLength >= 0 && pos > nLength)) return -1;
    long len = nLength < 0 ? LONG_MAX : nLength;
    return ScanToken(text, pos, len, seps, (nOpt & 2) != 0, start, index);
}

// The item copied into tok; an item longer than a string can hold is no
// item (-1, and tok empty).
template <class Ch>
long GetTokenOpt(const Ch* text, long pos, BasicString<Ch>& tok, const SepSet<Ch>& seps, int& index, int len, int opt) {
    long start = 0;
    long end = TokenAt(text, pos, seps, index, len, opt, start);
    int n = end < 0 ? -1 : CheckedLength<Ch>(end - start);
    if (n < 0) {
        ClearKeepingBuffer(tok);
        index = -1;
        return -1;
    }
    tok.SetString(text + start, n);
    return end;
}

template <class Ch>
int GetSplitToken(const Ch* text, long pos, const Ch* seps, BasicStringArray<Ch>& out) {
    out.RemoveAll();
    if (!text || pos < 0) return 0;
    static const Ch kBlanks[] = {' ', '\t', 0};
    SepSet<Ch> set(seps);
    BasicString<Ch> tok;
    int index;
    bool bAfterWord = false;
    while ((pos = GetTokenOpt(text, pos, tok, set, index, -1, 3)) >= 0) {
        if (index < 0) {
            tok.TrimRight(kBlanks);
            out.Add(tok);
            bAfterWord = true;
        } else {
            if (!bAfterWord) out.Add(BasicString<Ch>());
            bAfterWord = false;
        }
    }
    return out.GetSize();
}

template <class Ch>
inline bool IsPathSep(Ch c) {
    return c == '/' || c == '\\';
}

template <class Ch>
void GetPathPart(const Ch* path, BasicString<Ch>& out, int part) {
    out.Empty();
    if (!path) return;
    int n = StrLen(path);
    int drive = 0;
#if defined(_WIN32)
    if (n >= 2 && path[1] == ':' && ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')))
        drive = 2;
#endif
    int lastSep = -1;
    for (int i = n - 1; i >= drive; --i)
        if (IsPathSep(path[i])) {
            lastSep = i;
            break;
        }
    int nameStart = lastSep >= 0 ? lastSep + 1 : drive;
    int dot = -1;
    for (int i = n - 1; i >= nameStart; --i)
        if (path[i] == '.') {
            dot = i;
            break;
        }
    int extStart = dot >= 0 ? dot : n;
    if (part & 1) out.Append(path, drive);
    if (part & 2) out.Append(path + drive, nameStart - drive);
    if (part & 4) out.Append(path + nameStart, extStart - nameStart);
    if (part & 8) out.Append(path + extStart, n - extStart);
}

template <class Ch>
int FindAsc(const Ch* text, Ch ch, int bFirst) {
    if (!text) return -1;
    int last = -1;
    for (int i = 0; text[i]; ++i)
        if (text[i] == ch) {
            if (bFirst) return i;
            last = i;
        }
    return last;
}

template <class Ch>
long AtoL(const Ch* s) {
    if (!s) return 0;
    while (*s == ' ' || (*s >= 9 && *s <= 13)) ++s;
    bool neg = false;
    if (*s == '+' || *s == '-') neg = (*s++ == '-');
    unsigned long limit = neg ? static_cast<unsigned long>(LONG_MAX) + 1 : static_cast<unsigned long>(LONG_MAX);
    unsigned long v = 0;
    for (; *s >= '0' && *s <= '9'; ++s) {
        unsigned d = static_cast<unsigned>(*s - '0');
        v = (v > (limit - d) / 10) ? limit : v * 10 + d;
    }
    if (!neg) return static_cast<long>(v);
    return v == static_cast<unsigned long>(LONG_MAX) + 1 ? LONG_MIN : -static_cast<long>(v);
}

}  // namespace
}  // namespace detail
}  // namespace vorlix

namespace d = vorlix::detail;

long Byte_GetTokenOpt(const char* pszText, long lPos, MString& strToken, const char* pszSeps, int& nIndex, int nLength,
                      int nOpt) {
    return d::GetTokenOpt(pszText, lPos, strToken, d::SepSet<char>(pszSeps), nIndex, nLength, nOpt);
}
long Uni_GetTokenOpt(const unsigned short* pszText, long lPos, UString& strToken, const unsigned short* pszSeps,
                     int& nIndex, int nLength, int nOpt) {
    return d::GetTokenOpt(pszText, lPos, strToken, d::SepSet<unsigned short>(pszSeps), nIndex, nLength, nOpt);
}

int Byte_GetSplitToken(const char* pszText, long lPos, const char* pszSeps, MStringArray& aryOut) {
    return d::GetSplitToken(pszText, lPos, pszSeps, aryOut);
}
int Uni_GetSplitToken(const unsigned short* pszText, long lPos, const unsigned short* pszSeps, UStringArray& aryOut) {
    return d::GetSplitToken(pszText, lPos, pszSeps, aryOut);
}

void Byte_GetPathPart(const char* pszPath, MString& strOut, int nPart) { d::GetPathPart(pszPath, strOut, nPart); }
void Uni_GetPathPart(const unsigned short* pszPath, UString& strOut, int nPart) {
    d::GetPathPart(pszPath, strOut, nPart);
}

int Byte_FindAsc(const char* pszText, char ch, int bFirst) { return d::FindAsc(pszText, ch, bFirst); }
int Uni_FindAsc(const unsigned short* pszText, unsigned short ch, int bFirst) {
    return d::FindAsc(pszText, ch, bFirst);
}

long Byte_AtoL(const char* pszText) { return d::AtoL(pszText); }
long Uni_AtoL(const unsigned short* pszText) { return d::AtoL(pszText); }

int Byte_strlen(const char* pszText) { return d::StrLen(pszText); }
int Uni_strlen(const unsigned short* pszText) { return d::StrLen(pszText); }

int API_IsLittleEndian() {
    const unsigned short one = 1;
    unsigned char first;
    std::memcpy(&first, &one, 1);
    return first;
}

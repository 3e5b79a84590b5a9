// Code-page conversion of the strings (UString::FromMBC, MString::FromUnicode).
//
// The text is measured with a bound, and both the text and the result must
// fit a string: a conversion that would be longer than the longest string
// (or a text longer than any string) fails with 0 and an empty string, as
// an unknown code page does, rather than keeping the old text or wrapping.
#include <vorlix/base/objcore.h>
#include <vorlix/base/string.h>
#include <vorlix/win.h>

#include "length.h"

namespace vorlix {
namespace detail {

using namespace vorlix::win;

namespace {

// The length of the text to convert: the given one, or the text up to its
// NUL; -1 when it is longer than a string can hold (or a length below -1).
template <class Ch>
int SourceLength(const Ch* text, int length) {
    if (length < -1) return -1;
    if (length == -1) length = StrLen(text);
    return length <= kMaxLength<Ch> ? length : -1;
}

template <class Ch>
int Fail(BasicString<Ch>& out) {
    PrjWarningMsg(0);
    out.Empty();
    return 0;
}

}  // namespace

int MbcToUnicode(BasicString<unsigned short>& out, unsigned int codePage, const char* text, int length) {
    length = text ? SourceLength(text, length) : 0;
    if (length < 0) return Fail(out);
    if (length == 0) {
        out.Empty();
        return 1;
    }
    // Every byte gives at most one code unit in the code pages Windows
    // converts, so one pass into a buffer of that size is enough, when a
    // string can hold that many; otherwise the size is asked first.
    int m = length;
    if (m > kMaxLength<unsigned short>) {
        m = MultiByteToWideChar(codePage, 0, text, length, nullptr, 0);
        if (m <= 0 || m > kMaxLength<unsigned short>) return Fail(out);
    }
    BasicString<unsigned short> result;
    unsigned short* p = result.GetBuffer(m);
    if (!p) return Fail(out);
    int n = MultiByteToWideChar(codePage, 0, text, length, reinterpret_cast<WCHAR*>(p), m);
    if (n == 0 && GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
        m = MultiByteToWideChar(codePage, 0, text, length, nullptr, 0);
        p = m > 0 && m <= kMaxLength<unsigned short> ? result.GetBuffer(m) : nullptr;
        n = p ? MultiByteToWideChar(codePage, 0, text, length, reinterpret_cast<WCHAR*>(p), m) : 0;
    }
    result.ReleaseBuffer(n > 0 ? n : 0);
    out.Swap(result);
    return n > 0 ? 1 : 0;
}

int UnicodeToMbc(BasicString<char>& out, unsigned int codePage, const unsigned short* text, int length) {
    length = text ? SourceLength(text, length) : 0;
    if (length < 0) return Fail(out);
    if (length == 0) {
        out.Empty();
        return 1;
    }
    const WCHAR* w = reinterpret_cast<const WCHAR*>(text);
    int m = WideCharToMultiByte(codePage, 0, w, length, nullptr, 0, nullptr, nullptr);
    if (m > kMaxLength<char> || (m == 0 && GetLastError() == ERROR_INSUFFICIENT_BUFFER)) return Fail(out);
    BasicString<char> result;
    int n = 0;
    if (m > 0) {
        char* p = result.GetBuffer(m);
        if (!p) return Fail(out);
        n = WideCharToMultiByte(codePage, 0, w, length, p, m, nullptr, nullptr);
        result.ReleaseBuffer(n > 0 ? n : 0);
    }
    out.Swap(result);
    return n > 0 ? 1 : 0;
}

}  // namespace detail
}  // namespace vorlix

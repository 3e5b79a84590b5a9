// Code-page conversion of the strings (UString::FromMBC, MString::FromUnicode).
#include <vorlix/base/string.h>
#include <vorlix/win.h>

namespace vorlix {
namespace detail {

using namespace vorlix::win;

int MbcToUnicode(BasicString<unsigned short>& out, unsigned int codePage, const char* text, int length) {
    if (length < 0) length = StrLen(text);
    if (!text || length == 0) {
        out.Empty();
        return 1;
    }
    // Every byte gives at most one code unit in the code pages Windows
    // converts, so one pass into a buffer of that size is enough.
    BasicString<unsigned short> result;
    unsigned short* p = result.GetBuffer(length);
    if (!p) return 0;
    int n = MultiByteToWideChar(codePage, 0, text, length, reinterpret_cast<WCHAR*>(p), length);
    if (n == 0 && GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
        int m = MultiByteToWideChar(codePage, 0, text, length, nullptr, 0);
        p = m > 0 ? result.GetBuffer(m) : nullptr;
        n = p ? MultiByteToWideChar(codePage, 0, text, length, reinterpret_cast<WCHAR*>(p), m) : 0;
    }
    result.ReleaseBuffer(n > 0 ? n : 0);
    out.Swap(result);
    return n > 0 ? 1 : 0;
}

int UnicodeToMbc(BasicString<char>& out, unsigned int codePage, const unsigned short* text, int length) {
    if (length < 0) length = StrLen(text);
    if (!text || length == 0) {
        out.Empty();
        return 1;
    }
    const WCHAR* w = reinterpret_cast<const WCHAR*>(text);
    int m = WideCharToMultiByte(codePage, 0, w, length, nullptr, 0, nullptr, nullptr);
    BasicString<char> result;
    int n = 0;
    if (m > 0) {
        char* p = result.GetBuffer(m);
        if (p) n = WideCharToMultiByte(codePage, 0, w, length, p, m, nullptr, nullptr);
        result.ReleaseBuffer(n > 0 ? n : 0);
    }
    out.Swap(result);
    return n > 0 ? 1 : 0;
}

}  // namespace detail
}  // namespace vorlix

// Token splitting with kept separators and empty tokens, over the base
// tokenizer, once for both widths.
#include <vorlix/base/text.h>
#include <vorlix/util/split.h>

namespace vorlix {
namespace detail {
namespace {

long NextItem(const char* text, long pos, MString& tok, const char* seps, int& index) {
    return Byte_GetTokenOpt(text, pos, tok, seps, index, -1, 3);
}
long NextItem(const unsigned short* text, long pos, UString& tok, const unsigned short* seps, int& index) {
    return Uni_GetTokenOpt(text, pos, tok, seps, index, -1, 3);
}

// Whether a separator is kept as a token: only above 0x20, so that white
// space in the set only splits. The widths differ here: a char is compared
// as a signed 8-bit value (bytes 0x80-0xFF are negative and never kept), a
// 16-bit unit without sign.
template <class Ch>
bool KeepsSeparator(Ch ch) {
    if constexpr (sizeof(Ch) == 1) return static_cast<signed char>(ch) > 0x20;
    else return static_cast<unsigned>(ch) > 0x20;
}

// True when no NUL lies before nPos, so that the tokenizer may start there.
template <class Ch>
bool StartsInText(const Ch* text, long nPos) {
    for (long i = 0; i < nPos; ++i)
        if (text[i] == 0) return false;
    return true;
}

template <class Ch>
int GetSplitTokenEx(const Ch* text, long nPos, const Ch* seps, BasicStringArray<Ch>& out, int bAddSep, int bAddEmpty,
                    int bNoLeadEmpty) {
    out.RemoveAll();
    if (!text || nPos < 0 || !StartsInText(text, nPos)) return 0;
    bool bAfterWord = bNoLeadEmpty != 0;
    BasicString<Ch> tok;
    int index;
    bool bFailed = false;
    for (long pos = nPos; !bFailed && (pos = NextItem(text, pos, tok, seps, index)) >= 0;) {
        if (index < 0) {
            // The entry takes the token's buffer; the next token gets its own.
            bFailed = out.Add(static_cast<BasicString<Ch>&&>(tok)) < 0;
            bAfterWord = true;
            continue;
        }
        if (!bAfterWord && bAddEmpty) bFailed = out.Add(BasicString<Ch>()) < 0;
        if (bAddSep && KeepsSeparator(tok[0])) bFailed = bFailed || out.Add(tok) < 0;
        bAfterWord = false;
    }
    if (bFailed) {
        out.RemoveAll();
        return 0;
    }
    return out.GetSize();
}

}  // namespace
}  // namespace detail
}  // namespace vorlix

int Byte_GetSplitTokenEx(const void* pBuf, long nPos, const char* pszSeps, MStringArray& aryToken, int bAddSep,
                         int bAddEmpty, int bNoLeadEmpty) {
    return vorlix::detail::GetSplitTokenEx(static_cast<const char*>(pBuf), nPos, pszSeps, aryToken, bAddSep, bAddEmpty,
                                           bNoLeadEmpty);
}

int Uni_GetSplitTokenEx(const void* pBuf, long nPos, const unsigned short* pszSeps, UStringArray& aryToken, int bAddSep,
                        int bAddEmpty, int bNoLeadEmpty) {
    return vorlix::detail::GetSplitTokenEx(static_cast<const unsigned short*>(pBuf), nPos, pszSeps, aryToken, bAddSep,
                                           bAddEmpty, bNoLeadEmpty);
}

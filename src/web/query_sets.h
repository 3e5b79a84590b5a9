// The two separator sets a query is read with, built at compile time for
// the library's token scanner (../base/token_scan.h): "=&*^" (a key or
// value word, "=" at place 0, the pair separators "&", "*" and "^" at 1 to
// 3) and the double quote alone (the quote rule). Byte_GetTokenOpt builds
// its table on every call, which cost a third of the time of parsing a
// query; these are built once.
//
// NextQueryItem gives the items Byte_GetTokenOpt(text, pos, item, set,
// index, -1, 3) gives: blanks and tabs before an item skipped, a separator
// an item of its own, a word up to the next separator or the end of the
// text. The fuzz target fuzz_web_cgi checks the two against each other.
#ifndef VORLIX_SRC_WEB_QUERY_SETS_H
#define VORLIX_SRC_WEB_QUERY_SETS_H

#include "../base/token_scan.h"

namespace vorlix {
namespace detail {

inline constexpr char kQueryPairSeps[] = "=&*^";
inline constexpr char kQueryQuoteSeps[] = "\"";
inline constexpr SepSet<char> kQueryPairSet{kQueryPairSeps, SepSet<char>::Given{}};
inline constexpr SepSet<char> kQueryQuoteSet{kQueryQuoteSeps, SepSet<char>::Given{}};

// The item at or after pos (not negative) in text, which has len
// characters and a NUL after them: the position after it, with its start
// and its place in the set (-1 for a word); -1 when no item is left.
inline long NextQueryItem(const char* text, long pos, long len, const SepSet<char>& set, long& start, int& index) {
    return ScanToken(text, pos, len, set, true, start, index);
}

}  // namespace detail
}  // namespace vorlix

#endif

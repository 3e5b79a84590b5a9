// The scan of a query text into items, as Byte_GetTokenOpt delivers them
// with the options value 3 and no length limit, for the two fixed
// separator sets of a query: "=&*^" (a key or value word, "=", or a pair
// separator) and the double quote alone (the quote rule).
//
// The general tokenizer builds a table of its separator set on every call,
// which cost a third of the time of parsing a query; here the sets are
// fixed. The items are the same: blanks and tabs before an item are
// skipped; a separator is an item of its own with its place in the set; a
// word runs up to the next separator or the end of the text, blanks
// included. The fuzz target fuzz_web_cgi checks the two scans against each
// other.
#ifndef VORLIX_SRC_WEB_QUERY_SCAN_H
#define VORLIX_SRC_WEB_QUERY_SCAN_H

namespace vorlix {
namespace detail {

// The place of c in "=&*^", or in "\"" when bQuote is set; -1 when absent.
inline int QuerySeparator(char c, bool bQuote) {
    if (bQuote) return c == '"' ? 0 : -1;
    switch (c) {
    case '=': return 0;
    case '&': return 1;
    case '*': return 2;
    case '^': return 3;
    default: return -1;
    }
}

// The item at or after pos in the NUL-terminated text: its start, and its
// index (-1 for a word, else the separator's place). Returns the position
// after it, or -1 when no item is left.
inline long NextQueryItem(const char* text, long pos, long& start, int& index, bool bQuote) {
    index = -1;
    start = pos;
    if (pos < 0) return -1;
    long i = pos;
    while (text[i] == ' ' || text[i] == '\t') ++i;
    if (!text[i]) return -1;
    start = i;
    index = QuerySeparator(text[i], bQuote);
    if (index >= 0) return i + 1;
    while (text[i] && QuerySeparator(text[i], bQuote) < 0) ++i;
    return i;
}

}  // namespace detail
}  // namespace vorlix

#endif

// Splitting text into tokens at a set of separator characters, optionally
// keeping the separators and the empty tokens between them.
//
// The text is read item by item with Byte_GetTokenOpt / Uni_GetTokenOpt
// (text.h) with options 3: an item is a word (a run of characters outside
// the set, leading blanks and tabs skipped) or one separator character.
// Blanks and tabs in the set only separate: they are skipped, never
// delivered, and take no part in the rules below.
//
// - A word is appended as it was read.
// - A separator right after another separator (or at the start, unless
//   bNoLeadEmpty is non-zero) appends an empty token first, when bAddEmpty
//   is non-zero. A separator at the end of the text never makes an empty
//   token.
// - With bAddSep non-zero the separator itself is then appended as a
//   one-character token, except white space (0x20 and below: CR, LF, ...)
//   so that white space in the set only splits. The 8-bit form takes the
//   separator byte as a signed value, so separator bytes from 0x80 to 0xFF
//   are not appended either; the 16-bit form compares without sign.
//
// Example: "a,,b," at "," gives a, "", b with bAddEmpty; with bAddSep too,
// a, ",", "", ",", b, ",".
#ifndef VORLIX_UTIL_SPLIT_H
#define VORLIX_UTIL_SPLIT_H

#include <vorlix/base/strarray.h>
#include <vorlix/config.h>

// Empties aryToken, fills it from the NUL-terminated text at pBuf (char in
// the 8-bit form, unsigned short in the 16-bit form) starting at character
// nPos, and returns the number of tokens. A negative nPos, a position past
// the end of the text, or a null text gives 0; so does a failed allocation
// (with the array emptied).
VORLIX_API int Byte_GetSplitTokenEx(const void* pBuf, long nPos, const char* pszSeps, MStringArray& aryToken,
                                    int bAddSep, int bAddEmpty, int bNoLeadEmpty);
VORLIX_API int Uni_GetSplitTokenEx(const void* pBuf, long nPos, const unsigned short* pszSeps, UStringArray& aryToken,
                                   int bAddSep, int bAddEmpty, int bNoLeadEmpty);

#endif

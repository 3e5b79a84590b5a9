// Token, path and number primitives over NUL-terminated text.
#ifndef VORLIX_BASE_TEXT_H
#define VORLIX_BASE_TEXT_H

#include <vorlix/base/strarray.h>
#include <vorlix/base/string.h>
#include <vorlix/config.h>

// Reads the item that starts at lPos: a word (a run of characters outside
// pszSeps; nIndex -1) or one separator character (nIndex its place in
// pszSeps). A blank or tab in the set only separates: it ends a word, is
// skipped and is never delivered. With nOpt 3 blanks and tabs before an
// item are skipped whether or not they are in the set. nLength -1 reads up
// to the NUL, otherwise at most nLength characters of the text; lPos must
// not lie past the end. Returns the position after the item, or -1 when no
// item is left (also for a negative lPos).
VORLIX_API long Byte_GetTokenOpt(const char* pszText, long lPos, MString& strToken, const char* pszSeps, int& nIndex,
                                 int nLength, int nOpt);
VORLIX_API long Uni_GetTokenOpt(const unsigned short* pszText, long lPos, UString& strToken,
                                const unsigned short* pszSeps, int& nIndex, int nLength, int nOpt);

// Splits the text from lPos into the words between separators, each
// without the blanks and tabs around it, and returns their count. Every
// separator ends a word, so adjacent separators give an empty word, and so
// does a separator at the start; text after the last separator is a word
// only when it is not empty. Blanks and tabs in the set split without
// making empty words. The array is emptied first; a negative lPos gives 0.
VORLIX_API int Byte_GetSplitToken(const char* pszText, long lPos, const char* pszSeps, MStringArray& aryOut);
VORLIX_API int Uni_GetSplitToken(const unsigned short* pszText, long lPos, const unsigned short* pszSeps,
                                 UStringArray& aryOut);

// Parts of a path, by bits of nPart: 1 the drive ("C:", Windows only), 2 the
// directory (ending in its separator), 4 the file name, 8 the extension
// (with its dot). 3 gives the drive and directory: empty when the path has
// no separator. "/" and "\" are both separators.
VORLIX_API void Byte_GetPathPart(const char* pszPath, MString& strOut, int nPart);
VORLIX_API void Uni_GetPathPart(const unsigned short* pszPath, UString& strOut, int nPart);

// Index of the first (bFirst non-zero) or last occurrence, or -1.
VORLIX_API int Byte_FindAsc(const char* pszText, char ch, int bFirst);
VORLIX_API int Uni_FindAsc(const unsigned short* pszText, unsigned short ch, int bFirst);

// Decimal text to a number: leading white space, an optional sign, digits;
// reading stops at the first other character. Saturates at the limits of
// long. A null text gives 0.
VORLIX_API long Byte_AtoL(const char* pszText);
VORLIX_API long Uni_AtoL(const unsigned short* pszText);

// Length in characters; 0 for a null text.
VORLIX_API int Byte_strlen(const char* pszText);
VORLIX_API int Uni_strlen(const unsigned short* pszText);

// Non-zero on a little-endian machine.
VORLIX_API int API_IsLittleEndian();

#endif

// Line readers for configuration-style text: they skip comment lines and
// hand back the next other line with its leading white space removed.
//
// Each reads lines with the base line reader of its source (file.h) with the
// option 0, removes the blanks, tabs, CRs and LFs at the line's start, and
// skips the line when what remains begins with "//". The end of the line is
// left as the base reader delivered it, so a line with "//" after other text
// is returned whole, comment included. An empty or blank line is not a
// comment: it is returned, empty. The position (dwPos, or the file position)
// moves past every line read, the skipped ones included.
//
// They return 1 with the line, or 0 (and an empty line) when no line other
// than comments is left.
#ifndef VORLIX_UTIL_LINES_H
#define VORLIX_UTIL_LINES_H

#include <vorlix/base/string.h>
#include <vorlix/config.h>

// Text in memory, NUL-terminated; dwPos is the index where the next line
// starts (0 for the first).
VORLIX_API int Byte_ReadText1LineSkipComment(const char* pszText, unsigned long& dwPos, MString& strLine);
VORLIX_API int Uni_ReadText1LineSkipComment(const unsigned short* pszText, unsigned long& dwPos, UString& strLine);
// nEndian as the base reader takes it: 1 UTF-16 little-endian, 2 big-endian
// (dwPos counts code units), 3 UTF-8 bytes (dwPos counts bytes).
VORLIX_API int Uni_ReadText1LineSkipCommentEndian(const unsigned short* pszText, unsigned long& dwPos, UString& strLine,
                                                  int nEndian);

// From the position of a file handle of Byte_OpenFile / Uni_OpenFile. The
// 16-bit reader without an encoding reads UTF-16 little-endian.
VORLIX_API int Byte_Read1LineSkipComment(void* hFile, MString& strLine);
VORLIX_API int Uni_Read1LineSkipComment(void* hFile, UString& strLine);
VORLIX_API int Uni_Read1LineSkipCommentEndian(void* hFile, UString& strLine, int nEndian);

#endif

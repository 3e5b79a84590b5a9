// File handles and line readers.
//
// A handle names the library's own buffered file object. It is an opaque
// value (a void*, never 0 or INVALID_HANDLE_VALUE, null when there is
// none), not a pointer: the library checks every handle it is given against
// a table of the open ones. A closed handle, a handle of another kind, null
// or any other value is refused with the function's failure result (0, -1,
// or nothing for API_CloseFile) and reported to PrjWarningMsg; it never
// reaches memory or another file, even when a later open reuses the closed
// handle's place. Closing twice is harmless. Up to 4,194,304 files can be
// open at once (on 64-bit systems; 65,536 on 32-bit ones) as far as the
// system allows.
//
// Handles may be opened and closed from any thread. One handle is used by
// one thread at a time; a handle that another thread closes while a call is
// using it stays open until that call returns.
//
// Reads go through a buffer, so reading a line does not cost a system call
// per byte, while API_SeekFile(h, 0, 1) still reports the logical position
// right after what was read. Writes go straight to the file.
#ifndef VORLIX_BASE_FILE_H
#define VORLIX_BASE_FILE_H

#include <vorlix/base/string.h>
#include <vorlix/config.h>

// Opens a file. dwAccess: read 0x80000000, write 0x40000000 (both:
// 0xC0000000); dwShare: 1 others may read, 2 others may write (3 both).
// bCreate 1 opens the file or creates it when it is missing, and never
// empties an existing one; 0 opens an existing file only. The position is
// at the start. Returns null on failure. Paths take "/" and "\" alike.
VORLIX_API void* Byte_OpenFile(const char* pszPath, DWORD dwAccess, DWORD dwShare, int bCreate);
VORLIX_API void* Uni_OpenFile(const unsigned short* pszPath, DWORD dwAccess, DWORD dwShare, int bCreate);

// Bytes moved (0 at the end of the file or on failure).
VORLIX_API DWORD API_ReadFile(void* hFile, void* pBuffer, DWORD dwBytes);
VORLIX_API DWORD API_WriteFile(void* hFile, const void* pData, DWORD dwBytes);
// Moves the position; nOrigin 0 from the start, 1 from the current
// position, 2 from the end. Returns the new offset, or -1 (and the position
// unchanged) when the target lies before the start or beyond what a long
// holds (2^31 - 1 on Windows, where long is 32 bits), or the system refuses
// it.
VORLIX_API long API_SeekFile(void* hFile, long lOffset, int nOrigin);
VORLIX_API void API_CloseFile(void* hFile);

// Non-zero when the path names an existing file (not a directory).
VORLIX_API int Byte_ExistFile(const char* pszPath);
VORLIX_API int Uni_ExistFile(const unsigned short* pszPath);

// Line readers. A line ends at LF, CR LF or a lone CR and is delivered
// without its end; a last line without an end is delivered too, and an
// empty line gives an empty string. They return 1 when a line was read and
// 0 at the end of the text. The option is accepted for compatibility: 0 and
// 1 read lines alike.
//
// In memory the text is NUL-terminated and dwPos is the index of the line's
// first character; it moves to the start of the next line.
VORLIX_API int Byte_ReadText1Line(const char* pszText, unsigned long& dwPos, MString& strLine, int nOpt);
// Native 16-bit code units.
VORLIX_API int Uni_ReadText1Line(const unsigned short* pszText, unsigned long& dwPos, UString& strLine, int nOpt);
// nEndian 1: the buffer holds UTF-16 little-endian, 2: big-endian (dwPos
// counts code units); 3: the buffer holds UTF-8 bytes, read through the
// pointer as bytes (dwPos counts bytes), each line converted to UTF-16.
VORLIX_API int Uni_ReadText1LineEndian(const unsigned short* pszText, unsigned long& dwPos, UString& strLine, int nOpt,
                                       int nEndian);

// The same from the file position; the 16-bit reader without an encoding
// reads UTF-16 little-endian. After a line the position is right after its
// end.
VORLIX_API int Byte_Read1Line(void* hFile, MString& strLine, int nOpt);
VORLIX_API int Uni_Read1Line(void* hFile, UString& strLine, int nOpt);
VORLIX_API int Uni_Read1LineEndian(void* hFile, UString& strLine, int nOpt, int nEndian);

#endif

// Paths and directories: whether a path is a directory or a file, creating
// a directory path level by level, and the directory of the running
// program. Each comes as a Byte_ function on 8-bit paths and a Uni_
// function on 16-bit (UTF-16) paths.
//
// MakeDirectory splits the path at "\\" and "/" and builds it again one
// level at a time, joined with the platform's separator ("\\" on Windows,
// "/" on POSIX): a level the file finder does not find is created, and
// every level must then be found as a directory. A path that begins with a
// drive ("C:\a", "C:a") starts there; on Windows a path that begins with
// "\\" starts at the root of the current drive and any other path at the
// current directory ("/x" too). On POSIX there are no drives: a path that
// begins with "/" or "\\" starts at "/", any other at the current directory.
// Levels created before a failure stay. Names without wildcards are matched
// exactly, so on a case-sensitive file system "Logs" does not take an
// existing "logs".
#ifndef VORLIX_FS_PATHS_H
#define VORLIX_FS_PATHS_H

#include <vorlix/base/string.h>
#include <vorlix/config.h>

// 1 when the path exists and is a directory; 0 otherwise (also for null).
VORLIX_API int Byte_IsDirectory(const char* pszPath);
VORLIX_API int Uni_IsDirectory(const unsigned short* pszPath);

// 1 when the path exists and has the archive (0x20) or the normal (0x80)
// attribute: on POSIX every regular file; a read-only file on Windows that
// has neither bit gives 0.
VORLIX_API int Byte_IsFile(const char* pszPath);
VORLIX_API int Uni_IsFile(const unsigned short* pszPath);

// Creates every missing directory of the path; with bHasFileName non-zero
// the last part is a file name and is not created. 1 on success (also when
// there is nothing to create, as for "C:\" or "/"); 0 when the current drive
// cannot be read, a level cannot be created, or a level exists and is not a
// directory.
VORLIX_API int Byte_MakeDirectory(const char* pszPath, int bHasFileName);
VORLIX_API int Uni_MakeDirectory(const unsigned short* pszPath, int bHasFileName);

// The drive and directory of the running program's file, with its trailing
// separator, in a process-wide buffer of 2048 characters filled on the first
// successful call (safe to call from several threads at once). Empty when
// the program's name cannot be read or needs more than 2047 characters; the
// next call then tries again.
VORLIX_API const char* Byte_GetModulePath();
VORLIX_API const unsigned short* Uni_GetModulePath();

// strPath := the module path up to and including its last separator (found
// from the end down to its second character), followed by pszFileName; the
// module path alone when it is shorter than two characters or has no
// separator there.
VORLIX_API void Byte_GetDefaultFilePath(MString& strPath, const char* pszFileName);
VORLIX_API void Uni_GetDefaultFilePath(UString& strPath, const unsigned short* pszFileName);

#endif

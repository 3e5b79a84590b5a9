// The platform services the library is written against, in namespace
// vorlix::win, under their Windows names.
//
// On Windows these are the real kernel services and runtime functions,
// brought in with using-declarations (constants stay the macros that
// <windows.h> defines). On other systems the library implements them itself
// with the same names and the same observable behaviour. Library code calls
// them unqualified after `using namespace vorlix::win;`, so that the same
// source reads the macros on Windows and the constants here elsewhere.
//
// POSIX notes: paths take "/" and "\" alike as separators; sharing modes
// are accepted and not enforced; code page 0 (the system default) is UTF-8;
// 65001 is converted by the library's own UTF-8 code and other code pages
// (949 among them) through iconv. Bytes that do not convert become U+FFFD,
// characters without a form in the target code page become "?".
#ifndef VORLIX_WIN_H
#define VORLIX_WIN_H

#include <vorlix/config.h>

#include <atomic>
#include <cstddef>
#include <ctime>

#if defined(_WIN32)

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <malloc.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <wchar.h>

#include <direct.h>     // _getdrive, _getdcwd, _mkdir: the file system helpers
#include <sys/timeb.h>  // _ftime: the message-pump waits

namespace vorlix {
namespace win {
using ::BOOL;
using ::BYTE;
using ::DWORD;
using ::HANDLE;
using ::LARGE_INTEGER;
using ::LONG;
using ::LONGLONG;
using ::UINT;
using ::WCHAR;

using ::CloseHandle;
using ::CreateFileA;
using ::CreateFileW;
using ::GetFileAttributesA;
using ::GetACP;
using ::GetFileAttributesW;
using ::GetLastError;
using ::IsDBCSLeadByteEx;
using ::MultiByteToWideChar;
using ::ReadFile;
using ::SetFilePointerEx;
using ::SetLastError;
using ::SIZE_T;
using ::VirtualAlloc;
using ::VirtualFree;
using ::_heapmin;
using ::WideCharToMultiByte;
using ::WriteFile;

using ::_stricmp;
using ::_strnicmp;
using ::_wcsicmp;
using ::_wcsnicmp;
using ::_wtoi;
using ::atoi;
using ::localtime_s;
using ::mktime;
using ::time;

// Synchronization objects, shared memory and waits on an address.
using ::CreateEventA;
using ::CreateFileMappingA;
using ::CreateMutexA;
using ::MapViewOfFile;
using ::ReleaseMutex;
using ::ResetEvent;
using ::SetEvent;
using ::Sleep;
using ::UnmapViewOfFile;
using ::WaitForMultipleObjects;
using ::WaitForSingleObject;
using ::WaitOnAddress;
using ::WakeByAddressAll;
using ::WakeByAddressSingle;
// Time zone (text utilities). _timezone may be a macro of the runtime:
// library code reads it unqualified.
using ::_tzset;
#if !defined(_timezone)
using ::_timezone;
#endif
// File finder, paths and directories, message-pump waits. _ftime and
// _timeb are macros for their 64-bit forms.
using ::FILETIME;
using ::HMODULE;
using ::HWND;
using ::LPARAM;
using ::LRESULT;
using ::MSG;
using ::SYSTEMTIME;
using ::WIN32_FIND_DATAA;
using ::WIN32_FIND_DATAW;
using ::WORD;
using ::WPARAM;
using ::_timeb;

using ::DispatchMessageA;
using ::FileTimeToSystemTime;
using ::FindClose;
using ::FindFirstFileA;
using ::FindFirstFileW;
using ::FindNextFileA;
using ::FindNextFileW;
using ::GetCurrentThreadId;
using ::GetFullPathNameA;
using ::GetFullPathNameW;
using ::GetModuleFileNameA;
using ::GetModuleFileNameW;
using ::GetVersion;
using ::PeekMessageA;
using ::PostQuitMessage;
using ::PostThreadMessageA;
using ::TranslateMessage;
using ::_ftime;
using ::_getdcwd;
using ::_getdrive;
using ::_mkdir;
using ::_splitpath;
using ::_wgetdcwd;
using ::_wmkdir;
using ::_wsplitpath;
}  // namespace win
}  // namespace vorlix

// The CGI environment: environment variables and standard input read as
// bytes (_setmode(0, _O_BINARY) keeps CR LF and 0x1A as they arrive).
#include <fcntl.h>
#include <io.h>
namespace vorlix {
namespace win {
using ::_read;
using ::_setmode;
using ::getenv;
}  // namespace win
}  // namespace vorlix

#else  // POSIX

namespace vorlix {
namespace win {

typedef int BOOL;
typedef unsigned char BYTE;
typedef ::DWORD DWORD;
typedef void* HANDLE;
typedef int LONG;  // 32 bits, as on Windows
typedef long long LONGLONG;
typedef unsigned int UINT;
typedef unsigned short WCHAR;  // one UTF-16 code unit
typedef std::size_t SIZE_T;

union LARGE_INTEGER {
    struct {
        DWORD LowPart;
        LONG HighPart;
    } u;
    LONGLONG QuadPart;
};

constexpr BOOL TRUE = 1;
constexpr BOOL FALSE = 0;

constexpr DWORD GENERIC_READ = 0x80000000u;
constexpr DWORD GENERIC_WRITE = 0x40000000u;
constexpr DWORD FILE_SHARE_READ = 0x1;
constexpr DWORD FILE_SHARE_WRITE = 0x2;
constexpr DWORD FILE_SHARE_DELETE = 0x4;

constexpr DWORD CREATE_NEW = 1;
constexpr DWORD CREATE_ALWAYS = 2;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD OPEN_ALWAYS = 4;
constexpr DWORD TRUNCATE_EXISTING = 5;

constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x01;
constexpr DWORD FILE_ATTRIBUTE_HIDDEN = 0x02;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr DWORD FILE_ATTRIBUTE_ARCHIVE = 0x20;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFFu;

constexpr DWORD FILE_BEGIN = 0;
constexpr DWORD FILE_CURRENT = 1;
constexpr DWORD FILE_END = 2;

constexpr UINT CP_ACP = 0;
constexpr UINT CP_OEMCP = 1;
constexpr UINT CP_UTF8 = 65001;
constexpr DWORD MB_ERR_INVALID_CHARS = 0x08;

constexpr DWORD MEM_COMMIT = 0x1000;
constexpr DWORD MEM_RESERVE = 0x2000;
constexpr DWORD MEM_DECOMMIT = 0x4000;
constexpr DWORD MEM_RELEASE = 0x8000;
constexpr DWORD PAGE_NOACCESS = 0x01;
constexpr DWORD PAGE_READWRITE = 0x04;

constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
constexpr DWORD ERROR_TOO_MANY_OPEN_FILES = 4;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_WRITE_FAULT = 29;
constexpr DWORD ERROR_READ_FAULT = 30;
constexpr DWORD ERROR_SHARING_VIOLATION = 32;
constexpr DWORD ERROR_FILE_EXISTS = 80;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_DISK_FULL = 112;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD ERROR_NEGATIVE_SEEK = 131;
constexpr DWORD ERROR_ALREADY_EXISTS = 183;
constexpr DWORD ERROR_FILENAME_EXCED_RANGE = 206;
constexpr DWORD ERROR_NO_UNICODE_TRANSLATION = 1113;

// A handle that names no object.
inline HANDLE const INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(static_cast<long>(-1));

// Files. Security attributes, flags and template handles are accepted and
// ignored; sharing is not enforced.
VORLIX_API HANDLE CreateFileA(const char* lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                              void* lpSecurityAttributes, DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes,
                              HANDLE hTemplateFile);
VORLIX_API HANDLE CreateFileW(const WCHAR* lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                              void* lpSecurityAttributes, DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes,
                              HANDLE hTemplateFile);
VORLIX_API BOOL ReadFile(HANDLE hFile, void* lpBuffer, DWORD nNumberOfBytesToRead, DWORD* lpNumberOfBytesRead,
                         void* lpOverlapped);
VORLIX_API BOOL WriteFile(HANDLE hFile, const void* lpBuffer, DWORD nNumberOfBytesToWrite,
                          DWORD* lpNumberOfBytesWritten, void* lpOverlapped);
VORLIX_API BOOL SetFilePointerEx(HANDLE hFile, LARGE_INTEGER liDistanceToMove, LARGE_INTEGER* lpNewFilePointer,
                                 DWORD dwMoveMethod);
VORLIX_API BOOL CloseHandle(HANDLE hObject);
VORLIX_API DWORD GetFileAttributesA(const char* lpFileName);
VORLIX_API DWORD GetFileAttributesW(const WCHAR* lpFileName);

// Virtual memory. MEM_RESERVE takes address space without memory behind
// it; MEM_COMMIT (PAGE_READWRITE) backs reserved pages with zeroed memory,
// or reserves and commits at once when lpAddress is null. MEM_DECOMMIT
// gives the pages back to the system and leaves them reserved; they must be
// committed again before use. (Windows makes them inaccessible; on Linux
// they stay mapped and read as zeros, so that decommitting many small
// ranges does not split the reservation into as many mappings.)
// MEM_RELEASE (dwSize 0) frees a whole reservation by its base address;
// MEM_DECOMMIT with dwSize 0 and that address decommits all of it.
VORLIX_API void* VirtualAlloc(void* lpAddress, SIZE_T dwSize, DWORD flAllocationType, DWORD flProtect);
VORLIX_API BOOL VirtualFree(void* lpAddress, SIZE_T dwSize, DWORD dwFreeType);
// Asks the C runtime's heap to give the free memory it holds back to the
// system; 0 on success. (Where the C library offers no such request, it
// does nothing and returns 0.)
VORLIX_API int _heapmin();
// Not a Windows service: Windows has no fork(). For a user of the virtual
// memory services that holds locks of its own while calling them (the
// library's heap): pfnPrepare runs before fork(), before these services
// take their own lock; pfnParent and pfnChild run after fork(), in the
// parent and in the child, after that lock is released. Registered
// with the system on the first call; one set of handlers per process, so a
// second call fails with ERROR_ALREADY_EXISTS. Null handlers are skipped.
VORLIX_API BOOL SetForkHandlers(void (*pfnPrepare)(), void (*pfnParent)(), void (*pfnChild)());

// The calling thread's last-error code.
VORLIX_API DWORD GetLastError();
VORLIX_API void SetLastError(DWORD dwErrCode);

// Code-page conversion, with the Windows conventions: a length of -1 takes
// the text up to and including its NUL; an output size of 0 asks for the
// size needed; 0 is returned on failure with the last-error code set.
VORLIX_API int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, const char* lpMultiByteStr, int cbMultiByte,
                                   WCHAR* lpWideCharStr, int cchWideChar);
VORLIX_API int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, const WCHAR* lpWideCharStr, int cchWideChar,
                                   char* lpMultiByteStr, int cbMultiByte, const char* lpDefaultChar,
                                   BOOL* lpUsedDefaultChar);
// The system's default code page, which CP_ACP stands for: CP_UTF8 on POSIX.
VORLIX_API UINT GetACP();
// Whether a byte begins a two-byte character of a double-byte code page:
// the lead bytes of 932 (Shift JIS), 936 (GBK), 949 (Unified Hangul) and
// 950 (Big5); FALSE for every byte of other code pages, UTF-8 among them.
VORLIX_API BOOL IsDBCSLeadByteEx(UINT CodePage, BYTE TestChar);

// Runtime library. The comparisons fold ASCII letters, as the C locale does.
VORLIX_API int _stricmp(const char* a, const char* b);
VORLIX_API int _strnicmp(const char* a, const char* b, std::size_t n);
VORLIX_API int _wcsicmp(const WCHAR* a, const WCHAR* b);
VORLIX_API int _wcsnicmp(const WCHAR* a, const WCHAR* b, std::size_t n);
// Leading white space, an optional sign, decimal digits; the rest is
// ignored. Values beyond the range of int saturate at INT_MIN or INT_MAX.
VORLIX_API int atoi(const char* s);
VORLIX_API int _wtoi(const WCHAR* s);
// Local calendar time; 0 on success, an errno value on failure.
VORLIX_API int localtime_s(std::tm* ptm, const std::time_t* ptime);
using std::mktime;
using std::time;

// ---- Synchronization objects and shared memory ----
//
// Mutexes and events, unnamed (this process) or named (shared by every
// process of the same user that opens the name). A mutex belongs to the
// thread that took it, which may take it again (it must release it as
// often); ReleaseMutex by another thread fails with ERROR_NOT_OWNER. When the
// owner thread or its process ends without releasing it, the next wait gets
// WAIT_ABANDONED and the mutex. Named objects live in POSIX shared memory
// and go when the last process that uses them closes them or ends, however
// it ends; a name reopened by another process reports ERROR_ALREADY_EXISTS
// and ignores the creation arguments. Names are case-sensitive; "Local\"
// and "Global\" name one namespace; a name longer than 260 bytes fails with
// ERROR_FILENAME_EXCED_RANGE; a name used by an object of another kind fails
// with ERROR_INVALID_HANDLE. Security attributes are ignored.
constexpr DWORD INFINITE = 0xFFFFFFFFu;
constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_ABANDONED = 0x80;
constexpr DWORD WAIT_ABANDONED_0 = 0x80;
constexpr DWORD WAIT_TIMEOUT = 0x102;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFFu;
constexpr DWORD MAXIMUM_WAIT_OBJECTS = 64;
constexpr DWORD PAGE_READONLY = 0x02;
constexpr DWORD FILE_MAP_WRITE = 0x2;
constexpr DWORD FILE_MAP_READ = 0x4;
constexpr DWORD FILE_MAP_ALL_ACCESS = 0xF001F;
constexpr DWORD ERROR_NOT_OWNER = 288;
constexpr DWORD ERROR_MAPPED_ALIGNMENT = 1132;
constexpr DWORD ERROR_TIMEOUT = 1460;

VORLIX_API HANDLE CreateMutexA(void* lpMutexAttributes, BOOL bInitialOwner, const char* lpName);
VORLIX_API BOOL ReleaseMutex(HANDLE hMutex);
// Manual-reset events stay set until ResetEvent and release every waiter,
// also one whose wait began before a SetEvent that a ResetEvent undid before
// the waiter ran; auto-reset events release one waiter and reset.
VORLIX_API HANDLE CreateEventA(void* lpEventAttributes, BOOL bManualReset, BOOL bInitialState, const char* lpName);
VORLIX_API BOOL SetEvent(HANDLE hEvent);
VORLIX_API BOOL ResetEvent(HANDLE hEvent);
// WAIT_OBJECT_0, WAIT_ABANDONED (a mutex whose owner ended), WAIT_TIMEOUT, or
// WAIT_FAILED (ERROR_INVALID_HANDLE) for a handle that is no mutex or event.
VORLIX_API DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);
// 1 to 64 handles (else WAIT_FAILED, ERROR_INVALID_PARAMETER). Wait-all
// takes every object at once or none and refuses one object given twice;
// it returns WAIT_OBJECT_0, or WAIT_ABANDONED_0 + i when object i was an
// abandoned mutex. Wait-any takes the first ready object in array order
// (WAIT_OBJECT_0 + i or WAIT_ABANDONED_0 + i). A waiter on several objects
// notices an owner's death or a change made by another process within
// about 10 ms.
VORLIX_API DWORD WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll, DWORD dwMilliseconds);

// Mappings of shared memory backed by no file (hFile INVALID_HANDLE_VALUE;
// other files fail with ERROR_INVALID_PARAMETER), PAGE_READWRITE or
// PAGE_READONLY. A new object is zero-filled; an existing one keeps its size
// (it is never grown: a larger view of it fails with ERROR_ACCESS_DENIED)
// and reports ERROR_ALREADY_EXISTS. A view keeps the object open after its
// handle is closed. View offsets are multiples of 65536
// (ERROR_MAPPED_ALIGNMENT); a length of 0 maps to the end.
VORLIX_API HANDLE CreateFileMappingA(HANDLE hFile, void* lpFileMappingAttributes, DWORD flProtect,
                                     DWORD dwMaximumSizeHigh, DWORD dwMaximumSizeLow, const char* lpName);
VORLIX_API void* MapViewOfFile(HANDLE hFileMappingObject, DWORD dwDesiredAccess, DWORD dwFileOffsetHigh,
                               DWORD dwFileOffsetLow, SIZE_T dwNumberOfBytesToMap);
VORLIX_API BOOL UnmapViewOfFile(const void* lpBaseAddress);

// Sleeps while the 1, 2, 4 or 8 bytes at Address equal those at
// CompareAddress, until a wake-up for Address or the time-out (FALSE,
// ERROR_TIMEOUT). May return early; callers check the value again. Within
// one process.
VORLIX_API BOOL WaitOnAddress(volatile void* Address, void* CompareAddress, SIZE_T AddressSize, DWORD dwMilliseconds);
VORLIX_API void WakeByAddressAll(void* Address);
VORLIX_API void WakeByAddressSingle(void* Address);

// Suspends the calling thread for at least dwMilliseconds (INFINITE: for
// ever); 0 gives up the rest of its time slice.
VORLIX_API void Sleep(DWORD dwMilliseconds);
// Time zone (text utilities). _tzset reads the zone again from TZ, or from
// the system's setting when TZ is unset, as tzset() does, and stores the
// local standard-time offset in _timezone: seconds west of UTC (18000 for
// US Eastern time, -32400 for Japan), whether or not summer time is in
// force. As on Windows, read _timezone after calling _tzset (it holds 0
// before the first call).
VORLIX_API void _tzset();
extern VORLIX_API std::atomic<long> _timezone;
// ---- File finder, paths and directories, message-pump waits ----

typedef unsigned short WORD;
typedef void* HMODULE;  // only null (the program itself) is known here
typedef void* HWND;     // there are no windows: every message is a thread message
typedef std::size_t WPARAM;
typedef std::ptrdiff_t LPARAM;
typedef std::ptrdiff_t LRESULT;

constexpr DWORD MAX_PATH = 260;
constexpr DWORD FILE_ATTRIBUTE_SYSTEM = 0x04;

constexpr DWORD ERROR_NO_MORE_FILES = 18;
constexpr DWORD ERROR_INVALID_NAME = 123;
constexpr DWORD ERROR_MOD_NOT_FOUND = 126;
constexpr DWORD ERROR_INVALID_WINDOW_HANDLE = 1400;
constexpr DWORD ERROR_INVALID_THREAD_ID = 1444;
constexpr DWORD ERROR_NOT_ENOUGH_QUOTA = 1816;

// 100-nanosecond intervals since 1601-01-01 00:00:00 UTC.
struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};

struct SYSTEMTIME {
    WORD wYear;
    WORD wMonth;      // 1 to 12
    WORD wDayOfWeek;  // 0 (Sunday) to 6
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
};

// One directory entry. Attribute bits: 0x10 directory; 0x01 read-only when
// the owner may not write; 0x02 hidden for names that start with "." (not
// "." and ".."); 0x20 archive for regular files; 0x04 system for FIFOs,
// sockets and devices; 0x80 normal when no other bit applies. The entry is
// described as stat sees it through symbolic links (a dangling link as the
// link itself). The creation time is the birth time where the file system
// keeps one, else the change time. No short names: cAlternateFileName is
// empty.
struct WIN32_FIND_DATAA {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;
    DWORD dwReserved1;
    char cFileName[260];
    char cAlternateFileName[14];
};
struct WIN32_FIND_DATAW {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;
    DWORD dwReserved1;
    WCHAR cFileName[260];
    WCHAR cAlternateFileName[14];
};

// Directory search. The pattern's last part is matched against the names
// of its directory: "*" any run and "?" any one character, ignoring the case
// of ASCII letters, and a final ".*" also matches names without a dot (so
// "*.*" matches every name). "." and ".." are listed. A last part without
// "*" or "?" names one entry exactly (case-sensitive). Errors: 3
// (ERROR_PATH_NOT_FOUND) when the directory is missing, 2 when nothing
// matches, 18 (ERROR_NO_MORE_FILES) at the end of a search. An entry whose
// name does not fit cFileName is skipped. The 16-bit forms convert names as
// described at GetFullPathNameW.
VORLIX_API HANDLE FindFirstFileA(const char* lpFileName, WIN32_FIND_DATAA* lpFindFileData);
VORLIX_API HANDLE FindFirstFileW(const WCHAR* lpFileName, WIN32_FIND_DATAW* lpFindFileData);
VORLIX_API BOOL FindNextFileA(HANDLE hFindFile, WIN32_FIND_DATAA* lpFindFileData);
VORLIX_API BOOL FindNextFileW(HANDLE hFindFile, WIN32_FIND_DATAW* lpFindFileData);
VORLIX_API BOOL FindClose(HANDLE hFindFile);

// The absolute form of a path: relative paths are taken from the current
// directory, "\" becomes "/", repeated separators collapse, and "." and
// ".." are resolved by the text alone (".." at the root stays there); a
// final separator stays. Returns the length written without the NUL, or,
// when nBufferLength is too small, the size needed with the NUL (nothing
// written); 0 on failure (ERROR_INVALID_NAME for an empty path).
// *lpFilePart, when asked for, points at the last part, or is null when the
// result ends in a separator. The 16-bit forms of this and every other
// service take names as UTF-8 on disk: a byte that is not part of valid
// UTF-8 stands as the lone surrogate U+DC80 + byte (U+DC80 to U+DCFF), so
// every name found can be opened again; other lone surrogates become
// U+FFFD.
VORLIX_API DWORD GetFullPathNameA(const char* lpFileName, DWORD nBufferLength, char* lpBuffer, char** lpFilePart);
VORLIX_API DWORD GetFullPathNameW(const WCHAR* lpFileName, DWORD nBufferLength, WCHAR* lpBuffer, WCHAR** lpFilePart);

// The running program's file (/proc/self/exe); hModule must be null (else
// 0 and ERROR_MOD_NOT_FOUND). A name that does not fit is cut to nSize - 1
// characters and nSize is returned with ERROR_INSUFFICIENT_BUFFER.
VORLIX_API DWORD GetModuleFileNameA(HMODULE hModule, char* lpFilename, DWORD nSize);
VORLIX_API DWORD GetModuleFileNameW(HMODULE hModule, WCHAR* lpFilename, DWORD nSize);

// A system of the NT family: version 6.2, build 9200 (0x23F00206), the
// value Windows reports to programs that do not declare a later one.
VORLIX_API DWORD GetVersion();

// Calendar fields of a file time, in UTC; FALSE (ERROR_INVALID_PARAMETER)
// for times past the year 30827.
VORLIX_API BOOL FileTimeToSystemTime(const FILETIME* lpFileTime, SYSTEMTIME* lpSystemTime);

// Thread message queues. A thread gets its queue when it first calls
// PeekMessageA or PostQuitMessage; the queue goes when the thread ends.
// PostThreadMessageA fails with ERROR_INVALID_THREAD_ID for a thread
// without a queue and with ERROR_NOT_ENOUGH_QUOTA beyond 10,000 waiting
// messages. PostQuitMessage sets a flag that PeekMessageA reports as
// WM_QUIT once no posted message is left; WM_QUIT is retrieved whatever the
// filter. hWnd null or (HWND)-1 reads the thread's messages; any other
// value fails with ERROR_INVALID_WINDOW_HANDLE. There are no windows and no
// keyboard: TranslateMessage returns FALSE, DispatchMessageA returns 0.
struct POINT {
    LONG x;
    LONG y;
};
struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;  // milliseconds of the monotonic clock when posted
    POINT pt;
};
constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_USER = 0x0400;
constexpr UINT PM_NOREMOVE = 0;
constexpr UINT PM_REMOVE = 1;
VORLIX_API BOOL PeekMessageA(MSG* lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg);
VORLIX_API BOOL TranslateMessage(const MSG* lpMsg);
VORLIX_API LRESULT DispatchMessageA(const MSG* lpMsg);
VORLIX_API void PostQuitMessage(int nExitCode);
VORLIX_API BOOL PostThreadMessageA(DWORD idThread, UINT Msg, WPARAM wParam, LPARAM lParam);
// The kernel's id of the calling thread.
VORLIX_API DWORD GetCurrentThreadId();

// Runtime directory functions. There are no drives: _getdrive returns 0,
// and _getdcwd / _wgetdcwd give the current directory for drive 0 (null and
// EACCES for any other; null and ERANGE when it does not fit; a null
// buffer is allocated with malloc). _mkdir creates one directory (0 or -1
// with errno). _splitpath splits at the last "/" or "\" and the last dot
// after it; the drive is always empty; each part is cut to fit its _MAX_
// size; a null part is not written.
constexpr int _MAX_DRIVE = 3;
constexpr int _MAX_DIR = 256;
constexpr int _MAX_FNAME = 256;
constexpr int _MAX_EXT = 256;
VORLIX_API int _getdrive();
VORLIX_API char* _getdcwd(int nDrive, char* pBuffer, int nMaxLen);
VORLIX_API WCHAR* _wgetdcwd(int nDrive, WCHAR* pBuffer, int nMaxLen);
VORLIX_API int _mkdir(const char* pszPath);
VORLIX_API int _wmkdir(const WCHAR* pszPath);
VORLIX_API void _splitpath(const char* pszPath, char* pszDrive, char* pszDir, char* pszFname, char* pszExt);
VORLIX_API void _wsplitpath(const WCHAR* pszPath, WCHAR* pszDrive, WCHAR* pszDir, WCHAR* pszFname, WCHAR* pszExt);

// The wall-clock time with milliseconds, the local zone's offset in minutes
// west of UTC and whether daylight saving is in force.
struct _timeb {
    std::time_t time;
    unsigned short millitm;
    short timezone;
    short dstflag;
};
VORLIX_API void _ftime(_timeb* pTime);

// The CGI environment. getenv returns the value of a variable or null when
// it is not set (the pointer is the environment's own). _read reads up to
// count bytes from a file descriptor (0 is standard input), retrying when a
// signal interrupts it; like a pipe it may return fewer than asked for, 0
// at the end and -1 on an error. Files are always binary here: _setmode
// changes nothing and returns _O_BINARY as the previous mode, or -1 for a
// descriptor that is not open.
constexpr int _O_TEXT = 0x4000;
constexpr int _O_BINARY = 0x8000;
VORLIX_API char* getenv(const char* name);
VORLIX_API int _read(int fd, void* buffer, unsigned int count);
VORLIX_API int _setmode(int fd, int mode);

}  // namespace win
}  // namespace vorlix

#endif  // POSIX

#endif

// The platform services of the file-system functions, chosen by character
// width: overloads on char (the 8-bit services) and unsigned short (the
// 16-bit ones, whose WCHAR is wchar_t on Windows). The finder and the path
// functions are written once over these.
#ifndef VORLIX_SRC_FS_FS_PLATFORM_H
#define VORLIX_SRC_FS_FS_PLATFORM_H

#include <vorlix/win.h>

namespace vorlix {
namespace detail {
namespace fs {

using namespace vorlix::win;

// The separator the library writes into the paths it builds.
#if defined(_WIN32)
constexpr char kDirSeparator = '\\';
constexpr bool kHasDrives = true;
#else
constexpr char kDirSeparator = '/';
constexpr bool kHasDrives = false;
#endif

inline const WCHAR* W(const unsigned short* p) { return reinterpret_cast<const WCHAR*>(p); }
inline WCHAR* W(unsigned short* p) { return reinterpret_cast<WCHAR*>(p); }

inline HANDLE FindFirst(const char* pattern, WIN32_FIND_DATAA* data) { return FindFirstFileA(pattern, data); }
inline HANDLE FindFirst(const unsigned short* pattern, WIN32_FIND_DATAW* data) {
    return FindFirstFileW(W(pattern), data);
}
inline BOOL FindNextEntry(HANDLE h, WIN32_FIND_DATAA* data) { return FindNextFileA(h, data); }
inline BOOL FindNextEntry(HANDLE h, WIN32_FIND_DATAW* data) { return FindNextFileW(h, data); }

inline DWORD FullPathName(const char* path, DWORD size, char* buffer) {
    return GetFullPathNameA(path, size, buffer, nullptr);
}
inline DWORD FullPathName(const unsigned short* path, DWORD size, unsigned short* buffer) {
    return GetFullPathNameW(W(path), size, W(buffer), nullptr);
}

// The file-name part (no directory, no extension) into fname.
inline void SplitTitle(const char* path, char* fname) { _splitpath(path, nullptr, nullptr, fname, nullptr); }
inline void SplitTitle(const unsigned short* path, unsigned short* fname) {
    _wsplitpath(W(path), nullptr, nullptr, W(fname), nullptr);
}

inline DWORD Attributes(const char* path) { return GetFileAttributesA(path); }
inline DWORD Attributes(const unsigned short* path) { return GetFileAttributesW(W(path)); }

inline int MakeDir(const char* path) { return _mkdir(path); }
inline int MakeDir(const unsigned short* path) { return _wmkdir(W(path)); }

inline char* CurrentDir(int drive, char* buffer, int size) { return _getdcwd(drive, buffer, size); }
inline unsigned short* CurrentDir(int drive, unsigned short* buffer, int size) {
    return reinterpret_cast<unsigned short*>(_wgetdcwd(drive, W(buffer), size));
}

inline DWORD ModuleFileName(char* buffer, DWORD size) { return GetModuleFileNameA(nullptr, buffer, size); }
inline DWORD ModuleFileName(unsigned short* buffer, DWORD size) { return GetModuleFileNameW(nullptr, W(buffer), size); }

template <class Ch>
inline bool IsSeparator(Ch c) {
    return c == '\\' || c == '/';
}

}  // namespace fs
}  // namespace detail
}  // namespace vorlix

#endif

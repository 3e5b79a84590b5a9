// Paths on POSIX: full path names, the program's own file name, and the
// runtime's directory functions (_getdrive, _getdcwd, _mkdir, _splitpath).
// There are no drives; a path that begins with a separator starts at "/".
#include "file_calls.h"
#include "fsnames.h"
#include "kernel.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace vorlix {
namespace win {

namespace {

// The absolute form of a path with "/" separators (see GetFullPathNameA);
// false with the last error set.
bool FullPath(const std::string& in, std::string& out) {
    if (in.empty()) {
        SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    std::string all;
    if (in[0] != '/' && !posix::CurrentDirectory(all)) return false;
    all += '/';
    all += in;
    out.clear();
    std::string::size_type i = 0;
    while (i < all.size()) {
        if (all[i] == '/') {
            ++i;
            continue;
        }
        std::string::size_type j = all.find('/', i);
        if (j == std::string::npos) j = all.size();
        std::string::size_type n = j - i;
        if (n == 1 && all[i] == '.') {
            // this directory
        } else if (n == 2 && all[i] == '.' && all[i + 1] == '.') {
            std::string::size_type up = out.find_last_of('/');
            out.resize(up == std::string::npos ? 0 : up);
        } else {
            out += '/';
            out.append(all, i, n);
        }
        i = j;
    }
    if (out.empty()) out = "/";
    else if (in.back() == '/') out += '/';
    return true;
}

// Copies a result of `length` characters with the Windows conventions of
// GetFullPathName: the length written, or the size needed with the NUL.
template <class Ch>
DWORD PutFullPath(const Ch* text, std::size_t length, DWORD size, Ch* buffer, Ch** filePart) {
    if (length >= 0xFFFFFFFFu) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    if (!buffer || length + 1 > size) return static_cast<DWORD>(length + 1);
    std::memcpy(buffer, text, length * sizeof(Ch));
    buffer[length] = 0;
    if (filePart) {
        std::size_t last = length;
        while (last > 0 && buffer[last - 1] != '/') --last;
        *filePart = last == length ? nullptr : buffer + last;
    }
    return static_cast<DWORD>(length);
}

// The program's file; false with the last error set.
bool ExecutablePath(std::string& out) {
    std::vector<char> buf(1024);
    for (;;) {
        ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
        if (n < 0) {
            posix::SetLastErrorFromErrno();
            return false;
        }
        if (static_cast<std::size_t>(n) < buf.size()) {
            out.assign(buf.data(), static_cast<std::size_t>(n));
            return true;
        }
        if (buf.size() >= (1u << 20)) {
            SetLastError(ERROR_FILENAME_EXCED_RANGE);
            return false;
        }
        buf.resize(buf.size() * 2);
    }
}

template <class Ch>
DWORD PutModuleName(const Ch* text, std::size_t length, Ch* buffer, DWORD size) {
    if (!buffer || size == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (length >= size) {
        std::memcpy(buffer, text, (size - 1) * sizeof(Ch));
        buffer[size - 1] = 0;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    std::memcpy(buffer, text, length * sizeof(Ch));
    buffer[length] = 0;
    return static_cast<DWORD>(length);
}

template <class Ch>
Ch* PutCurrentDirectory(const Ch* text, std::size_t length, Ch* buffer, int maxLen) {
    if (buffer) {
        if (maxLen <= 0 || length + 1 > static_cast<std::size_t>(maxLen)) {
            errno = ERANGE;
            return nullptr;
        }
    } else {
        std::size_t room = length + 1;
        if (maxLen > 0 && static_cast<std::size_t>(maxLen) > room) room = static_cast<std::size_t>(maxLen);
        buffer = static_cast<Ch*>(std::malloc(room * sizeof(Ch)));
        if (!buffer) {
            errno = ENOMEM;
            return nullptr;
        }
    }
    std::memcpy(buffer, text, length * sizeof(Ch));
    buffer[length] = 0;
    return buffer;
}

template <class Ch>
void CopyPart(Ch* out, const Ch* text, std::size_t length, std::size_t room) {
    if (!out) return;
    if (length >= room) length = room - 1;
    for (std::size_t i = 0; i < length; ++i) out[i] = text[i];
    out[length] = 0;
}

template <class Ch>
void SplitPath(const Ch* path, Ch* drive, Ch* dir, Ch* fname, Ch* ext) {
    if (drive) drive[0] = 0;
    std::size_t n = 0;
    if (path)
        while (path[n]) ++n;
    std::size_t nameStart = n;
    while (nameStart > 0 && path[nameStart - 1] != '/' && path[nameStart - 1] != '\\') --nameStart;
    std::size_t dot = n;
    for (std::size_t i = n; i > nameStart; --i)
        if (path[i - 1] == '.') {
            dot = i - 1;
            break;
        }
    CopyPart(dir, path, nameStart, _MAX_DIR);
    CopyPart(fname, path + nameStart, dot - nameStart, _MAX_FNAME);
    CopyPart(ext, path + dot, n - dot, _MAX_EXT);
}

// What differs between the two widths of a service: how a name becomes the
// byte path the system takes, and how a byte text is handed back.
template <class Ch>
struct Width;

template <>
struct Width<char> {
    static std::string Path(const char* name) { return posix::NativePath(name); }
    static const std::string& Text(const std::string& text) { return text; }
};

template <>
struct Width<WCHAR> {
    static std::string Path(const WCHAR* name) { return posix::NativePath(posix::WideToBytes(name).c_str()); }
    static std::u16string Text(const std::string& text) { return posix::BytesToWide(text.data(), text.size()); }
};

// Runs f, the body of a runtime function: a failed allocation gives the
// failure with errno ENOMEM, as the runtime reports it.
template <class R, class F>
R NoThrowErrno(R failure, F&& f) noexcept {
    try {
        return f();
    } catch (...) {
        errno = ENOMEM;
        return failure;
    }
}

template <class Ch>
DWORD FullPathName(const Ch* name, DWORD size, Ch* buffer, Ch** filePart) {
    posix::CountFileServiceCall();
    if (!name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return posix::NoThrow(DWORD(0), [&]() -> DWORD {
        std::string full;
        if (!FullPath(Width<Ch>::Path(name), full)) return 0;
        const auto& text = Width<Ch>::Text(full);
        return PutFullPath(reinterpret_cast<const Ch*>(text.data()), text.size(), size, buffer, filePart);
    });
}

template <class Ch>
DWORD ModuleFileName(HMODULE module, Ch* buffer, DWORD size) {
    posix::CountFileServiceCall();
    if (module) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    return posix::NoThrow(DWORD(0), [&]() -> DWORD {
        std::string exe;
        if (!ExecutablePath(exe)) return 0;
        const auto& text = Width<Ch>::Text(exe);
        return PutModuleName(reinterpret_cast<const Ch*>(text.data()), text.size(), buffer, size);
    });
}

template <class Ch>
Ch* CurrentDirectoryOn(int drive, Ch* buffer, int maxLen) {
    posix::CountFileServiceCall();
    if (drive != 0) {
        errno = EACCES;
        return nullptr;
    }
    return NoThrowErrno(static_cast<Ch*>(nullptr), [&]() -> Ch* {
        std::string cwd;
        if (!posix::CurrentDirectory(cwd)) return nullptr;
        const auto& text = Width<Ch>::Text(cwd);
        return PutCurrentDirectory(reinterpret_cast<const Ch*>(text.data()), text.size(), buffer, maxLen);
    });
}

template <class Ch>
int MakeDirectory(const Ch* path) {
    posix::CountFileServiceCall();
    if (!path) {
        errno = EINVAL;
        return -1;
    }
    return NoThrowErrno(-1, [&] { return ::mkdir(Width<Ch>::Path(path).c_str(), 0777) == 0 ? 0 : -1; });
}

}  // namespace

DWORD GetFullPathNameA(const char* lpFileName, DWORD nBufferLength, char* lpBuffer, char** lpFilePart) {
    return FullPathName(lpFileName, nBufferLength, lpBuffer, lpFilePart);
}

DWORD GetFullPathNameW(const WCHAR* lpFileName, DWORD nBufferLength, WCHAR* lpBuffer, WCHAR** lpFilePart) {
    return FullPathName(lpFileName, nBufferLength, lpBuffer, lpFilePart);
}

DWORD GetModuleFileNameA(HMODULE hModule, char* lpFilename, DWORD nSize) {
    return ModuleFileName(hModule, lpFilename, nSize);
}

DWORD GetModuleFileNameW(HMODULE hModule, WCHAR* lpFilename, DWORD nSize) {
    return ModuleFileName(hModule, lpFilename, nSize);
}

int _getdrive() { return 0; }

char* _getdcwd(int nDrive, char* pBuffer, int nMaxLen) { return CurrentDirectoryOn(nDrive, pBuffer, nMaxLen); }

WCHAR* _wgetdcwd(int nDrive, WCHAR* pBuffer, int nMaxLen) { return CurrentDirectoryOn(nDrive, pBuffer, nMaxLen); }

int _mkdir(const char* pszPath) { return MakeDirectory(pszPath); }

int _wmkdir(const WCHAR* pszPath) { return MakeDirectory(pszPath); }

void _splitpath(const char* pszPath, char* pszDrive, char* pszDir, char* pszFname, char* pszExt) {
    SplitPath(pszPath, pszDrive, pszDir, pszFname, pszExt);
}

void _wsplitpath(const WCHAR* pszPath, WCHAR* pszDrive, WCHAR* pszDir, WCHAR* pszFname, WCHAR* pszExt) {
    SplitPath(pszPath, pszDrive, pszDir, pszFname, pszExt);
}

}  // namespace win
}  // namespace vorlix

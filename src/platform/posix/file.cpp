// Files on POSIX: CreateFile, ReadFile, WriteFile and SetFilePointerEx over
// file descriptors.
#include "file_calls.h"
#include "fsnames.h"
#include "kernel.h"

#include <cerrno>
#include <climits>
#include <memory>
#include <new>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vorlix {
namespace win {

namespace {

HANDLE OpenNative(const std::string& path, DWORD access, DWORD disposition) {
    int flags = O_CLOEXEC;
    bool read = (access & GENERIC_READ) != 0;
    bool write = (access & GENERIC_WRITE) != 0;
    if (read && write) flags |= O_RDWR;
    else if (write) flags |= O_WRONLY;
    else flags |= O_RDONLY;
    switch (disposition) {
    case CREATE_NEW: flags |= O_CREAT | O_EXCL; break;
    case CREATE_ALWAYS: flags |= O_CREAT | O_TRUNC; break;
    case OPEN_EXISTING: break;
    case OPEN_ALWAYS: flags |= O_CREAT; break;
    case TRUNCATE_EXISTING: flags |= O_TRUNC; break;
    default: SetLastError(ERROR_INVALID_PARAMETER); return INVALID_HANDLE_VALUE;
    }
    if (path.empty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    bool existed = (disposition == OPEN_ALWAYS || disposition == CREATE_ALWAYS) && ::access(path.c_str(), F_OK) == 0;
    int fd;
    do {
        fd = ::open(path.c_str(), flags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        posix::SetLastErrorFromErrno();
        return INVALID_HANDLE_VALUE;
    }
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    // As on Windows: opening over an existing file with OPEN_ALWAYS or
    // CREATE_ALWAYS succeeds and says so.
    SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    posix::FileObject* obj = new (std::nothrow) posix::FileObject(fd);
    if (!obj) {
        ::close(fd);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE h = posix::Register(std::unique_ptr<posix::KernelObject>(obj));
    return h ? h : INVALID_HANDLE_VALUE;
}

// Moves n bytes between the file and p with io (read or write), again
// after an interruption, until all are moved, an error, or (bEndAtZero) a
// call that moves nothing: the end of the file for a read; for a write,
// moving nothing is an error. *pDone gets the count moved either way.
template <class Byte, class Io>
BOOL Transfer(HANDLE h, Byte* p, DWORD n, DWORD* pDone, Io io, bool bEndAtZero) {
    posix::CountFileServiceCall();
    if (pDone) *pDone = 0;
    BOOL ok = FALSE;
    bool found = posix::With<posix::FileObject>(h, [&](posix::FileObject& f) {
        if (!p && n) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return;
        }
        DWORD done = 0;
        while (done < n) {
            ssize_t moved = io(f.fd(), p + done, n - done);
            if (moved < 0 && errno == EINTR) continue;
            if (moved == 0 && bEndAtZero) break;
            if (moved <= 0) {
                posix::SetLastErrorFromErrno();
                if (pDone) *pDone = done;
                return;
            }
            done += static_cast<DWORD>(moved);
        }
        if (pDone) *pDone = done;
        ok = TRUE;
    });
    return found && ok;
}

}  // namespace

HANDLE CreateFileA(const char* lpFileName, DWORD dwDesiredAccess, DWORD, void*, DWORD dwCreationDisposition, DWORD,
                   HANDLE) {
    posix::CountFileServiceCall();
    return posix::NoThrow(INVALID_HANDLE_VALUE, [&] {
        return OpenNative(posix::NativePath(lpFileName), dwDesiredAccess, dwCreationDisposition);
    });
}

HANDLE CreateFileW(const WCHAR* lpFileName, DWORD dwDesiredAccess, DWORD, void*, DWORD dwCreationDisposition, DWORD,
                   HANDLE) {
    posix::CountFileServiceCall();
    // Names convert as for every 16-bit file service (fsnames.h), so that a
    // name a search reported opens again.
    return posix::NoThrow(INVALID_HANDLE_VALUE, [&] {
        return OpenNative(posix::NativePath(posix::WideToBytes(lpFileName).c_str()), dwDesiredAccess,
                          dwCreationDisposition);
    });
}

BOOL ReadFile(HANDLE hFile, void* lpBuffer, DWORD nNumberOfBytesToRead, DWORD* lpNumberOfBytesRead, void*) {
    return Transfer(hFile, static_cast<char*>(lpBuffer), nNumberOfBytesToRead, lpNumberOfBytesRead, ::read, true);
}

BOOL WriteFile(HANDLE hFile, const void* lpBuffer, DWORD nNumberOfBytesToWrite, DWORD* lpNumberOfBytesWritten, void*) {
    return Transfer(hFile, static_cast<const char*>(lpBuffer), nNumberOfBytesToWrite, lpNumberOfBytesWritten, ::write,
                    false);
}

BOOL SetFilePointerEx(HANDLE hFile, LARGE_INTEGER liDistanceToMove, LARGE_INTEGER* lpNewFilePointer,
                      DWORD dwMoveMethod) {
    posix::CountFileServiceCall();
    BOOL ok = FALSE;
    bool found = posix::With<posix::FileObject>(hFile, [&](posix::FileObject& f) {
        int whence;
        switch (dwMoveMethod) {
        case FILE_BEGIN: whence = SEEK_SET; break;
        case FILE_CURRENT: whence = SEEK_CUR; break;
        case FILE_END: whence = SEEK_END; break;
        default: SetLastError(ERROR_INVALID_PARAMETER); return;
        }
        off_t pos = ::lseek(f.fd(), static_cast<off_t>(liDistanceToMove.QuadPart), whence);
        if (pos < 0) {
            SetLastError(errno == EINVAL ? ERROR_NEGATIVE_SEEK : posix::ErrorFromErrno(errno));
            return;
        }
        if (lpNewFilePointer) lpNewFilePointer->QuadPart = static_cast<LONGLONG>(pos);
        ok = TRUE;
    });
    return found && ok;
}

}  // namespace win
}  // namespace vorlix

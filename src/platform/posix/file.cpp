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
    bool existed = (disposition == OPEN_ALWAYS || disposition == CREATE_ALWAYS) &&
                   ::access(path.c_str(), F_OK) == 0;
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

}  // namespace

HANDLE CreateFileA(const char* lpFileName, DWORD dwDesiredAccess, DWORD, void*,
                   DWORD dwCreationDisposition, DWORD, HANDLE) {
    posix::CountFileServiceCall();
    return posix::NoThrow(INVALID_HANDLE_VALUE, [&] {
        return OpenNative(posix::NativePath(lpFileName), dwDesiredAccess, dwCreationDisposition);
    });
}

HANDLE CreateFileW(const WCHAR* lpFileName, DWORD dwDesiredAccess, DWORD, void*,
                   DWORD dwCreationDisposition, DWORD, HANDLE) {
    posix::CountFileServiceCall();
    // Names convert as for every 16-bit file service (fsnames.h), so that a
    // name a search reported opens again.
    return posix::NoThrow(INVALID_HANDLE_VALUE, [&] {
        return OpenNative(posix::NativePath(posix::WideToBytes(lpFileName).c_str()), dwDesiredAccess,
                          dwCreationDisposition);
    });
}

BOOL ReadFile(HANDLE hFile, void* lpBuffer, DWORD nNumberOfBytesToRead, DWORD* lpNumberOfBytesRead,
              void*) {
    posix::CountFileServiceCall();
    if (lpNumberOfBytesRead) *lpNumberOfBytesRead = 0;
    BOOL ok = FALSE;
    bool found = posix::With<posix::FileObject>(hFile, [&](posix::FileObject& f) {
        if (!lpBuffer && nNumberOfBytesToRead) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return;
        }
        char* p = static_cast<char*>(lpBuffer);
        DWORD done = 0;
        while (done < nNumberOfBytesToRead) {
            ssize_t n = ::read(f.fd(), p + done, nNumberOfBytesToRead - done);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                posix::SetLastErrorFromErrno();
                if (lpNumberOfBytesRead) *lpNumberOfBytesRead = done;
                return;
            }
            if (n == 0) break;
            done += static_cast<DWORD>(n);
        }
        if (lpNumberOfBytesRead) *lpNumberOfBytesRead = done;
        ok = TRUE;
    });
    return found && ok;
}

BOOL WriteFile(HANDLE hFile, const void* lpBuffer, DWORD nNumberOfBytesToWrite,
               DWORD* lpNumberOfBytesWritten, void*) {
    posix::CountFileServiceCall();
    if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = 0;
    BOOL ok = FALSE;
    bool found = posix::With<posix::FileObject>(hFile, [&](posix::FileObject& f) {
        if (!lpBuffer && nNumberOfBytesToWrite) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return;
        }
        const char* p = static_cast<const char*>(lpBuffer);
        DWORD done = 0;
        while (done < nNumberOfBytesToWrite) {
            ssize_t n = ::write(f.fd(), p + done, nNumberOfBytesToWrite - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                posix::SetLastErrorFromErrno();
                if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = done;
                return;
            }
            done += static_cast<DWORD>(n);
        }
        if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = done;
        ok = TRUE;
    });
    return found && ok;
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

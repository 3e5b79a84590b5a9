#include "file_calls.h"
#include "kernel.h"

#include <cerrno>
#include <new>

#include <unistd.h>

namespace vorlix {
namespace win {
namespace posix {

namespace {

// Zero-initialised, and its destructor does nothing: handles stay valid
// while other statics are destroyed.
KernelTable g_kernels;

thread_local DWORD t_lastError = 0;

}  // namespace

thread_local unsigned long t_fileServiceCalls = 0;

unsigned long FileServiceCalls() noexcept { return t_fileServiceCalls; }

FileObject::~FileObject() {
    if (m_fd >= 0) ::close(m_fd);
}

KernelTable& Kernels() noexcept { return g_kernels; }

HANDLE Register(std::unique_ptr<KernelObject> obj) noexcept {
    HANDLE h = g_kernels.Add(obj.get());
    if (!h) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    obj.release();  // the table owns it now
    return h;
}

std::shared_ptr<KernelObject> Lookup(HANDLE h) noexcept {
    // The use lives in a block that the shared pointer owns; the pointer
    // itself aliases the object.
    struct Hold {
        KernelTable::Use use;
    };
    Hold* hold = new (std::nothrow) Hold{KernelTable::Use(g_kernels, h)};
    if (!hold || !hold->use) {
        delete hold;
        return nullptr;
    }
    KernelObject* obj = hold->use.get();
    return NoThrow(std::shared_ptr<KernelObject>(),
                   [&] { return std::shared_ptr<KernelObject>(std::shared_ptr<Hold>(hold), obj); });
}

bool Close(HANDLE h) noexcept { return g_kernels.Close(h); }

DWORD ErrorFromErrno(int err) {
    switch (err) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: return ERROR_ACCESS_DENIED;
    case EBADF: return ERROR_INVALID_HANDLE;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case EEXIST: return ERROR_FILE_EXISTS;
    case ENOSPC: return ERROR_DISK_FULL;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case EBUSY:
    case ETXTBSY: return ERROR_SHARING_VIOLATION;
    default: return ERROR_INVALID_PARAMETER;
    }
}

void SetLastErrorFromErrno() { t_lastError = ErrorFromErrno(errno); }

std::string NativePath(const char* path) {
    std::string s(path ? path : "");
    for (char& c : s)
        if (c == '\\') c = '/';
    return s;
}

}  // namespace posix

BOOL CloseHandle(HANDLE hObject) {
    posix::CountFileServiceCall();
    if (!posix::Close(hObject)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

DWORD GetLastError() { return posix::t_lastError; }
void SetLastError(DWORD dwErrCode) { posix::t_lastError = dwErrCode; }

}  // namespace win
}  // namespace vorlix

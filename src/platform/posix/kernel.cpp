#include "kernel.h"

#include <cerrno>
#include <mutex>
#include <unordered_map>

#include <unistd.h>

namespace vorlix {
namespace win {
namespace posix {

namespace {

struct Registry {
    std::mutex lock;
    std::unordered_map<HANDLE, std::shared_ptr<KernelObject>> objects;
};

Registry& registry() {
    static Registry* r = new Registry;  // never destroyed: handles may outlive statics
    return *r;
}

thread_local DWORD t_lastError = 0;

}  // namespace

FileObject::~FileObject() {
    if (m_fd >= 0) ::close(m_fd);
}

HANDLE Register(std::unique_ptr<KernelObject> obj) {
    std::shared_ptr<KernelObject> shared(std::move(obj));
    HANDLE h = shared.get();
    Registry& r = registry();
    std::lock_guard<std::mutex> hold(r.lock);
    r.objects.emplace(h, std::move(shared));
    return h;
}

std::shared_ptr<KernelObject> Lookup(HANDLE h) {
    Registry& r = registry();
    std::lock_guard<std::mutex> hold(r.lock);
    auto it = r.objects.find(h);
    return it == r.objects.end() ? nullptr : it->second;
}

bool Close(HANDLE h) {
    std::shared_ptr<KernelObject> obj;
    {
        Registry& r = registry();
        std::lock_guard<std::mutex> hold(r.lock);
        auto it = r.objects.find(h);
        if (it == r.objects.end()) return false;
        obj = std::move(it->second);
        r.objects.erase(it);
    }
    return true;  // the object goes when its last user lets go
}

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

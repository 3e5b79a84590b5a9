// Kernel objects of the POSIX platform layer: every HANDLE the layer hands
// out points to one, and the registry tells live handles from stale or
// foreign pointers so that a bad handle fails with ERROR_INVALID_HANDLE
// instead of touching freed memory.
#ifndef VORLIX_SRC_PLATFORM_POSIX_KERNEL_H
#define VORLIX_SRC_PLATFORM_POSIX_KERNEL_H

#include <vorlix/win.h>

#include <memory>
#include <string>

namespace vorlix {
namespace win {
namespace posix {

class KernelObject {
public:
    virtual ~KernelObject() = default;
};

class FileObject : public KernelObject {
public:
    explicit FileObject(int fd) : m_fd(fd) {}
    ~FileObject() override;
    int fd() const { return m_fd; }

private:
    int m_fd;
};

// Registers an object and returns its handle.
HANDLE Register(std::unique_ptr<KernelObject> obj);
// Runs f on the live object of type T behind h, under a shared hold that
// keeps it alive; false (and ERROR_INVALID_HANDLE) when h names none.
template <class T, class F>
bool With(HANDLE h, F&& f);
// Unregisters and destroys; false when h names no object.
bool Close(HANDLE h);
// The shared pointer for a live handle, or null.
std::shared_ptr<KernelObject> Lookup(HANDLE h);

template <class T, class F>
bool With(HANDLE h, F&& f) {
    std::shared_ptr<KernelObject> obj = Lookup(h);
    T* t = dynamic_cast<T*>(obj.get());
    if (!t) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    f(*t);
    return true;
}

// Maps errno to the Windows error code.
DWORD ErrorFromErrno(int err);
// Sets the last error from errno.
void SetLastErrorFromErrno();

// A path with "\" turned into "/".
std::string NativePath(const char* path);
// UTF-16 to UTF-8 (lone surrogates become U+FFFD).
std::string Utf16ToUtf8(const WCHAR* text, std::size_t length);

}  // namespace posix
}  // namespace win
}  // namespace vorlix

#endif

// Kernel objects of the POSIX platform layer: every HANDLE the layer hands
// out is a value of one handle table (../../base/handle_table.h) that holds
// them all, whatever their kind. A closed, foreign or garbage HANDLE fails
// with ERROR_INVALID_HANDLE without touching memory, and an object stays
// alive while a service is using it, even if another thread closes its
// handle meanwhile.
//
// No service lets an exception out: where a service uses standard
// containers or strings, it runs under With or NoThrow, which turn a failed
// allocation into the service's failure with ERROR_NOT_ENOUGH_MEMORY.
#ifndef VORLIX_SRC_PLATFORM_POSIX_KERNEL_H
#define VORLIX_SRC_PLATFORM_POSIX_KERNEL_H

#include <vorlix/win.h>

#include "../../base/handle_table.h"

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

// The table of every kernel object; its tag tells its values from the file
// handles of the base.
typedef vorlix::detail::HandleTable<KernelObject, 5> KernelTable;
KernelTable& Kernels() noexcept;

// Registers an object and returns its handle; null (with
// ERROR_NOT_ENOUGH_MEMORY, and the object destroyed) when the table is full
// or obj is null. A service whose Windows form fails with
// INVALID_HANDLE_VALUE turns null into that.
HANDLE Register(std::unique_ptr<KernelObject> obj) noexcept;
// Runs f on the live object of type T behind h, holding it for the call.
// False when h names no object of type T (ERROR_INVALID_HANDLE), or when f
// throws (ERROR_NOT_ENOUGH_MEMORY; standard containers throw only when
// memory or size runs out).
template <class T, class F>
bool With(HANDLE h, F&& f) noexcept;
// Closes the handle; the object goes when its last use ends. False when h
// names no object.
bool Close(HANDLE h) noexcept;
// A shared pointer that holds the object of a live handle as long as it
// lives; null when h names none (or memory runs out).
std::shared_ptr<KernelObject> Lookup(HANDLE h) noexcept;

// Runs f and returns its result; when f throws, sets ERROR_NOT_ENOUGH_MEMORY
// and returns failure instead. The boundary of every service that uses
// standard containers outside With.
template <class R, class F>
R NoThrow(R failure, F&& f) noexcept {
    try {
        return f();
    } catch (...) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return failure;
    }
}

template <class T, class F>
bool With(HANDLE h, F&& f) noexcept {
    KernelTable::Use use(Kernels(), h);
    T* t = use ? dynamic_cast<T*>(use.get()) : nullptr;
    if (!t) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    return NoThrow(false, [&] {
        f(*t);
        return true;
    });
}

// Goes up with every _tzset, so that what was computed for one zone is
// known to be stale.
unsigned ZoneGeneration();

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

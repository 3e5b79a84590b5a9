// Direct references to mutexes and events, for a user that keeps their
// handles open for as long as it calls through them.
//
// A call through a handle looks the handle up for the length of the call:
// on POSIX in the handle table, with a use count taken and given back (two
// atomic operations) so that another thread's CloseHandle cannot free the
// object under the call. A user that owns its handles and closes them only
// when no call of its own uses them (the index locks, which are destroyed
// only when no thread uses them) resolves each handle once and calls through
// the reference: on POSIX the object itself, on Windows the handle.
//
// The calls mean what the Windows services of the same names mean; a
// reference is valid from RefOf until its handle is closed.
#ifndef VORLIX_SRC_PLATFORM_KERNEL_REF_H
#define VORLIX_SRC_PLATFORM_KERNEL_REF_H

#include <vorlix/win.h>

#if !defined(_WIN32)
namespace vorlix {
namespace win {
namespace posix {
class WaitCore;
}  // namespace posix
}  // namespace win
}  // namespace vorlix
#endif

namespace vorlix {
namespace detail {

using win::BOOL;
using win::HANDLE;

#if defined(_WIN32)

typedef HANDLE KernelRef;
inline KernelRef RefOf(HANDLE h) { return h; }
inline DWORD RefWait(KernelRef r, DWORD dwMilliseconds) { return win::WaitForSingleObject(r, dwMilliseconds); }
inline BOOL RefReleaseMutex(KernelRef r) { return win::ReleaseMutex(r); }
inline BOOL RefSetEvent(KernelRef r) { return win::SetEvent(r); }
inline BOOL RefResetEvent(KernelRef r) { return win::ResetEvent(r); }

#else

typedef win::posix::WaitCore* KernelRef;
// The mutex or event behind h; null when h is neither.
KernelRef RefOf(HANDLE h);
// WaitForSingleObject.
DWORD RefWait(KernelRef r, DWORD dwMilliseconds);
// ReleaseMutex (FALSE for an event).
BOOL RefReleaseMutex(KernelRef r);
// SetEvent and ResetEvent (FALSE for a mutex).
BOOL RefSetEvent(KernelRef r);
BOOL RefResetEvent(KernelRef r);

#endif

}  // namespace detail
}  // namespace vorlix

#endif

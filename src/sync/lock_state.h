// What the index locks keep beyond their public fields, and the steps that
// the three lock classes share.
//
// The owner array is allocated behind a small block (LockState): the
// release generations that waiters sleep on (see "Wake-ups" in
// <vorlix/sync/indexmutex.h>) with the count of waiters, so that a release
// nobody waits for wakes nobody; direct references to the lock's mutexes
// and events (../platform/kernel_ref.h), resolved once when the lock is
// created, since the lock owns its handles until Destroy, which runs only
// when no thread uses the lock; and, for a lock in shared memory, the guard
// mutex of each index. The block lives exactly as long as the owner array,
// which the lock has whenever it is on.
#ifndef VORLIX_SRC_SYNC_LOCK_STATE_H
#define VORLIX_SRC_SYNC_LOCK_STATE_H

#include <vorlix/sync/indexmutex.h>

#include <atomic>

#include "../platform/kernel_ref.h"

namespace vorlix {
namespace detail {

struct LockState {
    std::atomic<DWORD> releaseGen[2];  // raised by a write release [0] or last-reader release [1] that has waiters
    std::atomic<DWORD> waiters[2];     // threads waiting for a release of that kind
    void** phGuard;                    // per index: named guard mutex (shared memory), or null
    KernelRef events[2];               // the write-release and read-release events
    KernelRef* flagRef;                // per index: the lock-flag mutex
    KernelRef* indexRef;               // per index: the index mutex
    KernelRef* guardRef;               // per index: the guard mutex, or null
};

constexpr int kMaxIndexCount = 0x3FFFFFFF;

// A zeroed owner array of nCount entries behind its state block; null when
// memory is short.
DWORD* AllocOwners(int nCount);
// Frees an owner array of AllocOwners (null is ignored); closes the guards.
void FreeOwners(DWORD* pdwOwners, int nCount);
LockState* StateOf(DWORD* pdwOwners);

// Resolves the handles of a lock that is on (guards included) into its
// state's references; false when memory is short.
bool ResolveRefs(CWaitIndexMutex& lock);

// Creates the lock's two events (write release first) unless it has them.
bool CreateReleaseEvents(CWaitIndexMutex& lock);
// Closes the events a lock may have.
void CloseReleaseEvents(CWaitIndexMutex& lock);
// Closes the handles of an array of nCount mutex handles and frees it.
void FreeHandles(void** phArray, int nCount);

}  // namespace detail
}  // namespace vorlix

#endif

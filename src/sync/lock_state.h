// What the index locks keep beyond their public fields, and the steps that
// the three lock classes share.
//
// The owner array is allocated behind a small block (LockState): the
// release generations that waiters sleep on (see "Wake-ups" in
// <vorlix/sync/indexmutex.h>) and, for a lock in shared memory, the guard
// mutex of each index. The block lives exactly as long as the owner array,
// which the lock has whenever it is on.
#ifndef VORLIX_SRC_SYNC_LOCK_STATE_H
#define VORLIX_SRC_SYNC_LOCK_STATE_H

#include <vorlix/sync/indexmutex.h>

#include <atomic>

namespace vorlix {
namespace detail {

struct LockState {
    std::atomic<DWORD> releaseGen[2];  // raised by every write release [0] and last-reader release [1]
    void** phGuard;                    // per index: named guard mutex (shared memory), or null
};

constexpr int kMaxIndexCount = 0x3FFFFFFF;

// A zeroed owner array of nCount entries behind its state block; null when
// memory is short.
DWORD* AllocOwners(int nCount);
// Frees an owner array of AllocOwners (null is ignored); closes the guards.
void FreeOwners(DWORD* pdwOwners, int nCount);
LockState* StateOf(DWORD* pdwOwners);

// Creates the lock's two events (write release first) unless it has them.
bool CreateReleaseEvents(CWaitIndexMutex& lock);
// Closes the events a lock may have.
void CloseReleaseEvents(CWaitIndexMutex& lock);
// Closes the handles of an array of nCount mutex handles and frees it.
void FreeHandles(void** phArray, int nCount);

}  // namespace detail
}  // namespace vorlix

#endif

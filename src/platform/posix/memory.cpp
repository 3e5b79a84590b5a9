// Virtual memory with the Windows rules over mmap: a reservation is a
// PROT_NONE mapping that takes no memory, committing makes pages readable
// and writable (the system supplies them zeroed on first touch), and
// decommitting gives the pages back to the system. The reservations are
// recorded so that a release finds its size and an address outside every
// reservation is refused, as Windows refuses it.
//
// On Linux decommitting is madvise(MADV_DONTNEED), which drops the pages
// and leaves the mapping as it was: the pages read as zeros if touched
// again. Making them inaccessible as Windows does would split the mapping
// at every decommitted range, and a process may hold only so many mappings
// (65530 by default); the heap, which decommits 64 KiB slabs here and there
// in its space, would soon run out of them. Elsewhere a fresh inaccessible
// mapping replaces the range.
//
// The lock of the reservations is the only lock here; the fork handlers
// (SetForkHandlers) take it before fork() so that the child does not
// inherit it held by a thread that is not there.
#include "kernel.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <new>

namespace vorlix {
namespace win {

namespace {

constexpr DWORD ERROR_INVALID_ADDRESS = 487;

// A plain mutex, initialized statically: no thread ever builds it, so a
// child forked at any moment cannot find it half-built, and it is never
// destroyed (blocks are given back until the very end of the program).
pthread_mutex_t g_reservationLock = PTHREAD_MUTEX_INITIALIZER;

class ReservationHold {
public:
    ReservationHold() { pthread_mutex_lock(&g_reservationLock); }
    ~ReservationHold() { pthread_mutex_unlock(&g_reservationLock); }
    ReservationHold(const ReservationHold&) = delete;
    ReservationHold& operator=(const ReservationHold&) = delete;
};
// Made on first use under the lock, which the fork handlers hold across
// fork(): no child finds it half-made.
std::map<std::uintptr_t, std::size_t>& Reservations() {
    static auto* r = new std::map<std::uintptr_t, std::size_t>;
    return *r;
}

// Asked each time (the C library keeps it at hand): a static made on first
// use would have a guard that a fork could catch half-way.
std::size_t PageSize() { return static_cast<std::size_t>(sysconf(_SC_PAGESIZE)); }

// The whole pages that cover [p, p + n), when they lie inside one
// reservation; the caller holds the lock.
bool InsideReservation(std::uintptr_t& lo, std::uintptr_t& hi, void* p, std::size_t n) {
    std::size_t page = PageSize();
    std::uintptr_t a = reinterpret_cast<std::uintptr_t>(p);
    if (n == 0 || a + n < a) return false;
    lo = a & ~(page - 1);
    hi = (a + n + page - 1) & ~(page - 1);
    auto& r = Reservations();
    auto it = r.upper_bound(lo);
    if (it == r.begin()) return false;
    --it;
    return hi <= it->first + it->second;
}

void* Reserve(std::size_t n, int prot) {
    std::size_t page = PageSize();
    if (n == 0 || n > SIZE_MAX - page) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    n = (n + page - 1) & ~(page - 1);
    void* p = mmap(nullptr, n, prot, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (p == MAP_FAILED) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    try {
        ReservationHold hold;
        Reservations()[reinterpret_cast<std::uintptr_t>(p)] = n;
    } catch (const std::bad_alloc&) {
        munmap(p, n);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    return p;
}

// Gives the pages of [lo, hi) back to the system; they stay reserved.
bool Decommit(std::uintptr_t lo, std::uintptr_t hi) {
#if defined(__linux__)
    return madvise(reinterpret_cast<void*>(lo), hi - lo, MADV_DONTNEED) == 0;
#else
    void* p = mmap(reinterpret_cast<void*>(lo), hi - lo, PROT_NONE,
                   MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_FIXED, -1, 0);
    return p != MAP_FAILED;
#endif
}

// Set once, possibly by another thread than the one that forks: atomic, so
// that the handlers see what was stored before they were registered.
struct ForkHandlers {
    std::atomic<void (*)()> pfnPrepare{nullptr};
    std::atomic<void (*)()> pfnParent{nullptr};
    std::atomic<void (*)()> pfnChild{nullptr};
};
ForkHandlers g_fork;

void Call(const std::atomic<void (*)()>& pfn) {
    if (void (*f)() = pfn.load(std::memory_order_acquire)) f();
}

// The user's locks first, then ours: the user (the heap) calls VirtualAlloc
// while holding its own locks, never the other way round.
void PrepareFork() {
    Call(g_fork.pfnPrepare);
    pthread_mutex_lock(&g_reservationLock);
}
void ParentAfterFork() {
    pthread_mutex_unlock(&g_reservationLock);
    Call(g_fork.pfnParent);
}
// The calling thread took the lock before fork() and is the only thread of
// the child, so releasing it leaves it free.
void ChildAfterFork() {
    pthread_mutex_unlock(&g_reservationLock);
    Call(g_fork.pfnChild);
}

}  // namespace

int _heapmin() {
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
    return 0;
}

BOOL SetForkHandlers(void (*pfnPrepare)(), void (*pfnParent)(), void (*pfnChild)()) {
    static std::atomic<bool> bSet{false};
    if (bSet.exchange(true)) {
        SetLastError(ERROR_ALREADY_EXISTS);
        return FALSE;
    }
    g_fork.pfnPrepare.store(pfnPrepare, std::memory_order_release);
    g_fork.pfnParent.store(pfnParent, std::memory_order_release);
    g_fork.pfnChild.store(pfnChild, std::memory_order_release);
    if (pthread_atfork(PrepareFork, ParentAfterFork, ChildAfterFork) != 0) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    return TRUE;
}

void* VirtualAlloc(void* lpAddress, SIZE_T dwSize, DWORD flAllocationType, DWORD flProtect) {
    bool bCommit = (flAllocationType & MEM_COMMIT) != 0;
    bool bReserve = (flAllocationType & MEM_RESERVE) != 0;
    if ((!bCommit && !bReserve) || (flAllocationType & ~(MEM_COMMIT | MEM_RESERVE)) != 0 ||
        (flProtect != PAGE_READWRITE && flProtect != PAGE_NOACCESS) || (bCommit && flProtect != PAGE_READWRITE)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (lpAddress == nullptr) return Reserve(dwSize, bCommit ? PROT_READ | PROT_WRITE : PROT_NONE);
    if (!bCommit) {
        // Reserving at a chosen address is not offered.
        SetLastError(ERROR_INVALID_ADDRESS);
        return nullptr;
    }
    ReservationHold hold;
    std::uintptr_t lo, hi;
    if (!InsideReservation(lo, hi, lpAddress, dwSize)) {
        SetLastError(ERROR_INVALID_ADDRESS);
        return nullptr;
    }
    if (mprotect(reinterpret_cast<void*>(lo), hi - lo, PROT_READ | PROT_WRITE) != 0) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    return reinterpret_cast<void*>(lo);
}

BOOL VirtualFree(void* lpAddress, SIZE_T dwSize, DWORD dwFreeType) {
    ReservationHold hold;
    if (dwFreeType == MEM_RELEASE) {
        auto& r = Reservations();
        auto it = r.find(reinterpret_cast<std::uintptr_t>(lpAddress));
        if (dwSize != 0 || it == r.end()) {
            SetLastError(dwSize != 0 ? ERROR_INVALID_PARAMETER : ERROR_INVALID_ADDRESS);
            return FALSE;
        }
        munmap(lpAddress, it->second);
        r.erase(it);
        return TRUE;
    }
    if (dwFreeType != MEM_DECOMMIT) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (dwSize == 0) {
        // The whole region, given by its base address.
        auto it = Reservations().find(reinterpret_cast<std::uintptr_t>(lpAddress));
        if (it == Reservations().end()) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        dwSize = it->second;
    }
    std::uintptr_t lo, hi;
    if (!InsideReservation(lo, hi, lpAddress, dwSize)) {
        SetLastError(ERROR_INVALID_ADDRESS);
        return FALSE;
    }
    if (!Decommit(lo, hi)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    return TRUE;
}

}  // namespace win
}  // namespace vorlix

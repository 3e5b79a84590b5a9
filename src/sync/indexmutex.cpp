// The index reader/writer lock: single and multi waits and releases over
// the lock-flag mutexes, index mutexes and release events (see
// <vorlix/sync/indexmutex.h> for the protocol, the wake-ups and what happens
// to holders that end).
#include <vorlix/sync/indexmutex.h>

#include <vorlix/base/heap.h>
#include <vorlix/base/objcore.h>
#include <vorlix/util/winhelp.h>
#include <vorlix/win.h>

#include <cstring>
#include <new>

#include "lock_state.h"

using namespace vorlix::win;

namespace vorlix {

namespace {

constexpr DWORD kWritten = 0x80000000u;
constexpr DWORD kMaxReaders = 0x7FFFFFFFu;
constexpr DWORD kReleaseForReadWait = 20000;
constexpr int kWriteGen = 0;
constexpr int kReadGen = 1;
constexpr int kScratchOnStack = 64;

std::atomic<LockTraceHook> g_traceHook{nullptr};

void Trace(const char* pszText) {
    LockTraceHook hook = g_traceHook.load(std::memory_order_acquire);
    if (hook) hook(0, pszText);
}

// Milliseconds of the runtime clock, in 32-bit unsigned arithmetic.
DWORD NowMs() {
    _timeb t;
    _ftime(&t);
    return static_cast<DWORD>(static_cast<DWORD>(t.time) * 1000u + t.millitm);
}

bool Acquired(DWORD r) { return r == WAIT_OBJECT_0 || r == WAIT_ABANDONED; }

using detail::KernelRef;
using detail::RefReleaseMutex;
using detail::RefWait;

// The steps of the lock over its public fields.
class Ops {
public:
    explicit Ops(CWaitIndexMutex& lock) : m_lock(lock), m_state(detail::StateOf(lock.m_pdwMutexOwner)) {}

    bool InRange(DWORD nIndex) const {
        bool ok = nIndex < static_cast<DWORD>(m_lock.m_nIndexCount);
        if (!ok) PrjWarningMsg(0);
        return ok;
    }
    DWORD& Flag(DWORD i) const { return m_lock.m_pdwLockFlag[i]; }
    DWORD& Owner(DWORD i) const { return m_lock.m_pdwMutexOwner[i]; }
    KernelRef IndexMutex(DWORD i) const { return m_state->indexRef[i]; }

    // The lock-flag mutex of the index and, across processes, its guard;
    // an owner that ended leaves them to us.
    bool TakeFlag(DWORD i, DWORD ms) const {
        KernelRef flag = m_state->flagRef[i];
        if (!Acquired(RefWait(flag, ms))) return false;
        if (m_state->guardRef && !Acquired(RefWait(m_state->guardRef[i], ms))) {
            RefReleaseMutex(flag);
            return false;
        }
        return true;
    }
    BOOL GiveFlag(DWORD i) const {
        if (m_state->guardRef) RefReleaseMutex(m_state->guardRef[i]);
        return RefReleaseMutex(m_state->flagRef[i]);
    }

    // A release of some index: the generation first, when anybody waits,
    // then the event.
    void Released(int which) const {
        if (m_state->waiters[which].load(std::memory_order_relaxed) != 0) {
            m_state->releaseGen[which].fetch_add(1, std::memory_order_seq_cst);
            WakeByAddressAll(&m_state->releaseGen[which]);
        }
        detail::RefSetEvent(m_state->events[which]);
    }

    // Sleeps until the release generation moves from g, or ms pass.
    void AwaitRelease(int which, DWORD g, DWORD ms) const {
        std::atomic<DWORD>& gen = m_state->releaseGen[which];
        DWORD start = NowMs();
        while (gen.load(std::memory_order_seq_cst) == g) {
            DWORD e = NowMs() - start;
            if (e >= ms) return;
            WaitOnAddress(reinterpret_cast<volatile void*>(&gen), &g, sizeof g, ms - e);
        }
    }

    // The index is busy for the caller (flag mutex held): probes the index
    // mutex. When its holder has ended, removes the holder's share and
    // returns true if the caller got the index that way.
    bool TakeFromEndedHolder(DWORD i, bool bWrite, DWORD dwOwner) const {
        DWORD r = RefWait(IndexMutex(i), 0);
        if (r == WAIT_OBJECT_0) RefReleaseMutex(IndexMutex(i));  // unowned (readers left without it), or ours
        if (r != WAIT_ABANDONED) return false;
        DWORD flag = Flag(i);
        flag = (flag & kWritten) ? 0 : flag - 1;
        Owner(i) = 0;
        if (flag == 0 || !bWrite) {
            // Free: ours as if released. Readers remain: a reader joins them
            // and holds the index mutex for them.
            Flag(i) = bWrite ? kWritten : flag + 1;
            Owner(i) = bWrite ? 0 : dwOwner;
            return true;
        }
        Flag(i) = flag;
        RefReleaseMutex(IndexMutex(i));
        return false;
    }

    // WaitForRead / WaitForWrite once the lock is on and bWait is set. The
    // clock is read only once a step has to wait: steps that do not block
    // take no time to speak of, so until then the elapsed time is 0. The
    // first look, when nothing blocks, is kept apart from the loop.
    int WaitIndex(DWORD i, DWORD dwTimeout, DWORD dwOwner, bool bWrite) const {
        // Elapsed time is never below a time-out of 0.
        if (dwTimeout == 0) return 0;
        if (!TakeFlag(i, 0)) return WaitIndexTimed(i, dwTimeout, dwOwner, bWrite);
        DWORD flag = Flag(i);
        if (flag == 0) {
            if (Acquired(RefWait(IndexMutex(i), 0))) {
                Flag(i) = bWrite ? kWritten : 1;
                if (!bWrite) Owner(i) = dwOwner;
                GiveFlag(i);
                return 1;
            }
        } else if (!bWrite && !(flag & kWritten) && flag != kMaxReaders) {
            Flag(i) = flag + 1;
            GiveFlag(i);
            return 1;
        }
        return WaitIndexHeld(i, dwTimeout, dwOwner, bWrite, false, 0);
    }

    // The flag mutex could not be had at once: the wait as timed from here.
    int WaitIndexTimed(DWORD i, DWORD dwTimeout, DWORD dwOwner, bool bWrite) const {
        DWORD start = NowMs();
        if (!TakeFlag(i, dwTimeout)) return 0;
        return WaitIndexHeld(i, dwTimeout, dwOwner, bWrite, true, start);
    }

    // The loop of the wait, entered with the flag mutex held; the remaining
    // time is measured from `start` when `timed`.
    int WaitIndexHeld(DWORD i, DWORD dwTimeout, DWORD dwOwner, bool bWrite, bool timed, DWORD start) const {
        DWORD remaining = dwTimeout;
        for (;;) {
            if (timed) {
                DWORD elapsed = NowMs() - start;
                if (elapsed >= remaining) {
                    GiveFlag(i);
                    return 0;
                }
                remaining -= elapsed;
            }
            DWORD flag = Flag(i);
            bool busy = bWrite ? flag != 0 : (flag & kWritten) != 0;
            if (busy && TakeFromEndedHolder(i, bWrite, dwOwner)) {
                GiveFlag(i);
                return 1;
            }
            flag = Flag(i);
            if (flag == 0) {
                // Free: the index mutex, waited for under the flag mutex.
                if (!Acquired(RefWait(IndexMutex(i), remaining))) {
                    GiveFlag(i);
                    return 0;
                }
                Flag(i) = bWrite ? kWritten : 1;
                if (!bWrite) Owner(i) = dwOwner;
                GiveFlag(i);
                return 1;
            }
            if (!bWrite && !(flag & kWritten)) {
                if (flag == kMaxReaders) {
                    GiveFlag(i);
                    return 0;
                }
                Flag(i) = flag + 1;
                GiveFlag(i);
                return 1;
            }
            // Written (or read, for a writer): wait for a release. Counted
            // as a waiter before the flag mutex goes, so that the release
            // that follows raises the generation noted here.
            int which = (flag & kWritten) ? kWriteGen : kReadGen;
            m_state->waiters[which].fetch_add(1, std::memory_order_relaxed);
            detail::RefResetEvent(m_state->events[which]);
            DWORD g = m_state->releaseGen[which].load(std::memory_order_seq_cst);
            GiveFlag(i);
            start = NowMs();
            AwaitRelease(which, g, remaining);
            m_state->waiters[which].fetch_sub(1, std::memory_order_relaxed);
            DWORD elapsed = NowMs() - start;
            if (elapsed >= remaining) return 0;
            remaining -= elapsed;
            start = NowMs();
            timed = true;
            if (!TakeFlag(i, remaining)) return 0;
        }
    }

    // ReleaseForRead once the lock is on and the index in range.
    int ReleaseRead(DWORD i, DWORD dwOwner) const {
        if (!TakeFlag(i, kReleaseForReadWait)) return 0;
        DWORD flag = Flag(i);
        if (flag == 1 && Owner(i) == dwOwner) {
            // The last reader, the one that holds the index mutex.
            return FreeAfterRead(i);
        }
        return ReleaseReadOther(i, dwOwner, flag);
    }

    // ReleaseForRead in the other cases, the flag mutex held.
    int ReleaseReadOther(DWORD i, DWORD dwOwner, DWORD flag) const {
        if (flag & kWritten) {
            GiveFlag(i);
            Trace("ReleaseForRead - 02");
            return 1;
        }
        if (flag == 0) {
            GiveFlag(i);
            Trace("ReleaseForRead - 04");
            return 1;
        }
        if (flag >= 2) {
            if (Owner(i) == dwOwner) {
                GiveFlag(i);  // the first reader leaves last
                return 0;
            }
            Flag(i) = flag - 1;
            GiveFlag(i);
            return 1;
        }
        // The last reader, not the recorded owner: it frees the index only
        // when nobody holds the index mutex (its holder has ended).
        if (!Acquired(RefWait(IndexMutex(i), 0))) {
            GiveFlag(i);
            Trace("ReleaseForRead - 03");
            return 1;
        }
        return FreeAfterRead(i);
    }

    // Frees index i after its last reader, the flag mutex held; releases it.
    int FreeAfterRead(DWORD i) const {
        Flag(i) = 0;
        Owner(i) = 0;
        RefReleaseMutex(IndexMutex(i));
        GiveFlag(i);
        Released(kReadGen);
        return 1;
    }

private:
    CWaitIndexMutex& m_lock;
    detail::LockState* m_state;
};

// Scratch arrays of a multi operation: on the stack for small sets.
template <class T>
class Scratch {
public:
    explicit Scratch(int n) {
        if (n <= kScratchOnStack) {
            m_p = m_local;
        } else {
            m_p = static_cast<T*>(detail::BlockAlloc(sizeof(T) * static_cast<std::size_t>(n)));
            m_heap = m_p != nullptr;
        }
    }
    ~Scratch() {
        if (m_heap) detail::BlockFree(m_p);
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    T* get() const { return m_p; }
    T& operator[](int i) const { return m_p[i]; }

private:
    T m_local[kScratchOnStack];
    T* m_p = nullptr;
    bool m_heap = false;
};

bool AllInRange(const Ops& ops, const DWORD* pdwIndex, int nCount) {
    if (nCount > 0 && !pdwIndex) {
        PrjWarningMsg(0);
        return false;
    }
    for (int p = 0; p < nCount; ++p)
        if (!ops.InRange(pdwIndex[p])) return false;
    return true;
}

// Whether a combined wait on n objects took them all.
bool TookAll(DWORD r, int n) {
    DWORD count = static_cast<DWORD>(n);
    return r < WAIT_OBJECT_0 + count || (r >= WAIT_ABANDONED_0 && r < WAIT_ABANDONED_0 + count);
}

// The passes over the indices that were busy at the start, within the
// budget of dwTimeout / 1000 + 1 seconds counted from `start`.
template <class TryOne>
bool RunPasses(DWORD* busy, char* got, int nBusy, DWORD dwTimeout, std::time_t start, TryOne tryOne) {
    const std::time_t budget = static_cast<std::time_t>(dwTimeout / 1000 + 1);
    if (time(nullptr) - start > budget) return false;
    for (;;) {
        int pending = 0;
        for (int b = 0; b < nBusy; ++b) {
            if (got[b]) continue;
            if (tryOne(busy[b])) got[b] = 1;
            else ++pending;
        }
        if (time(nullptr) - start <= budget) {
            if (pending == 0) return true;
        } else {
            return pending == 0;
        }
    }
}

}  // namespace

LockTraceHook SetLockTraceHook(LockTraceHook pfnHook) {
    return g_traceHook.exchange(pfnHook, std::memory_order_acq_rel);
}

namespace detail {

namespace {
constexpr std::size_t kStateBytes = (sizeof(LockState) + 15) & ~std::size_t(15);
}

DWORD* AllocOwners(int nCount) {
    std::size_t n = static_cast<std::size_t>(nCount);
    void* block = BlockAlloc(kStateBytes + n * sizeof(DWORD));
    if (!block) return nullptr;
    LockState* s = new (block) LockState;
    for (int k = 0; k < 2; ++k) {
        s->releaseGen[k].store(0, std::memory_order_relaxed);
        s->waiters[k].store(0, std::memory_order_relaxed);
        s->events[k] = nullptr;
    }
    s->phGuard = nullptr;
    s->flagRef = s->indexRef = s->guardRef = nullptr;
    DWORD* owners = reinterpret_cast<DWORD*>(static_cast<char*>(block) + kStateBytes);
    std::memset(owners, 0, n * sizeof(DWORD));
    return owners;
}

LockState* StateOf(DWORD* pdwOwners) {
    return pdwOwners ? reinterpret_cast<LockState*>(reinterpret_cast<char*>(pdwOwners) - kStateBytes) : nullptr;
}

bool ResolveRefs(CWaitIndexMutex& lock) {
    LockState* s = StateOf(lock.m_pdwMutexOwner);
    std::size_t n = static_cast<std::size_t>(lock.m_nIndexCount);
    int perIndex = s->phGuard ? 3 : 2;
    KernelRef* refs = static_cast<KernelRef*>(BlockAlloc(n * perIndex * sizeof(KernelRef)));
    if (!refs) return false;
    s->flagRef = refs;
    s->indexRef = refs + n;
    s->guardRef = s->phGuard ? refs + 2 * n : nullptr;
    for (std::size_t i = 0; i < n; ++i) {
        s->flagRef[i] = RefOf(lock.m_phLockFlagMutex[i]);
        s->indexRef[i] = RefOf(lock.m_phIndexMutex[i]);
        if (s->guardRef) s->guardRef[i] = RefOf(s->phGuard[i]);
    }
    s->events[0] = RefOf(lock.m_hWriteReleaseEvent);
    s->events[1] = RefOf(lock.m_hReadReleaseEvent);
    return true;
}

void FreeOwners(DWORD* pdwOwners, int nCount) {
    LockState* s = StateOf(pdwOwners);
    if (!s) return;
    BlockFree(s->flagRef);
    FreeHandles(s->phGuard, nCount);
    s->~LockState();
    BlockFree(s);
}

void FreeHandles(void** phArray, int nCount) {
    if (!phArray) return;
    for (int i = 0; i < nCount; ++i)
        if (phArray[i]) CloseHandle(phArray[i]);
    BlockFree(phArray);
}

bool CreateReleaseEvents(CWaitIndexMutex& lock) {
    if (!lock.m_hWriteReleaseEvent) lock.m_hWriteReleaseEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!lock.m_hReadReleaseEvent) lock.m_hReadReleaseEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    return lock.m_hWriteReleaseEvent && lock.m_hReadReleaseEvent;
}

void CloseReleaseEvents(CWaitIndexMutex& lock) {
    if (lock.m_hWriteReleaseEvent) CloseHandle(lock.m_hWriteReleaseEvent);
    if (lock.m_hReadReleaseEvent) CloseHandle(lock.m_hReadReleaseEvent);
    lock.m_hWriteReleaseEvent = nullptr;
    lock.m_hReadReleaseEvent = nullptr;
}

}  // namespace detail

}  // namespace vorlix

using vorlix::Ops;
using vorlix::Scratch;
using vorlix::kWritten;

CWaitIndexMutex::CWaitIndexMutex()
    : m_pdwMutexOwner(nullptr),
      m_pdwLockFlag(nullptr),
      m_phLockFlagMutex(nullptr),
      m_phIndexMutex(nullptr),
      m_nIndexCount(0),
      m_hWriteReleaseEvent(nullptr),
      m_hReadReleaseEvent(nullptr) {}

CWaitIndexMutex::CWaitIndexMutex(int nCount) : CWaitIndexMutex() { Create(nCount); }

CWaitIndexMutex::~CWaitIndexMutex() { CWaitIndexMutex::Destroy(); }

int CWaitIndexMutex::Create(int nCount) {
    using namespace vorlix::detail;
    if (m_nIndexCount > 0 || nCount == 0) return 0;
    // Events left by a Create with a negative count are made again.
    CloseReleaseEvents(*this);
    if (nCount > 0) {
        if (nCount > kMaxIndexCount) return 0;
        std::size_t n = static_cast<std::size_t>(nCount);
        m_pdwMutexOwner = AllocOwners(nCount);
        m_pdwLockFlag = static_cast<DWORD*>(BlockAlloc(n * sizeof(DWORD)));
        m_phIndexMutex = static_cast<void**>(BlockAlloc(n * sizeof(void*)));
        m_phLockFlagMutex = static_cast<void**>(BlockAlloc(n * sizeof(void*)));
        // Cleared at once: when something below fails, Destroy closes only
        // the handles that were made.
        if (m_phIndexMutex) std::memset(m_phIndexMutex, 0, n * sizeof(void*));
        if (m_phLockFlagMutex) std::memset(m_phLockFlagMutex, 0, n * sizeof(void*));
        bool ok = m_pdwMutexOwner && m_pdwLockFlag && m_phIndexMutex && m_phLockFlagMutex;
        if (ok) {
            for (int i = 0; i < nCount && ok; ++i) {
                m_phIndexMutex[i] = CreateMutexA(nullptr, FALSE, nullptr);
                m_phLockFlagMutex[i] = CreateMutexA(nullptr, FALSE, nullptr);
                m_pdwLockFlag[i] = 0;
                ok = m_phIndexMutex[i] && m_phLockFlagMutex[i];
            }
        }
        m_nIndexCount = nCount;
        if (!ok || !CreateReleaseEvents(*this) || !ResolveRefs(*this)) {
            Destroy();
            return 0;
        }
        return 1;
    }
    // A negative count: off, with its events.
    m_nIndexCount = 0;
    return CreateReleaseEvents(*this) ? 1 : (CloseReleaseEvents(*this), 0);
}

void CWaitIndexMutex::Destroy() {
    using namespace vorlix::detail;
    BlockFree(m_pdwLockFlag);
    m_pdwLockFlag = nullptr;
    // Each array on its own: a Create that ran short of memory leaves
    // whichever it could have.
    FreeHandles(m_phIndexMutex, m_nIndexCount);
    FreeHandles(m_phLockFlagMutex, m_nIndexCount);
    FreeOwners(m_pdwMutexOwner, m_nIndexCount);
    m_phIndexMutex = nullptr;
    m_phLockFlagMutex = nullptr;
    m_pdwMutexOwner = nullptr;
    m_nIndexCount = 0;
    CloseReleaseEvents(*this);
}

int CWaitIndexMutex::IsOn() { return m_nIndexCount > 0 ? 1 : 0; }

int CWaitIndexMutex::MutexOwnerIsMe(DWORD nIndex, DWORD dwOwner) {
    if (!IsOn() || !Ops(*this).InRange(nIndex)) return 0;
    return m_pdwMutexOwner[nIndex] == dwOwner ? 1 : 0;
}

int CWaitIndexMutex::GetLockFlag(int nIndex, DWORD& dwLockFlag, DWORD dwTimeout) {
    dwLockFlag = 0;
    Ops ops(*this);
    if (!IsOn() || !ops.InRange(static_cast<DWORD>(nIndex))) return 0;
    if (!ops.TakeFlag(static_cast<DWORD>(nIndex), dwTimeout)) return 0;
    dwLockFlag = m_pdwLockFlag[nIndex];
    return 1;
}

int CWaitIndexMutex::ReleaseLockFlag(int nIndex) {
    Ops ops(*this);
    if (!IsOn() || !ops.InRange(static_cast<DWORD>(nIndex))) return 0;
    return ops.GiveFlag(static_cast<DWORD>(nIndex)) ? 1 : 0;
}

int CWaitIndexMutex::WaitForRead(DWORD nIndex, DWORD dwTimeout, DWORD dwOwner, int bWait) {
    if (!IsOn()) return 1;
    if (!bWait) return 0;
    Ops ops(*this);
    if (!ops.InRange(nIndex)) return 0;
    return ops.WaitIndex(nIndex, dwTimeout, dwOwner, false);
}

int CWaitIndexMutex::WaitForWrite(DWORD nIndex, DWORD dwTimeout, int bWait) {
    if (!IsOn()) return 1;
    if (!bWait) return 0;
    Ops ops(*this);
    if (!ops.InRange(nIndex)) return 0;
    return ops.WaitIndex(nIndex, dwTimeout, 0, true);
}

int CWaitIndexMutex::ReleaseForRead(DWORD nIndex, DWORD dwOwner) {
    if (!IsOn()) return 1;
    Ops ops(*this);
    if (!ops.InRange(nIndex)) return 0;
    return ops.ReleaseRead(nIndex, dwOwner);
}

int CWaitIndexMutex::GuaranteeReleaseForRead(DWORD nIndex, DWORD dwOwner) {
    if (!IsOn()) return 1;
    Ops ops(*this);
    if (!ops.InRange(nIndex)) return 0;
    if (ops.ReleaseRead(nIndex, dwOwner)) return 1;
    for (;;) {
        int flag = 0;
        if (API_WaitForFalse(1, &flag)) return 0;  // a quit message
        Sleep(20);
        if (ReleaseForRead(nIndex, dwOwner)) return 1;
    }
}

void CWaitIndexMutex::ReleaseForWrite(DWORD nIndex) {
    if (!IsOn()) return;
    Ops ops(*this);
    if (!ops.InRange(nIndex)) return;
    if (!ops.TakeFlag(nIndex, INFINITE)) {
        vorlix::Trace("ReleaseForWrite()-1");
        return;
    }
    if (m_pdwLockFlag[nIndex] & kWritten) {
        m_pdwLockFlag[nIndex] = 0;
        vorlix::detail::RefReleaseMutex(ops.IndexMutex(nIndex));
        ops.GiveFlag(nIndex);
        ops.Released(vorlix::kWriteGen);
    } else {
        // Reported once the flag mutex is given back, as every report is:
        // the hook may use the lock.
        ops.GiveFlag(nIndex);
        vorlix::Trace("ReleaseForWrite()-3");
    }
}

int CWaitIndexMutex::WaitForMultiWrite(DWORD* pdwIndex, int nCount, DWORD dwTimeout) {
    if (!IsOn()) return 1;
    std::time_t start = time(nullptr);
    Ops ops(*this);
    if (!vorlix::AllInRange(ops, pdwIndex, nCount)) return 0;
    int n = nCount > 0 ? nCount : 0;
    Scratch<DWORD> freeIdx(n), busyIdx(n);
    Scratch<HANDLE> freeMutex(n);
    Scratch<char> busyGot(n);
    if (!freeIdx.get() || !busyIdx.get() || !freeMutex.get() || !busyGot.get()) return 0;
    int nFree = 0, nBusy = 0;
    for (int p = 0; p < n; ++p) {
        DWORD i = pdwIndex[p];
        if (!ops.TakeFlag(i, dwTimeout)) {
            for (int q = 0; q < p; ++q) ops.GiveFlag(pdwIndex[q]);
            return 0;
        }
        if (m_pdwLockFlag[i] == 0) {
            freeMutex[nFree] = m_phIndexMutex[i];
            freeIdx[nFree++] = i;
        } else {
            busyGot[nBusy] = 0;
            busyIdx[nBusy++] = i;
        }
    }
    for (int b = 0; b < nBusy; ++b) ops.GiveFlag(busyIdx[b]);
    if (nFree > 0) {
        DWORD r = WaitForMultipleObjects(static_cast<DWORD>(nFree), freeMutex.get(), TRUE, dwTimeout);
        for (int f = 0; f < nFree; ++f) {
            if (vorlix::TookAll(r, nFree)) m_pdwLockFlag[freeIdx[f]] = kWritten;
            ops.GiveFlag(freeIdx[f]);
        }
        if (!vorlix::TookAll(r, nFree)) return 0;
    }
    if (vorlix::RunPasses(busyIdx.get(), busyGot.get(), nBusy, dwTimeout, start,
                          [&](DWORD i) { return WaitForWrite(i, 10, 2) != 0; }))
        return 1;
    for (int b = 0; b < nBusy; ++b)
        if (busyGot[b]) ReleaseForWrite(busyIdx[b]);
    for (int f = 0; f < nFree; ++f) ReleaseForWrite(freeIdx[f]);
    return 0;
}

int CWaitIndexMutex::WaitForMultiRead(DWORD* pdwIndex, int nCount, DWORD dwTimeout, DWORD dwOwner) {
    if (!IsOn()) return 1;
    std::time_t start = time(nullptr);
    if (nCount == 0) return 1;
    Ops ops(*this);
    if (!vorlix::AllInRange(ops, pdwIndex, nCount)) return 0;
    int n = nCount > 0 ? nCount : 0;
    Scratch<DWORD> freeIdx(n), busyIdx(n), joinIdx(n);
    Scratch<HANDLE> freeMutex(n);
    Scratch<char> busyGot(n);
    if (!freeIdx.get() || !busyIdx.get() || !joinIdx.get() || !freeMutex.get() || !busyGot.get()) return 0;
    int nFree = 0, nBusy = 0, nJoin = 0;
    for (int p = 0; p < n; ++p) {
        DWORD i = pdwIndex[p];
        if (!ops.TakeFlag(i, dwTimeout)) {
            for (int q = 0; q < p; ++q) ops.GiveFlag(pdwIndex[q]);
            return 0;
        }
        DWORD flag = m_pdwLockFlag[i];
        if (flag == 0) {
            freeMutex[nFree] = m_phIndexMutex[i];
            freeIdx[nFree++] = i;
        } else if ((flag & kWritten) || flag == vorlix::kMaxReaders) {
            busyGot[nBusy] = 0;
            busyIdx[nBusy++] = i;
        } else {
            joinIdx[nJoin++] = i;
        }
    }
    for (int b = 0; b < nBusy; ++b) ops.GiveFlag(busyIdx[b]);
    for (int j = 0; j < nJoin; ++j) {
        ++m_pdwLockFlag[joinIdx[j]];
        ops.GiveFlag(joinIdx[j]);
    }
    if (nFree > 0) {
        DWORD r = WaitForMultipleObjects(static_cast<DWORD>(nFree), freeMutex.get(), TRUE, dwTimeout);
        bool took = vorlix::TookAll(r, nFree);
        for (int f = 0; f < nFree; ++f) {
            if (took) {
                m_pdwMutexOwner[freeIdx[f]] = dwOwner;
                m_pdwLockFlag[freeIdx[f]] = 1;
            }
            ops.GiveFlag(freeIdx[f]);
        }
        if (!took) {
            for (int j = 0; j < nJoin; ++j) ReleaseForRead(joinIdx[j], dwOwner);
            return 0;
        }
    }
    if (vorlix::RunPasses(busyIdx.get(), busyGot.get(), nBusy, dwTimeout, start,
                          [&](DWORD i) { return WaitForRead(i, 10, dwOwner, 2) != 0; }))
        return 1;
    // Everything this call took goes back, in that order: one attempt each
    // first, then the retrying release for the indices whose mutex this
    // call holds and that others joined meanwhile (the first reader leaves
    // last). Shares of other readers' indices go in the first sweep, so a
    // thread that waits here never keeps another one's first reader waiting.
    int nHeld = 0;
    for (int b = 0; b < nBusy; ++b)
        if (busyGot[b]) busyIdx[nHeld++] = busyIdx[b];
    for (int f = 0; f < nFree; ++f) busyIdx[nHeld++] = freeIdx[f];
    for (int j = 0; j < nJoin; ++j) busyIdx[nHeld++] = joinIdx[j];
    for (int h = 0; h < nHeld; ++h) busyGot[h] = ReleaseForRead(busyIdx[h], dwOwner) ? 0 : 1;
    for (int h = 0; h < nHeld; ++h)
        if (busyGot[h]) GuaranteeReleaseForRead(busyIdx[h], dwOwner);
    return 0;
}

int CWaitIndexMutex::ReleaseForMultiRead(DWORD* pdwIndex, int nCount, DWORD dwOwner) {
    if (nCount < 1) return 1;
    if (!pdwIndex) {
        PrjWarningMsg(0);
        return 0;
    }
    for (int p = 0; p < nCount; ++p)
        if (!GuaranteeReleaseForRead(pdwIndex[p], dwOwner)) return 0;
    return 1;
}

void CWaitIndexMutex::ReleaseForMultiWrite(DWORD* pdwIndex, int nCount) {
    if (nCount > 0 && !pdwIndex) {
        PrjWarningMsg(0);
        return;
    }
    for (int p = 0; p < nCount; ++p) ReleaseForWrite(pdwIndex[p]);
}

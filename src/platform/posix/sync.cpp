// Mutexes, events and the waits on them, with the Windows rules, within a
// process and between processes (named objects).
//
// Design. Every waitable object is a small state block: in private memory
// for an unnamed object, in the object's shared-memory segment for a named
// one (shared.h). Each block has a guard (a pthread mutex, robust and
// process-shared when named) that every change and every inspection takes,
// a generation counter (a futex word) that goes up whenever the object
// becomes signalled, and a count of sleepers so that nobody issues a wake-up
// system call for an object without sleepers.
//
// Mutex: a second pthread mutex, `own`, robust and recursive, is held by the
// owning thread for as long as it owns the Windows mutex. It gives the
// Windows rules for free: the owner can take it again (recursion),
// unlocking by another thread fails (ERROR_NOT_OWNER), and when the owner
// thread or its whole process ends the kernel marks it (EOWNERDEAD): the
// next wait takes it over and reports WAIT_ABANDONED. A single wait tries it
// under the guard, spins briefly, then sleeps in pthread_mutex_clocklock, so
// a release or the owner's death hands it over at once.
//
// Event: a flag under the guard. SetEvent raises the flag and the
// generation; a waiter on a manual-reset event is released by any SetEvent
// that happens while it waits (by the generation), even if the event is
// reset again before the waiter runs, as on Windows; an auto-reset event is
// taken by the first waiter that gets the guard.
//
// WaitForMultipleObjects with wait-all takes the guards of all objects in
// one global order (named objects by device and inode, the same in every
// process, then unnamed ones by address), checks every object, and takes
// all of them or none while it holds every guard: no other thread or
// process can see a state in between. When one object is not ready the
// waiter notes that object's generation, lets go of the guards and sleeps
// on that object alone until its generation moves (any change that could
// make the whole set ready must make that object ready first). A sleeper
// on a mutex wakes at least every 10 ms to look again, because the death of
// an owner is reported on `own`, not on the generation. Wait-any tries each
// object in array order; it sleeps on a process-wide generation that every
// change of an unnamed object raises (only while someone waits for any), and
// rechecks every 10 ms when the set holds a named object or a mutex.
//
// Limits: 64 handles per wait (MAXIMUM_WAIT_OBJECTS); duplicates are
// refused in a wait-all (ERROR_INVALID_PARAMETER), as Windows refuses them.
// Closing the last handle of a mutex that a live thread of this process
// owns keeps its state block (and, when named, its segment) for the rest of
// the process: the owner thread's robust list still points into it.
#include "shared.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include <pthread.h>
#include <sched.h>
#include <time.h>

namespace vorlix {
namespace win {
namespace posix {

namespace {

constexpr DWORD kDeathPollMs = 10;
constexpr int kSpins = 64;

struct MutexState {
    pthread_mutex_t guard;
    pthread_mutex_t own;
    std::uint32_t count;      // recursion count of the owner; 0 when free
    std::uint32_t abandoned;  // the next taker reports WAIT_ABANDONED
    std::uint32_t ownerPid;   // process and thread of the owner while count > 0
    std::uint32_t ownerTid;
    std::atomic<std::uint32_t> gen;
    std::atomic<std::uint32_t> sleepers;
};

struct EventState {
    pthread_mutex_t guard;
    std::uint32_t manual;
    std::atomic<std::uint32_t> signalled;
    std::atomic<std::uint32_t> gen;
    std::atomic<std::uint32_t> sleepers;
};

static_assert(sizeof(MutexState) <= Segment::kStateBytes, "the state fits the header page");
static_assert(std::atomic<std::uint32_t>::is_always_lock_free, "futex words are plain words");

// Process-wide generation for wait-any sleepers.
std::atomic<std::uint32_t> g_anyGen{0};
std::atomic<std::uint32_t> g_anySleepers{0};

void NotifyAny() {
    if (g_anySleepers.load(std::memory_order_seq_cst) != 0) {
        g_anyGen.fetch_add(1, std::memory_order_seq_cst);
        FutexWakeAll(&g_anyGen, false);
    }
}

bool InitMutexes(pthread_mutex_t* guard, pthread_mutex_t* own, bool shared) {
    pthread_mutexattr_t a;
    if (pthread_mutexattr_init(&a) != 0) return false;
    int pshared = shared ? PTHREAD_PROCESS_SHARED : PTHREAD_PROCESS_PRIVATE;
    bool ok = pthread_mutexattr_setpshared(&a, pshared) == 0 &&
              (!shared || pthread_mutexattr_setrobust(&a, PTHREAD_MUTEX_ROBUST) == 0) &&
              pthread_mutex_init(guard, &a) == 0;
    pthread_mutexattr_destroy(&a);
    if (!ok || !own) return ok;
    if (pthread_mutexattr_init(&a) != 0) return false;
    ok = pthread_mutexattr_setpshared(&a, pshared) == 0 &&
         pthread_mutexattr_setrobust(&a, PTHREAD_MUTEX_ROBUST) == 0 &&
         pthread_mutexattr_settype(&a, PTHREAD_MUTEX_RECURSIVE) == 0 && pthread_mutex_init(own, &a) == 0;
    pthread_mutexattr_destroy(&a);
    return ok;
}

void LockGuard(pthread_mutex_t* g) {
    // A process that died holding a guard left a state whose every field
    // is written in one store: carry on with it.
    if (pthread_mutex_lock(g) == EOWNERDEAD) pthread_mutex_consistent(g);
}
void UnlockGuard(pthread_mutex_t* g) { pthread_mutex_unlock(g); }

inline void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

// A mutex or an event, in private or shared memory.
class WaitCore {
public:
    WaitCore(ObjectKind kind, void* state, std::shared_ptr<Segment> seg)
        : m_kind(kind), m_state(state), m_seg(std::move(seg)) {}
    ~WaitCore();

    bool IsMutex() const { return m_kind == kKindMutex; }
    bool Shared() const { return m_seg != nullptr; }
    MutexState* Mutex() const { return static_cast<MutexState*>(m_state); }
    EventState* Event() const { return static_cast<EventState*>(m_state); }
    pthread_mutex_t* Guard() const { return IsMutex() ? &Mutex()->guard : &Event()->guard; }
    std::atomic<std::uint32_t>* Gen() const { return IsMutex() ? &Mutex()->gen : &Event()->gen; }
    std::atomic<std::uint32_t>* Sleepers() const { return IsMutex() ? &Mutex()->sleepers : &Event()->sleepers; }
    // The global lock order: named objects first, by device and inode.
    bool Before(const WaitCore& o) const {
        if (Shared() != o.Shared()) return Shared();
        if (!Shared()) return m_state < o.m_state;
        if (m_seg->Dev() != o.m_seg->Dev()) return m_seg->Dev() < o.m_seg->Dev();
        return m_seg->Ino() < o.m_seg->Ino();
    }
    bool Same(const WaitCore& o) const { return !Before(o) && !o.Before(*this); }

    // Raises the generation (guard held) and wakes the sleepers (after).
    void Signalled() { Gen()->fetch_add(1, std::memory_order_release); }
    void WakeSleepers() {
        if (Sleepers()->load(std::memory_order_seq_cst) != 0) FutexWakeAll(Gen(), Shared());
        if (!Shared()) NotifyAny();
    }

private:
    ObjectKind m_kind;
    void* m_state;
    std::shared_ptr<Segment> m_seg;
};

WaitCore::~WaitCore() {
    if (IsMutex()) {
        MutexState* m = Mutex();
        int r = pthread_mutex_trylock(&m->own);
        if (r == EOWNERDEAD) pthread_mutex_consistent(&m->own);
        if (r == 0 || r == EOWNERDEAD) {
            // Free, or ours: give back every level.
            std::uint32_t levels = (r == 0 ? m->count : 0) + 1;
            while (levels-- > 0) pthread_mutex_unlock(&m->own);
        } else if (!Shared() || m->ownerPid == CurrentPid()) {
            // Owned by a live thread of this process.
            if (Shared()) m_seg->KeepMapped();
            return;
        }
    }
    if (!Shared()) {
        pthread_mutex_destroy(Guard());
        if (IsMutex()) {
            pthread_mutex_destroy(&Mutex()->own);
            delete Mutex();
        } else {
            delete Event();
        }
    }
}

class WaitObject : public KernelObject {
public:
    explicit WaitObject(std::shared_ptr<WaitCore> core) : m_core(std::move(core)) {}
    std::shared_ptr<WaitCore> m_core;
};

// The mutex is ours now (guard held): r is the result of taking `own`.
DWORD TakeMutex(MutexState* m, int r) {
    if (r == EOWNERDEAD) {
        pthread_mutex_consistent(&m->own);
        m->count = 1;
        m->abandoned = 0;
        m->ownerPid = CurrentPid();
        m->ownerTid = CurrentTid();
        return WAIT_ABANDONED;
    }
    if (m->count > 0) {  // taken again by its owner
        ++m->count;
        return WAIT_OBJECT_0;
    }
    m->count = 1;
    m->ownerPid = CurrentPid();
    m->ownerTid = CurrentTid();
    if (m->abandoned) {
        m->abandoned = 0;
        return WAIT_ABANDONED;
    }
    return WAIT_OBJECT_0;
}

// Gives back a take of `own` made under the guard by a wait-all that could
// not complete; the state stays as it was, except that an abandonment
// found on the way is kept for the next taker.
void UntakeMutex(WaitCore& c, int r) {
    MutexState* m = c.Mutex();
    if (r == EOWNERDEAD) {
        pthread_mutex_consistent(&m->own);
        m->count = 0;
        m->abandoned = 1;
        c.Signalled();
    }
    pthread_mutex_unlock(&m->own);
}

// One attempt without waiting, under the object's guard: WAIT_OBJECT_0,
// WAIT_ABANDONED or WAIT_TIMEOUT.
DWORD TryOnce(WaitCore& c) {
    LockGuard(c.Guard());
    DWORD res = WAIT_TIMEOUT;
    if (c.IsMutex()) {
        int r = pthread_mutex_trylock(&c.Mutex()->own);
        if (r == 0 || r == EOWNERDEAD) res = TakeMutex(c.Mutex(), r);
    } else {
        EventState* e = c.Event();
        if (e->signalled.load(std::memory_order_relaxed)) {
            if (!e->manual) e->signalled.store(0, std::memory_order_relaxed);
            res = WAIT_OBJECT_0;
        }
    }
    UnlockGuard(c.Guard());
    return res;
}

// Takes `own`, sleeping until the deadline at most.
int LockUntil(pthread_mutex_t* own, const Deadline& d) {
#if defined(__SANITIZE_THREAD__)
    // ThreadSanitizer follows only the plain and try forms through an
    // owner's death (EOWNERDEAD): poll with the try form every millisecond.
    for (;;) {
        int r = pthread_mutex_trylock(own);
        if (r != EBUSY) return r;
        if (d.Passed()) return ETIMEDOUT;
        timespec ms = {0, 1000000L};
        nanosleep(&ms, nullptr);
    }
#else
    return d.infinite ? pthread_mutex_lock(own) : pthread_mutex_clocklock(own, CLOCK_MONOTONIC, &d.at);
#endif
}

// The clock is read only once a wait has to wait.
DWORD WaitMutex(WaitCore& c, DWORD ms) {
    MutexState* m = c.Mutex();
    for (int spin = 0;; ++spin) {
        DWORD res = TryOnce(c);
        if (res != WAIT_TIMEOUT || ms == 0) return res;
        if (spin < kSpins) {
            CpuRelax();
            continue;
        }
        Deadline d = Deadline::After(ms);
        int r = LockUntil(&m->own, d);
        if (r == ETIMEDOUT) return WAIT_TIMEOUT;
        if (r != 0 && r != EOWNERDEAD) {
            SetLastError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
        LockGuard(&m->guard);
        res = TakeMutex(m, r);
        UnlockGuard(&m->guard);
        return res;
    }
}

DWORD WaitEvent(WaitCore& c, DWORD ms) {
    EventState* e = c.Event();
    // A signalled manual-reset event needs no guard.
    if (e->manual && e->signalled.load(std::memory_order_acquire)) return WAIT_OBJECT_0;
    Deadline d;
    d.zero = ms == 0;
    bool timed = false;
    LockGuard(&e->guard);
    for (;;) {
        if (e->signalled.load(std::memory_order_relaxed)) {
            if (!e->manual) e->signalled.store(0, std::memory_order_relaxed);
            UnlockGuard(&e->guard);
            return WAIT_OBJECT_0;
        }
        if (!timed) {
            d = Deadline::After(ms);
            timed = true;
        }
        if (d.zero || d.Passed()) {
            UnlockGuard(&e->guard);
            return WAIT_TIMEOUT;
        }
        std::uint32_t g = e->gen.load(std::memory_order_relaxed);
        e->sleepers.fetch_add(1, std::memory_order_seq_cst);
        UnlockGuard(&e->guard);
        FutexWait(&e->gen, g, d.infinite ? nullptr : &d.at, c.Shared());
        e->sleepers.fetch_sub(1, std::memory_order_relaxed);
        LockGuard(&e->guard);
        if (e->manual && e->gen.load(std::memory_order_relaxed) != g) {
            UnlockGuard(&e->guard);  // set while we waited, whatever it is now
            return WAIT_OBJECT_0;
        }
    }
}

// Sleeps until c's generation moves from g, the deadline, or a slice.
void SleepOn(WaitCore& c, std::uint32_t g, const Deadline& d, bool poll) {
    timespec until = poll ? d.Capped(kDeathPollMs) : d.at;
    FutexWait(c.Gen(), g, (d.infinite && !poll) ? nullptr : &until, c.Shared());
    c.Sleepers()->fetch_sub(1, std::memory_order_relaxed);
}

DWORD WaitAll(std::shared_ptr<WaitCore>* cores, DWORD n, const Deadline& d) {
    WaitCore* order[MAXIMUM_WAIT_OBJECTS];
    for (DWORD i = 0; i < n; ++i) order[i] = cores[i].get();
    std::sort(order, order + n, [](const WaitCore* a, const WaitCore* b) { return a->Before(*b); });
    for (DWORD i = 1; i < n; ++i) {
        if (order[i - 1]->Same(*order[i])) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return WAIT_FAILED;
        }
    }
    int taken[MAXIMUM_WAIT_OBJECTS];
    for (;;) {
        for (DWORD i = 0; i < n; ++i) LockGuard(order[i]->Guard());
        DWORD busy = n;
        for (DWORD i = 0; i < n && busy == n; ++i) {
            WaitCore& c = *cores[i];
            if (c.IsMutex()) {
                taken[i] = pthread_mutex_trylock(&c.Mutex()->own);
                if (taken[i] != 0 && taken[i] != EOWNERDEAD) busy = i;
            } else if (!c.Event()->signalled.load(std::memory_order_relaxed)) {
                busy = i;
            }
        }
        if (busy == n) {
            DWORD res = WAIT_OBJECT_0;
            for (DWORD i = 0; i < n; ++i) {
                WaitCore& c = *cores[i];
                if (c.IsMutex()) {
                    if (TakeMutex(c.Mutex(), taken[i]) == WAIT_ABANDONED && res == WAIT_OBJECT_0)
                        res = WAIT_ABANDONED_0 + i;
                } else if (!c.Event()->manual) {
                    c.Event()->signalled.store(0, std::memory_order_relaxed);
                }
            }
            for (DWORD i = n; i-- > 0;) UnlockGuard(order[i]->Guard());
            return res;
        }
        for (DWORD i = 0; i < busy; ++i)
            if (cores[i]->IsMutex()) UntakeMutex(*cores[i], taken[i]);
        WaitCore& b = *cores[busy];
        std::uint32_t g = b.Gen()->load(std::memory_order_relaxed);
        if (!d.zero) b.Sleepers()->fetch_add(1, std::memory_order_seq_cst);
        for (DWORD i = n; i-- > 0;) UnlockGuard(order[i]->Guard());
        for (DWORD i = 0; i < busy; ++i)
            if (cores[i]->IsMutex() && taken[i] == EOWNERDEAD) cores[i]->WakeSleepers();
        if (d.zero) return WAIT_TIMEOUT;
        if (d.Passed()) {
            b.Sleepers()->fetch_sub(1, std::memory_order_relaxed);
            return WAIT_TIMEOUT;
        }
        SleepOn(b, g, d, b.IsMutex());
    }
}

DWORD WaitAny(std::shared_ptr<WaitCore>* cores, DWORD n, const Deadline& d) {
    bool poll = false;
    for (DWORD i = 0; i < n; ++i) poll = poll || cores[i]->Shared() || cores[i]->IsMutex();
    g_anySleepers.fetch_add(1, std::memory_order_seq_cst);
    DWORD res = WAIT_TIMEOUT;
    for (;;) {
        std::uint32_t g = g_anyGen.load(std::memory_order_seq_cst);
        for (DWORD i = 0; i < n; ++i) {
            DWORD r = TryOnce(*cores[i]);
            if (r != WAIT_TIMEOUT) {
                res = r + i;
                break;
            }
        }
        if (res != WAIT_TIMEOUT || d.zero || d.Passed()) break;
        timespec until = poll ? d.Capped(kDeathPollMs) : d.at;
        FutexWait(&g_anyGen, g, (d.infinite && !poll) ? nullptr : &until, false);
    }
    g_anySleepers.fetch_sub(1, std::memory_order_relaxed);
    return res;
}

HANDLE RegisterCore(WaitCore* core, bool existed) {
    if (!core) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    std::shared_ptr<WaitCore> shared(core);
    HANDLE h = Register(std::unique_ptr<KernelObject>(new WaitObject(std::move(shared))));
    if (!h) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return h;
}

struct MutexInit {
    bool ok;
};

void InitSharedMutex(void* state, void* arg) {
    MutexInit* in = static_cast<MutexInit*>(arg);
    MutexState* m = new (state) MutexState();
    in->ok = InitMutexes(&m->guard, &m->own, true);
}

struct EventInit {
    bool manual;
    bool initial;
    bool ok;
};

void InitSharedEvent(void* state, void* arg) {
    EventInit* in = static_cast<EventInit*>(arg);
    EventState* e = new (state) EventState();
    e->manual = in->manual;
    e->signalled.store(in->initial ? 1 : 0, std::memory_order_relaxed);
    in->ok = InitMutexes(&e->guard, nullptr, true);
}

// Runs f on the core behind a mutex or event handle.
template <class F>
bool WithCore(HANDLE h, F&& f) {
    return With<WaitObject>(h, [&](WaitObject& o) { f(*o.m_core); });
}

}  // namespace

}  // namespace posix

HANDLE CreateMutexA(void*, BOOL bInitialOwner, const char* lpName) {
    using namespace posix;
    try {
        WaitCore* core = nullptr;
        bool existed = false;
        if (lpName && *lpName) {
            MutexInit in{true};
            std::shared_ptr<Segment> seg = Segment::Open(lpName, kKindMutex, 0, &InitSharedMutex, &in, existed);
            if (!seg) return nullptr;
            if (!in.ok) {
                SetLastError(ERROR_NOT_ENOUGH_MEMORY);
                return nullptr;
            }
            core = new (std::nothrow) WaitCore(kKindMutex, seg->State(), seg);
        } else {
            MutexState* m = new (std::nothrow) MutexState();
            if (m && !InitMutexes(&m->guard, &m->own, false)) {
                delete m;
                m = nullptr;
            }
            if (m) {
                core = new (std::nothrow) WaitCore(kKindMutex, m, nullptr);
                if (!core) {
                    pthread_mutex_destroy(&m->guard);
                    pthread_mutex_destroy(&m->own);
                    delete m;
                }
            }
        }
        // The initial owner takes a new mutex; an existing one is opened as it is.
        if (core && bInitialOwner && !existed) TryOnce(*core);
        return RegisterCore(core, existed);
    } catch (...) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
}

BOOL ReleaseMutex(HANDLE hMutex) {
    using namespace posix;
    BOOL ok = FALSE;
    if (!WithCore(hMutex, [&](WaitCore& c) {
            if (!c.IsMutex()) {
                SetLastError(ERROR_INVALID_HANDLE);
                return;
            }
            MutexState* m = c.Mutex();
            LockGuard(&m->guard);
            // Only the owner unlocks `own`: asking another thread's unlock
            // to fail would be misuse of the pthread mutex.
            if (m->count == 0 || m->ownerTid != CurrentTid() || pthread_mutex_unlock(&m->own) != 0) {
                UnlockGuard(&m->guard);
                SetLastError(ERROR_NOT_OWNER);
                return;
            }
            bool last = --m->count == 0;
            if (last) c.Signalled();
            UnlockGuard(&m->guard);
            if (last) c.WakeSleepers();
            ok = TRUE;
        }))
        return FALSE;
    return ok;
}

HANDLE CreateEventA(void*, BOOL bManualReset, BOOL bInitialState, const char* lpName) {
    using namespace posix;
    try {
        WaitCore* core = nullptr;
        bool existed = false;
        if (lpName && *lpName) {
            EventInit in{bManualReset != 0, bInitialState != 0, true};
            std::shared_ptr<Segment> seg = Segment::Open(lpName, kKindEvent, 0, &InitSharedEvent, &in, existed);
            if (!seg) return nullptr;
            if (!in.ok) {
                SetLastError(ERROR_NOT_ENOUGH_MEMORY);
                return nullptr;
            }
            core = new (std::nothrow) WaitCore(kKindEvent, seg->State(), seg);
        } else {
            EventState* e = new (std::nothrow) EventState();
            if (e && !InitMutexes(&e->guard, nullptr, false)) {
                delete e;
                e = nullptr;
            }
            if (e) {
                e->manual = bManualReset != 0;
                e->signalled.store(bInitialState ? 1 : 0, std::memory_order_relaxed);
                core = new (std::nothrow) WaitCore(kKindEvent, e, nullptr);
                if (!core) {
                    pthread_mutex_destroy(&e->guard);
                    delete e;
                }
            }
        }
        return RegisterCore(core, existed);
    } catch (...) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
}

BOOL SetEvent(HANDLE hEvent) {
    using namespace posix;
    BOOL ok = FALSE;
    if (!WithCore(hEvent, [&](WaitCore& c) {
            if (c.IsMutex()) {
                SetLastError(ERROR_INVALID_HANDLE);
                return;
            }
            ok = TRUE;
            EventState* e = c.Event();
            // Setting a set manual-reset event changes nothing.
            if (e->manual && e->signalled.load(std::memory_order_acquire)) return;
            LockGuard(&e->guard);
            e->signalled.store(1, std::memory_order_release);
            c.Signalled();
            UnlockGuard(&e->guard);
            c.WakeSleepers();
        }))
        return FALSE;
    return ok;
}

BOOL ResetEvent(HANDLE hEvent) {
    using namespace posix;
    BOOL ok = FALSE;
    if (!WithCore(hEvent, [&](WaitCore& c) {
            if (c.IsMutex()) {
                SetLastError(ERROR_INVALID_HANDLE);
                return;
            }
            ok = TRUE;
            EventState* e = c.Event();
            if (!e->signalled.load(std::memory_order_acquire)) return;
            LockGuard(&e->guard);
            e->signalled.store(0, std::memory_order_relaxed);
            UnlockGuard(&e->guard);
        }))
        return FALSE;
    return ok;
}

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
    using namespace posix;
    DWORD res = WAIT_FAILED;
    if (!WithCore(hHandle, [&](WaitCore& c) {
            res = c.IsMutex() ? WaitMutex(c, dwMilliseconds) : WaitEvent(c, dwMilliseconds);
        }))
        return WAIT_FAILED;
    return res;
}

DWORD WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll, DWORD dwMilliseconds) {
    using namespace posix;
    if (nCount == 0 || nCount > MAXIMUM_WAIT_OBJECTS || !lpHandles) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    try {
        // Every object is held for the length of the wait.
        std::shared_ptr<WaitCore> cores[MAXIMUM_WAIT_OBJECTS];
        for (DWORD i = 0; i < nCount; ++i)
            if (!With<WaitObject>(lpHandles[i], [&](WaitObject& o) { cores[i] = o.m_core; })) return WAIT_FAILED;
        Deadline d = Deadline::After(dwMilliseconds);
        return bWaitAll ? WaitAll(cores, nCount, d) : WaitAny(cores, nCount, d);
    } catch (...) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return WAIT_FAILED;
    }
}

// ---- Waiting on an address ----

namespace {

struct alignas(64) AddressBucket {
    std::atomic<std::uint32_t> seq{0};
    std::atomic<std::uint32_t> sleepers{0};
};
AddressBucket g_buckets[64];

AddressBucket& BucketOf(const volatile void* p) {
    std::uintptr_t a = reinterpret_cast<std::uintptr_t>(p);
    return g_buckets[(a >> 3 ^ a >> 9) & 63];
}

bool Equal(const volatile void* a, const void* b, SIZE_T n) {
    switch (n) {
    case 1: return __atomic_load_n(static_cast<const volatile std::uint8_t*>(a), __ATOMIC_SEQ_CST) ==
                   *static_cast<const std::uint8_t*>(b);
    case 2: return __atomic_load_n(static_cast<const volatile std::uint16_t*>(a), __ATOMIC_SEQ_CST) ==
                   *static_cast<const std::uint16_t*>(b);
    case 4: return __atomic_load_n(static_cast<const volatile std::uint32_t*>(a), __ATOMIC_SEQ_CST) ==
                   *static_cast<const std::uint32_t*>(b);
    default: return __atomic_load_n(static_cast<const volatile std::uint64_t*>(a), __ATOMIC_SEQ_CST) ==
                    *static_cast<const std::uint64_t*>(b);
    }
}

void WakeAddress(void* Address) {
    AddressBucket& b = BucketOf(Address);
    // A read-modify-write orders the caller's store before the look at the
    // sleepers (a waiter counts itself before it compares the value).
    if (b.sleepers.fetch_add(0, std::memory_order_seq_cst) == 0) return;
    b.seq.fetch_add(1, std::memory_order_seq_cst);
    posix::FutexWakeAll(&b.seq, false);
}

}  // namespace

BOOL WaitOnAddress(volatile void* Address, void* CompareAddress, SIZE_T AddressSize, DWORD dwMilliseconds) {
    if (!Address || !CompareAddress ||
        (AddressSize != 1 && AddressSize != 2 && AddressSize != 4 && AddressSize != 8)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    AddressBucket& b = BucketOf(Address);
    b.sleepers.fetch_add(1, std::memory_order_seq_cst);
    std::uint32_t s = b.seq.load(std::memory_order_seq_cst);
    bool woken = true;
    if (Equal(Address, CompareAddress, AddressSize)) {
        posix::Deadline d = posix::Deadline::After(dwMilliseconds);
        woken = !d.zero && posix::FutexWait(&b.seq, s, d.infinite ? nullptr : &d.at, false);
    }
    b.sleepers.fetch_sub(1, std::memory_order_relaxed);
    if (!woken) {
        SetLastError(ERROR_TIMEOUT);
        return FALSE;
    }
    return TRUE;
}

void WakeByAddressAll(void* Address) { WakeAddress(Address); }
void WakeByAddressSingle(void* Address) { WakeAddress(Address); }

void Sleep(DWORD dwMilliseconds) {
    if (dwMilliseconds == 0) {
        sched_yield();
        return;
    }
    for (;;) {
        timespec t;
        t.tv_sec = dwMilliseconds == INFINITE ? 3600 : dwMilliseconds / 1000;
        t.tv_nsec = dwMilliseconds == INFINITE ? 0 : static_cast<long>(dwMilliseconds % 1000) * 1000000L;
        // Interruptions by signals sleep on for the rest.
        while (nanosleep(&t, &t) != 0 && errno == EINTR) {
        }
        if (dwMilliseconds != INFINITE) return;
    }
}

}  // namespace win
}  // namespace vorlix

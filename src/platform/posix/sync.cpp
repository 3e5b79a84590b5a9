// Mutexes, events and the waits on them, with the Windows rules, within a
// process and between processes (named objects).
// One file of about a thousand lines: single waits, wait-all and wait-any
// share the state blocks, their guards and the lock order set out below, and
// splitting them would spread that order over several files.
//
// Design. Every waitable object is a small state block: in private memory
// for an unnamed object, in the object's shared-memory segment for a named
// one (shared.h). Each block has a guard (a pthread mutex, robust and
// process-shared when named) that wait-all takes to see a set of objects at
// one instant, a generation counter (a futex word) that goes up whenever
// the object becomes signalled, and a count of sleepers so that nobody
// issues a wake-up system call for an object without sleepers.
//
// Mutex, unnamed: a futex word holds the owner thread's id (and a bit for
// sleepers), so that taking a free mutex is one compare-and-swap and a
// release one exchange. The recursion count and the abandonment mark are
// changed only by the owner. Every unnamed mutex is on a process-wide
// registry; when a thread that took one ends, a thread-specific-data
// destructor (which runs after the thread's C++ thread_local destructors,
// so those may still release what they hold) looks through the registry
// for the words that carry its id, marks those mutexes abandoned and lets
// them go: the next taker reports WAIT_ABANDONED. So takes and releases
// keep no bookkeeping of their own; the price is a look at every unnamed
// mutex of the process (about a nanosecond each) when such a thread ends.
//
// Mutex, named: a second pthread mutex, `own`, robust, process-shared and
// recursive, is held by the owning thread for as long as it owns the
// Windows mutex. It gives the Windows rules across processes: the owner can
// take it again, and when the owner thread or its whole process ends the
// kernel marks it (EOWNERDEAD): the next wait takes it over and reports
// WAIT_ABANDONED. The recursion count and the abandonment mark are changed
// only by the thread that holds `own`, and the owner's ids are atomic
// words, so a single wait and a release take no guard.
//
// Either way, a release by another thread is told by the owner's id and
// fails (ERROR_NOT_OWNER) without touching the lock, and a wait that finds
// the mutex held spins briefly, then sleeps (on the futex word, or in
// pthread_mutex_clocklock), so a release or the owner's death hands it
// over at once.
//
// Event: a flag under the guard. SetEvent raises the flag and the
// generation; a waiter on a manual-reset event is released by any SetEvent
// that happens while it waits (by the generation), even if the event is
// reset again before the waiter runs, as on Windows; an auto-reset event is
// taken by the first waiter that gets the guard. Setting a set manual-reset
// event, resetting a reset one and waiting on a set one only read the flag.
//
// WaitForMultipleObjects with wait-all takes the guards of all objects in
// one global order (named objects by device and inode, the same in every
// process, then unnamed ones by address), checks every object, and takes
// all of them or none while it holds every guard: no other thread or
// process can see a state in between. It takes a mutex only once every
// object looks ready, since a single wait or a release does not take the
// guard and would otherwise see a mutex held for a moment by a wait-all
// that then gives it back. When one object is not ready the waiter notes
// that object's generation, lets go of the guards and sleeps
// on that object alone until its generation moves (any change that could
// make the whole set ready must make that object ready first). A sleeper
// on a mutex wakes at least every 10 ms to look again, because the death of
// an owner is reported on the mutex, not on the generation, and a release
// raises the generation only for sleepers it sees. Wait-any tries each
// object in array order; it sleeps on a process-wide generation that every
// change of an unnamed object raises (only while someone waits for any), and
// rechecks every 10 ms when the set holds a named object or a mutex.
//
// Limits: 64 handles per wait (MAXIMUM_WAIT_OBJECTS); duplicates are
// refused in a wait-all (ERROR_INVALID_PARAMETER), as Windows refuses them.
// Closing the last handle of a mutex that a live thread of this process
// owns keeps its state block (and, when named, its segment) for the rest of
// the process: the registry (or the owner's robust list) still points into
// it.
#include "shared.h"

#include "../kernel_ref.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include <pthread.h>
#include <sched.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

namespace vorlix {
namespace win {
namespace posix {

thread_local std::uint32_t t_tid __attribute__((tls_model("initial-exec"))) = 0;

namespace {
void AbandonAtThreadEnd();
}

// A thread asks for its id before it first takes an unnamed mutex: from
// then on its end is watched.
__attribute__((noinline)) std::uint32_t FetchTid() {
    t_tid = static_cast<std::uint32_t>(syscall(SYS_gettid));
    AbandonAtThreadEnd();
    return t_tid;
}

namespace {

constexpr DWORD kDeathPollMs = 10;
constexpr int kSpins = 64;

// The futex word of an unnamed mutex: the owner's thread id, and a bit set
// while somebody may sleep on the word. Thread ids stay below 2^22.
constexpr std::uint32_t kSleepersBit = 0x80000000u;
constexpr std::uint32_t kTidMask = 0x3FFFFFFFu;

// What a take and a release touch comes first, in 32 bytes.
struct MutexState {
    std::atomic<std::uint32_t> word;  // unnamed only
    std::uint32_t count;              // recursion count of the owner; 0 when free (the owner alone)
    std::uint32_t abandoned;          // the next taker reports WAIT_ABANDONED (the owner alone)
    std::atomic<std::uint32_t> sleepers;
    MutexState* regPrev;  // unnamed: the registry of unnamed mutexes (under its lock)
    MutexState* regNext;
    std::atomic<std::uint32_t> gen;
    std::atomic<std::uint32_t> ownerPid;  // named: process and thread of the owner while count > 0, else 0
    std::atomic<std::uint32_t> ownerTid;
    pthread_mutex_t guard;
    pthread_mutex_t own;  // named only
};

struct EventState {
    std::uint32_t manual;
    std::atomic<std::uint32_t> signalled;
    std::atomic<std::uint32_t> gen;
    std::atomic<std::uint32_t> sleepers;
    pthread_mutex_t guard;
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

// After a mutex became free: raises its generation and wakes the sleepers
// on it, when there are any (only wait-all sleeps there, and it looks again
// at least every 10 ms, also when it counted itself just after this look),
// and the wait-any sleepers of the process.
void RaiseGeneration(MutexState* m, bool shared) {
    if (m->sleepers.load(std::memory_order_seq_cst) != 0) {
        m->gen.fetch_add(1, std::memory_order_release);
        FutexWakeAll(&m->gen, shared);
    }
    if (!shared) NotifyAny();
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
    ok = pthread_mutexattr_setpshared(&a, pshared) == 0 && pthread_mutexattr_setrobust(&a, PTHREAD_MUTEX_ROBUST) == 0 &&
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

// ---- Unnamed mutexes and the ends of their owners ----

// Every unnamed mutex of the process, so that a thread that ends can find
// the ones it holds (their words carry its id) without keeping a list of
// its own on every take and release.
struct MutexRegistry {
    pthread_mutex_t lock;
    MutexState* head;
};
MutexRegistry g_registry = {PTHREAD_MUTEX_INITIALIZER, nullptr};

// The registry's lock is taken before fork() and released after it in the
// parent and the child: a child forked while another thread made, closed
// or (ending) looked through the unnamed mutexes would otherwise inherit
// the lock held and hang on its first mutex.
void LockRegistry() { pthread_mutex_lock(&g_registry.lock); }
void UnlockRegistry() { pthread_mutex_unlock(&g_registry.lock); }
const bool g_registryForkSafe = pthread_atfork(&LockRegistry, &UnlockRegistry, &UnlockRegistry) == 0;

void Enlist(MutexState* m) {
    (void)g_registryForkSafe;
    pthread_mutex_lock(&g_registry.lock);
    m->regPrev = nullptr;
    m->regNext = g_registry.head;
    if (g_registry.head) g_registry.head->regPrev = m;
    g_registry.head = m;
    pthread_mutex_unlock(&g_registry.lock);
}

// Takes an unnamed mutex out of the registry before it goes, unless a live
// thread of this process owns it: then it stays (its owner may still
// release it, and its end abandons it), and false is returned.
bool Delist(MutexState* m) {
    pthread_mutex_lock(&g_registry.lock);
    std::uint32_t w = m->word.load(std::memory_order_acquire);
    bool free = w == 0 || (w & kTidMask) == t_tid;
    if (free) {
        if (m->regPrev) m->regPrev->regNext = m->regNext;
        else g_registry.head = m->regNext;
        if (m->regNext) m->regNext->regPrev = m->regPrev;
    }
    pthread_mutex_unlock(&g_registry.lock);
    return free;
}

// The word's release: wakes one sleeper when the bit says there may be one.
void ReleaseWord(MutexState* m) {
    if (m->word.exchange(0, std::memory_order_release) & kSleepersBit) FutexWakeOne(&m->word, false);
}

// Run when a thread that used unnamed mutexes ends: abandons those it
// holds, and lets them go.
void AbandonHeld(void*) {
    const std::uint32_t tid = t_tid;
    if (!tid) return;
    pthread_mutex_lock(&g_registry.lock);
    for (MutexState* m = g_registry.head; m; m = m->regNext) {
        if ((m->word.load(std::memory_order_acquire) & kTidMask) != tid) continue;
        m->count = 0;
        m->abandoned = 1;
        ReleaseWord(m);
        RaiseGeneration(m, false);
    }
    pthread_mutex_unlock(&g_registry.lock);
}

struct AbandonAtExit {
    ~AbandonAtExit() { AbandonHeld(nullptr); }
};

// The key is made while the library loads: made on first use, it would sit
// behind a guard that a fork could catch half-way.
pthread_key_t g_abandonKey;
const bool g_haveAbandonKey = pthread_key_create(&g_abandonKey, &AbandonHeld) == 0;

// Arranges for AbandonHeld to run when the calling thread ends: from its
// thread-specific data, whose destructors run after the thread's C++
// thread_local destructors (so those may still release what they hold), or,
// when no key is to be had, from a thread_local destructor.
void AbandonAtThreadEnd() {
    if (g_haveAbandonKey && pthread_setspecific(g_abandonKey, &t_tid) == 0) return;
    static thread_local AbandonAtExit atExit;
    (void)&atExit;
}

}  // namespace

// A mutex or an event (what a KernelRef, ../kernel_ref.h, points to). The
// state of a named object is in its shared memory; that of an unnamed one
// follows the object's own fields, so that what a take or a release reads
// lies in one cache line.
class alignas(64) WaitCore {
public:
    // A named object over its segment.
    WaitCore(ObjectKind kind, std::shared_ptr<Segment> seg)
        : m_kind(kind), m_unnamedMutex(false), m_state(seg->State()), m_seg(std::move(seg)) {}
    // An unnamed object, its state zero-filled.
    explicit WaitCore(ObjectKind kind) : m_kind(kind), m_unnamedMutex(kind == kKindMutex), m_state(m_inline), m_seg() {
        if (kind == kKindMutex) new (m_inline) MutexState();
        else new (m_inline) EventState();
    }
    ~WaitCore();
    WaitCore(const WaitCore&) = delete;
    WaitCore& operator=(const WaitCore&) = delete;

    bool IsMutex() const { return m_kind == kKindMutex; }
    // The common case of the fast paths, told by one field.
    bool IsUnnamedMutex() const { return m_unnamedMutex; }
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

    // Raises the generation and wakes the sleepers (after).
    void Signalled() { Gen()->fetch_add(1, std::memory_order_release); }
    void WakeSleepers() {
        if (Sleepers()->load(std::memory_order_seq_cst) != 0) FutexWakeAll(Gen(), Shared());
        if (!Shared()) NotifyAny();
    }

    // Whether the object must outlive its last handle: an unnamed mutex
    // that another live thread of this process owns stays in the registry.
    bool KeptByOwner() { return IsMutex() && !Shared() && !Delist(Mutex()); }

private:
    ObjectKind m_kind;
    bool m_unnamedMutex;
    void* m_state;
    std::shared_ptr<Segment> m_seg;
    alignas(
        8) unsigned char m_inline[sizeof(MutexState) > sizeof(EventState) ? sizeof(MutexState) : sizeof(EventState)];
};

WaitCore::~WaitCore() {
    if (IsMutex()) {
        MutexState* m = Mutex();
        if (Shared()) {
            int r = pthread_mutex_trylock(&m->own);
            if (r == 0 && m->count > 0) {
                // Ours (held once for us, and once more now): the mutex
                // belongs to this thread, not to the handle, and stays its
                // own through the other handles; this mapping stays too,
                // since the thread's robust list may point into it.
                pthread_mutex_unlock(&m->own);
                m_seg->KeepMapped();
                return;
            }
            if (r == EOWNERDEAD) pthread_mutex_consistent(&m->own);
            if (r == 0 || r == EOWNERDEAD) {
                if (r == EOWNERDEAD) m->abandoned = 1;  // kept for the next taker
                m->count = 0;
                m->ownerTid.store(0, std::memory_order_relaxed);
                m->ownerPid.store(0, std::memory_order_relaxed);
                pthread_mutex_unlock(&m->own);
            } else if (m->ownerPid.load(std::memory_order_relaxed) == CurrentPid()) {
                // Owned by a live thread of this process, whose robust list
                // points into the segment.
                m_seg->KeepMapped();
                return;
            }
        }
    }
    if (!Shared()) pthread_mutex_destroy(Guard());
}

// The deleter of the shared pointers to a core.
void DropCore(WaitCore* c) {
    if (!c->KeptByOwner()) delete c;
}

namespace {

class WaitObject : public KernelObject {
public:
    explicit WaitObject(std::shared_ptr<WaitCore> core) : m_core(std::move(core)) {}
    std::shared_ptr<WaitCore> m_core;
};

// A take of a mutex that wait-all may still give back.
enum class Take { kBusy, kFresh, kAgain, kOwnerDied };

// One attempt at a mutex without waiting.
Take TryTake(WaitCore& c) {
    MutexState* m = c.Mutex();
    if (!c.Shared()) {
        std::uint32_t tid = CurrentTid();
        std::uint32_t w = 0;
        if (m->word.compare_exchange_strong(w, tid, std::memory_order_acquire, std::memory_order_relaxed))
            return Take::kFresh;
        return (w & kTidMask) == tid ? Take::kAgain : Take::kBusy;
    }
    int r = pthread_mutex_trylock(&m->own);
    if (r == EOWNERDEAD) return Take::kOwnerDied;
    if (r != 0) return Take::kBusy;
    return m->count > 0 ? Take::kAgain : Take::kFresh;  // we hold `own`: count is ours to read
}

// Makes a fresh take of an unnamed mutex final.
inline DWORD CommitWord(MutexState* m) {
    m->count = 1;
    if (m->abandoned) {
        m->abandoned = 0;
        return WAIT_ABANDONED;
    }
    return WAIT_OBJECT_0;
}

// Makes a take final: WAIT_OBJECT_0, or WAIT_ABANDONED when the mutex
// comes from an owner that ended.
DWORD Commit(WaitCore& c, Take t) {
    MutexState* m = c.Mutex();
    if (t == Take::kAgain) {
        if (c.Shared()) pthread_mutex_unlock(&m->own);  // one level of `own` per owner, counted here
        ++m->count;
        return WAIT_OBJECT_0;
    }
    if (t == Take::kOwnerDied) {
        pthread_mutex_consistent(&m->own);
        m->abandoned = 1;
    }
    m->count = 1;
    if (c.Shared()) {
        m->ownerPid.store(CurrentPid(), std::memory_order_relaxed);
        m->ownerTid.store(CurrentTid(), std::memory_order_relaxed);
    }
    if (m->abandoned) {
        m->abandoned = 0;
        return WAIT_ABANDONED;
    }
    return WAIT_OBJECT_0;
}

// Records, while holding `own` as reported EOWNERDEAD, that its owner ended:
// the mutex is free and the next taker gets WAIT_ABANDONED.
void ForgetDeadOwner(MutexState* m) {
    pthread_mutex_consistent(&m->own);
    m->count = 0;
    m->abandoned = 1;
    m->ownerTid.store(0, std::memory_order_relaxed);
    m->ownerPid.store(0, std::memory_order_relaxed);
}

// Gives back a take of a wait-all that could not complete; the mutex stays
// as it was, except that an owner's death found on the way is kept for the
// next taker.
void Untake(WaitCore& c, Take t) {
    MutexState* m = c.Mutex();
    if (!c.Shared()) {
        if (t == Take::kFresh) ReleaseWord(m);
        return;
    }
    if (t == Take::kOwnerDied) ForgetDeadOwner(m);
    pthread_mutex_unlock(&m->own);
}

// Whether the thread tid of process pid still runs. A thread of another
// user's process counts as running.
bool ThreadRuns(std::uint32_t pid, std::uint32_t tid) {
    return syscall(SYS_tgkill, static_cast<pid_t>(pid), static_cast<pid_t>(tid), 0) == 0 || errno == EPERM;
}

// Whether a wait-all would find the object ready (a mutex free, or the
// caller's own), looked at without taking it: a wait-all takes nothing
// while one of its objects is not ready, so that no other thread sees a
// mutex taken for a moment by a wait that then gives it back. A named
// mutex whose owner ended is found by a try of its lock, and left free and
// abandoned for the next taker; the lock is tried only when the owner
// thread is gone, or (bRetry) when the wait has slept on this mutex, since
// the ids of an ended owner may have been given to a new thread.
bool LooksReady(WaitCore& c, bool bRetry) {
    if (!c.IsMutex()) return c.Event()->signalled.load(std::memory_order_relaxed) != 0;
    MutexState* m = c.Mutex();
    if (!c.Shared()) {
        std::uint32_t w = m->word.load(std::memory_order_relaxed);
        return w == 0 || (w & kTidMask) == CurrentTid();
    }
    std::uint32_t pid = m->ownerPid.load(std::memory_order_relaxed);
    std::uint32_t tid = m->ownerTid.load(std::memory_order_relaxed);
    // One id 0: the owner is storing or clearing them, and the take decides.
    if (pid == 0 || tid == 0 || (pid == CurrentPid() && tid == CurrentTid())) return true;
    if (!bRetry && ThreadRuns(pid, tid)) return false;
    int r = pthread_mutex_trylock(&m->own);
    if (r != 0 && r != EOWNERDEAD) return false;
    if (r == EOWNERDEAD) ForgetDeadOwner(m);
    pthread_mutex_unlock(&m->own);
    return true;
}

// One attempt at a mutex without waiting: WAIT_OBJECT_0, WAIT_ABANDONED or
// WAIT_TIMEOUT.
DWORD TryMutex(WaitCore& c) {
    Take t = TryTake(c);
    return t == Take::kBusy ? WAIT_TIMEOUT : Commit(c, t);
}

// One attempt without waiting: WAIT_OBJECT_0, WAIT_ABANDONED or
// WAIT_TIMEOUT. An event is looked at under its guard, so that one set
// auto-reset event goes to one waiter.
DWORD TryOnce(WaitCore& c) {
    if (c.IsMutex()) return TryMutex(c);
    EventState* e = c.Event();
    if (e->manual) return e->signalled.load(std::memory_order_acquire) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
    LockGuard(&e->guard);
    DWORD res = WAIT_TIMEOUT;
    if (e->signalled.load(std::memory_order_relaxed)) {
        e->signalled.store(0, std::memory_order_relaxed);
        res = WAIT_OBJECT_0;
    }
    UnlockGuard(&e->guard);
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

// Takes the word of an unnamed mutex that another thread holds, sleeping
// until the deadline at most. A taker that slept leaves the sleepers bit
// set, since others may sleep too; their release wakes one more than needed
// at worst.
bool LockWordUntil(MutexState* m, const Deadline& d) {
    const std::uint32_t tid = CurrentTid();
    for (;;) {
        std::uint32_t w = m->word.load(std::memory_order_relaxed);
        if (w == 0) {
            if (m->word.compare_exchange_weak(w, tid | kSleepersBit, std::memory_order_acquire,
                                              std::memory_order_relaxed))
                return true;
            continue;
        }
        if (!(w & kSleepersBit)) {
            if (!m->word.compare_exchange_weak(w, w | kSleepersBit, std::memory_order_relaxed,
                                               std::memory_order_relaxed))
                continue;
            w |= kSleepersBit;
        }
        if (d.Passed()) return false;
        FutexWait(&m->word, w, d.infinite ? nullptr : &d.at, false);
    }
}

// The clock is read only once a wait has to wait.
DWORD WaitMutex(WaitCore& c, DWORD ms) {
    MutexState* m = c.Mutex();
    for (int spin = 0;; ++spin) {
        DWORD res = TryMutex(c);
        if (res != WAIT_TIMEOUT || ms == 0) return res;
        if (spin < kSpins) {
            CpuRelax();
            continue;
        }
        Deadline d = Deadline::After(ms);
        if (!c.Shared()) return LockWordUntil(m, d) ? Commit(c, Take::kFresh) : WAIT_TIMEOUT;
        int r = LockUntil(&m->own, d);
        if (r == ETIMEDOUT) return WAIT_TIMEOUT;
        if (r != 0 && r != EOWNERDEAD) {
            SetLastError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
        return Commit(c, r == EOWNERDEAD ? Take::kOwnerDied : Take::kFresh);
    }
}

// ReleaseMutex: only the owner thread gets past the look at the owner's
// id, since no other thread ever finds its own id there.
BOOL ReleaseCore(WaitCore& c) {
    if (!c.IsMutex()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    MutexState* m = c.Mutex();
    const bool shared = c.Shared();
    bool mine = shared ? m->ownerTid.load(std::memory_order_relaxed) == CurrentTid() &&
                             m->ownerPid.load(std::memory_order_relaxed) == CurrentPid()
                       : (m->word.load(std::memory_order_relaxed) & kTidMask) == CurrentTid();
    if (!mine) {
        SetLastError(ERROR_NOT_OWNER);
        return FALSE;
    }
    if (--m->count > 0) return TRUE;
    if (shared) {
        m->ownerTid.store(0, std::memory_order_relaxed);
        m->ownerPid.store(0, std::memory_order_relaxed);
        pthread_mutex_unlock(&m->own);
    } else {
        ReleaseWord(m);
    }
    RaiseGeneration(m, shared);
    return TRUE;
}

BOOL SetCore(WaitCore& c) {
    if (c.IsMutex()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    EventState* e = c.Event();
    // Setting a set manual-reset event changes nothing.
    if (e->manual && e->signalled.load(std::memory_order_acquire)) return TRUE;
    LockGuard(&e->guard);
    e->signalled.store(1, std::memory_order_release);
    c.Signalled();
    UnlockGuard(&e->guard);
    c.WakeSleepers();
    return TRUE;
}

BOOL ResetCore(WaitCore& c) {
    if (c.IsMutex()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    EventState* e = c.Event();
    if (!e->signalled.load(std::memory_order_acquire)) return TRUE;
    LockGuard(&e->guard);
    e->signalled.store(0, std::memory_order_relaxed);
    UnlockGuard(&e->guard);
    return TRUE;
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
    Take taken[MAXIMUM_WAIT_OBJECTS];
    const WaitCore* slept = nullptr;  // the object of the last sleep
    for (;;) {
        for (DWORD i = 0; i < n; ++i) LockGuard(order[i]->Guard());
        DWORD busy = n;
        for (DWORD i = 0; i < n && busy == n; ++i)
            if (!LooksReady(*cores[i], cores[i].get() == slept)) busy = i;
        // Taken: the mutexes before nTaken. A take fails only when another
        // thread took the mutex since the look.
        DWORD nTaken = 0;
        while (busy == n && nTaken < n) {
            WaitCore& c = *cores[nTaken];
            if (c.IsMutex() && (taken[nTaken] = TryTake(c)) == Take::kBusy) busy = nTaken;
            else ++nTaken;
        }
        if (busy == n) {
            DWORD res = WAIT_OBJECT_0;
            for (DWORD i = 0; i < n; ++i) {
                WaitCore& c = *cores[i];
                if (c.IsMutex()) {
                    if (Commit(c, taken[i]) == WAIT_ABANDONED && res == WAIT_OBJECT_0) res = WAIT_ABANDONED_0 + i;
                } else if (!c.Event()->manual) {
                    c.Event()->signalled.store(0, std::memory_order_relaxed);
                }
            }
            for (DWORD i = n; i-- > 0;) UnlockGuard(order[i]->Guard());
            return res;
        }
        for (DWORD i = 0; i < nTaken; ++i)
            if (cores[i]->IsMutex()) Untake(*cores[i], taken[i]);
        WaitCore& b = *cores[busy];
        std::uint32_t g = b.Gen()->load(std::memory_order_relaxed);
        if (!d.zero) b.Sleepers()->fetch_add(1, std::memory_order_seq_cst);
        for (DWORD i = n; i-- > 0;) UnlockGuard(order[i]->Guard());
        for (DWORD i = 0; i < nTaken; ++i)
            if (cores[i]->IsMutex() && taken[i] == Take::kOwnerDied) RaiseGeneration(cores[i]->Mutex(), true);
        if (d.zero) return WAIT_TIMEOUT;
        if (d.Passed()) {
            b.Sleepers()->fetch_sub(1, std::memory_order_relaxed);
            return WAIT_TIMEOUT;
        }
        SleepOn(b, g, d, b.IsMutex());
        slept = &b;
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
    std::shared_ptr<WaitCore> shared(core, &DropCore);
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
            core = new (std::nothrow) WaitCore(kKindMutex, std::move(seg));
        } else {
            core = new (std::nothrow) WaitCore(kKindMutex);
            if (core && !InitMutexes(&core->Mutex()->guard, nullptr, false)) {
                delete core;
                core = nullptr;
            }
            if (core) Enlist(core->Mutex());
        }
        // The initial owner takes a new mutex; an existing one is opened as it is.
        if (core && bInitialOwner && !existed) TryMutex(*core);
        return RegisterCore(core, existed);
    } catch (...) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
}

BOOL ReleaseMutex(HANDLE hMutex) {
    using namespace posix;
    BOOL ok = FALSE;
    if (!WithCore(hMutex, [&](WaitCore& c) { ok = ReleaseCore(c); })) return FALSE;
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
            core = new (std::nothrow) WaitCore(kKindEvent, std::move(seg));
        } else {
            core = new (std::nothrow) WaitCore(kKindEvent);
            if (core && !InitMutexes(&core->Event()->guard, nullptr, false)) {
                delete core;
                core = nullptr;
            }
            if (core) {
                core->Event()->manual = bManualReset != 0;
                core->Event()->signalled.store(bInitialState ? 1 : 0, std::memory_order_relaxed);
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
    if (!WithCore(hEvent, [&](WaitCore& c) { ok = SetCore(c); })) return FALSE;
    return ok;
}

BOOL ResetEvent(HANDLE hEvent) {
    using namespace posix;
    BOOL ok = FALSE;
    if (!WithCore(hEvent, [&](WaitCore& c) { ok = ResetCore(c); })) return FALSE;
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

}  // namespace win

// ---- Direct references ----

namespace detail {

KernelRef RefOf(HANDLE h) {
    KernelRef r = nullptr;
    win::posix::WithCore(h, [&](win::posix::WaitCore& c) { r = &c; });
    return r;
}

// The common cases first, kept apart from the rest so that they stay short:
// a free unnamed mutex, and the last release of one by its owner.
namespace {

__attribute__((noinline)) DWORD RefWaitRest(KernelRef r, DWORD dwMilliseconds) {
    using namespace win::posix;
    return r->IsMutex() ? WaitMutex(*r, dwMilliseconds) : WaitEvent(*r, dwMilliseconds);
}

__attribute__((noinline)) BOOL RefReleaseRest(KernelRef r) { return win::posix::ReleaseCore(*r); }
__attribute__((noinline)) BOOL RefSetRest(KernelRef r) { return win::posix::SetCore(*r); }

// A released word that may have sleepers, or wait-all or wait-any sleepers
// around.
__attribute__((noinline)) void WakeAfterRelease(win::posix::MutexState* m, std::uint32_t w) {
    using namespace win::posix;
    if (w & kSleepersBit) FutexWakeOne(&m->word, false);
    RaiseGeneration(m, false);
}

}  // namespace

DWORD RefWait(KernelRef r, DWORD dwMilliseconds) {
    using namespace win::posix;
    if (r->IsUnnamedMutex()) {
        MutexState* m = r->Mutex();
        std::uint32_t w = 0;
        if (m->word.compare_exchange_strong(w, CurrentTid(), std::memory_order_acquire, std::memory_order_relaxed))
            return CommitWord(m);
    }
    return RefWaitRest(r, dwMilliseconds);
}

BOOL RefReleaseMutex(KernelRef r) {
    using namespace win::posix;
    if (r->IsUnnamedMutex()) {
        MutexState* m = r->Mutex();
        if (m->word.load(std::memory_order_relaxed) == CurrentTid() && m->count == 1) {
            m->count = 0;
            std::uint32_t w = m->word.exchange(0, std::memory_order_release);
            if ((w & kSleepersBit) || m->sleepers.load(std::memory_order_seq_cst) != 0 ||
                g_anySleepers.load(std::memory_order_seq_cst) != 0)
                WakeAfterRelease(m, w);
            return win::TRUE;
        }
    }
    return RefReleaseRest(r);
}
BOOL RefSetEvent(KernelRef r) {
    // Setting a set manual-reset event changes nothing: the common case of
    // the locks, whose release events stay set until a waiter resets them.
    if (!r->IsMutex() && r->Event()->manual && r->Event()->signalled.load(std::memory_order_acquire)) return win::TRUE;
    return RefSetRest(r);
}
BOOL RefResetEvent(KernelRef r) { return win::posix::ResetCore(*r); }

}  // namespace detail

namespace win {

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
    case 1:
        return __atomic_load_n(static_cast<const volatile std::uint8_t*>(a), __ATOMIC_SEQ_CST) ==
               *static_cast<const std::uint8_t*>(b);
    case 2:
        return __atomic_load_n(static_cast<const volatile std::uint16_t*>(a), __ATOMIC_SEQ_CST) ==
               *static_cast<const std::uint16_t*>(b);
    case 4:
        return __atomic_load_n(static_cast<const volatile std::uint32_t*>(a), __ATOMIC_SEQ_CST) ==
               *static_cast<const std::uint32_t*>(b);
    default:
        return __atomic_load_n(static_cast<const volatile std::uint64_t*>(a), __ATOMIC_SEQ_CST) ==
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
    if (!Address || !CompareAddress || (AddressSize != 1 && AddressSize != 2 && AddressSize != 4 && AddressSize != 8)) {
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
        while (nanosleep(&t, &t) != 0 && errno == EINTR) {}
        if (dwMilliseconds != INFINITE) return;
    }
}

}  // namespace win
}  // namespace vorlix

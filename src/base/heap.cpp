// The slab heap of strings and arrays; the design is described in heap.h.
// One file of some 1000 lines: the slabs, the thread caches, the large
// blocks and the fork handlers share the locks whose order is set out
// below, and the fork handlers must reach every one of them.
//
// Locks, in the order a thread may take them; the fork handlers take them
// all in this order:
//   1. the size locks (g_central[c].lock): a thread holds at most one;
//   2. the space lock (g_space.lock): the reserved space, the pool of empty
//      slabs and the record of released slabs; taken under a size lock;
//   3. the lock of the kept large blocks (g_kept.lock), always taken alone;
//   4. below the heap, the lock of the virtual memory services, taken by
//      VirtualAlloc and VirtualFree (under the space lock when the space
//      grows, and under a size lock when a released slab is committed
//      again; empty slabs are decommitted under no heap lock).
// A slab's size (cls) changes only while the slab has no block in use, so a
// thread freeing a block may read it without a lock.
#include <vorlix/base/heap.h>
#include <vorlix/win.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <thread>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_MEMORY__)
#define VORLIX_HEAP_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(memory_sanitizer)
#define VORLIX_HEAP_SANITIZED 1
#endif
#endif

#if defined(VORLIX_SYSTEM_HEAP) || defined(VORLIX_HEAP_SANITIZED)
#define VORLIX_HEAP_SLABS 0
#else
#define VORLIX_HEAP_SLABS 1
#endif

// Threads keep caches where the end of a thread runs the destructors of its
// thread_local objects while their storage is still there. MinGW's emulated
// thread-local storage may free that storage first, so on Windows every
// request goes to the slabs under their lock.
#if defined(_WIN32)
#define VORLIX_HEAP_THREAD_CACHE 0
#else
#define VORLIX_HEAP_THREAD_CACHE 1
#endif

// The thread's cache pointer is read on every request: on ELF systems the
// initial-exec model makes that a single load.
#if defined(__ELF__) && (defined(__GNUC__) || defined(__clang__))
#define VORLIX_FAST_TLS __attribute__((tls_model("initial-exec")))
#else
#define VORLIX_FAST_TLS
#endif

#if defined(__GNUC__) || defined(__clang__)
#define VORLIX_HEAP_NOINLINE __attribute__((noinline))
#else
#define VORLIX_HEAP_NOINLINE
#endif

namespace vorlix {
namespace detail {

namespace {

class SpinLock {
public:
    void Lock() noexcept {
        for (int spins = 0; m_busy.exchange(true, std::memory_order_acquire);) {
            while (m_busy.load(std::memory_order_relaxed))
                if (++spins > 100) std::this_thread::yield();
        }
    }
    void Unlock() noexcept { m_busy.store(false, std::memory_order_release); }

private:
    std::atomic<bool> m_busy{false};
};

class Hold {
public:
    explicit Hold(SpinLock& l) : m_l(l) { m_l.Lock(); }
    ~Hold() { m_l.Unlock(); }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

private:
    SpinLock& m_l;
};

// Registers the fork handlers, at the latest on the heap's first use (see below).
void EnsureForkHandlers() noexcept;

// ---- Large blocks ----
//
// Every block outside the slabs (every block, when the C heap serves them
// all) starts with a header holding its usable size: its size is then
// known to BlockSize and when resizing it, and large freed blocks can be
// kept for the next request. A program that parses one large document
// after another (a file read as one long line, a list of many children)
// would otherwise take all those pages from the system again each time.
//
// Blocks of kMapMin bytes and more have pages of their own from the system
// (VirtualAlloc), smaller ones come from the C heap. A large block in the
// middle of the C heap's memory, in use or kept, would hold on to all the
// freed memory around it, which that heap gives back only from its end.

// Unqualified: on Windows the constants are the macros of <windows.h>.
using namespace vorlix::win;

struct alignas(16) LargeHeader {
    std::size_t nBytes;  // usable, after the header
    std::size_t nAsked;  // the size last asked for; a kept block may hold more
};

inline LargeHeader* HeaderOf(void* p) { return static_cast<LargeHeader*>(p) - 1; }
inline const LargeHeader* HeaderOf(const void* p) { return static_cast<const LargeHeader*>(p) - 1; }

// Not with the C heap for everything: memory checkers should see each
// block taken from the C heap and freed when it is.
constexpr bool kOwnPages = VORLIX_HEAP_SLABS != 0;
constexpr std::size_t kMapMin = std::size_t(256) << 10;
constexpr std::size_t kMapStep = std::size_t(64) << 10;  // the granularity of Windows' reservations

// Freed blocks of kKeepMin to kKeepMax bytes are kept, up to kKeepSlots of
// them and kKeepBytes in all; each is handed out again for a request it
// can hold, the smallest that fits first.
constexpr std::size_t kKeepMin = kMapMin;
constexpr std::size_t kKeepMax = std::size_t(64) << 20;
constexpr std::size_t kKeepBytes = std::size_t(64) << 20;
constexpr int kKeepSlots = 8;

inline bool HasOwnPages(const LargeHeader* h) { return kOwnPages && h->nBytes >= kMapMin; }

// A block of at least nBytes; null when memory is exhausted.
void* NewLarge(std::size_t nBytes) {
    LargeHeader* h;
    if (nBytes > static_cast<std::size_t>(-1) - sizeof(LargeHeader) - kMapStep) return nullptr;
    std::size_t nTotal = sizeof(LargeHeader) + nBytes;
    if (kOwnPages && nBytes >= kMapMin) {
        nTotal = (nTotal + kMapStep - 1) & ~(kMapStep - 1);
        h = static_cast<LargeHeader*>(VirtualAlloc(nullptr, nTotal, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    } else {
        h = static_cast<LargeHeader*>(std::malloc(nTotal));
    }
    if (!h) return nullptr;
    h->nBytes = nTotal - sizeof(LargeHeader);
    h->nAsked = nBytes;
    return h + 1;
}

void DeleteLarge(void* p) {
    LargeHeader* h = HeaderOf(p);
    if (HasOwnPages(h)) VirtualFree(h, 0, MEM_RELEASE);
    else std::free(h);
}

struct Kept {
    SpinLock lock;
    void* blocks[kKeepSlots] = {};
    std::size_t nBytes = 0;
};
Kept g_kept;

// A kept block of at least nBytes and, unless bAny, at most four times
// that (a small request does not take a block that a large one could use);
// null when none.
void* TakeKept(std::size_t nBytes, bool bAny) {
    if (!kOwnPages || nBytes < kKeepMin) return nullptr;
    Hold hold(g_kept.lock);
    int best = -1;
    for (int i = 0; i < kKeepSlots; ++i) {
        void* b = g_kept.blocks[i];
        if (!b) continue;
        std::size_t n = HeaderOf(b)->nBytes;
        if (n < nBytes || (!bAny && n / 4 > nBytes)) continue;
        if (best < 0 || n < HeaderOf(g_kept.blocks[best])->nBytes) best = i;
    }
    if (best < 0) return nullptr;
    void* b = g_kept.blocks[best];
    g_kept.blocks[best] = nullptr;
    g_kept.nBytes -= HeaderOf(b)->nBytes;
    HeaderOf(b)->nAsked = nBytes;
    return b;
}

void FreeLarge(void* p) {
    std::size_t n = HeaderOf(p)->nBytes;
    if (kOwnPages && n >= kKeepMin && n <= kKeepMax) {
        EnsureForkHandlers();
        // Keeps it, making room by giving back the smallest kept blocks.
        void* evicted[kKeepSlots];
        int nEvicted = 0;
        {
            Hold hold(g_kept.lock);
            for (;;) {
                int empty = -1, smallest = -1;
                for (int i = 0; i < kKeepSlots; ++i) {
                    void* b = g_kept.blocks[i];
                    if (!b) {
                        if (empty < 0) empty = i;
                    } else if (smallest < 0 || HeaderOf(b)->nBytes < HeaderOf(g_kept.blocks[smallest])->nBytes) {
                        smallest = i;
                    }
                }
                if (empty >= 0 && g_kept.nBytes + n <= kKeepBytes) {
                    g_kept.blocks[empty] = p;
                    g_kept.nBytes += n;
                    p = nullptr;
                    break;
                }
                evicted[nEvicted++] = g_kept.blocks[smallest];
                g_kept.nBytes -= HeaderOf(g_kept.blocks[smallest])->nBytes;
                g_kept.blocks[smallest] = nullptr;
            }
        }
        for (int i = 0; i < nEvicted; ++i) DeleteLarge(evicted[i]);
        if (!p) return;
    }
    DeleteLarge(p);
}

// Gives every kept block back to the system.
void FreeKept() {
    void* blocks[kKeepSlots];
    {
        Hold hold(g_kept.lock);
        for (int i = 0; i < kKeepSlots; ++i) {
            blocks[i] = g_kept.blocks[i];
            g_kept.blocks[i] = nullptr;
        }
        g_kept.nBytes = 0;
    }
    for (void* b : blocks)
        if (b) DeleteLarge(b);
}

void* AllocLarge(std::size_t nBytes) {
    if (void* p = TakeKept(nBytes, false)) return p;
    return NewLarge(nBytes);
}

void* ReallocLarge(void* p, std::size_t nBytes) {
    LargeHeader* h = HeaderOf(p);
    std::size_t nHave = h->nBytes;
    // Growing within what the block holds, or shrinking by less than half,
    // keeps the block.
    if (nBytes <= nHave && (nBytes >= h->nAsked || nBytes >= nHave / 2)) {
        h->nAsked = nBytes;
        return p;
    }
    // Within the C heap, the C heap resizes.
    if (!HasOwnPages(h) && !(kOwnPages && nBytes >= kMapMin)) {
        if (nBytes > static_cast<std::size_t>(-1) - sizeof(LargeHeader)) return nullptr;
        h = static_cast<LargeHeader*>(std::realloc(h, sizeof(LargeHeader) + nBytes));
        if (!h) return nullptr;
        h->nBytes = h->nAsked = nBytes;
        return h + 1;
    }
    // A growing block is likely to grow again: any kept block that holds
    // it will do.
    void* q = nBytes > nHave ? TakeKept(nBytes, true) : nullptr;
    if (!q) q = NewLarge(nBytes);
    if (!q) return nullptr;
    // All of it when growing: BlockSize lets the owner use it all.
    std::memcpy(q, p, nBytes < nHave ? nBytes : nHave);
    FreeLarge(p);
    return q;
}

}  // namespace

#if VORLIX_HEAP_SLABS

namespace {

constexpr std::size_t kSlabShift = 16;
constexpr std::size_t kSlabSize = std::size_t(1) << kSlabShift;
constexpr std::size_t kSlabHeader = 64;        // the slab's own fields, before its first block
constexpr std::size_t kCommitStep = 1u << 20;  // the reserved space is committed this much at a time
constexpr std::size_t kMaxSmall = 8192;
constexpr int kClasses = 36;
// The address space reserved, at most: it costs nothing until committed.
constexpr std::size_t kMaxSpace = sizeof(void*) >= 8 ? std::size_t(1) << 36 : std::size_t(1) << 28;
constexpr std::size_t kMaxSlabs = kMaxSpace >> kSlabShift;
// Empty slabs the pool keeps with their pages: 64 MiB at first. A program
// that does one big job and goes on with little gets the rest of its memory
// back as the job's blocks are freed. But one that repeats the job would
// take those pages from the system again each time (a page fault per 4 KiB,
// which on some machines costs as much as parsing the text that fills the
// page): each slab given back and then asked for again raises the limit by
// one slab, up to 256 MiB, so that from the second round on the job finds
// its memory in the pool. ReleaseUnusedMemory brings the limit back to 64
// MiB.
constexpr std::size_t kPoolLimit = (std::size_t(64) << 20) / kSlabSize;
constexpr std::size_t kPoolLimitMax = (std::size_t(256) << 20) / kSlabSize;

// Block sizes: steps of 16 bytes up to 256, then four steps per doubling.
// A slab holds at least seven blocks of the largest size, and loses at
// most 8 KiB (an eighth) of its space to the rounding.
constexpr std::uint16_t kClassSize[kClasses] = {16,   32,   48,   64,   80,   96,   112,  128,  144,  160,  176,  192,
                                                208,  224,  240,  256,  320,  384,  448,  512,  640,  768,  896,  1024,
                                                1280, 1536, 1792, 2048, 2560, 3072, 3584, 4096, 5120, 6144, 7168, 8192};

// The size class of 257..8192 bytes by (n - 1) / 64.
struct LargeClassTable {
    std::uint8_t cls[kMaxSmall / 64];
    constexpr LargeClassTable() : cls() {
        for (int i = 4; i < static_cast<int>(kMaxSmall / 64); ++i) {
            int n = (i + 1) * 64;  // the largest size of the step
            int c = 16;
            while (kClassSize[c] < n) ++c;
            cls[i] = static_cast<std::uint8_t>(c);
        }
    }
};
constexpr LargeClassTable kLargeClass;

inline int ClassOf(std::size_t n) {
    if (n <= 256) return n == 0 ? 0 : static_cast<int>((n + 15) / 16) - 1;
    return kLargeClass.cls[(n - 1) / 64];
}

struct Slab {
    Slab* prev;  // in its size's list of slabs with room, or in the pool
    Slab* next;
    void* free;  // freed blocks, linked through their first word
    char* bump;  // the first block never handed out since the slab started
    char* end;   // the end of the last whole block
    int live;    // blocks handed out, those in thread caches included
    int cls;     // the size class; -1 in the pool
    bool listed;
};
static_assert(sizeof(Slab) <= kSlabHeader, "the slab header must fit before the first block");

inline Slab* SlabOf(const void* p) {
    return reinterpret_cast<Slab*>(reinterpret_cast<std::uintptr_t>(p) & ~(kSlabSize - 1));
}
inline char* FirstBlock(Slab* s) { return reinterpret_cast<char*>(s) + kSlabHeader; }
inline void*& Link(void* block) { return *static_cast<void**>(block); }

// A doubly linked list of slabs.
struct SlabList {
    Slab* head = nullptr;
    void Push(Slab* s) {
        s->prev = nullptr;
        s->next = head;
        if (head) head->prev = s;
        head = s;
    }
    void Remove(Slab* s) {
        if (s->prev) s->prev->next = s->next;
        else head = s->next;
        if (s->next) s->next->prev = s->prev;
        s->prev = s->next = nullptr;
    }
};

// One size class: its slabs with room, and how many of them are empty.
struct alignas(64) Central {
    SpinLock lock;
    SlabList room;
    int nEmpty = 0;
};

// The reserved space. A slab is in use (by one size), in the pool (empty,
// with its pages), released (empty, its pages given back to the system),
// or beyond the frontier (never used). Released slabs are recorded one bit
// each, in address order, so that the lowest is used again first and the
// heap stays compact; their headers are gone with their pages.
struct Space {
    SpinLock lock;
    std::atomic<int> state{0};  // 0 not tried, 1 ready, 2 unavailable
    std::atomic<char*> base{nullptr};
    std::atomic<std::size_t> size{0};
    char* frontier = nullptr;   // the first slab never used
    char* committed = nullptr;  // the end of the committed part
    SlabList pool;
    std::size_t nPooled = 0;
    std::size_t nPoolLimit = kPoolLimit;
    std::size_t nGivenBack = 0;  // slabs released for want of room in the pool, not yet asked for again
    std::size_t nInUse = 0;
    std::uint64_t released[kMaxSlabs / 64] = {};
    std::size_t nReleased = 0;
    std::size_t releasedFrom = 0;  // no bit is set in the words below this one
};

Central g_central[kClasses];
Space g_space;

// Empty slabs a size keeps for itself before they go back to the pool, so
// that a size that empties and fills its last slab again does not trade
// it with the pool every time.
constexpr int kKeepEmpty = 1;

bool Reserve() {
    int state = g_space.state.load(std::memory_order_acquire);
    if (state != 0) return state == 1;
    // Outside every heap lock: fork() holds a lock of its own while it runs
    // the handlers, which take ours.
    EnsureForkHandlers();
    Hold hold(g_space.lock);
    state = g_space.state.load(std::memory_order_relaxed);
    if (state != 0) return state == 1;
    // As much address space as the system grants, from kMaxSpace down.
    std::size_t want = kMaxSpace;
    char* base = nullptr;
    for (; want >= (std::size_t(16) << 20); want >>= 2) {
        // One slab more than needed, so that the space can start on a slab
        // boundary.
        base = static_cast<char*>(VirtualAlloc(nullptr, want + kSlabSize, MEM_RESERVE, PAGE_NOACCESS));
        if (base) break;
    }
    if (!base) {
        g_space.state.store(2, std::memory_order_release);
        return false;
    }
    char* aligned =
        reinterpret_cast<char*>((reinterpret_cast<std::uintptr_t>(base) + kSlabSize - 1) & ~(kSlabSize - 1));
    g_space.frontier = g_space.committed = aligned;
    g_space.base.store(aligned, std::memory_order_relaxed);
    g_space.size.store(want, std::memory_order_relaxed);
    g_space.state.store(1, std::memory_order_release);
    return true;
}

inline bool Owns(const void* p) {
    std::uintptr_t base = reinterpret_cast<std::uintptr_t>(g_space.base.load(std::memory_order_acquire));
    return reinterpret_cast<std::uintptr_t>(p) - base < g_space.size.load(std::memory_order_relaxed) && base != 0;
}

// ---- Released slabs (under the space lock) ----

inline int LowestBit(std::uint64_t w) {
#if defined(__GNUC__) || defined(__clang__)
    return __builtin_ctzll(w);
#else
    int n = 0;
    for (; !(w & 1); w >>= 1) ++n;
    return n;
#endif
}

void MarkReleased(Slab* s) {
    std::size_t i =
        static_cast<std::size_t>(reinterpret_cast<char*>(s) - g_space.base.load(std::memory_order_relaxed)) >>
        kSlabShift;
    g_space.released[i / 64] |= std::uint64_t(1) << (i % 64);
    ++g_space.nReleased;
    if (i / 64 < g_space.releasedFrom) g_space.releasedFrom = i / 64;
}

// The released slab of the lowest address, taken off the record; null when
// there is none.
Slab* TakeReleased() {
    if (g_space.nReleased == 0) return nullptr;
    std::size_t w = g_space.releasedFrom;
    while (!g_space.released[w]) ++w;
    std::uint64_t& bits = g_space.released[w];
    std::size_t i = w * 64 + static_cast<std::size_t>(LowestBit(bits));
    bits &= bits - 1;
    --g_space.nReleased;
    g_space.releasedFrom = w;
    return reinterpret_cast<Slab*>(g_space.base.load(std::memory_order_relaxed) + (i << kSlabShift));
}

// ---- Slabs between sizes, the pool and the system ----

// An empty slab for size class c: from the pool, else the released slab of
// the lowest address (committed again), else from the space never used;
// null when the space is exhausted or the system lends no more memory.
Slab* NewSlab(int c) {
    Slab* s;
    bool bCommit = false;
    {
        Hold hold(g_space.lock);
        s = g_space.pool.head;
        if (s) {
            g_space.pool.Remove(s);
            --g_space.nPooled;
        } else if ((s = TakeReleased()) != nullptr) {
            bCommit = true;
            if (g_space.nGivenBack > 0) {
                --g_space.nGivenBack;
                if (g_space.nPoolLimit < kPoolLimitMax) ++g_space.nPoolLimit;
            }
        } else {
            char* end = g_space.base.load(std::memory_order_relaxed) + g_space.size.load(std::memory_order_relaxed);
            if (static_cast<std::size_t>(end - g_space.frontier) < kSlabSize) return nullptr;
            if (g_space.frontier == g_space.committed) {
                std::size_t step = static_cast<std::size_t>(end - g_space.committed);
                if (step > kCommitStep) step = kCommitStep;
                if (!VirtualAlloc(g_space.committed, step, MEM_COMMIT, PAGE_READWRITE)) return nullptr;
                g_space.committed += step;
            }
            s = reinterpret_cast<Slab*>(g_space.frontier);
            g_space.frontier += kSlabSize;
        }
        ++g_space.nInUse;
    }
    if (bCommit && !VirtualAlloc(s, kSlabSize, MEM_COMMIT, PAGE_READWRITE)) {
        Hold hold(g_space.lock);
        MarkReleased(s);
        --g_space.nInUse;
        return nullptr;
    }
    std::size_t size = kClassSize[c];
    s->prev = s->next = nullptr;
    s->free = nullptr;
    s->bump = FirstBlock(s);
    s->end = FirstBlock(s) + (kSlabSize - kSlabHeader) / size * size;
    s->live = 0;
    s->cls = c;
    s->listed = false;
    return s;
}

// Gives the pages of the empty slabs linked from list (through next) back
// to the system and records the slabs as released; one that cannot be
// decommitted goes to the pool instead. Called under no lock: other
// threads need not wait for the system.
void ReleaseSlabs(Slab* list) {
    while (list) {
        Slab* s = list;
        list = s->next;  // before the header goes with the pages
        bool bGone = VirtualFree(s, kSlabSize, MEM_DECOMMIT) != 0;
        Hold hold(g_space.lock);
        if (bGone) {
            MarkReleased(s);
        } else {
            g_space.pool.Push(s);
            ++g_space.nPooled;
        }
    }
}

// Takes the empty slabs linked from list (through next), which have left
// their sizes: the pool keeps them up to its limit, and the pages of the
// others go back to the system.
void PoolSlabs(Slab* list) {
    Slab* release = nullptr;
    {
        Hold hold(g_space.lock);
        while (list) {
            Slab* s = list;
            list = s->next;
            s->cls = -1;
            --g_space.nInUse;
            if (g_space.nPooled < g_space.nPoolLimit) {
                g_space.pool.Push(s);
                ++g_space.nPooled;
            } else {
                s->next = release;
                release = s;
                ++g_space.nGivenBack;
            }
        }
    }
    ReleaseSlabs(release);
}

// Takes up to nWant blocks of size class c under its lock, linked in
// address order as far as the slabs give them; returns the first, or null.
// With pRange, a slab whose free blocks are all untouched gives them all at
// once instead, without a link written into any: the first is returned and
// the others go to [pRange[0], pRange[1]).
void* TakeBlocks(int c, int nWant, int& nGot, char** pRange = nullptr) {
    Central& k = g_central[c];
    std::size_t size = kClassSize[c];
    void* first = nullptr;
    void** tail = &first;
    nGot = 0;
    Hold hold(k.lock);
    while (nGot < nWant) {
        Slab* s = k.room.head;
        if (!s) {
            s = NewSlab(c);
            if (!s) break;
            s->listed = true;
            k.room.Push(s);
            ++k.nEmpty;
        }
        if (s->live == 0) --k.nEmpty;
        if (pRange && nGot == 0 && !s->free && s->bump < s->end) {
            // A slab with room and no freed block has untouched ones.
            first = s->bump;
            pRange[0] = s->bump + size;
            pRange[1] = s->end;
            s->live += static_cast<int>(static_cast<std::size_t>(s->end - s->bump) / size);
            s->bump = s->end;
            k.room.Remove(s);
            s->listed = false;
            nGot = 1;
            return first;
        }
        while (nGot < nWant) {
            void* b;
            if (s->free) {
                b = s->free;
                s->free = Link(b);
            } else if (s->bump < s->end) {
                b = s->bump;
                s->bump += size;
            } else {
                break;
            }
            ++s->live;
            *tail = b;
            tail = &Link(b);
            ++nGot;
        }
        if (!s->free && s->bump >= s->end) {
            k.room.Remove(s);
            s->listed = false;
        }
    }
    *tail = nullptr;
    return first;
}

// Slab s of size class c has just been left with no block in use (under
// the size's lock): it starts again from its first block if the size keeps
// it, else it is linked in front of emptied, to go to the pool.
Slab* Emptied(Central& k, Slab* s, Slab* emptied) {
    if (k.nEmpty < kKeepEmpty) {
        s->free = nullptr;
        s->bump = FirstBlock(s);
        ++k.nEmpty;
        return emptied;
    }
    k.room.Remove(s);
    s->listed = false;
    s->next = emptied;
    return s;
}

// Gives blocks of size class c, linked from first, back to their slabs
// under the size's lock; slabs left empty beyond kKeepEmpty go to the pool
// once the lock is released.
void ReturnBlocks(int c, void* first) {
    Central& k = g_central[c];
    Slab* emptied = nullptr;
    {
        Hold hold(k.lock);
        for (void* b = first; b;) {
            void* next = Link(b);
            Slab* s = SlabOf(b);
            Link(b) = s->free;
            s->free = b;
            if (!s->listed) {
                s->listed = true;
                k.room.Push(s);
            }
            if (--s->live == 0) emptied = Emptied(k, s, emptied);
            b = next;
        }
    }
    if (emptied) PoolSlabs(emptied);
}

// Takes the empty slabs that size class c keeps for itself out of its
// list, linking them (through next) in front of list.
Slab* TakeEmptySlabs(int c, Slab* list) {
    Central& k = g_central[c];
    Hold hold(k.lock);
    for (Slab* s = k.room.head; s;) {
        Slab* next = s->next;
        if (s->live == 0) {
            k.room.Remove(s);
            s->listed = false;
            --k.nEmpty;
            s->next = list;
            list = s;
        }
        s = next;
    }
    return list;
}

// Gives the pages of every empty slab back to the system, those the sizes
// keep and those in the pool, and brings the pool's limit back to its
// start: the program is done with its big jobs.
void ReleaseEmptySlabs() {
    Slab* list = nullptr;
    for (int c = 0; c < kClasses; ++c) list = TakeEmptySlabs(c, list);
    {
        Hold hold(g_space.lock);
        g_space.nPoolLimit = kPoolLimit;
        g_space.nGivenBack = 0;
        for (Slab* s = list; s; s = s->next) {
            s->cls = -1;
            --g_space.nInUse;
        }
        while (Slab* s = g_space.pool.head) {
            g_space.pool.Remove(s);
            --g_space.nPooled;
            s->next = list;
            list = s;
        }
    }
    ReleaseSlabs(list);
}

// ---- Thread caches ----

struct Bin {
    void* head;  // freed blocks, linked through their first word
    int count;   // blocks in that list
    char* cur;   // untouched blocks of one slab, handed out from here
    char* end;   // to here
};

struct Cache {
    Bin bins[kClasses];
};

// Blocks a thread keeps at hand per size: about 16 KiB, 16 to 256 blocks
// (4 to 6 of the sizes above 2 KiB). A table: every free looks it up.
struct CacheLimits {
    int n[kClasses];
    constexpr CacheLimits() : n() {
        for (int c = 0; c < kClasses; ++c) {
            int k = static_cast<int>(16384 / kClassSize[c]);
            int kMin = kClassSize[c] > 2048 ? 4 : 16;
            n[c] = k < kMin ? kMin : (k > 256 ? 256 : k);
        }
    }
};
constexpr CacheLimits kCacheLimits;
inline int CacheLimit(int c) { return kCacheLimits.n[c]; }

#if VORLIX_HEAP_THREAD_CACHE

Cache* const kDeadCache = reinterpret_cast<Cache*>(static_cast<std::uintptr_t>(1));

thread_local Cache* t_cache VORLIX_FAST_TLS = nullptr;

#endif

// Gives back the bin's list of freed blocks.
void FlushBin(int c, Bin& bin) {
    if (!bin.head) return;
    ReturnBlocks(c, bin.head);
    bin.head = nullptr;
    bin.count = 0;
}

// A block of size class c from the thread's bin: a freed one, else the
// next untouched one; null when the bin has neither.
inline void* TakeFromBin(Bin& bin, int c) {
    if (void* p = bin.head) {
        bin.head = Link(p);
        --bin.count;
        return p;
    }
    if (bin.cur < bin.end) {
        void* p = bin.cur;
        bin.cur += kClassSize[c];
        return p;
    }
    return nullptr;
}

// Keeps freed block p of size class c in the thread's bin; a full bin's
// list goes back to the slabs.
inline void PutInBin(Bin& bin, int c, void* p) {
    Link(p) = bin.head;
    bin.head = p;
    if (++bin.count >= CacheLimit(c)) FlushBin(c, bin);
}

#if VORLIX_HEAP_THREAD_CACHE

// Gives the untouched blocks [cur, end) of size class c back to their slab,
// whose untouched part they end: while a thread holds them, the slab hands
// out freed blocks only.
void ReturnRange(int c, char* cur, char* end) {
    if (cur >= end) return;
    Central& k = g_central[c];
    Slab* s = SlabOf(cur);
    Slab* emptied = nullptr;
    {
        Hold hold(k.lock);
        s->bump = cur;
        if (!s->listed) {
            s->listed = true;
            k.room.Push(s);
        }
        s->live -= static_cast<int>(static_cast<std::size_t>(end - cur) / kClassSize[c]);
        if (s->live == 0) emptied = Emptied(k, s, nullptr);
    }
    if (emptied) PoolSlabs(emptied);
}

// Gives back everything the bin holds, its untouched blocks too.
void EmptyBin(int c, Bin& bin) {
    FlushBin(c, bin);
    ReturnRange(c, bin.cur, bin.end);
    bin.cur = bin.end = nullptr;
}

// Owns the thread's cache and gives its blocks back when the thread ends.
// Blocks the thread frees after that go straight to their slabs.
struct CacheOwner {
    Cache cache = {};
    ~CacheOwner() {
        for (int c = 0; c < kClasses; ++c) EmptyBin(c, cache.bins[c]);
        t_cache = kDeadCache;
    }
};

thread_local CacheOwner t_owner;

inline Cache* ThreadCache() {
    Cache* c = t_cache;
    if (reinterpret_cast<std::uintptr_t>(c) > 1) return c;
    if (c == kDeadCache) return nullptr;
    c = &t_owner.cache;
    t_cache = c;
    return c;
}

// Gives back the blocks the calling thread keeps at hand, if it has a cache.
void FlushThreadCache() {
    Cache* cache = t_cache;
    if (reinterpret_cast<std::uintptr_t>(cache) <= 1) return;
    for (int c = 0; c < kClasses; ++c) EmptyBin(c, cache->bins[c]);
}

#else

inline Cache* ThreadCache() { return nullptr; }
void FlushThreadCache() {}

#endif

// A block of size class c when the thread's bin has none: its bin gets a
// batch of freed blocks, or the untouched rest of a slab.
void* AllocSlow(int c, Cache* cache) {
    int nWant = cache ? CacheLimit(c) / 2 : 1;
    int nGot;
    char* range[2] = {nullptr, nullptr};
    void* first = TakeBlocks(c, nWant, nGot, cache ? range : nullptr);
    if (!first) return nullptr;
    if (range[0] < range[1]) {
        cache->bins[c].cur = range[0];
        cache->bins[c].end = range[1];
    } else if (cache && nGot > 1) {
        cache->bins[c].head = Link(first);
        cache->bins[c].count = nGot - 1;
    }
    return first;
}

// ---- fork() ----
//
// The handlers take every heap lock before the fork, in the order given at
// the top of this file, so that no other thread holds one at that moment;
// after it the parent releases them, and so does the child, whose only
// thread is the one that took them all, which leaves them as new. The
// caches of the other threads are reached only through those threads'
// own thread-local storage: in the child those threads do not exist, no
// one reaches their caches, and the blocks in them simply stay allocated
// (their slabs count them as in use). So do slabs that another thread was
// giving back to the system at the moment of the fork. The calling
// thread's own cache stays valid in the child.
//
// Windows has no fork(), so there is nothing to register there.

#if !defined(_WIN32)
void LockAllForFork() {
    // The forking thread's cache is made here, in the parent: made first in
    // the child, it would register its thread-local destructor with the C
    // runtime there, whose locks another thread of the parent may have held
    // at the moment of the fork.
    (void)ThreadCache();
    for (Central& k : g_central) k.lock.Lock();
    g_space.lock.Lock();
    g_kept.lock.Lock();
}

void UnlockAllAfterFork() {
    g_kept.lock.Unlock();
    g_space.lock.Unlock();
    for (int c = kClasses; c-- > 0;) g_central[c].lock.Unlock();
}
#endif

#if !defined(_WIN32)
// 0 before the handlers are registered, 1 while a thread registers them, 2
// once they are in place.
std::atomic<int> g_forkState{0};
#endif

// Registers the handlers, or waits until another thread has: no heap lock
// is taken before they are in place. The library registers them while it
// is loaded, before the program's threads start, so a child forked at any
// moment finds them done; the calls on first use cover a static
// initializer elsewhere in the program that uses the heap before that.
void EnsureForkHandlers() noexcept {
#if !defined(_WIN32)
    int state = g_forkState.load(std::memory_order_acquire);
    if (state == 2) return;
    if (state == 0 && g_forkState.compare_exchange_strong(state, 1, std::memory_order_acq_rel)) {
        SetForkHandlers(LockAllForFork, UnlockAllAfterFork, UnlockAllAfterFork);
        g_forkState.store(2, std::memory_order_release);
        return;
    }
    while (g_forkState.load(std::memory_order_acquire) != 2) std::this_thread::yield();
#endif
}

struct RegisterAtLoad {
    RegisterAtLoad() { EnsureForkHandlers(); }
};
const RegisterAtLoad g_registerAtLoad;

// The requests a thread's cache cannot serve: a first request, an empty
// bin, large blocks, threads without a cache. Out of line, so that the
// common case stays a few instructions with nothing to save.
VORLIX_HEAP_NOINLINE void* AllocMiss(std::size_t nBytes) noexcept {
    if (nBytes <= kMaxSmall && Reserve()) {
        int c = ClassOf(nBytes);
        Cache* cache = ThreadCache();
        if (cache) {
            if (void* p = TakeFromBin(cache->bins[c], c)) return p;
        }
        if (void* p = AllocSlow(c, cache)) return p;
    }
    return AllocLarge(nBytes ? nBytes : 1);
}

VORLIX_HEAP_NOINLINE void FreeMiss(void* p) noexcept {
    if (!Owns(p)) {
        FreeLarge(p);
        return;
    }
    int c = SlabOf(p)->cls;
    Cache* cache = ThreadCache();
    if (!cache) {
        Link(p) = nullptr;
        ReturnBlocks(c, p);
        return;
    }
    PutInBin(cache->bins[c], c, p);
}

}  // namespace

void* BlockAlloc(std::size_t nBytes) noexcept {
#if VORLIX_HEAP_THREAD_CACHE
    // A block in the thread's bin means the heap is up and the cache made.
    Cache* cache = t_cache;
    if (nBytes <= kMaxSmall && reinterpret_cast<std::uintptr_t>(cache) > 1) {
        int c = ClassOf(nBytes);
        if (void* p = TakeFromBin(cache->bins[c], c)) return p;
    }
#endif
    return AllocMiss(nBytes);
}

void BlockFree(void* p) noexcept {
    if (!p) return;
#if VORLIX_HEAP_THREAD_CACHE
    Cache* cache = t_cache;
    if (reinterpret_cast<std::uintptr_t>(cache) > 1 && Owns(p)) {
        int c = SlabOf(p)->cls;
        PutInBin(cache->bins[c], c, p);
        return;
    }
#endif
    FreeMiss(p);
}

void* BlockRealloc(void* p, std::size_t nBytes) noexcept {
    if (!p) return BlockAlloc(nBytes);
    std::size_t nHave;
    if (Owns(p)) {
        nHave = kClassSize[SlabOf(p)->cls];
        if (nBytes <= nHave && (nBytes > nHave / 2 || nHave <= 16)) return p;
    } else {
        nHave = HeaderOf(p)->nBytes;
        // Stays with the C heap, unless it shrinks to a slab's size.
        if (nBytes > kMaxSmall || nBytes >= nHave / 2 || !Reserve()) return ReallocLarge(p, nBytes ? nBytes : 1);
    }
    void* q = BlockAlloc(nBytes);
    if (!q) return nullptr;
    std::memcpy(q, p, nBytes < nHave ? nBytes : nHave);
    BlockFree(p);
    return q;
}

std::size_t BlockSize(const void* p) noexcept {
    if (!p) return 0;
    return Owns(p) ? kClassSize[SlabOf(p)->cls] : HeaderOf(p)->nBytes;
}

BlockHeapStats GetBlockHeapStats() noexcept {
    BlockHeapStats st = {};
    bool bReady = Reserve();
    {
        Hold hold(g_kept.lock);
        st.nKeptBytes = g_kept.nBytes;
    }
    if (!bReady) return st;
    st.bSlabs = true;
    Hold hold(g_space.lock);
    st.nSlabsInUse = g_space.nInUse;
    st.nSlabsPooled = g_space.nPooled;
    st.nSlabsReleased = g_space.nReleased;
    if (char* base = g_space.base.load(std::memory_order_relaxed))
        st.nSlabsEver = static_cast<std::size_t>(g_space.frontier - base) / kSlabSize;
    return st;
}

namespace {
void ReleaseAllUnused() {
    FlushThreadCache();
    if (g_space.state.load(std::memory_order_acquire) == 1) ReleaseEmptySlabs();
    FreeKept();
    // The blocks between the slabs' sizes and the large ones live in the C
    // heap, which gives memory back only from the end of its space.
    _heapmin();
}
}  // namespace

#else  // the C heap for everything

namespace {
// Nothing to lock: the C heap looks after itself, and no block is kept.
void EnsureForkHandlers() noexcept {}
void ReleaseAllUnused() {
    FreeKept();
    _heapmin();
}
}  // namespace

void* BlockAlloc(std::size_t nBytes) noexcept { return AllocLarge(nBytes ? nBytes : 1); }
void* BlockRealloc(void* p, std::size_t nBytes) noexcept {
    return p ? ReallocLarge(p, nBytes ? nBytes : 1) : BlockAlloc(nBytes);
}
void BlockFree(void* p) noexcept {
    if (p) FreeLarge(p);
}
std::size_t BlockSize(const void* p) noexcept { return p ? HeaderOf(p)->nBytes : 0; }
BlockHeapStats GetBlockHeapStats() noexcept { return BlockHeapStats(); }

#endif

}  // namespace detail

void ReleaseUnusedMemory() noexcept { detail::ReleaseAllUnused(); }

}  // namespace vorlix

// The heap of the library's strings and arrays.
//
// Texts, attribute lists and child lists make for millions of small
// blocks, which a general-purpose heap frees slowly: it merges each freed
// block with its neighbours, which means touching memory all over the
// place. Blocks of up to 8 KiB come instead from 64 KiB slabs, each holding
// blocks of one size, in address space the library reserves once. Each
// thread keeps a few freed blocks of every size at hand, so most requests
// take no lock; the rest go back to their slab in batches, under the lock
// of their size. A thread that runs out takes a batch of freed blocks, or
// the untouched rest of a slab, which it hands out block after block
// without writing a link into each first (it goes back when the thread
// ends or gives its blocks back). A slab whose blocks are all free starts again from its
// first block (so a tree built after another is freed lies in address
// order again) or goes back to a pool that any size can use. Larger blocks,
// and every block when the address space cannot be had, come from the C
// heap, except those of 256 KiB and more, which have pages of their own
// from the system; a few large freed ones (64 MiB in all) are kept for the
// next large request, which would otherwise fault in every page of a fresh
// block again. Blocks may be freed by any thread, including after
// the thread that took them has ended. (On Windows threads keep no blocks
// at hand: every request takes the lock of its size.) Every block knows its
// size (BlockSize), so that an array may take a block for the elements it
// has rather than for the capacity it reports.
//
// Memory goes back to the system: the pool keeps up to 64 MiB of empty
// slabs with their pages, so that a document parsed after another reuses
// them, and gives the pages of every further empty slab back as it empties
// (the address space stays reserved; the slab is committed again when it
// is needed). A program that asks again for what was given back is
// repeating a big job: the limit then grows with what it asks for, up to
// 256 MiB. ReleaseUnusedMemory gives back everything kept for reuse at
// once and brings the limit back to 64 MiB.
//
// fork() may be called while other threads use the heap: before the fork
// the heap takes all its locks, and releases them after it in the parent
// and the child; it registers these handlers while the library loads,
// before the program's threads start. The child's only thread keeps its
// own blocks at hand; the blocks that other threads held at hand stay
// allocated in the child, since those threads do not exist there.
//
// Builds with AddressSanitizer or MemorySanitizer, or configured with
// VORLIX_SYSTEM_HEAP on, use the C heap for everything, so that those
// tools see every block; they keep no memory for reuse.
#ifndef VORLIX_BASE_HEAP_H
#define VORLIX_BASE_HEAP_H

#include <vorlix/config.h>

#include <cstddef>

namespace vorlix {

// Gives back to the system, at once, all the memory the library keeps for
// reuse: the pages of empty slabs, the large freed blocks kept for later
// requests, the freed blocks the calling thread keeps at hand, and the free
// memory of the C heap; and keeps no more than 64 MiB of empty slabs from
// then on until a big job is repeated. For a program that is done with a
// big job (a large document parsed and freed) and goes on with little; the
// next big job takes its memory from the system again. Blocks at hand in
// other threads stay there. Safe to call from any thread at any time.
VORLIX_API void ReleaseUnusedMemory() noexcept;

namespace detail {

// At least nBytes (one when 0), aligned for any type; null when memory is
// exhausted.
VORLIX_API void* BlockAlloc(std::size_t nBytes) noexcept;
// Resizes a block of BlockAlloc, keeping its contents up to the smaller
// size (the old size being what BlockSize gives); null (with p untouched)
// when memory is exhausted. A null p allocates.
VORLIX_API void* BlockRealloc(void* p, std::size_t nBytes) noexcept;
// Frees a block of BlockAlloc or BlockRealloc; null is ignored.
VORLIX_API void BlockFree(void* p) noexcept;
// The bytes a block of BlockAlloc or BlockRealloc can hold: at least the
// size last asked for; 0 for null.
VORLIX_API std::size_t BlockSize(const void* p) noexcept;

// What the slab heap holds, for tests and diagnostics.
struct BlockHeapStats {
    bool bSlabs;                 // false when every block comes from the C heap
    std::size_t nSlabsInUse;     // slabs with blocks of some size
    std::size_t nSlabsPooled;    // empty slabs kept with their pages for reuse
    std::size_t nSlabsReleased;  // empty slabs whose pages went back to the system
    std::size_t nSlabsEver;      // slabs ever taken from the reserved space
    std::size_t nKeptBytes;      // large freed blocks kept for reuse
};
VORLIX_API BlockHeapStats GetBlockHeapStats() noexcept;

}  // namespace detail
}  // namespace vorlix

#endif

// The block heap of strings and arrays: every size gives a usable, aligned
// block that keeps its contents through resizing; freed memory is used
// again, whatever its size was; large freed blocks serve later large
// requests; what is kept for reuse stays within bounds and goes back to
// the system on request, and so does the memory of a large tree; blocks
// may be freed by another thread, also after the thread that took them has
// ended. What the heap keeps is checked only where blocks come from slabs
// (not in sanitizer builds).
#include <vorlix/vorlix.h>

#include <gtest/gtest.h>

#include "support.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

using namespace vorlix::detail;

// ASan and MSan take every block from an allocator of their own; TSan's
// shadow memory grows with every page touched and is not given back.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_MEMORY__)
#define HEAP_TEST_OWN_ALLOCATOR 1
#endif
#if defined(__SANITIZE_THREAD__)
#define HEAP_TEST_TSAN 1
#endif
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(memory_sanitizer)
#define HEAP_TEST_OWN_ALLOCATOR 1
#endif
#if __has_feature(thread_sanitizer)
#define HEAP_TEST_TSAN 1
#endif
#endif

namespace {

struct Block {
    void* p;
    std::size_t n;
    unsigned seed;
};

unsigned char PatternByte(unsigned seed, std::size_t i) {
    return static_cast<unsigned char>(seed * 131u + i * 7u + (i >> 8));
}

// The pattern covers the first and the last 48 bytes of the block: a block
// that overlaps a neighbour loses one of its ends. HasStamp looks below
// nKept only, for a block that has shrunk.
std::size_t NextStamped(std::size_t i, std::size_t n) { return i == 47 && n > 96 ? n - 48 : i + 1; }
void Stamp(const Block& b) {
    for (std::size_t i = 0; i < b.n; i = NextStamped(i, b.n))
        static_cast<unsigned char*>(b.p)[i] = PatternByte(b.seed, i);
}
bool HasStamp(const Block& b, std::size_t nKept = SIZE_MAX) {
    for (std::size_t i = 0; i < b.n && i < nKept; i = NextStamped(i, b.n))
        if (static_cast<const unsigned char*>(b.p)[i] != PatternByte(b.seed, i)) return false;
    return true;
}

// A block of n bytes, stamped.
Block New(std::size_t n, unsigned seed) {
    Block b{BlockAlloc(n), n, seed};
    if (b.p) Stamp(b);
    return b;
}

// Resizes the block to n bytes, checks that what it held below n survived,
// and stamps it anew with the next seed.
::testing::AssertionResult Resize(Block& b, std::size_t n) {
    void* p = BlockRealloc(b.p, n);
    if (!p) return ::testing::AssertionFailure() << "no block of " << n << " bytes";
    if (!HasStamp(Block{p, b.n, b.seed}, n)) return ::testing::AssertionFailure() << b.n << " -> " << n << " bytes";
    b = Block{p, n, b.seed + 1};
    Stamp(b);
    return ::testing::AssertionSuccess();
}

// Frees the blocks and tells how many of them had lost their stamp.
int CheckAndFree(const std::vector<Block>& blocks) {
    int spoiled = 0;
    for (const Block& b : blocks) {
        spoiled += !HasStamp(b);
        BlockFree(b.p);
    }
    return spoiled;
}

bool Aligned16(const void* p) { return reinterpret_cast<std::uintptr_t>(p) % 16 == 0; }

// Whether blocks come from slabs; asked after an allocation, since the
// address space is reserved on first use.
bool SlabsOn() {
    BlockFree(BlockAlloc(1));
    return GetBlockHeapStats().bSlabs;
}

#if defined(__linux__)
long ResidentMB() {
    std::FILE* f = std::fopen("/proc/self/statm", "r");
    if (!f) return -1;
    long nSize = 0, nResident = -1;
    if (std::fscanf(f, "%ld %ld", &nSize, &nResident) != 2) nResident = -1;
    std::fclose(f);
    return nResident < 0 ? -1 : nResident * 4096 / (1024 * 1024);
}

// Records of a catalog in groups of a hundred: attributes, short texts,
// a comment; about nBytes of text.
std::string MakeCatalog(std::size_t nBytes) {
    std::string text;
    text.reserve(nBytes + 1024);  // one block: the C heap's own bounds stay as they are
    text += "<?xml version=\"1.0\"?>\r\n<catalog>\r\n";
    char buf[512];
    for (int i = 0; text.size() < nBytes; ++i) {
        if (i % 100 == 0) text += i ? "\t</group>\r\n\t<group>\r\n" : "\t<group>\r\n";
        int n = std::snprintf(buf, sizeof buf,
                              "\t\t<record id=\"%d\" kind=\"item\" price=\"%d.%02d\">\r\n"
                              "\t\t\t<name>Record number %d</name>\r\n"
                              "\t\t\t<!-- note %d -->\r\n"
                              "\t\t\t<value unit=\"kg\">%d</value>\r\n"
                              "\t\t</record>\r\n",
                              i, i % 1000, i % 100, i, i, i * 7);
        text.append(buf, static_cast<std::size_t>(n));
    }
    text += "\t</group>\r\n</catalog>\r\n";
    return text;
}
#endif

#if !defined(_WIN32)
// Paused, the other threads race with no fork, so fewer forks do (and
// each takes long with a sanitizer).
#if defined(HEAP_TEST_OWN_ALLOCATOR)
constexpr bool kPauseForFork = true;
constexpr int kForks = 50;
#else
constexpr bool kPauseForFork = false;
constexpr int kForks = 200;
#endif

// Strings, an array of strings and a small XML tree, of many block sizes,
// built and freed; false when one of them comes out wrong.
bool UseTheHeap(int seed) {
    MString text;
    for (int i = 0; i < 300; ++i) text += static_cast<char>('a' + (seed + i) % 26);
    MStringArray parts;
    for (int i = 1; i < 60; ++i) parts.Add(text.Left(i * 37 % 300));
    MString wide;
    for (int i = 0; i < 40; ++i) wide += text;  // through every size up to 12 KB
    MString doc;
    doc.Format("<root n=\"%d\"><item a=\"x\">%s</item><item b=\"y\"/><!-- c --></root>", seed, (const char*)text);
    CAnalXmlA xml;
    return parts.GetSize() == 59 && parts[58].GetLength() == 59 * 37 % 300 && wide.GetLength() == 12000 &&
           xml.FromString(doc, 1) == 1 && xml.GetTagCount() == 1 && xml.GetTag(0).m_arySubTag.GetSize() == 3;
}

// What the other threads do meanwhile: mostly strings of 2 to 8 KB, sizes
// of which a thread keeps few blocks at hand, so that they often hold the
// heap's locks.
bool Churn(int seed) {
    MStringArray texts;
    for (int j = 0; j < 48; ++j)
        texts.Add(MString(static_cast<char>('a' + j % 26), 2048 + (seed * 31 + j * 97) % 6000));
    return texts.GetSize() == 48 && UseTheHeap(seed);
}
#endif

}  // namespace

TEST(HeapBlocks, EverySizeIsAlignedAndApartFromTheOthers) {
    EXPECT_EQ(BlockSize(nullptr), 0u);
    // All held at once, so a size given too small a block spoils a neighbour.
    std::vector<Block> blocks;
    for (std::size_t n = 0; n <= 8300; n += n < 2100 ? 1 : 7) {
        blocks.push_back(New(n, static_cast<unsigned>(n)));
        ASSERT_NE(blocks.back().p, nullptr) << n;
        EXPECT_TRUE(Aligned16(blocks.back().p)) << n;
        EXPECT_GE(BlockSize(blocks.back().p), std::max<std::size_t>(n, 1)) << n;
    }
    EXPECT_NE(blocks[0].p, blocks[1].p);  // two blocks of no size are still two
    EXPECT_EQ(CheckAndFree(blocks), 0);
}

TEST(HeapBlocks, ReallocKeepsContentsAcrossSizes) {
    BlockFree(nullptr);
    // From nothing up past the largest slab size and back down, one byte at
    // a time below 2100 and seven at a time above: every change of size
    // class, both ways, and the moves to and from the C heap. Each byte
    // holds PatternByte(1, its offset).
    std::vector<std::size_t> sizes;
    for (std::size_t n = 0; n <= 8300; n += n < 2100 ? 1 : 7) sizes.push_back(n);
    for (std::size_t i = sizes.size() - 1; i-- > 0;) sizes.push_back(sizes[i]);
    unsigned char* c = nullptr;
    std::size_t nWas = 0;
    for (std::size_t n : sizes) {
        c = static_cast<unsigned char*>(BlockRealloc(c, n));
        ASSERT_NE(c, nullptr) << n;
        ASSERT_GE(BlockSize(c), n);
        std::size_t bad = 0;
        for (std::size_t i = 0; i < std::min(n, nWas); ++i) bad += c[i] != PatternByte(1, i);
        for (std::size_t i = nWas; i < n; ++i) c[i] = PatternByte(1, i);
        if (bad || !Aligned16(c)) FAIL() << nWas << " -> " << n << " bytes";
        nWas = n;
    }
    BlockFree(c);

    // Jumps over several classes at once, between slabs and the C heap.
    Block b = New(10, 7);
    for (std::size_t n : {3000, 20, 2048, 2049, 8192, 8193, 8192, 700, 16384, 4096, 17, 256, 257, 1, 0})
        ASSERT_TRUE(Resize(b, n));
    BlockFree(b.p);
}

TEST(HeapSlabs, FreedMemoryServesLaterRequestsOfAnySize) {
    // Rounds of the same mixed sizes, freed in another order each time,
    // need no more memory than the first; then the slabs of 512-byte blocks
    // freed serve 1024-byte blocks.
    std::mt19937 rng(12345);
    std::vector<Block> blocks(6000);
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        std::size_t n = rng() % 4 ? rng() % 257 : 257 + rng() % 1844;  // a quarter above 256 bytes
        blocks[i] = Block{nullptr, n, static_cast<unsigned>(i)};
    }
    const bool bSlabs = SlabsOn();
    std::size_t afterFirst = 0;
    for (int round = 0; round < 5; ++round) {
        for (Block& b : blocks) {
            b.p = BlockAlloc(b.n);
            ASSERT_NE(b.p, nullptr);
            Stamp(b);
        }
        std::shuffle(blocks.begin(), blocks.end(), rng);
        EXPECT_EQ(CheckAndFree(blocks), 0) << "round " << round;
        if (round == 0) afterFirst = GetBlockHeapStats().nSlabsEver;
    }
    // Some slack for the order the blocks came back in.
    if (bSlabs) {
        EXPECT_LE(GetBlockHeapStats().nSlabsEver, afterFirst + 4);
    }

    std::vector<void*> small(5000);
    for (void*& p : small) p = BlockAlloc(512);
    for (void* p : small) BlockFree(p);
    std::size_t ever = GetBlockHeapStats().nSlabsEver;
    small.resize(2000);
    for (void*& p : small) p = BlockAlloc(1024);
    if (bSlabs) {
        EXPECT_LE(GetBlockHeapStats().nSlabsEver, ever + 3);
    }
    for (void* p : small) BlockFree(p);
}

TEST(HeapLarge, FreedLargeBlocksServeLaterLargeRequests) {
    const bool bSlabs = SlabsOn();
    vorlix::ReleaseUnusedMemory();  // nothing kept from earlier tests
    BlockFree(BlockAlloc(3000017));
    if (bSlabs) {
        EXPECT_GE(GetBlockHeapStats().nKeptBytes, 3000017u);
    }
    // A similar request takes it, and may use all that BlockSize says,
    // which survives a move into a larger kept block.
    Block whole{BlockAlloc(2999999), 0, 11};
    ASSERT_NE(whole.p, nullptr);
    if (bSlabs) {
        EXPECT_EQ(GetBlockHeapStats().nKeptBytes, 0u);
    }
    whole.n = BlockSize(whole.p);
    EXPECT_GE(whole.n, 2999999u);
    Stamp(whole);
    BlockFree(BlockAlloc(8u << 20));
    ASSERT_TRUE(Resize(whole, whole.n + 1));
    BlockFree(whole.p);

    // A text grown by half again at each step, as strings grow, moving
    // between kept blocks and fresh ones, keeps its contents; shrunk to a
    // slab's size, too.
    Block b = New(3000, 9);
    for (std::size_t n = 4500; n < 12000000; n += n / 2) ASSERT_TRUE(Resize(b, n));
    ASSERT_TRUE(Resize(b, 100));
    BlockFree(b.p);
}

TEST(HeapMemory, KeptWithinBoundsAndGivenBackOnRequest) {
    if (!SlabsOn()) GTEST_SKIP() << "every block comes from the C heap, which keeps nothing for reuse";
    const std::size_t kMiB = 1 << 20, kSlab = 64 << 10;
    vorlix::ReleaseUnusedMemory();

    // Large blocks: one above 64 MiB is not kept; the others up to 64 MiB
    // in all, the one freed last among them. (Never touched: the system
    // lends these pages only when written.)
    BlockFree(BlockAlloc(64 * kMiB + 1));
    EXPECT_EQ(GetBlockHeapStats().nKeptBytes, 0u);
    for (std::size_t i = 0; i < 5; ++i) {
        BlockFree(BlockAlloc(20 * kMiB + i));
        EXPECT_LE(GetBlockHeapStats().nKeptBytes, 64 * kMiB);
        EXPECT_GE(GetBlockHeapStats().nKeptBytes, 20 * kMiB + i);
    }

    // 100 MiB of 8 KiB blocks, three times over. The first time, 64 MiB of
    // the empty slabs keep their pages and the others give them back; the
    // second time the same job finds all its memory kept.
    std::vector<void*> blocks(100 * kMiB / 8192);
    auto job = [&blocks] {
        std::size_t n = 0;
        for (void*& p : blocks) {
            p = BlockAlloc(8192);
            n += p != nullptr;
            if (p) static_cast<char*>(p)[8191] = 1;  // the memory is there, again
        }
        for (void* p : blocks) BlockFree(p);
        return n;
    };
    ASSERT_EQ(job(), blocks.size());
    BlockHeapStats st = GetBlockHeapStats();
    EXPECT_LE(st.nSlabsPooled * kSlab, 64 * kMiB);
    EXPECT_GT(st.nSlabsReleased * kSlab, 30 * kMiB);
    ASSERT_EQ(job(), blocks.size());
    EXPECT_GT(GetBlockHeapStats().nSlabsPooled * kSlab, 95 * kMiB);

    // All of it goes back on request, kept large blocks too; the next time
    // the heap takes the memory from the system again, and after that is
    // back to the 64 MiB it started with.
    vorlix::ReleaseUnusedMemory();
    st = GetBlockHeapStats();
    EXPECT_EQ(st.nSlabsPooled, 0u);
    EXPECT_EQ(st.nKeptBytes, 0u);
    ASSERT_EQ(job(), blocks.size());
    EXPECT_LE(GetBlockHeapStats().nSlabsPooled * kSlab, 64 * kMiB);
    vorlix::ReleaseUnusedMemory();
}

TEST(HeapThreads, FreedByAnotherThreadOrAfterTheOwnerEnded) {
    const bool bSlabs = SlabsOn();
    std::size_t inUse = 0;
    for (unsigned round = 0; round < 10; ++round) {
        // Taken by a thread that ends before they are freed here; the blocks
        // it frees itself sit in its cache until it ends, and must then go
        // back to their slabs.
        std::vector<Block> blocks;
        std::thread([&blocks, round] {
            for (unsigned i = 0; i < 600; ++i) {
                Block b = New(1 + i * 7 % 2048, i + 1000 * round);
                i % 3 ? blocks.push_back(b) : BlockFree(b.p);
            }
        }).join();
        EXPECT_EQ(CheckAndFree(blocks), 0);

        // Taken here, freed by a thread that is still running.
        blocks.clear();
        for (unsigned i = 0; i < 600; ++i) blocks.push_back(New(1 + i * 5 % 2048, i));
        int spoiled = -1;
        std::thread([&blocks, &spoiled] { spoiled = CheckAndFree(blocks); }).join();
        EXPECT_EQ(spoiled, 0);
        // The first two rounds take the slabs the rounds keep needing: the
        // blocks at hand of this thread hold some of them.
        if (round == 1) inUse = GetBlockHeapStats().nSlabsInUse;
    }
    if (!bSlabs) GTEST_SKIP() << "every block comes from the C heap";
    // Blocks left in the caches of ended threads would hold their slabs for
    // good (the pool may hide that from the count of slabs ever taken).
    EXPECT_LE(GetBlockHeapStats().nSlabsInUse, inUse + 4);
    // A thread that asks for more blocks of a size than its bin holds gets
    // the untouched rest of a slab (twelve blocks of 5 KiB), which must go
    // back when the thread ends, used up or not (the counts vary, so that
    // threads end with different parts of a slab untouched).
    inUse = GetBlockHeapStats().nSlabsInUse;
    for (int i = 0; i < 100; ++i) {
        std::thread([i] {
            std::vector<void*> taken;
            for (int k = 0; k < 13 + i * 7 % 17; ++k) taken.push_back(BlockAlloc(5000));
            for (void* p : taken) BlockFree(p);
        }).join();
    }
    EXPECT_LE(GetBlockHeapStats().nSlabsInUse, inUse + 4);
}

TEST(HeapThreads, ConcurrentHandOff) {
    // Each thread takes a batch of blocks, queues it, and frees the oldest
    // queued batch, mostly another thread's, checking the stamps first. Half
    // the sizes lie in the largest classes, whose small thread caches send
    // most requests on to the shared slabs. One thread now and then gives
    // all unused memory back meanwhile, which must leave every slab that
    // holds a block alone. Where the C heap serves every block there is
    // little of this heap to exercise, so fewer rounds.
    const int nBatches = SlabsOn() ? 1500 : 150;
    std::mutex lock;
    std::deque<std::vector<Block>> queue;
    std::atomic<int> spoiled{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            std::minstd_rand rng(t + 1);
            for (int i = 0; i < nBatches; ++i) {
                std::vector<Block> mine, old;
                for (int j = 0; j < 32; ++j) {
                    std::size_t n = rng() % 2 ? 2049 + rng() % 6144 : rng() % 8400;
                    mine.push_back(New(n, static_cast<unsigned>(rng())));
                }
                {
                    std::lock_guard<std::mutex> hold(lock);
                    queue.push_back(std::move(mine));
                    if (queue.size() > 8) {
                        old.swap(queue.front());
                        queue.pop_front();
                    }
                }
                spoiled += CheckAndFree(old);
                if (t == 0 && i % 50 == 0) vorlix::ReleaseUnusedMemory();
            }
        });
    }
    for (std::thread& th : threads) th.join();
    for (const std::vector<Block>& batch : queue) spoiled += CheckAndFree(batch);
    EXPECT_EQ(spoiled.load(), 0);
}

// After a tree of more than 200 MB is freed, the process's resident memory
// falls to within 80 MB of what it was before the parse without any call,
// and to within 16 MB after vorlix::ReleaseUnusedMemory().
TEST(HeapMemory, ATreeOf200MBGivesItsMemoryBack) {
#if !defined(__linux__)
    GTEST_SKIP() << "resident memory is read from /proc/self/statm, which only Linux has";
#elif defined(HEAP_TEST_TSAN)
    GTEST_SKIP() << "ThreadSanitizer's shadow memory grows with every page touched and is not given back";
#else
    if (!SlabsOn())
        GTEST_SKIP() << "every block comes from the C heap (a sanitizer build or VORLIX_SYSTEM_HEAP), "
                        "which gives memory back by rules of its own";
    // Tests run before this one in the same process may have repeated big
    // jobs, after which the heap keeps more for reuse: this one starts as a
    // program that has not.
    vorlix::ReleaseUnusedMemory();
    const std::string text = MakeCatalog(std::size_t(42) << 20);
    const long nBefore = ResidentMB();
    ASSERT_GT(nBefore, 0);
    {
        CAnalXmlA xml;
        ASSERT_EQ(xml.FromString(text.c_str(), 1), 1);
        ASSERT_GE(ResidentMB() - nBefore, 200) << "the tree is smaller than the test needs";
    }
    EXPECT_LE(ResidentMB() - nBefore, 80) << "after the tree was freed";
    vorlix::ReleaseUnusedMemory();
    EXPECT_LE(ResidentMB() - nBefore, 16) << "after ReleaseUnusedMemory()";
#endif
}

// fork() while other threads use the heap: the child, whose only thread is
// the one that forked, must be able to allocate and free as usual. A lock
// that another thread held at the moment of the fork would stay held in
// the child for ever, and the child would hang on its first request of
// that size; the test tells a hang from a slow child by waiting 5 s for
// each child and killing it after that.
//
// Sanitizer builds take every block from the sanitizer's allocator, which
// (in GCC 12's and clang 14's runtimes) takes no locks around fork(): a
// child there can hang on a lock of that allocator whatever the library
// does (a program of plain malloc and free does). In those builds the other
// threads pause while the main thread forks, and the test checks the rest:
// that the child's work is right and its memory handled cleanly.
TEST(HeapFork, ChildrenOfABusyProcessUseTheHeap) {
#if defined(_WIN32)
    GTEST_SKIP() << "Windows has no fork()";
#else
    std::atomic<bool> bStop{false}, bPause{false};
    std::atomic<int> nWrong{0}, nBusy{0}, nStarted{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&, t] {
            for (int i = t; !bStop.load(); ++i) {
                ++nBusy;
                if (bPause.load()) {
                    --nBusy;
                    // Asleep rather than spinning, so that the child is not
                    // starved of the processor on a busy machine.
                    std::this_thread::sleep_for(std::chrono::microseconds(200));
                    continue;
                }
                nWrong += !Churn(i);
                --nBusy;
                if (i == t) ++nStarted;
            }
        });
    }
    // Paused, a thread that is still starting is not paused: wait until
    // each has been round its loop once.
    while (kPauseForFork && nStarted.load() < 3) std::this_thread::yield();
    int nHung = 0, nFailed = 0;
    for (int i = 0; i < kForks; ++i) {
        if (kPauseForFork) {
            bPause = true;
            while (nBusy.load() != 0) std::this_thread::yield();
        }
        pid_t pid = fork();
        if (kPauseForFork && pid != 0) bPause = false;
        if (pid == 0) _exit(UseTheHeap(i) && UseTheHeap(i + 1) ? 0 : 1);
        if (pid < 0) {
            ADD_FAILURE() << "fork() failed";
            break;
        }
        testsupport::ChildEnd end = testsupport::AwaitChild(pid, 5);
        nHung += end == testsupport::kChildHung;
        nFailed += end == testsupport::kChildFailed;
    }
    bStop = true;
    for (std::thread& th : threads) th.join();
    EXPECT_EQ(nHung, 0) << "children still running after 5 s";
    EXPECT_EQ(nFailed, 0) << "children that did not exit with 0";
    EXPECT_EQ(nWrong.load(), 0);
#endif
}

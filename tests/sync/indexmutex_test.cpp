// The index lock, the mask lock and the shared-memory lock within one
// process: lifecycle, the reader and writer rules, the multi waits, the
// trace texts and holders whose thread ended.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <vorlix/vorlix.h>

#include "support.h"
#include "sync/sync_support.h"

using namespace vorlix::win;
using synctest::HeldElsewhere;
using synctest::kWritten;
using synctest::OnThread;
using synctest::UniqueName;

namespace {

// Collects the trace texts while it lives.
class TraceLog {
public:
    TraceLog() : m_prev(vorlix::SetLockTraceHook(&Hook)) { Texts().clear(); }
    ~TraceLog() { vorlix::SetLockTraceHook(m_prev); }
    const std::vector<std::string>& texts() const { return Texts(); }

private:
    static std::vector<std::string>& Texts() {
        static std::vector<std::string> t;
        return t;
    }
    static void Hook(int, const char* text) { Texts().push_back(text); }
    vorlix::LockTraceHook m_prev;
};

bool IsSet(HANDLE ev) { return WaitForSingleObject(ev, 0) == WAIT_OBJECT_0; }

// The lock flags of the whole table.
std::vector<DWORD> Flags(const CWaitIndexMutex& lock) {
    return std::vector<DWORD>(lock.m_pdwLockFlag, lock.m_pdwLockFlag + lock.m_nIndexCount);
}

}  // namespace

TEST(IndexMutex, CreateAndDestroy) {
    CWaitIndexMutex lock;
    EXPECT_EQ(lock.Create(0), 0);
    EXPECT_EQ(lock.Create(-3), 1);  // off, but with its events
    EXPECT_FALSE(lock.IsOn());
    EXPECT_NE(lock.m_hWriteReleaseEvent, nullptr);
    EXPECT_EQ(lock.m_pdwLockFlag, nullptr);
    EXPECT_EQ(lock.Create(-1), 1);  // the first pair is replaced, not leaked
    EXPECT_EQ(lock.Create(3), 1);
    EXPECT_TRUE(lock.IsOn());
    EXPECT_EQ(lock.Create(5), 0);
    EXPECT_EQ(lock.m_nIndexCount, 3);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(lock.m_pdwLockFlag[i] + lock.m_pdwMutexOwner[i], 0u);
    EXPECT_FALSE(IsSet(lock.m_hWriteReleaseEvent));
    lock.Destroy();
    EXPECT_FALSE(lock.IsOn());
    EXPECT_EQ(lock.m_phIndexMutex, nullptr);
    EXPECT_EQ(lock.m_hReadReleaseEvent, nullptr);
    EXPECT_EQ(lock.Create(2), 1);
}

TEST(IndexMutex, OffLockGrantsEverything) {
    CWaitIndexMutex lock;
    DWORD set[2] = {0, 7};
    EXPECT_EQ(lock.WaitForRead(5, 0, 1, 0), 1);
    EXPECT_EQ(lock.WaitForWrite(5, 0, 0), 1);
    EXPECT_EQ(lock.ReleaseForRead(5, 1), 1);
    EXPECT_EQ(lock.GuaranteeReleaseForRead(5, 1), 1);
    lock.ReleaseForWrite(5);
    EXPECT_EQ(lock.WaitForMultiRead(set, 2, 0, 1), 1);
    EXPECT_EQ(lock.WaitForMultiWrite(set, 2, 0), 1);
    EXPECT_EQ(lock.ReleaseForMultiRead(set, 2, 1), 1);
    EXPECT_EQ(lock.MutexOwnerIsMe(0, 0), 0);
}

TEST(IndexMutex, SingleWaitsAndTheirLimits) {
    CWaitIndexMutex lock(4);
    EXPECT_EQ(lock.WaitForRead(0, 0, 1, 1), 0);  // time-out 0 fails even on a free index
    EXPECT_EQ(lock.WaitForWrite(0, 0, 1), 0);
    EXPECT_EQ(lock.WaitForRead(0, 1000, 1, 0), 0);  // bWait 0
    EXPECT_EQ(lock.m_pdwLockFlag[0], 0u);
    // Nothing to wait for takes no time: 1 ms is enough, whenever the
    // clock ticks.
    int got = 0;
    for (int k = 0; k < 10000; ++k) {
        got += lock.WaitForWrite(0, 1, 1);
        lock.ReleaseForWrite(0);
    }
    EXPECT_EQ(got, 10000);
    testsupport::WarningCounter warnings;
    EXPECT_EQ(lock.WaitForRead(4, 1000, 1, 1), 0);  // outside the table
    EXPECT_EQ(lock.ReleaseForRead(4, 1), 0);
    EXPECT_EQ(lock.GuaranteeReleaseForRead(99, 1), 0);
    lock.ReleaseForWrite(4);
    DWORD outside[2] = {1, 9};
    EXPECT_EQ(lock.WaitForMultiWrite(outside, 2, 1000), 0);
    EXPECT_EQ(lock.m_pdwLockFlag[1], 0u);
    EXPECT_EQ(warnings.count(), 5);

    ASSERT_EQ(lock.WaitForWrite(1, 1000, 1), 1);
    EXPECT_EQ(lock.m_pdwLockFlag[1], kWritten);
    EXPECT_EQ(OnThread([&] { return lock.WaitForRead(1, 30, 2, 1); }), 0);
    EXPECT_EQ(OnThread([&] { return lock.WaitForWrite(1, 30, 1); }), 0);
    lock.ReleaseForWrite(1);
    EXPECT_EQ(lock.m_pdwLockFlag[1], 0u);
    EXPECT_TRUE(IsSet(lock.m_hWriteReleaseEvent));

    ASSERT_EQ(lock.WaitForRead(2, 1000, 7, 1), 1);
    EXPECT_EQ(lock.MutexOwnerIsMe(2, 7), 1);
    EXPECT_EQ(OnThread([&] { return lock.WaitForWrite(2, 30, 1); }), 0);
    EXPECT_EQ(OnThread([&] { return lock.WaitForRead(2, 30, 8, 1); }), 1);  // joins
    EXPECT_EQ(lock.m_pdwLockFlag[2], 2u);
    EXPECT_EQ(lock.MutexOwnerIsMe(2, 8), 0);
}

TEST(IndexMutex, FirstReaderLeavesLast) {
    CWaitIndexMutex lock(2);
    TraceLog trace;
    ASSERT_EQ(lock.WaitForRead(0, 1000, 1, 1), 1);                            // A, the first reader
    ASSERT_EQ(OnThread([&] { return lock.WaitForRead(0, 1000, 2, 1); }), 1);  // B
    EXPECT_EQ(lock.ReleaseForRead(0, 1), 0);                                  // A may not leave first
    EXPECT_EQ(lock.m_pdwLockFlag[0], 2u);
    EXPECT_EQ(OnThread([&] { return lock.ReleaseForRead(0, 2); }), 1);
    EXPECT_EQ(lock.m_pdwLockFlag[0], 1u);
    EXPECT_FALSE(IsSet(lock.m_hReadReleaseEvent));
    EXPECT_EQ(lock.ReleaseForRead(0, 1), 1);
    EXPECT_EQ(lock.m_pdwLockFlag[0], 0u);
    EXPECT_EQ(lock.m_pdwMutexOwner[0], 0u);
    EXPECT_TRUE(IsSet(lock.m_hReadReleaseEvent));
    EXPECT_TRUE(trace.texts().empty());

    // The retrying release waits for the other reader; the mask lock's
    // ReleaseForRead is that release (values 5 and 13 are index 1 of 4).
    CWaitMaskMutex mask(4);
    ASSERT_EQ(mask.WaitForRead(5, 1000, 1, 1), 1);
    std::atomic<bool> left{false}, joined{false};
    std::thread other([&] {
        ASSERT_EQ(mask.WaitForRead(13, 1000, 2, 1), 1);
        joined = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
        left = true;
        EXPECT_EQ(mask.ReleaseForRead(13, 2), 1);
    });
    while (!joined) std::this_thread::yield();
    EXPECT_EQ(mask.ReleaseForRead(5, 1), 1);
    EXPECT_TRUE(left);
    other.join();
    EXPECT_EQ(mask.m_pdwLockFlag[1], 0u);
}

TEST(IndexMutex, MisuseIsTracedAndChangesNothing) {
    CWaitIndexMutex lock(2);
    TraceLog trace;
    EXPECT_EQ(lock.ReleaseForRead(0, 1), 1);  // free
    lock.ReleaseForWrite(0);                  // not written
    ASSERT_EQ(lock.WaitForWrite(1, 1000, 1), 1);
    EXPECT_EQ(lock.ReleaseForRead(1, 1), 1);  // written
    EXPECT_EQ(lock.m_pdwLockFlag[1], kWritten);
    lock.ReleaseForWrite(1);
    ASSERT_EQ(lock.WaitForRead(0, 1000, 1, 1), 1);
    EXPECT_EQ(OnThread([&] { return lock.ReleaseForRead(0, 2); }), 1);  // not the owner, who is there
    EXPECT_EQ(lock.m_pdwLockFlag[0], 1u);
    EXPECT_EQ(lock.ReleaseForRead(0, 1), 1);
    std::vector<std::string> expected = {"ReleaseForRead - 04", "ReleaseForWrite()-3", "ReleaseForRead - 02",
                                         "ReleaseForRead - 03"};
    EXPECT_EQ(trace.texts(), expected);
}

namespace {

// A trace hook that has another thread use the index reported on: no
// report is made while the reporting call holds the index's lock-flag mutex.
CWaitIndexMutex* g_hookLock = nullptr;
int g_hookGot = -1;
void UseTheLockElsewhere(int, const char*) {
    g_hookGot = OnThread([] {
        int got = g_hookLock->WaitForWrite(0, 200, 1);
        if (got) g_hookLock->ReleaseForWrite(0);
        return got;
    });
}

}  // namespace

TEST(IndexMutex, TraceHookMayUseTheLock) {
    CWaitIndexMutex lock(1);
    g_hookLock = &lock;
    vorlix::LockTraceHook prev = vorlix::SetLockTraceHook(&UseTheLockElsewhere);
    lock.ReleaseForWrite(0);  // not written
    vorlix::SetLockTraceHook(prev);
    EXPECT_EQ(g_hookGot, 1);
}

TEST(IndexMutex, WaiterWakesOnTheReleaseItWaitsFor) {
    CWaitIndexMutex lock(3);
    ASSERT_EQ(lock.WaitForWrite(0, 1000, 1), 1);
    // Waiters on other indices reset the shared events all the time.
    std::atomic<bool> stop{false};
    std::thread noise([&] {
        ASSERT_EQ(lock.WaitForWrite(1, 1000, 1), 1);
        while (!stop) lock.WaitForRead(1, 2, 9, 1);
        lock.ReleaseForWrite(1);
    });
    int got = -1;
    std::thread waiter([&] { got = lock.WaitForRead(0, 60000, 5, 1); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    auto released = std::chrono::steady_clock::now();
    lock.ReleaseForWrite(0);
    waiter.join();
    auto waited = std::chrono::steady_clock::now() - released;
    stop = true;
    noise.join();
    EXPECT_EQ(got, 1);
    EXPECT_LT(waited, std::chrono::seconds(10));  // far below its time-out
    EXPECT_EQ(lock.ReleaseForRead(0, 5), 1);
}

TEST(IndexMutex, MultiWaitsTakeAllOrNothing) {
    CWaitIndexMutex lock(70);
    DWORD set[3] = {0, 1, 2};
    EXPECT_EQ(lock.WaitForMultiRead(set, 0, 0, 1), 1);
    ASSERT_EQ(lock.WaitForMultiWrite(set, 3, 1000), 1);
    for (DWORD i : set) EXPECT_EQ(lock.m_pdwLockFlag[i], kWritten);
    lock.ReleaseForMultiWrite(set, 3);
    for (DWORD i : set) EXPECT_EQ(lock.m_pdwLockFlag[i], 0u);

    // Reads join present readers and take free indices. The other reader
    // stays until the end of the test (its thread holds the index mutex).
    HeldElsewhere reader([&] { ASSERT_EQ(lock.WaitForRead(1, 1000, 2, 1), 1); },
                         [&] { EXPECT_EQ(lock.ReleaseForRead(1, 2), 1); });
    ASSERT_EQ(lock.WaitForMultiRead(set, 3, 1000, 1), 1);
    EXPECT_EQ(lock.m_pdwLockFlag[1], 2u);
    EXPECT_EQ(lock.MutexOwnerIsMe(0, 1), 1);
    EXPECT_EQ(lock.ReleaseForMultiRead(set, 3, 1), 1);
    EXPECT_EQ(lock.m_pdwLockFlag[0], 0u);
    EXPECT_EQ(lock.m_pdwLockFlag[1], 1u);

    // A writer that stays makes the multi waits fail after their budget of
    // 100 / 1000 + 1 seconds and leaves the other indices as they were.
    HeldElsewhere writer([&] { ASSERT_EQ(lock.WaitForWrite(2, 1000, 1), 1); }, [&] { lock.ReleaseForWrite(2); });
    EXPECT_EQ(lock.WaitForMultiWrite(set, 3, 100), 0);
    EXPECT_EQ(lock.WaitForMultiRead(set, 3, 100, 1), 0);
    EXPECT_EQ(lock.m_pdwLockFlag[0], 0u);
    EXPECT_EQ(lock.m_pdwLockFlag[1], 1u);
    // Released within the budget: the passes get it.
    std::thread releaser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        writer.Leave();
    });
    EXPECT_EQ(lock.WaitForMultiRead(set, 3, 3000, 1), 1);
    releaser.join();
    EXPECT_EQ(lock.ReleaseForMultiRead(set, 3, 1), 1);
    reader.Leave();
    EXPECT_EQ(lock.m_pdwLockFlag[1], 0u);

    // More free indices than one combined wait takes.
    DWORD many[65];
    for (DWORD i = 0; i < 65; ++i) many[i] = i + 3;
    EXPECT_EQ(lock.WaitForMultiWrite(many, 65, 1000), 0);
    EXPECT_EQ(lock.WaitForMultiRead(many, 65, 1000, 1), 0);
    for (DWORD i : many) EXPECT_EQ(lock.m_pdwLockFlag[i], 0u);
    ASSERT_EQ(lock.WaitForMultiWrite(many, 64, 1000), 1);
    lock.ReleaseForMultiWrite(many, 64);
}

TEST(IndexMutex, HoldersWhoseThreadEndedDoNotWedgeAnIndex) {
    CWaitIndexMutex lock(3);
    // A writer ends holding index 0: the next wait takes it over.
    std::thread([&] { ASSERT_EQ(lock.WaitForWrite(0, 1000, 1), 1); }).join();
    EXPECT_EQ(lock.WaitForRead(0, 1000, 1, 1), 1);
    EXPECT_EQ(lock.m_pdwLockFlag[0], 1u);
    EXPECT_EQ(lock.ReleaseForRead(0, 1), 1);

    // The first reader ends while another reader stays: a writer lets the
    // remaining reader keep the index, and gets it when that reader leaves.
    std::thread([&] { ASSERT_EQ(lock.WaitForRead(1, 1000, 1, 1), 1); }).join();
    HeldElsewhere reader([&] { ASSERT_EQ(lock.WaitForRead(1, 1000, 2, 1), 1); },
                         [&] { EXPECT_EQ(lock.ReleaseForRead(1, 2), 1); });
    EXPECT_EQ(lock.WaitForWrite(1, 50, 1), 0);
    EXPECT_EQ(lock.m_pdwLockFlag[1], 1u);  // the ended reader's share is gone
    reader.Leave();
    EXPECT_EQ(lock.m_pdwLockFlag[1], 0u);
    EXPECT_EQ(lock.WaitForWrite(1, 1000, 1), 1);
    lock.ReleaseForWrite(1);

    // A reader that meets an ended first reader joins and holds the index.
    std::thread([&] { ASSERT_EQ(lock.WaitForRead(2, 1000, 1, 1), 1); }).join();
    std::thread([&] { ASSERT_EQ(lock.WaitForRead(2, 1000, 2, 1), 1); }).join();  // joins: no probe
    ASSERT_EQ(lock.WaitForWrite(2, 30, 1), 0);                                   // probes: 2 readers -> 1
    EXPECT_EQ(lock.m_pdwLockFlag[2], 1u);
    EXPECT_EQ(lock.ReleaseForRead(2, 3), 1);  // the last one, nobody holds the mutex
    EXPECT_EQ(lock.m_pdwLockFlag[2], 0u);
}

TEST(MaskMutex, TablesAndMapping) {
    CWaitMaskMutex lock;
    EXPECT_EQ(lock.Create(0), 0);
    EXPECT_EQ(lock.Create(-4), 0);
    EXPECT_FALSE(lock.IsOn());
    EXPECT_EQ(lock.Create(5), 1);
    EXPECT_EQ(lock.m_nIndexCount, 8);
    EXPECT_EQ(lock.m_dwIndexMask, 7u);
    EXPECT_EQ(lock.MaskToIndex(3), 3u);
    EXPECT_EQ(lock.MaskToIndex(11), 3u);
    EXPECT_EQ(lock.MaskToIndex(19), 3u);
    EXPECT_EQ(lock.Create(16), 0);
    EXPECT_EQ(lock.m_dwIndexMask, 7u);

    CWaitMaskMutex eight(8), one(1);
    EXPECT_EQ(eight.m_nIndexCount, 8);
    EXPECT_EQ(one.m_nIndexCount, 1);
    EXPECT_EQ(one.m_dwIndexMask, 0u);
    EXPECT_EQ(one.MaskToIndex(0xFFFFFFFFu), 0u);

    ASSERT_EQ(lock.WaitForWrite(11, 1000, 1), 1);
    EXPECT_EQ(lock.m_pdwLockFlag[3], kWritten);
    EXPECT_EQ(OnThread([&] { return lock.WaitForRead(19, 30, 1, 1); }), 0);
    lock.ReleaseForWrite(3);
    EXPECT_EQ(lock.m_pdwLockFlag[3], 0u);
}

namespace {
// Maps a value by its second hex digit instead of its low bits.
class ByTens : public CWaitMaskMutex {
public:
    ByTens() : CWaitMaskMutex(4) {}
    DWORD MaskToIndex(DWORD dwMask) override { return (dwMask >> 4) & m_dwIndexMask; }
};
}  // namespace

// Each check of the whole table also shows that the previous release freed
// its index. The multi operations lock a repeated index once.
TEST(MaskMutex, EveryOperationMapsThroughTheVirtualMapping) {
    typedef std::vector<DWORD> Table;
    ByTens lock;
    ASSERT_EQ(lock.WaitForWrite(0x21, 1000, 1), 1);
    EXPECT_EQ(Flags(lock), (Table{0, 0, kWritten, 0}));
    lock.ReleaseForWrite(0x22);
    ASSERT_EQ(lock.WaitForRead(0x13, 1000, 1, 1), 1);
    EXPECT_EQ(Flags(lock), (Table{0, 1, 0, 0}));
    EXPECT_EQ(lock.ReleaseForRead(0x10, 1), 1);
    DWORD values[3] = {0x30, 0x31, 0x01};  // indices 3, 3, 0
    ASSERT_EQ(lock.WaitForMultiRead(values, 3, 1000, 1), 1);
    EXPECT_EQ(Flags(lock), (Table{1, 0, 0, 1}));
    EXPECT_EQ(lock.ReleaseForMultiRead(values, 3, 1), 1);
    ASSERT_EQ(lock.WaitForMultiWrite(values, 3, 1000), 1);
    EXPECT_EQ(Flags(lock), (Table{kWritten, 0, 0, kWritten}));
    lock.ReleaseForMultiWrite(values, 3);
    EXPECT_EQ(Flags(lock), Table(4, 0));
}

TEST(IndexMutexEx, PrivateAndNegative) {
    CWaitIndexMutexEx priv(4, nullptr);
    EXPECT_TRUE(priv.IsOn());
    EXPECT_EQ(priv.m_hFileMapping, INVALID_HANDLE_VALUE);
    ASSERT_EQ(priv.WaitForWrite(3, 1000, 1), 1);
    priv.ReleaseForWrite(3);
    priv.Destroy();
    EXPECT_FALSE(priv.IsOn());

    CWaitIndexMutexEx neg;
    EXPECT_EQ(neg.CreateEx(0, "x"), 0);
    EXPECT_EQ(neg.CreateEx(-2, UniqueName("vorlix\\lock_neg").c_str()), 1);
    EXPECT_FALSE(neg.IsOn());
    EXPECT_EQ(neg.m_hFileMapping, nullptr);
    EXPECT_NE(neg.m_hReadReleaseEvent, nullptr);
    neg.Destroy();
    EXPECT_EQ(neg.m_hFileMapping, INVALID_HANDLE_VALUE);
}

TEST(IndexMutexEx, SameNameSharesTheTable) {
    std::string name = UniqueName("vorlix\\lock_shared");
    std::string upper = name;
    for (char& c : upper) c = (c == '\\') ? '_' : static_cast<char>(toupper(static_cast<unsigned char>(c)));
    CWaitIndexMutexEx a(3, name.c_str());
    ASSERT_TRUE(a.IsOn());
    ASSERT_NE(a.m_hFileMapping, INVALID_HANDLE_VALUE);

    // The objects carry the upper-case name with underscores.
    HANDLE m = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 12, (upper + "_MFILE").c_str());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    CloseHandle(m);
    HANDLE mx = CreateMutexA(nullptr, FALSE, (upper + "_2").c_str());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    CloseHandle(mx);

    CWaitIndexMutexEx b(3, name.c_str());
    ASSERT_TRUE(b.IsOn());
    ASSERT_EQ(a.WaitForWrite(1, 1000, 1), 1);
    EXPECT_EQ(b.m_pdwLockFlag[1], kWritten);
    EXPECT_EQ(OnThread([&] { return b.WaitForRead(1, 30, 1, 1); }), 0);
    // A multi wait notices the release (the owner thread releases).
    DWORD set[2] = {0, 1};
    int got = -1;
    std::thread waiter([&] {
        got = b.WaitForMultiRead(set, 2, 2000, 4);
        if (got) b.ReleaseForMultiRead(set, 2, 4);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    a.ReleaseForWrite(1);
    waiter.join();
    EXPECT_EQ(got, 1);
    EXPECT_EQ(a.m_pdwLockFlag[1], 0u);

    // An existing table smaller than asked for is refused: by a page and
    // more everywhere, by a few bytes where sizes are exact (POSIX; Windows
    // maps whole pages).
    CWaitIndexMutexEx bigger;
    EXPECT_EQ(bigger.CreateEx(2000, name.c_str()), 0);
    EXPECT_FALSE(bigger.IsOn());
    EXPECT_EQ(bigger.m_hFileMapping, INVALID_HANDLE_VALUE);
#if !defined(_WIN32)
    EXPECT_EQ(bigger.CreateEx(4, name.c_str()), 0);
#endif
    b.Destroy();
    a.Destroy();
    CWaitIndexMutexEx fresh;
    EXPECT_EQ(fresh.CreateEx(4, name.c_str()), 1);  // gone with its last user
}

// A table created, after CreateEx with a negative count, by Create (a lock
// private to the process) has its flags freed by Destroy.
TEST(IndexMutexEx, PrivateTableAfterANegativeCountIsFreed) {
    std::string name = UniqueName("vorlix\\lock_negative_then_private");
    CWaitIndexMutexEx lock;
    auto cycles = [&](int n) {
        for (int k = 0; k < n; ++k) {
            ASSERT_EQ(lock.CreateEx(-1, name.c_str()), 1);
            ASSERT_EQ(lock.Create(4), 1);
            lock.Destroy();
        }
    };
    // Counted after a first round: every size the cycle uses has its slab
    // then, even in a process where nothing ran before.
    cycles(100);
    const std::size_t before = vorlix::detail::GetBlockHeapStats().nSlabsInUse;
    cycles(40000);
    // 40000 leaked flag arrays would fill some ten slabs.
    EXPECT_LE(vorlix::detail::GetBlockHeapStats().nSlabsInUse, before + 2);
}

// Sanitizers reserve address space of their own and take the blocks from
// their own allocators: the test below runs without them.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__) || defined(__SANITIZE_MEMORY__)
#define LOCK_TEST_SANITIZER 1
#endif
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define LOCK_TEST_SANITIZER 1
#endif
#endif

#if defined(__linux__) && !defined(LOCK_TEST_SANITIZER)
#include <cstdio>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The address space of the process, in bytes.
long long AddressSpace() {
    long long pages = -1;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%lld", &pages) != 1) pages = -1;
        std::fclose(f);
    }
    return pages < 0 ? -1 : pages * sysconf(_SC_PAGESIZE);
}

}  // namespace

// A Create refused for want of memory gives back what it had taken. A
// child process, with its address space limited so that the first of the
// lock's arrays fit and the handle arrays do not, tells the outcome in its
// exit status.
TEST(IndexMutex, CreateShortOfMemoryGivesBackWhatItTook) {
    constexpr long long kMiB = 1 << 20;
    pid_t pid = fork();
    if (pid == 0) {
        vorlix::ReleaseUnusedMemory();
        const long long before = AddressSpace();
        rlimit limit{};
        limit.rlim_cur = limit.rlim_max = static_cast<rlim_t>(before + 200 * kMiB);
        if (before < 0 || setrlimit(RLIMIT_AS, &limit) != 0) _exit(3);
        CWaitIndexMutex lock;
        // 64 MiB of owners and 64 MiB of flags, then 128 MiB for each
        // array of handles, which is past the limit.
        if (lock.Create(1 << 24) != 0) _exit(2);
        vorlix::ReleaseUnusedMemory();
        _exit(AddressSpace() - before < 16 * kMiB ? 0 : 1);
    }
    ASSERT_GT(pid, 0);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: memory kept after the refusal; 2: not refused; 3: no limit";
}
#endif

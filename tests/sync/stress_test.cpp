// Several threads doing random single and multi reads and writes on a few
// indices for a while, with witnesses: no writer ever overlaps a reader or
// another writer, and no wait runs far past its time-out. The
// ThreadSanitizer stage of the CI runs this.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <random>
#include <thread>
#include <utility>
#include <vector>

#include <vorlix/vorlix.h>

namespace {

constexpr int kIndices = 4;
constexpr int kThreads = 6;

struct Shared {
    CWaitIndexMutex lock{kIndices};
    std::atomic<int> readers[kIndices] = {}, writers[kIndices] = {};  // the witnesses
    std::atomic<int> overlaps{0}, late{0};
    std::atomic<long> granted{0};

    // A writer that finds anyone else inside, or a reader that finds a
    // writer, is an overlap.
    void Enter(DWORD i, bool write) {
        int before = (write ? writers : readers)[i].fetch_add(1);
        if (write ? before != 0 || readers[i].load() != 0 : writers[i].load() != 0) overlaps.fetch_add(1);
    }
    void Leave(DWORD i, bool write) { (write ? writers : readers)[i].fetch_sub(1); }
};

void Worker(Shared& s, unsigned seed, std::chrono::steady_clock::time_point end) {
    std::mt19937 rng(seed);
    const DWORD owner = seed;
    using Clock = std::chrono::steady_clock;
    while (Clock::now() < end) {
        // 4 in 10 single reads, 3 single writes, 2 multi reads, 1 multi write;
        // a multi operation takes two distinct indices in ascending order.
        int op = static_cast<int>(rng() % 10);
        const bool multi = op >= 7, write = op == 9 || (op >= 4 && op < 7);
        DWORD set[2];
        set[0] = rng() % kIndices;
        set[1] = (set[0] + 1 + rng() % (kIndices - 1)) % kIndices;
        if (multi && set[0] > set[1]) std::swap(set[0], set[1]);
        DWORD timeout = 1 + rng() % 40;
        auto t0 = Clock::now();
        int ok;
        if (multi)
            ok = write ? s.lock.WaitForMultiWrite(set, 2, timeout) : s.lock.WaitForMultiRead(set, 2, timeout, owner);
        else ok = write ? s.lock.WaitForWrite(set[0], timeout, 1) : s.lock.WaitForRead(set[0], timeout, owner, 1);
        // A multi wait's budget is timeout / 1000 + 1 whole seconds, plus one pass.
        if (Clock::now() - t0 > std::chrono::milliseconds(multi ? 2000 + 100 : timeout + 100)) s.late.fetch_add(1);
        if (!ok) continue;
        const int n = multi ? 2 : 1;
        for (int k = 0; k < n; ++k) s.Enter(set[k], write);
        std::this_thread::yield();
        for (int k = 0; k < n; ++k) s.Leave(set[k], write);
        if (write && multi) s.lock.ReleaseForMultiWrite(set, 2);
        else if (write) s.lock.ReleaseForWrite(set[0]);
        else if (multi) EXPECT_EQ(s.lock.ReleaseForMultiRead(set, 2, owner), 1);
        else EXPECT_EQ(s.lock.GuaranteeReleaseForRead(set[0], owner), 1);
        s.granted.fetch_add(1);
    }
}

}  // namespace

TEST(IndexMutexStress, WritersNeverOverlapAndWaitsEndInTime) {
    Shared s;
    ASSERT_TRUE(s.lock.IsOn());
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(2500);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) threads.emplace_back(Worker, std::ref(s), 1000u + t, end);
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(s.overlaps.load(), 0);
    EXPECT_EQ(s.late.load(), 0);
    EXPECT_GT(s.granted.load(), 0);
    for (int i = 0; i < kIndices; ++i) EXPECT_EQ(s.lock.m_pdwLockFlag[i], 0u) << i;
}

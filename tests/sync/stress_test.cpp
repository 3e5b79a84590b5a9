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

struct Witness {
    std::atomic<int> readers{0};
    std::atomic<int> writers{0};
};

struct Shared {
    CWaitIndexMutex lock{kIndices};
    Witness w[kIndices];
    std::atomic<int> overlaps{0};
    std::atomic<int> late{0};
    std::atomic<long> granted{0};
};

void EnterRead(Shared& s, DWORD i) {
    s.w[i].readers.fetch_add(1);
    if (s.w[i].writers.load() != 0) s.overlaps.fetch_add(1);
}
void LeaveRead(Shared& s, DWORD i) { s.w[i].readers.fetch_sub(1); }
void EnterWrite(Shared& s, DWORD i) {
    if (s.w[i].writers.fetch_add(1) != 0 || s.w[i].readers.load() != 0) s.overlaps.fetch_add(1);
}
void LeaveWrite(Shared& s, DWORD i) { s.w[i].writers.fetch_sub(1); }

void Worker(Shared& s, unsigned seed, std::chrono::steady_clock::time_point end) {
    std::mt19937 rng(seed);
    const DWORD owner = seed;
    using Clock = std::chrono::steady_clock;
    while (Clock::now() < end) {
        int op = static_cast<int>(rng() % 10);
        DWORD timeout = 1 + rng() % 40;
        auto t0 = Clock::now();
        if (op < 4) {  // single read
            DWORD i = rng() % kIndices;
            int ok = s.lock.WaitForRead(i, timeout, owner, 1);
            if (Clock::now() - t0 > std::chrono::milliseconds(timeout + 100)) s.late.fetch_add(1);
            if (!ok) continue;
            EnterRead(s, i);
            std::this_thread::yield();
            LeaveRead(s, i);
            EXPECT_EQ(s.lock.GuaranteeReleaseForRead(i, owner), 1);
        } else if (op < 7) {  // single write
            DWORD i = rng() % kIndices;
            int ok = s.lock.WaitForWrite(i, timeout, 1);
            if (Clock::now() - t0 > std::chrono::milliseconds(timeout + 100)) s.late.fetch_add(1);
            if (!ok) continue;
            EnterWrite(s, i);
            std::this_thread::yield();
            LeaveWrite(s, i);
            s.lock.ReleaseForWrite(i);
        } else {  // a multi read or write of two distinct indices, in ascending order
            DWORD set[2];
            set[0] = rng() % kIndices;
            set[1] = (set[0] + 1 + rng() % (kIndices - 1)) % kIndices;
            if (set[0] > set[1]) std::swap(set[0], set[1]);
            bool write = op == 9;
            int ok =
                write ? s.lock.WaitForMultiWrite(set, 2, timeout) : s.lock.WaitForMultiRead(set, 2, timeout, owner);
            // The budget is timeout / 1000 + 1 whole seconds, plus one pass.
            if (Clock::now() - t0 > std::chrono::milliseconds(2000 + 100)) s.late.fetch_add(1);
            if (!ok) continue;
            for (DWORD i : set) write ? EnterWrite(s, i) : EnterRead(s, i);
            std::this_thread::yield();
            for (DWORD i : set) write ? LeaveWrite(s, i) : LeaveRead(s, i);
            if (write) s.lock.ReleaseForMultiWrite(set, 2);
            else EXPECT_EQ(s.lock.ReleaseForMultiRead(set, 2, owner), 1);
        }
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

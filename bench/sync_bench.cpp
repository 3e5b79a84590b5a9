// The index locks against their peers, in one program:
//
// - read_1t: a read lock + unlock pair on one of 64 indices in turn, one
//   thread (nothing contends): CWaitIndexMutex against a std::shared_mutex
//   per index;
// - mixed_Nt: lock + unlock pairs on random indices of 64, 90 % reads, with
//   1, 2 and 8 threads, against the same peer;
// - shared_read_1t: read_1t on the shared-memory lock CWaitIndexMutexEx, one
//   process, against Boost.Interprocess interprocess_sharable_mutex;
// - two_processes: the mixed work in this process and a forked child on one
//   table: CWaitIndexMutexEx against interprocess_sharable_mutex in shared
//   memory.
//
// Machine speed drifts, so each pair is registered in rounds, the library
// then its peer, round after round (--sync_rounds=N, 5 by default). At the
// end the program prints, for each pair, the library's time per pair over
// the peer's (from the pairs per second of both) in every round: the median
// and the range. Times are wall-clock: with threads, waiting is the work.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <new>
#include <shared_mutex>
#include <string>
#include <vector>

#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <boost/interprocess/sync/interprocess_sharable_mutex.hpp>

#include <vorlix/vorlix.h>

#include "bench_support.h"

namespace {

constexpr int kSlots = 64;

// The work of one iteration: an index and whether it is a read (90 %).
struct Picker {
    std::uint32_t x;
    explicit Picker(std::uint32_t seed) : x(seed * 2654435761u + 1) {}
    void Next(DWORD& index, bool& read) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        index = x % kSlots;
        read = (x >> 8) % 10 != 0;
    }
};

CWaitIndexMutex* g_lock = nullptr;
std::shared_mutex g_std[kSlots];

// ---- One process ----

void ReadVorlix(benchmark::State& state) {
    CWaitIndexMutex lock(kSlots);
    DWORD i = 0;
    for (auto _ : state) {
        if (lock.WaitForRead(i, 10000, 1, 1)) lock.GuaranteeReleaseForRead(i, 1);
        i = (i + 1) % kSlots;
    }
    state.SetItemsProcessed(state.iterations());
}

void ReadStd(benchmark::State& state) {
    DWORD i = 0;
    for (auto _ : state) {
        g_std[i].lock_shared();
        g_std[i].unlock_shared();
        i = (i + 1) % kSlots;
    }
    state.SetItemsProcessed(state.iterations());
}

void MixedVorlix(benchmark::State& state) {
    if (state.thread_index() == 0) g_lock = new CWaitIndexMutex(kSlots);
    // Google Benchmark starts the timed loops of all threads together.
    Picker pick(static_cast<std::uint32_t>(state.thread_index() + 1));
    const DWORD owner = static_cast<DWORD>(state.thread_index() + 1);
    for (auto _ : state) {
        DWORD i;
        bool read;
        pick.Next(i, read);
        if (read) {
            if (g_lock->WaitForRead(i, 10000, owner, 1)) g_lock->GuaranteeReleaseForRead(i, owner);
        } else if (g_lock->WaitForWrite(i, 10000, 1)) {
            g_lock->ReleaseForWrite(i);
        }
    }
    state.SetItemsProcessed(state.iterations());
    if (state.thread_index() == 0) {
        delete g_lock;
        g_lock = nullptr;
    }
}

void MixedStd(benchmark::State& state) {
    Picker pick(static_cast<std::uint32_t>(state.thread_index() + 1));
    for (auto _ : state) {
        DWORD i;
        bool read;
        pick.Next(i, read);
        if (read) {
            g_std[i].lock_shared();
            g_std[i].unlock_shared();
        } else {
            g_std[i].lock();
            g_std[i].unlock();
        }
    }
    state.SetItemsProcessed(state.iterations());
}

// ---- Shared memory ----

void SharedReadVorlix(benchmark::State& state) {
    std::string name = "vorlix_bench_read_" + std::to_string(static_cast<long>(getpid()));
    CWaitIndexMutexEx lock(kSlots, name.c_str());
    DWORD i = 0;
    for (auto _ : state) {
        if (lock.WaitForRead(i, 10000, 1, 1)) lock.GuaranteeReleaseForRead(i, 1);
        i = (i + 1) % kSlots;
    }
    state.SetItemsProcessed(state.iterations());
}

void SharedReadBoost(benchmark::State& state) {
    static boost::interprocess::interprocess_sharable_mutex m[kSlots];
    DWORD i = 0;
    for (auto _ : state) {
        m[i].lock_sharable();
        m[i].unlock_sharable();
        i = (i + 1) % kSlots;
    }
    state.SetItemsProcessed(state.iterations());
}

// A release in the other process wakes no single wait here: such a wait
// sleeps out its time-out. So the cross-process loop waits 1 ms at a time
// and tries again, as a caller of the shared lock would.
void SharedStep(CWaitIndexMutexEx& lock, DWORD owner, DWORD i, bool read) {
    if (read) {
        while (!lock.WaitForRead(i, 1, owner, 1)) {}
        lock.GuaranteeReleaseForRead(i, owner);
    } else {
        while (!lock.WaitForWrite(i, 1, 1)) {}
        lock.ReleaseForWrite(i);
    }
}

// Runs `work` in a forked child until the parent says stop.
template <class Work>
pid_t StartChild(std::atomic<int>* stop, Work work) {
    pid_t pid = fork();
    if (pid == 0) {
        Picker pick(977);
        while (!stop->load(std::memory_order_relaxed)) work(pick);
        _exit(0);
    }
    return pid;
}

void StopChild(std::atomic<int>* stop, pid_t pid) {
    stop->store(1);
    int status;
    waitpid(pid, &status, 0);
}

std::atomic<int>* SharedFlag() {
    void* p = mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    return new (p) std::atomic<int>(0);
}

void TwoProcessesVorlix(benchmark::State& state) {
    std::string name = "vorlix_bench_" + std::to_string(static_cast<long>(getpid()));
    CWaitIndexMutexEx lock(kSlots, name.c_str());
    std::atomic<int>* stop = SharedFlag();
    pid_t child = StartChild(stop, [&](Picker& pick) {
        static CWaitIndexMutexEx* mine = new CWaitIndexMutexEx(kSlots, name.c_str());
        DWORD i;
        bool read;
        pick.Next(i, read);
        SharedStep(*mine, 2, i, read);
    });
    Picker pick(1);
    for (auto _ : state) {
        DWORD i;
        bool read;
        pick.Next(i, read);
        SharedStep(lock, 1, i, read);
    }
    StopChild(stop, child);
    munmap(stop, 4096);
    state.SetItemsProcessed(state.iterations());
}

void TwoProcessesBoost(benchmark::State& state) {
    using boost::interprocess::interprocess_sharable_mutex;
    void* p = mmap(nullptr, sizeof(interprocess_sharable_mutex) * kSlots, PROT_READ | PROT_WRITE,
                   MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    interprocess_sharable_mutex* m = static_cast<interprocess_sharable_mutex*>(p);
    for (int i = 0; i < kSlots; ++i) new (m + i) interprocess_sharable_mutex;
    std::atomic<int>* stop = SharedFlag();
    auto step = [m](Picker& pick) {
        DWORD i;
        bool read;
        pick.Next(i, read);
        if (read) {
            m[i].lock_sharable();
            m[i].unlock_sharable();
        } else {
            m[i].lock();
            m[i].unlock();
        }
    };
    pid_t child = StartChild(stop, step);
    Picker pick(1);
    for (auto _ : state) step(pick);
    StopChild(stop, child);
    munmap(stop, 4096);
    munmap(p, sizeof(interprocess_sharable_mutex) * kSlots);
    state.SetItemsProcessed(state.iterations());
}

// ---- The pairs ----

const BenchPair kPairs[] = {
    {"read_1t", ReadVorlix, ReadStd, 1},
    {"mixed_1t", MixedVorlix, MixedStd, 1},
    {"mixed_2t", MixedVorlix, MixedStd, 2},
    {"mixed_8t", MixedVorlix, MixedStd, 8},
    {"shared_read_1t", SharedReadVorlix, SharedReadBoost, 1},
    {"two_processes", TwoProcessesVorlix, TwoProcessesBoost, 1},
};

}  // namespace

int main(int argc, char** argv) {
    int rounds = TakeRounds(argc, argv, "--sync_rounds=");
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RegisterInRounds(kPairs, rounds, [](auto* bm, const BenchPair& p) { bm->Threads(p.param)->UseRealTime(); });
    SeriesReporter reporter(SeriesReporter::TimePerItem);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    PrintPairRatios(reporter, kPairs, "Vorlix time per pair / peer time per pair");
    benchmark::Shutdown();
    return 0;
}

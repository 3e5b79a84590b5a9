// Handles: a closed, foreign, null or garbage value never reaches memory or
// a file; the handle table's limit and its object lifetimes; open, close
// and use from many threads at once.
#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "../../src/base/handle_table.h"
#include "support.h"

#include <vorlix/win.h>

using testsupport::TempFile;
using testsupport::WarningCounter;

namespace {

const DWORD kReadWrite = 0xC0000000u;

void* Open(const TempFile& t) { return Byte_OpenFile(t.path(), kReadWrite, 3, 1); }

struct Counted {
    explicit Counted(int id) : id(id) { ++alive; }
    ~Counted() { --alive; }
    int id;
    static std::atomic<int> alive;
};
std::atomic<int> Counted::alive{0};

}  // namespace

TEST(FileHandles, ClosedHandleNeverReachesTheNextFile) {
    TempFile ta("stale_a.txt"), tb("stale_b.txt");
    void* a = Open(ta);
    ASSERT_NE(a, nullptr);
    API_CloseFile(a);
    void* b = Open(tb);
    ASSERT_NE(b, nullptr);
    {
        WarningCounter warnings;
        EXPECT_EQ(API_WriteFile(a, "STALE", 5), 0u);
        char buf[4];
        EXPECT_EQ(API_ReadFile(a, buf, sizeof buf), 0u);
        EXPECT_EQ(API_SeekFile(a, 0, 2), -1);
        MString line = "old";
        EXPECT_EQ(Byte_Read1Line(a, line, 0), 0);
        API_CloseFile(a);                // twice: harmless
        EXPECT_EQ(warnings.count(), 5);  // each misuse is reported
    }
    EXPECT_EQ(API_WriteFile(b, "fresh", 5), 5u);
    API_CloseFile(b);
    EXPECT_EQ(tb.Read(), "fresh");
    EXPECT_EQ(ta.Read(), "");
}

TEST(FileHandles, GarbageValuesAreRefused) {
    TempFile t("garbage.txt");
    void* h = Open(t);
    ASSERT_NE(h, nullptr);
    std::uintptr_t v = reinterpret_cast<std::uintptr_t>(h);
    unsigned char bytes[64] = {};  // plausible memory, never a handle
    std::vector<void*> bad = {nullptr,
                              reinterpret_cast<void*>(~std::uintptr_t(0)),  // INVALID_HANDLE_VALUE
                              reinterpret_cast<void*>(std::uintptr_t(1)),
                              bytes,
                              reinterpret_cast<void*>(v + 1),                           // another slot
                              reinterpret_cast<void*>(v ^ (std::uintptr_t(1) << 30)),   // another generation
                              reinterpret_cast<void*>(v ^ (std::uintptr_t(1) << 61))};  // another table
    // A handle of the platform layer is not a file handle of the base.
    using namespace vorlix::win;  // unqualified: the constants are macros on Windows
    HANDLE k = CreateFileA(t.path(), kReadWrite, 3, nullptr, OPEN_EXISTING, 0x80, nullptr);
    ASSERT_NE(k, INVALID_HANDLE_VALUE);
    bad.push_back(k);
    for (void* p : bad) {
        EXPECT_EQ(API_WriteFile(p, "x", 1), 0u) << p;
        EXPECT_EQ(API_SeekFile(p, 0, 0), -1) << p;
        API_CloseFile(p);
    }
    EXPECT_TRUE(CloseHandle(k));
#ifndef _WIN32  // on Windows a bad CloseHandle may raise an exception under a debugger
    SetLastError(0);
    EXPECT_FALSE(CloseHandle(h));  // nor is a file handle a kernel handle
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
#endif
    EXPECT_EQ(API_WriteFile(h, "ok", 2), 2u);  // none of it touched the real one
    API_CloseFile(h);
    EXPECT_EQ(t.Read(), "ok");
}

// Targets before the start or beyond what a long holds fail and leave the
// position, also where computing them would overflow.
TEST(FileHandles, SeekOutOfRangeKeepsThePosition) {
    TempFile t("seek_range.txt");
    void* h = Open(t);
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(API_WriteFile(h, "0123456789", 10), 10u);
    ASSERT_EQ(API_SeekFile(h, 4, 0), 4);
    const long kCases[][2] = {{LONG_MAX, 1}, {LONG_MIN, 1}, {-5, 1}, {LONG_MAX, 2}, {LONG_MIN, 2}, {-11, 2}, {-1, 0}};
    for (const auto& c : kCases) {
        EXPECT_EQ(API_SeekFile(h, c[0], static_cast<int>(c[1])), -1) << c[0] << " from " << c[1];
        EXPECT_EQ(API_SeekFile(h, 0, 1), 4);
    }
    char b;
    EXPECT_EQ(API_ReadFile(h, &b, 1), 1u);
    EXPECT_EQ(b, '4');
    EXPECT_EQ(API_SeekFile(h, -10, 2), 0);
    API_CloseFile(h);
}

// A table of 16 slots: its limit, slot reuse under a new generation, and an
// object that outlives the close of its handle while it is in use.
TEST(HandleTable, LimitReuseAndLifetime) {
    typedef vorlix::detail::HandleTable<Counted, 6, 4> Table;
    static Table table;
    ASSERT_EQ(Table::kMaxHandles, 16u);
    std::vector<void*> handles;
    for (int i = 0; i < 16; ++i) {
        void* h = table.Add(new Counted(i));
        ASSERT_NE(h, nullptr);
        EXPECT_NE(h, reinterpret_cast<void*>(~std::uintptr_t(0)));
        handles.push_back(h);
    }
    Counted extra(99);
    EXPECT_EQ(table.Add(&extra), nullptr);  // full: the object stays the caller's
    EXPECT_EQ(Counted::alive, 17);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(table.Lookup(handles[i])->id, i);

    Table::Use held = table.Lookup(handles[3]);
    EXPECT_TRUE(table.Close(handles[3]));
    EXPECT_FALSE(table.Close(handles[3]));
    EXPECT_FALSE(table.Lookup(handles[3]));
    EXPECT_EQ(held->id, 3);  // still alive for the use in progress
    EXPECT_EQ(Counted::alive, 17);
    EXPECT_EQ(table.Add(&extra), nullptr);  // its slot is not free yet
    held.Reset();
    EXPECT_EQ(Counted::alive, 16);

    void* again = table.Add(new Counted(17));
    ASSERT_NE(again, nullptr);
    EXPECT_NE(again, handles[3]);  // the same slot, another generation
    EXPECT_FALSE(table.Lookup(handles[3]));
    EXPECT_EQ(table.Lookup(again)->id, 17);
    handles[3] = again;
    for (void* h : handles) EXPECT_TRUE(table.Close(h));
    EXPECT_EQ(Counted::alive, 1);  // only `extra`
}

// Threads add, close and look up handles of one table, some of them stale:
// a lookup gives the object its handle was made for or nothing, and every
// object is destroyed exactly once.
TEST(HandleTable, ConcurrentAddCloseLookup) {
    typedef vorlix::detail::HandleTable<Counted, 7, 10> Table;
    static Table table;
    const int kShared = 64, kThreads = 4, kRounds = 40000;
    // A record pairs a handle with the id of its object; records never change.
    struct Record {
        void* h;
        int id;
    };
    static Record records[kThreads * kRounds];
    std::atomic<int> nextRecord{0};
    std::atomic<int> shared[kShared];
    for (auto& s : shared) s = -1;
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            unsigned seed = 12345u + static_cast<unsigned>(t);
            for (int r = 0; r < kRounds; ++r) {
                seed = seed * 1103515245u + 12345u;
                std::atomic<int>& slot = shared[(seed >> 8) % kShared];
                if ((seed >> 20) % 3 == 0) {
                    int k = nextRecord++;
                    records[k].id = k;
                    records[k].h = table.Add(new Counted(k));
                    int old = slot.exchange(records[k].h ? k : -1);
                    if (old >= 0) table.Close(records[old].h);
                } else {
                    int k = slot.load();
                    if (k < 0) continue;
                    Table::Use use = table.Lookup(records[k].h);
                    if (use && use->id != records[k].id) ++wrong;
                    if ((seed >> 24) % 5 == 0) table.Close(records[k].h);  // a close racing the exchange
                }
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(wrong, 0);
    for (auto& s : shared) {
        int k = s.load();
        if (k >= 0) table.Close(records[k].h);
    }
    EXPECT_EQ(Counted::alive, 0);
}

// The same through files. Any thread opens a file into a shared place and
// closes the one it replaces, while the thread that owns the place for
// writing (a handle is used by one thread at a time) writes through whatever
// handle it finds there, stale or not: every byte lands in the file its
// handle was opened on.
TEST(FileHandles, ConcurrentOpenCloseWrite) {
    const int kPlaces = 8, kThreads = 4, kOpens = 1200;
    std::vector<TempFile> files;
    files.reserve(kOpens);
    for (int i = 0; i < kOpens; ++i) files.emplace_back("mt_" + std::to_string(i) + ".txt");
    struct Record {
        void* h;
        char mark;
    };
    std::vector<Record> records(kOpens);
    std::atomic<int> nextRecord{0};
    std::atomic<int> places[kPlaces];
    for (auto& p : places) p = -1;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            unsigned seed = 777u + static_cast<unsigned>(t);
            for (int r = 0; r < kOpens; ++r) {
                seed = seed * 1103515245u + 12345u;
                if ((seed >> 20) % 4 == 0) {
                    int k = nextRecord++;
                    if (k >= kOpens) continue;
                    records[k].mark = static_cast<char>('a' + k % 26);
                    records[k].h = Open(files[k]);
                    int old = places[(seed >> 8) % kPlaces].exchange(records[k].h ? k : -1);
                    if (old >= 0) API_CloseFile(records[old].h);
                } else {
                    int k = places[t + kThreads * ((seed >> 8) % (kPlaces / kThreads))].load();
                    if (k >= 0) API_WriteFile(records[k].h, &records[k].mark, 1);
                }
            }
        });
    }
    for (auto& th : threads) th.join();
    for (auto& p : places)
        if (p >= 0) API_CloseFile(records[p].h);
    int opened = nextRecord < kOpens ? nextRecord.load() : kOpens;
    std::size_t written = 0;
    for (int k = 0; k < opened; ++k) {
        std::string got = files[k].Read();
        written += got.size();
        EXPECT_EQ(got.find_first_not_of(records[k].mark), std::string::npos) << k << ": " << got;
    }
    EXPECT_GT(written, 0u);
}

// File handles: opening, reading, writing and seeking; a closed, foreign,
// null or garbage value never reaches memory or a file; the handle table's
// limit and its object lifetimes; open, close and use from many threads.
#include <gtest/gtest.h>

#include <algorithm>
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

void* Open(const TempFile& t, int bCreate) { return Byte_OpenFile(t.path(), kReadWrite, 3, bCreate); }

std::string ReadAll(void* h) {
    std::string out;
    char buf[100];
    DWORD n;
    while ((n = API_ReadFile(h, buf, sizeof buf)) > 0) out.append(buf, n);
    return out;
}

struct Counted {
    explicit Counted(int id) : id(id) { ++alive; }
    ~Counted() { --alive; }
    int id;
    static std::atomic<int> alive;
};
std::atomic<int> Counted::alive{0};

// Four threads race over shared places, each holding the number of a
// handle or -1. In a round a thread either (one time in nOdds) makes the
// next handle k with make(k), which is false when it made none, puts it in
// a random place and closes the one it replaces with close(k), or calls
// use(t, seed) to use one it finds in a place, stale or not. At the end the
// handles left in places are closed. Returns how many were made.
template <class Make, class Close, class Use>
int Race(std::vector<std::atomic<int>>& places, int nRounds, unsigned nOdds, int nMax, Make make, Close close,
         Use use) {
    for (auto& p : places) p = -1;
    std::atomic<int> next{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            unsigned seed = 12345u + static_cast<unsigned>(t);
            for (int r = 0; r < nRounds; ++r) {
                seed = seed * 1103515245u + 12345u;
                if ((seed >> 20) % nOdds != 0) {
                    use(t, seed);
                    continue;
                }
                int k = next++;
                if (k >= nMax) continue;
                int old = places[(seed >> 8) % places.size()].exchange(make(k) ? k : -1);
                if (old >= 0) close(old);
            }
        });
    }
    for (auto& th : threads) th.join();
    for (auto& p : places)
        if (p >= 0) close(p);
    return std::min(next.load(), nMax);
}

}  // namespace

TEST(FileOpen, CreateNeverEmptiesAndExistingOnlyFailsOnMissing) {
    TempFile t("create.txt");
    EXPECT_EQ(Open(t, 0), nullptr);
    EXPECT_FALSE(Byte_ExistFile(t.path()));  // and made nothing
    void* h = Open(t, 1);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(API_WriteFile(h, "keep me", 7), 7u);
    API_CloseFile(h);
    for (int bCreate : {1, 0}) {
        h = Open(t, bCreate);
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(ReadAll(h), "keep me");
        API_CloseFile(h);
    }
    EXPECT_FALSE(Byte_ExistFile(testsupport::TempDir().c_str()));  // files only
}

TEST(FileIo, InterleavedReadWriteSeekKeepsPosition) {
    TempFile t("mixed.txt");
    t.Write("line1\nline2\nline3\n");
    void* h = Open(t, 0);
    ASSERT_NE(h, nullptr);
    MString line;
    ASSERT_TRUE(Byte_Read1Line(h, line, 0));
    // The read buffer holds the whole file; the write lands after line 1.
    EXPECT_EQ(API_WriteFile(h, "LINE2", 5), 5u);
    EXPECT_EQ(API_SeekFile(h, 0, 1), 11);
    ASSERT_TRUE(Byte_Read1Line(h, line, 0));
    EXPECT_STREQ(line, "");
    // Seek back inside what was read, then overwrite one byte there.
    EXPECT_EQ(API_SeekFile(h, 3, 0), 3);
    EXPECT_EQ(API_WriteFile(h, "X", 1), 1u);
    char buf[4] = {};
    EXPECT_EQ(API_ReadFile(h, buf, 3), 3u);
    EXPECT_EQ(std::string(buf, 3), "1\nL");
    EXPECT_EQ(API_SeekFile(h, -100, 1), -1);  // a failed seek leaves the position
    EXPECT_EQ(API_SeekFile(h, 0, 2), 18);
    EXPECT_EQ(API_WriteFile(h, "tail", 4), 4u);
    EXPECT_EQ(API_SeekFile(h, -4, 1), 18);
    EXPECT_EQ(ReadAll(h), "tail");
    API_CloseFile(h);
    EXPECT_EQ(t.Read(), "linX1\nLINE2\nline3\ntail");
}

// Every call through a bad value fails, is reported and touches no file:
// a closed handle (whose slot the next file takes under another
// generation), null, INVALID_HANDLE_VALUE, plausible memory, a live handle
// with another slot, generation or table, and a kernel handle.
TEST(FileHandles, BadHandlesAreRefused) {
    TempFile ta("stale_a.txt"), tb("stale_b.txt");
    void* a = Open(ta, 1);
    ASSERT_NE(a, nullptr);
    API_CloseFile(a);
    void* h = Open(tb, 1);
    ASSERT_NE(h, nullptr);
    std::uintptr_t v = reinterpret_cast<std::uintptr_t>(h);
    unsigned char bytes[64] = {};
    std::vector<void*> bad = {a,
                              nullptr,
                              reinterpret_cast<void*>(~std::uintptr_t(0)),
                              reinterpret_cast<void*>(std::uintptr_t(1)),
                              bytes,
                              reinterpret_cast<void*>(v + 1),
                              reinterpret_cast<void*>(v ^ (std::uintptr_t(1) << 30)),
                              reinterpret_cast<void*>(v ^ (std::uintptr_t(1) << 61))};
    using namespace vorlix::win;  // unqualified: the constants are macros on Windows
    HANDLE k = CreateFileA(ta.path(), kReadWrite, 3, nullptr, OPEN_EXISTING, 0x80, nullptr);
    ASSERT_NE(k, INVALID_HANDLE_VALUE);
    bad.push_back(k);
    WarningCounter warnings;
    for (void* p : bad) {
        EXPECT_EQ(API_WriteFile(p, "STALE", 5), 0u) << p;
        char buf[4];
        EXPECT_EQ(API_ReadFile(p, buf, sizeof buf), 0u) << p;
        EXPECT_EQ(API_SeekFile(p, 0, 2), -1) << p;
        MString line = "old";
        EXPECT_EQ(Byte_Read1Line(p, line, 0), 0) << p;
        API_CloseFile(p);  // for `a` a second close: harmless
    }
    EXPECT_EQ(warnings.count(), 5 * static_cast<int>(bad.size()) - 1);  // closing null is silent
    EXPECT_TRUE(CloseHandle(k));
#ifndef _WIN32  // on Windows a bad CloseHandle may raise an exception under a debugger
    SetLastError(0);
    EXPECT_FALSE(CloseHandle(h));  // nor is a file handle a kernel handle
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
#endif
    EXPECT_EQ(API_WriteFile(h, "fresh", 5), 5u);
    API_CloseFile(h);
    EXPECT_EQ(tb.Read(), "fresh");
    EXPECT_EQ(ta.Read(), "");
}

// Targets before the start or beyond what a long holds fail and leave the
// position, also where computing them would overflow.
TEST(FileHandles, SeekOutOfRangeKeepsThePosition) {
    TempFile t("seek_range.txt");
    void* h = Open(t, 1);
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

// A lookup gives the object its handle was made for or nothing, also while
// other threads close it, and every object is destroyed exactly once.
TEST(HandleTable, ConcurrentAddCloseLookup) {
    typedef vorlix::detail::HandleTable<Counted, 7, 10> Table;
    static Table table;
    const int kRounds = 40000;
    static void* handles[4 * kRounds];  // never changed once made
    std::vector<std::atomic<int>> places(64);
    std::atomic<int> wrong{0};
    Race(
        places, kRounds, 3, 4 * kRounds, [&](int k) { return (handles[k] = table.Add(new Counted(k))) != nullptr; },
        [&](int k) { table.Close(handles[k]); },
        [&](int, unsigned seed) {
            int k = places[(seed >> 8) % places.size()].load();
            if (k < 0) return;
            Table::Use use = table.Lookup(handles[k]);
            if (use && use->id != k) ++wrong;
            if ((seed >> 24) % 5 == 0) table.Close(handles[k]);  // a close racing the exchange
        });
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(Counted::alive, 0);
}

// The same through files. The thread that owns a place for writing (a
// handle is used by one thread at a time) writes through whatever handle it
// finds there: every byte lands in the file its handle was opened on.
TEST(FileHandles, ConcurrentOpenCloseWrite) {
    const int kOpens = 1200;
    std::vector<TempFile> files;
    files.reserve(kOpens);
    for (int i = 0; i < kOpens; ++i) files.emplace_back("mt_" + std::to_string(i) + ".txt");
    std::vector<void*> handles(kOpens);
    auto mark = [](int k) { return static_cast<char>('a' + k % 26); };
    std::vector<std::atomic<int>> places(8);
    int opened = Race(
        places, kOpens, 4, kOpens, [&](int k) { return (handles[k] = Open(files[k], 1)) != nullptr; },
        [&](int k) { API_CloseFile(handles[k]); },
        [&](int t, unsigned seed) {
            int k = places[t + 4 * ((seed >> 8) % 2)].load();
            char c = mark(k);
            if (k >= 0) API_WriteFile(handles[k], &c, 1);
        });
    std::size_t written = 0;
    for (int k = 0; k < opened; ++k) {
        std::string got = files[k].Read();
        written += got.size();
        EXPECT_EQ(got.find_first_not_of(mark(k)), std::string::npos) << k << ": " << got;
    }
    EXPECT_GT(written, 0u);
}

// The file-system, time and message services the file finder, the path
// functions and the message-pump waits rely on. Under Wine these run
// against the real services.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <ctime>
#include <map>
#include <set>
#include <string>
#include <thread>

#include "fs/fs_support.h"
#include "util/zone.h"

#if !defined(_WIN32)
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace vorlix::win;
using fstest::TempTree;
using fstest::kSep;

namespace {

// The names a search finds with their attributes, and the last error at
// its end.
std::map<std::string, DWORD> Search(const std::string& pattern, DWORD* pError = nullptr) {
    std::map<std::string, DWORD> found;
    WIN32_FIND_DATAA data;
    HANDLE h = FindFirstFileA(pattern.c_str(), &data);
    if (h != INVALID_HANDLE_VALUE) {
        do found[data.cFileName] = data.dwFileAttributes;
        while (FindNextFileA(h, &data));
    }
    if (pError) *pError = GetLastError();
    if (h != INVALID_HANDLE_VALUE) {
        EXPECT_TRUE(FindClose(h));
    }
    return found;
}

std::set<std::string> Names(const std::map<std::string, DWORD>& found) {
    std::set<std::string> names;
    for (const auto& f : found) names.insert(f.first);
    return names;
}

// 16-bit text for the W services (WCHAR is wchar_t on Windows, a 16-bit
// code unit elsewhere), and back.
std::u16string Wide(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }
const WCHAR* W(const std::u16string& s) { return reinterpret_cast<const WCHAR*>(s.c_str()); }
std::u16string Units(const WCHAR* s) { return std::u16string(reinterpret_cast<const char16_t*>(s)); }

}  // namespace

TEST(PlatformFind, PatternsAttributesAndTheEndOfASearch) {
    TempTree t("find");
    t.File("a.txt");
    t.File("B.TXT");
    t.File("noext");
    t.Dir("sub");
    DWORD err = 0;
    std::map<std::string, DWORD> all = Search(t.Path("*.*"), &err);
    EXPECT_EQ(Names(all), (std::set<std::string>{".", "..", "a.txt", "B.TXT", "noext", "sub"}));
    EXPECT_EQ(err, static_cast<DWORD>(ERROR_NO_MORE_FILES));
    EXPECT_EQ(all["sub"] & 0x10u, 0x10u);
    EXPECT_EQ(all["noext"] & 0x30u, 0x20u);  // archive, not a directory
    EXPECT_EQ(Names(Search(t.Path("?.TxT"))), (std::set<std::string>{"a.txt", "B.TXT"}));
    EXPECT_EQ(Names(Search(t.Path("noext"))), (std::set<std::string>{"noext"}));
    EXPECT_EQ(GetFileAttributesA(t.Path("sub").c_str()) & 0x10u, 0x10u);
    EXPECT_EQ(GetFileAttributesA(t.Path("missing").c_str()), INVALID_FILE_ATTRIBUTES);
    Search(t.Path("missing") + kSep + "x", &err);
    EXPECT_EQ(err, static_cast<DWORD>(ERROR_PATH_NOT_FOUND));

#if !defined(_WIN32)
    // Kinds, permissions and dot names; links are followed.
    t.File(".hidden");
    t.File("ro");
    t.Chmod("ro", 0444);
    ASSERT_EQ(::mkfifo(t.Path("fifo").c_str(), 0644), 0);
    ASSERT_EQ(::symlink("nowhere", t.Path("dangling").c_str()), 0);
    ASSERT_EQ(::symlink("sub", t.Path("tosub").c_str()), 0);
    const std::map<std::string, DWORD> want = {{".", 0x10},     {"..", 0x10},       {"a.txt", 0x20},   {"B.TXT", 0x20},
                                               {"noext", 0x20}, {"sub", 0x10},      {".hidden", 0x22}, {"ro", 0x21},
                                               {"fifo", 0x04},  {"dangling", 0x80}, {"tosub", 0x10}};
    EXPECT_EQ(Search(t.Path("*")), want);
    EXPECT_EQ(GetFileAttributesA(t.Path("ro").c_str()), 0x21u);
    // Exact names are case-sensitive here; wildcards are not.
    EXPECT_EQ(Names(Search(t.Path("A.txt"))), std::set<std::string>());
    EXPECT_EQ(Names(Search(t.Path("A*"))), (std::set<std::string>{"a.txt"}));
#endif
}

#if !defined(_WIN32)
TEST(PlatformFind, NamesThatAreNotUtf8StayReachableInTheWideForm) {
    TempTree t("bytes");
    t.File("x\xFFy");
    WIN32_FIND_DATAW data;
    HANDLE h = FindFirstFileW(W(Wide(t.root()) + u"/x*"), &data);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Units(data.cFileName), u"x\xDCFFy");
    FindClose(h);
    std::u16string path = Wide(t.root()) + u"/" + Units(data.cFileName);
    EXPECT_EQ(GetFileAttributesW(W(path)), 0x20u);
    HANDLE f = CreateFileW(W(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    CloseHandle(f);
}
#endif

TEST(PlatformPath, FullPathNames) {
    char base[MAX_PATH];
    DWORD n = GetFullPathNameA(".", MAX_PATH, base, nullptr);
    ASSERT_GT(n, 0u);
    std::string cwd(base, n);
    EXPECT_EQ(std::filesystem::path(cwd), std::filesystem::current_path());

    char out[MAX_PATH];
    char* part = nullptr;
    std::string rel = std::string("a") + kSep + "." + kSep + "b" + kSep + ".." + kSep + "c.txt";
    n = GetFullPathNameA(rel.c_str(), MAX_PATH, out, &part);
    std::string want = cwd + (cwd.back() == kSep ? "" : std::string(1, kSep)) + "a" + kSep + "c.txt";
    EXPECT_EQ(std::string(out, n), want);
    ASSERT_NE(part, nullptr);
    EXPECT_STREQ(part, "c.txt");
    // Too small: the size needed, NUL included.
    EXPECT_EQ(GetFullPathNameA(rel.c_str(), static_cast<DWORD>(want.size()), out, nullptr), want.size() + 1);
    WCHAR wout[MAX_PATH];
    GetFullPathNameW(W(Wide(rel)), MAX_PATH, wout, nullptr);
    EXPECT_EQ(Units(wout), Wide(want));
#if !defined(_WIN32)
    EXPECT_EQ(GetFullPathNameA("/x/../../y/./", MAX_PATH, out, &part), 3u);
    EXPECT_STREQ(out, "/y/");
    EXPECT_EQ(part, nullptr);
    EXPECT_EQ(GetFullPathNameA("\\\\", MAX_PATH, out, nullptr), 1u);
    EXPECT_STREQ(out, "/");
#endif
}

TEST(PlatformPath, ModuleNameAndCurrentDirectory) {
    char name[2048];
    DWORD n = GetModuleFileNameA(nullptr, name, sizeof name);
    ASSERT_GT(n, 0u);
    std::string exe(name, n);
    EXPECT_NE(exe.find("tests"), std::string::npos);
    // A name that does not fit is cut and reported with the buffer's size
    // (whether the cut name is terminated depends on the Windows version).
    SetLastError(0);
    EXPECT_EQ(GetModuleFileNameA(nullptr, name, 4), 4u);
    EXPECT_EQ(std::string(name, 3), exe.substr(0, 3));
#if !defined(_WIN32)
    EXPECT_EQ(name[3], '\0');
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
#endif

    // _getdcwd is read for the current drive (Windows) and _mkdir makes each
    // level: both are exercised through MakeDirectory; _splitpath through
    // the finder's titles.
    char cwd[1024];
    ASSERT_NE(_getdcwd(_getdrive(), cwd, sizeof cwd), nullptr);
    EXPECT_EQ(std::filesystem::path(cwd), std::filesystem::current_path());
    EXPECT_EQ(_getdcwd(_getdrive(), cwd, 2), nullptr);  // too small
}

TEST(PlatformTime, FileTimesAndTheClock) {
    // 2000-02-29 23:59:59.890 UTC, a Tuesday.
    unsigned long long v = (951868799ULL + 11644473600ULL) * 10000000ULL + 8900000ULL;
    FILETIME ft = {static_cast<DWORD>(v), static_cast<DWORD>(v >> 32)};
    SYSTEMTIME st;
    ASSERT_TRUE(FileTimeToSystemTime(&ft, &st));
    EXPECT_EQ(std::vector<int>(
                  {st.wYear, st.wMonth, st.wDay, st.wDayOfWeek, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds}),
              std::vector<int>({2000, 2, 29, 2, 23, 59, 59, 890}));
    FILETIME start = {0, 0};  // 1601-01-01, a Monday
    ASSERT_TRUE(FileTimeToSystemTime(&start, &st));
    EXPECT_EQ(st.wYear * 10 + st.wDayOfWeek, 16011);
    FILETIME bad = {0, 0x80000000u};
    EXPECT_FALSE(FileTimeToSystemTime(&bad, &st));

    _timeb tb;
    _ftime(&tb);
    long long now = static_cast<long long>(std::time(nullptr));  // may be read from a coarser clock
    EXPECT_LE(static_cast<long long>(tb.time), now + 2);
    EXPECT_GE(static_cast<long long>(tb.time), now - 2);
    EXPECT_LT(tb.millitm, 1000);
}

// _timezone follows the zone at every _tzset: the standard-time offset in
// seconds west of UTC, whether or not the zone has summer time.
TEST(PlatformTimeZone, StandardOffsetFollowsTheZoneAtEachCall) {
    const struct {
        const char* tz;
        long west;
    } zones[] = {{"UTC0", 0}, {testsupport::kSummerZone, 18000}, {"JST-9", -32400}, {"UTC0", 0}};
    for (const auto& z : zones) {
        testsupport::ScopedTimeZone zone(z.tz);
        vorlix::win::_tzset();
        long west = _timezone;
        EXPECT_EQ(west, z.west) << z.tz;
    }
}

#if !defined(_WIN32)
// _ftime keeps the zone fields of the second it last converted: a new zone
// read by tzset shows at once, within the same second too.
TEST(PlatformTime, FtimeFollowsANewZoneAtOnce) {
    _timeb tb;
    {
        testsupport::ScopedTimeZone zone("JST-9");
        _ftime(&tb);
        EXPECT_EQ(tb.timezone, -540);
        EXPECT_EQ(tb.dstflag, 0);
    }
    testsupport::ScopedTimeZone zone("UTC0");
    _ftime(&tb);
    EXPECT_EQ(tb.timezone, 0);
    testsupport::ScopedTimeZone other("IST-5:30");  // the same daylight flag, another offset
    _ftime(&tb);
    EXPECT_EQ(tb.timezone, -330);
}
#endif

TEST(PlatformMessages, QueuesFiltersAndTheQuitFlag) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {}
    DWORD self = GetCurrentThreadId();
    ASSERT_TRUE(PostThreadMessageA(self, WM_USER + 5, 11, 22));
    ASSERT_TRUE(PostThreadMessageA(self, WM_USER + 1, 0, 0));
    PostQuitMessage(3);
    // The quit flag comes after the posted messages, and passes any filter.
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_USER + 5, WM_USER + 5, PM_NOREMOVE));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_USER + 5));
    EXPECT_EQ(msg.wParam, 11u);
    EXPECT_EQ(msg.lParam, 22);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_USER + 1, WM_USER + 1, PM_REMOVE));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_USER + 1));
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0xFFFF, PM_REMOVE));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_USER + 5));
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 1, 2, PM_REMOVE));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
    EXPECT_EQ(msg.wParam, 3u);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));

    // A thread that never asked for a queue has none to post to.
    std::atomic<DWORD> other(0);
    std::thread quiet([&other] { other = GetCurrentThreadId(); });
    quiet.join();
    EXPECT_FALSE(PostThreadMessageA(other, WM_USER, 0, 0));

#if !defined(_WIN32)
    // A queue holds at most 10,000 messages.
    int posted = 0;
    while (posted < 10001 && PostThreadMessageA(self, WM_USER, 0, 0)) ++posted;
    EXPECT_EQ(posted, 10000);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_QUOTA));
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {}
#endif
}

#if !defined(_WIN32)
namespace {
// Posts to the thread's own queue and reads the message back, from a
// thread_local destructor; *pResult gets 1 when that worked.
struct PumpAtThreadEnd {
    int* pResult = nullptr;
    ~PumpAtThreadEnd() {
        MSG msg;
        if (pResult)
            *pResult = PostThreadMessageA(GetCurrentThreadId(), WM_USER + 7, 1, 2) &&
                       PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE) && msg.message == WM_USER + 7;
    }
};
}  // namespace

// POSIX: a thread's queue serves it until its end, also in the destructors
// of thread_local objects made before the queue (so destroyed after it).
TEST(PlatformMessagesPosix, QueueServesThreadLocalDestructors) {
    int result = -1;
    std::thread([&result] {
        thread_local PumpAtThreadEnd pump;
        pump.pResult = &result;
        MSG msg;
        PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);  // the queue, made after pump
    }).join();
    EXPECT_EQ(result, 1);
}
#endif

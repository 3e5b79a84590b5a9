// The file-system, time and message services the file finder, the path
// functions and the message-pump waits rely on. Under Wine these run
// against the real services.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <map>
#include <cstring>
#include <ctime>
#include <set>
#include <string>
#include <thread>

#include "fs/fs_support.h"

#if !defined(_WIN32)
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#endif

using namespace vorlix::win;
using fstest::TempTree;
using fstest::kSep;

namespace {

// The names a search finds, and the attributes of each.
std::set<std::string> Search(const std::string& pattern, DWORD* pError = nullptr,
                             std::map<std::string, DWORD>* pAttrs = nullptr) {
    std::set<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE h = FindFirstFileA(pattern.c_str(), &data);
    if (h == INVALID_HANDLE_VALUE) {
        if (pError) *pError = GetLastError();
        return names;
    }
    do {
        names.insert(data.cFileName);
        if (pAttrs) (*pAttrs)[data.cFileName] = data.dwFileAttributes;
    } while (FindNextFileA(h, &data));
    if (pError) *pError = GetLastError();
    EXPECT_TRUE(FindClose(h));
    return names;
}

// 16-bit text for the W services (WCHAR is wchar_t on Windows, a 16-bit
// code unit elsewhere), and back.
std::u16string Wide(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }
const WCHAR* W(const std::u16string& s) { return reinterpret_cast<const WCHAR*>(s.c_str()); }
std::u16string Units(const WCHAR* s) { return std::u16string(reinterpret_cast<const char16_t*>(s)); }

}  // namespace

TEST(PlatformFind, PatternsAndTheEndOfASearch) {
    TempTree t("find");
    t.File("a.txt");
    t.File("B.TXT");
    t.File("noext");
    t.File("ab.txt.bak");
    t.Dir("sub");
    DWORD err = 0;
    EXPECT_EQ(Search(t.Path("*.*"), &err),
              (std::set<std::string>{".", "..", "a.txt", "B.TXT", "noext", "ab.txt.bak", "sub"}));
    EXPECT_EQ(err, static_cast<DWORD>(ERROR_NO_MORE_FILES));
    EXPECT_EQ(Search(t.Path("*.txt")), (std::set<std::string>{"a.txt", "B.TXT"}));
    EXPECT_EQ(Search(t.Path("?.TxT")), (std::set<std::string>{"a.txt", "B.TXT"}));
    EXPECT_EQ(Search(t.Path("no*")), (std::set<std::string>{"noext"}));
    EXPECT_EQ(Search(t.Path("noext")), (std::set<std::string>{"noext"}));
    EXPECT_EQ(Search(t.Path("sub")), (std::set<std::string>{"sub"}));

    Search(t.Path("zz*"), &err);
    EXPECT_EQ(err, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    Search(t.Path("zz"), &err);
    EXPECT_EQ(err, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    Search(t.Path("missing") + kSep + "*", &err);
    EXPECT_EQ(err, static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    Search(t.Path("missing") + kSep + "x", &err);
    EXPECT_EQ(err, static_cast<DWORD>(ERROR_PATH_NOT_FOUND));

    WIN32_FIND_DATAW wdata;
    HANDLE h = FindFirstFileW(W(Wide(t.Path("a.*"))), &wdata);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Units(wdata.cFileName), u"a.txt");
    EXPECT_FALSE(FindNextFileW(h, &wdata));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
    EXPECT_TRUE(FindClose(h));
}

TEST(PlatformFind, AttributesAndSizes) {
    TempTree t("attrs");
    t.File("f", "abc");
    t.Dir("d");
    std::map<std::string, DWORD> attrs;
    Search(t.Path("*"), nullptr, &attrs);
    EXPECT_EQ(attrs["d"] & 0x10u, 0x10u);
    EXPECT_EQ(attrs["f"] & 0x30u, 0x20u);  // archive, not a directory
    EXPECT_EQ(GetFileAttributesA(t.Path("d").c_str()) & 0x10u, 0x10u);
    EXPECT_EQ(GetFileAttributesA(t.Path("missing").c_str()), INVALID_FILE_ATTRIBUTES);

    t.File("big");
    std::error_code ec;
    std::filesystem::resize_file(t.Path("big"), (1ULL << 32) + 7, ec);
    ASSERT_FALSE(ec);
    WIN32_FIND_DATAA data;
    HANDLE h = FindFirstFileA(t.Path("big").c_str(), &data);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(data.nFileSizeHigh, 1u);
    EXPECT_EQ(data.nFileSizeLow, 7u);
    FindClose(h);

#if !defined(_WIN32)
    // The POSIX mapping of kinds, permissions and dot names.
    t.File(".hidden");
    t.File("ro");
    t.Chmod("ro", 0444);
    ASSERT_EQ(::mkfifo(t.Path("fifo").c_str(), 0644), 0);
    ASSERT_EQ(::symlink("nowhere", t.Path("dangling").c_str()), 0);
    ASSERT_EQ(::symlink("d", t.Path("todir").c_str()), 0);
    attrs.clear();
    Search(t.Path("*"), nullptr, &attrs);
    EXPECT_EQ(attrs["."], 0x10u);
    EXPECT_EQ(attrs[".."], 0x10u);
    EXPECT_EQ(attrs[".hidden"], 0x22u);
    EXPECT_EQ(attrs["ro"], 0x21u);
    EXPECT_EQ(attrs["fifo"], 0x04u);
    EXPECT_EQ(attrs["dangling"], 0x80u);
    EXPECT_EQ(attrs["todir"], 0x10u);  // through the link
    EXPECT_EQ(GetFileAttributesA(t.Path("ro").c_str()), 0x21u);
    // Exact names are case-sensitive here; wildcards are not.
    EXPECT_EQ(Search(t.Path("F")), std::set<std::string>());
    EXPECT_EQ(Search(t.Path("F*")), (std::set<std::string>{"f", "fifo"}));
#endif
}

#if !defined(_WIN32)
TEST(PlatformFind, NamesThatAreNotUtf8StayReachableInTheWideForm) {
    TempTree t("bytes");
    t.File("x\xFFy", "data");
    WIN32_FIND_DATAW data;
    std::u16string pattern = Wide(t.root()) + u"/x*";
    HANDLE h = FindFirstFileW(W(pattern), &data);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Units(data.cFileName), u"x\xDCFFy");
    FindClose(h);
    std::u16string path = Wide(t.root()) + u"/" + Units(data.cFileName);
    const WCHAR* wpath = W(path);
    EXPECT_EQ(GetFileAttributesW(wpath), 0x20u);
    HANDLE f = CreateFileW(wpath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    char buf[8];
    DWORD got = 0;
    EXPECT_TRUE(ReadFile(f, buf, sizeof buf, &got, nullptr));
    EXPECT_EQ(std::string(buf, got), "data");
    CloseHandle(f);
}
#endif

TEST(PlatformPath, FullPathNames) {
    char base[MAX_PATH];
    DWORD n = GetFullPathNameA(".", MAX_PATH, base, nullptr);
    ASSERT_GT(n, 0u);
    ASSERT_LT(n, static_cast<DWORD>(MAX_PATH));
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
    EXPECT_EQ(GetFullPathNameA(rel.c_str(), 0, nullptr, nullptr), want.size() + 1);

    WCHAR wout[MAX_PATH];
    n = GetFullPathNameW(W(Wide(rel)), MAX_PATH, wout, nullptr);
    EXPECT_EQ(Units(wout), Wide(want));

#if !defined(_WIN32)
    EXPECT_EQ(GetFullPathNameA("/x/../../y/./", MAX_PATH, out, &part), 3u);
    EXPECT_STREQ(out, "/y/");
    EXPECT_EQ(part, nullptr);
    EXPECT_EQ(GetFullPathNameA("\\\\", MAX_PATH, out, nullptr), 1u);
    EXPECT_STREQ(out, "/");
#endif
}

TEST(PlatformPath, ModuleNameAndDirectories) {
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
    WCHAR wname[2048];
    EXPECT_EQ(GetModuleFileNameW(nullptr, wname, 2048), exe.size());

    char fname[_MAX_FNAME], ext[_MAX_EXT], dir[_MAX_DIR];
    _splitpath("dir/sub\\a.b.c", nullptr, dir, fname, ext);
    EXPECT_STREQ(dir, "dir/sub\\");
    EXPECT_STREQ(fname, "a.b");
    EXPECT_STREQ(ext, ".c");
    _splitpath(".profile", nullptr, nullptr, fname, ext);
    EXPECT_STREQ(fname, "");
    EXPECT_STREQ(ext, ".profile");
    WCHAR wfname[_MAX_FNAME];
    _wsplitpath(W(u"x\\name"), nullptr, nullptr, wfname, nullptr);
    EXPECT_EQ(Units(wfname), u"name");

    char cwd[1024];
    ASSERT_NE(_getdcwd(_getdrive(), cwd, sizeof cwd), nullptr);
    EXPECT_EQ(std::filesystem::path(cwd), std::filesystem::current_path());
    EXPECT_EQ(_getdcwd(_getdrive(), cwd, 2), nullptr);  // too small

    TempTree t("mkdir");
    EXPECT_EQ(_mkdir(t.Path("new").c_str()), 0);
    EXPECT_TRUE(t.IsDir("new"));
    EXPECT_EQ(_mkdir(t.Path("new").c_str()), -1);
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(_wmkdir(W(Wide(t.Path("w")))), 0);
    EXPECT_TRUE(t.IsDir("w"));
}

TEST(PlatformTime, FileTimesAndTheClock) {
    // 2021-03-04 05:06:07.890 UTC, a Thursday.
    unsigned long long v = (1614834367ULL + 11644473600ULL) * 10000000ULL + 8900000ULL;
    FILETIME ft = {static_cast<DWORD>(v), static_cast<DWORD>(v >> 32)};
    SYSTEMTIME st;
    ASSERT_TRUE(FileTimeToSystemTime(&ft, &st));
    EXPECT_EQ(st.wYear, 2021);
    EXPECT_EQ(st.wMonth, 3);
    EXPECT_EQ(st.wDay, 4);
    EXPECT_EQ(st.wDayOfWeek, 4);
    EXPECT_EQ(st.wHour, 5);
    EXPECT_EQ(st.wMinute, 6);
    EXPECT_EQ(st.wSecond, 7);
    EXPECT_EQ(st.wMilliseconds, 890);
    FILETIME start = {0, 0};  // 1601-01-01, a Monday
    ASSERT_TRUE(FileTimeToSystemTime(&start, &st));
    EXPECT_EQ(st.wYear, 1601);
    EXPECT_EQ(st.wDayOfWeek, 1);
    FILETIME leap = {0, 0};  // 2000-02-29 23:59:59
    unsigned long long l = (951868799ULL + 11644473600ULL) * 10000000ULL;
    leap.dwLowDateTime = static_cast<DWORD>(l);
    leap.dwHighDateTime = static_cast<DWORD>(l >> 32);
    ASSERT_TRUE(FileTimeToSystemTime(&leap, &st));
    EXPECT_EQ(st.wMonth * 100 + st.wDay, 229);
    FILETIME bad = {0, 0x80000000u};
    EXPECT_FALSE(FileTimeToSystemTime(&bad, &st));

    _timeb tb;
    _ftime(&tb);
    long long now = static_cast<long long>(std::time(nullptr));
    EXPECT_LE(static_cast<long long>(tb.time), now);
    EXPECT_GE(static_cast<long long>(tb.time), now - 2);
    EXPECT_LT(tb.millitm, 1000);
}

TEST(PlatformMessages, QueuesFiltersAndTheQuitFlag) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
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
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
#endif
}

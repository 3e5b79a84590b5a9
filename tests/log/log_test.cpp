#include <gtest/gtest.h>

#include <map>
#include <string>
#include <thread>
#include <vector>

#include "fs/fs_support.h"

#if !defined(_WIN32)
#include "../../src/platform/posix/file_calls.h"

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using fstest::kSep;
using fstest::TempTree;

namespace {

template <class Ch>
struct Log;
template <>
struct Log<char> : fstest::Fs<char> {
    typedef CLogFileA File;
    typedef CLogFileMgrA Mgr;
    static std::string Header() { return ""; }
};
template <>
struct Log<unsigned short> : fstest::Fs<unsigned short> {
    typedef CLogFileU File;
    typedef CLogFileMgrU Mgr;
    static std::string Header() { return "\xFF\xFE"; }
};

template <class Ch>
class LogFile : public ::testing::Test {};
TYPED_TEST_SUITE(LogFile, fstest::Widths);

std::string Read(const std::string& path) {
    std::string out;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        char buf[4096];
        for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) out.append(buf, n);
        std::fclose(f);
    }
    return out;
}
// A directory name of its own for each width: ctest runs the tests of the
// two widths side by side in separate processes.
template <class Ch>
std::string Tag(const char* name) {
    return std::string(name) + (sizeof(Ch) == 1 ? "_a" : "_u");
}

bool IsOpen(void* h) { return API_SeekFile(h, 0, 1) >= 0; }
void Put(void* h, const std::string& s) { API_WriteFile(h, s.data(), static_cast<DWORD>(s.size())); }

// The path of a log as the library forms it for the time t.
template <class W>
std::string PathAt(const std::string& base, const char* name, int type, const MTime& t) {
    typename W::String out;
    W::File::GetLogFilePath(out, W::S(base), W::S(name), type, t);
    return W::Str(out);
}

}  // namespace

TYPED_TEST(LogFile, PathsOfEveryLayout) {
    typedef Log<TypeParam> W;
    const std::string s(1, kSep);
    const MTime t1(1999, 12, 31, 23, 59, 58), t2(2008, 3, 7, 14, 5, 9);
    EXPECT_EQ(PathAt<W>("b", "app", 1, t1), "b" + s + "app");
    EXPECT_EQ(PathAt<W>("b", "app", 2, t1), "b" + s + "991231_app");
    EXPECT_EQ(PathAt<W>("b", "app", 3, t2), "b" + s + "080307" + s + "14_app");
    EXPECT_EQ(PathAt<W>("b", "app", 4, t1), "b" + s + "1999" + s + "199912" + s + "19991231" + s + "19991231_app_23.log");
    EXPECT_EQ(PathAt<W>("b", "app", 5, t2),
              "b" + s + "2008" + s + "200803" + s + "20080307" + s + "14" + s + "05" + s + "20080307_app_140509.log");
    for (int type : {0, -1, 6, 1000}) EXPECT_EQ(PathAt<W>("b", "app", type, t1), "b" + s + "app");
    // An empty base gives a rooted path; names are taken verbatim.
    EXPECT_EQ(PathAt<W>("", "%s%d", 1, t1), s + "%s%d");
    EXPECT_EQ(PathAt<W>("b", "\xD0\xB6.txt", 2, t2), "b" + s + "080307_\xD0\xB6.txt");
}

TYPED_TEST(LogFile, CreatesFilesAndKeepsTheHandleWithinAPeriod) {
    typedef Log<TypeParam> W;
    TempTree t(Tag<TypeParam>("logfile").c_str());
    const std::string base = t.Path("logs");  // missing: made with the file
    for (int type = 1; type <= 5; ++type) {
        typename W::File f;
        MTime before = MTime::GetTickCount();
        void* h = f.OpenLogFile(W::S(base), W::S("app"), type, 0);
        MTime after = MTime::GetTickCount();
        ASSERT_NE(h, nullptr) << type;
        std::string path = W::Str(f.m_strFilePath);
        EXPECT_TRUE(path == PathAt<W>(base, "app", type, before) || path == PathAt<W>(base, "app", type, after));
        EXPECT_EQ(Read(path), W::Header()) << type;
        f.CloseLogFile();
    }

    // Layout 2: the same handle all day long, also for the name in other
    // letters, and the position is left where the caller put it.
    typename W::File f;
    void* h = f.OpenLogFile(W::S(base), W::S("day"), 2, 0);
    std::string path = W::Str(f.m_strFilePath);
    Put(h, "abc");
    API_SeekFile(h, static_cast<long>(W::Header().size()), 0);
    EXPECT_EQ(f.OpenLogFile(W::S(base), W::S("DAY"), 2, 1), h);
    Put(h, "Z");
    EXPECT_EQ(Read(path), W::Header() + "Zbc");
    EXPECT_EQ(W::Str(f.m_strLogName), "DAY");

    {  // Copies share the handle and never close it.
        typename W::File copy(f);
        EXPECT_EQ(copy.m_hFile, h);
    }
    EXPECT_TRUE(IsOpen(h));
    f.CloseLogFile();
    EXPECT_FALSE(IsOpen(h));
    EXPECT_EQ(f.m_hFile, nullptr);
    EXPECT_TRUE(f.m_strFilePath.IsEmpty());
    EXPECT_EQ(f.m_nLogType, 2);
    f.CloseLogFile();
}

TYPED_TEST(LogFile, AnExistingFileKeepsItsRecords) {
    typedef Log<TypeParam> W;
    TempTree t(Tag<TypeParam>("existing").c_str());
    t.File("app", W::Header() + "old\n");
    t.File("plain", "XYold\n");
    typename W::File f;
    void* h = f.OpenLogFile(W::S(t.root()), W::S("app"), 1, 0);
    EXPECT_EQ(API_SeekFile(h, 0, 1), static_cast<long>(W::Header().size() + 4));
    Put(h, "new\n");
    f.CloseLogFile();
    h = f.OpenLogFile(W::S(t.root()), W::S("app"), 1, 1);  // rewrites the header it has
    Put(h, "more\n");
    f.CloseLogFile();
    EXPECT_EQ(Read(t.Path("app")), W::Header() + "old\nnew\nmore\n");

    // The header goes only into the 16-bit file, and only when asked for.
    f.OpenLogFile(W::S(t.root()), W::S("plain"), 1, 0);
    f.CloseLogFile();
    EXPECT_EQ(Read(t.Path("plain")), "XYold\n");
    f.OpenLogFile(W::S(t.root()), W::S("plain"), 1, 1);
    f.CloseLogFile();
    EXPECT_EQ(Read(t.Path("plain")), sizeof(TypeParam) == 2 ? "\xFF\xFEold\n" : "XYold\n");
}

TYPED_TEST(LogFile, EachSecondHasItsOwnFileAndNoRecordIsLost) {
    typedef Log<TypeParam> W;
    TempTree t(Tag<TypeParam>("seconds").c_str());
    typename W::File f;
    std::map<std::string, std::string> written;
    std::vector<void*> handles;
    for (int i = 0; written.size() < 2 && i < 400; ++i) {
        void* h = f.OpenLogFile(W::S(t.root()), W::S("app"), 5, 0);
        ASSERT_NE(h, nullptr);
        if (handles.empty() || handles.back() != h) handles.push_back(h);
        std::string rec = std::to_string(i) + "\n";
        Put(h, rec);
        written[W::Str(f.m_strFilePath)] += rec;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(written.size(), 2u);
    ASSERT_EQ(handles.size(), 2u);
    EXPECT_FALSE(IsOpen(handles[0]));  // closed when the second changed
    for (const auto& file : written) EXPECT_EQ(Read(file.first), W::Header() + file.second);
    f.CloseLogFile();
}

TYPED_TEST(LogFile, SamePeriodMakesNoFileSystemCall) {
#if defined(_WIN32)
    GTEST_SKIP() << "counts the calls into the library's own POSIX services; Windows has its own";
#else
    typedef Log<TypeParam> W;
    TempTree t(Tag<TypeParam>("calls").c_str());
    typename W::File f;
    void* h = f.OpenLogFile(W::S(t.root()), W::S("app"), 2, 0);
    unsigned long calls = vorlix::win::posix::FileServiceCalls();
    for (int i = 0; i < 100; ++i) EXPECT_EQ(f.OpenLogFile(W::S(t.root()), W::S("app"), 2, 0), h);
    EXPECT_EQ(vorlix::win::posix::FileServiceCalls(), calls);
    f.CloseLogFile();
    EXPECT_GT(vorlix::win::posix::FileServiceCalls(), calls);  // the counter does count
#endif
}

// An open into a directory the process may not write to fails, keeps the
// path, and succeeds on the next call once the directory is writable. Root
// may write anywhere, so the check runs in a child process that drops to
// the user nobody when it runs as root.
TYPED_TEST(LogFile, AFailedOpenIsRetried) {
#if defined(_WIN32)
    GTEST_SKIP() << "directory permissions are access lists on Windows; the check needs POSIX modes";
#else
    typedef Log<TypeParam> W;
    auto body = []() -> std::string {
        std::string dir = testsupport::TempDir() + "vorlix_log_XXXXXX";
        if (!::mkdtemp(&dir[0])) return "skip: no temporary directory for this user";
        std::string err;
        auto check = [&](bool ok, const char* what) {
            if (!ok && err.empty()) err = what;
        };
        for (int type : {1, 2, 3}) {
            typename W::File f;
            ::chmod(dir.c_str(), 0555);
            check(f.OpenLogFile(W::S(dir), W::S("app"), type, 0) == nullptr, "open in a read-only directory");
            check(f.m_hFile == nullptr && W::Str(f.m_strLogName) == "app" && f.m_nLogType == type,
                  "name and layout kept");
            check(W::Str(f.m_strFilePath) == PathAt<W>(dir, "app", type, MTime::GetTickCount()), "path kept");
            ::chmod(dir.c_str(), 0755);
            void* h = f.OpenLogFile(W::S(dir), W::S("app"), type, 0);
            // Layout 3's retry does not make the day's directory: a new
            // start after CloseLogFile does.
            if (type == 3) {
                check(h == nullptr, "the retry makes no directory");
                f.CloseLogFile();
                h = f.OpenLogFile(W::S(dir), W::S("app"), type, 0);
            }
            check(h != nullptr && Read(W::Str(f.m_strFilePath)) == W::Header(), "the retry opens the file");
            f.CloseLogFile();
        }
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
        return err;
    };
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::close(fds[0]);
        std::string r;
        if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0))
            r = "skip: cannot drop root's privileges";
        else
            r = body();
        if (!r.empty() && ::write(fds[1], r.data(), r.size()) < 0) ::_exit(2);
        ::_exit(0);
    }
    ::close(fds[1]);
    std::string out;
    char buf[256];
    for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) out.append(buf, static_cast<std::size_t>(n));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    if (out.rfind("skip: ", 0) == 0) GTEST_SKIP() << out.substr(6);
    EXPECT_EQ(out, "");
#endif
}

template <class Ch>
class LogFileMgr : public ::testing::Test {};
TYPED_TEST_SUITE(LogFileMgr, fstest::Widths);

TYPED_TEST(LogFileMgr, BaseDirectoryAndEntries) {
    typedef Log<TypeParam> W;
    TempTree t(Tag<TypeParam>("mgr").c_str());
    void* h = nullptr;
    {
        typename W::Mgr m;
        EXPECT_TRUE(m.m_strBaseDir.IsEmpty());
        std::string junk = "\\ \r\n";
#if !defined(_WIN32)
        junk += "/";
#endif
        m.SetBaseLogFileDir(W::S(t.Path("a") + kSep + "b" + junk));
        EXPECT_EQ(W::Str(m.m_strBaseDir), t.Path("a") + kSep + "b");
        EXPECT_TRUE(t.IsDir("a/b"));

        h = m.OpenLogFile(W::S("app"), 2, 0);
        EXPECT_EQ(m.OpenLogFile(W::S("app"), 2, 0), h);
        EXPECT_EQ(m.m_aLogFile.GetSize(), 1);
        EXPECT_EQ(m.FindLogFile(W::S("APP"), 4, 1), 0);
        EXPECT_EQ(m.FindLogFile(W::S("APP"), 2, 0), 0);
        EXPECT_EQ(m.FindLogFile(W::S("app"), 1, 0), -1);

        // Twelve entries (grown by 10: capacity 21), moved as raw bytes.
        for (int i = 0; i < 11; ++i) m.OpenLogFile(W::S("n" + std::to_string(i)), 1, 0);
        EXPECT_EQ(m.m_aLogFile.m_nMaxSize, 21);
        EXPECT_EQ(m.FindLogFile(W::S("n10"), 1, 1), 11);
        m.CloseAllFile();
        EXPECT_EQ(m.m_aLogFile.m_nMaxSize, 0);
        EXPECT_FALSE(IsOpen(h));
        EXPECT_EQ(m.FindLogFile(W::S("app"), 2, 1), -1);

        // A base that is a file: the open fails and adds nothing.
        h = m.OpenLogFile(W::S("app"), 1, 0);
        t.File("plain");
        m.SetBaseLogFileDir(W::S(t.Path("plain")));
        EXPECT_FALSE(IsOpen(h));
        EXPECT_EQ(m.OpenLogFile(W::S("app"), 1, 0), nullptr);
        EXPECT_EQ(m.m_aLogFile.GetSize(), 0);
        m.SetBaseLogFileDir(W::S(t.root()));
        h = m.OpenLogFile(W::S("app"), 1, 0);
    }
    EXPECT_FALSE(IsOpen(h));  // closed by the destructor
}

// The 8-bit manager finds an entry by the current path, the 16-bit one by
// the name: a new layout (as a new period) makes a second entry in the one
// and moves the one entry on in the other.
TYPED_TEST(LogFileMgr, LookupByPathOrByName) {
    typedef Log<TypeParam> W;
    TempTree t(Tag<TypeParam>("lookup").c_str());
    const std::string day = PathAt<W>(t.root(), "app", 2, MTime::GetTickCount());
    t.File(day.substr(t.root().size() + 1), "XY2");
    typename W::Mgr m;
    m.SetBaseLogFileDir(W::S(t.root()));
    void* h1 = m.OpenLogFile(W::S("app"), 1, 0);
    void* h2 = m.OpenLogFile(W::S("app"), 2, 1);
    ASSERT_NE(h2, nullptr);
    EXPECT_EQ(Read(day), "XY2");  // no header: new to the 8-bit manager, found again by the 16-bit one
    if (sizeof(TypeParam) == 1) {
        EXPECT_EQ(m.m_aLogFile.GetSize(), 2);
        EXPECT_TRUE(IsOpen(h1));
        m.CloseFile(W::S("app"), 2);
        EXPECT_FALSE(IsOpen(h2));
        EXPECT_TRUE(IsOpen(h1));
        EXPECT_EQ(m.m_aLogFile.GetSize(), 1);
    } else {
        EXPECT_EQ(m.m_aLogFile.GetSize(), 1);
        EXPECT_FALSE(IsOpen(h1));
        m.CloseFile(W::S("app"), 1);  // by path: not the entry's
        EXPECT_TRUE(IsOpen(h2));
        m.CloseFile(W::S("app"), 2);
        EXPECT_EQ(m.m_aLogFile.GetSize(), 0);
    }
}

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "fs/fs_support.h"

#if !defined(_WIN32)
#include "../../src/platform/posix/file_calls.h"

#include <grp.h>
#include <unistd.h>
#endif

namespace {

// A fresh directory per test and width (ctest runs the two widths side by
// side), and the log calls with 8-bit texts.
template <class Ch>
class Log : public ::testing::Test {
protected:
    typedef fstest::Fs<Ch> W;
    typedef std::conditional_t<sizeof(Ch) == 1, CLogFileA, CLogFileU> File;
    typedef std::conditional_t<sizeof(Ch) == 1, CLogFileMgrA, CLogFileMgrU> Mgr;

    Log() : t(Tag().c_str()) {}
    static std::string Tag() {
        return std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) +
               (sizeof(Ch) == 1 ? "_a" : "_u");
    }
    static typename W::String S(const std::string& s) { return W::S(s); }
    static std::string Str(const Ch* s) { return W::Str(s); }
    static std::string Header() { return sizeof(Ch) == 2 ? "\xFF\xFE" : ""; }
    static void* Open(File& f, const std::string& base, const char* name, int type, int bNewFile = 0) {
        return f.OpenLogFile(W::S(base), W::S(name), type, bNewFile);
    }
    static std::string PathAt(const std::string& base, const char* name, int type, const MTime& tm) {
        typename W::String out;
        File::GetLogFilePath(out, W::S(base), W::S(name), type, tm);
        return W::Str(out);
    }
    fstest::TempTree t;
};
TYPED_TEST_SUITE(Log, fstest::Widths);

std::string Read(const std::string& path) {
    std::string out;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        char buf[4096];
        for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) out.append(buf, n);
        std::fclose(f);
    }
    return out;
}
bool IsOpen(void* h) { return API_SeekFile(h, 0, 1) >= 0; }
void Put(void* h, const std::string& s) { API_WriteFile(h, s.data(), static_cast<DWORD>(s.size())); }

}  // namespace

TYPED_TEST(Log, PathsOfEveryLayout) {
    const std::string s(1, fstest::kSep);
    const MTime t1(1999, 12, 31, 23, 59, 58), t2(2008, 3, 7, 14, 5, 9);
    EXPECT_EQ(this->PathAt("b", "app", 2, t1), "b" + s + "991231_app");
    EXPECT_EQ(this->PathAt("b", "app", 3, t2), "b" + s + "080307" + s + "14_app");
    EXPECT_EQ(this->PathAt("b", "app", 4, t1),
              "b" + s + "1999" + s + "199912" + s + "19991231" + s + "19991231_app_23.log");
    EXPECT_EQ(this->PathAt("b", "app", 5, t2),
              "b" + s + "2008" + s + "200803" + s + "20080307" + s + "14" + s + "05" + s + "20080307_app_140509.log");
    for (int type : {1, 0, -1, 6}) EXPECT_EQ(this->PathAt("b", "app", type, t1), "b" + s + "app");
    // An empty base gives a rooted path; names are taken verbatim.
    EXPECT_EQ(this->PathAt("", "%s%d", 1, t1), s + "%s%d");
    EXPECT_EQ(this->PathAt("b", "\xD0\xB6.txt", 2, t2), "b" + s + "080307_\xD0\xB6.txt");
}

TYPED_TEST(Log, CreatesFilesAndKeepsTheHandleWithinAPeriod) {
    const std::string base = this->t.Path("logs");  // missing: made with the file
    for (int type = 1; type <= 5; ++type) {
        typename TestFixture::File f;
        MTime before = MTime::GetTickCount();
        ASSERT_NE(this->Open(f, base, "app", type), nullptr) << type;
        std::string path = this->Str(f.m_strFilePath);
        EXPECT_TRUE(path == this->PathAt(base, "app", type, before) ||
                    path == this->PathAt(base, "app", type, MTime::GetTickCount()));
        EXPECT_EQ(Read(path), this->Header()) << type;
        f.CloseLogFile();
    }

    // Layout 2: the same handle all day, also for the name in other letters,
    // with no header and the position left where the caller put it.
    typename TestFixture::File f;
    void* h = this->Open(f, base, "day", 2);
    Put(h, "abc");
    API_SeekFile(h, static_cast<long>(this->Header().size()), 0);
    EXPECT_EQ(this->Open(f, base, "DAY", 2, 1), h);
    Put(h, "Z");
    EXPECT_EQ(Read(this->Str(f.m_strFilePath)), this->Header() + "Zbc");
    { typename TestFixture::File copy(f); }  // a copy goes: the file stays open
    EXPECT_TRUE(IsOpen(h));
    f.CloseLogFile();
    EXPECT_FALSE(IsOpen(h));
    EXPECT_TRUE(f.m_hFile == nullptr && f.m_strFilePath.IsEmpty() && f.m_nLogType == 2);
    f.CloseLogFile();
}

TYPED_TEST(Log, AnExistingFileKeepsItsRecords) {
    const std::string& base = this->t.root();
    this->t.File("app", this->Header() + "old\n");
    this->t.File("plain", "XYold\n");
    typename TestFixture::File f;
    void* h = this->Open(f, base, "app", 1);
    EXPECT_EQ(API_SeekFile(h, 0, 1), static_cast<long>(this->Header().size() + 4));
    Put(h, "new\n");
    f.CloseLogFile();
    Put(this->Open(f, base, "app", 1, 1), "more\n");  // rewrites the header it has
    f.CloseLogFile();
    EXPECT_EQ(Read(this->t.Path("app")), this->Header() + "old\nnew\nmore\n");

    // The header goes only into the 16-bit file, and only when asked for.
    this->Open(f, base, "plain", 1);
    f.CloseLogFile();
    EXPECT_EQ(Read(this->t.Path("plain")), "XYold\n");
    this->Open(f, base, "plain", 1, 1);
    f.CloseLogFile();
    EXPECT_EQ(Read(this->t.Path("plain")), sizeof(TypeParam) == 2 ? "\xFF\xFEold\n" : "XYold\n");
}

TYPED_TEST(Log, EachSecondHasItsOwnFileAndNoRecordIsLost) {
    typename TestFixture::File f;
    std::map<std::string, std::string> written;
    std::vector<void*> handles;
    for (int i = 0; written.size() < 2 && i < 400; ++i) {
        void* h = this->Open(f, this->t.root(), "app", 5);
        ASSERT_NE(h, nullptr);
        if (handles.empty() || handles.back() != h) handles.push_back(h);
        Put(h, std::to_string(i) + "\n");
        written[this->Str(f.m_strFilePath)] += std::to_string(i) + "\n";
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(handles.size(), 2u);
    EXPECT_FALSE(IsOpen(handles[0]));  // closed when the second changed
    for (const auto& file : written) EXPECT_EQ(Read(file.first), this->Header() + file.second);
    f.CloseLogFile();
}

TYPED_TEST(Log, SamePeriodMakesNoFileSystemCall) {
#if defined(_WIN32)
    GTEST_SKIP() << "counts the calls into the library's own POSIX services; Windows has its own";
#else
    typename TestFixture::File f;
    void* h = this->Open(f, this->t.root(), "app", 2);
    unsigned long calls = vorlix::win::posix::FileServiceCalls();
    for (int i = 0; i < 100; ++i) EXPECT_EQ(this->Open(f, this->t.root(), "app", 2), h);
    EXPECT_EQ(vorlix::win::posix::FileServiceCalls(), calls);
    f.CloseLogFile();
    EXPECT_GT(vorlix::win::posix::FileServiceCalls(), calls);  // the counter does count
#endif
}

// An open into a directory the process may not write to fails, keeps the
// path, and succeeds on the next call once the directory is writable. Root
// writes anywhere, so the check runs in a child process that drops to the
// user nobody when it runs as root; exit code 77 means it could not.
TYPED_TEST(Log, AFailedOpenIsRetried) {
#if defined(_WIN32)
    GTEST_SKIP() << "directory permissions are access lists on Windows; the check needs POSIX modes";
#else
    auto child = [this] {
        if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(77);
        std::string dir = testsupport::TempDir() + "vorlix_log_XXXXXX";
        if (!::mkdtemp(&dir[0])) ::_exit(77);
        auto check = [&](bool ok, const char* what) {
            if (ok) return;
            std::fprintf(stderr, "%s\n", what);
            ::_exit(1);
        };
        for (int type : {1, 2, 3}) {
            typename TestFixture::File f;
            ::chmod(dir.c_str(), 0555);
            check(this->Open(f, dir, "app", type) == nullptr, "opened in a read-only directory");
            check(f.m_hFile == nullptr && f.m_nLogType == type && this->Str(f.m_strLogName) == "app" &&
                      this->Str(f.m_strFilePath) == this->PathAt(dir, "app", type, MTime::GetTickCount()),
                  "the name, layout and path are kept");
            ::chmod(dir.c_str(), 0755);
            void* h = this->Open(f, dir, "app", type);
            if (type == 3) {
                // The retry makes no directory; a new start does.
                check(h == nullptr, "the retry made the day's directory");
                f.CloseLogFile();
                h = this->Open(f, dir, "app", type);
            }
            check(h != nullptr && Read(this->Str(f.m_strFilePath)) == this->Header(), "the retry failed");
            f.CloseLogFile();
        }
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
        ::_exit(0);
    };
    int code = -1;
    EXPECT_EXIT(
        child(),
        [&](int status) {
            code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            return code == 0 || code == 77;
        },
        "");
    if (code == 77) GTEST_SKIP() << "cannot drop root's privileges or make a directory as nobody";
#endif
}

TYPED_TEST(Log, ManagerBaseDirectoryAndEntries) {
    void* h = nullptr;
    {
        typename TestFixture::Mgr m;
        EXPECT_TRUE(m.m_strBaseDir.IsEmpty());
        const std::string dir = this->t.Path("a") + fstest::kSep + "b";
        m.SetBaseLogFileDir(this->S(dir + (fstest::kSep == '/' ? "\\ \r\n/" : "\\ \r\n")));
        EXPECT_EQ(this->Str(m.m_strBaseDir), dir);
        EXPECT_TRUE(this->t.IsDir("a/b"));

        h = m.OpenLogFile(this->S("app"), 2, 0);
        EXPECT_EQ(m.OpenLogFile(this->S("app"), 2, 0), h);
        EXPECT_EQ(m.FindLogFile(this->S("APP"), 4, 1), 0);
        EXPECT_EQ(m.FindLogFile(this->S("APP"), 2, 0), 0);
        EXPECT_EQ(m.FindLogFile(this->S("app"), 1, 0), -1);

        // Twelve entries (grown by 10: capacity 21), moved as raw bytes.
        for (int i = 0; i < 11; ++i) m.OpenLogFile(this->S("n" + std::to_string(i)), 1, 0);
        EXPECT_EQ(m.m_aLogFile.m_nMaxSize, 21);
        EXPECT_EQ(m.FindLogFile(this->S("n10"), 1, 1), 11);
        m.CloseAllFile();
        EXPECT_EQ(m.m_aLogFile.m_nMaxSize, 0);
        EXPECT_FALSE(IsOpen(h));

        // A base that is a file: opens fail and add nothing.
        h = m.OpenLogFile(this->S("app"), 1, 0);
        this->t.File("plain");
        m.SetBaseLogFileDir(this->S(this->t.Path("plain")));
        EXPECT_FALSE(IsOpen(h));
        EXPECT_EQ(m.OpenLogFile(this->S("app"), 1, 0), nullptr);
        EXPECT_EQ(m.m_aLogFile.GetSize(), 0);
        m.SetBaseLogFileDir(this->S(this->t.root()));
        h = m.OpenLogFile(this->S("app"), 1, 0);
    }
    EXPECT_FALSE(IsOpen(h));  // closed by the destructor
}

// The 8-bit manager finds an entry by the current path, the 16-bit one by
// the name: a new layout (as a new period) makes a second entry in the one
// and moves the one entry on in the other.
TYPED_TEST(Log, ManagerLooksUpByPathOrByName) {
    const std::string day = this->PathAt(this->t.root(), "app", 2, MTime::GetTickCount());
    this->t.File(day.substr(this->t.root().size() + 1), "XY2");
    typename TestFixture::Mgr m;
    m.SetBaseLogFileDir(this->S(this->t.root()));
    void* h1 = m.OpenLogFile(this->S("app"), 1, 0);
    void* h2 = m.OpenLogFile(this->S("app"), 2, 1);
    ASSERT_NE(h2, nullptr);
    EXPECT_EQ(Read(day), "XY2");  // no header: new to the 8-bit manager, found again by the 16-bit one
    const bool byPath = sizeof(TypeParam) == 1;
    EXPECT_EQ(m.m_aLogFile.GetSize(), byPath ? 2 : 1);
    EXPECT_EQ(IsOpen(h1), byPath);
    m.CloseFile(this->S("app"), 1);  // the 16-bit entry's path is not this one
    EXPECT_EQ(m.m_aLogFile.GetSize(), 1);
    EXPECT_TRUE(IsOpen(h2));
    m.CloseFile(this->S("app"), 2);
    EXPECT_EQ(m.m_aLogFile.GetSize(), 0);
    EXPECT_FALSE(IsOpen(h2));
}

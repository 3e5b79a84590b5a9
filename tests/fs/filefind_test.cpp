#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "fs/fs_support.h"
#include "util/zone.h"

using fstest::Fs;
using fstest::TempTree;
using fstest::kSep;

namespace {

template <class Ch>
class FileFind : public ::testing::Test {
protected:
    typedef Fs<Ch> W;
    typedef typename W::Finder Finder;
    static std::string Name(const Finder& f) { return W::Str(f.GetFileName()); }
};
TYPED_TEST_SUITE(FileFind, fstest::Widths);

}  // namespace

TYPED_TEST(FileFind, FindNextMakesTheFetchedEntryCurrentUntilTheEnd) {
    typedef typename TestFixture::W W;
    TempTree t("protocol");
    t.File("a.txt", "12345");
    t.File("noext");
    t.File(".profile");
    t.Dir("sub");

    typename TestFixture::Finder find;
    ASSERT_EQ(find.FindFile(W::S(t.Path("*.*"))), 1);
    EXPECT_EQ(this->Name(find), "");  // nothing current before the first FindNext
    EXPECT_EQ(find.GetLength(), 0u);
    EXPECT_EQ(find.IsDirectory(), 0);
    // Copies take the root and start closed; the search stays with find.
    typename TestFixture::Finder copy(find), other;
    EXPECT_EQ(W::Str(copy.GetRoot()), t.root());
    EXPECT_EQ(copy.FindNext(), 0);
    ASSERT_EQ(other.FindFile(W::S(t.Path("a.txt"))), 1);
    other = find;
    EXPECT_EQ(other.FindNext(), 0);
    EXPECT_EQ(this->Name(other), "");

    std::set<std::string> names, dots;
    std::string last;
    for (int more = 1; more;) {
        more = find.FindNext();
        last = this->Name(find);
        names.insert(last);
        if (find.IsDots()) dots.insert(last);
        if (last == ".profile") {
            EXPECT_EQ(W::Str(find.GetFileTitle()), "");
        }
        if (last == "sub") {
            EXPECT_EQ(find.IsDirectory(), 1);
        }
    }
    EXPECT_EQ(names, (std::set<std::string>{".", "..", ".profile", "a.txt", "noext", "sub"}));
    EXPECT_EQ(dots, (std::set<std::string>{".", ".."}));
    // Past the end: still 0, and the last entry stays current.
    EXPECT_EQ(find.FindNext(), 0);
    EXPECT_EQ(find.FindNext(), 0);
    EXPECT_EQ(this->Name(find), last);
    find.Close();
    EXPECT_EQ(this->Name(find), "");
    EXPECT_EQ(W::Str(find.GetRoot()), t.root());  // the root stays
}

TYPED_TEST(FileFind, PathTitleAndUrlComeFromTheRoot) {
    typedef typename TestFixture::W W;
    TempTree t("names");
    t.File("a.txt", "12345");
    t.File("b.log");
    typename TestFixture::Finder find;
    ASSERT_EQ(find.FindFile(W::S(t.Path("*.TXT"))), 1);  // wildcards ignore case
    EXPECT_EQ(find.FindNext(), 0);                       // the only match
    EXPECT_EQ(this->Name(find), "a.txt");
    EXPECT_EQ(W::Str(find.GetRoot()), t.root());
    std::string path = t.root() + kSep + "a.txt";
    EXPECT_EQ(W::Str(find.GetFilePath()), path);
    EXPECT_EQ(W::Str(find.GetFileTitle()), "a");
    EXPECT_EQ(W::Str(find.GetFileURL()), "file://" + path);
    EXPECT_EQ(find.GetLength(), 5u);
    EXPECT_EQ(find.IsArchived(), 1);
    EXPECT_EQ(find.IsNormal(), 0);  // the archive bit is set, so "normal" is not
}

TYPED_TEST(FileFind, RootsOfTheCurrentAndTheTopDirectory) {
    typedef typename TestFixture::W W;
    TempTree t("cwd");
    t.File("only");
    typename TestFixture::Finder find;
    {
        fstest::CwdGuard cwd(t.root());
        ASSERT_EQ(find.FindFile(nullptr), 1);  // "*.*" here
        EXPECT_EQ(W::Str(find.GetRoot()), std::filesystem::current_path().string());
    }
#if defined(_WIN32)
    const std::string pattern = "C:\\*.*", root = "C:", prefix = "C:\\";
#else
    const std::string pattern = "/*", root = "/", prefix = "/";
#endif
    ASSERT_EQ(find.FindFile(W::S(pattern)), 1);
    EXPECT_EQ(W::Str(find.GetRoot()), root);
    find.FindNext();
    std::string name = this->Name(find);
    ASSERT_FALSE(name.empty());
    EXPECT_EQ(W::Str(find.GetFilePath()), prefix + name);
}

TYPED_TEST(FileFind, FailureClosesKeepsTheRootAndTheErrorCode) {
    typedef typename TestFixture::W W;
    TempTree t("fail");
    t.File("x");
    typename TestFixture::Finder find;
    ASSERT_EQ(find.FindFile(W::S(t.Path("*"))), 1);
    ASSERT_EQ(find.FindNext(), 1);

    EXPECT_EQ(find.FindFile(W::S(t.Path("missing" + std::string(1, kSep) + "*"))), 0);
    EXPECT_EQ(vorlix::win::GetLastError(), 3u);  // no such directory
    EXPECT_EQ(find.FindNext(), 0);
    EXPECT_EQ(this->Name(find), "");
    EXPECT_EQ(W::Str(find.GetRoot()), t.root());

    EXPECT_EQ(find.FindFile(W::S(t.Path("zz*"))), 0);
    EXPECT_EQ(vorlix::win::GetLastError(), 2u);  // nothing matched

    // A directory whose full path does not fit MAX_PATH characters.
    std::string deep = std::string(90, 'd') + kSep + std::string(90, 'e') + kSep + std::string(90, 'f');
    t.Dir(deep);
    t.File(deep + kSep + "in");
    EXPECT_EQ(find.FindFile(W::S(t.Path(deep + kSep + "*"))), 0);
    EXPECT_EQ(find.FindNext(), 0);
    EXPECT_EQ(W::Str(find.GetRoot()), t.root());
#if !defined(_WIN32)
    EXPECT_EQ(vorlix::win::GetLastError(), static_cast<DWORD>(vorlix::win::ERROR_FILENAME_EXCED_RANGE));
#endif
}

TYPED_TEST(FileFind, TimeStampsAreTheirUtcFieldsReadAsLocalTime) {
    typedef typename TestFixture::W W;
#if !defined(_WIN32)
    testsupport::ScopedTimeZone zone("JST-9");  // a zone other than UTC, where reading the fields as local time shows
#endif
    TempTree t("times");
    t.File("t.txt");
    ASSERT_TRUE(fstest::SetTimes(t.Path("t.txt"), 1577934245 /* 2020-01-02 03:04:05 UTC */,
                                 1614834367 /* 2021-03-04 05:06:07 UTC */));
    typename TestFixture::Finder find;
    MTime before(42);
    EXPECT_EQ(find.GetLastWriteTime(before), 0);  // no current entry
    EXPECT_EQ(before.GetTime(), 42);

    ASSERT_EQ(find.FindFile(W::S(t.Path("t.txt"))), 1);
    find.FindNext();
    MTime write, writeP, access, accessP, created;
    EXPECT_EQ(find.GetLastWriteTime(write) + find.GetLastWriteTime(&writeP) + find.GetLastAccessTime(access) +
                  find.GetLastAccessTime(&accessP) + find.GetCreationTime(created),
              5);
    EXPECT_EQ(find.GetCreationTime(static_cast<MTime*>(nullptr)), 0);
    EXPECT_EQ(write, MTime(2021, 3, 4, 5, 6, 7, -1));
    EXPECT_EQ(access, MTime(2020, 1, 2, 3, 4, 5, -1));
    EXPECT_TRUE(writeP == write && accessP == access);
#if !defined(_WIN32)
    EXPECT_EQ(write.GetTime(), 1614834367L - 9 * 3600);
#endif
}

TYPED_TEST(FileFind, SizesOfFourGigabytesAndMore) {
    typedef typename TestFixture::W W;
    TempTree t("attrs");
    t.File("big");
    std::error_code ec;
    std::filesystem::resize_file(t.Path("big"), 5ULL << 30, ec);  // sparse: takes no space
    ASSERT_FALSE(ec) << ec.message();
    typename TestFixture::Finder find;
    ASSERT_EQ(find.FindFile(W::S(t.Path("big"))), 1);
    find.FindNext();
    EXPECT_EQ(find.GetLength64(), 5LL << 30);
    EXPECT_EQ(find.GetLength(), 1UL << 30);  // the low 32 bits
}

namespace {
// A finder that names every entry alike.
template <class Ch>
class Renamed : public Fs<Ch>::Finder {
public:
    typename Fs<Ch>::String GetFileName() const override { return Fs<Ch>::S("renamed.tar.gz"); }
};
}  // namespace

TYPED_TEST(FileFind, MembersCallEachOtherThroughTheirVirtualSlots) {
    typedef typename TestFixture::W W;
    Renamed<TypeParam> find;
    EXPECT_EQ(W::Str(find.GetFilePath()), "renamed.tar.gz");  // an empty root adds nothing
    EXPECT_EQ(W::Str(find.GetFileTitle()), "renamed.tar");
    EXPECT_EQ(W::Str(find.GetFileURL()), "file://renamed.tar.gz");
}

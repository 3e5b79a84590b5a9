// The file finder: the FindFile/FindNext protocol, what it tells of each
// entry, its roots, its failures and its time stamps, in both widths.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "fs/fs_support.h"
#include "util/zone.h"

using fstest::Fs;
using fstest::kSep;

namespace {

template <class Ch>
class FileFind : public ::testing::Test {
protected:
    typedef Fs<Ch> W;
    typedef typename W::Finder Finder;
    static std::string Name(const Finder& f) { return W::Str(f.GetFileName()); }
    // What the finder tells of its current entry: the name, then for all but
    // "." and ".." its title, the directory and archive/normal bits and, for
    // files, the size in 64 and in 32 bits. Path and URL follow the root.
    std::string Entry(const Finder& f) const {
        const std::string name = Name(f), path = t.root() + kSep + name;
        EXPECT_EQ(W::Str(f.GetFilePath()), path);
        EXPECT_EQ(W::Str(f.GetFileURL()), "file://" + path);
        if (f.IsDots()) return name + " dots";
        std::string out = name + " title=" + W::Str(f.GetFileTitle()) + " dir=" + std::to_string(f.IsDirectory()) +
                          " archived=" + std::to_string(f.IsArchived()) + " normal=" + std::to_string(f.IsNormal());
        if (f.IsDirectory()) return out;
        return out + " size=" + std::to_string(f.GetLength64()) + "/" + std::to_string(f.GetLength());
    }
    fstest::TempTree t{"find"};
};
TYPED_TEST_SUITE(FileFind, fstest::Widths);

}  // namespace

TYPED_TEST(FileFind, FindNextMakesEachEntryCurrentUntilTheEnd) {
    typedef typename TestFixture::W W;
    fstest::TempTree& t = this->t;
    t.File("a.txt", "12345");
    t.File("noext");
    t.File(".profile");
    t.File("big");
    t.Dir("sub");
    std::error_code ec;
    std::filesystem::resize_file(t.Path("big"), 5ULL << 30, ec);  // sparse: takes no space
    ASSERT_FALSE(ec) << ec.message();

    // Wildcards ignore case; the only match comes with the result 0.
    typename TestFixture::Finder find, other;
    ASSERT_EQ(other.FindFile(W::S(t.Path("*.TXT"))), 1);
    EXPECT_EQ(other.FindNext(), 0);
    EXPECT_EQ(this->Name(other), "a.txt");

    ASSERT_EQ(find.FindFile(W::S(t.Path("*.*"))), 1);
    EXPECT_EQ(this->Name(find), "");  // nothing current before the first FindNext
    EXPECT_EQ(find.GetLength(), 0u);
    EXPECT_EQ(find.IsDirectory(), 0);
    // Copies take the root and start closed; the search stays with find.
    typename TestFixture::Finder copy(find);
    EXPECT_EQ(W::Str(copy.GetRoot()), t.root());
    EXPECT_EQ(copy.FindNext(), 0);
    other = find;
    EXPECT_EQ(other.FindNext(), 0);
    EXPECT_EQ(this->Name(other), "");

    std::set<std::string> entries;
    std::string last;
    for (int more = 1; more;) {
        more = find.FindNext();
        last = this->Name(find);
        entries.insert(this->Entry(find));
    }
    // The archive bit is set on files, so "normal" is not; a name that is all
    // extension has an empty title; sizes past 4 GiB keep their low 32 bits.
    const std::set<std::string> expected = {
        ". dots",
        ".. dots",
        ".profile title= dir=0 archived=1 normal=0 size=0/0",
        "a.txt title=a dir=0 archived=1 normal=0 size=5/5",
        "big title=big dir=0 archived=1 normal=0 size=5368709120/1073741824",
        "noext title=noext dir=0 archived=1 normal=0 size=0/0",
        "sub title=sub dir=1 archived=0 normal=0",
    };
    EXPECT_EQ(entries, expected);
    // Past the end: still 0, and the last entry stays current.
    EXPECT_EQ(find.FindNext(), 0);
    EXPECT_EQ(find.FindNext(), 0);
    EXPECT_EQ(this->Name(find), last);
    find.Close();
    EXPECT_EQ(this->Name(find), "");
    EXPECT_EQ(W::Str(find.GetRoot()), t.root());  // the root stays
}

TYPED_TEST(FileFind, RootsOfTheCurrentAndTheTopDirectory) {
    typedef typename TestFixture::W W;
    this->t.File("only");
    typename TestFixture::Finder find;
    {
        fstest::CwdGuard cwd(this->t.root());
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
    fstest::TempTree& t = this->t;
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
    const fstest::TempTree& t = this->t;
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

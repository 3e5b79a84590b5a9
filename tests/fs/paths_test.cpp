// Directory chains, the directory and file tests and the module path, in
// both widths.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "fs/fs_support.h"

using fstest::kSep;

namespace {

template <class Ch>
class Paths : public ::testing::Test {
protected:
    typedef fstest::Fs<Ch> W;
    // The tree's path of a relative path written with "/", in the
    // platform's separators.
    std::string Native(std::string rel) const {
        for (char& c : rel)
            if (c == '/') c = kSep;
        return t.Path(rel);
    }
    fstest::TempTree t{"paths"};
};
TYPED_TEST_SUITE(Paths, fstest::Widths);

}  // namespace

TYPED_TEST(Paths, MakeDirectoryCreatesEachMissingLevel) {
    typedef typename TestFixture::W W;
    fstest::TempTree& t = this->t;
    EXPECT_EQ(W::MakeDirectory(W::S(this->Native("a/b/c")), 0), 1);
    EXPECT_TRUE(t.IsDir("a/b/c"));

    // The last part is a file name: the levels above it only.
    EXPECT_EQ(W::MakeDirectory(W::S(this->Native("d/e/x.log")), 1), 1);
    EXPECT_TRUE(t.IsDir("d/e"));
    EXPECT_FALSE(t.Exists("d/e/x.log"));

    // Mixed and repeated separators, and levels that exist already.
    EXPECT_EQ(W::MakeDirectory(W::S(t.root() + "/a\\b//f/"), 0), 1);
    EXPECT_TRUE(t.IsDir("a/b/f"));

    // A level that is a file stops the chain; the levels before it stay.
    t.File("a/file");
    EXPECT_EQ(W::MakeDirectory(W::S(this->Native("g/h/../../a/file/z")), 0), 0);
    EXPECT_TRUE(t.IsDir("g/h"));
    EXPECT_FALSE(t.Exists("a/file/z"));
#if !defined(_WIN32)
    // Names match exactly: "Logs" is not the existing "logs".
    t.Dir("logs");
    EXPECT_EQ(W::MakeDirectory(W::S(t.Path("Logs")), 0), 1);
    EXPECT_TRUE(t.IsDir("Logs"));
#endif
}

TYPED_TEST(Paths, RelativeAndRootedPaths) {
    typedef typename TestFixture::W W;
    fstest::TempTree& t = this->t;
    {
        fstest::CwdGuard cwd(t.root());
        EXPECT_EQ(W::MakeDirectory(W::S("x/y"), 0), 1);
        EXPECT_EQ(W::MakeDirectory(W::S("p\\q\\file.txt"), 1), 1);
#if defined(_WIN32)
        // "/" does not root a path on Windows: this is relative too.
        EXPECT_EQ(W::MakeDirectory(W::S("/r"), 0), 1);
        EXPECT_TRUE(t.IsDir("r"));
        EXPECT_EQ(W::MakeDirectory(W::S("C:\\"), 0), 1);  // nothing to create
#else
        EXPECT_EQ(W::MakeDirectory(W::S("/"), 0), 1);
        EXPECT_EQ(W::MakeDirectory(W::S("\\"), 1), 1);
#endif
        EXPECT_EQ(W::MakeDirectory(W::S(""), 0), 1);
        EXPECT_EQ(W::MakeDirectory(W::S("only.txt"), 1), 1);
    }
    EXPECT_TRUE(t.IsDir("x/y"));
    EXPECT_TRUE(t.IsDir("p/q"));
    EXPECT_FALSE(t.Exists("p/q/file.txt"));
    EXPECT_FALSE(t.Exists("only.txt"));

    // A path rooted with either separator starts at the top (POSIX), or at
    // the root of the current drive (Windows, "\" only).
    std::string rooted = t.root();
#if defined(_WIN32)
    fstest::CwdGuard onTheSameDrive(t.root());
    rooted = rooted.substr(2);  // without "C:"
#else
    for (char& c : rooted)
        if (c == '/') c = '\\';
#endif
    EXPECT_EQ(W::MakeDirectory(W::S(rooted + "\\s\\t"), 0), 1);
    EXPECT_TRUE(t.IsDir("s/t"));
}

TYPED_TEST(Paths, IsDirectoryAndIsFile) {
    typedef typename TestFixture::W W;
    this->t.File("f.txt", "x");
    this->t.Dir("d");
    for (const char* name : {"d", "f.txt", "missing"}) {
        EXPECT_EQ(W::IsDirectory(W::S(this->t.Path(name))), name[0] == 'd' ? 1 : 0) << name;
        EXPECT_EQ(W::IsFile(W::S(this->t.Path(name))), name[0] == 'f' ? 1 : 0) << name;
    }
    testsupport::WarningCounter warnings;
    EXPECT_EQ(W::IsFile(nullptr), 0);
    EXPECT_EQ(warnings.count(), 1);
}

TYPED_TEST(Paths, ModulePathIsTheProgramsDirectoryWithItsSeparator) {
    typedef typename TestFixture::W W;
#if defined(_WIN32)
    char name[MAX_PATH];
    std::string exe(name, ::GetModuleFileNameA(nullptr, name, MAX_PATH));
#else
    std::string exe = std::filesystem::canonical("/proc/self/exe").string();
#endif
    const auto* first = W::ModulePath();
    std::string path = W::Str(first);
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(path, exe.substr(0, exe.find_last_of(kSep) + 1));
    EXPECT_EQ(W::ModulePath(), first);  // kept, not computed again

    typename W::String ini;
    W::DefaultFilePath(ini, W::S("x.ini"));
    EXPECT_EQ(W::Str(ini), path + "x.ini");
}

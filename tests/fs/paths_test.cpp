#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "fs/fs_support.h"

using fstest::Fs;
using fstest::TempTree;
using fstest::kSep;

namespace {

template <class Ch>
class Paths : public ::testing::Test {
protected:
    typedef Fs<Ch> W;
};
TYPED_TEST_SUITE(Paths, fstest::Widths);

std::string Join(std::initializer_list<const char*> parts) {
    std::string out;
    for (const char* p : parts) out += (out.empty() ? "" : std::string(1, kSep)) + p;
    return out;
}

}  // namespace

TYPED_TEST(Paths, MakeDirectoryCreatesEachMissingLevel) {
    typedef typename TestFixture::W W;
    TempTree t("mkdir");
    EXPECT_EQ(W::MakeDirectory(W::S(t.Path(Join({"a", "b", "c"}))), 0), 1);
    EXPECT_TRUE(t.IsDir(Join({"a", "b", "c"})));

    // The last part is a file name: the levels above it only.
    EXPECT_EQ(W::MakeDirectory(W::S(t.Path(Join({"d", "e", "x.log"}))), 1), 1);
    EXPECT_TRUE(t.IsDir(Join({"d", "e"})));
    EXPECT_FALSE(t.Exists(Join({"d", "e", "x.log"})));

    // Mixed and repeated separators, and levels that exist already.
    EXPECT_EQ(W::MakeDirectory(W::S(t.root() + "/a\\b//f/"), 0), 1);
    EXPECT_TRUE(t.IsDir(Join({"a", "b", "f"})));

    // A level that is a file stops the chain; the levels before it stay.
    t.File(Join({"a", "file"}));
    EXPECT_EQ(W::MakeDirectory(
                  W::S(t.Path(Join({"g", "h"})) + kSep + ".." + kSep + ".." + kSep + Join({"a", "file", "z"})), 0),
              0);
    EXPECT_TRUE(t.IsDir(Join({"g", "h"})));
    EXPECT_FALSE(t.Exists(Join({"a", "file", "z"})));
#if !defined(_WIN32)
    // Names match exactly: "Logs" is not the existing "logs".
    t.Dir("logs");
    EXPECT_EQ(W::MakeDirectory(W::S(t.Path("Logs")), 0), 1);
    EXPECT_TRUE(t.IsDir("Logs"));
#endif
}

TYPED_TEST(Paths, RelativeAndRootedPaths) {
    typedef typename TestFixture::W W;
    TempTree t("relative");
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
    EXPECT_TRUE(t.IsDir(Join({"x", "y"})));
    EXPECT_TRUE(t.IsDir(Join({"p", "q"})));
    EXPECT_FALSE(t.Exists(Join({"p", "q", "file.txt"})));
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
    EXPECT_TRUE(t.IsDir(Join({"s", "t"})));
}

TYPED_TEST(Paths, IsDirectoryAndIsFile) {
    typedef typename TestFixture::W W;
    TempTree t("tests");
    t.File("f.txt", "x");
    t.Dir("d");
    EXPECT_EQ(W::IsDirectory(W::S(t.Path("d"))), 1);
    EXPECT_EQ(W::IsFile(W::S(t.Path("d"))), 0);
    EXPECT_EQ(W::IsDirectory(W::S(t.Path("f.txt"))), 0);
    EXPECT_EQ(W::IsFile(W::S(t.Path("f.txt"))), 1);
    EXPECT_EQ(W::IsDirectory(W::S(t.Path("missing"))), 0);
    EXPECT_EQ(W::IsFile(W::S(t.Path("missing"))), 0);
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

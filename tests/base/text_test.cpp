// Tokens, split words, path parts and number parsing.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "support.h"

using testsupport::U;
using testsupport::Units;

namespace {

// Items joined by "|": "text" for words and "text#index" for separators.
std::string Tokens(const char* text, const char* seps, int opt = 3, int len = -1, long pos = 0) {
    std::string out;
    MString tok;
    int index = 99;
    long prev = pos;
    while ((pos = Byte_GetTokenOpt(text, pos, tok, seps, index, len, opt)) >= 0) {
        EXPECT_GT(pos, prev);
        prev = pos;
        out += (out.empty() ? "" : "|") + std::string(tok, tok.GetLength());
        if (index >= 0) out += "#" + std::to_string(index);
    }
    EXPECT_TRUE(tok.IsEmpty());
    EXPECT_EQ(index, -1);
    return out;
}

// Words joined by "|", with their count checked against the return value.
std::string Split(const char* text, const char* seps, long pos = 0) {
    MStringArray ary;
    ary.Add("junk");
    int n = Byte_GetSplitToken(text, pos, seps, ary);
    EXPECT_EQ(n, ary.GetSize());
    std::string out;
    for (int i = 0; i < ary.GetSize(); ++i) out += (i ? "|" : "") + std::string(ary[i], ary[i].GetLength());
    return ary.GetSize() ? out : "<none>";
}

std::string Part(const char* path, int part) {
    MString out = "junk";
    Byte_GetPathPart(path, out, part);
    return std::string(out, out.GetLength());
}

}  // namespace

TEST(TextToken, Items) {
    struct {
        const char *text, *seps;
        int opt, len;
        long pos;
        const char* want;
    } cases[] = {
        {"ab=c,,d", "=,", 3, -1, 0, "ab|=#0|c|,#1|,#1|d"},
        {nullptr, "=", 3, -1, 0, ""},
        // Blanks in the set only separate.
        {"  a  b\t= c \t", " \t=", 0, -1, 0, "a|b|=#2|c"},
        {" \t ", " \t", 0, -1, 0, ""},
        // Option 3 skips blanks before an item; inside a word they stay.
        // Without it a blank starts a word like any other character.
        {"  \ta b=\t c", "=", 3, -1, 0, "a b|=#0|c"},
        {" a= b", "=", 0, -1, 0, " a|=#0| b"},
        // The length limits the text.
        {"abc=def", "=", 3, 5, 0, "abc|=#0|d"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.want, Tokens(c.text, c.seps, c.opt, c.len, c.pos)) << (c.text ? c.text : "(null)");

    // U+013D shares its low byte with '=' and must not count as one.
    UString t = U(u"a\x3001\x013D=b"), seps = U(u" =\x3001"), tok;
    std::u16string got;
    int index;
    for (long pos = 0; (pos = Uni_GetTokenOpt(t, pos, tok, seps, index, -1, 3)) >= 0;)
        got += Units(tok) + (index < 0 ? u"|" : u"#|");
    EXPECT_EQ(u"a|\x3001#|\x013D|=#|b|", got);
}

TEST(TextSplit, WordsBetweenSeparators) {
    const char* const cases[][3] = {
        {"x y , z", ",", "x y|z"},
        {"a, ,b", ",", "a||b"},
        {",a", ",", "|a"},
        {"a, ", ",", "a"},
        {",", ",", ""},
        {"", ",", "<none>"},
        // Blanks in the set make no empty words; other separators still do.
        {"  a   b\t\tc ", " \t", "a|b|c"},
        {"a , b", ", ", "a|b"},
        {"a , , b", ", ", "a||b"},
        {"C:\\a\\b", "\\/:", "C||a|b"},
        {"/usr/bin/", "/", "|usr|bin"},
    };
    for (const auto& c : cases) EXPECT_EQ(c[2], Split(c[0], c[1])) << (c[0] ? c[0] : "(null)");
    EXPECT_EQ("b|c", Split("a,b,c", ",", 2));
}

TEST(TextPath, DirectoryNameAndExtension) {
    struct {
        const char* path;
        int part;
        const char* want;
    } cases[] = {
        {"dir/sub/name.ext", 2, "dir/sub/"},
        {"dir/sub/name.ext", 12, "name.ext"},
        {"dir/sub\\name", 3, "dir/sub\\"},
        {"name.txt", 3, ""},
        {"dir/", 4, ""},
        {"archive.tar.gz", 4, "archive.tar"},
        {"archive.tar.gz", 8, ".gz"},
        {"a.b/c", 8, ""},
        {nullptr, 15, ""},
#ifdef _WIN32
        {"C:\\dir\\f.txt", 1, "C:"},
        {"C:\\dir\\f.txt", 2, "\\dir\\"},
        {"C:\\dir\\f.txt", 3, "C:\\dir\\"},
        {"c:f.txt", 3, "c:"},
        {"c:f.txt", 4, "f"},
#else
        // Elsewhere "C:" is part of a name.
        {"C:\\dir\\f.txt", 1, ""},
        {"C:\\dir\\f.txt", 3, "C:\\dir\\"},
        {"c:f.txt", 3, ""},
        {"c:f.txt", 4, "c:f"},
#endif
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.want, Part(c.path, c.part)) << (c.path ? c.path : "(null)") << " " << c.part;
}

TEST(TextNumber, AtoLSaturates) {
    const std::string maxText = std::to_string(LONG_MAX), minText = std::to_string(LONG_MIN);
    std::string over = maxText, overMin = minText;
    ++over.back();  // LONG_MAX and LONG_MIN end in 7 and 8: one beyond each
    ++overMin.back();
    const std::string negOver = "-" + over;
    const struct {
        const char* text;
        long want;
    } cases[] = {
        {"  \t-17x", -17},
        {"- 5", 0},
        {nullptr, 0},
        {maxText.c_str(), LONG_MAX},
        {minText.c_str(), LONG_MIN},
        {over.c_str(), LONG_MAX},
        {negOver.c_str(), LONG_MIN},
        {overMin.c_str(), LONG_MIN},
        {"99999999999999999999999999", LONG_MAX},
    };
    for (const auto& c : cases) EXPECT_EQ(c.want, Byte_AtoL(c.text)) << (c.text ? c.text : "(null)");

    EXPECT_EQ(Uni_AtoL(U(u" -305\xD55C")), -305);
    EXPECT_EQ(Uni_AtoL(U(u"\x0661"
                         u"2")),
              0);  // only ASCII digits count
    EXPECT_EQ(Uni_AtoL(U(u"-99999999999999999999999999")), LONG_MIN);
}

// Tokens, split words, path parts and number parsing.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "support.h"

using testsupport::U;
using testsupport::Units;

namespace {

// Items as "text" for words and "text#index" for separators.
std::vector<std::string> Tokens(const char* text, const char* seps, int opt = 3, int len = -1, long pos = 0) {
    std::vector<std::string> out;
    MString tok;
    int index = 99;
    long prev = pos;
    while ((pos = Byte_GetTokenOpt(text, pos, tok, seps, index, len, opt)) >= 0) {
        EXPECT_GT(pos, prev);
        prev = pos;
        std::string s(tok, tok.GetLength());
        out.push_back(index < 0 ? s : s + "#" + std::to_string(index));
    }
    EXPECT_TRUE(tok.IsEmpty());
    EXPECT_EQ(index, -1);
    return out;
}

std::vector<std::u16string> UniTokens(const char16_t* text, const char16_t* seps, std::vector<int>* indexes) {
    std::vector<std::u16string> out;
    UString t = U(text), s = U(seps), tok;
    int index;
    long pos = 0;
    while ((pos = Uni_GetTokenOpt(t, pos, tok, s, index, -1, 3)) >= 0) {
        out.push_back(Units(tok));
        indexes->push_back(index);
    }
    return out;
}

std::vector<std::string> Split(const char* text, const char* seps, long pos = 0) {
    MStringArray ary;
    ary.Add("junk");
    int n = Byte_GetSplitToken(text, pos, seps, ary);
    EXPECT_EQ(n, ary.GetSize());
    std::vector<std::string> out;
    for (int i = 0; i < ary.GetSize(); ++i) out.emplace_back(ary[i], ary[i].GetLength());
    return out;
}

std::string Part(const char* path, int part) {
    MString out = "junk";
    Byte_GetPathPart(path, out, part);
    return std::string(out, out.GetLength());
}

using Strs = std::vector<std::string>;

}  // namespace

TEST(TextToken, WordsAndSeparatorItems) {
    EXPECT_EQ(Tokens("ab=c,,d", "=,"), (Strs{"ab", "=#0", "c", ",#1", ",#1", "d"}));
    MString tok;
    int index;
    EXPECT_EQ(Byte_GetTokenOpt("ab=c", 0, tok, "=", index, -1, 3), 2);
    EXPECT_EQ(Byte_GetTokenOpt("ab=c", 2, tok, "=", index, -1, 3), 3);
    EXPECT_EQ(index, 0);
    EXPECT_EQ(Byte_GetTokenOpt("ab=c", 3, tok, "=", index, -1, 3), 4);
    EXPECT_EQ(Byte_GetTokenOpt("ab=c", 4, tok, "=", index, -1, 3), -1);
    EXPECT_EQ(Byte_GetTokenOpt("ab=c", -1, tok, "=", index, -1, 3), -1);
    EXPECT_EQ(Byte_GetTokenOpt(nullptr, 0, tok, "=", index, -1, 3), -1);
    EXPECT_EQ(Tokens("", "="), Strs{});
    EXPECT_EQ(Tokens("abc", nullptr), Strs{"abc"});
}

TEST(TextToken, BlanksInTheSetOnlySeparate) {
    EXPECT_EQ(Tokens("  a  b\t= c \t", " \t=", 0), (Strs{"a", "b", "=#2", "c"}));
    EXPECT_EQ(Tokens(" \t ", " \t", 0), Strs{});
}

TEST(TextToken, BlanksOutsideTheSet) {
    // Option 3 skips blanks before an item; inside a word they stay.
    EXPECT_EQ(Tokens("a b=c", "="), (Strs{"a b", "=#0", "c"}));
    EXPECT_EQ(Tokens("  \ta b=\t c", "="), (Strs{"a b", "=#0", "c"}));
    // Without the option a blank starts a word like any other character.
    EXPECT_EQ(Tokens(" a= b", "=", 0), (Strs{" a", "=#0", " b"}));
}

TEST(TextToken, MarkupDelimiters) {
    const char* seps = "<?!/>=& \t";
    EXPECT_EQ(Tokens("<a href=\"x\">", seps), (Strs{"<#0", "a", "href", "=#5", "\"x\"", ">#4"}));
    EXPECT_EQ(Tokens("<?xml version=\"1.0\"?>", seps),
              (Strs{"<#0", "?#1", "xml", "version", "=#5", "\"1.0\"", "?#1", ">#4"}));
    EXPECT_EQ(Tokens("</b>x&amp;<!--", seps),
              (Strs{"<#0", "/#3", "b", ">#4", "x", "&#6", "amp;", "<#0", "!#2", "--"}));
}

TEST(TextToken, LengthLimitsTheText) {
    EXPECT_EQ(Tokens("abc=def", "=", 3, 5), (Strs{"abc", "=#0", "d"}));
    EXPECT_EQ(Tokens("abc=def", "=", 3, 3), (Strs{"abc"}));
    EXPECT_EQ(Tokens("abc=def", "=", 3, 0), Strs{});
    EXPECT_EQ(Tokens("abc=def", "=", 3, 5, 4), (Strs{"d"}));
}

TEST(TextToken, UniSeparatorsBeyondOneByte) {
    std::vector<int> idx;
    // U+013D shares its low byte with '=' and must not count as one.
    EXPECT_EQ(UniTokens(u"a\x3001\x013D=b", u" =\x3001", &idx),
              (std::vector<std::u16string>{u"a", u"\x3001", u"\x013D", u"=", u"b"}));
    EXPECT_EQ(idx, (std::vector<int>{-1, 2, -1, 1, -1}));
    idx.clear();
    EXPECT_EQ(UniTokens(u" x y ,z", u",", &idx), (std::vector<std::u16string>{u"x y ", u",", u"z"}));
}

TEST(TextSplit, WordsBetweenSeparators) {
    EXPECT_EQ(Split("a, b ,\tc", ","), (Strs{"a", "b", "c"}));
    EXPECT_EQ(Split("x y , z", ","), (Strs{"x y", "z"}));
    EXPECT_EQ(Split("a,,b", ","), (Strs{"a", "", "b"}));
    EXPECT_EQ(Split("a, ,b", ","), (Strs{"a", "", "b"}));
    EXPECT_EQ(Split(",a", ","), (Strs{"", "a"}));
    EXPECT_EQ(Split("a,", ","), (Strs{"a"}));
    EXPECT_EQ(Split("a, ", ","), (Strs{"a"}));
    EXPECT_EQ(Split(",", ","), (Strs{""}));
    EXPECT_EQ(Split("", ","), Strs{});
    EXPECT_EQ(Split("a,b;c", ",;"), (Strs{"a", "b", "c"}));
}

TEST(TextSplit, BlanksInTheSetMakeNoEmptyWords) {
    EXPECT_EQ(Split("  a   b\t\tc ", " \t"), (Strs{"a", "b", "c"}));
    EXPECT_EQ(Split("a , b", ", "), (Strs{"a", "b"}));
    EXPECT_EQ(Split("a , , b", ", "), (Strs{"a", "", "b"}));
}

TEST(TextSplit, PathsAndPositions) {
    EXPECT_EQ(Split("C:\\a\\b", "\\/:"), (Strs{"C", "", "a", "b"}));
    EXPECT_EQ(Split("/usr/local/bin/", "/"), (Strs{"", "usr", "local", "bin"}));
    EXPECT_EQ(Split("a,b,c", ",", 2), (Strs{"b", "c"}));
    EXPECT_EQ(Split("a,b", ",", -1), Strs{});
    EXPECT_EQ(Split(nullptr, ","), Strs{});

    UStringArray ary;
    ary.Add(U(u"junk"));
    EXPECT_EQ(Uni_GetSplitToken(U(u"\xD55C, \xAE00,,x"), 0, U(u","), ary), 4);
    ASSERT_EQ(ary.GetSize(), 4);
    EXPECT_EQ(Units(ary[0]), u"\xD55C");
    EXPECT_EQ(Units(ary[1]), u"\xAE00");
    EXPECT_EQ(Units(ary[2]), u"");
    EXPECT_EQ(Units(ary[3]), u"x");
    EXPECT_EQ(Uni_GetSplitToken(U(u"a"), -3, U(u","), ary), 0);
    EXPECT_EQ(ary.GetSize(), 0);
}

TEST(TextPath, DirectoryNameAndExtension) {
    EXPECT_EQ(Part("dir/sub/name.ext", 3), "dir/sub/");
    EXPECT_EQ(Part("dir/sub/name.ext", 2), "dir/sub/");
    EXPECT_EQ(Part("dir/sub/name.ext", 4), "name");
    EXPECT_EQ(Part("dir/sub/name.ext", 8), ".ext");
    EXPECT_EQ(Part("dir/sub/name.ext", 12), "name.ext");
    EXPECT_EQ(Part("dir\\sub/name", 3), "dir\\sub/");
    EXPECT_EQ(Part("dir/sub\\name", 3), "dir/sub\\");
    EXPECT_EQ(Part("name.txt", 3), "");
    EXPECT_EQ(Part("name.txt", 4), "name");
    EXPECT_EQ(Part("/name", 3), "/");
    EXPECT_EQ(Part("dir/", 3), "dir/");
    EXPECT_EQ(Part("dir/", 4), "");
    EXPECT_EQ(Part("archive.tar.gz", 4), "archive.tar");
    EXPECT_EQ(Part("archive.tar.gz", 8), ".gz");
    EXPECT_EQ(Part("a.b/c", 4), "c");
    EXPECT_EQ(Part("a.b/c", 8), "");
    EXPECT_EQ(Part("", 15), "");
    EXPECT_EQ(Part(nullptr, 15), "");

    UString out;
    Uni_GetPathPart(U(u"\xD55C/\xAE00.txt"), out, 3);
    EXPECT_EQ(Units(out), u"\xD55C/");
    Uni_GetPathPart(U(u"\xD55C\\\xAE00.txt"), out, 4);
    EXPECT_EQ(Units(out), u"\xAE00");
    Uni_GetPathPart(U(u"\xD55C\\\xAE00.txt"), out, 8);
    EXPECT_EQ(Units(out), u".txt");
}

TEST(TextPath, DriveLetters) {
#ifdef _WIN32
    EXPECT_EQ(Part("C:\\dir\\f.txt", 1), "C:");
    EXPECT_EQ(Part("C:\\dir\\f.txt", 2), "\\dir\\");
    EXPECT_EQ(Part("C:\\dir\\f.txt", 3), "C:\\dir\\");
    EXPECT_EQ(Part("c:f.txt", 3), "c:");
    EXPECT_EQ(Part("c:f.txt", 4), "f");
#else
    // Elsewhere "C:" is part of a name.
    EXPECT_EQ(Part("C:\\dir\\f.txt", 1), "");
    EXPECT_EQ(Part("C:\\dir\\f.txt", 3), "C:\\dir\\");
    EXPECT_EQ(Part("c:f.txt", 3), "");
    EXPECT_EQ(Part("c:f.txt", 4), "c:f");
#endif
}

TEST(TextFind, FirstLastAbsent) {
    EXPECT_EQ(Byte_FindAsc("abcabc", 'b', 1), 1);
    EXPECT_EQ(Byte_FindAsc("abcabc", 'b', 0), 4);
    EXPECT_EQ(Byte_FindAsc("abcabc", 'z', 1), -1);
    EXPECT_EQ(Byte_FindAsc("abcabc", 'z', 0), -1);
    EXPECT_EQ(Byte_FindAsc("", 'a', 1), -1);
    EXPECT_EQ(Byte_FindAsc(nullptr, 'a', 0), -1);
    EXPECT_EQ(Uni_FindAsc(U(u"\xD55C.a.\xD55C"), 0xD55C, 1), 0);
    EXPECT_EQ(Uni_FindAsc(U(u"\xD55C.a.\xD55C"), 0xD55C, 0), 4);
    EXPECT_EQ(Uni_FindAsc(U(u"\x0161"), 'a', 1), -1);
    EXPECT_EQ(Uni_FindAsc(nullptr, 'a', 1), -1);
}

TEST(TextNumber, AtoL) {
    EXPECT_EQ(Byte_AtoL("42"), 42);
    EXPECT_EQ(Byte_AtoL("  \t-17x"), -17);
    EXPECT_EQ(Byte_AtoL("+8"), 8);
    EXPECT_EQ(Byte_AtoL("0012abc"), 12);
    EXPECT_EQ(Byte_AtoL("abc"), 0);
    EXPECT_EQ(Byte_AtoL("- 5"), 0);
    EXPECT_EQ(Byte_AtoL("--5"), 0);
    EXPECT_EQ(Byte_AtoL(""), 0);
    EXPECT_EQ(Byte_AtoL(nullptr), 0);
    const std::string maxText = std::to_string(LONG_MAX), minText = std::to_string(LONG_MIN);
    EXPECT_EQ(Byte_AtoL(maxText.c_str()), LONG_MAX);
    EXPECT_EQ(Byte_AtoL(minText.c_str()), LONG_MIN);
    std::string over = maxText;
    ++over.back();  // LONG_MAX ends in 7, so this is LONG_MAX + 1
    EXPECT_EQ(Byte_AtoL(over.c_str()), LONG_MAX);
    EXPECT_EQ(Byte_AtoL(("-" + over).c_str()), LONG_MIN);
    std::string overMin = minText;
    ++overMin.back();
    EXPECT_EQ(Byte_AtoL(overMin.c_str()), LONG_MIN);
    EXPECT_EQ(Byte_AtoL("99999999999999999999999999"), LONG_MAX);
    EXPECT_EQ(Byte_AtoL("-99999999999999999999999999"), LONG_MIN);

    EXPECT_EQ(Uni_AtoL(U(u" -305\xD55C")), -305);
    EXPECT_EQ(Uni_AtoL(U(u"\x0661" u"2")), 0);  // only ASCII digits count
    EXPECT_EQ(Uni_AtoL(U(u"99999999999999999999999999")), LONG_MAX);
    EXPECT_EQ(Uni_AtoL(U(u"-99999999999999999999999999")), LONG_MIN);
    EXPECT_EQ(Uni_AtoL(nullptr), 0);
}

TEST(TextNumber, LengthAndEndianness) {
    EXPECT_EQ(Byte_strlen("abc"), 3);
    EXPECT_EQ(Byte_strlen(""), 0);
    EXPECT_EQ(Byte_strlen(nullptr), 0);
    EXPECT_EQ(Uni_strlen(U(u"\xD55C\xAE00")), 2);
    EXPECT_EQ(Uni_strlen(U(u"")), 0);
    EXPECT_EQ(Uni_strlen(nullptr), 0);

    const std::uint32_t probe = 0x01020304;
    unsigned char first;
    std::memcpy(&first, &probe, 1);
    EXPECT_EQ(API_IsLittleEndian() != 0, first == 0x04);
}

// The token data stream over text in memory, for both widths, plus the
// encodings only the 16-bit stream has.
#include <cstring>
#include <string>
#include <vector>

#include "token/token_support.h"

using tokentest::NextTok;
using tokentest::Widths;

namespace {

template <class T>
class TokenStream : public tokentest::StreamFixture<T> {};
TYPED_TEST_SUITE(TokenStream, Widths);

TYPED_TEST(TokenStream, TokensCrossLinesOfEveryEndAndSkipEmptyOnes) {
    auto s = this->Mem("  ab, cd\r\n\r\n\tef\rg;h\n\n");
    int idx = 99;
    EXPECT_EQ("ab", this->Tok(s, ",;", &idx));
    EXPECT_EQ(-1, idx);
    EXPECT_EQ(",", this->Tok(s, ",;", &idx));
    EXPECT_EQ(0, idx);
    EXPECT_EQ("cd", this->Tok(s, " ", nullptr, true));  // looks ahead, takes a ring slot
    EXPECT_EQ(5u, s.GetTokenPos());
    EXPECT_EQ("cd", this->Tok(s, ",;"));
    EXPECT_EQ("ef", this->Tok(s, ",;"));  // the empty line is skipped
    EXPECT_EQ(12u, s.m_curPos.m_dwCurLinePos);
    EXPECT_EQ(15u, s.GetTokenPos());
    EXPECT_EQ("g", this->Tok(s, ",;"));  // a lone CR ends a line too
    EXPECT_EQ(16u, s.m_curPos.m_dwCurLinePos);
    EXPECT_EQ(";", this->Tok(s, ",;"));
    EXPECT_EQ("h", this->Tok(s, ",;"));
    // At the end: fails twice, and the failed reads left nothing in the ring.
    EXPECT_EQ("<end>", this->Tok(s, ",;"));
    EXPECT_EQ("<end>", this->Tok(s, ",;"));
    EXPECT_EQ(19u, s.GetTokenPos());
    s.GetTokenBack(1);
    EXPECT_EQ("h", this->Tok(s, ",;"));
}

// The ring keeps the positions before the last ten reads: taking back more
// than it holds wraps round it, and a ring set above ten slots acts as ten.
TYPED_TEST(TokenStream, RingOfTen) {
    typedef typename TypeParam::Stream Stream;
    std::string text;
    for (int i = 0; i < 40; ++i) text += "t" + std::to_string(i) + " ";
    auto reads = [this](Stream& s, int n) {
        for (int i = 0; i < n; ++i) ASSERT_EQ("t" + std::to_string(i), this->Tok(s));
    };
    // Eleven reads: the eleventh went to the slot of the first, so taking
    // back eleven is taking back one.
    auto a = this->Mem(text);
    reads(a, 11);
    a.GetTokenBack(11);
    EXPECT_EQ("t10", this->Tok(a));
    // Back 3 after twelve reads, then back 0: the slot saved ten reads before.
    auto b = this->Mem(text);
    reads(b, 12);
    b.GetTokenBack(3);
    EXPECT_EQ("t9", this->Tok(b));
    b.GetTokenBack(0);
    EXPECT_EQ("t10", this->Tok(b));
    // Started past the "x" (dwStart 1): back far more than the ring holds
    // stops at its first slot; back 0 on a fresh ring restores an unused,
    // all-zero slot: the start of the buffer.
    auto c = this->Mem("x" + text, 1);
    reads(c, 2);
    c.GetTokenBack(1);
    c.GetTokenBack(25);
    EXPECT_EQ("t0", this->Tok(c));
    auto d = this->Mem("x" + text, 1);
    EXPECT_EQ(1u, d.m_curPos.m_dwNextLinePos);
    reads(d, 1);
    d.GetTokenBack(0);
    EXPECT_EQ("xt0", this->Tok(d));

    struct Restore {
        ~Restore() { Stream::m_nAUTOTOKSTACKSIZE = 10; }
    } restore;
    Stream::m_nAUTOTOKSTACKSIZE = 25;
    auto e = this->Mem(text);
    reads(e, 30);
    e.GetTokenBack(10);
    EXPECT_EQ("t20", this->Tok(e));
}

TYPED_TEST(TokenStream, DelimCharBackslashEscapes) {
    auto s = this->Mem("s a\\\"b\"c");  // s a\"b"c
    EXPECT_EQ("s", this->Tok(s));
    EXPECT_EQ(" a\\\"b", this->ToChar(s, '"', 0, 0));
    EXPECT_EQ("\"c", this->Tok(s));  // not included: left as the next character
    // An escaped backslash does not escape the delimiter after it.
    auto t = this->Mem("s x\\\\\"y");  // s x\\"y
    EXPECT_EQ("s", this->Tok(t));
    EXPECT_EQ(" x\\\\\"", this->ToChar(t, '"', 0, 1));
    // An escape carried onto the next line is not a delimiter either.
    auto u = this->Mem("a\\\"b\nc\"");
    EXPECT_EQ("a\\\"bc\"", this->ToChar(u, '"', 1, 1));
}

// Failures restore the position, except running out of data in a
// multi-line char read: that stays at the end, one step back from the start.
TYPED_TEST(TokenStream, FailuresRestoreOrNot) {
    auto s = this->Mem("x ab\\\nc\"");  // a line ending right after a backslash
    EXPECT_EQ("x", this->Tok(s));
    EXPECT_EQ("<fail>", this->ToChar(s, '"', 1, 1));
    EXPECT_EQ("ab\\", this->Tok(s));

    auto t = this->Mem("s a\\b\\c");  // backslash and NUL are never found
    EXPECT_EQ("s", this->Tok(t));
    EXPECT_EQ("<fail>", this->ToChar(t, '\\', 0, 1));
    EXPECT_EQ("<fail>", this->ToChar(t, '\0', 0, 1));
    EXPECT_EQ(1u, t.GetTokenPos());

    auto n = this->Mem("x ab\ncd\n");
    EXPECT_EQ("x", this->Tok(n));
    typename TypeParam::Str out;
    EXPECT_EQ(0, n.GetTokenToDelimStr(this->S("\""), out, 1, 1));
    EXPECT_EQ(0u, this->N(out).find(" ab\r\ncd"));  // the text read is kept
    EXPECT_EQ(1u, n.GetTokenPos());
    EXPECT_EQ("<fail>", this->ToChar(n, '"', 1, 1));
    EXPECT_EQ("<end>", this->Tok(n));
    n.GetTokenBack(1);
    EXPECT_EQ("ab", this->Tok(n));
}

// One "\r\n" for each empty line crossed by the char form, one per line end
// by the string form, whatever the line ends are.
TYPED_TEST(TokenStream, MultiLineBreaks) {
    for (const char* text : {"a\n\nb\"", "a\r\n\r\nb\"", "a\r\rb\""}) {
        auto c = this->Mem(text);
        EXPECT_EQ("a\r\nb\"", this->ToChar(c, '"', 1, 1)) << text;
        auto s = this->Mem(text);
        EXPECT_EQ("a\r\n\r\nb", this->ToStr(s, "\"", 1, 0)) << text;
    }
    auto c = this->Mem("a\nb\"z");
    EXPECT_EQ("ab", this->ToChar(c, '"', 1, 0));
    auto e = this->Mem("\nb\"");  // a fresh stream crosses the first line's end
    EXPECT_EQ("\r\nb", this->ToStr(e, "\"", 1, 0));
    auto m = this->Mem("x y\na\nb\"");  // after a read, the rest of the line first
    EXPECT_EQ("x", this->Tok(m));
    EXPECT_EQ(" y\r\na\r\nb", this->ToStr(m, "\"", 1, 0));
}

TYPED_TEST(TokenStream, DelimStrOnOneLine) {
    auto s = this->Mem("s key := a\\\"b\" := c");
    EXPECT_EQ("s", this->Tok(s));
    EXPECT_EQ(" key ", this->ToStr(s, ":=", 0, 0));
    EXPECT_EQ(":= a\\\"", this->ToStr(s, "\"", 0, 1));  // no escapes here
    EXPECT_EQ("<fail>", this->ToStr(s, "=:", 0, 1));
    EXPECT_EQ(12u, s.GetTokenPos());
}

TYPED_TEST(TokenStream, CountedReadsAndSkipCurLine) {
    auto s = this->Mem("abc\r\n\r\ndefg");
    EXPECT_EQ("abcde", this->Peek(s, 5));  // no line breaks counted
    EXPECT_EQ(0u, s.GetTokenPos());
    EXPECT_EQ("abcde", this->Read(s, 5));
    EXPECT_EQ(9u, s.GetTokenPos());
    EXPECT_EQ("<fail>", this->Read(s, 3));  // only "fg" left
    EXPECT_EQ("fg", this->Read(s, 2));

    auto k = this->Mem("a b c\n\n d e");
    EXPECT_EQ("", this->Skip(k));  // nothing read yet: no current line
    EXPECT_EQ("a", this->Tok(k));
    EXPECT_EQ(" b c", this->Skip(k));
    EXPECT_EQ("d", this->Tok(k));
    k.GetTokenBack(2);
    EXPECT_EQ("b", this->Tok(k));
}

TYPED_TEST(TokenStream, DefaultStreamIsAtTheEnd) {
    typename TypeParam::Stream s;
    EXPECT_EQ("<end>", this->Tok(s, " ", nullptr, true));
    EXPECT_EQ("<fail>", this->ToChar(s, '"', 1, 1));
    EXPECT_EQ("<fail>", this->ToStr(s, "\"", 1, 1));
    EXPECT_EQ("<fail>", this->Peek(s, 1));
    EXPECT_EQ("", this->Skip(s));
    s.GetTokenBack(0);
    s.PushTokenPos();
    s.PopTokenPos();
    EXPECT_EQ("<end>", this->Tok(s));
}

// Units whose bytes in memory are these bytes, NUL-terminated.
std::vector<unsigned short> FromBytes(const std::string& bytes) {
    std::vector<unsigned short> v(bytes.size() / 2 + 2, 0);
    std::memcpy(v.data(), bytes.data(), bytes.size());
    return v;
}

TEST(TokenStreamU, MemoryBigEndianAndTheSwitchAtTheNextLine) {
    // The first line little-endian, the rest big-endian.
    using testsupport::Utf16;
    std::vector<unsigned short> buf = FromBytes(Utf16(u"ab xy\n", false) + Utf16(u"cd\r\n\u00e9f \u4e2d", true));
    CTokenDataStreamU s(buf.data(), 0);
    EXPECT_EQ(u"ab", NextTok(s));
    s.SetEndian(2);  // the current line stays as read
    EXPECT_EQ(u"xy", NextTok(s));
    EXPECT_EQ(u"cd", NextTok(s));
    CTokenDataStreamU c(s);  // the copy reads big-endian too
    EXPECT_EQ(u"\u00e9f", NextTok(c));
    EXPECT_EQ(12u, c.GetTokenPos());
    EXPECT_EQ(u"\u4e2d", NextTok(c));
}

}  // namespace

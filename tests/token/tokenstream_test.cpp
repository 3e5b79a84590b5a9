// The token data stream over text in memory, for both widths, plus the
// encodings only the 16-bit stream has.
#include <cstring>
#include <string>
#include <vector>

#include "token/token_support.h"

using testsupport::Units;
using tokentest::Widths;
using tokentest::WidthName;

namespace {

template <class T>
class TokenStream : public tokentest::StreamFixture<T> {};
TYPED_TEST_SUITE(TokenStream, Widths, WidthName);

// ---------------------------------------------------------------- GetToken

TYPED_TEST(TokenStream, TokensCrossLinesOfEveryEndAndSkipEmptyOnes) {
    auto s = this->Mem("  ab, cd\r\n\r\n\tef\rg;h\n\n");
    int idx = 99;
    EXPECT_EQ("ab", this->Tok(s, ",;", &idx));
    EXPECT_EQ(-1, idx);
    EXPECT_EQ(4u, s.GetTokenPos());
    EXPECT_EQ(",", this->Tok(s, ",;", &idx));
    EXPECT_EQ(0, idx);
    EXPECT_EQ("cd", this->Tok(s, ",;"));
    EXPECT_EQ("ef", this->Tok(s, ",;"));  // the empty line is skipped
    EXPECT_EQ(12u, s.m_curPos.m_dwCurLinePos);
    EXPECT_EQ(15u, s.GetTokenPos());
    EXPECT_EQ("g", this->Tok(s, ",;"));  // a lone CR ends a line too
    EXPECT_EQ(16u, s.m_curPos.m_dwCurLinePos);
    EXPECT_EQ(";", this->Tok(s, ",;", &idx));
    EXPECT_EQ(1, idx);
    EXPECT_EQ("h", this->Tok(s, ",;"));
    // At the end (trailing empty lines hold no token): fails twice, the
    // position stays and the failed reads left nothing in the ring.
    EXPECT_EQ("<end>", this->Tok(s, ",;"));
    EXPECT_EQ(19u, s.GetTokenPos());
    EXPECT_EQ("<end>", this->Tok(s, ",;"));
    s.GetTokenBack(1);
    EXPECT_EQ("h", this->Tok(s, ",;"));
}

TYPED_TEST(TokenStream, GetTokenTestLeavesThePositionButTakesARingSlot) {
    auto s = this->Mem("a b\nc d");
    EXPECT_EQ("a", this->Tok(s));
    EXPECT_EQ("b", this->Tok(s));
    EXPECT_EQ("c", this->TokTest(s));  // crosses a line and comes back
    EXPECT_EQ(3u, s.GetTokenPos());
    EXPECT_EQ("a b", this->Line(s));
    EXPECT_EQ(3, s.m_nAutoTokStackPos);
    s.GetTokenBack(2);  // before "b", not before "a"
    EXPECT_EQ("b", this->Tok(s));
    EXPECT_EQ("c", this->Tok(s));
    EXPECT_EQ("d", this->Tok(s));
    EXPECT_EQ("<end>", this->TokTest(s));
    EXPECT_EQ(7u, s.GetTokenPos());
}

// ---------------------------------------------------------------- the ring

TYPED_TEST(TokenStream, RingWrapsAtTen) {
    const std::string text = "t0 t1 t2 t3 t4 t5 t6 t7 t8 t9 t10 t11 t12 t13";
    auto reads = [this](typename TypeParam::Stream& s, int n) {
        for (int i = 0; i < n; ++i) ASSERT_EQ("t" + std::to_string(i), this->Tok(s));
    };
    // Eleven reads: the eleventh saved in slot 0; back 11 is back 1.
    auto a = this->Mem(text);
    reads(a, 11);
    EXPECT_EQ(1, a.m_nAutoTokStackPos);
    a.GetTokenBack(11);
    EXPECT_EQ(0, a.m_nAutoTokStackPos);
    EXPECT_EQ("t10", this->Tok(a));

    // Twelve reads, back 3 wraps to slot 9: before the tenth read. Back 0
    // then restores the slot at the index: saved ten reads earlier.
    auto b = this->Mem(text);
    reads(b, 12);
    b.GetTokenBack(3);
    EXPECT_EQ(9, b.m_nAutoTokStackPos);
    EXPECT_EQ("t9", this->Tok(b));
    b.GetTokenBack(0);
    EXPECT_EQ(0, b.m_nAutoTokStackPos);
    EXPECT_EQ("t10", this->Tok(b));

    // Far more than the ring holds: index 0, not an unused slot (which
    // would go back to the "x" the stream started past).
    auto c = this->Mem("x" + text, 1);
    reads(c, 2);
    c.GetTokenBack(1);
    c.GetTokenBack(25);
    EXPECT_EQ(0, c.m_nAutoTokStackPos);
    EXPECT_EQ("t0", this->Tok(c));
}

TYPED_TEST(TokenStream, BackZeroOnAFreshRingGivesTheEmptyPosition) {
    // Started past the "x" (dwStart 1); the unused slot is all zero, so
    // restoring it goes back to the start of the buffer.
    auto s = this->Mem("xt0 t1", 1);
    EXPECT_EQ(1u, s.m_curPos.m_dwCurLinePos);
    EXPECT_EQ(1u, s.m_curPos.m_dwNextLinePos);
    EXPECT_EQ(1u, s.m_curPos.m_dwColumn);
    EXPECT_EQ("t0", this->Tok(s));
    EXPECT_EQ(3u, s.GetTokenPos());
    s.GetTokenBack(0);
    EXPECT_EQ(0u, s.m_curPos.m_dwNextLinePos);
    EXPECT_EQ(0u, s.m_curPos.m_dwColumn);
    EXPECT_TRUE(s.m_curPos.m_strLine.IsEmpty());
    EXPECT_EQ("xt0", this->Tok(s));
}

TYPED_TEST(TokenStream, EveryKindOfReadCanBeTakenBack) {
    auto s = this->Mem("abc \"q\" :: rest\nnext");
    EXPECT_EQ("ab", this->Read(s, 2));
    EXPECT_EQ("c", this->Tok(s));
    EXPECT_EQ(" \"", this->ToChar(s, '"', 0, 1));
    EXPECT_EQ("q\" ::", this->ToStr(s, "::", 0, 1));
    EXPECT_EQ(" rest", this->Skip(s));
    s.GetTokenBack(1);
    EXPECT_EQ(10u, s.GetTokenPos());
    s.GetTokenBack(3);
    EXPECT_EQ(2u, s.GetTokenPos());
    s.GetTokenBack(1);
    EXPECT_EQ("abc", this->Tok(s));
}

TYPED_TEST(TokenStream, RingSizeAboveTenStaysInsideTheSlots) {
    typedef typename TypeParam::Stream Stream;
    struct Restore {
        ~Restore() { Stream::m_nAUTOTOKSTACKSIZE = 10; }
    } restore;
    Stream::m_nAUTOTOKSTACKSIZE = 25;
    std::string text;
    for (int i = 0; i < 40; ++i) text += "w" + std::to_string(i) + " ";
    auto s = this->Mem(text);
    for (int i = 0; i < 30; ++i) {
        ASSERT_EQ("w" + std::to_string(i), this->Tok(s));
        ASSERT_TRUE(s.m_nAutoTokStackPos >= 0 && s.m_nAutoTokStackPos < 10);
    }
    s.GetTokenBack(3);
    EXPECT_EQ("w27", this->Tok(s));
    s.GetTokenBack(40);
    EXPECT_TRUE(s.m_nAutoTokStackPos >= 0 && s.m_nAutoTokStackPos < 10);
}

// ---------------------------------------------------- up to a delimiter char

TYPED_TEST(TokenStream, DelimCharIncludedOrLeftAsNextCharacter) {
    auto a = this->Mem("s abc\"def");
    EXPECT_EQ("s", this->Tok(a));
    EXPECT_EQ(" abc\"", this->ToChar(a, '"', 0, 1));
    EXPECT_EQ("def", this->Tok(a));

    auto b = this->Mem("s abc\"def");
    EXPECT_EQ("s", this->Tok(b));
    EXPECT_EQ(" abc", this->ToChar(b, '"', 0, 0));
    EXPECT_EQ(5u, b.GetTokenPos());
    EXPECT_EQ("\"", this->Read(b, 1));
}

TYPED_TEST(TokenStream, DelimCharBackslashEscapesAndStays) {
    auto s = this->Mem("s a\\\"b\"c");  // s a\"b"c
    EXPECT_EQ("s", this->Tok(s));
    EXPECT_EQ(" a\\\"b", this->ToChar(s, '"', 0, 0));
    EXPECT_EQ(6u, s.GetTokenPos());
    // An escaped backslash does not escape the delimiter after it.
    auto t = this->Mem("s x\\\\\"y");  // s x\\"y
    EXPECT_EQ("s", this->Tok(t));
    EXPECT_EQ(" x\\\\\"", this->ToChar(t, '"', 0, 1));
    // An escape carried onto the next line is not a delimiter either.
    auto u = this->Mem("a\\\"b\nc\"");
    EXPECT_EQ("a\\\"bc\"", this->ToChar(u, '"', 1, 1));
}

TYPED_TEST(TokenStream, DelimCharFailuresThatRestore) {
    // A line ending right after a backslash fails, multi-line or not.
    auto s = this->Mem("x ab\\\nc\"");
    EXPECT_EQ("x", this->Tok(s));
    EXPECT_EQ("<fail>", this->ToChar(s, '"', 1, 1));
    EXPECT_EQ(1u, s.GetTokenPos());
    EXPECT_EQ("x ab\\", this->Line(s));
    EXPECT_EQ("ab\\", this->Tok(s));

    // No delimiter on the line and no multi-line: fails, restored.
    auto n = this->Mem("x abc\nd\"");
    EXPECT_EQ("x", this->Tok(n));
    EXPECT_EQ("<fail>", this->ToChar(n, '"', 0, 1));
    EXPECT_EQ("abc", this->Tok(n));

    // Backslash and NUL are never found.
    auto t = this->Mem("s a\\b\\c");
    EXPECT_EQ("s", this->Tok(t));
    EXPECT_EQ("<fail>", this->ToChar(t, '\\', 0, 1));
    EXPECT_EQ("<fail>", this->ToChar(t, '\0', 0, 1));
    EXPECT_EQ(1u, t.GetTokenPos());
    EXPECT_EQ("<fail>", this->ToChar(t, '\0', 1, 1));
    t.GetTokenBack(1);
    EXPECT_EQ("a\\b\\c", this->Tok(t));
}

TYPED_TEST(TokenStream, DelimCharRunningOutDoesNotRestore) {
    auto s = this->Mem("x ab\ncd\n");
    EXPECT_EQ("x", this->Tok(s));
    EXPECT_EQ("<fail>", this->ToChar(s, '"', 1, 1));
    // The stream stays at the end of the data, and one step back still
    // reaches the start of the failed read.
    EXPECT_EQ("<end>", this->Tok(s));
    s.GetTokenBack(1);
    EXPECT_EQ(1u, s.GetTokenPos());
    EXPECT_EQ("ab", this->Tok(s));
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
    EXPECT_EQ(3u, c.GetTokenPos());
    EXPECT_EQ("\"z", this->Tok(c));
    auto s = this->Mem("a\nb\"");
    EXPECT_EQ("a\r\nb\"", this->ToStr(s, "\"", 1, 1));
    // A fresh stream starting with an empty line crosses that line's end.
    auto e = this->Mem("\nb\"");
    EXPECT_EQ("\r\nb", this->ToStr(e, "\"", 1, 0));
    // After a read, the rest of the current line and its end come first.
    auto m = this->Mem("x y\na\nb\"");
    EXPECT_EQ("x", this->Tok(m));
    EXPECT_EQ(" y\r\na\r\nb", this->ToStr(m, "\"", 1, 0));
}

// -------------------------------------------------- up to a delimiter string

TYPED_TEST(TokenStream, DelimStrOnOneLine) {
    auto s = this->Mem("s key := a\\\"b\" := c");
    EXPECT_EQ("s", this->Tok(s));
    EXPECT_EQ(" key ", this->ToStr(s, ":=", 0, 0));
    EXPECT_EQ(":=", this->Read(s, 2));
    EXPECT_EQ(" a\\\"", this->ToStr(s, "\"", 0, 1));  // no escapes here
    EXPECT_EQ("b\" :=", this->ToStr(s, ":=", 0, 1));
    EXPECT_EQ("<fail>", this->ToStr(s, ":=", 0, 1));
    EXPECT_EQ(17u, s.GetTokenPos());
    EXPECT_EQ("c", this->Tok(s));
}

TYPED_TEST(TokenStream, DelimStrFailureRestoresButKeepsTheText) {
    auto s = this->Mem("x ab\ncd");
    EXPECT_EQ("x", this->Tok(s));
    typename TypeParam::Str out;
    EXPECT_EQ(0, s.GetTokenToDelimStr(this->S("\""), out, 1, 1));
    EXPECT_EQ(0u, this->N(out).find(" ab\r\ncd"));
    EXPECT_EQ(1u, s.GetTokenPos());
    EXPECT_EQ("ab", this->Tok(s));
    EXPECT_EQ("cd", this->Tok(s));
}

// ------------------------------------------------- counted reads, skipping

TYPED_TEST(TokenStream, ReadCharCountsNoLineBreaks) {
    auto s = this->Mem("abc\r\n\r\ndefg");
    EXPECT_EQ("abcde", this->Peek(s, 5));
    EXPECT_EQ(0u, s.GetTokenPos());
    EXPECT_EQ("abcde", this->Read(s, 5));
    EXPECT_EQ(9u, s.GetTokenPos());
    EXPECT_EQ("<fail>", this->Read(s, 3));  // only "fg" left
    EXPECT_EQ("<fail>", this->Peek(s, 3));
    EXPECT_EQ(9u, s.GetTokenPos());
    EXPECT_EQ("fg", this->Read(s, 2));
    EXPECT_EQ("<fail>", this->Read(s, 1));
}

TYPED_TEST(TokenStream, SkipCurLineGivesTheRest) {
    auto s = this->Mem("a b c\n\n d e");
    EXPECT_EQ("", this->Skip(s));  // nothing read yet: no current line
    EXPECT_EQ("a", this->Tok(s));
    EXPECT_EQ(" b c", this->Skip(s));
    EXPECT_EQ("", this->Skip(s));
    EXPECT_EQ("d", this->Tok(s));
    s.GetTokenBack(3);
    EXPECT_EQ("b", this->Tok(s));
}

// ------------------------------------------- explicit stack, held positions

TYPED_TEST(TokenStream, ExplicitStackAndHeldPositionsLeaveTheRingAlone) {
    auto s = this->Mem("a b\nc d e");
    EXPECT_EQ("a", this->Tok(s));
    s.PopTokenPos();  // empty: nothing happens
    EXPECT_EQ(1u, s.GetTokenPos());
    for (int i = 0; i < 12; ++i) s.PushTokenPos();  // past the growth step
    EXPECT_EQ("b", this->Tok(s));
    typename TypeParam::Item held = s.GetCurTokenStack();
    s.PushTokenPos();
    EXPECT_EQ("c", this->Tok(s));
    s.PopTokenPos();
    EXPECT_EQ("c", this->Tok(s));
    EXPECT_EQ("d", this->Tok(s));
    s.RewindToStack(held);
    EXPECT_EQ("c", this->Tok(s));
    for (int i = 0; i < 12; ++i) s.PopTokenPos();
    EXPECT_EQ(0, s.m_aryTokStack.GetSize());
    EXPECT_EQ(1u, s.GetTokenPos());
    EXPECT_EQ("a b", this->Line(s));
    // Only the six reads moved the ring: back 6 is before "a".
    EXPECT_EQ(6, s.m_nAutoTokStackPos);
    s.GetTokenBack(6);
    EXPECT_EQ("a", this->Tok(s));
}

TYPED_TEST(TokenStream, CopiesCarryTheRingAndTheStack) {
    typedef typename TypeParam::Stream Stream;
    // Started past the "x": an empty ring slot would go back to it.
    Stream s = this->Mem("xa b c\nd e", 1);
    EXPECT_EQ("a", this->Tok(s));
    s.PushTokenPos();
    EXPECT_EQ("b", this->Tok(s));
    Stream c(s);
    Stream d;
    d = s;
    for (Stream* p : {&c, &d}) {
        EXPECT_EQ("c", this->Tok(*p));
        EXPECT_EQ("d", this->Tok(*p));
        p->PopTokenPos();
        EXPECT_EQ("b", this->Tok(*p));
        p->GetTokenBack(5);  // slot 0 was filled before the copy
        EXPECT_EQ("a", this->Tok(*p));
    }
    EXPECT_EQ("c", this->Tok(s));  // the source did not move
    EXPECT_EQ(1, s.m_aryTokStack.GetSize());
}

// --------------------------------------------------------------- edge cases

TYPED_TEST(TokenStream, DefaultStreamIsAtTheEnd) {
    typename TypeParam::Stream s;
    EXPECT_EQ("<end>", this->Tok(s));
    EXPECT_EQ("<end>", this->TokTest(s));
    for (int multi = 0; multi < 2; ++multi) {
        EXPECT_EQ("<fail>", this->ToChar(s, '"', multi, 1));
        EXPECT_EQ("<fail>", this->ToStr(s, "\"", multi, 1));
    }
    EXPECT_EQ("<fail>", this->Read(s, 1));
    EXPECT_EQ("<fail>", this->Peek(s, 1));
    EXPECT_EQ("", this->Skip(s));
    s.GetTokenBack(5);
    s.GetTokenBack(0);
    s.PushTokenPos();
    s.PopTokenPos();
    s.PopTokenPos();
    EXPECT_EQ("<end>", this->Tok(s));
    EXPECT_EQ(0u, s.GetTokenPos());
}

TYPED_TEST(TokenStream, StartOffsetSkipsTheFirstCharacter) {
    auto s = this->Mem("\"abc\" d\ne", 1);
    EXPECT_EQ("abc", this->Tok(s, "\""));
    EXPECT_EQ(4u, s.GetTokenPos());
    EXPECT_EQ(1u, s.m_curPos.m_dwCurLinePos);
    EXPECT_EQ(8u, s.m_curPos.m_dwNextLinePos);
}

TYPED_TEST(TokenStream, OneMegabyteLineToTheEnd) {
    const int kWords = (1 << 20) / 8;
    std::string text;
    for (int i = 0; i < kWords; ++i) text += "abcdefg ";
    text += "last\"";
    auto s = this->Mem(text);
    int n = 0;
    std::string tok, prev;
    for (; (tok = this->Tok(s)) != "<end>"; ++n) prev = tok;
    EXPECT_EQ(kWords + 1, n);
    EXPECT_EQ("last\"", prev);
    EXPECT_EQ(text.size(), s.GetTokenPos());

    auto t = this->Mem(text);
    EXPECT_EQ(text.size() - 1, this->ToChar(t, '"', 1, 0).size());
    EXPECT_EQ("\"", this->ToStr(t, "\"", 0, 1));
}

// ------------------------------------------ encodings of the 16-bit stream

// Units whose bytes in memory are these bytes, NUL-terminated.
std::vector<unsigned short> FromBytes(const std::string& bytes) {
    std::vector<unsigned short> v(bytes.size() / 2 + 2, 0);
    std::memcpy(v.data(), bytes.data(), bytes.size());
    return v;
}

std::u16string NextTok(CTokenDataStreamU& s) {
    UString tok;
    int n;
    return s.GetToken(tok, UString(u" "), n) ? Units(tok) : u"<end>";
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
    for (CTokenDataStreamU* p : {&s, &c}) {
        EXPECT_EQ(u"\u00e9f", NextTok(*p));
        EXPECT_EQ(10u, p->m_curPos.m_dwCurLinePos);
        EXPECT_EQ(12u, p->GetTokenPos());
        EXPECT_EQ(u"\u4e2d", NextTok(*p));
    }
}

TEST(TokenStreamU, MemoryUtf8CountsBytes) {
    // "hé wörld" (10 bytes), LF, "z中\""
    std::vector<unsigned short> buf = FromBytes("h\xC3\xA9 w\xC3\xB6rld\nz\xE4\xB8\xAD\"");
    CTokenDataStreamU s(buf.data(), 0);
    EXPECT_EQ(1, s.m_nEndian);
    s.SetEndian(3);
    EXPECT_EQ(u"h\u00e9", NextTok(s));
    EXPECT_EQ(u"w\u00f6rld", NextTok(s));
    EXPECT_EQ(11u, s.m_curPos.m_dwNextLinePos);
    s.GetTokenBack(1);
    UString tok;
    ASSERT_TRUE(s.GetTokenToDelimChar('"', tok, 1, 0));
    EXPECT_EQ(u" w\u00f6rldz\u4e2d", Units(tok));
    EXPECT_EQ(11u, s.m_curPos.m_dwCurLinePos);
}

}  // namespace

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

// Restores the ring size whatever the test does.
template <class Stream>
struct RingSizeGuard {
    ~RingSizeGuard() { Stream::m_nAUTOTOKSTACKSIZE = 10; }
};

// ---------------------------------------------------------------- GetToken

TYPED_TEST(TokenStream, TokensCrossLinesOfEveryEndAndSkipEmptyOnes) {
    // "  ab, cd" CR LF, empty line CR LF, "\tef" CR, "g;h"
    typename TypeParam::Stream s(this->Text("  ab, cd\r\n\r\n\tef\rg;h"), 0);
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
    EXPECT_EQ(19u, s.GetTokenPos());

    // At the end: fails, and the position is as it was.
    EXPECT_EQ("<end>", this->Tok(s, ",;"));
    EXPECT_EQ(19u, s.GetTokenPos());
    EXPECT_EQ("<end>", this->Tok(s, ",;"));
    // The failed reads left nothing in the ring: one step back is "h" again.
    s.GetTokenBack(1);
    EXPECT_EQ("h", this->Tok(s, ",;"));
}

TYPED_TEST(TokenStream, TokenNeverJoinsTwoLines) {
    typename TypeParam::Stream s(this->Text("ab\ncd\n\n\n"), 0);
    EXPECT_EQ("ab", this->Tok(s));
    EXPECT_EQ("cd", this->Tok(s));
    EXPECT_EQ("<end>", this->Tok(s));  // trailing empty lines hold no token
    EXPECT_EQ(3u + 2u, s.GetTokenPos());
}

TYPED_TEST(TokenStream, GetTokenTestLeavesThePositionButTakesARingSlot) {
    typename TypeParam::Stream s(this->Text("a b\nc d"), 0);
    EXPECT_EQ("a", this->Tok(s));
    EXPECT_EQ("b", this->Tok(s));
    EXPECT_EQ("c", this->TokTest(s));  // crosses a line and comes back
    EXPECT_EQ(3u, s.GetTokenPos());
    EXPECT_EQ("a b", std::string(TypeParam::N(s.m_curPos.m_strLine)));
    EXPECT_EQ(0, s.m_aryTokStack.GetSize());
    EXPECT_EQ(3, s.m_nAutoTokStackPos);
    // Two steps back is before "b", not before "a".
    s.GetTokenBack(2);
    EXPECT_EQ("b", this->Tok(s));
    EXPECT_EQ("c", this->Tok(s));
    EXPECT_EQ("d", this->Tok(s));
    EXPECT_EQ("<end>", this->TokTest(s));
    EXPECT_EQ(7u, s.GetTokenPos());
}

// ---------------------------------------------------------------- the ring

TYPED_TEST(TokenStream, RingWrapsAtTen) {
    const char* text = "t0 t1 t2 t3 t4 t5 t6 t7 t8 t9 t10 t11 t12 t13";
    {
        // Eleven reads: the eleventh saved in slot 0; back 11 is back 1.
        typename TypeParam::Stream s(this->Text(text), 0);
        for (int i = 0; i < 11; ++i) ASSERT_EQ("t" + std::to_string(i), this->Tok(s));
        EXPECT_EQ(1, s.m_nAutoTokStackPos);
        s.GetTokenBack(11);
        EXPECT_EQ(0, s.m_nAutoTokStackPos);
        EXPECT_EQ("t10", this->Tok(s));
    }
    {
        // Twelve reads, back 3 wraps to slot 9: before the tenth read.
        typename TypeParam::Stream s(this->Text(text), 0);
        for (int i = 0; i < 12; ++i) ASSERT_EQ("t" + std::to_string(i), this->Tok(s));
        s.GetTokenBack(3);
        EXPECT_EQ(9, s.m_nAutoTokStackPos);
        EXPECT_EQ("t9", this->Tok(s));
        // Back 0 restores the slot at the index: saved ten reads earlier.
        s.GetTokenBack(0);
        EXPECT_EQ(0, s.m_nAutoTokStackPos);
        EXPECT_EQ("t10", this->Tok(s));
    }
    {
        // Far more than the ring holds: index 0, not an unused slot (which
        // would go back to the "x" the stream started past).
        typename TypeParam::Stream s(this->Text(std::string("x") + text), 1);
        EXPECT_EQ("t0", this->Tok(s));
        EXPECT_EQ("t1", this->Tok(s));
        s.GetTokenBack(1);
        s.GetTokenBack(25);
        EXPECT_EQ(0, s.m_nAutoTokStackPos);
        EXPECT_EQ("t0", this->Tok(s));
    }
}

TYPED_TEST(TokenStream, BackZeroOnAFreshRingGivesTheEmptyPosition) {
    // The stream starts past the "x"; the unused slot is all zero, so
    // restoring it goes back to the start of the buffer.
    typename TypeParam::Stream s(this->Text("xt0 t1"), 1);
    EXPECT_EQ(1u, s.m_curPos.m_dwCurLinePos);
    EXPECT_EQ(1u, s.m_curPos.m_dwNextLinePos);
    EXPECT_EQ(1u, s.m_curPos.m_dwColumn);
    EXPECT_EQ("t0", this->Tok(s));
    EXPECT_EQ(3u, s.GetTokenPos());
    s.GetTokenBack(0);
    EXPECT_EQ(0u, s.m_curPos.m_dwCurLinePos);
    EXPECT_EQ(0u, s.m_curPos.m_dwNextLinePos);
    EXPECT_EQ(0u, s.m_curPos.m_dwColumn);
    EXPECT_TRUE(s.m_curPos.m_strLine.IsEmpty());
    EXPECT_EQ("xt0", this->Tok(s));
}

TYPED_TEST(TokenStream, EveryKindOfReadCanBeTakenBack) {
    typename TypeParam::Stream s(this->Text("abc \"q\" :: rest\nnext"), 0);
    std::string out;
    EXPECT_EQ(1, this->Read(s, 2, out));
    EXPECT_EQ("c", this->Tok(s));
    EXPECT_EQ(1, this->ToChar(s, '"', 0, 1, out));
    EXPECT_EQ(" \"", out);
    EXPECT_EQ(1, this->ToStr(s, "::", 0, 1, out));
    EXPECT_EQ("q\" ::", out);
    EXPECT_EQ(" rest", this->Skip(s));
    s.GetTokenBack(1);
    EXPECT_EQ(10u, s.GetTokenPos());
    s.GetTokenBack(3);
    EXPECT_EQ(2u, s.GetTokenPos());
    s.GetTokenBack(1);
    EXPECT_EQ(0u, s.GetTokenPos());
    EXPECT_EQ("abc", this->Tok(s));
}

TYPED_TEST(TokenStream, RingSizeAboveTenStaysInsideTheSlots) {
    typedef typename TypeParam::Stream Stream;
    RingSizeGuard<Stream> guard;
    Stream::m_nAUTOTOKSTACKSIZE = 25;
    std::string text;
    for (int i = 0; i < 40; ++i) text += "w" + std::to_string(i) + " ";
    Stream s(this->Text(text), 0);
    for (int i = 0; i < 30; ++i) {
        ASSERT_EQ("w" + std::to_string(i), this->Tok(s));
        ASSERT_GE(s.m_nAutoTokStackPos, 0);
        ASSERT_LT(s.m_nAutoTokStackPos, 10);
    }
    s.GetTokenBack(3);
    EXPECT_LT(s.m_nAutoTokStackPos, 10);
    EXPECT_EQ("w27", this->Tok(s));
    s.GetTokenBack(40);
    EXPECT_GE(s.m_nAutoTokStackPos, 0);
    EXPECT_LT(s.m_nAutoTokStackPos, 10);
}

// ---------------------------------------------------- up to a delimiter char

TYPED_TEST(TokenStream, DelimCharIncludedOrLeftAsNextCharacter) {
    std::string out;
    typename TypeParam::Stream a(this->Text("s abc\"def"), 0);
    EXPECT_EQ("s", this->Tok(a));
    EXPECT_EQ(1, this->ToChar(a, '"', 0, 1, out));
    EXPECT_EQ(" abc\"", out);
    EXPECT_EQ("def", this->Tok(a));

    typename TypeParam::Stream b(this->Text("s abc\"def"), 0);
    EXPECT_EQ("s", this->Tok(b));
    EXPECT_EQ(1, this->ToChar(b, '"', 0, 0, out));
    EXPECT_EQ(" abc", out);
    EXPECT_EQ(5u, b.GetTokenPos());
    EXPECT_EQ(1, this->Read(b, 1, out));
    EXPECT_EQ("\"", out);
}

TYPED_TEST(TokenStream, DelimCharBackslashEscapesAndStays) {
    std::string out;
    typename TypeParam::Stream s(this->Text("s a\\\"b\"c"), 0);  // s a\"b"c
    EXPECT_EQ("s", this->Tok(s));
    EXPECT_EQ(1, this->ToChar(s, '"', 0, 0, out));
    EXPECT_EQ(" a\\\"b", out);
    EXPECT_EQ(6u, s.GetTokenPos());

    // An escaped backslash does not escape the delimiter after it.
    typename TypeParam::Stream t(this->Text("s x\\\\\"y"), 0);  // s x\\"y
    EXPECT_EQ("s", this->Tok(t));
    EXPECT_EQ(1, this->ToChar(t, '"', 0, 1, out));
    EXPECT_EQ(" x\\\\\"", out);

    // An escape carried onto the next line is not a delimiter either.
    typename TypeParam::Stream u(this->Text("a\\\"b\nc\""), 0);
    EXPECT_EQ(1, this->ToChar(u, '"', 1, 1, out));
    EXPECT_EQ("a\\\"bc\"", out);
}

TYPED_TEST(TokenStream, DelimCharFailuresThatRestore) {
    std::string out;
    // A line ending right after a backslash fails, multi-line or not.
    typename TypeParam::Stream s(this->Text("x ab\\\nc\""), 0);
    EXPECT_EQ("x", this->Tok(s));
    EXPECT_EQ(0, this->ToChar(s, '"', 1, 1, out));
    EXPECT_EQ(1u, s.GetTokenPos());
    EXPECT_EQ("x ab\\", TypeParam::N(s.m_curPos.m_strLine));
    EXPECT_EQ("ab\\", this->Tok(s));

    // No delimiter on the line and no multi-line: fails, restored.
    typename TypeParam::Stream n(this->Text("x abc\nd\""), 0);
    EXPECT_EQ("x", this->Tok(n));
    EXPECT_EQ(0, this->ToChar(n, '"', 0, 1, out));
    EXPECT_EQ(1u, n.GetTokenPos());
    EXPECT_EQ("abc", this->Tok(n));

    // Backslash and NUL are never found.
    typename TypeParam::Stream t(this->Text("s a\\b\\c"), 0);
    EXPECT_EQ("s", this->Tok(t));
    EXPECT_EQ(0, this->ToChar(t, '\\', 0, 1, out));
    EXPECT_EQ(1u, t.GetTokenPos());
    EXPECT_EQ(0, this->ToChar(t, '\0', 0, 1, out));
    EXPECT_EQ(1u, t.GetTokenPos());
    EXPECT_EQ(0, this->ToChar(t, '\0', 1, 1, out));
    t.GetTokenBack(1);
    EXPECT_EQ("a\\b\\c", this->Tok(t));
}

TYPED_TEST(TokenStream, DelimCharMultiLineBreaksOnlyForEmptyLines) {
    std::string out;
    const char* texts[] = {"a\n\nb\"", "a\r\n\r\nb\"", "a\r\rb\""};
    for (const char* text : texts) {
        typename TypeParam::Stream s(this->Text(text), 0);
        EXPECT_EQ(1, this->ToChar(s, '"', 1, 1, out));
        EXPECT_EQ("a\r\nb\"", out);
    }
    typename TypeParam::Stream s(this->Text("a\nb\"z"), 0);
    EXPECT_EQ(1, this->ToChar(s, '"', 1, 0, out));
    EXPECT_EQ("ab", out);
    EXPECT_EQ(2u + 1u, s.GetTokenPos());
    EXPECT_EQ("\"z", this->Tok(s));
}

TYPED_TEST(TokenStream, DelimCharRunningOutDoesNotRestore) {
    std::string out;
    typename TypeParam::Stream s(this->Text("x ab\ncd\n"), 0);
    EXPECT_EQ("x", this->Tok(s));
    EXPECT_EQ(0, this->ToChar(s, '"', 1, 1, out));
    // The stream stays at the end of the data ...
    EXPECT_EQ("<end>", this->Tok(s));
    // ... and one step back still reaches the start of the failed read.
    s.GetTokenBack(1);
    EXPECT_EQ(1u, s.GetTokenPos());
    EXPECT_EQ("ab", this->Tok(s));
}

// -------------------------------------------------- up to a delimiter string

TYPED_TEST(TokenStream, DelimStrOnOneLine) {
    std::string out;
    typename TypeParam::Stream s(this->Text("s key := a\\\"b\" := c"), 0);
    EXPECT_EQ("s", this->Tok(s));
    EXPECT_EQ(1, this->ToStr(s, ":=", 0, 0, out));
    EXPECT_EQ(" key ", out);
    EXPECT_EQ(1, this->Read(s, 2, out));
    EXPECT_EQ(":=", out);
    // No escapes: the backslash does not hide the quote.
    EXPECT_EQ(1, this->ToStr(s, "\"", 0, 1, out));
    EXPECT_EQ(" a\\\"", out);
    EXPECT_EQ(1, this->ToStr(s, ":=", 0, 1, out));
    EXPECT_EQ("b\" :=", out);
    EXPECT_EQ(0, this->ToStr(s, ":=", 0, 1, out));
    EXPECT_EQ(17u, s.GetTokenPos());
    EXPECT_EQ("c", this->Tok(s));
}

TYPED_TEST(TokenStream, DelimStrOneBreakPerLineCrossed) {
    std::string out;
    const char* texts[] = {"a\n\nb\"", "a\r\n\r\nb\"", "a\r\rb\""};
    for (const char* text : texts) {
        typename TypeParam::Stream s(this->Text(text), 0);
        EXPECT_EQ(1, this->ToStr(s, "\"", 1, 0, out));
        EXPECT_EQ("a\r\n\r\nb", out);
    }
    typename TypeParam::Stream s(this->Text("a\nb\""), 0);
    EXPECT_EQ(1, this->ToStr(s, "\"", 1, 1, out));
    EXPECT_EQ("a\r\nb\"", out);

    // A fresh stream starting with an empty line crosses that line's end.
    typename TypeParam::Stream e(this->Text("\nb\""), 0);
    EXPECT_EQ(1, this->ToStr(e, "\"", 1, 0, out));
    EXPECT_EQ("\r\nb", out);

    // After a read, the rest of the current line and its end come first.
    typename TypeParam::Stream m(this->Text("x y\na\nb\""), 0);
    EXPECT_EQ("x", this->Tok(m));
    EXPECT_EQ(1, this->ToStr(m, "\"", 1, 0, out));
    EXPECT_EQ(" y\r\na\r\nb", out);
}

TYPED_TEST(TokenStream, DelimStrFailureRestoresButKeepsTheText) {
    std::string out;
    typename TypeParam::Stream s(this->Text("x ab\ncd"), 0);
    EXPECT_EQ("x", this->Tok(s));
    EXPECT_EQ(0, this->ToStr(s, "\"", 1, 1, out));
    EXPECT_EQ(0u, out.find(" ab\r\ncd"));
    EXPECT_EQ(1u, s.GetTokenPos());
    EXPECT_EQ("ab", this->Tok(s));
    EXPECT_EQ("cd", this->Tok(s));
}

// ------------------------------------------------- counted reads, skipping

TYPED_TEST(TokenStream, ReadCharCountsNoLineBreaks) {
    std::string out;
    typename TypeParam::Stream s(this->Text("abc\r\n\r\ndefg"), 0);
    EXPECT_EQ(1, this->Peek(s, 5, out));
    EXPECT_EQ("abcde", out);
    EXPECT_EQ(0u, s.GetTokenPos());
    EXPECT_EQ(1, this->Read(s, 5, out));
    EXPECT_EQ("abcde", out);
    EXPECT_EQ(7u + 2u, s.GetTokenPos());
    EXPECT_EQ(0, this->Read(s, 3, out));  // only "fg" left
    EXPECT_EQ(0, this->Peek(s, 3, out));
    EXPECT_EQ(9u, s.GetTokenPos());
    EXPECT_EQ(1, this->Read(s, 2, out));
    EXPECT_EQ("fg", out);
    EXPECT_EQ(0, this->Read(s, 1, out));
}

TYPED_TEST(TokenStream, SkipCurLineGivesTheRest) {
    typename TypeParam::Stream s(this->Text("a b c\n\n d e"), 0);
    EXPECT_EQ("", this->Skip(s));  // nothing read yet: no current line
    EXPECT_EQ("a", this->Tok(s));
    EXPECT_EQ(" b c", this->Skip(s));
    EXPECT_EQ("", this->Skip(s));
    EXPECT_EQ("d", this->Tok(s));
    s.GetTokenBack(3);
    EXPECT_EQ("b", this->Tok(s));
}

// ------------------------------------------- explicit stack, held positions

TYPED_TEST(TokenStream, ExplicitStackNestsAndLeavesTheRingAlone) {
    typename TypeParam::Stream s(this->Text("a b\nc d e"), 0);
    EXPECT_EQ("a", this->Tok(s));
    s.PopTokenPos();  // empty: nothing happens
    EXPECT_EQ(1u, s.GetTokenPos());
    for (int i = 0; i < 12; ++i) s.PushTokenPos();  // past the growth step
    EXPECT_EQ("b", this->Tok(s));
    s.PushTokenPos();
    EXPECT_EQ("c", this->Tok(s));
    s.PopTokenPos();
    EXPECT_EQ("c", this->Tok(s));
    for (int i = 0; i < 12; ++i) s.PopTokenPos();
    EXPECT_EQ(0, s.m_aryTokStack.GetSize());
    EXPECT_EQ(1u, s.GetTokenPos());
    EXPECT_EQ("a b", TypeParam::N(s.m_curPos.m_strLine));
    // Pushes and pops left the ring alone: back 4 is before "a".
    EXPECT_EQ(4, s.m_nAutoTokStackPos);
    s.GetTokenBack(4);
    EXPECT_EQ("a", this->Tok(s));
}

TYPED_TEST(TokenStream, RewindToAHeldPosition) {
    typename TypeParam::Stream s(this->Text("a b\nc d"), 0);
    EXPECT_EQ("a", this->Tok(s));
    typename TypeParam::Item held = s.GetCurTokenStack();
    EXPECT_EQ("b", this->Tok(s));
    EXPECT_EQ("c", this->Tok(s));
    int ring = s.m_nAutoTokStackPos;
    s.RewindToStack(held);
    EXPECT_EQ(ring, s.m_nAutoTokStackPos);
    EXPECT_EQ(1u, s.GetTokenPos());
    EXPECT_EQ("b", this->Tok(s));
    EXPECT_EQ("c", this->Tok(s));
}

TYPED_TEST(TokenStream, CopiesCarryTheRingAndTheStack) {
    typedef typename TypeParam::Stream Stream;
    // Started past the "x": an empty ring slot would go back to it.
    Stream s(this->Text("xa b c\nd e"), 1);
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
    std::string out;
    EXPECT_EQ("<end>", this->Tok(s));
    EXPECT_EQ("<end>", this->TokTest(s));
    EXPECT_EQ(0, this->ToChar(s, '"', 0, 1, out));
    EXPECT_EQ(0, this->ToChar(s, '"', 1, 1, out));
    EXPECT_EQ(0, this->ToStr(s, "\"", 0, 1, out));
    EXPECT_EQ(0, this->ToStr(s, "\"", 1, 1, out));
    EXPECT_EQ(0, this->Read(s, 1, out));
    EXPECT_EQ(0, this->Peek(s, 1, out));
    EXPECT_EQ("", this->Skip(s));
    s.GetTokenBack(5);
    s.GetTokenBack(0);
    s.PopTokenPos();
    s.PushTokenPos();
    s.PopTokenPos();
    EXPECT_EQ("<end>", this->Tok(s));
    EXPECT_EQ(0u, s.GetTokenPos());
}

TYPED_TEST(TokenStream, StartOffsetSkipsTheFirstCharacter) {
    typename TypeParam::Stream s(this->Text("\"abc\" d\ne"), 1);
    EXPECT_EQ("abc", this->Tok(s, "\""));
    EXPECT_EQ(4u, s.GetTokenPos());
    EXPECT_EQ(1u, s.m_curPos.m_dwCurLinePos);
    EXPECT_EQ(8u, s.m_curPos.m_dwNextLinePos);
}

TYPED_TEST(TokenStream, OneMegabyteLineToTheEnd) {
    std::string text;
    text.reserve(1 << 20);
    const int kWords = (1 << 20) / 8;
    for (int i = 0; i < kWords; ++i) text += "abcdefg ";
    text += "last\"";
    typename TypeParam::Stream s(this->Text(text), 0);
    int n = 0;
    std::string tok, prev;
    while ((tok = this->Tok(s)) != "<end>") {
        prev = tok;
        ++n;
    }
    EXPECT_EQ(kWords + 1, n);
    EXPECT_EQ("last\"", prev);
    EXPECT_EQ(static_cast<unsigned long>(text.size()), s.GetTokenPos());

    typename TypeParam::Stream t(this->Text(text), 0);
    std::string out;
    EXPECT_EQ(1, this->ToChar(t, '"', 1, 0, out));
    EXPECT_EQ(text.size() - 1, out.size());
    EXPECT_EQ(1, this->ToStr(t, "\"", 0, 1, out));
    EXPECT_EQ("\"", out);
}

// ------------------------------------------ encodings of the 16-bit stream

// Units whose bytes in memory are these bytes, NUL-terminated.
std::vector<unsigned short> FromBytes(const std::string& bytes) {
    std::vector<unsigned short> v(bytes.size() / 2 + 2, 0);
    std::memcpy(v.data(), bytes.data(), bytes.size());
    return v;
}
std::string Utf16Bytes(const std::u16string& s, bool bBig) {
    std::string out;
    for (char16_t c : s) {
        char lo = static_cast<char>(c & 0xFF), hi = static_cast<char>(c >> 8);
        out += bBig ? std::string{hi, lo} : std::string{lo, hi};
    }
    return out;
}

std::string Bytes(const char* s) { return std::string(s); }

TEST(TokenStreamU, MemoryBigEndianAndTheSwitchAtTheNextLine) {
    // The first line little-endian, the rest big-endian.
    std::vector<unsigned short> buf =
        FromBytes(Utf16Bytes(u"ab xy\n", false) + Utf16Bytes(u"cd\r\n\u00e9f \u4e2d", true));
    CTokenDataStreamU s(buf.data(), 0);
    UString tok, delims(u" ");
    int n;
    ASSERT_TRUE(s.GetToken(tok, delims, n));
    EXPECT_EQ(u"ab", Units(tok));
    s.SetEndian(2);  // the current line stays as read
    ASSERT_TRUE(s.GetToken(tok, delims, n));
    EXPECT_EQ(u"xy", Units(tok));
    ASSERT_TRUE(s.GetToken(tok, delims, n));
    EXPECT_EQ(u"cd", Units(tok));
    CTokenDataStreamU c(s);  // the copy reads big-endian too
    EXPECT_EQ(2, c.m_nEndian);
    for (CTokenDataStreamU* p : {&s, &c}) {
        ASSERT_TRUE(p->GetToken(tok, delims, n));
        EXPECT_EQ(u"\u00e9f", Units(tok));
        EXPECT_EQ(10u, p->m_curPos.m_dwCurLinePos);
        EXPECT_EQ(12u, p->GetTokenPos());
        ASSERT_TRUE(p->GetToken(tok, delims, n));
        EXPECT_EQ(u"\u4e2d", Units(tok));
    }
}

TEST(TokenStreamU, MemoryUtf8CountsBytes) {
    // "hé wörld" (10 bytes), LF, "z"
    std::vector<unsigned short> buf = FromBytes(Bytes("h\xC3\xA9 w\xC3\xB6rld\nz\xE4\xB8\xAD\""));
    CTokenDataStreamU s(buf.data(), 0);
    EXPECT_EQ(1, s.m_nEndian);
    s.SetEndian(3);
    UString tok, delims(u" ");
    int n;
    ASSERT_TRUE(s.GetToken(tok, delims, n));
    EXPECT_EQ(u"h\u00e9", Units(tok));
    ASSERT_TRUE(s.GetToken(tok, delims, n));
    EXPECT_EQ(u"w\u00f6rld", Units(tok));
    EXPECT_EQ(11u, s.m_curPos.m_dwNextLinePos);
    s.GetTokenBack(1);
    ASSERT_TRUE(s.GetTokenToDelimChar('"', tok, 1, 0));
    EXPECT_EQ(u" w\u00f6rldz\u4e2d", Units(tok));
    EXPECT_EQ(11u, s.m_curPos.m_dwCurLinePos);
}

}  // namespace

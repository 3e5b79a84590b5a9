// The token data stream over text in memory and over open files, for both
// widths, plus the encodings only the 16-bit stream has.
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "widths.h"

using testsupport::Units;
using testsupport::Utf16;

namespace {

// Typed fixture: streams over memory it keeps alive or over one temporary
// file; the calls give their results as std::string ("<end>" or "<fail>"
// when the call fails).
template <class T>
class TokenStream : public ::testing::Test {
protected:
    typedef typename T::Stream Stream;
    typedef typename T::Str Str;

    ~TokenStream() override {
        if (m_h) API_CloseFile(m_h);
    }
    static Str S(const std::string& a) { return widths::S<T>(a); }
    static std::string N(const Str& s) { return widths::N<T>(s); }
    Stream Mem(const std::string& a, unsigned long dwStart = 0) {
        m_bufs.push_back(widths::Buf<T>(a));
        return Stream(m_bufs.back().data(), dwStart);
    }
    // A stream over a file that holds these bytes; Tell() is its pointer.
    Stream File(const std::string& bytes) {
        m_file.Write(bytes);
        m_h = Byte_OpenFile(m_file.path(), 0xC0000000u, 3, 1);
        EXPECT_TRUE(m_h);
        return Stream(m_h, 0);
    }
    long Tell() const { return API_SeekFile(m_h, 0, 1); }

    static std::string Res(int r, const Str& t) { return r ? N(t) : "<fail>"; }
    // GetToken, or with bTest GetTokenTest; "<end>" when it fails.
    static std::string Tok(Stream& s, const char* delims = " ", int* pIndex = nullptr, bool bTest = false) {
        Str t;
        int n = -2;
        if (!(bTest ? s.GetTokenTest(t, S(delims), n) : s.GetToken(t, S(delims), n))) return "<end>";
        if (pIndex) *pIndex = n;
        return N(t);
    }
    // The delimiter reads: kind 'c' the char form, 's' the string form.
    static std::string To(Stream& s, char kind, const char* delim, int bMulti, int bInclude) {
        Str t;
        int r = kind == 'c' ? s.GetTokenToDelimChar(static_cast<typename T::Ch>(*delim), t, bMulti, bInclude)
                            : s.GetTokenToDelimStr(S(delim), t, bMulti, bInclude);
        return Res(r, t);
    }
    static std::string Read(Stream& s, int n, bool bPeek = false) {
        Str t;
        return Res(bPeek ? s.ReadTest(t, n) : s.ReadChar(t, n), t);
    }
    static std::string Skip(Stream& s) {
        Str t;
        s.SkipCurLine(t);
        return N(t);
    }

    std::deque<std::vector<typename T::Ch>> m_bufs;
    testsupport::TempFile m_file{"tokens.txt"};
    void* m_h = nullptr;
};
TYPED_TEST_SUITE(TokenStream, widths::Widths);

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
    struct Restore {
        ~Restore() { Stream::m_nAUTOTOKSTACKSIZE = 10; }
    } restore;
    std::string text;
    for (int i = 0; i < 40; ++i) text += "t" + std::to_string(i) + " ";
    // Each row: a stream over "x" * nStart + text from nStart on, nReads
    // tokens read, then steps of GetTokenBack(n), each followed by a read
    // of the expected token when there is one.
    const struct {
        unsigned long nStart;
        int nRing, nReads;
        std::vector<std::pair<int, const char*>> steps;
    } cases[] = {
        // The eleventh read went to the slot of the first: back 11 is back 1.
        {0, 10, 11, {{11, "t10"}}},
        // Back 3 after twelve reads, then back 0: the slot saved ten reads before.
        {0, 10, 12, {{3, "t9"}, {0, "t10"}}},
        // Back far more than the ring holds stops at its first slot.
        {1, 10, 2, {{1, nullptr}, {25, "t0"}}},
        // Back 0 on a fresh ring restores an unused, all-zero slot: the
        // start of the buffer.
        {1, 10, 1, {{0, "xt0"}}},
        {0, 25, 30, {{10, "t20"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.nReads);
        Stream::m_nAUTOTOKSTACKSIZE = c.nRing;
        auto s = this->Mem(std::string(c.nStart, 'x') + text, c.nStart);
        EXPECT_EQ(c.nStart, s.m_curPos.m_dwNextLinePos);
        for (int i = 0; i < c.nReads; ++i) ASSERT_EQ("t" + std::to_string(i), this->Tok(s));
        for (const auto& step : c.steps) {
            s.GetTokenBack(step.first);
            if (step.second) {
                EXPECT_EQ(step.second, this->Tok(s));
            }
        }
    }
}

// Reads up to a delimiter, each on a fresh stream after the tokens in
// `skip`; `next` is the token read after it.
TYPED_TEST(TokenStream, DelimiterReads) {
    const struct {
        const char *text, *skip;
        char kind;
        const char* delim;
        int bMulti, bInclude;
        const char *want, *next;
    } cases[] = {
        // The char form honours backslash escapes; a delimiter not
        // included is left as the next character.
        {"s a\\\"b\"c", "s", 'c', "\"", 0, 0, " a\\\"b", "\"c"},
        // An escaped backslash does not escape the delimiter after it.
        {"s x\\\\\"y", "s", 'c', "\"", 0, 1, " x\\\\\"", "y"},
        // An escape carried onto the next line is not a delimiter either.
        {"a\\\"b\nc\"", "", 'c', "\"", 1, 1, "a\\\"bc\"", "<end>"},
        // The string form has no escapes.
        {"s key := a\\\"b\" := c", "s", 's', ":=", 0, 0, " key ", ":="},
        {"s key := a\\\"b\" := c", "s", 's', "\"", 0, 1, " key := a\\\"", "b\""},
        // One "\r\n" for each empty line crossed by the char form, one per
        // line end by the string form, whatever the line ends are.
        {"a\n\nb\"", "", 'c', "\"", 1, 1, "a\r\nb\"", "<end>"},
        {"a\r\n\r\nb\"", "", 'c', "\"", 1, 1, "a\r\nb\"", "<end>"},
        {"a\r\rb\"", "", 'c', "\"", 1, 1, "a\r\nb\"", "<end>"},
        {"a\n\nb\"", "", 's', "\"", 1, 0, "a\r\n\r\nb", "\""},
        {"a\r\n\r\nb\"", "", 's', "\"", 1, 0, "a\r\n\r\nb", "\""},
        {"a\r\rb\"", "", 's', "\"", 1, 0, "a\r\n\r\nb", "\""},
        {"a\nb\"z", "", 'c', "\"", 1, 0, "ab", "\"z"},
        // A fresh stream crosses the first line's end; after a read, the
        // rest of the line comes first.
        {"\nb\"", "", 's', "\"", 1, 0, "\r\nb", "\""},
        {"x y\na\nb\"", "x", 's', "\"", 1, 0, " y\r\na\r\nb", "\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " to " + c.kind + c.delim);
        auto s = this->Mem(c.text);
        if (*c.skip) {
            ASSERT_EQ(c.skip, this->Tok(s));
        }
        EXPECT_EQ(c.want, this->To(s, c.kind, c.delim, c.bMulti, c.bInclude));
        EXPECT_EQ(c.next, this->Tok(s));
    }
}

// Failures restore the position, except running out of data in a
// multi-line char read: that stays at the end, one step back from the start.
TYPED_TEST(TokenStream, FailuresRestoreOrNot) {
    auto s = this->Mem("x ab\\\nc\"");  // a line ending right after a backslash
    EXPECT_EQ("x", this->Tok(s));
    EXPECT_EQ("<fail>", this->To(s, 'c', "\"", 1, 1));
    EXPECT_EQ("ab\\", this->Tok(s));

    auto t = this->Mem("s a\\b\\c := x");  // backslash and NUL are never found
    EXPECT_EQ("s", this->Tok(t));
    EXPECT_EQ("<fail>", this->To(t, 'c', "\\", 0, 1));
    EXPECT_EQ("<fail>", this->To(t, 'c', "", 0, 1));
    EXPECT_EQ("<fail>", this->To(t, 's', "=:", 0, 1));
    EXPECT_EQ(1u, t.GetTokenPos());

    auto n = this->Mem("x ab\ncd\n");
    EXPECT_EQ("x", this->Tok(n));
    typename TypeParam::Str out;
    EXPECT_EQ(0, n.GetTokenToDelimStr(this->S("\""), out, 1, 1));
    EXPECT_EQ(0u, this->N(out).find(" ab\r\ncd"));  // the text read is kept
    EXPECT_EQ(1u, n.GetTokenPos());
    EXPECT_EQ("<fail>", this->To(n, 'c', "\"", 1, 1));
    EXPECT_EQ("<end>", this->Tok(n));
    n.GetTokenBack(1);
    EXPECT_EQ("ab", this->Tok(n));
}

TYPED_TEST(TokenStream, CountedReadsAndSkipCurLine) {
    auto s = this->Mem("abc\r\n\r\ndefg");
    EXPECT_EQ("abcde", this->Read(s, 5, true));  // no line breaks counted
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
    EXPECT_EQ("<fail>", this->To(s, 'c', "\"", 1, 1));
    EXPECT_EQ("<fail>", this->To(s, 's', "\"", 1, 1));
    EXPECT_EQ("<fail>", this->Read(s, 1, true));
    EXPECT_EQ("", this->Skip(s));
    s.GetTokenBack(0);
    s.PushTokenPos();
    s.PopTokenPos();
    EXPECT_EQ("<end>", this->Tok(s));
}

// ---- Over open files: positions count bytes, and every restore seeks ----

TYPED_TEST(TokenStream, FileEveryRestoreSeeksTheFile) {
    const long u = static_cast<long>(TypeParam::kUnit);
    // Lines start at 0, 6, 9 (empty), 10 and 16.
    auto s = this->File(TypeParam::FileBytes("ab cd\nxx\n\nef gh\nij"));
    EXPECT_EQ("ab", this->Tok(s));
    EXPECT_EQ(6 * u, s.m_curPos.m_dwNextLinePos);
    s.PushTokenPos();
    EXPECT_EQ("cd", this->Tok(s));
    auto held = s.GetCurTokenStack();
    EXPECT_EQ("xx", this->Tok(s));
    EXPECT_EQ("ef", this->Tok(s));
    // Back to the end of "xx": the next line read is the empty one.
    s.GetTokenBack(1);
    EXPECT_EQ(9 * u, this->Tell());
    EXPECT_EQ("ef", this->Tok(s));
    EXPECT_EQ("gh", this->Tok(s));
    // Held position at the end of the first line.
    s.RewindToStack(held);
    EXPECT_EQ(6 * u, this->Tell());
    EXPECT_EQ("xx", this->Tok(s));
    // The pushed position, in the middle of the first line.
    s.PopTokenPos();
    EXPECT_EQ(6 * u, this->Tell());
    EXPECT_EQ("cd", this->Tok(s));
    // An empty stack restores nothing and leaves the pointer alone.
    API_SeekFile(this->m_h, 3 * u, 0);
    s.PopTokenPos();
    EXPECT_EQ(3 * u, this->Tell());
}

TYPED_TEST(TokenStream, FileLookAheadAndFailedReadsPutThePointerBack) {
    const long u = static_cast<long>(TypeParam::kUnit);
    auto s = this->File(TypeParam::FileBytes("ab\ncd ef\r\ngh"));
    EXPECT_EQ("a", this->Read(s, 1));
    EXPECT_EQ("<fail>", this->Read(s, 20));
    EXPECT_EQ(3 * u, this->Tell());
    EXPECT_EQ("<fail>", this->To(s, 's', "\"", 1, 1));
    EXPECT_EQ("<fail>", this->To(s, 'c', "\"", 0, 1));
    EXPECT_EQ("b", this->Tok(s));
    EXPECT_EQ("cd", this->Tok(s, " ", nullptr, true));
    EXPECT_EQ("cd", this->Tok(s));
    EXPECT_EQ(" efg", this->Read(s, 4));
    // Running out in a multi-line read stays at the end; one step back
    // returns to the start of the read and to the right place in the file.
    EXPECT_EQ("<fail>", this->To(s, 'c', "\"", 1, 1));
    EXPECT_EQ("<end>", this->Tok(s));
    s.GetTokenBack(1);
    EXPECT_EQ(12 * u, this->Tell());
    EXPECT_EQ("h", this->Tok(s));
}

TYPED_TEST(TokenStream, FileOneMegabyteLineToTheEnd) {
    const int kWords = (1 << 20) / 8;
    std::string text;
    for (int i = 0; i < kWords; ++i) text += "abcdefg ";
    text += "last\r\nz";
    auto s = this->File(TypeParam::FileBytes(text));
    int n = 0;
    while (this->Tok(s) != "last") ASSERT_LT(n++, kWords);
    EXPECT_EQ(kWords, n);
    EXPECT_EQ("z", this->Tok(s));
    EXPECT_EQ((text.size() - 1) * TypeParam::kUnit, s.m_curPos.m_dwCurLinePos);
    s.GetTokenBack(1);
    EXPECT_EQ("z", this->Tok(s));
}

// ---- The encodings of the 16-bit stream ----

typedef TokenStream<widths::Wide> TokenStreamU;

// The next blank-separated token, "<end>" at the end.
std::u16string NextTok(CTokenDataStreamU& s) {
    UString tok;
    int n;
    return s.GetToken(tok, UString(u" "), n) ? Units(tok) : u"<end>";
}

TEST_F(TokenStreamU, MemoryBigEndianAndTheSwitchAtTheNextLine) {
    // The first line little-endian, the rest big-endian: units whose bytes
    // in memory are these bytes.
    std::string bytes = Utf16(u"ab xy\n", false) + Utf16(u"cd\r\n\u00e9f \u4e2d", true);
    std::vector<unsigned short> buf(bytes.size() / 2 + 1, 0);
    std::memcpy(buf.data(), bytes.data(), bytes.size());
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

// Files in UTF-16 of either byte order and in UTF-8: "café x" CR LF, CR LF,
// "y中\u0a0d \"q\"". Positions count the file's bytes.
TEST_F(TokenStreamU, FileEncodings) {
    const std::u16string text = u"caf\u00e9 x\r\n\r\ny\u4e2d\u0a0d \"q\"";
    const char utf8[] = "caf\xC3\xA9 x\r\n\r\ny\xE4\xB8\xAD\xE0\xA8\x8D \"q\"";
    for (int nEndian = 1; nEndian <= 3; ++nEndian) {
        SCOPED_TRACE(nEndian);
        const unsigned long line2 = nEndian == 3 ? 9 : 16, line3 = nEndian == 3 ? 11 : 20;
        CTokenDataStreamU s = File(nEndian == 3 ? utf8 : Utf16(text, nEndian == 2));
        s.SetEndian(nEndian);
        EXPECT_EQ(u"caf\u00e9", NextTok(s));
        EXPECT_EQ(line2, s.m_curPos.m_dwNextLinePos);
        UString tok;
        ASSERT_TRUE(s.GetTokenToDelimStr(UString(u"\""), tok, 1, 0));
        EXPECT_EQ(u" x\r\n\r\ny\u4e2d\u0a0d ", Units(tok));
        EXPECT_EQ(line3, s.m_curPos.m_dwCurLinePos);
        s.GetTokenBack(1);
        EXPECT_EQ(static_cast<long>(line2), Tell());
        EXPECT_EQ(u"x", NextTok(s));
        // A unit whose bytes hold a CR or LF code is not a line end.
        EXPECT_EQ(u"y\u4e2d\u0a0d", NextTok(s));
        EXPECT_EQ(line3, s.m_curPos.m_dwCurLinePos);
        EXPECT_EQ(u"\"q\"", NextTok(s));
        EXPECT_EQ(u"<end>", NextTok(s));
        API_CloseFile(m_h);
        m_h = nullptr;
    }
}

}  // namespace

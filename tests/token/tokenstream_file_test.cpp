// The token data stream over open files: byte positions, the file pointer
// after every kind of restore, shared handles, and the 16-bit encodings.
#include <string>

#include "token/token_support.h"

using testsupport::U;
using testsupport::Units;
using tokentest::NextTok;
using tokentest::OpenTemp;
using tokentest::Widths;

namespace {

template <class T>
class TokenStreamFile : public tokentest::StreamFixture<T> {};
TYPED_TEST_SUITE(TokenStreamFile, Widths);

TYPED_TEST(TokenStreamFile, EveryRestoreSeeksTheFile) {
    const long u = static_cast<long>(TypeParam::kUnit);
    // Lines start at 0, 6, 9 (empty), 10 and 16.
    OpenTemp f("restore.txt", TypeParam::FileBytes("ab cd\nxx\n\nef gh\nij"));
    ASSERT_TRUE(f.h);
    typename TypeParam::Stream s(f.h, 0);
    EXPECT_EQ("ab", this->Tok(s));
    EXPECT_EQ(6 * u, s.m_curPos.m_dwNextLinePos);  // positions count bytes
    s.PushTokenPos();
    EXPECT_EQ("cd", this->Tok(s));
    auto held = s.GetCurTokenStack();
    EXPECT_EQ("xx", this->Tok(s));
    EXPECT_EQ("ef", this->Tok(s));
    // Back to the end of "xx": the next line read is the empty one.
    s.GetTokenBack(1);
    EXPECT_EQ(9 * u, f.Tell());
    EXPECT_EQ("ef", this->Tok(s));
    EXPECT_EQ("gh", this->Tok(s));
    // Held position at the end of the first line.
    s.RewindToStack(held);
    EXPECT_EQ(6 * u, f.Tell());
    EXPECT_EQ("xx", this->Tok(s));
    // The pushed position, in the middle of the first line.
    s.PopTokenPos();
    EXPECT_EQ(6 * u, f.Tell());
    EXPECT_EQ("cd", this->Tok(s));
    // An empty stack restores nothing and leaves the pointer alone.
    API_SeekFile(f.h, 3 * u, 0);
    s.PopTokenPos();
    EXPECT_EQ(3 * u, f.Tell());
}

TYPED_TEST(TokenStreamFile, LookAheadAndFailedReadsPutThePointerBack) {
    const long u = static_cast<long>(TypeParam::kUnit);
    OpenTemp f("fail.txt", TypeParam::FileBytes("ab\ncd ef\r\ngh"));
    ASSERT_TRUE(f.h);
    typename TypeParam::Stream s(f.h, 0);
    EXPECT_EQ("a", this->Read(s, 1));
    EXPECT_EQ("<fail>", this->Read(s, 20));
    EXPECT_EQ(3 * u, f.Tell());
    EXPECT_EQ("<fail>", this->ToStr(s, "\"", 1, 1));
    EXPECT_EQ("<fail>", this->ToChar(s, '"', 0, 1));
    EXPECT_EQ("b", this->Tok(s));
    EXPECT_EQ("cd", this->Tok(s, " ", nullptr, true));
    EXPECT_EQ("cd", this->Tok(s));
    EXPECT_EQ(" efg", this->Read(s, 4));
    // Running out in a multi-line read stays at the end; one step back
    // returns to the start of the read and to the right place in the file.
    EXPECT_EQ("<fail>", this->ToChar(s, '"', 1, 1));
    EXPECT_EQ("<end>", this->Tok(s));
    s.GetTokenBack(1);
    EXPECT_EQ(12 * u, f.Tell());
    EXPECT_EQ("h", this->Tok(s));
}

TYPED_TEST(TokenStreamFile, OneMegabyteLineToTheEnd) {
    const int kWords = (1 << 20) / 8;
    std::string text;
    for (int i = 0; i < kWords; ++i) text += "abcdefg ";
    text += "last\r\nz";
    OpenTemp f("long.txt", TypeParam::FileBytes(text));
    ASSERT_TRUE(f.h);
    typename TypeParam::Stream s(f.h, 0);
    int n = 0;
    while (this->Tok(s) != "last") ASSERT_LT(n++, kWords);
    EXPECT_EQ(kWords, n);
    EXPECT_EQ("z", this->Tok(s));
    EXPECT_EQ((text.size() - 1) * TypeParam::kUnit, s.m_curPos.m_dwCurLinePos);
    s.GetTokenBack(1);
    EXPECT_EQ("z", this->Tok(s));
}

TEST(TokenStreamFileU, Utf16BothByteOrders) {
    for (int nEndian = 1; nEndian <= 2; ++nEndian) {
        SCOPED_TRACE(nEndian);
        OpenTemp f("utf16.txt", testsupport::Utf16(u"\u00e9t\u00e9 x\r\n\r\nz\u4e2d\u0a0d", nEndian == 2));
        ASSERT_TRUE(f.h);
        CTokenDataStreamU s(f.h, 0);
        s.SetEndian(nEndian);
        EXPECT_EQ(u"\u00e9t\u00e9", NextTok(s));
        EXPECT_EQ(u"x", NextTok(s));
        // A unit whose bytes hold a CR or LF code is not a line end.
        EXPECT_EQ(u"z\u4e2d\u0a0d", NextTok(s));
        EXPECT_EQ(18u, s.m_curPos.m_dwCurLinePos);
        EXPECT_EQ(u"<end>", NextTok(s));
    }
}

TEST(TokenStreamFileU, Utf8File) {
    // "café x" CR LF, CR LF, "y中 \"q\"": line starts at bytes 0, 9 and 11.
    OpenTemp f("utf8.txt", "caf\xC3\xA9 x\r\n\r\ny\xE4\xB8\xAD \"q\"");
    ASSERT_TRUE(f.h);
    CTokenDataStreamU s(f.h, 0);
    s.SetEndian(3);
    EXPECT_EQ(u"caf\u00e9", NextTok(s));
    EXPECT_EQ(9u, s.m_curPos.m_dwNextLinePos);
    UString tok;
    ASSERT_TRUE(s.GetTokenToDelimStr(U(u"\""), tok, 1, 0));
    EXPECT_EQ(u" x\r\n\r\ny\u4e2d ", Units(tok));
    EXPECT_EQ(11u, s.m_curPos.m_dwCurLinePos);
    s.GetTokenBack(1);
    EXPECT_EQ(9, f.Tell());
    EXPECT_EQ(u"x", NextTok(s));
}

}  // namespace

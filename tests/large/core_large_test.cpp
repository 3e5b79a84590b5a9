// Large tests of the reading code: lines and runs of text past what a
// string can hold (kMaxLength, a little under 2^31 characters) fail the
// read, in the line readers, the token data stream and the in-memory XML
// parser, instead of coming back cut or spliced; the longest line a string
// can hold is still read whole.
#include <gtest/gtest.h>

#include <vorlix/vorlix.h>

#include <climits>
#include <string>

#include "large/large_support.h"

namespace {

// The longest 8-bit string: its buffer (header, text and NUL) fills an int.
const long long kLongest = static_cast<long long>(INT_MAX) - 16 - 1;

TEST(LargeLines, LongestLineIsReadAndOneMoreFails) {
    std::string why = largetest::MissingMemory(2 * static_cast<unsigned long long>(kLongest) + (64 << 20));
    if (!why.empty()) GTEST_SKIP() << why;
    std::string text(static_cast<std::size_t>(kLongest), 'x');
    text += "\nend";
    MString line;
    unsigned long pos = 0;
    ASSERT_EQ(1, Byte_ReadText1Line(text.c_str(), pos, line, 0));
    EXPECT_EQ(kLongest, line.GetLength());
    EXPECT_EQ(static_cast<unsigned long>(kLongest) + 1, pos);
    line.Empty();

    text.insert(0, 1, 'y');  // one character more
    pos = 0;
    line = "stale";
    EXPECT_EQ(0, Byte_ReadText1Line(text.c_str(), pos, line, 0));
    EXPECT_TRUE(line.IsEmpty());
    EXPECT_EQ(0u, pos);  // the position stays at the line's start

    // The stream ends its data there: no token comes back cut.
    CTokenDataStreamA s(text.c_str(), 0);
    MString tok;
    int n;
    EXPECT_EQ(0, s.GetToken(tok, " ", n));
    EXPECT_TRUE(tok.IsEmpty());
}

TEST(LargeLines, LinePast2To31InAFileFailsAndStays) {
    const unsigned long long nLine = (1ull << 31) + 16;
    std::string why = largetest::MissingMemory(nLine + (64 << 20));
    if (!why.empty()) GTEST_SKIP() << why;
    std::string path = testing::TempDir() + "vorlix_large_line.txt";
    {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_TRUE(f);
        std::string chunk(1 << 20, 'z');
        for (unsigned long long done = 0; done < nLine; done += chunk.size())
            std::fwrite(chunk.data(), 1,
                        static_cast<std::size_t>(std::min<unsigned long long>(chunk.size(), nLine - done)), f);
        std::fputs("\nnext\n", f);
        std::fclose(f);
    }
    void* h = Byte_OpenFile(path.c_str(), 0x80000000, 3, 0);
    ASSERT_TRUE(h);
    MString line = "stale";
    EXPECT_EQ(0, Byte_Read1Line(h, line, 0));
    EXPECT_TRUE(line.IsEmpty());
    EXPECT_EQ(0, API_SeekFile(h, 0, 1));
    API_CloseFile(h);
    std::remove(path.c_str());
}

// A document with a line, or a run of text across lines, longer than a
// string can hold fails with XMLRES_SYNTAX; nothing is cut.
TEST(LargeXml, TextPastTheLimitFailsTheParse) {
    const std::size_t nText = (std::size_t(1) << 31) + 16;
    std::string why = largetest::MissingMemory(2ull * nText + (256 << 20));
    if (!why.empty()) GTEST_SKIP() << why;
    {
        std::string doc = "<a>" + std::string(nText, 'x') + "</a>";
        CAnalXmlA xml;
        EXPECT_EQ(0, xml.FromString(doc.c_str(), 1));
        EXPECT_EQ(XMLRES_SYNTAX, xml.m_nParseResult);
        EXPECT_EQ(0, xml.GetTagCount());
    }
    {
        // Lines of 1 MiB: each one fits, the text node they make does not.
        std::string doc = "<a>";
        doc.reserve(nText + (2 << 20));
        std::string line(1 << 20, 'y');
        line += "\r\n";
        while (doc.size() < nText) doc += line;
        doc += "</a>";
        CAnalXmlA xml;
        EXPECT_EQ(0, xml.FromString(doc.c_str(), 1));
        EXPECT_EQ(XMLRES_SYNTAX, xml.m_nParseResult);
    }
    {
        // An element name of 2^31 characters: the token never becomes a span
        // longer than an int.
        std::string doc = "<" + std::string(nText, 'n') + "/>";
        CAnalXmlA xml;
        EXPECT_EQ(0, xml.FromString(doc.c_str(), 1));
        EXPECT_EQ(XMLRES_SYNTAX, xml.m_nParseResult);
    }
}

// A text whose encoded form cannot be held is left as it was, and the
// writer says so rather than leave part of it out.
TEST(LargeXml, EncodingPastTheLimitIsRefused) {
    const int nText = 1 << 30;  // encodes to 5 GiB
    std::string why = largetest::MissingMemory(3ull * nText + (256 << 20));
    if (!why.empty()) GTEST_SKIP() << why;
    MString text('&', nText);
    MString coded = text;
    CAnalXmlA::EncodeXmlText(coded);
    EXPECT_EQ(nText, coded.GetLength());
    CXmlTagA a, t;
    a.m_nTagType = XMLTAG_ELEMENT;
    a.m_strName = "a";
    t.m_nTagType = XMLTAG_TEXT;
    t.m_strName = text;
    a.AddXmlTag(t);
    MString out;
    EXPECT_EQ(0, a.ToString(out, INT_MAX));
    EXPECT_LE(out.GetLength(), INT_MAX);
}

}  // namespace

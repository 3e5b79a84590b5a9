// The line readers over files and over text in memory: every line end,
// positions, lines across the file buffer's boundary, and the encodings.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support.h"

using testsupport::TempFile;
using testsupport::U;
using testsupport::Units;
using testsupport::Utf16;

namespace {

const int kBufBytes = 64 * 1024;  // the file handle's read buffer
typedef std::vector<std::u16string> U16s;

// Every line of the file and the position reported after each. Endian 0
// reads 8-bit lines.
struct Lines {
    U16s text;
    std::vector<long> pos;
};
Lines ReadLines(const TempFile& t, int nEndian) {
    Lines r;
    void* h = Byte_OpenFile(t.path(), 0xC0000000u, 3, 0);
    EXPECT_NE(h, nullptr);
    MString m = "stale";
    UString u = U(u"stale");
    while (nEndian ? Uni_Read1LineEndian(h, u, 0, nEndian) : Byte_Read1Line(h, m, 0)) {
        r.text.push_back(nEndian ? Units(u) : std::u16string(m.GetString(), m.GetString() + m.GetLength()));
        r.pos.push_back(API_SeekFile(h, 0, 1));
    }
    EXPECT_TRUE(m.IsEmpty() || u.IsEmpty());
    API_CloseFile(h);
    return r;
}

}  // namespace

TEST(FileLines, ByteLinesPositionsAtTheBufferBoundary) {
    TempFile t("lines.txt");
    t.Write("one\ntwo\r\nthree\rfour\n\nlast");
    Lines r = ReadLines(t, 0);
    EXPECT_EQ(r.text, (U16s{u"one", u"two", u"three", u"four", u"", u"last"}));
    EXPECT_EQ(r.pos, (std::vector<long>{4, 9, 15, 20, 21, 25}));

    // CR LF split across the buffer boundary, then a lone CR there.
    std::string first(kBufBytes - 1, 'x');
    t.Write(first + "\r\nnext\rlast");
    EXPECT_EQ(ReadLines(t, 0).pos, (std::vector<long>{kBufBytes + 1, kBufBytes + 6, kBufBytes + 10}));
    t.Write(first + "\ry");
    EXPECT_EQ(ReadLines(t, 0).pos, (std::vector<long>{kBufBytes, kBufBytes + 1}));

    // A line longer than the buffer.
    std::u16string big;
    for (int i = 0; i < 2 * kBufBytes + 500; ++i) big += static_cast<char16_t>('a' + i % 26);
    t.Write("short\n" + std::string(big.begin(), big.end()) + "\r\nend");
    r = ReadLines(t, 0);
    EXPECT_TRUE(r.text == (U16s{u"short", big, u"end"}));
    EXPECT_EQ(r.pos[1], static_cast<long>(6 + big.size() + 2));
}

TEST(FileLines, UniLinesInEveryEncoding) {
    // Hangul and a surrogate pair, to see the units survive; a lone CR.
    const std::u16string text = u"one\n\xD55C\xAE00\r\n\r\xD83D\xDE00z\rlast";
    const U16s want{u"one", u"\xD55C\xAE00", u"", u"\xD83D\xDE00z", u"last"};
    TempFile t("uni_lines.txt");
    t.Write(Utf16(text, false));
    Lines le = ReadLines(t, 1);
    EXPECT_EQ(le.text, want);
    EXPECT_EQ(le.pos, (std::vector<long>{8, 16, 18, 26, 34}));
    t.Write(Utf16(text, true));
    EXPECT_EQ(ReadLines(t, 2).text, want);
    t.Write("one\n\xED\x95\x9C\xEA\xB8\x80\r\n\r\xF0\x9F\x98\x80z\rlast");
    Lines u8 = ReadLines(t, 3);
    EXPECT_EQ(u8.text, want);
    EXPECT_EQ(u8.pos, (std::vector<long>{4, 12, 13, 19, 23}));

    // An odd trailing byte is ignored.
    t.Write(Utf16(u"a\n", false) + "Z");
    EXPECT_EQ(ReadLines(t, 1).text, (U16s{u"a"}));
    t.Write(Utf16(u"ab", true) + "Z");
    EXPECT_EQ(ReadLines(t, 2).text, (U16s{u"ab"}));
}

TEST(FileLines, UniLineEndsAtBufferBoundaryAndLongLines) {
    TempFile t("uni_boundary.txt");
    std::u16string first(kBufBytes / 2 - 1, u'x');
    t.Write(Utf16(first + u"\r\nnext", false));  // CR fills the buffer's last two bytes
    EXPECT_EQ(ReadLines(t, 1).pos, (std::vector<long>{kBufBytes + 2, kBufBytes + 10}));
    std::u16string big;
    for (int i = 0; i < kBufBytes + 77; ++i) big += static_cast<char16_t>(0x3041 + i % 80);
    t.Write(Utf16(u"s\n" + big + u"\nend", true));
    Lines r = ReadLines(t, 2);
    EXPECT_TRUE(r.text == (U16s{u"s", big, u"end"}));
    EXPECT_EQ(r.pos[1], static_cast<long>(2 * (2 + big.size() + 1)));
}

// Lines in memory from dwStart on, each followed by "@" and the position
// after it: 8-bit text, then UTF-16 big-endian bytes read as 16-bit units.
TEST(TextLines, MemoryBuffers) {
    unsigned long pos = 1;
    MString m;
    std::string got;
    while (Byte_ReadText1Line("one\r\ntwo\rx\n\n", pos, m, 0)) got += m.GetString() + ("@" + std::to_string(pos)) + "|";
    EXPECT_EQ("ne@5|two@9|x@11|@12|", got);

    std::string bytes = Utf16(u"a\xD55C\r\n\nz\r", true) + std::string(2, '\0');
    std::vector<unsigned short> buf(bytes.size() / 2);
    std::memcpy(buf.data(), bytes.data(), bytes.size());
    UString u;
    U16s lines;
    for (pos = 0; Uni_ReadText1LineEndian(buf.data(), pos, u, 0, 2);) lines.push_back(Units(u));
    EXPECT_EQ(lines, (U16s{u"a\xD55C", u"", u"z"}));
    EXPECT_EQ(7u, pos);
}

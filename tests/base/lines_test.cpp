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

// What a file of these units holds for the reader of nEndian: UTF-16 for 1
// and 2, else a byte a unit.
std::string Bytes(const std::u16string& s, int nEndian) {
    return nEndian == 1 || nEndian == 2 ? Utf16(s, nEndian == 2) : std::string(s.begin(), s.end());
}

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

TEST(FileLines, EveryLineEndInEveryEncoding) {
    TempFile t("lines.txt");
    t.Write("one\ntwo\r\nthree\rfour\n\nlast");
    Lines r = ReadLines(t, 0);
    EXPECT_EQ(r.text, (U16s{u"one", u"two", u"three", u"four", u"", u"last"}));
    EXPECT_EQ(r.pos, (std::vector<long>{4, 9, 15, 20, 21, 25}));

    // Hangul and a surrogate pair, to see the units survive; a lone CR.
    const std::u16string text = u"one\n\xD55C\xAE00\r\n\r\xD83D\xDE00z\rlast";
    const U16s want{u"one", u"\xD55C\xAE00", u"", u"\xD83D\xDE00z", u"last"};
    t.Write(Utf16(text, false));
    r = ReadLines(t, 1);
    EXPECT_EQ(r.text, want);
    EXPECT_EQ(r.pos, (std::vector<long>{8, 16, 18, 26, 34}));
    t.Write(Utf16(text, true));
    EXPECT_EQ(ReadLines(t, 2).text, want);
    t.Write("one\n\xED\x95\x9C\xEA\xB8\x80\r\n\r\xF0\x9F\x98\x80z\rlast");
    r = ReadLines(t, 3);
    EXPECT_EQ(r.text, want);
    EXPECT_EQ(r.pos, (std::vector<long>{4, 12, 13, 19, 23}));

    // An odd trailing byte is ignored.
    t.Write(Utf16(u"a\n", false) + "Z");
    EXPECT_EQ(ReadLines(t, 1).text, (U16s{u"a"}));
    t.Write(Utf16(u"ab", true) + "Z");
    EXPECT_EQ(ReadLines(t, 2).text, (U16s{u"ab"}));
}

// A CR LF split across the boundary of the file buffer, a lone CR there,
// and a line longer than the buffer, for every reader.
TEST(FileLines, LineEndsAtTheBufferBoundaryAndLongLines) {
    TempFile t("boundary.txt");
    for (int nEndian = 0; nEndian <= 3; ++nEndian) {
        SCOPED_TRACE(nEndian);
        const bool bUtf16 = nEndian == 1 || nEndian == 2;
        const long u = bUtf16 ? 2 : 1;
        const std::u16string first(kBufBytes / u - 1, u'x');  // the CR is the buffer's last unit
        t.Write(Bytes(first + u"\r\nnext\rlast", nEndian));
        EXPECT_EQ(ReadLines(t, nEndian).pos, (std::vector<long>{kBufBytes + u, kBufBytes + 6 * u, kBufBytes + 10 * u}));
        t.Write(Bytes(first + u"\ry", nEndian));
        EXPECT_EQ(ReadLines(t, nEndian).pos, (std::vector<long>{kBufBytes, kBufBytes + u}));

        std::u16string big;
        for (int i = 0; i < 2 * kBufBytes / u + 500; ++i)
            big += static_cast<char16_t>(bUtf16 ? 0x3041 + i % 80 : 'a' + i % 26);
        const std::u16string end = nEndian == 2 ? u"\n" : u"\r\n";
        t.Write(Bytes(u"short\n" + big + end + u"end", nEndian));
        Lines r = ReadLines(t, nEndian);
        EXPECT_TRUE(r.text == (U16s{u"short", big, u"end"}));
        EXPECT_EQ(r.pos[1], static_cast<long>((6 + big.size() + end.size()) * u));
    }
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

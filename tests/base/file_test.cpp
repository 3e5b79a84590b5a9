// File handles, the line readers over files and the line readers over text
// in memory.
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

const DWORD kReadWrite = 0xC0000000u;
const int kBufBytes = 64 * 1024;  // the handle's read buffer
typedef std::vector<std::u16string> U16s;

void* Open(const TempFile& t, int bCreate) { return Byte_OpenFile(t.path(), kReadWrite, 3, bCreate); }

UString Wide(const char* path) {
    UString u;
    u.FromMBC(0, path);
    return u;
}

std::string ReadAll(void* h) {
    std::string out;
    char buf[100];
    DWORD n;
    while ((n = API_ReadFile(h, buf, sizeof buf)) > 0) out.append(buf, n);
    return out;
}

// Every line of the file and the position reported after each. Endian 0
// reads 8-bit lines.
struct Lines {
    U16s text;
    std::vector<long> pos;
};
Lines ReadLines(const TempFile& t, int nEndian) {
    Lines r;
    void* h = Open(t, 0);
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

TEST(FileOpen, CreateNeverEmptiesAndExistingOnlyFailsOnMissing) {
    TempFile t("create.txt");
    EXPECT_EQ(Open(t, 0), nullptr);
    EXPECT_FALSE(Byte_ExistFile(t.path()));  // and made nothing
    void* h = Open(t, 1);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(API_WriteFile(h, "keep me", 7), 7u);
    API_CloseFile(h);
    for (int bCreate : {1, 0}) {
        h = Open(t, bCreate);
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(API_SeekFile(h, 0, 1), 0);
        EXPECT_EQ(ReadAll(h), "keep me");
        API_CloseFile(h);
    }
    EXPECT_EQ(Byte_OpenFile(testsupport::TempDir().c_str(), kReadWrite, 3, 0), nullptr);  // a directory

    TempFile w("uni.txt");
    UString path = Wide(w.path());
    EXPECT_EQ(Uni_OpenFile(path, kReadWrite, 3, 0), nullptr);
    h = Uni_OpenFile(path, kReadWrite, 3, 1);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(API_WriteFile(h, "abc", 3), 3u);
    API_CloseFile(h);
    h = Uni_OpenFile(path, kReadWrite, 3, 1);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(ReadAll(h), "abc");
    API_CloseFile(h);
}

TEST(FileIo, SeekOriginsAndResult) {
    TempFile t("seek.txt");
    t.Write("0123456789");
    void* h = Open(t, 0);
    ASSERT_NE(h, nullptr);
    char c = 0;
    const struct {
        long off;
        int origin;
        long want;
        char next;  // the byte read there, 0 at the end
    } seeks[] = {{3, 0, 3, '3'}, {1, 1, 5, '5'}, {-3, 1, 3, '3'}, {-2, 2, 8, '8'}, {0, 2, 10, 0}};
    for (const auto& s : seeks) {
        EXPECT_EQ(API_SeekFile(h, s.off, s.origin), s.want);
        EXPECT_EQ(API_ReadFile(h, &c, 1), s.next ? 1u : 0u);
        if (s.next) {
            EXPECT_EQ(c, s.next);
        }
    }
    // Failed seeks leave the position where it was.
    EXPECT_EQ(API_SeekFile(h, 4, 0), 4);
    EXPECT_EQ(API_SeekFile(h, -1, 0), -1);
    EXPECT_EQ(API_SeekFile(h, -5, 1), -1);
    EXPECT_EQ(API_SeekFile(h, -100, 2), -1);
    {
        testsupport::WarningCounter warnings;  // an unknown origin is reported
        EXPECT_EQ(API_SeekFile(h, 0, 7), -1);
    }
    EXPECT_EQ(API_ReadFile(h, &c, 1), 1u);
    EXPECT_EQ(c, '4');
    API_CloseFile(h);
}

TEST(FileIo, InterleavedReadWriteSeekKeepsPosition) {
    TempFile t("mixed.txt");
    t.Write("line1\nline2\nline3\n");
    void* h = Open(t, 0);
    ASSERT_NE(h, nullptr);
    MString line;
    ASSERT_TRUE(Byte_Read1Line(h, line, 0));
    EXPECT_STREQ(line, "line1");
    // The read buffer holds the whole file; the write lands after line 1.
    EXPECT_EQ(API_WriteFile(h, "LINE2", 5), 5u);
    EXPECT_EQ(API_SeekFile(h, 0, 1), 11);
    ASSERT_TRUE(Byte_Read1Line(h, line, 0));
    EXPECT_STREQ(line, "");
    ASSERT_TRUE(Byte_Read1Line(h, line, 0));
    EXPECT_STREQ(line, "line3");
    // Seek back inside what was read, then overwrite one byte there.
    EXPECT_EQ(API_SeekFile(h, 3, 0), 3);
    EXPECT_EQ(API_WriteFile(h, "X", 1), 1u);
    char buf[4] = {};
    EXPECT_EQ(API_ReadFile(h, buf, 3), 3u);
    EXPECT_EQ(std::string(buf, 3), "1\nL");
    // Append, then read the tail back.
    EXPECT_EQ(API_SeekFile(h, 0, 2), 18);
    EXPECT_EQ(API_WriteFile(h, "tail", 4), 4u);
    EXPECT_EQ(API_SeekFile(h, -4, 1), 18);
    EXPECT_EQ(ReadAll(h), "tail");
    API_CloseFile(h);
    EXPECT_EQ(t.Read(), "linX1\nLINE2\nline3\ntail");
}

TEST(FileIo, LargeReadsAndBufferedReadsAgree) {
    TempFile t("large.bin");
    std::string data;
    for (int i = 0; i < 3 * kBufBytes + 123; ++i) data += static_cast<char>('a' + i % 26);
    t.Write(data);
    void* h = Open(t, 0);
    ASSERT_NE(h, nullptr);
    std::vector<char> buf(data.size());
    const DWORD big = 2 * kBufBytes, rest = static_cast<DWORD>(data.size()) - 10 - big;
    EXPECT_EQ(API_ReadFile(h, buf.data(), 10), 10u);
    EXPECT_EQ(API_ReadFile(h, buf.data() + 10, big), big);
    EXPECT_EQ(API_SeekFile(h, 0, 1), static_cast<long>(10 + big));
    EXPECT_EQ(API_ReadFile(h, buf.data() + 10 + big, rest + 50), rest);
    EXPECT_TRUE(std::string(buf.data(), buf.size()) == data);
    API_CloseFile(h);
}

TEST(FileLines, ByteLinesAndPositions) {
    TempFile t("lines.txt");
    t.Write("one\ntwo\r\nthree\rfour\n\nlast");
    Lines r = ReadLines(t, 0);
    EXPECT_EQ(r.text, (U16s{u"one", u"two", u"three", u"four", u"", u"last"}));
    EXPECT_EQ(r.pos, (std::vector<long>{4, 9, 15, 20, 21, 25}));
    t.Write("\r\n\r");
    EXPECT_EQ(ReadLines(t, 0).text, (U16s{u"", u""}));

    // CR LF split across the buffer boundary, then a lone CR there.
    std::string first(kBufBytes - 1, 'x');
    t.Write(first + "\r\nnext\rlast");
    r = ReadLines(t, 0);
    EXPECT_EQ(r.text, (U16s{std::u16string(first.begin(), first.end()), u"next", u"last"}));
    EXPECT_EQ(r.pos, (std::vector<long>{kBufBytes + 1, kBufBytes + 6, kBufBytes + 10}));
    t.Write(first + "\ry");
    r = ReadLines(t, 0);
    EXPECT_EQ(r.pos, (std::vector<long>{kBufBytes, kBufBytes + 1}));

    // A line longer than the buffer.
    std::u16string big;
    for (int i = 0; i < 2 * kBufBytes + 500; ++i) big += static_cast<char16_t>('a' + i % 26);
    t.Write("short\n" + std::string(big.begin(), big.end()) + "\r\nend");
    r = ReadLines(t, 0);
    EXPECT_TRUE(r.text == (U16s{u"short", big, u"end"}));
    EXPECT_EQ(r.pos[1], static_cast<long>(6 + big.size() + 2));
}

TEST(FileLines, UniLinesInEveryEncoding) {
    // Hangul and a character outside the BMP, to see the units survive.
    const std::u16string text = u"one\n\xD55C\xAE00\r\n\r\xD83D\xDE00z\rlast";
    const U16s want{u"one", u"\xD55C\xAE00", u"", u"\xD83D\xDE00z", u"last"};
    TempFile t("uni_lines.txt");
    t.Write(Utf16(text, false));
    Lines le = ReadLines(t, 1);
    EXPECT_EQ(le.text, want);
    EXPECT_EQ(le.pos, (std::vector<long>{8, 16, 18, 26, 34}));
    void* h = Open(t, 0);  // no encoding given: little-endian
    ASSERT_NE(h, nullptr);
    UString line;
    ASSERT_TRUE(Uni_Read1Line(h, line, 0));
    EXPECT_EQ(Units(line), u"one");
    API_CloseFile(h);
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
    t.Write("Z");
    EXPECT_TRUE(ReadLines(t, 1).text.empty());
}

TEST(FileLines, UniLineEndsAtBufferBoundaryAndLongLines) {
    TempFile t("uni_boundary.txt");
    std::u16string first(kBufBytes / 2 - 1, u'x');
    t.Write(Utf16(first + u"\r\nnext", false));  // CR fills the buffer's last two bytes
    Lines r = ReadLines(t, 1);
    EXPECT_EQ(r.text, (U16s{first, u"next"}));
    EXPECT_EQ(r.pos[0], kBufBytes + 2);

    std::u16string big;
    for (int i = 0; i < kBufBytes + 77; ++i) big += static_cast<char16_t>(0x3041 + i % 80);
    t.Write(Utf16(u"s\n" + big + u"\nend", true));
    r = ReadLines(t, 2);
    EXPECT_TRUE(r.text == (U16s{u"s", big, u"end"}));
    EXPECT_EQ(r.pos[1], static_cast<long>(2 * (2 + big.size() + 1)));
}

TEST(FileExist, FilesOnly) {
    TempFile t("exist.txt");
    EXPECT_FALSE(Byte_ExistFile(t.path()));
    t.Write("x");
    EXPECT_TRUE(Byte_ExistFile(t.path()));
    EXPECT_TRUE(Uni_ExistFile(Wide(t.path())));
    std::string dir = testsupport::TempDir();
    EXPECT_FALSE(Byte_ExistFile(dir.c_str()));
    EXPECT_FALSE(Uni_ExistFile(Wide(dir.c_str())));
    dir.pop_back();  // without the trailing separator
    EXPECT_FALSE(Byte_ExistFile(dir.c_str()));
    EXPECT_FALSE(Byte_ExistFile(nullptr));
    EXPECT_FALSE(Uni_ExistFile(nullptr));
}

TEST(FileMisuse, NullHandleFailsQuietly) {
    testsupport::WarningCounter warnings;
    char buf[4];
    MString m = "old";
    UString u = U(u"old");
    EXPECT_EQ(API_ReadFile(nullptr, buf, 4), 0u);
    EXPECT_EQ(API_WriteFile(nullptr, "abcd", 4), 0u);
    EXPECT_EQ(API_SeekFile(nullptr, 0, 0), -1);
    EXPECT_EQ(Byte_Read1Line(nullptr, m, 0), 0);
    EXPECT_EQ(Uni_Read1LineEndian(nullptr, u, 0, 3), 0);
    EXPECT_TRUE(m.IsEmpty() && u.IsEmpty());
    API_CloseFile(nullptr);
    EXPECT_EQ(Byte_OpenFile(nullptr, kReadWrite, 3, 1), nullptr);
    EXPECT_EQ(Byte_OpenFile("", kReadWrite, 3, 1), nullptr);
    EXPECT_EQ(Uni_OpenFile(nullptr, kReadWrite, 3, 1), nullptr);

    TempFile t("misuse.txt");
    t.Write("data");
    void* h = Open(t, 0);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(API_ReadFile(h, nullptr, 4), 0u);
    EXPECT_EQ(API_WriteFile(h, nullptr, 4), 0u);
    EXPECT_EQ(ReadAll(h), "data");
    API_CloseFile(h);
}

// ---- Lines in memory ----

namespace {

// Lines from dwStart on, each followed by "@" and the position after it.
// Endian -1 reads 8-bit text, 0 native 16-bit units.
U16s MemLines(const void* text, int endian, unsigned long pos = 0) {
    U16s out;
    for (;;) {
        MString m = "stale";
        UString u = U(u"stale");
        const unsigned short* w = static_cast<const unsigned short*>(text);
        int r = endian < 0  ? Byte_ReadText1Line(static_cast<const char*>(text), pos, m, 0)
                : endian ? Uni_ReadText1LineEndian(w, pos, u, 0, endian)
                         : Uni_ReadText1Line(w, pos, u, 0);
        std::u16string line = endian < 0 ? std::u16string(m.GetString(), m.GetString() + m.GetLength()) : Units(u);
        if (!r) {
            EXPECT_TRUE(line.empty());
            return out;
        }
        std::string n = std::to_string(pos);
        out.push_back(line + u"@" + std::u16string(n.begin(), n.end()));
    }
}

}  // namespace

TEST(TextLines, ByteLinesAdvanceToNextLine) {
    EXPECT_EQ(MemLines("one\ntwo\r\nthree\rfour", -1), (U16s{u"one@4", u"two@9", u"three@15", u"four@19"}));
    EXPECT_EQ(MemLines("a\n\n", -1), (U16s{u"a@2", u"@3"}));
    EXPECT_EQ(MemLines("\r\r\n", -1), (U16s{u"@1", u"@3"}));
    EXPECT_EQ(MemLines("one\r\ntwo", -1, 1), (U16s{u"ne@5", u"two@8"}));  // from the middle
    EXPECT_EQ(MemLines("", -1), U16s{});
    EXPECT_EQ(MemLines(nullptr, -1), U16s{});
}

TEST(TextLines, UniNativeEndianAndUtf8Buffers) {
    EXPECT_EQ(MemLines(U(u"\xD55C\n\r\nb\rc").GetString(), 0), (U16s{u"\xD55C@2", u"@4", u"b@6", u"c@7"}));
    EXPECT_EQ(MemLines(U(u"ab\n\ncd").GetString(), 0, 2), (U16s{u"@3", u"@4", u"cd@6"}));
    for (int endian : {0, 1, 2, 3}) EXPECT_EQ(MemLines(nullptr, endian), U16s{});
    for (int endian : {1, 2}) {
        // The bytes as they would lie in a file, read as 16-bit units.
        std::string bytes = Utf16(u"a\xD55C\r\n\nz\r", endian == 2) + std::string(2, '\0');
        std::vector<unsigned short> buf(bytes.size() / 2);
        std::memcpy(buf.data(), bytes.data(), bytes.size());
        EXPECT_EQ(MemLines(buf.data(), endian), (U16s{u"a\xD55C@4", u"@5", u"z@7"})) << "endian " << endian;
    }
    // UTF-8 bytes behind a 16-bit pointer; positions count bytes.
    const std::string utf8 = "a\xED\x95\x9C\r\n\nz\r";
    std::vector<unsigned short> buf(utf8.size() / 2 + 2, 0);
    std::memcpy(buf.data(), utf8.data(), utf8.size());
    EXPECT_EQ(MemLines(buf.data(), 3), (U16s{u"a\xD55C@6", u"@7", u"z@9"}));
    EXPECT_EQ(MemLines(buf.data(), 3, 1), (U16s{u"\xD55C@6", u"@7", u"z@9"}));
}

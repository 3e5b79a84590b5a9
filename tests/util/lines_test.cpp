// Comment-skipping line readers over every source: text in memory in both
// widths and every encoding, and the same from files.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support.h"

namespace {

// Comments (one indented, one after CR LF), a value with blanks around it,
// a blank line, text with a comment after it, a comment at the end.
const std::string kText = "// note\r\n   // more\n  value  \n\t\n//x\r\na // c\n  //last";

// Runs a reader (read(line) -> result) to the end, checking the lines and
// where() (the position in characters) after each.
template <class S, class Read, class Where>
void ExpectLines(Read read, Where where) {
    const struct {
        std::string line;
        unsigned long end;
    } want[] = {{"value  ", 30}, {"", 32}, {"a // c", 44}};
    S line;
    for (const auto& w : want) {
        ASSERT_EQ(read(line), 1);
        EXPECT_EQ(std::string(line.GetString(), line.GetString() + line.GetLength()), w.line);
        EXPECT_EQ(where(), w.end);
    }
    EXPECT_EQ(read(line), 0);  // only a comment is left
    EXPECT_TRUE(line.IsEmpty());
    EXPECT_EQ(where(), kText.size());
}

// The text as bytes: 0 8-bit, 1 and 2 UTF-16 LE and BE, 3 UTF-8, 4 native units.
std::string Bytes(int encoding) {
    if (encoding == 0 || encoding == 3) return kText;
    bool bBig = encoding == 2 || (encoding == 4 && !API_IsLittleEndian());
    return testsupport::Utf16(std::u16string(kText.begin(), kText.end()), bBig);
}

}  // namespace

TEST(UtilLines, InMemory) {
    unsigned long pos = 0;
    auto where = [&] { return pos; };
    ExpectLines<MString>([&](MString& l) { return Byte_ReadText1LineSkipComment(kText.c_str(), pos, l); }, where);
    for (int encoding = 1; encoding <= 4; ++encoding) {
        std::string bytes = Bytes(encoding);
        std::vector<unsigned short> buf(bytes.size() / 2 + 2, 0);
        std::memcpy(buf.data(), bytes.data(), bytes.size());
        pos = 0;
        ExpectLines<UString>(
            [&](UString& l) {
                return encoding == 4 ? Uni_ReadText1LineSkipComment(buf.data(), pos, l)
                                     : Uni_ReadText1LineSkipCommentEndian(buf.data(), pos, l, encoding);
            },
            where);
    }
}

TEST(UtilLines, FromFiles) {
    testsupport::TempFile file("skip_comment.txt");
    for (int encoding = 0; encoding <= 4; ++encoding) {  // 4: UTF-16LE without an encoding argument
        file.Write(Bytes(encoding == 4 ? 1 : encoding));
        void* h = Byte_OpenFile(file.path(), 0xC0000000, 3, 0);
        ASSERT_NE(h, nullptr);
        unsigned long unit = encoding == 0 || encoding == 3 ? 1 : 2;
        auto where = [&] { return static_cast<unsigned long>(API_SeekFile(h, 0, 1)) / unit; };
        if (encoding == 0) ExpectLines<MString>([&](MString& l) { return Byte_Read1LineSkipComment(h, l); }, where);
        else
            ExpectLines<UString>(
                [&](UString& l) {
                    return encoding == 4 ? Uni_Read1LineSkipComment(h, l)
                                         : Uni_Read1LineSkipCommentEndian(h, l, encoding);
                },
                where);
        API_CloseFile(h);
    }
}

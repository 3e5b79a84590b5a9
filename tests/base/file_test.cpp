// File handles: opening, reading, writing and seeking.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support.h"

using testsupport::TempFile;

namespace {

const DWORD kReadWrite = 0xC0000000u;

void* Open(const TempFile& t, int bCreate) { return Byte_OpenFile(t.path(), kReadWrite, 3, bCreate); }

std::string ReadAll(void* h) {
    std::string out;
    char buf[100];
    DWORD n;
    while ((n = API_ReadFile(h, buf, sizeof buf)) > 0) out.append(buf, n);
    return out;
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
        EXPECT_EQ(ReadAll(h), "keep me");
        API_CloseFile(h);
    }
    EXPECT_FALSE(Byte_ExistFile(testsupport::TempDir().c_str()));  // files only
}

TEST(FileIo, InterleavedReadWriteSeekKeepsPosition) {
    TempFile t("mixed.txt");
    t.Write("line1\nline2\nline3\n");
    void* h = Open(t, 0);
    ASSERT_NE(h, nullptr);
    MString line;
    ASSERT_TRUE(Byte_Read1Line(h, line, 0));
    // The read buffer holds the whole file; the write lands after line 1.
    EXPECT_EQ(API_WriteFile(h, "LINE2", 5), 5u);
    EXPECT_EQ(API_SeekFile(h, 0, 1), 11);
    ASSERT_TRUE(Byte_Read1Line(h, line, 0));
    EXPECT_STREQ(line, "");
    // Seek back inside what was read, then overwrite one byte there.
    EXPECT_EQ(API_SeekFile(h, 3, 0), 3);
    EXPECT_EQ(API_WriteFile(h, "X", 1), 1u);
    char buf[4] = {};
    EXPECT_EQ(API_ReadFile(h, buf, 3), 3u);
    EXPECT_EQ(std::string(buf, 3), "1\nL");
    EXPECT_EQ(API_SeekFile(h, -100, 1), -1);  // a failed seek leaves the position
    EXPECT_EQ(API_SeekFile(h, 0, 2), 18);
    EXPECT_EQ(API_WriteFile(h, "tail", 4), 4u);
    EXPECT_EQ(API_SeekFile(h, -4, 1), 18);
    EXPECT_EQ(ReadAll(h), "tail");
    API_CloseFile(h);
    EXPECT_EQ(t.Read(), "linX1\nLINE2\nline3\ntail");
}

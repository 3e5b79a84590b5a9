// The base with real data at and past the string limit (2^31 - 18 bytes in
// the 8-bit form): Format, the code-page conversions, text lengths, and
// file offsets and counts past 2^31.
#include <gtest/gtest.h>

#include <vorlix/vorlix.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "large/large_support.h"
#include "support.h"

using largetest::kGiB;
using largetest::MissingMemory;

namespace {

const int kMax8 = vorlix::detail::kMaxLength<char>;

// A text of n copies of one character, made by doubling (fast also in a
// debug build).
template <class Ch>
vorlix::BasicString<Ch> Filled(Ch c, int n) {
    vorlix::BasicString<Ch> s;
    Ch* p = s.GetBuffer(n);
    if (p && n > 0) {
        p[0] = c;
        for (std::size_t done = 1; done < static_cast<std::size_t>(n);) {
            std::size_t k = done < static_cast<std::size_t>(n) - done ? done : static_cast<std::size_t>(n) - done;
            std::memcpy(p + done, p, k * sizeof(Ch));
            done += k;
        }
        s.ReleaseBuffer(n);
    }
    return s;
}

int FormatResult(MString& out, const char* fmt, ...) {
    std::va_list args;
    va_start(args, fmt);
    int r = out.FormatV(fmt, &args);
    va_end(args);
    return r;
}

// A block of memory outside the library's strings, freed on scope exit.
struct Block {
    explicit Block(std::size_t n) : p(static_cast<char*>(std::malloc(n))) {}
    ~Block() { std::free(p); }
    char* p;
};

}  // namespace

// Two texts that make exactly the longest string, and three (past 2^31);
// widths at and past the limit are refused before anything is built.
TEST(LargeFormat, TextsAtAndPastTheLimit) {
    std::string why = MissingMemory(5 * kGiB);
    if (!why.empty()) GTEST_SKIP() << why;
    static_assert(vorlix::detail::kMaxLength<char> % 2 == 0, "two halves make the longest string");
    MString half = Filled('h', kMax8 / 2);
    half.SetAt(0, 'a');
    const char* h = half.GetString();
    MString m;
    ASSERT_EQ(FormatResult(m, "%s%s", h, h), 1);
    ASSERT_EQ(m.GetLength(), kMax8);
    EXPECT_EQ(m[kMax8 / 2], 'a');
    EXPECT_EQ(m[kMax8 - 1], 'h');
    m.Empty();
    m = "old";
    EXPECT_EQ(FormatResult(m, "%s%s%s", h, h, h), 0);
    EXPECT_TRUE(m.IsEmpty());
    EXPECT_EQ(FormatResult(m, "%*d", kMax8 + 1, 7), 0);
    EXPECT_EQ(FormatResult(m, "%s%*d", "x", kMax8, 7), 0);
}

// 720 million Hangul in UTF-16 (1.4 GB) are 2.16 GB of UTF-8, past the
// limit: refused by %ls and by the conversion, which converts 700 million
// (2.1 GB) of them.
TEST(LargeConversion, HangulPastTheLimit) {
    std::string why = MissingMemory(4 * kGiB);
    if (!why.empty()) GTEST_SKIP() << why;
    UString w = Filled(static_cast<unsigned short>(0xD55C), 720 * 1000 * 1000);
    ASSERT_EQ(w.GetLength(), 720 * 1000 * 1000);
    MString m = "old";
    EXPECT_EQ(m.FromUnicode(65001, w, w.GetLength()), 0);
    EXPECT_TRUE(m.IsEmpty());
    m = "old";
    EXPECT_EQ(FormatResult(m, "%ls", w.GetString()), 0);
    EXPECT_TRUE(m.IsEmpty());
    ASSERT_EQ(m.FromUnicode(65001, w, 700 * 1000 * 1000), 1);
    ASSERT_EQ(m.GetLength(), 2100 * 1000 * 1000);
    EXPECT_STREQ(m.GetString() + m.GetLength() - 3, "\xED\x95\x9C");
}

// Texts longer than any string: measured no further than the limit, and
// refused by assignment and by the conversions, which leave no old text.
TEST(LargeConversion, TextsPastTheLimitAreRefused) {
    std::string why = MissingMemory(3 * kGiB);
    if (!why.empty()) GTEST_SKIP() << why;
    const std::size_t n = (std::size_t(1) << 31) + 16;
    Block text(n + 1);
    ASSERT_NE(text.p, nullptr);
    std::memset(text.p, 'x', n);
    text.p[n] = 0;
    EXPECT_EQ(vorlix::detail::StrLen(text.p), kMax8 + 1);
    EXPECT_EQ(Byte_strlen(text.p), kMax8 + 1);
    testsupport::WarningCounter warnings;
    MString m = "old";
    m = text.p;
    EXPECT_TRUE(m.IsEmpty());
    m = "old";
    m += text.p;
    EXPECT_STREQ(m, "old");
    UString u = testsupport::U(u"old");
    EXPECT_EQ(u.FromMBC(65001, text.p, -1), 0);
    EXPECT_TRUE(u.IsEmpty());
    // Within the 8-bit limit, but 2^31 - 100 units are past the 16-bit one.
    u = testsupport::U(u"old");
    EXPECT_EQ(u.FromMBC(65001, text.p, INT_MAX - 100), 0);
    EXPECT_TRUE(u.IsEmpty());
    EXPECT_GE(warnings.count(), 4);
}

// Offsets and counts past 2^31 through a file handle: a seek to 3 GiB, one
// write and one read of 2^31 + 16 bytes.
TEST(LargeFile, OffsetsAndCountsPast2To31) {
    std::string why = MissingMemory(3 * kGiB);
    if (!why.empty()) GTEST_SKIP() << why;
    if (sizeof(long) < 8) GTEST_SKIP() << "long holds no offset past 2^31 here";
    testsupport::TempFile t("large_file.bin");
    void* h = Byte_OpenFile(t.path(), 0xC0000000u, 3, 1);
    ASSERT_NE(h, nullptr);
    const long kFar = 3L << 30;
    EXPECT_EQ(API_SeekFile(h, kFar, 0), kFar);
    EXPECT_EQ(API_WriteFile(h, "end", 3), 3u);
    EXPECT_EQ(API_SeekFile(h, 0, 2), kFar + 3);
    EXPECT_EQ(API_SeekFile(h, -3, 1), kFar);

    const DWORD kCount = (DWORD(1) << 31) + 16;
    Block data(kCount);
    ASSERT_NE(data.p, nullptr);
    for (DWORD i = 0; i < kCount; i += 4096) data.p[i] = static_cast<char>('A' + (i >> 12) % 26);
    data.p[kCount - 1] = 'Z';
    ASSERT_EQ(API_SeekFile(h, 1, 0), 1);
    EXPECT_EQ(API_WriteFile(h, data.p, kCount), kCount);
    EXPECT_EQ(API_SeekFile(h, 0, 1), static_cast<long>(kCount) + 1);
    std::memset(data.p, 0, kCount);
    ASSERT_EQ(API_SeekFile(h, 1, 0), 1);
    EXPECT_EQ(API_ReadFile(h, data.p, kCount), kCount);
    EXPECT_EQ(data.p[0], 'A');
    EXPECT_EQ(data.p[std::size_t(1) << 31], static_cast<char>('A' + ((1u << 31) >> 12) % 26));
    EXPECT_EQ(data.p[kCount - 1], 'Z');
    char tail[4] = {};
    EXPECT_EQ(API_SeekFile(h, kFar, 0), kFar);
    EXPECT_EQ(API_ReadFile(h, tail, 4), 3u);
    EXPECT_STREQ(tail, "end");
    API_CloseFile(h);
}

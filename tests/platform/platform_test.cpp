// The platform layer through its Windows names. Names stay unqualified
// after the using-directive so that the constants read the <windows.h>
// macros on Windows; the runtime functions that the C library also
// declares are qualified to keep the call unambiguous on POSIX.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "support.h"

#include <vorlix/win.h>

using namespace vorlix::win;
using testsupport::TempFile;

namespace {

HANDLE OpenA(const char* path, DWORD disposition) {
    return CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::vector<WCHAR> ToWide(UINT cp, const std::string& bytes, DWORD flags = 0) {
    int n = MultiByteToWideChar(cp, flags, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::vector<WCHAR> out(n > 0 ? n : 0);
    if (n > 0) {
        EXPECT_EQ(MultiByteToWideChar(cp, flags, bytes.data(), static_cast<int>(bytes.size()), out.data(), n), n);
    }
    return out;
}

std::string ToBytes(UINT cp, const std::vector<WCHAR>& units) {
    int n = WideCharToMultiByte(cp, 0, units.data(), static_cast<int>(units.size()), nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n : 0, '\0');
    if (n > 0) {
        EXPECT_EQ(WideCharToMultiByte(cp, 0, units.data(), static_cast<int>(units.size()), &out[0], n, nullptr,
                                      nullptr),
                  n);
    }
    return out;
}

const WCHAR kFFFD = 0xFFFD;

}  // namespace

TEST(PlatformFile, OpenAlwaysReportsAnExistingFile) {
    TempFile t("open_always.txt");
    EXPECT_EQ(OpenA(t.path(), OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    SetLastError(12345);
    HANDLE h = OpenA(t.path(), OPEN_ALWAYS);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(0));
    DWORD put = 0;
    EXPECT_TRUE(WriteFile(h, "abc", 3, &put, nullptr));
    EXPECT_EQ(put, 3u);
    EXPECT_TRUE(CloseHandle(h));

    h = OpenA(t.path(), OPEN_ALWAYS);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    char buf[8] = {};
    DWORD got = 0;
    EXPECT_TRUE(ReadFile(h, buf, sizeof buf, &got, nullptr));
    EXPECT_EQ(std::string(buf, got), "abc");  // not emptied
    EXPECT_TRUE(ReadFile(h, buf, sizeof buf, &got, nullptr));  // the end is no failure
    EXPECT_EQ(got, 0u);
    EXPECT_TRUE(CloseHandle(h));
}

TEST(PlatformFile, SecondCloseFails) {
#ifdef _WIN32
    GTEST_SKIP() << "closing a closed handle may raise an exception on Windows when a debugger is attached";
#else
    TempFile t("close.txt");
    HANDLE h = OpenA(t.path(), OPEN_ALWAYS);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(CloseHandle(h));
    SetLastError(0);
    EXPECT_FALSE(CloseHandle(h));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    DWORD got = 1;
    char c;
    EXPECT_FALSE(ReadFile(h, &c, 1, &got, nullptr));
    EXPECT_EQ(got, 0u);
#endif
}

TEST(PlatformFile, BackslashesSeparatePaths) {
#ifdef _WIN32
    GTEST_SKIP() << "backslashes are the native separator on Windows";
#else
    TempFile t("backslash.txt");
    t.Write("via slash");
    std::string path = t.path();
    for (char& c : path)
        if (c == '/') c = '\\';
    HANDLE h = OpenA(path.c_str(), OPEN_EXISTING);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    char buf[16];
    DWORD got = 0;
    EXPECT_TRUE(ReadFile(h, buf, sizeof buf, &got, nullptr));
    EXPECT_EQ(std::string(buf, got), "via slash");
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_EQ(GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
#endif
}

TEST(PlatformFile, Attributes) {
    DWORD a = GetFileAttributesA(testsupport::TempDir().c_str());
    EXPECT_TRUE(a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY));
    TempFile t("attr.txt");
    EXPECT_EQ(GetFileAttributesA(t.path()), INVALID_FILE_ATTRIBUTES);
    t.Write("x");
    a = GetFileAttributesA(t.path());
    EXPECT_TRUE(a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY));
}

TEST(PlatformCodePage, Utf8LengthsAndBufferSizes) {
    const char* text = "h\xC3\xA9\xF0\x9F\x98\x80";  // h, e-acute, U+1F600
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0), 5);  // with the NUL
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, text, 3, nullptr, 0), 2);
    WCHAR wide[8] = {};
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, text, -1, wide, 8), 5);
    EXPECT_EQ(std::vector<WCHAR>(wide, wide + 5), (std::vector<WCHAR>{'h', 0xE9, 0xD83D, 0xDE00, 0}));
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, text, -1, wide, 4), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));

    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr), 8);
    char bytes[8] = {};
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, wide, -1, bytes, 8, nullptr, nullptr), 8);
    EXPECT_STREQ(bytes, text);
    SetLastError(0);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, wide, -1, bytes, 7, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

TEST(PlatformCodePage, IllFormedUtf8BecomesReplacements) {
    struct Case {
        std::string in;
        std::vector<WCHAR> out;
    } cases[] = {
        {"\xC3\x28", {kFFFD, '('}},
        {"\xE2\x82", {kFFFD}},
        {"a\xE2\x82z", {'a', kFFFD, 'z'}},
        {"\xF5", {kFFFD}},
        {"\x80\xBF", {kFFFD, kFFFD}},
        {"\xF0\x9F\x98", {kFFFD}},
        {"\xC0\xAF", {kFFFD, kFFFD}},  // overlong
        {"\xE0\xA0", {kFFFD}},
    };
    for (const Case& c : cases) EXPECT_EQ(ToWide(CP_UTF8, c.in), c.out) << "input " << ::testing::PrintToString(c.in);

    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "\xC3\x28", 2, nullptr, 0), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "\xC3\xA9", 2, nullptr, 0), 1);
}

TEST(PlatformCodePage, SecondByteOutOfRangeEndsTheSequence) {
#ifdef _WIN32
    GTEST_SKIP() << "the system decoder may take the lead byte and the out-of-range byte as one "
                    "ill-formed sequence (Wine does)";
#else
    // E0, ED, F0 and F4 narrow the range of the byte after them; a byte
    // outside it is not part of the sequence, so the lead alone is replaced.
    EXPECT_EQ(ToWide(CP_UTF8, "\xE0\x80\xAF"), (std::vector<WCHAR>{kFFFD, kFFFD, kFFFD}));
    EXPECT_EQ(ToWide(CP_UTF8, "\xED\xA0\x80"), (std::vector<WCHAR>{kFFFD, kFFFD, kFFFD}));  // a surrogate
    EXPECT_EQ(ToWide(CP_UTF8, "\xF0\x8F\xBF\xBF"), (std::vector<WCHAR>{kFFFD, kFFFD, kFFFD, kFFFD}));
    EXPECT_EQ(ToWide(CP_UTF8, "\xF4\x90\x80\x80"), (std::vector<WCHAR>{kFFFD, kFFFD, kFFFD, kFFFD}));
#endif
}

TEST(PlatformCodePage, SurrogatesToUtf8) {
    EXPECT_EQ(ToBytes(CP_UTF8, {0xD800}), "\xEF\xBF\xBD");
    EXPECT_EQ(ToBytes(CP_UTF8, {'a', 0xDC00, 'b'}), "a\xEF\xBF\xBD" "b");
    EXPECT_EQ(ToBytes(CP_UTF8, {0xDE00, 0xD83D}), "\xEF\xBF\xBD\xEF\xBF\xBD");  // reversed pair
    EXPECT_EQ(ToBytes(CP_UTF8, {0xD83D, 0xDE00}), "\xF0\x9F\x98\x80");
}

TEST(PlatformCodePage, KoreanRoundTrip) {
    // U+D55C U+AE00 are in the EUC-KR range; U+B620 only in the extension.
    const std::vector<WCHAR> hangul{0xD55C, 0xAE00, 'a', 0xB620};
    const std::string bytes = "\xC7\xD1\xB1\xDB" "a\x8C\x63";
    EXPECT_EQ(ToBytes(949, hangul), bytes);
    EXPECT_EQ(ToWide(949, bytes), hangul);
}

TEST(PlatformCodePage, UnknownCodePage) {
    WCHAR wide[4];
    char bytes[4];
    const WCHAR a[] = {'a', 0};
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(12345, 0, "a", -1, wide, 4), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    SetLastError(0);
    EXPECT_EQ(WideCharToMultiByte(12345, 0, a, -1, bytes, 4, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(PlatformCrt, CaseInsensitiveCompare) {
    // Letters fold to lower case, so '_' (0x5F) sorts before them.
    const struct {
        const char *a, *b;
        int sign;
    } cases[] = {{"Hello", "hELLO", 0}, {"abc", "ABD", -1}, {"B", "a", 1}, {"abc", "AB", 1}, {"", "a", -1}, {"_", "A", -1}};
    auto sign = [](int v) { return (v > 0) - (v < 0); };
    for (const auto& c : cases) {
        EXPECT_EQ(c.sign, sign(_stricmp(c.a, c.b))) << c.a << " " << c.b;
        EXPECT_EQ(-c.sign, sign(_stricmp(c.b, c.a))) << c.a << " " << c.b;
    }
    EXPECT_EQ(_strnicmp("abcX", "ABCy", 3), 0);
    EXPECT_NE(_strnicmp("abcX", "ABCy", 4), 0);

    const WCHAR w1[] = {'M', 'i', 'X', 0}, w2[] = {'m', 'I', 'x', 0}, w3[] = {'m', 'i', 'y', 0};
    const WCHAR under[] = {'_', 0}, upperA[] = {'A', 0};
    EXPECT_EQ(_wcsicmp(w1, w2), 0);
    EXPECT_LT(_wcsicmp(w1, w3), 0);
    EXPECT_LT(_wcsicmp(under, upperA), 0);
    EXPECT_EQ(_wcsnicmp(w1, w3, 2), 0);
}

TEST(PlatformCrt, DecimalToInt) {
    EXPECT_EQ(vorlix::win::atoi("  -7xyz"), -7);
    EXPECT_EQ(vorlix::win::atoi("+3"), 3);
    EXPECT_EQ(vorlix::win::atoi("abc"), 0);
    EXPECT_EQ(vorlix::win::atoi("2147483647"), INT_MAX);
    EXPECT_EQ(vorlix::win::atoi("-2147483648"), INT_MIN);
    const WCHAR w[] = {' ', '-', '1', '2', 'a', 0};
    EXPECT_EQ(_wtoi(w), -12);
}

TEST(PlatformCrt, DecimalToIntSaturates) {
#ifdef _WIN32
    GTEST_SKIP() << "the Windows runtime decides what overflow gives (msvcrt under Wine wraps)";
#else
    EXPECT_EQ(vorlix::win::atoi("99999999999"), INT_MAX);
    EXPECT_EQ(vorlix::win::atoi("-99999999999"), INT_MIN);
    EXPECT_EQ(vorlix::win::atoi("2147483648"), INT_MAX);
    const WCHAR big[] = {'-', '3', '0', '0', '0', '0', '0', '0', '0', '0', '0', 0};
    EXPECT_EQ(_wtoi(big), INT_MIN);
#endif
}

TEST(PlatformCrt, LocalTimeRoundTrip) {
    const std::time_t when = 1700000000;  // November 2023
    std::tm tm;
    std::memset(&tm, 0, sizeof tm);
    ASSERT_EQ(localtime_s(&tm, &when), 0);
    EXPECT_EQ(tm.tm_year, 123);
    EXPECT_EQ(tm.tm_mon, 10);
    std::tm copy = tm;
    EXPECT_EQ(mktime(&copy), when);
    tm.tm_mday += 1;  // mktime normalises: one calendar day on
    tm.tm_isdst = -1;
    std::time_t next = mktime(&tm);
    EXPECT_GE(next - when, 23 * 3600);
    EXPECT_LE(next - when, 25 * 3600);
}

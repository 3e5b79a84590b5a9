// The platform layer through its Windows names. Names stay unqualified
// after the using-directive so that the constants read the <windows.h>
// macros on Windows; the runtime functions that the C library also
// declares are qualified to keep the call unambiguous on POSIX.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "support.h"
#include "platform/cgi_environment.h"

#include <vorlix/win.h>

using namespace vorlix::win;
using testsupport::TempFile;

namespace {

HANDLE OpenA(const char* path, DWORD disposition) {
    return CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, disposition,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
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
        EXPECT_EQ(
            WideCharToMultiByte(cp, 0, units.data(), static_cast<int>(units.size()), &out[0], n, nullptr, nullptr), n);
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
    EXPECT_TRUE(CloseHandle(h));

    h = OpenA(t.path(), OPEN_ALWAYS);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    char buf[8] = {};
    DWORD got = 0;
    EXPECT_TRUE(ReadFile(h, buf, sizeof buf, &got, nullptr));
    EXPECT_EQ(std::string(buf, got), "abc");  // not emptied
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
#endif
}

TEST(PlatformCodePage, Utf8LengthsAndBufferSizes) {
    const char* text = "h\xC3\xA9\xF0\x9F\x98\x80";                       // h, e-acute, U+1F600
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0), 5);  // with the NUL
    WCHAR wide[8] = {};
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, text, -1, wide, 8), 5);
    EXPECT_EQ(std::vector<WCHAR>(wide, wide + 5), (std::vector<WCHAR>{'h', 0xE9, 0xD83D, 0xDE00, 0}));
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, text, -1, wide, 4), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));

    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr), 8);
    char bytes[8] = {};
    SetLastError(0);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, wide, -1, bytes, 7, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    // Unpaired or reversed surrogates become U+FFFD.
    EXPECT_EQ(ToBytes(CP_UTF8, {'a', 0xDE00, 0xD83D}), "a\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(PlatformCodePage, IllFormedUtf8BecomesReplacements) {
    struct Case {
        std::string in;
        std::vector<WCHAR> out;
    } cases[] = {
        {"\xC3\x28", {kFFFD, '('}},   {"a\xE2\x82z", {'a', kFFFD, 'z'}},
        {"\x80\xBF", {kFFFD, kFFFD}}, {"\xC0\xAF", {kFFFD, kFFFD}},  // overlong
        {"\xE0\xA0", {kFFFD}},
    };
    for (const Case& c : cases) EXPECT_EQ(ToWide(CP_UTF8, c.in), c.out) << "input " << ::testing::PrintToString(c.in);

    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "\xC3\x28", 2, nullptr, 0), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
}

TEST(PlatformCodePage, SecondByteOutOfRangeEndsTheSequence) {
#ifdef _WIN32
    GTEST_SKIP() << "the system decoder may take the lead byte and the out-of-range byte as one "
                    "ill-formed sequence (Wine does)";
#else
    // E0, ED, F0 and F4 narrow the range of the byte after them; a byte
    // outside it is not part of the sequence, so the lead alone is replaced.
    EXPECT_EQ(ToWide(CP_UTF8, "\xE0\x80\xAF"), (std::vector<WCHAR>{kFFFD, kFFFD, kFFFD}));
    EXPECT_EQ(ToWide(CP_UTF8, "\xF0\x8F\xBF\xBF"), (std::vector<WCHAR>{kFFFD, kFFFD, kFFFD, kFFFD}));
#endif
}

TEST(PlatformCodePage, KoreanRoundTrip) {
    // U+D55C U+AE00 are in the EUC-KR range; U+B620 only in the extension.
    const std::vector<WCHAR> hangul{0xD55C, 0xAE00, 'a', 0xB620};
    const std::string bytes =
        "\xC7\xD1\xB1\xDB"
        "a\x8C\x63";
    EXPECT_EQ(ToBytes(949, hangul), bytes);
    EXPECT_EQ(ToWide(949, bytes), hangul);
    // A pair with no character at the very end: the converter here consumes
    // it before reporting it, and nothing may be skipped after that.
    const std::vector<WCHAR> cut = ToWide(949, "a\xA2\xE8");
    ASSERT_FALSE(cut.empty());
    EXPECT_EQ(cut.front(), 'a');
#ifndef _WIN32
    EXPECT_EQ(cut, (std::vector<WCHAR>{'a', kFFFD}));
#endif
    SetLastError(0);
    EXPECT_EQ(ToBytes(12345, hangul), "");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(PlatformCrt, DecimalToIntSaturates) {
#ifdef _WIN32
    GTEST_SKIP() << "the Windows runtime decides what overflow gives (msvcrt under Wine wraps)";
#else
    EXPECT_EQ(vorlix::win::atoi("  -7xyz"), -7);
    EXPECT_EQ(vorlix::win::atoi("-99999999999"), INT_MIN);
    EXPECT_EQ(vorlix::win::atoi("2147483648"), INT_MAX);
    const WCHAR big[] = {'-', '3', '0', '0', '0', '0', '0', '0', '0', '0', '0', 0};
    EXPECT_EQ(_wtoi(big), INT_MIN);
#endif
}

TEST(PlatformVirtualMemory, ReserveCommitDecommitRelease) {
    const SIZE_T kMiB = 1 << 20, kPart = 256 * 1024;
    auto allZero = [](const char* p, SIZE_T n) {
        for (SIZE_T i = 0; i < n; ++i)
            if (p[i]) return false;
        return true;
    };
    char* base = static_cast<char*>(VirtualAlloc(nullptr, kMiB, MEM_RESERVE, PAGE_NOACCESS));
    ASSERT_NE(base, nullptr);
    char* part = base + kPart;
    ASSERT_EQ(VirtualAlloc(part, kPart, MEM_COMMIT, PAGE_READWRITE), part);
    EXPECT_TRUE(allZero(part, kPart));
    std::memset(part, 0x5A, kPart);
    // Committing committed pages keeps them; an address inside a page
    // stands for the whole page.
    EXPECT_EQ(VirtualAlloc(part + 100, 10, MEM_COMMIT, PAGE_READWRITE), part);
    EXPECT_EQ(part[kPart - 1], 0x5A);
    // Decommitted pages come back zeroed.
    EXPECT_TRUE(VirtualFree(part, kPart, MEM_DECOMMIT));
    ASSERT_EQ(VirtualAlloc(part, kPart, MEM_COMMIT, PAGE_READWRITE), part);
    EXPECT_TRUE(allZero(part, kPart));
    // A range running past the end of the reservation is refused.
    EXPECT_EQ(VirtualAlloc(base + kMiB - 4096, 8192, MEM_COMMIT, PAGE_READWRITE), nullptr);
    // Released once only, and then no longer there to commit.
    EXPECT_TRUE(VirtualFree(base, 0, MEM_RELEASE));
    EXPECT_FALSE(VirtualFree(base, 0, MEM_RELEASE));
    EXPECT_EQ(VirtualAlloc(part, kPart, MEM_COMMIT, PAGE_READWRITE), nullptr);

    // Reserved and committed at once.
    char* both = static_cast<char*>(VirtualAlloc(nullptr, 65536, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    ASSERT_NE(both, nullptr);
    EXPECT_TRUE(allZero(both, 65536));
    both[0] = both[65535] = 1;
    EXPECT_TRUE(VirtualFree(both, 0, MEM_RELEASE));
}

TEST(PlatformCodePage, DefaultCodePageAndLeadBytes) {
#ifndef _WIN32
    EXPECT_EQ(GetACP(), static_cast<UINT>(CP_UTF8));
#endif
    EXPECT_TRUE(IsDBCSLeadByteEx(949, 0xB0));   // Hangul
    EXPECT_TRUE(IsDBCSLeadByteEx(932, 0x82));   // Shift JIS
    EXPECT_FALSE(IsDBCSLeadByteEx(932, 0xA5));  // a half-width katakana stands alone
    EXPECT_FALSE(IsDBCSLeadByteEx(949, 'A'));
    EXPECT_FALSE(IsDBCSLeadByteEx(1252, 0xE9));
    EXPECT_FALSE(IsDBCSLeadByteEx(CP_UTF8, 0xE0));
}

// The CGI environment services: environment variables, and standard input
// read as raw bytes in binary mode.
TEST(PlatformEnviron, VariablesAndBinaryStdin) {
    testsupport::ScopedEnv env;
    env.Set("VORLIX_TEST_VAR", "a b=c");
    EXPECT_STREQ(vorlix::win::getenv("VORLIX_TEST_VAR"), "a b=c");
    env.Set("VORLIX_TEST_VAR", nullptr);
    EXPECT_EQ(vorlix::win::getenv("VORLIX_TEST_VAR"), nullptr);

    std::string bytes = std::string("a\r\nb\032c\n\0", 7) + std::string(3000, 'x');
    testsupport::StdinPipe in(bytes);
    int prev = vorlix::win::_setmode(0, _O_BINARY);
    EXPECT_NE(prev, -1);
    std::string got;
    char buf[700];
    int n;
    while ((n = vorlix::win::_read(0, buf, sizeof buf)) > 0) got.append(buf, static_cast<std::size_t>(n));
    EXPECT_EQ(n, 0);  // the end, not an error
    EXPECT_EQ(got, bytes);
    vorlix::win::_setmode(0, prev);
}

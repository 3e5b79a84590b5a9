// Format in both widths. Where snprintf defines the same result, the 8-bit
// output is compared with it and the 16-bit output with its widened form.
#include "support.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/mman.h>
#include <unistd.h>
#endif

using testsupport::U;
using testsupport::Units;

namespace {

std::u16string Widen(const std::string& s) {
    std::u16string w;
    for (char c : s) w.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
    return w;
}

template <class T>
void ExpectLikeC(const char* fmt, T value) {
    char buf[1200];
    ASSERT_GE(std::snprintf(buf, sizeof buf, fmt, value), 0) << fmt;
    MString m;
    m.Format(fmt, value);
    EXPECT_EQ(std::string(buf), std::string(m.GetString(), static_cast<std::size_t>(m.GetLength()))) << fmt;
    UString u;
    u.Format(U(Widen(fmt).c_str()).GetString(), value);
    EXPECT_EQ(Widen(buf), Units(u)) << fmt;
}

TEST(FormatTest, ConversionsLikeC) {
    for (const char* conv : {"%d", "[%-5d]", "[%05d]", "%+d", "% d", "[%8.3d]", "[%08.3d]", "%#x", "%#X", "%#o", "%u",
                             "[%-+6d]", "%.0d", "%hd", "%hhu"})
        for (int v : {0, 7, -42, 255, 65536, INT_MAX, INT_MIN}) ExpectLikeC(conv, v);
    for (long v : {LONG_MIN, LONG_MAX}) ExpectLikeC("[%12ld]", v);
    for (long long v : {LLONG_MIN, LLONG_MAX}) ExpectLikeC("[%-22lld]", v);
    ExpectLikeC("%016llX", ULLONG_MAX);
    for (const char* conv : {"[%3c]", "[%-3c]"}) ExpectLikeC(conv, 'z');
    // Zero padding of floating point goes after the sign and a 0x prefix,
    // and infinity is padded with blanks, as printf does.
    for (const char* conv : {"%f", "[%10.3f]", "%e", "%G", "%g", "[%-+9.1f]", "[%012.3f]", "[%-12.3e]", "[%+012g]",
                             "[% 10.2f]", "[%#010.0f]", "[%015a]"})
        for (double v : {0.0, -2.25, 1e10, 1e300, 3.14159, -1.0 / 0.0}) ExpectLikeC(conv, v);
    ExpectLikeC("%.1000f", 1.0 / 3);  // past the formatter's first buffer
    MString m;
    m.Format("[%*d|%*d|%.*d]", 6, -3, -4, 5, 4, 7);  // a negative width aligns left
    EXPECT_STREQ("[    -3|5   |0007]", m);
    for (const char* conv : {"[%8s]", "[%-8s]", "[%6.3s]", "%.0s", "100%% %s%%"}) {
        char buf[64];
        std::snprintf(buf, sizeof buf, conv, "hello");
        m.Format(conv, "hello");
        EXPECT_STREQ(buf, m) << conv;
    }
}

// %s is the format's own width, %hs 8 bits and %ls 16 bits; widths and
// precisions count the result's characters.
TEST(FormatTest, TextOfEachWidth) {
    UString u;
    u.Format(u"%s|%hs|%5hs|%-4s|%.1hs|%c", U(u"wide").GetString(), "narrow", "ab", U(u"w").GetString(), "xyz",
             u'\u20AC');
    EXPECT_EQ(u"wide|narrow|   ab|w   |x|\u20AC", Units(u));
    MString m;
    m.Format("%s+%ls+%3ls|%s", "narrow", U(u"wide").GetString(), U(u"w").GetString(),
             static_cast<const char*>(nullptr));
    EXPECT_STREQ("narrow+wide+  w|(null)", m);
}

TEST(FormatTest, OwnTextAndLongResults) {
    MString s("abc");
    s.Format("%s!%s", s.GetString(), s.GetString());
    EXPECT_STREQ("abc!abc", s);
    UString ubig(static_cast<unsigned short>('y'), 100 * 1024);
    UString u;
    u.Format(u"%s%-3000d|", ubig.GetString(), -1);
    ASSERT_EQ(100 * 1024 + 3001, u.GetLength());
    EXPECT_EQ(u'-', static_cast<char16_t>(u[100 * 1024]));
    EXPECT_EQ(u'|', static_cast<char16_t>(u[u.GetLength() - 1]));
}

// ---- Hostile arguments ----

namespace {

// FormatV's result, with the text left in out.
template <class Ch>
int FormatResult(vorlix::BasicString<Ch>& out, const Ch* fmt, ...) {
    std::va_list args;
    va_start(args, fmt);
    int r = out.FormatV(fmt, &args);
    va_end(args);
    return r;
}

}  // namespace

#ifndef _WIN32
// Texts that end exactly where the readable memory ends: each Place maps
// two pages, makes the second unreadable and copies the units to the end
// of the first, so that reading one unit further faults.
class PageEnd {
public:
    ~PageEnd() {
        for (char* m : m_maps) munmap(m, 2 * Size());
    }
    template <class T>
    const T* Place(const T* units, std::size_t n) {
        void* p = mmap(nullptr, 2 * Size(), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) return nullptr;
        char* base = static_cast<char*>(p);
        m_maps.push_back(base);
        mprotect(base + Size(), Size(), PROT_NONE);
        T* at = reinterpret_cast<T*>(base + Size()) - n;
        std::memcpy(at, units, n * sizeof(T));
        return at;
    }

private:
    static std::size_t Size() { return static_cast<std::size_t>(sysconf(_SC_PAGESIZE)); }
    std::vector<char*> m_maps;
};

// Every string conversion with a precision reads an argument without a NUL
// no further than the characters it writes; the format strings end at the
// page end too. The texts hold Hangul (3 UTF-8 bytes, one unit) and a
// surrogate pair (4 bytes, two units).
TEST(FormatHostile, PrecisionBoundsTheReadAtAPageEnd) {
    PageEnd page;
    const char narrow[] = {'a', '\xED', '\x95', '\x9C', '\xF0', '\x9F', '\x98', '\x80'};
    const unsigned short wide[] = {'a', 0xD55C, 0xD83D, 0xDE00};
    const char* n = page.Place(narrow, sizeof narrow);
    MString m;
    m.Format(page.Place("[%.8s]", 7), n);
    EXPECT_EQ(std::string(m.GetString(), 10), "[" + std::string(narrow, 8) + "]");
    UString u;
    u.Format(page.Place(U(u"[%.4s]").GetString(), 7), page.Place(wide, 4));
    EXPECT_EQ(Units(u), u"[a\uD55C\U0001F600]");
    for (const char* f : {"%.8ls", "%.8S"}) {
        m.Format(f, page.Place(wide, 4));
        EXPECT_STREQ(m, "a\xED\x95\x9C\xF0\x9F\x98\x80") << f;
    }
    for (const char16_t* f : {u"%.4hs", u"%.4S"}) {
        u.Format(f, n);
        EXPECT_EQ(Units(u), u"a\uD55C\U0001F600");
    }
    // The conversions stop before a character that does not fit: the
    // pair at the page end is not read when it could not be written.
    m.Format("%.4ls", page.Place(wide, 2));
    EXPECT_STREQ(m, "a\xED\x95\x9C");
    u.Format(u"%.2hs", page.Place(narrow, 4));
    EXPECT_EQ(Units(u), u"a\uD55C");
    // A format that ends inside a conversion.
    for (const char* f : {"x%-08.", "x%I", "x%I6", "x%ll"}) {
        m.Format(page.Place(f, std::strlen(f) + 1), 1);
        EXPECT_STREQ(m, f);
    }
}
#endif

// Text of the other width is UTF-8 on POSIX. A precision counts the
// characters written: a UTF-8 sequence or a surrogate pair that does not
// fit whole is dropped, and the width pads what is left.
TEST(FormatHostile, OtherWidthIsUtf8AndPrecisionNeverCutsACharacter) {
#ifdef _WIN32
    GTEST_SKIP() << "the other width goes through the ANSI code page on Windows";
#else
    const unsigned short wide[] = {0xD55C, 0xAE00, 0};
    const unsigned short pair[] = {0xD83D, 0xDE00, 'z', 0};
    MString m;
    m.Format("[%.5ls|%.6ls|%.3ls|%-5.3ls|%.4ls|%ls]", wide, wide, pair, pair, pair, U(u"\u00e9").GetString());
    EXPECT_STREQ(m, "[\xED\x95\x9C|\xED\x95\x9C\xEA\xB8\x80||     |\xF0\x9F\x98\x80|\xC3\xA9]");
    UString u;
    u.Format(u"[%.1hs|%3.1hs|%.2hs|%.1hs]", "\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80",
             "\xED\x95\x9C\xEA\xB8\x80");
    EXPECT_EQ(Units(u), u"[|   |\U0001F600|\uD55C]");
    // Ill-formed input: one U+FFFD per maximal ill-formed part, as the
    // code-page conversion gives; a lone surrogate becomes U+FFFD.
    u.Format(u"%hs",
             "\xE0\xA0"
             "A\xFF");
    EXPECT_EQ(Units(u), u"\uFFFDA\uFFFD");
    const unsigned short lone[] = {'a', 0xDC00, 0xD800, 0};
    m.Format("%ls|%lc", lone, 0xD800);
    EXPECT_STREQ(m, "a\xEF\xBF\xBD\xEF\xBF\xBD|\xEF\xBF\xBD");
#endif
}

// Outputs that cannot be produced fail as a whole: the string is empty,
// FormatV returns 0 and the failure is reported; no output is cut short.
TEST(FormatHostile, OversizedWidthsAndPrecisionsFail) {
    testsupport::WarningCounter warnings;
    MString m = "old";
    UString u = U(u"old");
    // Formats into a copy of `out`, which holds text: that must fail and
    // leave the copy empty.
    auto fails = [](auto out, auto fmt, auto... args) {
        int r = FormatResult(out, fmt, args...);
        if (r == 0 && out.IsEmpty()) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "result " << r << ", length " << out.GetLength();
    };
    // Widths the string limit cannot hold, and precisions past it.
    for (const char* f : {"%2147483647d", "%99999999999d", "x%.99999999999d"}) EXPECT_TRUE(fails(m, f, 1)) << f;
    for (const char* f : {"%-2147483647s", "%.99999999999s"}) EXPECT_TRUE(fails(m, f, "abc")) << f;
    for (const char* f : {"%2147483647f", "%.2147483647f", "%.2147483647e", "%#.2147483647g"})
        EXPECT_TRUE(fails(m, f, 1.0)) << f;
    EXPECT_TRUE(fails(m, "%*d", INT_MIN, 5));
    EXPECT_TRUE(fails(u, U(u"%1073741900d").GetString(), 1));  // past the 16-bit limit
    EXPECT_EQ(warnings.count(), 11);

    // Within the limits the text is exact: a large precision on a short
    // text, %g with a precision that cannot change its digits, and a
    // negative precision from * (none).
    EXPECT_EQ(FormatResult(m, "%.2147483647s|%.2147483647g|%.*d", "abc", 1.5, -1, 42), 1);
    EXPECT_STREQ(m, "abc|1.5|42");
    EXPECT_EQ(FormatResult(u, U(u"%.*hs|%.0s|").GetString(), 2, "xyz", U(u"no").GetString()), 1);
    EXPECT_EQ(Units(u), u"xy||");
}

}  // namespace

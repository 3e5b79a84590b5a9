// Format in both widths. Where the C runtime's snprintf defines the same
// result, the 8-bit output is compared with it and the 16-bit output with
// its widened form.
#include "support.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <string>

using testsupport::U;
using testsupport::Units;

namespace {

std::u16string Widen(const std::string& s) {
    std::u16string w;
    for (char c : s) w.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
    return w;
}

// The format in both widths against snprintf.
template <class T>
void ExpectLikeC(const char* fmt, T value) {
    char buf[512];
    int n = std::snprintf(buf, sizeof buf, fmt, value);
    ASSERT_GE(n, 0) << fmt;
    MString m;
    m.Format(fmt, value);
    EXPECT_EQ(std::string(buf), std::string(m.GetString(), static_cast<std::size_t>(m.GetLength()))) << fmt;
    UString fmt16 = U(Widen(fmt).c_str());
    UString u;
    u.Format(fmt16.GetString(), value);
    EXPECT_EQ(Widen(buf), Units(u)) << fmt;
}

TEST(FormatTest, IntegersLikeC) {
    const char* const specs[] = {"%d", "[%5d]", "[%-5d]", "[%05d]", "%+d", "% d", "%.3d", "[%8.3d]",
                                 "[%08.3d]", "%i", "%x", "%X", "%#x", "%#X", "%o", "%#o", "%u",
                                 "[%-+6d]", "%.0d", "%hd", "%hhu"};
    const int values[] = {0, 7, -42, 255, 65536, INT_MAX, INT_MIN};
    for (const char* spec : specs)
        for (int v : values) ExpectLikeC(spec, v);
    MString m;
    m.Format("[%*d|%-*d|%*d|%.*d]", 6, -3, 4, 9, -4, 5, 4, 7);  // a negative width aligns left
    EXPECT_STREQ("[    -3|9   |5   |0007]", m);

    for (const char* spec : {"%u", "%x"})
        for (unsigned v : {0u, 4000000000u, UINT_MAX}) ExpectLikeC(spec, v);
    for (const char* spec : {"%ld", "[%12ld]"})
        for (long v : {0L, -1L, LONG_MIN, LONG_MAX}) ExpectLikeC(spec, v);
    for (const char* spec : {"%lu", "%lx"}) ExpectLikeC(spec, ULONG_MAX);
    for (const char* spec : {"%lld", "[%-22lld]"})
        for (long long v : {0LL, -5LL, LLONG_MIN, LLONG_MAX}) ExpectLikeC(spec, v);
    for (const char* spec : {"%llu", "%016llX"}) ExpectLikeC(spec, ULLONG_MAX);
}

TEST(FormatTest, CharsStringsAndFloatsLikeC) {
    for (const char* spec : {"%c", "[%3c]", "[%-3c]"}) ExpectLikeC(spec, 'z');
    for (double v : {0.0, 1.5, -2.25, 1e10, 3.14159})
        for (const char* spec : {"%f", "%.2f", "[%10.3f]", "%e", "%G", "%g", "[%-+9.1f]"}) ExpectLikeC(spec, v);
    // %s in each form's own width: checked against snprintf in 8 bits only.
    for (const char* spec : {"%s", "[%8s]", "[%-8s]", "%.2s", "[%6.3s]", "%.0s", "100%% %s%%"}) {
        char buf[64];
        std::snprintf(buf, sizeof buf, spec, "hello");
        MString m;
        m.Format(spec, "hello");
        EXPECT_STREQ(buf, m) << spec;
    }
}

TEST(FormatTest, TextOfEachWidth) {
    UString u;
    u.Format(u"%s|%hs|%5hs|%-4s|%.1hs", U(u"wide").GetString(), "narrow", "ab", U(u"w").GetString(), "xyz");
    EXPECT_EQ(u"wide|narrow|   ab|w   |x", Units(u));
    u.Format(u"%c%c", u'\u20AC', 'a');
    EXPECT_EQ(u"\u20ACa", Units(u));

    MString m;
    m.Format("%s+%ls+%3ls", "narrow", U(u"wide").GetString(), U(u"w").GetString());
    EXPECT_STREQ("narrow+wide+  w", m);

    m.Format("%s|%ls", static_cast<const char*>(nullptr), static_cast<const unsigned short*>(nullptr));
    EXPECT_STREQ("(null)|(null)", m);
    u.Format(u"%s|%hs", static_cast<const unsigned short*>(nullptr), static_cast<const char*>(nullptr));
    EXPECT_EQ(u"(null)|(null)", Units(u));
}

TEST(FormatTest, NonAsciiAcrossWidthsIsUtf8OnPosix) {
#ifdef _WIN32
    GTEST_SKIP() << "the other width goes through the ANSI code page on Windows";
#else
    UString u;
    u.Format(u"[%hs]", "\xED\x95\x9C");
    EXPECT_EQ(u"[\uD55C]", Units(u));
    MString m;
    m.Format("[%ls]", U(u"\u00e9\U0001F600").GetString());
    EXPECT_STREQ("[\xC3\xA9\xF0\x9F\x98\x80]", m);
#endif
}

TEST(FormatTest, OwnTextAndLongResults) {
    MString s("abc");
    s.Format("%s!%s", s.GetString(), s.GetString());
    EXPECT_STREQ("abc!abc", s);
    UString u(u"xy");
    u.Format(u"%s%s", u.GetString(), u.GetString());
    EXPECT_EQ(u"xyxy", Units(u));

    s.Format("%5000d", 42);
    EXPECT_EQ(std::string(4998, ' ') + "42", s.GetString());
    UString ubig(static_cast<unsigned short>('y'), 100 * 1024);
    u.Format(u"%s%-3000d|", ubig.GetString(), -1);
    ASSERT_EQ(100 * 1024 + 3001, u.GetLength());
    EXPECT_EQ(u'-', static_cast<char16_t>(u[100 * 1024]));
    EXPECT_EQ(u'|', static_cast<char16_t>(u[u.GetLength() - 1]));
    s.Format("");
    EXPECT_TRUE(s.IsEmpty());
}

}  // namespace

// Format in both widths. Where snprintf defines the same result, the 8-bit
// output is compared with it and the 16-bit output with its widened form.
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

template <class T>
void ExpectLikeC(const char* fmt, T value) {
    char buf[512];
    ASSERT_GE(std::snprintf(buf, sizeof buf, fmt, value), 0) << fmt;
    MString m;
    m.Format(fmt, value);
    EXPECT_EQ(std::string(buf), std::string(m.GetString(), static_cast<std::size_t>(m.GetLength()))) << fmt;
    UString u;
    u.Format(U(Widen(fmt).c_str()).GetString(), value);
    EXPECT_EQ(Widen(buf), Units(u)) << fmt;
}

TEST(FormatTest, NumbersAndCharsLikeC) {
    for (const char* conv : {"%d", "[%-5d]", "[%05d]", "%+d", "% d", "[%8.3d]", "[%08.3d]", "%#x", "%#X",
                             "%#o", "%u", "[%-+6d]", "%.0d", "%hd", "%hhu"})
        for (int v : {0, 7, -42, 255, 65536, INT_MAX, INT_MIN}) ExpectLikeC(conv, v);
    for (long v : {LONG_MIN, LONG_MAX}) ExpectLikeC("[%12ld]", v);
    for (long long v : {LLONG_MIN, LLONG_MAX}) ExpectLikeC("[%-22lld]", v);
    ExpectLikeC("%016llX", ULLONG_MAX);
    for (const char* conv : {"[%3c]", "[%-3c]"}) ExpectLikeC(conv, 'z');
    for (double v : {0.0, -2.25, 1e10, 3.14159})
        for (const char* conv : {"%f", "[%10.3f]", "%e", "%G", "%g", "[%-+9.1f]"}) ExpectLikeC(conv, v);
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
    UString ubig(static_cast<unsigned short>('y'), 100 * 1024);
    UString u;
    u.Format(u"%s%-3000d|", ubig.GetString(), -1);
    ASSERT_EQ(100 * 1024 + 3001, u.GetLength());
    EXPECT_EQ(u'-', static_cast<char16_t>(u[100 * 1024]));
    EXPECT_EQ(u'|', static_cast<char16_t>(u[u.GetLength() - 1]));
}

}  // namespace

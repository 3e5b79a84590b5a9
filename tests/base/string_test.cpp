// MString and UString: one template in two widths, so the shared cases run
// as typed tests; the 8-bit-only properties and conversions follow.
#include "support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <new>
#include <string>
#include <thread>
#include <vector>

using testsupport::U;
using testsupport::Units;

namespace {

// A string of either width from bytes (a unit each), and its units back
// as bytes.
template <class S>
S Lit(const char* a) {
    const unsigned char* u = reinterpret_cast<const unsigned char*>(a);
    std::vector<typename S::CharType> w(u, u + std::strlen(a));
    return S(w.data(), static_cast<int>(w.size()));
}
template <class S>
std::string A(const S& s) {
    return std::string(s.GetString(), s.GetString() + s.GetLength());
}

template <class S>
class StringTest : public ::testing::Test {};
typedef ::testing::Types<MString, UString> Widths;
TYPED_TEST_SUITE(StringTest, Widths);

#define L(text) Lit<TypeParam>(text)

TYPED_TEST(StringTest, BuildCompareAndSelfReference) {
    typedef typename TypeParam::CharType Ch;
    EXPECT_EQ("yxx!", A(static_cast<const Ch*>(L("y")) + TypeParam(Ch('x'), 2) + Ch('!')));
    EXPECT_LT(L("abc").Compare(L("ab\xE9")), 0);       // units compare unsigned
    EXPECT_NE(0, L("\xE9").CompareNoCase(L("\xC9")));  // only ASCII folds

    TypeParam s = L("abcdef");
    s += s;
    s = s.GetString() + 2;
    s.SetString(s.GetString() + 4, 3);
    s.Insert(1, s.GetString());
    s.Append(s.GetString() + 1, 2);
    EXPECT_EQ("aabcbcab", A(s));
}

TYPED_TEST(StringTest, SubstringsFindReplaceTrim) {
    typedef typename TypeParam::CharType Ch;
    TypeParam s = L("abcdef");
    EXPECT_EQ("|abcdef|cd|cdef||ab|def|", A(s.Left(-1)) + "|" + A(s.Left(100)) + "|" + A(s.Mid(2, 2)) + "|" +
                                              A(s.Mid(2, 100)) + "|" + A(s.Mid(100, 2)) + "|" + A(s.Mid(-3, 2)) + "|" +
                                              A(s.Right(3)) + "|" + A(s.Right(-1)));
    s = L("abcabc");
    EXPECT_EQ(4, s.Find(Ch('b'), 2));
    EXPECT_EQ(3, s.Find(L("abc"), 1));
    EXPECT_EQ(-1, s.Find(L("abcabcabc")));

    s = L("aaaa");
    EXPECT_EQ(2, s.Replace(L("aa"), L("bab")));  // left to right, not rescanned
    EXPECT_EQ("babbab", A(s));
    EXPECT_EQ(0, s.Replace(TypeParam(), L("x")));
    s = L(" \t\r\n\v\f-+abc+-x \t");
    s.TrimLeft();
    s.TrimRight();
    s.TrimLeft(L("+-"));
    s.TrimRight(Ch('x'));
    EXPECT_EQ("abc+-", A(s));
    s = L("Hi\xE9");
    s.MakeUpper();
    EXPECT_EQ("HI\xE9", A(s));
}

TYPED_TEST(StringTest, EditsBuffersAndBadIndexes) {
    typedef typename TypeParam::CharType Ch;
    testsupport::WarningCounter warnings;
    TypeParam s = L("abc");
    EXPECT_EQ(Ch(0), s[-1]);
    s.SetAt(5, Ch('x'));
    s.SetAt(0, Ch(0));
    EXPECT_EQ("abc", A(s));
    EXPECT_EQ(3, warnings.count());

    s = L("abcdef");
    EXPECT_EQ(2, s.Delete(2, 100));
    EXPECT_EQ(4, s.Insert(100, L("gh")));
    EXPECT_EQ(6, s.Insert(-3, L("xy")));
    EXPECT_EQ("xyabgh", A(s));

    Ch* p = s.GetBuffer(20);  // keeps the text
    p[2] = Ch('-');
    s.ReleaseBuffer(4);
    EXPECT_EQ("xy-b", A(s));
    TypeParam r = L("ab");
    r.SetMinBlockSize(100);
    const Ch* before = r.GetString();
    for (int i = 0; i < 98; ++i) r += Ch('c');
    EXPECT_EQ(before, r.GetString());
}

// A copy shares the buffer; whichever side changes gets its own.
TYPED_TEST(StringTest, CopyOnWrite) {
    typedef typename TypeParam::CharType Ch;
    const std::vector<std::pair<const char*, std::function<void(TypeParam&)>>> ops = {
        {"SetAt", [](TypeParam& s) { s.SetAt(2, Ch('#')); }},
        {"+=", [](TypeParam& s) { s += L("!"); }},
        {"Replace", [](TypeParam& s) { s.Replace(L("o"), L("0")); }},
        {"MakeUpper", [](TypeParam& s) { s.MakeUpper(); }},
        {"TrimLeft", [](TypeParam& s) { s.TrimLeft(); }},
        {"GetBuffer",
         [](TypeParam& s) {
             s.GetBuffer(40)[0] = Ch('*');
             s.ReleaseBuffer(5);
         }},
    };
    const char* const text = "  Hello World  ";
    for (const auto& op : ops) {
        for (int side = 0; side < 2; ++side) {
            TypeParam a = L(text);
            TypeParam b = a;
            TypeParam c;
            c = a;
            EXPECT_EQ(a.GetString(), c.GetString()) << op.first;
            op.second(side ? a : b);
            EXPECT_NE(text, A(side ? a : b)) << op.first;
            EXPECT_EQ(text, A(side ? b : a)) << op.first << " on side " << side;
            EXPECT_EQ(text, A(c)) << op.first;
        }
    }
}

#undef L

// Once every copy is gone GetBuffer keeps the buffer in place (a shared one
// would be cloned, a freed one caught by the sanitizers).
void ExpectUnshared(MString& s) {
    const char* before = s;
    s.GetBuffer(0);
    s.ReleaseBuffer();
    EXPECT_EQ(before, static_cast<const char*>(s));
}

TEST(MStringTest, OnePointerAndRelocatable) {
    static_assert(sizeof(MString) == sizeof(void*), "one pointer");
    alignas(MString) unsigned char from[sizeof(MString)];
    alignas(MString) unsigned char to[sizeof(MString)];
    MString* orig = ::new (static_cast<void*>(from)) MString("relocated text");
    MString keep = *orig;
    std::memcpy(to, from, sizeof(MString));
    std::memset(from, 0xEE, sizeof from);
    MString* moved = std::launder(reinterpret_cast<MString*>(to));
    *moved += " and changed";
    EXPECT_STREQ("relocated text and changed", *moved);
    EXPECT_STREQ("relocated text", keep);
    moved->~MString();
    ExpectUnshared(keep);
}

TEST(MStringTest, ConcurrentCopies) {
    const std::string text(200, 'q');
    MString shared(text.c_str());
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&shared] {
            for (int i = 0; i < 2000; ++i) {
                MString a = shared;
                MString b(a);
                if (b.GetLength() != 200 || b[199] != 'q') ADD_FAILURE() << "copy damaged";
                if (i % 100 == 0) b += "!";
            }
        });
    for (auto& th : threads) th.join();
    EXPECT_EQ(text, shared.GetString());
    ExpectUnshared(shared);
}

TEST(ConvertTest, Utf8RoundTripAndUnknownPage) {
    const char utf8[] = "A\xC3\xA9\xF0\x9F\x98\x80";  // A, e-acute, U+1F600
    UString u;
    EXPECT_EQ(1, u.FromMBC(65001, utf8));
    EXPECT_EQ(u"A\u00e9\U0001F600", Units(u));
    MString back;
    EXPECT_EQ(1, back.FromUnicode(65001, u));
    EXPECT_STREQ(utf8, back);
    EXPECT_EQ(0, back.FromUnicode(12345, u));
    EXPECT_TRUE(back.IsEmpty());
}

TEST(ConvertTest, CodePageZeroIsUtf8OnPosix) {
#ifdef _WIN32
    GTEST_SKIP() << "code page 0 is the ANSI code page on Windows";
#else
    UString u;
    EXPECT_EQ(1, u.FromMBC(0, "\xED\x95\x9C"));
    EXPECT_EQ(u"\uD55C", Units(u));
#endif
}

}  // namespace

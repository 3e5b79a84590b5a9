// MString and UString: one design in two widths, so most cases run as typed
// tests over both; conversion and the 8-bit-only properties follow.
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

// A string of either width from an ASCII (or, for 8 bits, any byte) text.
template <class S>
S Lit(const char* a) {
    std::vector<typename S::CharType> w;
    for (; *a; ++a) w.push_back(static_cast<typename S::CharType>(static_cast<unsigned char>(*a)));
    return S(w.data(), static_cast<int>(w.size()));
}

// The code units as bytes, for readable assertions on ASCII content.
template <class S>
std::string A(const S& s) {
    std::string out;
    for (int i = 0; i < s.GetLength(); ++i) out.push_back(static_cast<char>(s.GetString()[i]));
    return out;
}

template <class S>
class StringTest : public ::testing::Test {};
typedef ::testing::Types<MString, UString> Widths;
TYPED_TEST_SUITE(StringTest, Widths);

#define L(text) Lit<TypeParam>(text)

TYPED_TEST(StringTest, ConstructConcatCompare) {
    typedef typename TypeParam::CharType Ch;
    EXPECT_EQ(Ch(0), TypeParam().GetString()[0]);
    EXPECT_EQ("xxx", A(TypeParam(Ch('x'), 3)));
    EXPECT_TRUE(TypeParam(Ch('x'), -2).IsEmpty());
    TypeParam abc = L("abcdef");
    EXPECT_EQ("ab", A(TypeParam(abc.GetString(), 2)));
    EXPECT_EQ("abcdef", A(TypeParam(abc.GetString(), -1)));
    EXPECT_TRUE(TypeParam(static_cast<const Ch*>(nullptr)).IsEmpty());

    TypeParam s = L("abc");
    s += L("de");
    s += Ch('f');
    s += static_cast<const Ch*>(L("gh"));
    EXPECT_EQ("abcdefgh", A(s));
    TypeParam x = L("x");
    EXPECT_EQ("yx!", A(static_cast<const Ch*>(L("y")) + x + Ch('!')));
    EXPECT_EQ("!xy", A(Ch('!') + x + L("y")));

    EXPECT_TRUE(L("abc") != L("abC") && L("abc") != L("ab") && L("ab") == L("ab"));
    EXPECT_TRUE(TypeParam() == static_cast<const Ch*>(nullptr));
    EXPECT_LT(L("abc").Compare(L("abd")), 0);
    EXPECT_GT(L("abc").Compare(L("ab")), 0);
    EXPECT_EQ(0, L("Hello").CompareNoCase(L("hELLO")));
    EXPECT_LT(L("apple").CompareNoCase(L("BANANA")), 0);
    EXPECT_LT(L("ab").CompareNoCase(L("ABC")), 0);
    // Code units compare unsigned, and non-ASCII letters are not folded.
    EXPECT_LT(L("a").Compare(L("\xE9")), 0);
    EXPECT_NE(0, L("\xE9").CompareNoCase(L("\xC9")));
}

TYPED_TEST(StringTest, SelfReference) {
    TypeParam s = L("abcdef");
    const TypeParam& same = s;
    s = same;
    s += s;
    EXPECT_EQ("abcdefabcdef", A(s));
    s = s.GetString() + 2;
    EXPECT_EQ("cdefabcdef", A(s));
    s.SetString(s.GetString() + 4, 3);
    EXPECT_EQ("abc", A(s));
    s.Insert(1, s.GetString());
    EXPECT_EQ("aabcbc", A(s));
    s.Append(s.GetString() + 1, 2);
    EXPECT_EQ("aabcbcab", A(s));
}

TYPED_TEST(StringTest, SubstringsAndFind) {
    typedef typename TypeParam::CharType Ch;
    TypeParam s = L("abcdef");
    EXPECT_EQ("|abcdef|cd|cdef|cdef||ab|def||abcdef",
              A(s.Left(-1)) + "|" + A(s.Left(100)) + "|" + A(s.Mid(2, 2)) + "|" + A(s.Mid(2, -1)) + "|" +
                  A(s.Mid(2, 100)) + "|" + A(s.Mid(100, 2)) + "|" + A(s.Mid(-3, 2)) + "|" + A(s.Right(3)) + "|" +
                  A(s.Right(-1)) + "|" + A(s.Right(100)));
    s = L("abcabc");
    const int found[] = {s.Find(Ch('b')), s.Find(Ch('b'), 2), s.Find(Ch('b'), 5), s.Find(Ch('b'), 100),
                         s.Find(L("ca")), s.Find(L("abc"), 1), s.Find(L("abc"), 4), s.Find(L("abcabcabc")),
                         TypeParam().Find(L("a")), s.ReverseFind(Ch('b')), s.ReverseFind(Ch('z'))};
    const int want[] = {1, 4, -1, -1, 2, 3, -1, -1, -1, 4, -1};
    for (int i = 0; i < 11; ++i) EXPECT_EQ(want[i], found[i]) << "case " << i;
}

TYPED_TEST(StringTest, ReplaceTrimCase) {
    typedef typename TypeParam::CharType Ch;
    TypeParam s = L("aaa");
    EXPECT_EQ(3, s.Replace(L("a"), L("aa")));
    EXPECT_EQ("aaaaaa", A(s));
    s = L("aaaa");
    EXPECT_EQ(2, s.Replace(L("aa"), L("b")));  // left to right, no overlap
    EXPECT_EQ("bb", A(s));
    s = L("one two one");
    EXPECT_EQ(2, s.Replace(L("one"), TypeParam()));
    EXPECT_EQ(0, s.Replace(TypeParam(), L("x")));
    EXPECT_EQ(" two ", A(s));
    s = L("banana");
    EXPECT_EQ(3, s.Replace(Ch('a'), Ch('o')));
    EXPECT_EQ("bonono", A(s));

    s = L(" \t\r\n\v\fabc \t\r\n");
    s.TrimLeft();
    EXPECT_EQ("abc \t\r\n", A(s));
    s.TrimRight();
    EXPECT_EQ("abc", A(s));
    s = L("xxabcxx");
    s.TrimLeft(Ch('x'));
    s.TrimRight(Ch('c'));  // the last character is no c: nothing goes
    EXPECT_EQ("abcxx", A(s));
    s = L("-+-abc+-+");
    s.TrimLeft(L("+-"));
    s.TrimRight(L("+-"));
    EXPECT_EQ("abc", A(s));

    s = L("Hello, World 1\xE9\xC9");
    s.MakeUpper();
    EXPECT_EQ("HELLO, WORLD 1\xE9\xC9", A(s));
    s.MakeLower();
    EXPECT_EQ("hello, world 1\xE9\xC9", A(s));
}

TYPED_TEST(StringTest, ElementAccessAndEdits) {
    typedef typename TypeParam::CharType Ch;
    testsupport::WarningCounter warnings;
    TypeParam s = L("abc");
    s.SetAt(1, Ch('B'));
    EXPECT_EQ(0, warnings.count());
    EXPECT_EQ(Ch(0), s.GetAt(3));
    EXPECT_EQ(Ch(0), s[-1]);
    s.SetAt(5, Ch('x'));
    s.SetAt(0, Ch(0));
    EXPECT_EQ("aBc", A(s));
    EXPECT_EQ(4, warnings.count());

    s = L("abcdef");
    EXPECT_EQ(4, s.Delete(1, 2));
    EXPECT_EQ(2, s.Delete(2, 100));
    EXPECT_EQ(2, s.Delete(5));
    EXPECT_EQ(4, s.Insert(100, L("gh")));
    EXPECT_EQ(6, s.Insert(-3, L("ab")));
    EXPECT_EQ(7, s.Insert(2, Ch('-')));
    EXPECT_EQ("ab-adgh", A(s));
}

TYPED_TEST(StringTest, GetBufferAndBlockSize) {
    typedef typename TypeParam::CharType Ch;
    TypeParam s;
    Ch* p = s.GetBuffer(10);
    ASSERT_NE(nullptr, p);
    for (int i = 0; i < 10; ++i) p[i] = Ch('0' + i);
    p[10] = 0;
    s.ReleaseBuffer();
    EXPECT_EQ("0123456789", A(s));
    p = s.GetBuffer(20);  // keeps the text
    p[2] = Ch('x');
    s.ReleaseBuffer(4);
    EXPECT_EQ("01x3", A(s));
    s.GetBuffer(0);
    s.ReleaseBuffer(0);
    EXPECT_TRUE(s == TypeParam());

    TypeParam r = L("ab");
    r.SetMinBlockSize(100);
    const Ch* before = r.GetString();
    for (int i = 0; i < 98; ++i) r += Ch('c');
    EXPECT_EQ(before, r.GetString());
    EXPECT_EQ(100, r.GetLength());
}

// A copy shares the buffer; whichever side changes gets its own.
TYPED_TEST(StringTest, CopyOnWrite) {
    typedef typename TypeParam::CharType Ch;
    typedef std::function<void(TypeParam&)> Op;
    const std::vector<std::pair<const char*, Op>> ops = {
        {"SetAt", [](TypeParam& s) { s.SetAt(2, Ch('#')); }},
        {"+= text", [](TypeParam& s) { s += L("!"); }},
        {"+= char", [](TypeParam& s) { s += Ch('!'); }},
        {"Append", [](TypeParam& s) { s.Append(L("xyz"), 1); }},
        {"MakeUpper", [](TypeParam& s) { s.MakeUpper(); }},
        {"MakeLower", [](TypeParam& s) { s.MakeLower(); }},
        {"Replace text", [](TypeParam& s) { s.Replace(L("o"), L("0")); }},
        {"Replace char", [](TypeParam& s) { s.Replace(Ch('o'), Ch('0')); }},
        {"Delete", [](TypeParam& s) { s.Delete(3, 2); }},
        {"Insert", [](TypeParam& s) { s.Insert(3, L("ins")); }},
        {"TrimLeft", [](TypeParam& s) { s.TrimLeft(); }},
        {"TrimRight", [](TypeParam& s) { s.TrimRight(); }},
        {"Trim set", [](TypeParam& s) { s.TrimLeft(L(" H")); }},
        {"SetString", [](TypeParam& s) { s.SetString(L("other"), 3); }},
        {"assign text", [](TypeParam& s) { s = L("other").GetString(); }},
        {"Empty", [](TypeParam& s) { s.Empty(); }},
        {"SetMinBlockSize", [](TypeParam& s) { s.SetMinBlockSize(200); s.SetAt(0, Ch('*')); }},
        {"GetBuffer", [](TypeParam& s) { s.GetBuffer(0)[0] = Ch('*'); s.ReleaseBuffer(); }},
        {"GetBuffer longer", [](TypeParam& s) { s.GetBuffer(40)[0] = Ch('*'); s.ReleaseBuffer(5); }},
    };
    const char* const text = "  Hello World  ";
    for (const auto& op : ops) {
        for (int side = 0; side < 2; ++side) {
            TypeParam a = L(text);
            TypeParam b = a;
            TypeParam c;
            c = a;
            EXPECT_EQ(a.GetString(), b.GetString()) << op.first;
            EXPECT_EQ(a.GetString(), c.GetString()) << op.first;
            TypeParam& changed = side ? a : b;
            op.second(changed);
            EXPECT_NE(text, A(changed)) << op.first;
            EXPECT_EQ(text, A(side ? b : a)) << op.first << " on side " << side;
            EXPECT_EQ(text, A(c)) << op.first;
        }
    }
}

#undef L

// After every copy is gone the buffer is unshared again: GetBuffer then
// keeps it in place (a shared one would be cloned, a freed one caught by
// the sanitizers).
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
    MString keep = *orig;  // the buffer is shared across the move
    std::memcpy(to, from, sizeof(MString));
    std::memset(from, 0xEE, sizeof from);
    MString* moved = std::launder(reinterpret_cast<MString*>(to));
    EXPECT_EQ(keep.GetString(), moved->GetString());
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
                MString c;
                c = b;
                if (c.GetLength() != 200 || c[199] != 'q') ADD_FAILURE() << "copy damaged";
                if (i % 100 == 0) b += "!";  // a private buffer now
            }
        });
    for (auto& th : threads) th.join();
    EXPECT_EQ(text, shared.GetString());
    ExpectUnshared(shared);
}

TEST(ConvertTest, Utf8RoundTripAndReplacement) {
    // A, e-acute, euro sign, and U+1F600 (a surrogate pair).
    const char utf8[] = "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
    UString u;
    EXPECT_EQ(1, u.FromMBC(65001, utf8));
    EXPECT_EQ(u"A\u00e9\u20ac\U0001F600", Units(u));
    MString back;
    EXPECT_EQ(1, back.FromUnicode(65001, u));
    EXPECT_STREQ(utf8, back);
    EXPECT_EQ(1, u.FromMBC(65001, utf8, 3));
    EXPECT_EQ(u"A\u00e9", Units(u));
    EXPECT_EQ(1, back.FromUnicode(65001, u, 1));
    EXPECT_STREQ("A", back);

    u.FromMBC(65001, "a\xFF" "b");
    EXPECT_EQ(u"a\uFFFDb", Units(u));
    u.FromMBC(65001, "x\xE2\x82");  // cut short at the end
    EXPECT_EQ(u"x\uFFFD", Units(u));

    // An unknown code page gives an empty result.
    MString m("old");
    EXPECT_EQ(0, u.FromMBC(12345, "abc"));
    EXPECT_EQ(0, m.FromUnicode(12345, U(u"abc")));
    EXPECT_TRUE(u.IsEmpty() && m.IsEmpty());
}

TEST(ConvertTest, CodePageZeroIsUtf8OnPosix) {
#ifdef _WIN32
    GTEST_SKIP() << "code page 0 is the ANSI code page on Windows";
#else
    UString u;
    EXPECT_EQ(1, u.FromMBC(0, "\xED\x95\x9C"));
    EXPECT_EQ(u"\uD55C", Units(u));
    MString m;
    EXPECT_EQ(1, m.FromUnicode(0, U(u"\u00e9")));
    EXPECT_STREQ("\xC3\xA9", m);
#endif
}

TEST(ConvertTest, Korean949) {
    UString text = U(u"\uD55C\uAD6D\uC5B4 ok");  // three Hangul syllables
    MString bytes;
    ASSERT_EQ(1, bytes.FromUnicode(949, text));
    EXPECT_EQ(9, bytes.GetLength());
    UString back;
    ASSERT_EQ(1, back.FromMBC(949, bytes));
    EXPECT_EQ(Units(text), Units(back));
}

}  // namespace

// The two widths for typed tests, so that each behaviour is written once
// and checked for the 8-bit and the 16-bit classes. Test text is ASCII
// written as std::string: S() makes it a string of the width, Buf() a
// NUL-terminated buffer of it, N() turns a string back (units above 0x7F
// show as '?'), FileBytes() gives what a file of the width holds.
#ifndef VORLIX_TESTS_WIDTHS_H
#define VORLIX_TESTS_WIDTHS_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support.h"

namespace xmltest {
class RecA;
class RecU;
}  // namespace xmltest

namespace widths {

struct Narrow {
    typedef char Ch;
    typedef MString Str;
    typedef CTokenDataStreamA Stream;
    typedef CTagOptionA Opt;
    typedef CXmlTagA Tag;
    typedef CAnalXmlA Doc;
    typedef xmltest::RecA Rec;   // a document that records its callbacks
    static const int kUnit = 1;  // file bytes per character
    static std::string FileBytes(const std::string& a) { return a; }
};

struct Wide {
    typedef unsigned short Ch;
    typedef UString Str;
    typedef CTokenDataStreamU Stream;
    typedef CTagOptionU Opt;
    typedef CXmlTagU Tag;
    typedef CAnalXmlU Doc;
    typedef xmltest::RecU Rec;
    static const int kUnit = 2;
    // UTF-16 little-endian: what the 16-bit readers read from a file by
    // default and what the writer produces.
    static std::string FileBytes(const std::string& a) {
        return testsupport::Utf16(std::u16string(a.begin(), a.end()), false);
    }
};

typedef ::testing::Types<Narrow, Wide> Widths;

template <class W>
std::vector<typename W::Ch> Buf(const std::string& a) {
    std::vector<typename W::Ch> v(a.begin(), a.end());
    v.push_back(0);
    return v;
}
template <class W>
typename W::Str S(const std::string& a) {
    std::vector<typename W::Ch> v = Buf<W>(a);
    return typename W::Str(v.data(), static_cast<int>(a.size()));
}
template <class W>
std::string N(const typename W::Str& s) {
    std::string out;
    for (int i = 0; i < s.GetLength(); ++i)
        out.push_back(static_cast<unsigned>(s[i]) < 0x80 ? static_cast<char>(s[i]) : '?');
    return out;
}

}  // namespace widths

#endif

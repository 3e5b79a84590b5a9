// Shared pieces of the token stream tests: a fixture over either width
// (widths.h) whose calls give their results as std::string.
#ifndef VORLIX_TESTS_TOKEN_SUPPORT_H
#define VORLIX_TESTS_TOKEN_SUPPORT_H

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "widths.h"

namespace tokentest {

using widths::Narrow;
using widths::Wide;
using widths::Widths;

// Typed fixture: keeps memory buffers alive for the test and wraps the
// stream calls so results come back as std::string ("<end>" or "<fail>"
// when the call fails).
template <class T>
class StreamFixture : public ::testing::Test {
protected:
    typedef typename T::Stream Stream;
    typedef typename T::Str Str;
    typedef typename T::Ch Ch;

    static Str S(const std::string& a) { return widths::S<T>(a); }
    static std::string N(const Str& s) { return widths::N<T>(s); }
    // A stream over this text in memory.
    Stream Mem(const std::string& a, unsigned long dwStart = 0) {
        m_bufs.emplace_back(a.begin(), a.end());
        m_bufs.back().push_back(0);
        return Stream(m_bufs.back().data(), dwStart);
    }

    static std::string Res(int r, const Str& t) { return r ? N(t) : "<fail>"; }
    // GetToken, or with bTest GetTokenTest; "<end>" when it fails.
    static std::string Tok(Stream& s, const char* delims = " ", int* pIndex = nullptr, bool bTest = false) {
        Str t;
        int n = -2;
        if (!(bTest ? s.GetTokenTest(t, S(delims), n) : s.GetToken(t, S(delims), n))) return "<end>";
        if (pIndex) *pIndex = n;
        return N(t);
    }
    // The other reads; the result is "<fail>" when they fail.
    static std::string ToChar(Stream& s, char c, int bMulti, int bInclude) {
        Str t;
        return Res(s.GetTokenToDelimChar(static_cast<Ch>(c), t, bMulti, bInclude), t);
    }
    static std::string ToStr(Stream& s, const char* delim, int bMulti, int bInclude) {
        Str t;
        return Res(s.GetTokenToDelimStr(S(delim), t, bMulti, bInclude), t);
    }
    static std::string Read(Stream& s, int n) {
        Str t;
        return Res(s.ReadChar(t, n), t);
    }
    static std::string Peek(Stream& s, int n) {
        Str t;
        return Res(s.ReadTest(t, n), t);
    }
    static std::string Skip(Stream& s) {
        Str t;
        s.SkipCurLine(t);
        return N(t);
    }

    std::deque<std::vector<Ch>> m_bufs;
};

// The next blank-separated token of a 16-bit stream, "<end>" at the end.
inline std::u16string NextTok(CTokenDataStreamU& s) {
    UString tok;
    int n;
    return s.GetToken(tok, UString(u" "), n) ? testsupport::Units(tok) : u"<end>";
}

// A handle on a temporary file, closed before the file is removed.
struct OpenTemp {
    explicit OpenTemp(const std::string& name, const std::string& bytes) : file(name) {
        file.Write(bytes);
        h = Byte_OpenFile(file.path(), 0xC0000000u, 3, 1);
    }
    ~OpenTemp() {
        if (h) API_CloseFile(h);
    }
    long Tell() const { return API_SeekFile(h, 0, 1); }

    testsupport::TempFile file;
    void* h;
};

}  // namespace tokentest

#endif

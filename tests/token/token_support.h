// Shared pieces of the token stream tests: one traits type per width so that
// each behaviour is written once and checked for 8-bit and 16-bit streams.
// Test text is ASCII written as std::string; the traits turn it into the
// stream's characters (or into a file's bytes) and turn results back.
#ifndef VORLIX_TESTS_TOKEN_SUPPORT_H
#define VORLIX_TESTS_TOKEN_SUPPORT_H

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "support.h"

namespace tokentest {

struct Narrow {
    typedef CTokenDataStreamA Stream;
    typedef MString Str;
    typedef char Ch;
    static const unsigned long kUnit = 1;  // file bytes per character
    static std::string FileBytes(const std::string& a) { return a; }
};

struct Wide {
    typedef CTokenDataStreamU Stream;
    typedef UString Str;
    typedef unsigned short Ch;
    static const unsigned long kUnit = 2;
    // UTF-16 little-endian, what a wide stream reads from a file by default.
    static std::string FileBytes(const std::string& a) {
        return testsupport::Utf16(std::u16string(a.begin(), a.end()), false);
    }
};

typedef ::testing::Types<Narrow, Wide> Widths;

// Typed fixture: keeps memory buffers alive for the test and wraps the
// stream calls so results come back as std::string ("<end>" or "<fail>"
// when the call fails).
template <class T>
class StreamFixture : public ::testing::Test {
protected:
    typedef typename T::Stream Stream;
    typedef typename T::Str Str;
    typedef typename T::Ch Ch;

    static Str S(const std::string& a) {
        std::vector<Ch> v(a.begin(), a.end());
        v.push_back(0);
        return Str(v.data(), static_cast<int>(a.size()));
    }
    // Units above 0x7F show as '?'.
    static std::string N(const Str& s) {
        std::string out;
        for (int i = 0; i < s.GetLength(); ++i) out.push_back(static_cast<unsigned>(s[i]) < 0x80 ? static_cast<char>(s[i]) : '?');
        return out;
    }
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

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
    typedef CTokPosStackItemA Item;
    static const unsigned long kUnit = 1;  // file bytes per character

    static Str S(const std::string& a) { return Str(a.c_str(), static_cast<int>(a.size())); }
    static std::string N(const Str& s) { return std::string(s.GetString(), static_cast<size_t>(s.GetLength())); }
    static std::string FileBytes(const std::string& a) { return a; }
};

struct Wide {
    typedef CTokenDataStreamU Stream;
    typedef UString Str;
    typedef unsigned short Ch;
    typedef CTokPosStackItemU Item;
    static const unsigned long kUnit = 2;

    static Str S(const std::string& a) {
        std::vector<Ch> v;
        for (unsigned char c : a) v.push_back(c);
        v.push_back(0);
        return Str(v.data(), static_cast<int>(a.size()));
    }
    // Units above 0x7F show as '?' (the wide-only tests compare units).
    static std::string N(const Str& s) {
        std::string out;
        for (int i = 0; i < s.GetLength(); ++i) out.push_back(s[i] < 0x80 ? static_cast<char>(s[i]) : '?');
        return out;
    }
    // UTF-16 little-endian, what a wide stream reads from a file by default.
    static std::string FileBytes(const std::string& a) {
        std::string out;
        for (char c : a) {
            out.push_back(c);
            out.push_back('\0');
        }
        return out;
    }
};

// Names the instantiations "A" and "U".
struct WidthName {
    template <class T>
    static std::string GetName(int) {
        return T::kUnit == 1 ? "A" : "U";
    }
};

typedef ::testing::Types<Narrow, Wide> Widths;

// Typed fixture: keeps memory buffers alive for the test and wraps the
// stream calls so results come back as std::string.
template <class T>
class StreamFixture : public ::testing::Test {
protected:
    typedef typename T::Stream Stream;
    typedef typename T::Str Str;
    typedef typename T::Ch Ch;

    const Ch* Text(const std::string& a) {
        m_bufs.emplace_back();
        for (unsigned char c : a) m_bufs.back().push_back(static_cast<Ch>(c));
        m_bufs.back().push_back(0);
        return m_bufs.back().data();
    }

    // The next token, or "<end>" when GetToken fails.
    static std::string Tok(Stream& s, const char* delims = " ", int* pIndex = nullptr) {
        Str t;
        int n = -2;
        Str d = T::S(delims);
        if (!s.GetToken(t, d, n)) return "<end>";
        if (pIndex) *pIndex = n;
        return T::N(t);
    }
    static std::string TokTest(Stream& s) {
        Str t;
        int n = -2;
        Str d = T::S(" ");
        if (!s.GetTokenTest(t, d, n)) return "<end>";
        return T::N(t);
    }
    static int ToChar(Stream& s, char c, int bMulti, int bInclude, std::string& out) {
        Str t;
        int r = s.GetTokenToDelimChar(static_cast<Ch>(c), t, bMulti, bInclude);
        out = T::N(t);
        return r;
    }
    static int ToStr(Stream& s, const char* delim, int bMulti, int bInclude, std::string& out) {
        Str t;
        Str d = T::S(delim);
        int r = s.GetTokenToDelimStr(d, t, bMulti, bInclude);
        out = T::N(t);
        return r;
    }
    static int Read(Stream& s, int n, std::string& out) {
        Str t;
        int r = s.ReadChar(t, n);
        out = T::N(t);
        return r;
    }
    static int Peek(Stream& s, int n, std::string& out) {
        Str t;
        int r = s.ReadTest(t, n);
        out = T::N(t);
        return r;
    }
    static std::string Skip(Stream& s) {
        Str t;
        s.SkipCurLine(t);
        return T::N(t);
    }

    std::deque<std::vector<Ch>> m_bufs;
};

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

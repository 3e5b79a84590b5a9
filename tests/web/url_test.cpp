// URL splitting, base URLs, the standard form, dotted addresses and the
// byte sum; each text function is checked in both widths.
#include <gtest/gtest.h>

#include <vorlix/vorlix.h>

#include <string>
#include <tuple>
#include <utility>

#include "support.h"
#include "widths.h"

namespace {

using widths::N;
using widths::S;

// One name per function for both widths.
void Parse(const char* u, MString& s, MString& h, MString& p, MString& q, unsigned short& n) {
    Byte_ParsorUrl(u, s, h, p, q, n);
}
void Parse(const unsigned short* u, UString& s, UString& h, UString& p, UString& q, unsigned short& n) {
    Uni_ParsorUrl(u, s, h, p, q, n);
}
void Base(MString& u) { Byte_GetBaseUrl(u); }
void Base(UString& u) { Uni_GetBaseUrl(u); }
void Standard(MString& u, int b) { Byte_StandardUrl(u, b); }
void Standard(UString& u, int b) { Uni_StandardUrl(u, b); }
int Ip(const char* u, unsigned char* out) { return Byte_IPStrToIPByte(u, out); }
int Ip(const unsigned short* u, unsigned char* out) { return Uni_IPStrToIPByte(u, out); }

template <class W>
class Url : public ::testing::Test {};
TYPED_TEST_SUITE(Url, widths::Widths);

TYPED_TEST(Url, SplitsIntoItsParts) {
    typedef TypeParam W;
    // url, "scheme|host|port|path|query"
    const std::pair<const char*, const char*> cases[] = {
        {"http://Host:8080/a/b.html?x=1", "http|host|8080|/a/b.html|x=1"},
        {"HTTP://host", "HTTP|host|0|/|"},
        {"http://host/", "http|host|0|/|"},
        {"http://host?x=1", "http|host|0|/|x=1"},
        {"http://host/?x=1", "http|host|0|/|x=1"},
        {"http://host/a/?x=1?y", "http|host|0|/a/|x=1?y"},
        {"/a/b?x", "||0|/a/b|x"},
        {"/", "||0|/|"},
        {"dir/page?x", "||0|dir/page|x"},
        {"page", "||0|page|"},
        {"page?q", "||0|page|q"},
        {"file://C:\\dir\\f.txt", "file|C:|0|\\dir\\f.txt|"},
        {"FILE://d:/x?y", "FILE|d:|0|/x?y|"},
        {"file:///home/u/f.txt?v=1", "file||0|/home/u/f.txt|v=1"},
        {"http://?q", "http||0|/|q"},
        // A ":" after "//" is the host; the token after a port ":" is the
        // port text even when it is a separator, and the path follows it.
        {"http://:81/x", "http|:|0|81/x|"},
        {"http://h:70000", "http|h|4464|/|"},
        {"http://h:/x/y", "http|h|0|x/y|"},
        {"http://h:?q", "http|h|0|q|"},
        {"http://host:", "http|host|0|/|"},
        {"mailto:x", "mailto||0|/|"},
        {"http:/x", "http||0|/|"},
        {"", "||0|/|"},
        {":x", "||0|/|"},
        {"?x=1", "||0|/|"},
    };
    for (const auto& [url, parts] : cases) {
        typename W::Str scheme = S<W>("stale"), host = scheme, path = scheme, query = scheme;
        unsigned short port = 99;
        Parse(S<W>(url), scheme, host, path, query, port);
        EXPECT_EQ(N<W>(scheme) + "|" + N<W>(host) + "|" + std::to_string(port) + "|" + N<W>(path) + "|" + N<W>(query),
                  parts)
            << url;
    }
}

// The base URL, and the standard form with the host alone or the whole URL
// in lower case.
TYPED_TEST(Url, BaseAndStandardForms) {
    typedef TypeParam W;
    const std::pair<const char*, const char*> bases[] = {
        {"http://h:8080/a/b/c.html?x=1", "http://h/a/b"},
        {"http://h/c.html", "http://h"},
        {"http://H", "http://h"},
        {"/a/b", ":///a"},
    };
    for (const auto& [url, base] : bases) {
        typename W::Str text = S<W>(url);
        Base(text);
        EXPECT_EQ(N<W>(text), base) << url;
    }
    // url, bLowerHostOnly, the standard form
    const std::tuple<const char*, int, const char*> standards[] = {
        {"HTTP://Host/Dir/", 1, "http://host/Dir"},
        {"HTTP://Host/Dir/", 0, "http://host/dir"},
        {"http://Host:80", 1, "http://host:80"},
        {"http://host/p?b=2&a=1", 0, "http://host/p?b=2&a=1"},
        {"http://host/P?B=2*A=%41 ", 0, "http://host/p?B=2*A=%41"},
        {"http://host/p?=x", 0, "http://host/p"},
        {"http://host/p?a=1=2", 0, "http://host/p?a=1"},
        {"http://host/p?a=x/", 0, "http://host/p?a=x"},
        {"http://host///", 0, "http://host"},
        {"ftp://Host/", 0, "ftp://Host/"},
        {"http:/", 0, "http:/"},
    };
    for (const auto& [url, bLowerHostOnly, standard] : standards) {
        typename W::Str text = S<W>(url);
        Standard(text, bLowerHostOnly);
        EXPECT_EQ(N<W>(text), standard) << url << " " << bLowerHostOnly;
    }
}

TEST(Url, WideStandardFormKeepsKoreanAndLosesWhatCodePage949Lacks) {
    // U+D55C (in code page 949) stays; U+0E01 (not in it) becomes "?".
    UString url(u"http://h/p?k=\uD55C\u0E01");
    Uni_StandardUrl(url, 1);
    EXPECT_EQ(testsupport::Units(url), u"http://h/p?k=\uD55C?");
}

TYPED_TEST(Url, DottedAddress) {
    typedef TypeParam W;
    const std::pair<const char*, const char*> cases[] = {
        {"192.168.0.1", "192.168.0.1"}, {"10.1", "10.1.0.0"}, {"300.1.2.3.4", "44.1.2.3"}, {"", "0.0.0.0"},
        {"a.-1..7", "0.255.0.7"},       {"1.2.", "1.2.0.0"},  {" 8 .9x.10", "8.9.10.0"},
    };
    for (const auto& [ip, bytes] : cases) {
        unsigned char out[4] = {9, 9, 9, 9};
        EXPECT_EQ(Ip(S<W>(ip), out), 1);
        std::string dotted;
        for (unsigned char b : out) dotted += (dotted.empty() ? "" : ".") + std::to_string(b);
        EXPECT_EQ(dotted, bytes) << ip;
    }
}

TEST(Url, StringToDWord) {
    const unsigned char bytes[] = {1, 2, 3, 4, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(API_StringToDWord(bytes, 0), 0ul);
    EXPECT_EQ(API_StringToDWord(bytes, -4), 0ul);
    EXPECT_EQ(API_StringToDWord(bytes, 4), 0x04030201ul);
    EXPECT_EQ(API_StringToDWord(bytes, 8), 0x04030200ul);  // wraps at 2^32
    EXPECT_EQ(API_StringToDWord(bytes, 9), 0x040302FFul);
    EXPECT_EQ(API_StringToDWord(reinterpret_cast<const unsigned char*>("abc"), 3), 0x00636261ul);
    EXPECT_EQ(API_StringToDWord(reinterpret_cast<const unsigned char*>("abcde"), 5), 0x646362C6ul);
}

}  // namespace

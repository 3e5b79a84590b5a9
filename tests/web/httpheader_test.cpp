// CHttpHeader: start lines (request, status, neither), field lines, the
// block written back, the code page of Content-Type, and the charset map.
#include <gtest/gtest.h>

#include <vorlix/vorlix.h>

#include <string>
#include <utility>

#include "support.h"

namespace {

std::string Str(const MString& s) { return std::string(s, static_cast<std::size_t>(s.GetLength())); }

std::string Header(CHttpHeader& h, int bRequest) {
    MString out = "stale";
    h.ToHeaderString(out, bRequest);
    return Str(out);
}

// The fields of the start line: "method|URI|version|status".
std::string Start(const CHttpHeader& h) {
    return Str(h.m_strMethod) + "|" + Str(h.m_strUri) + "|" + Str(h.m_strVersion) + "|" + Str(h.m_strStatus);
}

TEST(HttpHeader, RequestBlockUpToTheEmptyLine) {
    CHttpHeader h;
    h.Setup("GET /a/b?x=1&y=2 HTTP/1.1\r\nHost: server\r\n\r\nAfter: body\r\n", 0, 0);
    EXPECT_EQ(Start(h), "GET|/a/b|HTTP/1.1|");
    EXPECT_EQ(h.m_cgiParam.GetParamSum(), 2);
    EXPECT_EQ(h.m_aryName.GetSize(), 1);
    EXPECT_EQ(h.Find("After"), -1);
    EXPECT_EQ(Header(h, 1), "GET /a/b?x=1&y=2 HTTP/1.1\r\nHost: server\r\n\r\n");

    // Setup starts again from nothing; the query is written as its pairs
    // rebuild it, decoded, with the separator in use, by length.
    h.Setup("POST /p?a=%41+b^c=%00d HTTP/1.0\nA: 1", 0, 1);
    EXPECT_EQ(h.Find("Host"), -1);
    EXPECT_EQ(Str(h.m_cgiParam.GetValue("a")), "A b");
    CHttpHeader copy;
    copy = h;
    EXPECT_EQ(Header(copy, 1), std::string("POST /p?a=A b^c=") + '\0' + "d HTTP/1.0\r\nA: 1\r\n\r\n");
    EXPECT_EQ(Str(copy.m_cgiParam.m_strArgBuf), std::string("a=A b^c=\0d", 10));
}

TEST(HttpHeader, StartLines) {
    const std::pair<const char*, const char*> cases[] = {
        {"GET /index", "GET|/index|HTTP/1.0|"},
        {"GET  /p  HTTP/1.1 ", "GET|/p| HTTP/1.1 |"},  // the request version is not trimmed
        {"HTTP/1.1 404 Not Found ", "||HTTP/1.1|404 Not Found"},
        {"http/1.0  200 OK", "||http/1.0|200 OK"},
        {"HTTP/1.1", "||HTTP/1.1|"},
        {"GET /", "||GET /|"},  // 5 characters or fewer: all of it is the version
        {"  abc", "||abc|"},
        {"NO_BLANKS", "||NO_BLANKS|"},
        {"GET /p?=x HTTP/1.1", "GET|/p?=x|HTTP/1.1|"},  // a query without pairs stays
        {"GET /p?a=1=2 HTTP/1.1", "GET|/p|HTTP/1.1|"},  // pairs before the error stay
    };
    for (const auto& [line, fields] : cases) {
        CHttpHeader h;
        EXPECT_EQ(h.ProcessLine(line, 1, 0, 0), 2) << line;
        EXPECT_EQ(Start(h), fields) << line;
    }
    // A request line leaves the status as it was.
    CHttpHeader h;
    h.ProcessLine("HTTP/1.1 200 OK", 1, 0, 0);
    h.ProcessLine("GET /x HTTP/1.1", 1, 0, 0);
    EXPECT_EQ(Start(h), "GET|/x|HTTP/1.1|200 OK");
    // Other states are passed through untouched.
    EXPECT_EQ(h.ProcessLine("Host: x", 7, 0, 0), 7);
    EXPECT_EQ(h.Find("Host"), -1);
}

TEST(HttpHeader, FieldLines) {
    CHttpHeader h;
    h.Setup("HTTP/1.1 200 OK\nAccept:text/html\rX-Name : v\r\nno colon\nACCEPT:  */* \nEmpty:\n", 0, 0);
    ASSERT_EQ(h.m_aryName.GetSize(), 3);
    EXPECT_EQ(Str(h.m_aryName[0]), "Accept");
    EXPECT_EQ(Str(h.m_aryValue[0]), "*/* ");
    EXPECT_EQ(h.Find("X-Name"), -1);
    EXPECT_EQ(h.Find("x-name "), 1);
    MString value = "stale";
    EXPECT_EQ(h.GetHeaderValue("empty", value), 1);
    EXPECT_EQ(Str(value), "");
    value = "stale";
    EXPECT_EQ(h.GetHeaderValue("Host", value), 0);
    EXPECT_EQ(Str(value), "");

    h.UpdateHeaderValue("accept", "a/b");
    h.UpdateHeaderValue("Server", "vorlix");
    EXPECT_EQ(Header(h, 0), "HTTP/1.1 200 OK\r\nAccept: a/b\r\nX-Name : v\r\nEmpty: \r\nServer: vorlix\r\n\r\n");

    CHttpHeader copy(h);
    h.Init();
    EXPECT_EQ(Header(h, 0), " \r\n\r\n");
    EXPECT_EQ(copy.Find("server"), 3);
    EXPECT_EQ(Str(copy.m_strStatus), "200 OK");
}

// The code page named by Content-Type's charset (0 without one the map
// knows), and the charset map itself in both widths.
TEST(HttpHeader, CodePagesOfContentTypesAndCharSetNames) {
    const std::pair<const char*, int> types[] = {
        {"text/html;charset=Shift_JIS", 932},
        {"text/html; charset=utf-8", 65001},
        {"Text/HTML; CHARSET = EUC-KR", 949},
        {"text/plain; format=flowed; charset=big5", 950},
        {"text/html; charset=koi8-r", 0},
        {"text/html", 0},
        {"text/html; charset", 0},
        {nullptr, 0},
    };
    for (const auto& [contentType, codePage] : types) {
        CHttpHeader h;
        if (contentType) h.UpdateHeaderValue("content-type", contentType);
        EXPECT_EQ(h.GetCodePage(), codePage) << (contentType ? contentType : "none");
    }
    // -1: not in the map, the default comes back
    const std::pair<const char16_t*, int> names[] = {
        {u"UTF-8", 65001},   {u"euc-kr", 949},        {u"KS_C_5601-1987", 949}, {u"iso-2022-kr", 949},
        {u"Shift_JIS", 932}, {u"iso-2022-jp", 50220}, {u"EUC-JP", 51932},       {u"gbk", 936},
        {u"Big5", 950},      {u"iso-8859-1", -1},     {u"utf-8 ", -1},          {u"", -1},
    };
    for (const auto& [name, codePage] : names) {
        UString wide(name);
        MString narrow;
        narrow.FromUnicode(65001, wide);
        int expected = codePage < 0 ? 1252 : codePage;
        EXPECT_EQ(Byte_CharSetToCodePage(narrow, 1252), expected) << static_cast<const char*>(narrow);
        EXPECT_EQ(Uni_CharSetToCodePage(wide, 1252), expected) << static_cast<const char*>(narrow);
    }
    EXPECT_EQ(Byte_CharSetToCodePage("UTF-8", 0), 65001);
}

}  // namespace

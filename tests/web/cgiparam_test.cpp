// CCgiParam: the query parse (its state table, the separator in use, the
// quote rule, decoding), lookups and edits, and reading the CGI input.
#include <gtest/gtest.h>

#include <vorlix/vorlix.h>

#include <string>

#include "platform/cgi_environment.h"

namespace {

std::string Str(const MString& s) { return std::string(s, static_cast<std::size_t>(s.GetLength())); }

// The pairs as "key=value" joined by "|".
std::string Pairs(const CCgiParam& p) {
    std::string out;
    for (int i = 0; i < p.GetParamSum(); ++i)
        out += (i ? "|" : "") + Str(p.GetKeyValue(i)) + "=" + Str(p.GetDataValue(i));
    return out;
}

struct ParseCase {
    const char* query;
    int result;
    const char* pairs;
    char separator;
    const char* rebuilt;
};

TEST(CgiParam, ParseFollowsTheStateTable) {
    const ParseCase cases[] = {
        {"", 1, "", '&', ""},
        {" \t ", 1, "", '&', ""},
        {"a=1&b=2", 1, "a=1|b=2", '&', "a=1&b=2"},
        {"a=1*b=2", 1, "a=1|b=2", '*', "a=1*b=2"},
        {"a=1&b=2^c=3", 1, "a=1|b=2|c=3", '^', "a=1^b=2^c=3"},
        {"x&y", 1, "&NULL0=x|&NULL1=y", '&', "x&y"},
        {"x *y=1", 1, "&NULL0=x |y=1", '*', "x *y=1"},  // keyless: untrimmed
        {"a=&b=2", 1, "a=|b=2", '&', "a=&b=2"},
        {"a=", 1, "a=", '&', "a="},
        {"a =1 &b= 2 ", 1, "a=1|b=2", '&', "a=1&b=2"},
        {"a=1&", 1, "a=1", '&', "a=1"},
        {"&", 0, "", '&', ""},
        {"=a", 0, "", '&', ""},
        {"a==b", 0, "", '&', ""},
        {"a=1=2", 0, "a=1", '&', "a=1"},
        {"a=1&&b=2", 0, "a=1", '&', "a=1"},
        {"a&=1", 0, "&NULL0=a", '&', "a"},
        // A quoted value runs to the next double quote.
        {"k=\"a&b\"&x=1", 1, "k=a&b|x=1", '&', "k=a&b&x=1"},
        {"k=\"a=b*c\"", 1, "k=a=b*c", '&', "k=a=b*c"},
        {"k=\"ab\"&x=1", 1, "k=ab\"&x=1", '&', "k=ab\"&x=1"},
        {"k=\"a&b\"c", 0, "k=a&b", '&', "k=a&b"},
        {"k=\"open", 1, "k=\"open", '&', "k=\"open"},
    };
    for (const ParseCase& c : cases) {
        SCOPED_TRACE(c.query);
        CCgiParam p;
        EXPECT_EQ(p.SetArgs(c.query, 0), c.result);
        EXPECT_EQ(Pairs(p), c.pairs);
        EXPECT_EQ(p.m_chSeparator, c.separator);
        EXPECT_EQ(p.m_aryKey.GetSize(), p.m_aryData.GetSize());
        EXPECT_STREQ(p.UpdateArgBuf(), c.rebuilt);
    }
}

TEST(CgiParam, EachParseStartsAfresh) {
    CCgiParam p;
    p.SetArgs("a=1*b=2", 0);
    EXPECT_EQ(p.SetArgs("c=3", 0), 1);
    EXPECT_EQ(Pairs(p), "c=3");
    EXPECT_EQ(p.m_chSeparator, '&');
    EXPECT_STREQ(p.GetArgBuf(), "c=3");
}

TEST(CgiParam, DecodesPlusThenPercent) {
    struct {
        const char* query;
        std::string decoded;  // the value of k with decoding
    } cases[] = {
        {"k=a+b%2Bc%21", "a b+c!"},
        {"k=100%%", "100%"},
        {"k=%4a%4A", "JJ"},
        {"k=%zz", "S"},           // no check: 'z' counts as 35, (35*16+35) % 256
        {"k=%\xC3\xA9", "\xA9"},  // bytes above 0x7F count as negative
        {"k=a%4", "a%4"},         // too short to decode
        {"k=a%", "a%"},
        {"k=a%00b", std::string("a\0b", 3)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.query);
        CCgiParam p;
        ASSERT_EQ(p.SetArgs(c.query, 1), 1);
        EXPECT_EQ(Str(p.GetDataValue(0)), c.decoded);
        CCgiParam raw;
        raw.SetArgs(c.query, 0);
        EXPECT_EQ(Str(raw.GetDataValue(0)), std::string(c.query + 2));
    }
    // Keys are decoded too, keyless values never; the rebuilt text keeps a
    // decoded 0 byte.
    CCgiParam p;
    ASSERT_EQ(p.SetArgs("a%41=%00x&y+%41", 1), 1);
    EXPECT_EQ(Pairs(p), std::string("aA=\0x|&NULL0=y+%41", 18));
    p.UpdateArgBuf();
    EXPECT_EQ(Str(p.m_strArgBuf), std::string("aA=\0x&y+%41", 11));
}

TEST(CgiParam, LookupsAndEdits) {
    CCgiParam p;
    EXPECT_EQ(p.MoveToLast("a") + p.RemoveKey("a") + p.ChangeValue("a", "1"), 0);  // empty
    ASSERT_EQ(p.SetArgs("name=Ada^x=1^NAME=dup", 0), 1);
    EXPECT_EQ(Str(p.GetValue("NAME")), "Ada");
    EXPECT_EQ(Str(p.GetValue("absent")) + Str(p.GetKeyValue(-1)) + Str(p.GetDataValue(3)), "");
    EXPECT_EQ(p.ChangeValue("X", "2") * 10 + p.ChangeValue("y", "2"), 10);
    EXPECT_EQ(p.UpdateValue("x", "3"), 1);
    EXPECT_EQ(p.UpdateValue("y", "4"), 2);
    EXPECT_EQ(p.AddValue("y", "5"), 5);
    EXPECT_EQ(p.AddValue("&mine", "raw"), 6);              // any key that begins with "&" is keyless
    EXPECT_STREQ(p.GetArgBuf(), "name=Ada^x=1^NAME=dup");  // edits leave the text alone
    EXPECT_EQ(p.MoveToLast("raw"), 0);
    EXPECT_EQ(p.MoveToLast("&MINE"), 1);  // already last
    EXPECT_EQ(p.MoveToLast("Name"), 1);
    EXPECT_EQ(p.RemoveKey("y"), 1);
    EXPECT_EQ(Pairs(p), "x=3|NAME=dup|y=5|&mine=raw|name=Ada");
    EXPECT_STREQ(p.UpdateArgBuf(), "x=3^NAME=dup^y=5^raw^name=Ada");

    CCgiParam q(p), r;
    r = p;
    p.Init();
    EXPECT_EQ(Pairs(p) + p.GetArgBuf(), "");
    EXPECT_EQ(p.m_chSeparator, '&');
    for (CCgiParam* c : {&q, &r}) {
        EXPECT_EQ(Pairs(*c), "x=3|NAME=dup|y=5|&mine=raw|name=Ada");
        EXPECT_EQ(c->m_chSeparator, '^');
        EXPECT_STREQ(c->GetArgBuf(), "x=3^NAME=dup^y=5^raw^name=Ada");
    }
}

// ---- The CGI input ----

class CgiInput : public ::testing::Test {
protected:
    testsupport::ScopedEnv env;
    // SetArgs on the CGI input after a text "keep=1"; what it left unread of
    // standard input goes to unread.
    int Read(const char* method, const char* length, const std::string& body, CCgiParam& p,
             std::string* unread = nullptr) {
        env.Set("REQUEST_METHOD", method).Set("CONTENT_LENGTH", length);
        testsupport::StdinPipe in(body);
        p.SetArgs("keep=1", 0);
        int result = p.SetArgs(nullptr, 1);
        if (unread) *unread = testsupport::StdinPipe::Unread();
        return result;
    }
};

TEST_F(CgiInput, MethodsAndQueryString) {
    CCgiParam p;
    EXPECT_EQ(Read(nullptr, "3", "a=1", p), 0);  // no method: the text stays
    EXPECT_STREQ(p.GetArgBuf(), "keep=1");
    EXPECT_EQ(p.GetParamSum(), 0);

    env.Set("QUERY_STRING", "a=1&b=x+y%21  ");
    EXPECT_EQ(Read("get", nullptr, "", p), 1);
    EXPECT_EQ(Pairs(p), "a=1|b=x y!");
    EXPECT_STREQ(p.GetArgBuf(), "a=1&b=x+y%21");

    std::string longGet = "GET" + std::string(100, ' '), unread;
    for (const char* method : {"PUT", "HEAD", "xGET", longGet.c_str()}) {
        EXPECT_EQ(Read(method, "3", "b=2", p, &unread), 0) << method;
        EXPECT_STREQ(p.GetArgBuf(), "");
        EXPECT_EQ(unread, "b=2");
    }
    env.Set("QUERY_STRING", nullptr);
    EXPECT_EQ(Read("GET", nullptr, "", p), 0);
    EXPECT_STREQ(p.GetArgBuf(), "");
}

TEST_F(CgiInput, PostBodies) {
    std::string body = "a=1&big=" + std::string(200000, 'x') + "&c=%41", unread;
    CCgiParam p;
    ASSERT_EQ(Read("POST", std::to_string(body.size()).c_str(), body + "&tail", p, &unread), 1);
    EXPECT_EQ(p.GetParamSum(), 3);
    EXPECT_EQ(p.GetValue("big").GetLength(), 200000);  // read whatever pieces it came in
    EXPECT_EQ(Str(p.GetValue("c")), "A");
    EXPECT_EQ(unread, "&tail");

    struct {
        const char* length;
        std::string body, text;
    } cases[] = {
        {"11",
         "a=x\r\ny\x1a"
         "b&c=",
         "a=x\r\ny\x1a"
         "b&c="},                                    // binary mode
        {"100", "a=1&b=2", "a=1&b=2"},               // short: what arrived
        {" +7", std::string("a=1\0b=2", 7), "a=1"},  // the text ends at a 0 byte
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Read("POST", c.length, c.body, p), 1);
        EXPECT_EQ(Str(p.m_strArgBuf), c.text);
    }
}

TEST_F(CgiInput, BadOrTooLargeLengthsReadNothing) {
    // 2147483630 bytes is the longest text a string holds.
    const char* lengths[] = {"0", "-5", "abc", "", "2147483631", "99999999999999999999", nullptr};
    for (const char* length : lengths) {
        CCgiParam p;
        std::string unread;
        EXPECT_EQ(Read("POST", length, "a=1", p, &unread), 0) << (length ? length : "unset");
        EXPECT_EQ(Pairs(p) + p.GetArgBuf(), "");
        EXPECT_EQ(unread, "a=1");
    }
    // At the limit the room may or may not be had; either way nothing past
    // what arrived is taken.
    CCgiParam p;
    int result = Read("POST", "2147483630", "a=1", p);
    EXPECT_EQ(Pairs(p) + p.GetArgBuf(), result ? "a=1a=1" : "");
}

}  // namespace

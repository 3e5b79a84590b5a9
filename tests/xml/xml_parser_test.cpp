// The XML parser: result codes and failing positions, the nodes built for
// each kind of markup, attributes, callbacks (order, depths, aborts and the
// streaming pattern), memory and file input and the 16-bit byte orders.
#include <cstring>

#include "xml/xml_support.h"

using testsupport::TempFile;
using testsupport::Utf16;
using xmltest::Handle;
using xmltest::Names;
using xmltest::Parse;

namespace {

template <class W>
class XmlParser : public xmltest::XmlTest<W> {
protected:
    typedef typename W::Tag Tag;
    typedef typename W::Doc Doc;
    using xmltest::XmlTest<W>::N;
    using xmltest::XmlTest<W>::Describe;
    static std::string Options(const Tag& t) {
        std::string out;
        for (int i = 0; i < t.m_aryOption.GetSize(); ++i)
            out += (i ? " " : "") + N(t.m_aryOption[i].m_strName) + "=[" + N(t.m_aryOption[i].m_strValue) + "]";
        return out;
    }
    // Parses and returns the first top-level node, described.
    static std::string First(const std::string& text) {
        Doc d;
        EXPECT_EQ(1, Parse<W>(d, text)) << text << " gave " << d.m_nParseResult;
        return d.GetTagCount() ? Describe(d.GetTag(0)) : "<none>";
    }
};
TYPED_TEST_SUITE(XmlParser, xmltest::Widths, xmltest::WidthName);

TYPED_TEST(XmlParser, ResultCodesPositionsAndNodesKept) {
    struct Case {
        const char* text;
        int code;
        long pos;  // -1: not checked
        int stored;
    };
    const Case cases[] = {
        {"", XMLRES_END_OF_DATA, -1, 0},
        {"  \n\n \t \n", XMLRES_END_OF_DATA, -1, 0},
        {"<a/>\n<b></b>", XMLRES_END_OF_DATA, -1, 2},
        {"x<a/>", XMLRES_TEXT_OUTSIDE, -1, 0},
        {"<a/>junk", XMLRES_TEXT_OUTSIDE, -1, 1},
        {">", XMLRES_BAD_TEXT, -1, 0},
        {"<a>>", XMLRES_BAD_TEXT, -1, 0},
        {"<a>text", XMLRES_BAD_TEXT, -1, 0},
        {"<a/x>", XMLRES_NO_CLOSE, -1, 0},
        {"<a></a x>", XMLRES_NO_CLOSE, -1, 0},
        {"<?xml?x", XMLRES_NO_CLOSE, -1, 0},
        {"<!DOCTYPE html", XMLRES_NO_CLOSE, -1, 0},
        {"<a>", XMLRES_UNEXPECTED_END, -1, 0},
        {"<a", XMLRES_UNEXPECTED_END, -1, 0},
        {"<", XMLRES_UNEXPECTED_END, -1, 0},
        {"<!", XMLRES_UNEXPECTED_END, -1, 0},
        {"<<a/>", XMLRES_UNEXPECTED_END, -1, 0},
        {"<a>\n<b>", XMLRES_UNEXPECTED_END, -1, 0},
        {"<![CDATA[z]]>", XMLRES_UNEXPECTED_END, -1, 0},  // CDATA alone at top level
        {"<?xml-stylesheet?>", XMLRES_BAD_PI, -1, 0},
        {"<![", XMLRES_BAD_CDATA, -1, 0},
        {"<![CDATA[abc", XMLRES_BAD_CDATA, -1, 0},
        {"<a><![CDATA[x]]</a>", XMLRES_BAD_CDATA, -1, 0},
        {"<!-- abc", XMLRES_BAD_COMMENT, -1, 0},
        {"<a></b>", XMLRES_TAG_MISMATCH, 6, 0},
        {"<a>\n<b></c>", XMLRES_TAG_MISMATCH, 10, 0},
        {"<a/><b></c>", XMLRES_TAG_MISMATCH, 10, 1},
        {"</a>", XMLRES_TAG_MISMATCH, -1, 0},
        {"<a></>", XMLRES_BAD_END_TAG, -1, 0},
        {"<a></", XMLRES_BAD_END_TAG, -1, 0},
        {"<>", XMLRES_SYNTAX, -1, 0},
        {"<&", XMLRES_SYNTAX, -1, 0},
        {"<a?>", XMLRES_SYNTAX, -1, 0},
        {"<a =x/>", XMLRES_SYNTAX, 5, 0},
        {"<a \"x\"/>", XMLRES_SYNTAX, -1, 0},
        {"<a b=\"1\n2\"/>", XMLRES_SYNTAX, 7, 0},  // quoted values stay on one line
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        typename TypeParam::Doc d;
        EXPECT_EQ(c.code == XMLRES_END_OF_DATA ? 1 : 0, Parse<TypeParam>(d, c.text));
        EXPECT_EQ(c.code, d.m_nParseResult);
        if (c.pos >= 0) {
            EXPECT_EQ(static_cast<unsigned long>(c.pos), d.m_dwParsePos);
        }
        EXPECT_EQ(c.stored, d.GetTagCount());
        EXPECT_EQ(nullptr, d.m_pStream);
    }
}

TYPED_TEST(XmlParser, NodesOfEveryKind) {
    const char* const cases[][2] = {
        {"<a>x</a>", "2:a@0{4:x@0}"},
        {"<a>x &amp; y</a>", "2:a@0{4:x & y@0}"},
        {"<a>\n  hello\n</a>", "2:a@0{4:hello\r\n@0}"},  // line breaks crossed stay as CR LF
        {"<a> x  </a>", "2:a@0{4:x  @0}"},                 // leading blanks dropped, trailing kept
        {"<a>\n  <b/>\n</a>", "2:a@0{2:b@1}"},             // white space alone makes no node
        {"<a>t1<b><c/></b>t2</a>", "2:a@0{4:t1@0,2:b@1{2:c@2},4:t2@0}"},
        {"<a>&lt;&#65;&amp;gt;</a>", "2:a@0{4:<&#65;&gt;@0}"},
        {"<A></a>", "2:A@0"},  // end tags match ignoring case
        {"<!-- c -->", "3: c @0"},
        {"<!--c-->", "3:c@0"},
        {"<!--a\nb-->", "3:a\r\nb@0"},
        {"<a><!--c--></a>", "2:a@0{3:c@1}"},
        {"<!DOCTYPE html>", "7:DOCTYPE html@0"},
        {"<a><!ENTITY e 'v'></a>", "2:a@0{7:ENTITY e 'v'@1}"},
        {"<a><![CDATA[<x>&amp;]]></a>", "2:a@0{5:<x>&amp;@0}"},
        {"<a><![cdata[x\ny]]></a>", "2:a@0{5:x\r\ny@0}"},
        {"<a><![CDATA[]]></a>", "2:a@0{5:@0}"},
        {"<![CDATA[z]]><a/>", "2:a@0{5:z@0}"},  // CDATA before the root joins it
        {"<?XML v=\"1\"?>", "1:XML@0"},
    };
    for (const auto& c : cases) EXPECT_EQ(c[1], this->First(c[0])) << c[0];
}

TYPED_TEST(XmlParser, AttributeForms) {
    const char* const cases[][2] = {
        {"<a b=\"1\" c=2 d/>", "b=[1] c=[2] d=[]"},
        {"<a v='x'/>", "v=['x']"},  // apostrophes are no quotes
        {"<a b = \"1\" c= 2 d =3/>", "b=[1] c=[2] d=[3]"},
        {"<a t=\"x &amp;lt; \\\" y\" u=&lt;&amp;/>", "t=[x &lt; \\\" y] u=[<&]"},
        {"<a x=\"1\" X=\"2\" e=\"\"/>", "x=[1] X=[2] e=[]"},
        {"<?xml version=\"1.0\" encoding=\"UTF-8\"?>", "version=[1.0] encoding=[UTF-8]"},
    };
    for (const auto& c : cases) {
        typename TypeParam::Doc d;
        EXPECT_EQ(1, Parse<TypeParam>(d, c[0])) << c[0];
        ASSERT_EQ(1, d.GetTagCount()) << c[0];
        EXPECT_EQ(c[1], this->Options(d.GetTag(0))) << c[0];
    }
}

TYPED_TEST(XmlParser, DeclarationInsideAnElementTurnsItIntoAProcessingInstruction) {
    typename TypeParam::Doc d;
    EXPECT_EQ(0, Parse<TypeParam>(d, "<a k=\"1\"><?xml v=\"2\"?></a>"));
    EXPECT_EQ(XMLRES_TAG_MISMATCH, d.m_nParseResult);  // the </a> left over
    ASSERT_EQ(1, d.GetTagCount());
    EXPECT_EQ("1:xml@0", this->Describe(d.GetTag(0)));
    EXPECT_EQ("k=[1] v=[2]", this->Options(d.GetTag(0)));
}

TYPED_TEST(XmlParser, SecondParseAppendsAndNodesParseThemselves) {
    typename TypeParam::Doc d;
    EXPECT_EQ(1, Parse<TypeParam>(d, "<a/>"));
    EXPECT_EQ(0, Parse<TypeParam>(d, "<b/><c>"));
    EXPECT_EQ(1, Parse<TypeParam>(d, "<d/>"));
    EXPECT_EQ(XMLRES_END_OF_DATA, d.m_nParseResult);
    ASSERT_EQ(3, d.GetTagCount());
    EXPECT_EQ("d", this->N(d.GetTag(2).m_strName));

    // A node at a given depth from a caller's stream, without a document.
    std::vector<typename TypeParam::Ch> buf = TypeParam::Buf("<a k=v><b/></a> <c");
    typename TypeParam::Stream s(buf.data(), 0);
    typename TypeParam::Tag t;
    EXPECT_EQ(1, t.FromString(nullptr, &s, 2));
    EXPECT_EQ("2:a@2{2:b@3}", this->Describe(t));
    EXPECT_EQ(0, t.FromString(nullptr, &s, 0));
    EXPECT_EQ(XMLRES_UNEXPECTED_END, t.m_nParseResult);
    EXPECT_EQ(18u, t.m_dwParsePos);

    // One attribute at a time; the end of the list leaves its character unread.
    std::vector<typename TypeParam::Ch> abuf = TypeParam::Buf("b=\"1\" c />=\"x\"");
    typename TypeParam::Stream as(abuf.data(), 0);
    typename TypeParam::Opt o;
    std::string got;
    for (int i = 0; i < 3; ++i) {
        const int r = o.FromString(&as);
        got += std::to_string(r) + this->N(o.m_strName) + this->N(o.m_strValue) + ",";
    }
    EXPECT_EQ("1b1,1c,1,", got);
    typename TypeParam::Str tok;
    int nDelim = -2;
    as.GetToken(tok, this->S("/>"), nDelim);
    as.GetToken(tok, this->S("/>"), nDelim);
    EXPECT_EQ(1, nDelim);
    EXPECT_EQ(0, o.FromString(&as));  // "=" before any name
}

TYPED_TEST(XmlParser, DecodeTakesOneLevelOfTheFiveEntities) {
    const char* const cases[][2] = {
        {"&amp;lt;", "&lt;"},
        {"&#65;&#x41;", "&#65;&#x41;"},
        {"&lt;&gt;&apos;&quot;&amp;", "<>'\"&"},
        {"&amp;amp; &copy; &LT;", "&amp; &copy; &LT;"},
    };
    for (const auto& c : cases) {
        typename TypeParam::Str s = this->S(c[0]);
        TypeParam::Doc::DecodeXmlText(s);
        EXPECT_EQ(c[1], this->N(s)) << c[0];
    }
}

// ---- callbacks ----

TYPED_TEST(XmlParser, CallbackOrderAndDepths) {
    typename TypeParam::Rec d;
    d.m_lParam = 77;
    std::vector<std::string> begins;
    d.hook = [&](typename TypeParam::Tag& t, int, bool bBegin) {
        // At OnBegin the start tag is complete and no child is there yet.
        if (bBegin) begins.push_back(this->N(t.m_strName) + std::to_string(t.m_aryOption.GetSize()) +
                                     std::to_string(t.m_arySubTag.GetSize()));
        return 0;
    };
    EXPECT_EQ(1, Parse<TypeParam>(d,
                                  "<?xml version=\"1.0\"?>\n<!DOCTYPE r>\n<r k=\"v\">\n <!-- c -->\n <!X y>\n"
                                  " <e/>\n <p>t<![CDATA[x]]></p>\n</r>\n"));
    const std::vector<std::string> expected = {
        "E1 xml @0", "E7 DOCTYPE r @1", "B2 r @0", "E3  c  @1", "E7 X y @2", "B2 e @1",
        "E2 e @1",   "B2 p @1",         "E4 t @2", "E5 x @2",   "E2 p @1",   "E2 r @0",
    };
    EXPECT_EQ(expected, d.log);
    EXPECT_EQ((std::vector<std::string>{"r10", "e00", "p00"}), begins);
    for (long p : d.params) EXPECT_EQ(77L, p);
    ASSERT_EQ(3, d.GetTagCount());
    EXPECT_EQ("1:xml@0", this->Describe(d.GetTag(0)));
    EXPECT_EQ("7:DOCTYPE r@0", this->Describe(d.GetTag(1)));
    EXPECT_EQ("2:r@0{3: c @1,7:X y@1,2:e@1,2:p@1{4:t@0,5:x@0}}", this->Describe(d.GetTag(2)));
}

TYPED_TEST(XmlParser, NonZeroCallbackStopsTheWholeParse) {
    struct Case {
        const char* text;
        bool bBegin;  // which callback refuses
        const char* name;
        int code;
        int stored;
        std::size_t events;
    };
    const Case cases[] = {
        {"<r><a/></r>", true, "r", XMLRES_BEGIN_ABORT, 0, 1},
        {"<x/><r><a/></r>", true, "a", XMLRES_BEGIN_ABORT, 1, 4},
        {"<x/><r>t</r>", false, "t", XMLRES_END_ABORT, 1, 4},
        {"<r><![CDATA[t]]></r>", false, "t", XMLRES_END_ABORT, 0, 2},
        {"<a/>", false, "a", XMLRES_END_ABORT, 0, 2},
        {"<r><a></a></r>", false, "a", XMLRES_END_ABORT, 0, 3},
        {"<?xml?>", false, "xml", XMLRES_END_ABORT, 0, 1},
        {"<!--t-->", false, "t", XMLRES_END_ABORT, 0, 1},
        {"<!t>", false, "t", XMLRES_END_ABORT, 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        typename TypeParam::Rec d;
        d.hook = [&](typename TypeParam::Tag& t, int, bool bBegin) {
            return bBegin == c.bBegin && this->N(t.m_strName) == c.name ? 1 : 0;
        };
        EXPECT_EQ(0, Parse<TypeParam>(d, c.text));
        EXPECT_EQ(c.code, d.m_nParseResult);
        EXPECT_EQ(c.stored, d.GetTagCount());
        EXPECT_EQ(c.events, d.log.size());
        EXPECT_EQ(nullptr, d.m_pStream);
    }
}

TYPED_TEST(XmlParser, StreamingWithoutStoring) {
    const std::string text = "<list><item>1</item><item/><keep/></list><item/>";
    // bStoreTag 0: every callback is made, nothing is kept.
    typename TypeParam::Rec all;
    EXPECT_EQ(1, Parse<TypeParam>(all, text, 0));
    EXPECT_EQ(0, all.GetTagCount());
    EXPECT_EQ(11u, all.log.size());

    // Nodes marked in OnEnd are refused by their parents; the document's own
    // list is appended to directly, so a marked top-level node is still kept.
    typename TypeParam::Rec d;
    d.hook = [&](typename TypeParam::Tag& t, int, bool bBegin) {
        if (!bBegin && this->N(t.m_strName) == "item") t.m_bNoChild = 1;
        if (!bBegin) t.m_nUserFlag = 5;  // the tree receives the node as the callback left it
        return 0;
    };
    EXPECT_EQ(1, Parse<TypeParam>(d, text, 1));
    EXPECT_EQ(11u, d.log.size());
    ASSERT_EQ(2, d.GetTagCount());
    EXPECT_EQ("2:list@0{2:keep@1}", this->Describe(d.GetTag(0)));
    EXPECT_EQ(5, d.GetTag(0).m_nUserFlag);
    EXPECT_EQ(5, d.GetTag(0).m_arySubTag[0].m_nUserFlag);
    EXPECT_EQ(1, d.GetTag(1).m_bNoChild);
}

// ---- files and byte orders ----

// The 16-bit document's choice of byte order, in memory and in files.
TEST(XmlParserByteOrder, MemoryMarks) {
    const bool le = API_IsLittleEndian() != 0;
    const struct {
        std::string mark;  // the bytes as stored
        bool big;
        unsigned long pos;  // where "</b>" fails
    } cases[] = {{"\xFF\xFE", false, 7}, {"\xFE\xFF", true, 7}, {"", !le, 6}};  // no mark: the platform's order
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mark.size() + c.big);
        for (const std::u16string& text : {std::u16string(u"<a>\u00e9</a>"), std::u16string(u"<a></b>")}) {
            const std::string bytes = c.mark + Utf16(text, c.big);
            std::vector<unsigned short> buf(bytes.size() / 2 + 1, 0);
            std::memcpy(buf.data(), bytes.data(), bytes.size());
            CAnalXmlU d;
            if (text.find(u"</b>") == std::u16string::npos) {
                EXPECT_EQ(1, d.FromString(buf.data(), 1));
                ASSERT_EQ(1, d.GetTagCount());  // the mark belongs to no node
                ASSERT_EQ(1, d.GetTag(0).m_arySubTag.GetSize());
                EXPECT_EQ(u"\u00e9", testsupport::Units(d.GetTag(0).m_arySubTag[0].m_strName));
            } else {
                EXPECT_EQ(0, d.FromString(buf.data(), 1));
                EXPECT_EQ(XMLRES_TAG_MISMATCH, d.m_nParseResult);
                EXPECT_EQ(c.pos, d.m_dwParsePos);
            }
        }
    }

    // UTF-8 through a caller's stream.
    const char utf8[] = "<a>\xC3\xA9</a>";
    std::vector<unsigned short> buf(sizeof utf8 / 2 + 1, 0);
    std::memcpy(buf.data(), utf8, sizeof utf8);
    CTokenDataStreamU s(buf.data(), 0);
    s.SetEndian(3);
    CXmlTagU t;
    EXPECT_EQ(1, t.FromString(nullptr, &s, 0));
    ASSERT_EQ(1, t.m_arySubTag.GetSize());
    EXPECT_EQ(u"\u00e9", testsupport::Units(t.m_arySubTag[0].m_strName));
}

TEST(XmlParserByteOrder, FileMarksAndFilesWithoutOne) {
    const std::u16string text = u"<a>\u00e9</a>\r\n";
    const std::string cases[] = {
        "\xFF\xFE" + Utf16(text, false),
        "\xFE\xFF" + Utf16(text, true),
        Utf16(text, false),                     // 3C 00: little-endian, nothing skipped
        Utf16(text, true),                      // 00 3C: big-endian
        "<a>\xC3\xA9</a>\r\n",                  // UTF-8
        "\xEF\xBB\xBF<a>\xC3\xA9</a>\r\n",      // UTF-8 with its mark
        "\xEF\xBB\xBF\r\n<a>\xC3\xA9</a>\r\n",  // the mark on a line of its own
    };
    int i = 0;
    for (const std::string& bytes : cases) {
        SCOPED_TRACE(i++);
        TempFile f("bom.xml");
        f.Write(bytes);
        Handle h(f, false);
        ASSERT_TRUE(h.h);
        CAnalXmlU d;
        EXPECT_EQ(1, d.FromString(h.h, 1));
        EXPECT_EQ(XMLRES_END_OF_DATA, d.m_nParseResult);
        ASSERT_EQ(1, d.GetTagCount());
        EXPECT_EQ(u"a", testsupport::Units(d.GetTag(0).m_strName));
        ASSERT_EQ(1, d.GetTag(0).m_arySubTag.GetSize());
        EXPECT_EQ(u"\u00e9", testsupport::Units(d.GetTag(0).m_arySubTag[0].m_strName));
    }
}

}  // namespace

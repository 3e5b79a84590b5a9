// The XML parser: result codes and failing positions, the nodes built for
// each kind of markup, attributes, callbacks (order, depths, aborts and the
// streaming pattern), memory and file input and the 16-bit byte orders.
#include <cstring>

#include "xml/xml_support.h"
#include "../../fuzz/xml_same_tree.h"

#include <tuple>
#include <type_traits>
#include <utility>

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
    // Parses and returns the first top-level node, described, and its attributes.
    static std::string First(const std::string& text) {
        Doc d;
        EXPECT_EQ(1, Parse<W>(d, text)) << text << " gave " << d.m_nParseResult;
        return d.GetTagCount() ? Describe(d.GetTag(0)) + " " + Options(d.GetTag(0)) : "<none>";
    }
};
TYPED_TEST_SUITE(XmlParser, xmltest::Widths);

TYPED_TEST(XmlParser, ResultCodesPositionsAndNodesKept) {
    // text, result code, position (-1: not checked), top-level nodes kept
    const std::tuple<const char*, int, long, int> cases[] = {
        {"  \n\n \t \n", XMLRES_END_OF_DATA, -1, 0},
        {"<a/>\n<b></b>", XMLRES_END_OF_DATA, -1, 2},
        {"<a/>junk", XMLRES_TEXT_OUTSIDE, 8, 1},  // reported after the whole word
        {"<a>>", XMLRES_BAD_TEXT, -1, 0},
        {"<a>no end", XMLRES_BAD_TEXT, 5, 0},  // reported after the first word
        {"<a></a x>", XMLRES_NO_CLOSE, -1, 0},
        {"<a>\n<b>", XMLRES_UNEXPECTED_END, -1, 0},
        {"<![CDATA[z]]>", XMLRES_UNEXPECTED_END, -1, 0},  // CDATA alone at top level
        {"<?xml-stylesheet?>", XMLRES_BAD_PI, -1, 0},
        {"<a><![CDATA[x]]</a>", XMLRES_BAD_CDATA, -1, 0},
        {"<!-- abc", XMLRES_BAD_COMMENT, -1, 0},
        {"<a>\n<b></c>", XMLRES_TAG_MISMATCH, 10, 0},
        {"<a/><b></c>", XMLRES_TAG_MISMATCH, 10, 1},
        {"<a></>", XMLRES_BAD_END_TAG, -1, 0},
        {"<a =x/>", XMLRES_SYNTAX, 5, 0},
        {"<a b=\"1\n2\"/>", XMLRES_SYNTAX, 7, 0},  // quoted values stay on one line
    };
    for (const auto& [text, code, pos, stored] : cases) {
        SCOPED_TRACE(text);
        typename TypeParam::Doc d;
        EXPECT_EQ(code == XMLRES_END_OF_DATA ? 1 : 0, Parse<TypeParam>(d, text));
        EXPECT_EQ(code, d.m_nParseResult);
        if (pos >= 0) {
            EXPECT_EQ(static_cast<unsigned long>(pos), d.m_dwParsePos);
        }
        EXPECT_EQ(stored, d.GetTagCount());
        EXPECT_EQ(nullptr, d.m_pStream);
    }
}

// Entities are decoded one level, in text and attribute values alike.
TYPED_TEST(XmlParser, NodesAndAttributes) {
    const char* const cases[][2] = {
        {"<a>\n  hello\n</a>", "2:a@0{4:hello\r\n@0} "},  // line breaks crossed stay as CR LF
        {"<a> x  </a>", "2:a@0{4:x  @0} "},               // leading blanks dropped, trailing kept
        {"<a>\n  <b/>\n</a>", "2:a@0{2:b@1} "},           // white space alone makes no node
        {"<a>t1<b><c/></b>t2</a>", "2:a@0{4:t1@0,2:b@1{2:c@2},4:t2@0} "},
        {"<a>&lt;&#65;&amp;gt;&apos;&quot;&copy;&LT;</a>", "2:a@0{4:<&#65;&gt;'\"&copy;&LT;@0} "},
        {"<a>&amp&&lt;;&&amp;&quot</a>", "2:a@0{4:&amp&<;&&&quot@0} "},  // entities cut short stay
        {"<A></a>", "2:A@0 "},                                           // end tags match ignoring case
        {"<!--a\nb-->", "3:a\r\nb@0 "},
        {"<a><![cdata[<x>&amp;\ny]]></a>", "2:a@0{5:<x>&amp;\r\ny@0} "},
        {"<![CDATA[z]]><a/>", "2:a@0{5:z@0} "},  // CDATA before the root joins it
        {"<?XML v=\"1\" w=x?>", "1:XML@0 v=[1] w=[x]"},
        {"<a v='x' d/>", "2:a@0 v=['x'] d=[]"},  // apostrophes are no quotes
        {"<a b = \"1\" c= 2 d =3/>", "2:a@0 b=[1] c=[2] d=[3]"},
        {"<a t=\"x &amp;lt; \\\" y\" u=&lt;&amp;/>", "2:a@0 t=[x &lt; \\\" y] u=[<&]"},
    };
    for (const auto& c : cases) EXPECT_EQ(c[1], this->First(c[0])) << c[0];
}

// ---- callbacks ----

TYPED_TEST(XmlParser, CallbackOrderAndDepths) {
    typename TypeParam::Rec d;
    d.m_lParam = 77;
    std::vector<std::string> begins, ends;
    d.hook = [&](typename TypeParam::Tag& t, int, bool bBegin) {
        // At OnBegin the start tag is complete and no child is there yet;
        // at OnEnd the element has all its children.
        std::string counts =
            this->N(t.m_strName) + std::to_string(t.m_aryOption.GetSize()) + std::to_string(t.m_arySubTag.GetSize());
        if (bBegin) begins.push_back(counts);
        else if (t.m_nTagType == XMLTAG_ELEMENT) ends.push_back(counts);
        return 0;
    };
    EXPECT_EQ(1, Parse<TypeParam>(d,
                                  "<?xml version=\"1.0\"?>\n<!DOCTYPE r>\n<r k=\"v\">\n <!-- c -->\n <!X y>\n"
                                  " <e/>\n <p>t<![CDATA[x]]></p>\n</r>\n"));
    // Text and CDATA are reported one level below their parent, and a
    // declaration one level below its own depth (as if it were the content
    // of a node at its place).
    const std::vector<std::string> expected = {
        "E1 xml @0", "E7 DOCTYPE r @1", "B2 r @0", "E3  c  @1", "E7 X y @2", "B2 e @1",
        "E2 e @1",   "B2 p @1",         "E4 t @2", "E5 x @2",   "E2 p @1",   "E2 r @0",
    };
    EXPECT_EQ(expected, d.log);
    EXPECT_EQ((std::vector<std::string>{"r10", "e00", "p00"}), begins);
    EXPECT_EQ((std::vector<std::string>{"e00", "p02", "r14"}), ends);
    ASSERT_EQ(3, d.GetTagCount());
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
        {"<r><a/></r>", true, "r", XMLRES_BEGIN_ABORT, 0, 1}, {"<x/><r><a/></r>", true, "a", XMLRES_BEGIN_ABORT, 1, 4},
        {"<x/><r>t</r>", false, "t", XMLRES_END_ABORT, 1, 4}, {"<r><a></a></r>", false, "a", XMLRES_END_ABORT, 0, 3},
        {"<!--t-->", false, "t", XMLRES_END_ABORT, 0, 1},
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
    EXPECT_EQ(5, d.GetTag(0).m_arySubTag[0].m_nUserFlag);

    // Text nodes of one element are built from one work node: what a
    // callback leaves in it (a refusal, a flag) is what the next text node
    // starts with, and a kept node is the one the callback saw.
    typename TypeParam::Rec texts;
    std::vector<int> seenFlags;
    texts.hook = [&](typename TypeParam::Tag& t, int, bool bBegin) {
        if (bBegin || t.m_nTagType != XMLTAG_TEXT) return 0;
        seenFlags.push_back(t.m_nUserFlag * 10 + t.m_bNoChild);
        std::string s = this->N(t.m_strName);
        if (s == "x") t.m_bNoChild = 1, t.m_nUserFlag = 7;
        if (s == "y") t.m_bNoChild = 0;
        return 0;
    };
    EXPECT_EQ(1, Parse<TypeParam>(texts, std::string("<a>x<b/>y<b/>z</a>"), 1));
    EXPECT_EQ((std::vector<int>{10, 71, 70}), seenFlags);
    const auto& a = texts.GetTag(0);
    ASSERT_EQ(4, a.m_arySubTag.GetSize());  // x refused
    EXPECT_EQ("y", this->N(a.m_arySubTag[1].m_strName));
    EXPECT_EQ(7, a.m_arySubTag[1].m_nUserFlag);
    EXPECT_EQ(7, a.m_arySubTag[3].m_nUserFlag);
}

// ---- files and byte orders ----

// The 16-bit document's choice of byte order: in memory a mark, else the
// platform's order; in a file a mark, else what the first bytes show.
TEST(XmlParserByteOrder, MarksInMemoryAndInFiles) {
    const bool le = API_IsLittleEndian() != 0;
    const std::u16string text = u"<a>\u00e9</a>\r\n";
    const std::string utf8 = "<a>\xC3\xA9</a>\r\n";
    // bytes, whether they are parsed in memory or from a file
    const std::pair<std::string, bool> cases[] = {
        {"\xFF\xFE" + Utf16(text, false), true},
        {"\xFE\xFF" + Utf16(text, true), true},
        {Utf16(text, !le), true},
        {"\xFF\xFE" + Utf16(text, false), false},
        {"\xFE\xFF" + Utf16(text, true), false},
        {Utf16(text, false), false},         // 3C 00: little-endian, nothing skipped
        {Utf16(text, true), false},          // 00 3C: big-endian
        {utf8, false},                       // UTF-8
        {"\xEF\xBB\xBF" + utf8, false},      // UTF-8 with its mark
        {"\xEF\xBB\xBF\r\n" + utf8, false},  // the mark on a line of its own
    };
    int i = 0;
    for (const auto& [bytes, bMemory] : cases) {
        SCOPED_TRACE(i++);
        CAnalXmlU d;
        if (bMemory) {
            std::vector<unsigned short> buf(bytes.size() / 2 + 1, 0);
            std::memcpy(buf.data(), bytes.data(), bytes.size());
            EXPECT_EQ(1, d.FromString(buf.data(), 1));
        } else {
            EXPECT_EQ(1, xmltest::ParseFile(d, bytes));
        }
        EXPECT_EQ(XMLRES_END_OF_DATA, d.m_nParseResult);
        ASSERT_EQ(1, d.GetTagCount());  // the mark belongs to no node
        EXPECT_EQ(u"a", testsupport::Units(d.GetTag(0).m_strName));
        ASSERT_EQ(1, d.GetTag(0).m_arySubTag.GetSize());
        EXPECT_EQ(u"\u00e9", testsupport::Units(d.GetTag(0).m_arySubTag[0].m_strName));
    }
}

}  // namespace

// The document's own reader and a caller's stream read node by node build
// the same tree, capacities included (each list holds exactly its elements),
// with the same result and position, and the callbacks see the stream at
// the same place; from memory and from files. Take-backs across lines, in
// particular, read a line of a file again.
TYPED_TEST(XmlParser, DocumentAndStreamReadersAgree) {
    typedef typename TypeParam::Tag Tag;
    typedef typename std::conditional<TypeParam::kUnit == 1, xmlsame::WatchedA, xmlsame::WatchedU>::type Watched;
    const char* const texts[] = {
        "<a>\r\n<\r\nb/>\r\n<\r\n!\r\n[\r\nCDATA\r\n[x]]>\r\n</a>\r\n  \r\n",
        "<?xml version=\"1.0\"?>\n<r x=1\ny\n=\n\"2\">t<!--\nc\n-->\n<!DOCTYPE r\n>\n</r\n>\n\n",
        "<a>text<?xml v=\"1\"?>more</a>",
        "<a><![CDATA[x]]><!-- c --></a>",
        "<a>\n\t<b c=\"1\" d=\"2\" e=\"3\">x &amp; y</b>\n\t<b/>\n</a>\n<",
        "<a>\n<b>\n</c>",
        "\n\n   \n",
        "<a b",
    };
    // The document's reader on one source, the stream's on the other: the
    // same tree and the same callbacks; gives the result.
    auto agree = [](auto docSource, auto streamSource) {
        Watched viaDoc, viaStream;
        viaDoc.FromString(docSource, 1);
        typename TypeParam::Stream s(streamSource, 0);
        xmlsame::ParseNodes<Watched, Tag>(viaStream, s);
        EXPECT_TRUE(xmlsame::SameDoc(viaDoc, viaStream));
        EXPECT_EQ(viaDoc.seen, viaStream.seen);
        return viaDoc.m_nParseResult;
    };
    for (const char* text : texts) {
        SCOPED_TRACE(text);
        std::vector<typename TypeParam::Ch> buf = xmltest::Buf<TypeParam>(text);
        const int result = agree(buf.data(), buf.data());
        // Files start with bytes the parse does not count from: a mark in
        // the 16-bit form, bytes the caller has already read in the 8-bit one.
        const std::string head = TypeParam::kUnit == 2 ? "\xFF\xFE" : "ab";
        TempFile f("agree.xml");
        f.Write(head + TypeParam::FileBytes(text));
        Handle h1(f, false), h2(f, false);
        if (TypeParam::kUnit == 1) API_SeekFile(h1.h, 2, 0);
        API_SeekFile(h2.h, 2, 0);
        EXPECT_EQ(result, agree(h1.h, h2.h));
    }
}

// A parsed list holds exactly its elements, and grows like any other when
// the application adds to it.
TYPED_TEST(XmlParser, ParsedListsHoldTheirCapacity) {
    typename TypeParam::Doc d;
    ASSERT_EQ(1, Parse<TypeParam>(d, "<r a='1' b='2'><c/><c/><c/><c/><c/><c/></r>"));
    typename TypeParam::Tag& r = d.GetTag(0);
    EXPECT_EQ(6, r.m_arySubTag.m_nMaxSize);
    EXPECT_EQ(2, r.m_aryOption.m_nMaxSize);
    for (int i = 0; i < 8; ++i) {
        r.AddXmlTag(xmltest::Elem<TypeParam>("n" + std::to_string(i), 1));
        r.UpdateOption(this->S("o" + std::to_string(i)), this->S("v"));
        EXPECT_TRUE(xmlsame::Held(r.m_arySubTag));
        EXPECT_TRUE(xmlsame::Held(r.m_aryOption));
    }
    EXPECT_EQ("c,c,c,c,c,c,n0,n1,n2,n3,n4,n5,n6,n7", Names<TypeParam>(r));
    EXPECT_EQ(10, r.m_aryOption.GetSize());
}

// ---- depth and re-entry ----

namespace {

std::string Nested(int n) {
    std::string s;
    s.reserve(static_cast<std::size_t>(n) * 7);
    for (int i = 0; i < n; ++i) s += "<a>";
    for (int i = 0; i < n; ++i) s += "</a>";
    return s;
}

}  // namespace

// Nesting is limited to 1000 levels counted from where the parse begins,
// and no walk over a tree takes stack per level: parsing, writing, copying
// and destroying the deepest tree all run on a 256 KiB thread.
TYPED_TEST(XmlParser, DepthLimitOnASmallStack) {
    typedef typename TypeParam::Doc Doc;
    typedef typename TypeParam::Tag Tag;
    bool ran = testsupport::RunOnStack(256 << 10, [&] {
        for (int n : {999, 1000, 1001, 100000}) {
            SCOPED_TRACE(n);
            std::vector<typename TypeParam::Ch> text = xmltest::Buf<TypeParam>(Nested(n));
            typename TypeParam::Rec watched;
            EXPECT_EQ(n <= 1000 ? 1 : 0, watched.FromString(text.data(), 0));
            Doc d;
            if (n > 1000) {
                EXPECT_EQ(0, d.FromString(text.data(), 1));
                EXPECT_EQ(XMLRES_SYNTAX, d.m_nParseResult);
                EXPECT_EQ(3000u, d.m_dwParsePos);  // before the "<" of level 1001
                continue;
            }
            ASSERT_EQ(1, d.FromString(text.data(), 1));
            typename TypeParam::Str out;
            EXPECT_EQ(1, d.ToString(out, INT_MAX));
            // n - 1 elements of "<a>\r\n" and "</a>\r\n" and one "<a/>\r\n",
            // each line indented by its depth.
            EXPECT_EQ(n * n + 9 * n - 4, out.GetLength());
            EXPECT_EQ(static_cast<std::size_t>(out.GetLength()) * TypeParam::kUnit + (TypeParam::kUnit - 1) * 2,
                      xmltest::ToFile(d, INT_MAX).size());
            Doc copy(d);
            const Tag* deepest = &copy.GetTag(0);
            for (int i = 1; i < n; ++i) deepest = &deepest->m_arySubTag[0];
            EXPECT_EQ(n - 1, deepest->m_nLevel);
        }
        // A node parsed from a caller's stream counts from its own start,
        // whatever level it is given.
        for (int n : {1000, 1001}) {
            std::vector<typename TypeParam::Ch> text = xmltest::Buf<TypeParam>(Nested(n));
            typename TypeParam::Stream s(text.data(), 0);
            Tag t;
            EXPECT_EQ(n == 1000 ? 1 : 0, t.FromString(nullptr, &s, -5)) << n;
            EXPECT_EQ(-5, t.m_nLevel);
            EXPECT_EQ(n == 1000 ? 0 : XMLRES_SYNTAX, t.m_nParseResult);
        }
    });
    EXPECT_TRUE(ran);
}

// A callback that parses into the document being parsed is refused and
// changes nothing; one that calls Init empties the document, and the parse
// goes on with its own stream and keeps what completes afterwards.
TYPED_TEST(XmlParser, CallbacksThatParseOrInitTheSameDocument) {
    typename TypeParam::Rec d;
    d.hook = [&](typename TypeParam::Tag& t, int, bool bBegin) {
        if (!bBegin && this->N(t.m_strName) == "b") {
            EXPECT_EQ(0, Parse<TypeParam>(d, "<x/>"));
            EXPECT_NE(nullptr, d.m_pStream);
        }
        return 0;
    };
    EXPECT_EQ(1, Parse<TypeParam>(d, "<a/>\n<b/>\n<c/>"));
    EXPECT_EQ("<a/>\r\n<b/>\r\n<c/>\r\n", xmltest::Write<TypeParam>(d));

    typename TypeParam::Rec e;
    e.hook = [&](typename TypeParam::Tag& t, int, bool bBegin) {
        if (!bBegin && this->N(t.m_strName) == "b") {
            e.Init();
            EXPECT_EQ(nullptr, e.m_pStream);
            EXPECT_EQ(0, Parse<TypeParam>(e, "<x/>"));  // still running: still refused
        }
        return 0;
    };
    EXPECT_EQ(1, Parse<TypeParam>(e, "<a/><b/><c/>"));
    EXPECT_EQ(XMLRES_END_OF_DATA, e.m_nParseResult);
    ASSERT_EQ(2, e.GetTagCount());  // b completed after the Init
    EXPECT_EQ("b", this->N(e.GetTag(0).m_strName));
    EXPECT_EQ(nullptr, e.m_pStream);
    // Once the parse is over, parsing again is allowed.
    EXPECT_EQ(1, Parse<TypeParam>(e, "<z/>"));
    EXPECT_EQ(3, e.GetTagCount());
}

// Character data across lines of every kind, entities and runs of every
// length (the text read in one pass over memory is checked in blocks): the
// document's reader over memory gives what a caller's stream gives line by
// line, and line ends come out as CR LF.
TYPED_TEST(XmlParser, TextRunsOfEveryShape) {
    typedef typename TypeParam::Tag Tag;
    const char* const marks[] = {"\r\n", "\n", "\r", "&amp;", "&", "\r\n\r\n", "\n\r", "y"};
    for (const char* first : marks) {
        for (const char* last : marks) {
            for (int n = 0; n < 40; ++n) {
                // A mark at every place of a block, another at the run's end.
                const std::string content = "w" + std::string(n, 'x') + first + std::string(n % 17, 'z') + last;
                SCOPED_TRACE(content);
                const std::string text = "<r>\r\n<a>" + content + "</a>\r\n</r>";
                typename TypeParam::Doc d;
                ASSERT_EQ(1, Parse<TypeParam>(d, text));
                std::vector<typename TypeParam::Ch> buf = xmltest::Buf<TypeParam>(text);
                typename TypeParam::Stream s(buf.data(), 0);
                Tag viaStream;
                ASSERT_EQ(1, viaStream.FromString(nullptr, &s, 0));
                EXPECT_TRUE(xmlsame::SameTag(viaStream, d.GetTag(0)));
            }
        }
    }
}

// The XML tree: finding and counting children, the index rules of the child
// operations, attributes by name, deep copies and the document object.
#include <tuple>

#include "xml/xml_support.h"

using xmltest::Elem;
using xmltest::Names;
using xmltest::Node;

namespace {

template <class W>
class XmlModel : public xmltest::XmlTest<W> {
protected:
    typedef typename W::Tag Tag;
    // An element holding the elements named in the list, in order.
    static Tag Parent(const std::vector<std::string>& names) {
        Tag p = Elem<W>("p");
        for (const auto& n : names) p.AddXmlTag(Elem<W>(n, 1));
        return p;
    }
};
TYPED_TEST_SUITE(XmlModel, xmltest::Widths);

TYPED_TEST(XmlModel, FindXmlTagStartIsInclusiveAndEndsAtCount) {
    typename TypeParam::Tag p = Elem<TypeParam>("p");
    p.AddXmlTag(Node<TypeParam>(XMLTAG_COMMENT, "item"));  // only elements are found
    p.AddXmlTag(Elem<TypeParam>("Item"));
    p.AddXmlTag(Node<TypeParam>(XMLTAG_TEXT, "item"));
    p.AddXmlTag(Elem<TypeParam>("ITEM"));

    // The start is inclusive; afterwards it holds the hit or the child count.
    // start, the index found, the start afterwards
    const std::tuple<int, int, int> finds[] = {{0, 1, 1}, {1, 1, 1}, {2, 3, 3}, {4, -1, 4}, {-3, -1, 4}};
    for (const auto& [from, found, after] : finds) {
        int start = from;
        EXPECT_EQ(found, p.FindXmlTag(this->S("item"), start)) << from;
        EXPECT_EQ(after, start) << from;
    }

    EXPECT_EQ(2, TypeParam::Doc::GetTagCount(p, this->S("iTeM")));  // elements only

    typename TypeParam::Tag got = Elem<TypeParam>("stale");
    int start = 2;
    EXPECT_EQ(1, p.ReadXmlTag(this->S("item"), got, start));
    EXPECT_EQ(3, start);
    EXPECT_EQ("ITEM", this->N(got.m_strName));
    EXPECT_EQ(0, p.ReadXmlTag(this->S("none"), got, start));
    EXPECT_TRUE(got.m_strName.IsEmpty());  // the miss empties the output node
}

TYPED_TEST(XmlModel, ChildIndexRulesAndResults) {
    typedef typename TypeParam::Tag Tag;
    Tag p = Elem<TypeParam>("p");
    EXPECT_EQ(0, p.AddXmlTag(Elem<TypeParam>("a")));  // the first child: index 0
    EXPECT_EQ(1, p.AddXmlTag(Elem<TypeParam>("c")));
    EXPECT_EQ(1, p.InsertXmlTag(1, Elem<TypeParam>("b")));
    EXPECT_EQ("a,b,c", Names<TypeParam>(p));
    EXPECT_EQ(1, p.InsertXmlTag(-2, Elem<TypeParam>("f")));
    EXPECT_EQ(4, p.InsertXmlTag(4, Elem<TypeParam>("x")));  // at the count: append
    EXPECT_EQ(5, p.InsertXmlTag(99, Elem<TypeParam>("y")));

    EXPECT_EQ(1, p.UpdateXmlTag(-5, Elem<TypeParam>("g")));  // front, no replacement
    EXPECT_EQ(7, p.UpdateXmlTag(7, Elem<TypeParam>("z")));
    EXPECT_EQ(8, p.UpdateXmlTag(50, Elem<TypeParam>("w")));
    EXPECT_EQ(1, p.UpdateXmlTag(2, Elem<TypeParam>("A")));
    EXPECT_EQ("g,f,A,b,c,x,y,z,w", Names<TypeParam>(p));

    EXPECT_EQ(0, p.DeleteXmlTag(-1));
    EXPECT_EQ(0, p.DeleteXmlTag(9));
    EXPECT_EQ(1, p.DeleteXmlTag(0));
    EXPECT_EQ(1, p.DeleteXmlTag(7));
    EXPECT_EQ("f,A,b,c,x,y,z", Names<TypeParam>(p));

    Tag got = Elem<TypeParam>("keep");
    EXPECT_EQ(0, p.GetXmlTag(7, got));
    EXPECT_EQ("keep", this->N(got.m_strName));

    // A node marked m_bNoChild is refused by every way in, whatever the index.
    Tag refused = Elem<TypeParam>("r");
    refused.m_bNoChild = 1;
    EXPECT_EQ(0, p.AddXmlTag(Tag(refused)));  // the flag travels with a copy
    EXPECT_EQ(0, p.InsertXmlTag(-1, refused));
    EXPECT_EQ(0, p.UpdateXmlTag(1, refused));
    EXPECT_EQ(0, p.UpdateXmlTag(99, refused));
    EXPECT_EQ("f,A,b,c,x,y,z", Names<TypeParam>(p));
}

TYPED_TEST(XmlModel, OptionsByNameIgnoringCase) {
    typename TypeParam::Tag t = Elem<TypeParam>("e", 0, {{"id", "3"}});
    typename TypeParam::Str v = this->S("junk");
    EXPECT_EQ(0, t.ReadOption(this->S("missing"), v));
    EXPECT_TRUE(v.IsEmpty());
    EXPECT_EQ(0, t.UpdateOption(this->S("ID"), this->S("7")));
    EXPECT_EQ("id", this->N(t.m_aryOption[0].m_strName));  // the stored name stays
    EXPECT_EQ("7", this->N(t.m_aryOption[0].m_strValue));
    EXPECT_EQ(1, t.UpdateOption(this->S("Other"), this->S("x")));

    EXPECT_EQ(1, t.ReadOption(this->S("OTHER"), v));
    EXPECT_EQ("x", this->N(v));
    EXPECT_EQ(1, t.DeleteOption(this->S("iD")));
    EXPECT_EQ(0, t.DeleteOption(this->S("id")));
    EXPECT_EQ(1, t.m_aryOption.GetSize());
}

TYPED_TEST(XmlModel, AssignmentIsADeepIndependentCopy) {
    typedef typename TypeParam::Tag Tag;
    Tag a = Elem<TypeParam>("a", 2, {{"x", "1"}});
    Tag child = Elem<TypeParam>("c", 3);
    child.AddXmlTag(Elem<TypeParam>("g", 4, {{"y", "2"}}));
    a.AddXmlTag(child);
    a.m_nParseResult = 11;

    Tag b = Elem<TypeParam>("old", 0, {{"p", "1"}, {"q", "2"}, {"r", "3"}});
    b.AddXmlTag(Elem<TypeParam>("s1"));
    b.AddXmlTag(Elem<TypeParam>("s2"));
    b = a;  // surplus attributes and children go; the writer shows the rest
    EXPECT_EQ(xmltest::Write<TypeParam>(a), xmltest::Write<TypeParam>(b));
    ASSERT_EQ(1, b.m_aryOption.GetSize());
    EXPECT_EQ(11, b.m_nParseResult);
    // Changing a grandchild of the copy leaves the original alone.
    b.m_arySubTag[0].m_arySubTag[0].m_strName = this->S("changed");
    EXPECT_EQ("g", this->N(a.m_arySubTag[0].m_arySubTag[0].m_strName));

    Tag& alias = a;  // self-assignment changes nothing
    a = alias;
    ASSERT_EQ(1, a.m_arySubTag.GetSize());
    EXPECT_EQ("g", this->N(a.m_arySubTag[0].m_arySubTag[0].m_strName));
}

TYPED_TEST(XmlModel, AddingANodeOfTheReceiversOwnSubtree) {
    typedef typename TypeParam::Tag Tag;
    // Five children fill the block exactly (capacities 1, 5): the next
    // append or insertion moves the block while its argument lives in it.
    Tag p = this->Parent({"a", "b", "c", "d", "e"});
    p.m_arySubTag[1].AddXmlTag(Elem<TypeParam>("deep", 2));
    ASSERT_EQ(5, p.m_arySubTag.m_nMaxSize);
    EXPECT_EQ(5, p.AddXmlTag(p.m_arySubTag[1]));
    EXPECT_EQ("a,b,c,d,e,b", Names<TypeParam>(p));
    EXPECT_EQ("deep", Names<TypeParam>(p.m_arySubTag[5]));

    // The receiver itself: the child is a copy of the node as it was.
    Tag q = this->Parent({"x", "y"});
    EXPECT_EQ(2, q.AddXmlTag(q));
    EXPECT_EQ("x,y,p", Names<TypeParam>(q));
    EXPECT_EQ("x,y", Names<TypeParam>(q.m_arySubTag[2]));
    EXPECT_EQ(1, q.InsertXmlTag(1, q));
    EXPECT_EQ("x,p,y,p", Names<TypeParam>(q));
    EXPECT_EQ("x,y,p", Names<TypeParam>(q.m_arySubTag[1]));
}

TYPED_TEST(XmlModel, DocumentInitAndIndependentCopies) {
    typedef typename TypeParam::Doc Doc;
    Doc d;
    d.GetTagArray().Add(this->Parent({"a", "b"}));
    d.GetTagArray().Add(Elem<TypeParam>("second"));

    Doc copy(d);
    Doc assigned;
    assigned.GetTagArray().Add(Elem<TypeParam>("gone"));
    assigned = d;
    EXPECT_EQ(xmltest::Write<TypeParam>(d), xmltest::Write<TypeParam>(assigned));
    // The copies own their nodes: changing or clearing one leaves the others.
    copy.GetTag(0).m_arySubTag[0].m_strName = this->S("changed");
    assigned.Init();
    EXPECT_EQ("a,b", Names<TypeParam>(d.GetTag(0)));
    EXPECT_EQ("changed,b", Names<TypeParam>(copy.GetTag(0)));

    d.Init();
    EXPECT_EQ(0, d.m_aryTag.m_nMaxSize);  // storage freed, not only emptied
    EXPECT_EQ(2, copy.GetTagCount());
}

// Moving a node within its own tree works as a copy would: into itself, a
// node of its own subtree into it, and it into one of its descendants.
TYPED_TEST(XmlModel, MovesWithinTheSameTree) {
    typedef typename TypeParam::Tag Tag;
    Tag a = this->Parent({"x", "y"});
    a.m_arySubTag[0].AddXmlTag(Elem<TypeParam>("deep", 2));
    Tag& self = a;
    a = static_cast<Tag&&>(self);
    EXPECT_EQ("x,y", Names<TypeParam>(a));

    Tag b = a;
    b = static_cast<Tag&&>(b.m_arySubTag[0]);  // the child takes the parent's place
    EXPECT_EQ("x", this->N(b.m_strName));
    EXPECT_EQ("deep", Names<TypeParam>(b));

    Tag c = a;
    c.m_arySubTag[1] = static_cast<Tag&&>(c);  // the node goes below itself
    EXPECT_EQ("x,p", Names<TypeParam>(c));
    EXPECT_EQ("x,y", Names<TypeParam>(c.m_arySubTag[1]));
    EXPECT_EQ("deep", Names<TypeParam>(c.m_arySubTag[1].m_arySubTag[0]));
}

}  // namespace

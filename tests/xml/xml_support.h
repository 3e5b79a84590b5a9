// Shared pieces of the XML tests over either width (widths.h): node
// builders, the string form of a tree, and a document that records its
// callbacks.
#ifndef VORLIX_TESTS_XML_SUPPORT_H
#define VORLIX_TESTS_XML_SUPPORT_H

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "widths.h"

namespace xmltest {

using widths::Buf;
using widths::N;
using widths::Narrow;
using widths::S;
using widths::Wide;
using widths::Widths;

// Parses ASCII text held in memory (in the platform's byte order for 16 bits).
template <class W>
int Parse(typename W::Doc& doc, const std::string& text, int bStore = 1) {
    std::vector<typename W::Ch> buf = Buf<W>(text);
    return doc.FromString(buf.data(), bStore);
}

// A node of any kind; Elem makes an element.
template <class W>
typename W::Tag Node(int nType, const std::string& name, int nLevel = 0,
                     const std::vector<std::pair<std::string, std::string>>& attrs = {}) {
    typename W::Tag t;
    t.m_nTagType = nType;
    t.m_strName = S<W>(name);
    t.m_nLevel = nLevel;
    for (const auto& a : attrs) t.UpdateOption(S<W>(a.first), S<W>(a.second));
    return t;
}
template <class W>
typename W::Tag Elem(const std::string& name, int nLevel = 0,
                     const std::vector<std::pair<std::string, std::string>>& attrs = {}) {
    return Node<W>(XMLTAG_ELEMENT, name, nLevel, attrs);
}

// The children's names, comma separated.
template <class W>
std::string Names(const typename W::Tag& t) {
    std::string out;
    for (int i = 0; i < t.m_arySubTag.GetSize(); ++i) out += (i ? "," : "") + N<W>(t.m_arySubTag[i].m_strName);
    return out;
}

// The string form of a document or a node.
template <class W, class T>
std::string Write(const T& doc, int nDepth = INT_MAX) {
    typename W::Str s = S<W>("stale");
    EXPECT_EQ(1, doc.ToString(s, nDepth));
    return N<W>(s);
}

// Base fixture of the typed tests.
template <class W>
class XmlTest : public ::testing::Test {
protected:
    typedef typename W::Tag Tag;
    typedef typename W::Doc Doc;
    static typename W::Str S(const std::string& a) { return xmltest::S<W>(a); }
    static std::string N(const typename W::Str& s) { return xmltest::N<W>(s); }
    static Tag With(Tag parent, const std::vector<Tag>& children) {
        for (const Tag& c : children) parent.AddXmlTag(c);
        return parent;
    }
    // kind:name@level{children}, recursively.
    static std::string Describe(const Tag& t) {
        std::string out = std::to_string(t.m_nTagType) + ":" + N(t.m_strName) + "@" + std::to_string(t.m_nLevel);
        if (t.m_arySubTag.GetSize() == 0) return out;
        out += "{";
        for (int i = 0; i < t.m_arySubTag.GetSize(); ++i) out += (i ? "," : "") + Describe(t.m_arySubTag[i]);
        return out + "}";
    }
};

// A document that logs every callback as "B<kind> <name> @<depth>" (begin)
// or "E<kind> <name> @<depth>" (end); an optional hook decides the result.
template <class W>
class RecCore : public W::Doc {
public:
    std::vector<std::string> log;
    std::function<int(typename W::Tag&, int, bool)> hook;

protected:
    int Note(typename W::Tag& t, int nLevel, long lParam, bool bBegin) {
        log.push_back(std::string(bBegin ? "B" : "E") + std::to_string(t.m_nTagType) + " " + N<W>(t.m_strName) + " @" +
                      std::to_string(nLevel));
        EXPECT_EQ(this->m_lParam, lParam);
        return hook ? hook(t, nLevel, bBegin) : 0;
    }
};

class RecA : public RecCore<Narrow> {
public:
    int OnBeginXmlTagA(CXmlTagA& t, int n, long p) override { return Note(t, n, p, true); }
    int OnEndXmlTagA(CXmlTagA& t, int n, long p) override { return Note(t, n, p, false); }
};

class RecU : public RecCore<Wide> {
public:
    int OnBeginXmlTagU(CXmlTagU& t, int n, long p) override { return Note(t, n, p, true); }
    int OnEndXmlTagU(CXmlTagU& t, int n, long p) override { return Note(t, n, p, false); }
};

// A file handle over a temporary file, closed when the object goes.
class Handle {
public:
    Handle(const testsupport::TempFile& f, bool bWrite)
        : h(Byte_OpenFile(f.path(), bWrite ? 0x40000000 : 0x80000000, 1, bWrite ? 1 : 0)) {}
    ~Handle() {
        if (h) API_CloseFile(h);
    }
    void* h;
};

// The bytes a document or a node writes to a file, after the bytes before.
template <class T>
std::string ToFile(const T& obj, int nDepth, const std::string& before = "") {
    testsupport::TempFile f("out.xml");
    {
        Handle h(f, true);
        EXPECT_TRUE(h.h);
        if (!before.empty()) API_WriteFile(h.h, before.data(), static_cast<DWORD>(before.size()));
        EXPECT_EQ(1, obj.ToString(h.h, nDepth));
    }
    return f.Read();
}

// Parses a file that holds these bytes.
template <class D>
int ParseFile(D& doc, const std::string& bytes) {
    testsupport::TempFile f("in.xml");
    f.Write(bytes);
    Handle h(f, false);
    EXPECT_TRUE(h.h);
    return doc.FromString(h.h, 1);
}

}  // namespace xmltest

#endif

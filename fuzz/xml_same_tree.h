// Two ways of reading one document must agree: a document parsed with its
// own reader (CAnalXml::FromString), and the same text parsed node by node
// through a token data stream the caller owns (CXmlTag::FromString). Their
// trees are compared field by field, capacities included, and every list's
// capacity must be what its block holds. A document that records where its
// stream stands at each callback shows that the callbacks see the same.
#ifndef VORLIX_FUZZ_XML_SAME_TREE_H
#define VORLIX_FUZZ_XML_SAME_TREE_H

#include <vorlix/vorlix.h>

#include <string>
#include <vector>

namespace xmlsame {

template <class Array>
bool SameShape(const Array& a, const Array& b) {
    return a.m_nSize == b.m_nSize && a.m_nMaxSize == b.m_nMaxSize && a.m_nGrowBy == b.m_nGrowBy;
}

// The capacity a list reports is held by its block.
template <class Array>
bool Held(const Array& a) {
    return static_cast<std::size_t>(a.m_nMaxSize) * sizeof(a.m_pData[0]) <= vorlix::detail::BlockSize(a.m_pData);
}

template <class Tag>
bool SameTag(const Tag& a, const Tag& b) {
    if (a.m_nParseResult != b.m_nParseResult || a.m_dwParsePos != b.m_dwParsePos || a.m_nLevel != b.m_nLevel ||
        a.m_strName != b.m_strName || a.m_nTagType != b.m_nTagType || a.m_nUserFlag != b.m_nUserFlag ||
        a.m_bNoChild != b.m_bNoChild || !SameShape(a.m_aryOption, b.m_aryOption) ||
        !SameShape(a.m_arySubTag, b.m_arySubTag) || !Held(a.m_aryOption) || !Held(a.m_arySubTag))
        return false;
    for (int i = 0; i < a.m_aryOption.GetSize(); ++i)
        if (a.m_aryOption[i].m_strName != b.m_aryOption[i].m_strName ||
            a.m_aryOption[i].m_strValue != b.m_aryOption[i].m_strValue)
            return false;
    for (int i = 0; i < a.m_arySubTag.GetSize(); ++i)
        if (!SameTag(a.m_arySubTag[i], b.m_arySubTag[i])) return false;
    return true;
}

template <class Doc>
bool SameDoc(const Doc& a, const Doc& b) {
    if (a.m_nParseResult != b.m_nParseResult || a.m_dwParsePos != b.m_dwParsePos || !SameShape(a.m_aryTag, b.m_aryTag))
        return false;
    for (int i = 0; i < a.m_aryTag.GetSize(); ++i)
        if (!SameTag(a.m_aryTag[i], b.m_aryTag[i])) return false;
    return true;
}

// A document that notes, at every callback, where the stream stands: its
// own m_pStream, or the caller's stream it is given.
template <class Base, class Tag, class Stream>
class Watched : public Base {
public:
    Stream* pOwn = nullptr;
    std::vector<std::string> seen;

protected:
    int Note(const Tag& t, int nLevel) {
        const Stream* s = pOwn ? pOwn : this->m_pStream;
        std::string line;
        for (int i = 0; i < s->m_curPos.m_strLine.GetLength(); ++i)
            line += std::to_string(static_cast<unsigned>(s->m_curPos.m_strLine[i])) + ",";
        seen.push_back(std::to_string(t.m_nTagType) + "@" + std::to_string(nLevel) + " " +
                       std::to_string(s->m_curPos.m_dwCurLinePos) + " " + std::to_string(s->m_curPos.m_dwNextLinePos) +
                       " " + std::to_string(s->m_curPos.m_dwColumn) + " " + line);
        return 0;
    }
};

class WatchedA : public Watched<CAnalXmlA, CXmlTagA, CTokenDataStreamA> {
public:
    int OnBeginXmlTagA(CXmlTagA& t, int n, long) override { return Note(t, n); }
    int OnEndXmlTagA(CXmlTagA& t, int n, long) override { return Note(t, n); }
};
class WatchedU : public Watched<CAnalXmlU, CXmlTagU, CTokenDataStreamU> {
public:
    int OnBeginXmlTagU(CXmlTagU& t, int n, long) override { return Note(t, n); }
    int OnEndXmlTagU(CXmlTagU& t, int n, long) override { return Note(t, n); }
};

// Parses the stream node by node into the document, as the document's own
// parse would, with the document's callbacks.
template <class Doc, class Tag, class Stream>
void ParseNodes(Doc& doc, Stream& s) {
    doc.pOwn = &s;
    Tag t;
    while (t.FromString(&doc, &s, 0)) doc.GetTagArray().Add(static_cast<Tag&&>(t));  // moved, as the document does
    doc.m_nParseResult = t.m_nParseResult;
    doc.m_dwParsePos = t.m_dwParsePos;
}

}  // namespace xmlsame

#endif

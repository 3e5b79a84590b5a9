// Field-by-field equality of parsed trees, array capacities included. The
// plain document classes parse with a private ring of offsets, derived ones
// through the stream's own operations; both must build exactly the same
// nodes and report the same result and position.
#ifndef VORLIX_FUZZ_XML_SAME_TREE_H
#define VORLIX_FUZZ_XML_SAME_TREE_H

#include <vorlix/vorlix.h>

namespace xmlsame {

template <class Array>
bool SameShape(const Array& a, const Array& b) {
    return a.m_nSize == b.m_nSize && a.m_nMaxSize == b.m_nMaxSize && a.m_nGrowBy == b.m_nGrowBy;
}

template <class Tag>
bool SameTag(const Tag& a, const Tag& b) {
    if (a.m_nParseResult != b.m_nParseResult || a.m_dwParsePos != b.m_dwParsePos || a.m_nLevel != b.m_nLevel ||
        a.m_strName != b.m_strName || a.m_nTagType != b.m_nTagType || a.m_nUserFlag != b.m_nUserFlag ||
        a.m_bNoChild != b.m_bNoChild || !SameShape(a.m_aryOption, b.m_aryOption) ||
        !SameShape(a.m_arySubTag, b.m_arySubTag))
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
    if (a.m_nParseResult != b.m_nParseResult || a.m_dwParsePos != b.m_dwParsePos ||
        !SameShape(a.m_aryTag, b.m_aryTag))
        return false;
    for (int i = 0; i < a.m_aryTag.GetSize(); ++i)
        if (!SameTag(a.m_aryTag[i], b.m_aryTag[i])) return false;
    return true;
}

// Any derived document class parses through the stream's own operations.
class WatchedA : public CAnalXmlA {};
class WatchedU : public CAnalXmlU {};

}  // namespace xmlsame

#endif

// What the XML sources share: the literals of both widths
// (../base/literal.h), the callbacks named by width, and the functions one
// file of src/xml/ gives the others (each defined and instantiated for both
// widths in the file named).
#ifndef VORLIX_SRC_XML_XML_INTERNAL_H
#define VORLIX_SRC_XML_XML_INTERNAL_H

#include <vorlix/base/heap.h>
#include <vorlix/xml/xml.h>

#include "../base/literal.h"

#include <cstddef>
#include <cstring>
#include <type_traits>

namespace vorlix {
namespace detail {

// Appends a literal, without its NUL.
template <class Ch, std::size_t N>
inline void Put(BasicString<Ch>& out, const Lit<Ch, N>& lit) {
    out.Append(lit.s, static_cast<int>(N) - 1);
}

// The callbacks of each width's document.
inline int OnBegin(CAnalXmlA& d, CXmlTagA& t, int nLevel) { return d.OnBeginXmlTagA(t, nLevel, d.m_lParam); }
inline int OnEnd(CAnalXmlA& d, CXmlTagA& t, int nLevel) { return d.OnEndXmlTagA(t, nLevel, d.m_lParam); }
inline int OnBegin(CAnalXmlU& d, CXmlTagU& t, int nLevel) { return d.OnBeginXmlTagU(t, nLevel, d.m_lParam); }
inline int OnEnd(CAnalXmlU& d, CXmlTagU& t, int nLevel) { return d.OnEndXmlTagU(t, nLevel, d.m_lParam); }

// The real class of a template's object: the templates are only ever
// built as part of one (their users derive from the real classes).
template <class Ch>
inline typename XmlClasses<Ch>::Tag& Real(BasicXmlTag<Ch>& t) {
    return static_cast<typename XmlClasses<Ch>::Tag&>(t);
}
template <class Ch>
inline const typename XmlClasses<Ch>::Tag& Real(const BasicXmlTag<Ch>& t) {
    return static_cast<const typename XmlClasses<Ch>::Tag&>(t);
}
template <class Ch>
inline typename XmlClasses<Ch>::Doc& Real(BasicAnalXml<Ch>& d) {
    return static_cast<typename XmlClasses<Ch>::Doc&>(d);
}

// A stack for walking a tree without recursion, whatever its depth: the
// first frames in the object itself, more on the heap. Push fails only
// when memory is exhausted.
template <class Frame>
class WalkStack {
    static_assert(std::is_trivially_copyable<Frame>::value, "frames are moved as bytes");

public:
    WalkStack() = default;
    WalkStack(const WalkStack&) = delete;
    WalkStack& operator=(const WalkStack&) = delete;
    ~WalkStack() {
        if (m_p != m_first) BlockFree(m_p);
    }
    bool Push(const Frame& f) {
        if (m_n == m_nCap) {
            int nCap = m_nCap * 2;
            void* p = m_p == m_first ? BlockAlloc(sizeof(Frame) * static_cast<std::size_t>(nCap))
                                     : BlockRealloc(m_p, sizeof(Frame) * static_cast<std::size_t>(nCap));
            if (!p) return false;
            if (m_p == m_first) std::memcpy(p, m_first, sizeof(m_first));
            m_p = static_cast<Frame*>(p);
            m_nCap = nCap;
        }
        m_p[m_n++] = f;
        return true;
    }
    bool Empty() const { return m_n == 0; }
    int Size() const { return m_n; }
    Frame& Top() { return m_p[m_n - 1]; }
    void Pop() { --m_n; }

private:
    static const int kFirst = 32;
    Frame m_first[kFirst];
    Frame* m_p = m_first;
    int m_n = 0;
    int m_nCap = kFirst;
};

inline void Prefetch(const void* p) {
#if defined(__GNUC__) || defined(__clang__)
    __builtin_prefetch(p);
#else
    (void)p;
#endif
}

// ---- xml_entities.cpp ----

// The length of p[0, n) with the five predefined entities encoded, and the
// encoded text written at q (which has room for that length); PutEncoded
// returns the end of what it wrote.
template <class Ch>
long long EncodedLength(const Ch* p, int n);
template <class Ch>
Ch* PutEncoded(Ch* q, const Ch* p, int n);
// Replaces the text by p[0, n) with the five entities decoded.
template <class Ch>
void SetDecoded(BasicString<Ch>& out, const Ch* p, int n);
// Replaces the text by the character data p[0, n), built in one pass at
// about its final size: the five entities decoded, and each line end (CR
// LF, CR or LF) made CR LF, as a line-by-line read gives it. nForm: what
// the run is known to hold (a TextForm of xml_text.h), or -1 when that is
// to be found out.
template <class Ch>
void SetText(BasicString<Ch>& out, const Ch* p, int n, int nForm);

// ---- xml_tree.cpp ----

// The fields of a node that are plain values: kind, depth, user flag,
// refusal, result and position.
template <class Ch>
inline void CopyValueFields(BasicXmlTag<Ch>& d, const BasicXmlTag<Ch>& s) {
    d.m_nTagType = s.m_nTagType;
    d.m_nLevel = s.m_nLevel;
    d.m_nUserFlag = s.m_nUserFlag;
    d.m_bNoChild = s.m_bNoChild;
    d.m_nParseResult = s.m_nParseResult;
    d.m_dwParsePos = s.m_dwParsePos;
}

// Destroys the children of a node (however deep) without recursion, and
// leaves its child list empty.
template <class Ch>
void DestroyChildren(BasicXmlTag<Ch>& t);

// ---- xml_parser.cpp ----

// Parses a whole document with its private reader, from text in memory
// (nEndian, 16-bit only: the readers' encoding number) or from a file at
// its position (dwStart: the position the first line counts from), and
// records the outcome in the document.
template <class Ch>
int ParseText(BasicAnalXml<Ch>& doc, const Ch* pszXml, unsigned long dwStart, int nEndian, int bStoreTag);
template <class Ch>
int ParseFile(BasicAnalXml<Ch>& doc, void* hFile, unsigned long dwStart, int nEndian, int bStoreTag);

}  // namespace detail
}  // namespace vorlix

#endif

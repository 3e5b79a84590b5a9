// The XML tree: attributes, nodes and documents as values (construction,
// copy, move, destruction), the child and attribute operations, and the
// default callbacks. Copying, moving and destroying walk a subtree of any
// depth without recursion.
#include "xml_internal.h"

#include <new>

namespace vorlix {
namespace detail {
namespace {

// True when p is a node somewhere below root. When memory to walk the
// tree cannot be had, the answer is true: callers then copy aside, which is
// safe either way.
template <class Ch>
bool Contains(const BasicXmlTag<Ch>& root, const void* p) {
    typedef typename XmlClasses<Ch>::Tag Tag;
    struct Frame {
        const Tag* p;
        int n;
        int i;
    };
    if (!root.m_arySubTag.m_pData) return false;
    WalkStack<Frame> stack;
    Frame cur = {root.m_arySubTag.m_pData, root.m_arySubTag.m_nSize, 0};
    for (;;) {
        if (cur.i == 0 && p >= static_cast<const void*>(cur.p) && p < static_cast<const void*>(cur.p + cur.n))
            return true;
        if (cur.i == cur.n) {
            if (stack.Empty()) return false;
            cur = stack.Top();
            stack.Pop();
            continue;
        }
        const Tag& c = cur.p[cur.i++];
        if (!c.m_arySubTag.m_pData) continue;
        if (!stack.Push(cur)) return true;
        cur = Frame{c.m_arySubTag.m_pData, c.m_arySubTag.m_nSize, 0};
    }
}

template <class Ch>
void CopyFields(BasicXmlTag<Ch>& d, const BasicXmlTag<Ch>& s) {
    d.m_strName = s.m_strName;
    CopyValueFields(d, s);
    int n = s.m_aryOption.GetSize();
    d.m_aryOption.SetSize(n);
    for (int i = 0; i < n && i < d.m_aryOption.GetSize(); ++i) d.m_aryOption[i] = s.m_aryOption[i];
}

// d becomes a deep copy of s, which neither holds d nor lies below it.
// Node by node, depth first, without recursion; when memory runs out the
// copy stops where it is.
template <class Ch>
void AssignInPlace(BasicXmlTag<Ch>& d, const BasicXmlTag<Ch>& s) {
    typedef typename XmlClasses<Ch>::Tag Tag;
    struct Frame {
        Tag* d;
        const Tag* s;
        int n;
        int i;
    };
    CopyFields(d, s);
    if (&d == &s) return;
    d.m_arySubTag.SetSize(s.m_arySubTag.GetSize());
    if (!d.m_arySubTag.GetSize()) return;
    WalkStack<Frame> stack;
    Frame cur = {d.m_arySubTag.m_pData, s.m_arySubTag.m_pData, d.m_arySubTag.GetSize(), 0};
    for (;;) {
        if (cur.i == cur.n) {
            if (stack.Empty()) return;
            cur = stack.Top();
            stack.Pop();
            continue;
        }
        Tag& dc = cur.d[cur.i];
        const Tag& sc = cur.s[cur.i];
        ++cur.i;
        CopyFields(dc, sc);
        dc.m_arySubTag.SetSize(sc.m_arySubTag.GetSize());
        int n = dc.m_arySubTag.GetSize();
        if (n == 0 || !stack.Push(cur)) continue;
        cur = Frame{dc.m_arySubTag.m_pData, sc.m_arySubTag.m_pData, n, 0};
    }
}

// A node that is the receiver itself, one of its children (whose block
// moves when the children change) or one of its ancestors is copied
// before the receiver's children change.
template <class Ch>
bool NeedsCopy(const BasicXmlTag<Ch>& receiver, const BasicXmlTag<Ch>& tag) {
    const auto* p = receiver.m_arySubTag.m_pData;
    const void* q = &tag;
    return q == &receiver ||
           (p && q >= static_cast<const void*>(p) && q < static_cast<const void*>(p + receiver.m_arySubTag.m_nSize)) ||
           Contains(tag, &receiver);
}

template <class Ch>
void PrefetchMembers(const BasicXmlTag<Ch>& t) {
    Prefetch(reinterpret_cast<const char*>(t.m_strName.GetString()) - sizeof(StrHeader));
    if (const auto* o = t.m_aryOption.m_pData) {
        Prefetch(o);
        if (t.m_aryOption.m_nSize > 2) Prefetch(reinterpret_cast<const char*>(o) + 64);
    }
    if (t.m_arySubTag.m_pData) Prefetch(t.m_arySubTag.m_pData);
}

// Ends node t, whose children are taken care of by the caller: what the
// destructors of its members would do, without the calls that find nothing
// to do. The nodes and attributes of a tree are exactly Tag and Option
// (kept by value), so no destructor of a derived class is skipped.
template <class Ch>
void ReleaseOwned(BasicXmlTag<Ch>& t) {
    typedef typename XmlClasses<Ch>::Option Option;
    if (Option* o = t.m_aryOption.m_pData) {
        for (int i = 0, n = t.m_aryOption.m_nSize; i < n; ++i) {
            o[i].m_strName.~BasicString<Ch>();
            o[i].m_strValue.~BasicString<Ch>();
        }
        BlockFree(o);
    }
    t.m_strName.~BasicString<Ch>();
}

}  // namespace

// Depth first, with the way back kept in the nodes themselves: a node that
// has children is destroyed as it is reached (its own children being
// detached first), and its memory, which stays allocated until its whole
// block is done, holds the frame to return to. So destroying a tree of any
// depth needs neither recursion nor memory. Freeing a large tree waits on
// memory: each node asks ahead for the next one and what it owns.
template <class Ch>
void DestroyChildren(BasicXmlTag<Ch>& t) {
    typedef typename XmlClasses<Ch>::Tag Tag;
    struct Frame {
        Tag* p;
        int n;
        int i;
        Frame* up;
    };
    static_assert(sizeof(Frame) <= sizeof(Tag) && alignof(Frame) <= alignof(Tag), "a frame fits in a node");
    if (!t.m_arySubTag.m_pData) return;
    Frame cur = {t.m_arySubTag.m_pData, t.m_arySubTag.m_nSize, 0, nullptr};
    t.m_arySubTag.m_pData = nullptr;
    t.m_arySubTag.m_nSize = t.m_arySubTag.m_nMaxSize = 0;
    for (;;) {
        if (cur.i == cur.n) {
            BlockFree(cur.p);
            if (!cur.up) return;
            cur = *cur.up;
            continue;
        }
        Tag& c = cur.p[cur.i++];
        if (cur.i + 1 < cur.n) {
            Prefetch(cur.p + cur.i + 1);
            Prefetch(reinterpret_cast<const char*>(cur.p + cur.i + 1) + 64);
        }
        if (cur.i < cur.n) PrefetchMembers(cur.p[cur.i]);
        Tag* kids = c.m_arySubTag.m_pData;
        ReleaseOwned(c);
        if (!kids) continue;
        int n = c.m_arySubTag.m_nSize;
        Frame* saved = ::new (static_cast<void*>(&c)) Frame(cur);
        cur = Frame{kids, n, 0, saved};
    }
}

template void DestroyChildren(BasicXmlTag<char>&);
template void DestroyChildren(BasicXmlTag<unsigned short>&);

}  // namespace detail

// ---- Attributes ----

template <class Ch>
BasicTagOption<Ch>::BasicTagOption() {}

template <class Ch>
BasicTagOption<Ch>::BasicTagOption(const BasicTagOption& src)
    : CObjCore(src), m_strName(src.m_strName), m_strValue(src.m_strValue) {}

template <class Ch>
BasicTagOption<Ch>::~BasicTagOption() {}

template <class Ch>
void BasicTagOption<Ch>::Init() {
    m_strName.Empty();
    m_strValue.Empty();
}

template <class Ch>
const BasicTagOption<Ch>& BasicTagOption<Ch>::operator=(const BasicTagOption& src) {
    m_strName = src.m_strName;
    m_strValue = src.m_strValue;
    return *this;
}

// ---- Nodes ----

template <class Ch>
BasicXmlTag<Ch>::BasicXmlTag()
    : m_nParseResult(0), m_dwParsePos(0), m_nLevel(0), m_nTagType(XMLTAG_NONE), m_nUserFlag(1), m_bNoChild(0) {}

template <class Ch>
BasicXmlTag<Ch>::BasicXmlTag(const BasicXmlTag& src)
    : CObjCore(src),
      m_nParseResult(0),
      m_dwParsePos(0),
      m_nLevel(0),
      m_nTagType(XMLTAG_NONE),
      m_nUserFlag(1),
      m_bNoChild(0) {
    detail::AssignInPlace(*this, src);
}

template <class Ch>
BasicXmlTag<Ch>::~BasicXmlTag() {
    detail::DestroyChildren(*this);
    // The attributes' values (unlike most names) are seldom shared: ask
    // ahead for the next one's while this one goes.
    Option* o = m_aryOption.m_pData;
    int n = m_aryOption.m_nSize;
    for (int i = 0; i < n; ++i) {
        if (i + 1 < n)
            detail::Prefetch(reinterpret_cast<const char*>(o[i + 1].m_strValue.GetString()) -
                             sizeof(detail::StrHeader));
        o[i].Option::~Option();
    }
    m_aryOption.m_nSize = 0;
}

template <class Ch>
void BasicXmlTag<Ch>::Init() {
    if (!m_strName.IsEmpty()) m_strName.Empty();
    m_nTagType = XMLTAG_NONE;
    m_nLevel = 0;
    m_nParseResult = 0;
    m_dwParsePos = 0;
    m_bNoChild = 0;
    m_nUserFlag = 1;
    if (m_aryOption.m_pData) m_aryOption.RemoveAll();
    if (m_arySubTag.m_pData) detail::DestroyChildren(*this);
}

template <class Ch>
BasicXmlTag<Ch>& BasicXmlTag<Ch>::operator=(const BasicXmlTag& src) {
    PrjWarningMsg(this != &src);
    // A source below this node, or one that holds it, would change under
    // the copy: copy it aside first.
    if (this != &src && ((m_arySubTag.m_pData && detail::Contains(*this, &src)) ||
                         (src.m_arySubTag.m_pData && detail::Contains(src, this)))) {
        Tag copy(detail::Real(src));
        detail::AssignInPlace(*this, copy);
    } else {
        detail::AssignInPlace(*this, src);
    }
    return *this;
}

template <class Ch>
BasicXmlTag<Ch>& BasicXmlTag<Ch>::operator=(BasicXmlTag&& src) noexcept {
    if (this == &src) return *this;
    if ((m_arySubTag.m_pData && detail::Contains(*this, &src)) ||
        (src.m_arySubTag.m_pData && detail::Contains(src, this))) {
        // Taking the subtree over would tie it into a loop: copy instead.
        Tag copy(detail::Real(src));
        return *this = static_cast<BasicXmlTag&&>(copy);
    }
    m_nParseResult = src.m_nParseResult;
    m_dwParsePos = src.m_dwParsePos;
    m_nLevel = src.m_nLevel;
    m_strName.Swap(src.m_strName);
    m_nTagType = src.m_nTagType;
    m_nUserFlag = src.m_nUserFlag;
    m_bNoChild = src.m_bNoChild;
    m_aryOption.Swap(src.m_aryOption);
    m_arySubTag.Swap(src.m_arySubTag);
    return *this;
}

template <class Ch>
int BasicXmlTag<Ch>::AddXmlTag(const Tag& tag) {
    if (tag.m_bNoChild) return 0;
    if (detail::NeedsCopy(*this, tag)) {
        Tag copy(tag);
        return AddXmlTag(copy);
    }
    int n = m_arySubTag.GetSize();
    m_arySubTag.SetSize(n + 1);
    if (m_arySubTag.GetSize() != n + 1) return 0;  // memory exhausted
    detail::AssignInPlace(m_arySubTag[n], tag);
    return n;
}

template <class Ch>
int BasicXmlTag<Ch>::InsertXmlTag(int nIndex, const Tag& tag) {
    if (tag.m_bNoChild) return 0;
    if (nIndex >= m_arySubTag.GetSize()) return AddXmlTag(tag);
    if (detail::NeedsCopy(*this, tag)) {
        Tag copy(tag);
        return InsertXmlTag(nIndex, copy);
    }
    m_arySubTag.InsertAt(nIndex < 0 ? 0 : nIndex, tag);
    return 1;
}

template <class Ch>
int BasicXmlTag<Ch>::UpdateXmlTag(int nIndex, const Tag& tag) {
    if (tag.m_bNoChild) return 0;
    if (nIndex < 0) return InsertXmlTag(0, tag);
    if (nIndex >= m_arySubTag.GetSize()) return AddXmlTag(tag);
    m_arySubTag[nIndex] = tag;
    return 1;
}

template <class Ch>
int BasicXmlTag<Ch>::DeleteXmlTag(int nIndex) {
    if (nIndex < 0 || nIndex >= m_arySubTag.GetSize()) return 0;
    m_arySubTag.RemoveAt(nIndex);
    return 1;
}

template <class Ch>
int BasicXmlTag<Ch>::GetXmlTag(int nIndex, Tag& tag) const {
    if (nIndex < 0 || nIndex >= m_arySubTag.GetSize()) return 0;
    tag = m_arySubTag[nIndex];
    return 1;
}

template <class Ch>
int BasicXmlTag<Ch>::FindXmlTag(const Ch* pszName, int& nStart) const {
    int n = m_arySubTag.GetSize();
    if (nStart < 0 || nStart >= n) {
        nStart = n;
        return -1;
    }
    for (int i = nStart; i < n; ++i) {
        const Tag& c = m_arySubTag[i];
        if (c.m_nTagType == XMLTAG_ELEMENT && c.m_strName.CompareNoCase(pszName) == 0) {
            nStart = i;
            return i;
        }
    }
    nStart = n;
    return -1;
}

template <class Ch>
int BasicXmlTag<Ch>::ReadXmlTag(const Ch* pszName, Tag& tag, int& nStart) const {
    int i = FindXmlTag(pszName, nStart);
    if (i < 0) {
        tag.Init();
        return 0;
    }
    tag = m_arySubTag[i];
    return 1;
}

template <class Ch>
int BasicXmlTag<Ch>::FindOption(const Ch* pszName) const {
    for (int i = 0, n = m_aryOption.GetSize(); i < n; ++i)
        if (m_aryOption[i].m_strName.CompareNoCase(pszName) == 0) return i;
    return -1;
}

template <class Ch>
int BasicXmlTag<Ch>::ReadOption(const Ch* pszName, BasicString<Ch>& strValue) const {
    int i = FindOption(pszName);
    if (i < 0) {
        strValue.Empty();
        return 0;
    }
    strValue = m_aryOption[i].m_strValue;
    return 1;
}

template <class Ch>
int BasicXmlTag<Ch>::UpdateOption(const Ch* pszName, const Ch* pszValue) {
    int i = FindOption(pszName);
    if (i >= 0) {
        m_aryOption[i].m_strValue = pszValue;
        return i;
    }
    int n = m_aryOption.GetSize();
    m_aryOption.SetSize(n + 1);
    if (m_aryOption.GetSize() != n + 1) return -1;  // memory exhausted
    m_aryOption[n].m_strName = pszName;
    m_aryOption[n].m_strValue = pszValue;
    return n;
}

template <class Ch>
int BasicXmlTag<Ch>::DeleteOption(const Ch* pszName) {
    int i = FindOption(pszName);
    if (i < 0) return 0;
    m_aryOption.RemoveAt(i);
    return 1;
}

// ---- Documents ----

template <class Ch>
BasicAnalXml<Ch>::BasicAnalXml() : m_pStream(nullptr), m_nParseResult(0), m_dwParsePos(0), m_lParam(0) {}

template <class Ch>
BasicAnalXml<Ch>::BasicAnalXml(const BasicAnalXml& src) : BasicAnalXml() {
    *this = src;
}

template <class Ch>
BasicAnalXml<Ch>& BasicAnalXml<Ch>::operator=(const BasicAnalXml& src) {
    if (this == &src) return *this;
    m_aryTag.Copy(src.m_aryTag);
    m_nParseResult = src.m_nParseResult;
    m_dwParsePos = src.m_dwParsePos;
    m_lParam = src.m_lParam;
    return *this;
}

template <class Ch>
BasicAnalXml<Ch>::~BasicAnalXml() {
    delete m_pStream;
}

template <class Ch>
void BasicAnalXml<Ch>::Init() {
    m_pStream = nullptr;
    m_aryTag.RemoveAll();
    m_nParseResult = 0;
    m_dwParsePos = 0;
    m_lParam = 0;
}

template <class Ch>
CObjArray<typename BasicAnalXml<Ch>::Tag, const typename BasicAnalXml<Ch>::Tag&>& BasicAnalXml<Ch>::GetTagArray() {
    return m_aryTag;
}

template <class Ch>
int BasicAnalXml<Ch>::GetTagCount() const {
    return m_aryTag.GetSize();
}

template <class Ch>
typename BasicAnalXml<Ch>::Tag& BasicAnalXml<Ch>::GetTag(int nIndex) {
    return m_aryTag[nIndex];
}

template <class Ch>
int BasicAnalXml<Ch>::GetTagCount(const Tag& tag, const Ch* pszName) {
    int count = 0;
    for (int start = 0; tag.FindXmlTag(pszName, start) >= 0; ++start) ++count;
    return count;
}

template class BasicTagOption<char>;
template class BasicTagOption<unsigned short>;
template class BasicXmlTag<char>;
template class BasicXmlTag<unsigned short>;
template class BasicAnalXml<char>;
template class BasicAnalXml<unsigned short>;

}  // namespace vorlix

int CAnalXmlA::OnBeginXmlTagA(CXmlTagA&, int, long) { return 0; }
int CAnalXmlA::OnEndXmlTagA(CXmlTagA&, int, long) { return 0; }
int CAnalXmlU::OnBeginXmlTagU(CXmlTagU&, int, long) { return 0; }
int CAnalXmlU::OnEndXmlTagU(CXmlTagU&, int, long) { return 0; }

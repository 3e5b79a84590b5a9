// The XML tree, parser and writer, written once for both widths. XmlOps<W>
// holds the algorithms; W names the classes and callbacks of one width.
#include <vorlix/base/file.h>
#include <vorlix/base/text.h>
#include <vorlix/xml/xml.h>

#include "xml_reader.h"

#include <climits>
#include <cstddef>
#include <new>
#include <typeinfo>
#include "../base/lines.h"
#include <utility>

namespace vorlix {
namespace detail {
namespace {

// A character literal in either width, built at compile time.
template <class Ch, std::size_t N>
struct Lit {
    Ch s[N];
    constexpr explicit Lit(const char (&a)[N]) : s() {
        for (std::size_t i = 0; i < N; ++i) s[i] = static_cast<Ch>(static_cast<unsigned char>(a[i]));
    }
    constexpr operator const Ch*() const { return s; }
    static constexpr int Length() { return static_cast<int>(N) - 1; }
};

template <class Ch, std::size_t N>
constexpr Lit<Ch, N> MakeLit(const char (&a)[N]) {
    return Lit<Ch, N>(a);
}

template <class Ch>
struct XmlLits {
    static constexpr auto kNodeSet = MakeLit<Ch>("<?!/>=& \t");
    static constexpr auto kAttrSet = MakeLit<Ch>("<?/>=\" ");
    static constexpr auto kBracket = MakeLit<Ch>("[");
    static constexpr auto kXml = MakeLit<Ch>("xml");
    static constexpr auto kCData = MakeLit<Ch>("CDATA");
    static constexpr auto kLt = MakeLit<Ch>("<");
    static constexpr auto kGt = MakeLit<Ch>(">");
    static constexpr auto kCommentEnd = MakeLit<Ch>("-->");
    static constexpr auto kCDataEnd = MakeLit<Ch>("]]>");
    static constexpr auto kCrLf = MakeLit<Ch>("\r\n");
    static constexpr auto kAttrOpen = MakeLit<Ch>("=\"");
    static constexpr auto kPiOpen = MakeLit<Ch>("<?");
    static constexpr auto kPiClose = MakeLit<Ch>("?>\r\n");
    static constexpr auto kCommentOpen = MakeLit<Ch>("<!--");
    static constexpr auto kCommentClose = MakeLit<Ch>("-->\r\n");
    static constexpr auto kCDataOpen = MakeLit<Ch>("<![CDATA[");
    static constexpr auto kCDataClose = MakeLit<Ch>("]]>\r\n");
    static constexpr auto kDeclOpen = MakeLit<Ch>("<!");
    static constexpr auto kDeclClose = MakeLit<Ch>(">\r\n");
    static constexpr auto kEmptyClose = MakeLit<Ch>("/>\r\n");
    static constexpr auto kEndOpen = MakeLit<Ch>("</");
    static constexpr auto kAmpEnt = MakeLit<Ch>("&amp;");
    static constexpr auto kLtEnt = MakeLit<Ch>("&lt;");
    static constexpr auto kGtEnt = MakeLit<Ch>("&gt;");
    static constexpr auto kAposEnt = MakeLit<Ch>("&apos;");
    static constexpr auto kQuotEnt = MakeLit<Ch>("&quot;");
};

template <class Ch, std::size_t N>
inline void Put(BasicString<Ch>& out, const Lit<Ch, N>& lit) {
    out.Append(lit.s, static_cast<int>(N) - 1);
}

// The classes and callbacks of each width.
struct WidthA {
    typedef char Ch;
    typedef MString Str;
    typedef CTagOptionA Option;
    typedef CXmlTagA Tag;
    typedef CAnalXmlA Doc;
    typedef CTokenDataStreamA Stream;
    static int OnBegin(Doc* d, Tag& t, int n) { return d->OnBeginXmlTagA(t, n, d->m_lParam); }
    static int OnEnd(Doc* d, Tag& t, int n) { return d->OnEndXmlTagA(t, n, d->m_lParam); }
};

struct WidthU {
    typedef unsigned short Ch;
    typedef UString Str;
    typedef CTagOptionU Option;
    typedef CXmlTagU Tag;
    typedef CAnalXmlU Doc;
    typedef CTokenDataStreamU Stream;
    static int OnBegin(Doc* d, Tag& t, int n) { return d->OnBeginXmlTagU(t, n, d->m_lParam); }
    static int OnEnd(Doc* d, Tag& t, int n) { return d->OnEndXmlTagU(t, n, d->m_lParam); }
};

}  // namespace

template <class W>
struct XmlOps {
    typedef typename W::Ch Ch;
    typedef typename W::Str Str;
    typedef typename W::Option Option;
    typedef typename W::Tag Tag;
    typedef typename W::Doc Doc;
    typedef typename W::Stream Stream;
    typedef XmlLits<Ch> L;

    // The deepest nesting the parser accepts.
    static const int kMaxDepth = 1000;

    // ---- Entities ----

    static void Encode(Str& text) {
        const Ch* p = text;
        int n = text.GetLength();
        int i = 0;
        while (i < n && p[i] != '&' && p[i] != '<' && p[i] != '>' && p[i] != '\'' && p[i] != '"') ++i;
        if (i == n) return;
        // One pass gives what replacing "&" first and then the others gives.
        Str out;
        out.SetMinBlockSize(n + n / 4 + 8);
        out.Append(p, i);
        for (; i < n; ++i) {
            switch (p[i]) {
            case '&': Put(out, L::kAmpEnt); break;
            case '<': Put(out, L::kLtEnt); break;
            case '>': Put(out, L::kGtEnt); break;
            case '\'': Put(out, L::kAposEnt); break;
            case '"': Put(out, L::kQuotEnt); break;
            default: out += p[i];
            }
        }
        text.Swap(out);
    }

    // The length of the entity after an "&" (its ";" included) with the
    // character it stands for; 0 when none starts there.
    static int EntityAt(const Ch* p, int n, Ch& c) {
        auto is = [p, n](const char* name, int len) {
            if (n < len) return false;
            for (int i = 0; i < len; ++i)
                if (p[i] != Ch(static_cast<unsigned char>(name[i]))) return false;
            return true;
        };
        struct Entity {
            const char* name;  // after the "&"
            int len;
            char c;
        };
        static const Entity kEntities[] = {{"lt;", 3, '<'}, {"gt;", 3, '>'}, {"amp;", 4, '&'}, {"apos;", 5, '\''}, {"quot;", 5, '"'}};
        for (const Entity& e : kEntities)
            if (is(e.name, e.len)) {
                c = Ch(e.c);
                return e.len;
            }
        return 0;
    }

    // The five entities back to their characters, in one pass. Entities do
    // not nest or overlap (each runs from "&" to ";" with neither inside),
    // so "&amp;lt;" gives "&lt;", as replacing each entity in turn would.
    static void Decode(Str& text) {
        int n = text.GetLength();
        const Ch* p = text;
        int i = 0;
        while (i < n && p[i] != '&') ++i;
        if (i == n) return;
        Ch* q = text.GetBuffer(n);
        if (!q) return;
        int o = i;
        while (i < n) {
            Ch c = q[i++];
            if (c == '&') i += EntityAt(q + i, n - i, c);
            q[o++] = c;
        }
        text.ReleaseBuffer(o);
    }

    // ---- Model ----

    static void InitTag(Tag& t) {
        if (!t.m_strName.IsEmpty()) t.m_strName.Empty();
        t.m_nTagType = XMLTAG_NONE;
        t.m_nLevel = 0;
        t.m_nParseResult = 0;
        t.m_dwParsePos = 0;
        t.m_bNoChild = 0;
        t.m_nUserFlag = 1;
        if (t.m_aryOption.m_pData) t.m_aryOption.RemoveAll();
        if (t.m_arySubTag.m_pData) t.m_arySubTag.RemoveAll();
    }

    // Freeing a large tree waits on memory: each node, its strings and its
    // lists lie in blocks of their own. A node asks for what its next
    // children own while it frees the current one, and for the child after
    // that, so that several of these loads are under way at once.
    static void Prefetch(const void* p) {
#if defined(__GNUC__) || defined(__clang__)
        __builtin_prefetch(p);
#else
        (void)p;
#endif
    }

    static void PrefetchMembers(const Tag& t) {
        Prefetch(reinterpret_cast<const char*>(t.m_strName.GetString()) - sizeof(StrHeader));
        if (const Option* o = t.m_aryOption.m_pData) {
            Prefetch(o);
            if (t.m_aryOption.m_nSize > 2) Prefetch(reinterpret_cast<const char*>(o) + 64);
        }
        if (t.m_arySubTag.m_pData) Prefetch(t.m_arySubTag.m_pData);
    }

    // Destroys the children of a node that is going away, leaving their
    // list empty for the list's own destructor.
    static void DestroyChildren(Tag& t) {
        Tag* p = t.m_arySubTag.m_pData;
        int n = t.m_arySubTag.m_nSize;
        for (int i = 0; i < n; ++i) {
            if (i + 2 < n) {
                Prefetch(p + i + 2);
                Prefetch(reinterpret_cast<const char*>(p + i + 2) + 64);
            }
            if (i + 1 < n) PrefetchMembers(p[i + 1]);
            p[i].Tag::~Tag();
        }
        t.m_arySubTag.m_nSize = 0;
    }

    // Destroys the attributes likewise, asking ahead for their values,
    // which (unlike most names) are seldom shared.
    static void DestroyOptions(Tag& t) {
        Option* o = t.m_aryOption.m_pData;
        int n = t.m_aryOption.m_nSize;
        for (int i = 0; i < n; ++i) {
            if (i + 1 < n) Prefetch(reinterpret_cast<const char*>(o[i + 1].m_strValue.GetString()) - sizeof(StrHeader));
            o[i].Option::~Option();
        }
        t.m_aryOption.m_nSize = 0;
    }

    // True when p is a node somewhere below root.
    static bool Contains(const Tag& root, const Tag* p) {
        const Tag* b = root.m_arySubTag.m_pData;
        int n = root.m_arySubTag.m_nSize;
        if (n == 0) return false;
        if (p >= b && p < b + n) return true;
        for (int i = 0; i < n; ++i)
            if (Contains(b[i], p)) return true;
        return false;
    }

    static void AssignInPlace(Tag& d, const Tag& s) {
        d.m_strName = s.m_strName;
        d.m_nTagType = s.m_nTagType;
        d.m_nLevel = s.m_nLevel;
        d.m_nUserFlag = s.m_nUserFlag;
        d.m_bNoChild = s.m_bNoChild;
        d.m_nParseResult = s.m_nParseResult;
        d.m_dwParsePos = s.m_dwParsePos;
        if (&d == &s) return;
        int n = s.m_aryOption.GetSize();
        d.m_aryOption.SetSize(n);
        for (int i = 0; i < n && i < d.m_aryOption.GetSize(); ++i) d.m_aryOption[i] = s.m_aryOption[i];
        n = s.m_arySubTag.GetSize();
        d.m_arySubTag.SetSize(n);
        for (int i = 0; i < n && i < d.m_arySubTag.GetSize(); ++i) AssignInPlace(d.m_arySubTag[i], s.m_arySubTag[i]);
    }

    static void Assign(Tag& d, const Tag& s) {
        PrjWarningMsg(&d != &s);
        // A source inside the destination's subtree, or one that contains
        // the destination, would change under the copy: copy it aside first.
        if (&d != &s && (Contains(d, &s) || Contains(s, &d))) {
            Tag copy(s);
            AssignInPlace(d, copy);
            return;
        }
        AssignInPlace(d, s);
    }

    static void Move(Tag& d, Tag& s) {
        if (&d == &s) return;
        d.m_nParseResult = s.m_nParseResult;
        d.m_dwParsePos = s.m_dwParsePos;
        d.m_nLevel = s.m_nLevel;
        d.m_strName.Swap(s.m_strName);
        d.m_nTagType = s.m_nTagType;
        d.m_nUserFlag = s.m_nUserFlag;
        d.m_bNoChild = s.m_bNoChild;
        d.m_aryOption.Swap(s.m_aryOption);
        d.m_arySubTag.Swap(s.m_arySubTag);
    }

    // A node that is the receiver itself or one of its ancestors is copied
    // before the receiver's children change.
    static bool NeedsCopy(const Tag& receiver, const Tag& tag) {
        return &tag == &receiver || Contains(tag, &receiver);
    }

    static int AddXmlTag(Tag& t, const Tag& tag) {
        if (tag.m_bNoChild) return 0;
        if (NeedsCopy(t, tag)) {
            Tag copy(tag);
            return AddXmlTag(t, copy);
        }
        return t.m_arySubTag.Add(tag);
    }

    static int InsertXmlTag(Tag& t, int nIndex, const Tag& tag) {
        if (tag.m_bNoChild) return 0;
        if (nIndex >= t.m_arySubTag.GetSize()) return AddXmlTag(t, tag);
        if (NeedsCopy(t, tag)) {
            Tag copy(tag);
            return InsertXmlTag(t, nIndex, copy);
        }
        t.m_arySubTag.InsertAt(nIndex < 0 ? 0 : nIndex, tag);
        return 1;
    }

    static int UpdateXmlTag(Tag& t, int nIndex, const Tag& tag) {
        if (tag.m_bNoChild) return 0;
        if (nIndex < 0) return InsertXmlTag(t, 0, tag);
        if (nIndex >= t.m_arySubTag.GetSize()) return AddXmlTag(t, tag);
        t.m_arySubTag[nIndex] = tag;
        return 1;
    }

    static int DeleteXmlTag(Tag& t, int nIndex) {
        if (nIndex < 0 || nIndex >= t.m_arySubTag.GetSize()) return 0;
        t.m_arySubTag.RemoveAt(nIndex);
        return 1;
    }

    static int GetXmlTag(const Tag& t, int nIndex, Tag& tag) {
        if (nIndex < 0 || nIndex >= t.m_arySubTag.GetSize()) return 0;
        tag = t.m_arySubTag[nIndex];
        return 1;
    }

    static int FindXmlTag(const Tag& t, const Ch* name, int& nStart) {
        int n = t.m_arySubTag.GetSize();
        if (nStart < 0 || nStart >= n) {
            nStart = n;
            return -1;
        }
        for (int i = nStart; i < n; ++i) {
            const Tag& c = t.m_arySubTag[i];
            if (c.m_nTagType == XMLTAG_ELEMENT && c.m_strName.CompareNoCase(name) == 0) {
                nStart = i;
                return i;
            }
        }
        nStart = n;
        return -1;
    }

    static int ReadXmlTag(const Tag& t, const Ch* name, Tag& tag, int& nStart) {
        int i = FindXmlTag(t, name, nStart);
        if (i < 0) {
            tag.Init();
            return 0;
        }
        tag = t.m_arySubTag[i];
        return 1;
    }

    static int FindOption(const Tag& t, const Ch* name) {
        for (int i = 0, n = t.m_aryOption.GetSize(); i < n; ++i)
            if (t.m_aryOption[i].m_strName.CompareNoCase(name) == 0) return i;
        return -1;
    }

    static int ReadOption(const Tag& t, const Ch* name, Str& value) {
        int i = FindOption(t, name);
        if (i < 0) {
            value.Empty();
            return 0;
        }
        value = t.m_aryOption[i].m_strValue;
        return 1;
    }

    static int UpdateOption(Tag& t, const Ch* name, const Ch* value) {
        int i = FindOption(t, name);
        if (i >= 0) {
            t.m_aryOption[i].m_strValue = value;
            return i;
        }
        Option o;
        o.m_strName = name;
        o.m_strValue = value;
        return t.m_aryOption.Add(static_cast<Option&&>(o));
    }

    static int DeleteOption(Tag& t, const Ch* name) {
        int i = FindOption(t, name);
        if (i < 0) return 0;
        t.m_aryOption.RemoveAt(i);
        return 1;
    }

    static int CountTags(const Tag& t, const Ch* name) {
        int count = 0;
        for (int start = 0; FindXmlTag(t, name, start) >= 0; ++start) ++count;
        return count;
    }

    // ---- Parser ----

    // The delimiter sets of the parser, each built once.
    static const Delims<Ch>& NodeSet() {
        static const Delims<Ch> d(L::kNodeSet);
        return d;
    }
    static const Delims<Ch>& AttrSet() {
        static const Delims<Ch> d(L::kAttrSet);
        return d;
    }
    static const Delims<Ch>& BracketSet() {
        static const Delims<Ch> d(L::kBracket);
        return d;
    }

    typedef detail::Span<Ch> Span;
    typedef StreamReader<Ch> SReader;

    // The working state of one parse. The text buffer keeps its capacity
    // from node to node, so building a text rarely allocates. The cache of
    // short texts lets the many nodes and attributes that share a name or a
    // value share one buffer (strings copy on write, so nobody can tell).
    // When bCollect is set, finished children and attributes wait in the
    // pending arrays and go to their node in one block when it completes;
    // only a parse nobody watches may do that, since a callback would see a
    // node without its children.
    struct Scratch {
        static const int kSlots = 256;
        static const int kMaxShared = 32;
        explicit Scratch(bool bCollectChildren = false)
            : bCollect(bCollectChildren), node(NodeSet()), attr(AttrSet()), bracket(BracketSet()) {}
        bool bCollect;
        const Delims<Ch>& node;
        const Delims<Ch>& attr;
        const Delims<Ch>& bracket;
        Str text;
        Str shared[kSlots];
        CObjArray<Tag, const Tag&> pending;
        CObjArray<Option, const Option&> options;

        void Share(Str& dest, const Ch* p, int n) {
            if (n <= 0) {
                dest.Empty();
                return;
            }
            if (n > kMaxShared) {
                dest.SetString(p, n);
                return;
            }
            unsigned h = static_cast<unsigned>(n);
            for (int i = 0; i < n; ++i) h = h * 31u + static_cast<unsigned>(p[i]);
            Str& slot = shared[(h ^ (h >> 8)) & (kSlots - 1)];
            if (slot.GetLength() == n && SameUnits(slot, p, n)) {
                dest = slot;
                return;
            }
            slot.Empty();
            dest.SetString(p, n);
            slot = dest;
        }

        void SetName(Str& dest, const Span& src) { Share(dest, src.p, src.n); }

        // An attribute value: decoded, and shared when short.
        void SetValue(Str& dest, const Ch* p, int n) {
            for (int i = 0; i < n; ++i)
                if (p[i] == '&') {
                    dest.SetString(p, n);
                    Decode(dest);
                    return;
                }
            Share(dest, p, n);
        }

        static bool SameUnits(const Ch* a, const Ch* b, int n) {
            for (int i = 0; i < n; ++i)
                if (a[i] != b[i]) return false;
            return true;
        }
    };

    // The children a node collects in the scratch while it is parsed; they
    // are dropped if the node fails.
    class PendingChildren {
    public:
        explicit PendingChildren(Scratch& x) : m_x(x), m_nBase(x.pending.GetSize()) {}
        ~PendingChildren() {
            int n = m_x.pending.GetSize() - m_nBase;
            if (n > 0) m_x.pending.RemoveAt(m_nBase, n);
        }
        void MoveTo(Tag& t) {
            if (m_x.pending.GetSize() > m_nBase) MoveTail(m_x.pending, m_nBase, t.m_arySubTag);
        }

    private:
        Scratch& m_x;
        int m_nBase;
    };

    // Appends by handing the strings over, leaving o empty. The scratch
    // list only ever grows by appending.
    static void AppendOption(CObjArray<Option, const Option&>& a, Option& o, const Scratch& x) {
        Option* slot;
        if (&a == &x.options) {
            slot = AppendGrownByAppends(a);
        } else {
            int n = a.GetSize();
            a.SetSize(n + 1);
            slot = a.GetSize() == n + 1 ? &a[n] : nullptr;
        }
        if (!slot) return;
        slot->m_strName.Swap(o.m_strName);
        slot->m_strValue.Swap(o.m_strValue);
    }

    static int ParseOption(Option& o, Stream* s) {
        Scratch x;
        SReader r(s);
        return ParseOption(o, r, x);
    }

    template <class R>
    static int ParseOption(Option& o, R& s, Scratch& x, int* pEnd = nullptr) {
        o.Init();
        bool bEquals = false;
        Span t;
        int d;
        for (;;) {
            if (!s.GetToken(t, x.attr, d)) return 0;
            switch (d) {
            case 0:  // "<"
            case 6:  // blank (only separates; never delivered)
                return 0;
            case 1:  // "?"
            case 2:  // "/"
            case 3:  // ">": left for the node parser
                if (pEnd) {
                    // Handed over as the node parser's own read of it would
                    // give it: the position and the saved positions are the
                    // same either way.
                    *pEnd = d == 1 ? 1 : (d == 2 ? 3 : 4);
                    return 1;
                }
                s.GetTokenBack(1);
                return 1;
            case 4:  // "="
                if (o.m_strName.IsEmpty()) return 0;
                bEquals = true;
                continue;
            case 5: {  // a double-quoted value
                if (!bEquals) return 0;
                Span v;
                if (!s.ToQuote(v)) return 0;
                x.SetValue(o.m_strValue, v.p, v.n - 1);
                return 1;
            }
            default:  // a word
                if (bEquals) {
                    x.SetValue(o.m_strValue, t.p, t.n);
                    return 1;
                }
                if (!o.m_strName.IsEmpty()) {
                    s.GetTokenBack(1);  // the word begins the next attribute
                    return 1;
                }
                x.SetName(o.m_strName, t);
                continue;
            }
        }
    }

    // Keeps a finished child unless it refuses (m_bNoChild). The child is
    // moved in: nothing can tell that from the copy the parent would keep.
    static void Adopt(Tag& parent, Tag& child, Scratch& x) {
        if (child.m_bNoChild) return;
        // The child's bytes move into the array; the working node keeps its
        // own fields as a copy would have left them (the text node of a call
        // serves all its text children), only its strings and arrays go.
        int nResult = child.m_nParseResult;
        unsigned long dwPos = child.m_dwParsePos;
        int nLevel = child.m_nLevel, nType = child.m_nTagType, nFlag = child.m_nUserFlag;
        // The scratch list only ever grows by appending.
        if (x.bCollect) RelocateAppend(x.pending, child, true);
        else RelocateAppend(parent.m_arySubTag, child);
        child.m_nParseResult = nResult;
        child.m_dwParsePos = dwPos;
        child.m_nLevel = nLevel;
        child.m_nTagType = nType;
        child.m_nUserFlag = nFlag;  // m_bNoChild is 0, as it was
    }

    // True when the current line holds, after blanks and tabs, a character
    // other than c: the next token then starts there and is not c.
    template <class R>
    static bool NextOnLineIsNot(R& s, Ch c) {
        const Ch* line = s.Line();
        unsigned long n = static_cast<unsigned long>(s.LineLength());
        unsigned long i = s.Column();
        while (i < n && (line[i] == ' ' || line[i] == '\t')) ++i;
        return i < n && line[i] != c && line[i] != 0;
    }

    template <class R>
    static int Fail(Tag& t, R& s, int nCode) {
        t.m_nParseResult = nCode;
        t.m_dwParsePos = s.GetTokenPos();
        return 0;
    }

    // Parses a child node from where the stream stands; 0 on failure with
    // its code passed up.
    // With pName, the "<" and the name of a child element have been read:
    // the child goes on from there, which leaves the position and the saved
    // positions as taking the two reads back and reading them again would.
    template <class R>
    static int ParseChild(Tag& t, Doc* doc, R& s, int nLevel, Scratch& x, const Span* pName = nullptr) {
        // Each level of nesting takes a frame of the parser's recursion: a
        // bound keeps hostile input from exhausting the thread's stack.
        if (nLevel + 1 > kMaxDepth) {
            if (pName) s.GetTokenBack(2);  // reported from before the "<"
            return Fail(t, s, XMLRES_SYNTAX);
        }
        Tag child;
        if (!ParseNode(child, doc, s, nLevel + 1, x, pName)) return Fail(t, s, child.m_nParseResult);
        Adopt(t, child, x);
        return 1;
    }

    // After a start tag's name: the attributes and what closes the tag.
    // -1: the content follows; 1: the node is complete; 0: failed.
    template <class R>
    static int ParseTagRest(Tag& t, Doc* doc, R& s, int nLevel, Scratch& x) {
        Option o;
        CObjArray<Option, const Option&>& options = x.bCollect ? x.options : t.m_aryOption;
        int nEnd = -2;  // the closing character, once an attribute read took it
        for (;;) {
            if (ParseOption(o, s, x, &nEnd) != 1 || o.m_strName.IsEmpty()) break;
            AppendOption(options, o, x);
            if (nEnd != -2) break;
        }
        if (x.bCollect) MoveTail(x.options, 0, t.m_aryOption);
        Span tok;
        int d = nEnd;
        if (nEnd == -2 && !s.GetToken(tok, x.node, d)) return Fail(t, s, XMLRES_UNEXPECTED_END);
        if (d == 4) {  // ">"
            t.m_nTagType = XMLTAG_ELEMENT;
            if (t.m_strName.IsEmpty()) return Fail(t, s, XMLRES_SYNTAX);
            if (doc && W::OnBegin(doc, t, nLevel)) return Fail(t, s, XMLRES_BEGIN_ABORT);
            return -1;
        }
        if (d == 3 || (d == 1 && t.m_nTagType == XMLTAG_PI)) {  // "/>" or "?>"
            bool bEmpty = d == 3;
            if (!s.GetToken(tok, x.node, d)) return Fail(t, s, XMLRES_UNEXPECTED_END);
            if (d != 4) return Fail(t, s, XMLRES_NO_CLOSE);
            if (bEmpty) {
                t.m_nTagType = XMLTAG_ELEMENT;
                if (doc && W::OnBegin(doc, t, nLevel)) return Fail(t, s, XMLRES_BEGIN_ABORT);
            }
            if (doc && W::OnEnd(doc, t, nLevel)) return Fail(t, s, XMLRES_END_ABORT);
            return 1;
        }
        return Fail(t, s, XMLRES_SYNTAX);
    }

    // After "<" "!" when the node is still unnamed: a comment or a
    // declaration, which this node becomes.
    template <class R>
    static int ParseCommentOrDeclaration(Tag& t, Doc* doc, R& s, int nLevel, Scratch& x) {
        Span tok;
        Span run;
        int d;
        s.GetToken(tok, x.node, d);
        const Ch* p = tok.p;
        if (tok.n >= 2 && p[0] == '-' && p[1] == '-') {
            // The text starts right after the two dashes, inside the token.
            s.SetColumn(s.Column() - static_cast<unsigned long>(tok.n - 2));
            if (!s.ToDelimStr(L::kCommentEnd, L::kCommentEnd.Length(), run, 1)) return Fail(t, s, XMLRES_BAD_COMMENT);
            t.m_strName.SetString(run.p, run.n - L::kCommentEnd.Length());
            t.m_nTagType = XMLTAG_COMMENT;
            if (doc && W::OnEnd(doc, t, nLevel)) return Fail(t, s, XMLRES_END_ABORT);
            return 1;
        }
        x.text.SetString(tok.p, tok.n);  // before the read leaves its line
        if (!s.ToDelimStr(L::kGt, 1, run, 1)) return Fail(t, s, XMLRES_NO_CLOSE);
        t.m_nTagType = XMLTAG_DECLARE;
        x.text.Append(run.p, run.n - 1);
        t.m_strName.SetString(x.text, x.text.GetLength());
        if (doc && W::OnEnd(doc, t, nLevel + 1)) return Fail(t, s, XMLRES_END_ABORT);
        return 1;
    }

    static int ParseNode(Tag& t, Doc* doc, Stream* s, int nLevel) {
        Scratch x;
        SReader r(s);
        return ParseNode(t, doc, r, nLevel, x);
    }

    template <class R>
    static int ParseNode(Tag& t, Doc* doc, R& s, int nLevel, Scratch& x, const Span* pName = nullptr) {
        PendingChildren children(x);
        int r = ParseNodeBody(t, doc, s, nLevel, x, pName);
        if (r) children.MoveTo(t);
        return r;
    }

    template <class R>
    static int ParseNodeBody(Tag& t, Doc* doc, R& s, int nLevel, Scratch& x, const Span* pName) {
        t.Init();
        t.m_nLevel = nLevel;
        Tag text;  // serves every text and CDATA child of this call
        Span tok;
        Span run;
        int d;
        bool bFirst = true;
        if (pName) {
            // An element whose "<" and name were read by the parent.
            bFirst = false;
            x.SetName(t.m_strName, *pName);
            t.m_nTagType = XMLTAG_ELEMENT;
            int r = ParseTagRest(t, doc, s, nLevel, x);
            if (r >= 0) return r;
        }
        for (;;) {
            if (!s.GetToken(tok, x.node, d))
                return Fail(t, s, bFirst ? XMLRES_END_OF_DATA : XMLRES_UNEXPECTED_END);
            bFirst = false;
            if (d == 4) return Fail(t, s, XMLRES_BAD_TEXT);
            if (d != 0) {
                // Character data, up to the next "<".
                if (t.m_strName.IsEmpty()) return Fail(t, s, XMLRES_TEXT_OUTSIDE);
                // A reader's line may go with the next read, its text may not.
                if (!R::kStableText) x.text.SetString(tok.p, tok.n);
                const Ch* p = tok.p;
                int n = tok.n;
                if (!s.ToDelimStr(L::kLt, 1, run, 0)) return Fail(t, s, XMLRES_BAD_TEXT);
                if (run.p == p + n) {
                    // The rest follows the first token in the same text.
                    text.m_strName.SetString(p, n + run.n);
                } else {
                    if (R::kStableText) x.text.SetString(p, n);
                    x.text.Append(run.p, run.n);
                    text.m_strName.SetString(x.text, x.text.GetLength());
                }
                Decode(text.m_strName);
                text.m_nTagType = XMLTAG_TEXT;
                if (doc && W::OnEnd(doc, text, nLevel + 1)) return Fail(t, s, XMLRES_END_ABORT);
                Adopt(t, text, x);
                continue;
            }
            if (!s.GetToken(tok, x.node, d)) return Fail(t, s, XMLRES_UNEXPECTED_END);
            int r;
            switch (d) {
            case -1:  // an element name
                if (t.m_strName.IsEmpty()) {
                    x.SetName(t.m_strName, tok);
                    t.m_nTagType = XMLTAG_ELEMENT;
                    r = ParseTagRest(t, doc, s, nLevel, x);
                    if (r >= 0) return r;
                    continue;
                }
                if (!ParseChild(t, doc, s, nLevel, x, &tok)) return 0;
                continue;
            case 1:  // "?": a processing instruction
                if (!s.GetToken(tok, x.node, d)) return Fail(t, s, XMLRES_UNEXPECTED_END);
                if (!tok.IsNoCase(L::kXml)) return Fail(t, s, XMLRES_BAD_PI);
                t.m_nTagType = XMLTAG_PI;
                x.SetName(t.m_strName, tok);
                r = ParseTagRest(t, doc, s, nLevel, x);
                if (r >= 0) return r;
                continue;
            case 2: {  // "!"
                // Reading a token up to "[" would copy the rest of a long line
                // for every comment: when the current line shows that no "["
                // follows, that read and its taking back change nothing.
                int nReads = 0;
                if (!NextOnLineIsNot(s, Ch('['))) {
                    nReads = 1;
                    if (!s.GetToken(tok, x.bracket, d)) return Fail(t, s, XMLRES_UNEXPECTED_END);
                }
                if (nReads == 1 && d == 0) {
                    nReads = 2;
                    if (!s.GetToken(tok, x.bracket, d)) return Fail(t, s, XMLRES_BAD_CDATA);
                    if (tok.IsNoCase(L::kCData)) {
                        nReads = 3;
                        if (!s.GetToken(tok, x.bracket, d)) return Fail(t, s, XMLRES_UNEXPECTED_END);
                        if (d == 0) {
                            text.Init();
                            if (!s.ToDelimStr(L::kCDataEnd, L::kCDataEnd.Length(), run, 1)) return Fail(t, s, XMLRES_BAD_CDATA);
                            text.m_nTagType = XMLTAG_CDATA;
                            text.m_strName.SetString(run.p, run.n - L::kCDataEnd.Length());
                            if (doc && W::OnEnd(doc, text, nLevel + 1)) return Fail(t, s, XMLRES_END_ABORT);
                            Adopt(t, text, x);
                            continue;
                        }
                    }
                }
                if (nReads > 0) s.GetTokenBack(nReads);
                if (!t.m_strName.IsEmpty()) {
                    s.GetTokenBack(2);  // back before the "<"
                    if (!ParseChild(t, doc, s, nLevel, x)) return 0;
                    continue;
                }
                return ParseCommentOrDeclaration(t, doc, s, nLevel, x);
            }
            case 3:  // "/": an end tag
                if (!s.GetToken(tok, x.node, d) || d != -1) return Fail(t, s, XMLRES_BAD_END_TAG);
                if (!tok.IsNoCase(t.m_strName)) return Fail(t, s, XMLRES_TAG_MISMATCH);
                if (!s.GetToken(tok, x.node, d) || d != 4) return Fail(t, s, XMLRES_NO_CLOSE);
                if (doc && W::OnEnd(doc, t, nLevel)) return Fail(t, s, XMLRES_END_ABORT);
                return 1;
            case 0:  // "<" "<"
                return Fail(t, s, XMLRES_UNEXPECTED_END);
            default:  // ">", "=" or "&"
                return Fail(t, s, XMLRES_SYNTAX);
            }
        }
    }

    template <class R>
    static int ParseAll(Doc& doc, Doc* pCallbacks, R& reader, int bStoreTag) {
        Tag work;
        Scratch x(pCallbacks == nullptr);
        while (ParseNode(work, pCallbacks, reader, 0, x)) {
            if (bStoreTag) doc.m_aryTag.Add(static_cast<Tag&&>(work));
        }
        doc.m_nParseResult = work.m_nParseResult;
        doc.m_dwParsePos = work.m_dwParsePos;
        return doc.m_nParseResult == XMLRES_END_OF_DATA ? 1 : 0;
    }

    template <class Source>
    static int ParsePrivately(Doc& doc, const Source& src, unsigned long dwStart, bool bKeepFirst, int bStoreTag) {
        DocReader<Source> reader(src, dwStart, bKeepFirst);
        return ParseAll(doc, nullptr, reader, bStoreTag);
    }

    static int ParseDocument(Doc& doc, Stream* s, int bStoreTag) {
        if (!s) return 0;
        doc.m_pStream = s;
        int r;
        if (typeid(doc) == typeid(Doc)) {
            // The plain document class has no callbacks, so nothing can look
            // at the stream while it parses: the parser reads on its own.
            unsigned long dwStart = s->m_curPos.m_dwNextLinePos;
            if (s->m_bMemory) {
                if (!s->m_pszText || InOrder(*s)) {
                    r = ParsePrivately(doc, InPlaceLines<Ch>(s->m_pszText), dwStart, false, bStoreTag);
                } else {
                    r = ParsePrivately(doc, MemorySource(*s), dwStart, false, bStoreTag);
                }
            } else {
                bool bKeepFirst = API_SeekFile(s->m_hFile, 0, 1) != static_cast<long>(dwStart);
                r = ParsePrivately(doc, BufferedLines<Ch>(s->m_hFile, Coding(*s)), dwStart, bKeepFirst, bStoreTag);
            }
        } else {
            SReader reader(s);
            r = ParseAll(doc, &doc, reader, bStoreTag);
        }
        delete doc.m_pStream;
        doc.m_pStream = nullptr;
        return r;
    }
    static bool InOrder(const CTokenDataStreamA&) { return true; }
    static bool InOrder(const CTokenDataStreamU& s) { return InPlatformOrder(s.m_nEndian); }
    static BufferedLines<char> MemorySource(const CTokenDataStreamA& s) {
        return BufferedLines<char>(s.m_pszText, BufferedLines<char>::kBytes);
    }
    static BufferedLines<unsigned short> MemorySource(const CTokenDataStreamU& s) {
        return BufferedLines<unsigned short>(s.m_pszText, MemoryCoding(s.m_nEndian));
    }
    static BufferedLines<char>::Coding Coding(const CTokenDataStreamA&) { return BufferedLines<char>::kBytes; }
    static BufferedLines<unsigned short>::Coding Coding(const CTokenDataStreamU& s) { return FileCoding(s.m_nEndian); }

    // ---- Writer ----

    static void PutIndent(Str& out, int nLevel) {
        for (int i = 0; i < nLevel; ++i) out += Ch('\t');
    }

    static int OptionToString(const Option& o, Str& out) {
        out.Empty();
        if (o.m_strName.IsEmpty()) return 0;
        AppendOption(out, o);
        return 1;
    }

    static void AppendOption(Str& out, const Option& o) {
        if (o.m_strName.IsEmpty()) return;
        out += o.m_strName;
        Put(out, L::kAttrOpen);
        if (!o.m_strValue.IsEmpty()) {
            Str value(o.m_strValue);
            Encode(value);
            out += value;
        }
        out += Ch('"');
    }

    static void AppendOptions(Str& out, const Tag& t) {
        int n = t.m_aryOption.GetSize();
        if (n == 0) return;
        if (n <= 2) {
            for (int i = 0; i < n; ++i) {
                out += Ch(' ');
                AppendOption(out, t.m_aryOption[i]);
            }
            return;
        }
        Put(out, L::kCrLf);
        for (int i = 0; i < n; ++i) {
            PutIndent(out, t.m_nLevel);
            AppendOption(out, t.m_aryOption[i]);
            Put(out, L::kCrLf);
        }
    }

    static bool IsInline(int nType) { return nType == XMLTAG_TEXT || nType == XMLTAG_CDATA; }

    // An element's start tag up to what ends it ("/>\r\n", ">" or ">\r\n").
    static void AppendStart(Str& out, const Tag& t) {
        PutIndent(out, t.m_nLevel);
        out += Ch('<');
        out += t.m_strName;
        AppendOptions(out, t);
        if (t.m_aryOption.GetSize() >= 3) PutIndent(out, t.m_nLevel);
        int n = t.m_arySubTag.GetSize();
        if (n == 0) Put(out, L::kEmptyClose);
        else if (IsInline(t.m_arySubTag[0].m_nTagType)) out += Ch('>');
        else {
            out += Ch('>');
            Put(out, L::kCrLf);
        }
    }

    static void AppendEnd(Str& out, const Tag& t) {
        if (!IsInline(t.m_arySubTag[t.m_arySubTag.GetSize() - 1].m_nTagType)) PutIndent(out, t.m_nLevel);
        Put(out, L::kEndOpen);
        out += t.m_strName;
        out += Ch('>');
        Put(out, L::kCrLf);
    }

    // Appends the node's text. Writing a node cannot fail: only an element
    // could, through a child, and no kind of node fails by itself.
    static void AppendNode(Str& out, const Tag& t, int nDepth) {
        if (nDepth < 0) return;
        switch (t.m_nTagType) {
        case XMLTAG_PI:
            PutIndent(out, t.m_nLevel);
            Put(out, L::kPiOpen);
            out += t.m_strName;
            AppendOptions(out, t);
            Put(out, L::kPiClose);
            return;
        case XMLTAG_COMMENT:
            PutIndent(out, t.m_nLevel);
            Put(out, L::kCommentOpen);
            out += t.m_strName;
            Put(out, L::kCommentClose);
            return;
        case XMLTAG_TEXT: {
            Str text(t.m_strName);
            Encode(text);
            out += text;
            return;
        }
        case XMLTAG_CDATA:
            Put(out, L::kCDataOpen);
            out += t.m_strName;
            Put(out, L::kCDataClose);
            return;
        case XMLTAG_DECLARE:
            Put(out, L::kDeclOpen);
            out += t.m_strName;
            Put(out, L::kDeclClose);
            return;
        case XMLTAG_ELEMENT: {
            AppendStart(out, t);
            int n = t.m_arySubTag.GetSize();
            if (n == 0) return;
            if (nDepth > 0)
                for (int i = 0; i < n; ++i) AppendNode(out, t.m_arySubTag[i], nDepth - 1);
            AppendEnd(out, t);
            return;
        }
        default:
            return;
        }
    }

    static int TagToString(const Tag& t, Str& out, int nDepth) {
        out.Empty();
        if (nDepth < 0) return 1;
        out.SetMinBlockSize(1000);
        AppendNode(out, t, nDepth);
        return 1;
    }

    static void Write(void* hFile, const Str& text) {
        if (text.IsEmpty()) return;
        WriteUnits(hFile, static_cast<const Ch*>(text), text.GetLength());
    }

    static void WriteUnits(void* hFile, const char* p, int n) { API_WriteFile(hFile, p, static_cast<DWORD>(n)); }

    // 16-bit text goes to files as UTF-16 little-endian code units.
    static void WriteUnits(void* hFile, const unsigned short* p, int n) {
        if (API_IsLittleEndian()) {
            API_WriteFile(hFile, p, static_cast<DWORD>(n) * 2);
            return;
        }
        unsigned char buf[4096];
        while (n > 0) {
            int k = n < 2048 ? n : 2048;
            for (int i = 0; i < k; ++i) {
                buf[2 * i] = static_cast<unsigned char>(p[i] & 0xFF);
                buf[2 * i + 1] = static_cast<unsigned char>(p[i] >> 8);
            }
            API_WriteFile(hFile, buf, static_cast<DWORD>(k) * 2);
            p += k;
            n -= k;
        }
    }

    static int TagToFile(const Tag& t, void* hFile, int nDepth) {
        if (nDepth < 0) return 1;
        Str piece;
        piece.SetMinBlockSize(1000);
        if (t.m_nTagType != XMLTAG_ELEMENT) {
            AppendNode(piece, t, nDepth);
            Write(hFile, piece);
            return 1;
        }
        // The start tag, each child's whole text, then the end tag.
        AppendStart(piece, t);
        Write(hFile, piece);
        int n = t.m_arySubTag.GetSize();
        if (n == 0) return 1;
        if (nDepth > 0) {
            for (int i = 0; i < n; ++i) {
                piece.Empty();
                AppendNode(piece, t.m_arySubTag[i], nDepth - 1);
                Write(hFile, piece);
            }
        }
        piece.Empty();
        AppendEnd(piece, t);
        Write(hFile, piece);
        return 1;
    }

    static int DocToString(const Doc& doc, Str& out, int nDepth) {
        out.Empty();
        if (nDepth < 0) return 1;
        out.SetMinBlockSize(1000);
        for (int i = 0, n = doc.m_aryTag.GetSize(); i < n; ++i) AppendNode(out, doc.m_aryTag[i], nDepth);
        return 1;
    }

    static int DocToFile(const Doc& doc, void* hFile, int nDepth) {
        if (nDepth < 0) return 1;
        if (sizeof(Ch) == 2) {
            static const unsigned char kMark[2] = {0xFF, 0xFE};
            API_WriteFile(hFile, kMark, 2);
        }
        for (int i = 0, n = doc.m_aryTag.GetSize(); i < n; ++i)
            if (!TagToFile(doc.m_aryTag[i], hFile, nDepth)) return 0;
        return 1;
    }

    static void CopyDoc(Doc& d, const Doc& s) {
        if (&d == &s) return;
        d.m_aryTag.Copy(s.m_aryTag);
        d.m_nParseResult = s.m_nParseResult;
        d.m_dwParsePos = s.m_dwParsePos;
        d.m_lParam = s.m_lParam;
    }

    static void InitDoc(Doc& d) {
        d.m_pStream = nullptr;
        d.m_aryTag.RemoveAll();
        d.m_nParseResult = 0;
        d.m_dwParsePos = 0;
        d.m_lParam = 0;
    }
};

typedef XmlOps<WidthA> OpsA;
typedef XmlOps<WidthU> OpsU;

}  // namespace detail
}  // namespace vorlix

using vorlix::detail::OpsA;
using vorlix::detail::OpsU;

// ---- The member functions of both widths forward to XmlOps ----

#define VORLIX_XML_MEMBERS(Option, Tag, Doc, Stream, Ops, Ch, Str, OnBegin, OnEnd)                                \
    Option::~Option() {}                                                                                     \
    void Option::Init() {                                                                                    \
        m_strName.Empty();                                                                                   \
        m_strValue.Empty();                                                                                  \
    }                                                                                                        \
    const Option& Option::operator=(const Option& src) {                                                     \
        m_strName = src.m_strName;                                                                           \
        m_strValue = src.m_strValue;                                                                         \
        return *this;                                                                                        \
    }                                                                                                        \
    int Option::ToString(Str& strOut) const { return Ops::OptionToString(*this, strOut); }                   \
                                                                                                             \
    Tag::Tag()                                                                                               \
        : m_nParseResult(0), m_dwParsePos(0), m_nLevel(0), m_nTagType(XMLTAG_NONE), m_nUserFlag(1),         \
          m_bNoChild(0) {}                                                                                   \
    Tag::Tag(const Tag& src) : CObjCore(src) { Ops::AssignInPlace(*this, src); }                             \
    Tag::~Tag() {                                                                                            \
        Ops::DestroyChildren(*this);                                                                         \
        Ops::DestroyOptions(*this);                                                                          \
    }                                                                                                        \
    void Tag::Init() { Ops::InitTag(*this); }                                                                \
    Tag& Tag::operator=(const Tag& src) {                                                                    \
        Ops::Assign(*this, src);                                                                             \
        return *this;                                                                                        \
    }                                                                                                        \
    Tag& Tag::operator=(Tag&& src) noexcept {                                                                \
        Ops::Move(*this, src);                                                                               \
        return *this;                                                                                        \
    }                                                                                                        \
    int Tag::AddXmlTag(const Tag& tag) { return Ops::AddXmlTag(*this, tag); }                                \
    int Tag::InsertXmlTag(int nIndex, const Tag& tag) { return Ops::InsertXmlTag(*this, nIndex, tag); }      \
    int Tag::UpdateXmlTag(int nIndex, const Tag& tag) { return Ops::UpdateXmlTag(*this, nIndex, tag); }      \
    int Tag::DeleteXmlTag(int nIndex) { return Ops::DeleteXmlTag(*this, nIndex); }                           \
    int Tag::GetXmlTag(int nIndex, Tag& tag) const { return Ops::GetXmlTag(*this, nIndex, tag); }            \
    int Tag::FindXmlTag(const Ch* pszName, int& nStart) const { return Ops::FindXmlTag(*this, pszName, nStart); } \
    int Tag::ReadXmlTag(const Ch* pszName, Tag& tag, int& nStart) const {                                    \
        return Ops::ReadXmlTag(*this, pszName, tag, nStart);                                                 \
    }                                                                                                        \
    int Tag::FindOption(const Ch* pszName) const { return Ops::FindOption(*this, pszName); }                 \
    int Tag::ReadOption(const Ch* pszName, Str& strValue) const { return Ops::ReadOption(*this, pszName, strValue); } \
    int Tag::UpdateOption(const Ch* pszName, const Ch* pszValue) { return Ops::UpdateOption(*this, pszName, pszValue); } \
    int Tag::DeleteOption(const Ch* pszName) { return Ops::DeleteOption(*this, pszName); }                   \
    int Tag::ToString(Str& strOut, int nDepth) const { return Ops::TagToString(*this, strOut, nDepth); }     \
    int Tag::ToString(void* hFile, int nDepth) const { return Ops::TagToFile(*this, hFile, nDepth); }        \
                                                                                                             \
    Doc::Doc() : m_pStream(nullptr), m_nParseResult(0), m_dwParsePos(0), m_lParam(0) { Init(); }             \
    Doc::Doc(const Doc& src) : m_pStream(nullptr), m_nParseResult(0), m_dwParsePos(0), m_lParam(0) {         \
        Ops::CopyDoc(*this, src);                                                                            \
    }                                                                                                        \
    Doc& Doc::operator=(const Doc& src) {                                                                    \
        Ops::CopyDoc(*this, src);                                                                            \
        return *this;                                                                                        \
    }                                                                                                        \
    Doc::~Doc() { delete m_pStream; }                                                                        \
    int Doc::OnBegin(Tag&, int, long) { return 0; }                                                          \
    int Doc::OnEnd(Tag&, int, long) { return 0; }                                                            \
    void Doc::Init() { Ops::InitDoc(*this); }                                                                \
    int Doc::GetTagCount(const Tag& tag, const Ch* pszName) { return Ops::CountTags(tag, pszName); }         \
    int Doc::ToString(Str& strOut, int nDepth) const { return Ops::DocToString(*this, strOut, nDepth); }     \
    int Doc::ToString(void* hFile, int nDepth) const { return Ops::DocToFile(*this, hFile, nDepth); }        \
    void Doc::EncodeXmlText(Str& strText) { Ops::Encode(strText); }                                          \
    void Doc::DecodeXmlText(Str& strText) { Ops::Decode(strText); }                                          \
    int Option::FromString(Stream* pStream) { return Ops::ParseOption(*this, pStream); }                     \
    int Tag::FromString(Doc* pAnalXml, Stream* pStream, int nLevel) {                                        \
        return Ops::ParseNode(*this, pAnalXml, pStream, nLevel);                                             \
    }

VORLIX_XML_MEMBERS(CTagOptionA, CXmlTagA, CAnalXmlA, CTokenDataStreamA, OpsA, char, MString, OnBeginXmlTagA,
                   OnEndXmlTagA)
VORLIX_XML_MEMBERS(CTagOptionU, CXmlTagU, CAnalXmlU, CTokenDataStreamU, OpsU, unsigned short, UString,
                   OnBeginXmlTagU, OnEndXmlTagU)

#undef VORLIX_XML_MEMBERS

// ---- Parsing a document: the widths differ in how they choose the encoding ----

int CAnalXmlA::FromString(const char* pszXml, int bStoreTag) {
    return OpsA::ParseDocument(*this, new (std::nothrow) CTokenDataStreamA(pszXml, 0), bStoreTag);
}

int CAnalXmlA::FromString(void* hFile, int bStoreTag) {
    return OpsA::ParseDocument(*this, new (std::nothrow) CTokenDataStreamA(hFile, 0), bStoreTag);
}

int CAnalXmlU::FromString(const unsigned short* pszXml, int bStoreTag) {
    // The first two bytes as stored: FF FE little-endian, FE FF big-endian,
    // and the mark is skipped; otherwise the platform's own byte order.
    unsigned long dwStart = 0;
    int nEndian = API_IsLittleEndian() ? 1 : 2;
    if (pszXml) {
        const unsigned char* b = reinterpret_cast<const unsigned char*>(pszXml);
        if (b[0] == 0xFF && b[1] == 0xFE) {
            dwStart = 1;
            nEndian = 1;
        } else if (b[0] == 0xFE && b[1] == 0xFF) {
            dwStart = 1;
            nEndian = 2;
        }
    }
    CTokenDataStreamU* s = new (std::nothrow) CTokenDataStreamU(pszXml, dwStart);
    if (s) s->SetEndian(nEndian);
    return OpsU::ParseDocument(*this, s, bStoreTag);
}

int CAnalXmlU::FromString(void* hFile, int bStoreTag) {
    long lStart = API_SeekFile(hFile, 0, 1);
    unsigned char b[3] = {0, 0, 0};
    API_ReadFile(hFile, b, 2);
    int nEndian;
    unsigned long dwStart = 0;
    if (b[0] == 0xFF && b[1] == 0xFE) {
        nEndian = 1;
    } else if (b[0] == 0xFE && b[1] == 0xFF) {
        nEndian = 2;
    } else {
        // No mark: read from the start. A zero among the first two bytes
        // shows UTF-16 and its byte order; anything else is UTF-8, whose
        // own mark EF BB BF is skipped.
        API_SeekFile(hFile, lStart, 0);
        if (b[0] == 0 && b[1] != 0) {
            nEndian = 2;
        } else if (b[0] == 0 || b[1] == 0) {
            nEndian = 1;
        } else {
            nEndian = 3;
            API_ReadFile(hFile, b, 3);
            if (!(b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF)) API_SeekFile(hFile, lStart, 0);
        }
        long lAt = API_SeekFile(hFile, 0, 1);
        dwStart = lAt > 0 ? static_cast<unsigned long>(lAt) : 0;
    }
    CTokenDataStreamU* s = new (std::nothrow) CTokenDataStreamU(hFile, dwStart);
    if (s) s->SetEndian(nEndian);
    return OpsU::ParseDocument(*this, s, bStoreTag);
}

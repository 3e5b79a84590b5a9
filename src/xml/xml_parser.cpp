// The XML parser: a node with its subtree, an attribute, and a whole
// document, over either reader (xml_reader.h).
#include <vorlix/base/file.h>
#include <vorlix/base/text.h>

#include "../base/lines.h"
#include "xml_internal.h"
#include "xml_reader.h"

#include <new>
#include <typeinfo>

namespace vorlix {
namespace detail {

template <class Ch>
struct ParserLits {
    static constexpr auto kNodeSet = MakeLit<Ch>("<?!/>=& \t");
    static constexpr auto kAttrSet = MakeLit<Ch>("<?/>=\" ");
    static constexpr auto kBracket = MakeLit<Ch>("[");
    static constexpr auto kXml = MakeLit<Ch>("xml");
    static constexpr auto kCData = MakeLit<Ch>("CDATA");
    static constexpr auto kLt = MakeLit<Ch>("<");
    static constexpr auto kGt = MakeLit<Ch>(">");
    static constexpr auto kCommentEnd = MakeLit<Ch>("-->");
    static constexpr auto kCDataEnd = MakeLit<Ch>("]]>");
};

template <class Ch>
struct ParserOps {
    typedef BasicString<Ch> Str;
    typedef typename XmlClasses<Ch>::Option Option;
    typedef typename XmlClasses<Ch>::Tag Tag;
    typedef typename XmlClasses<Ch>::Doc Doc;
    typedef typename XmlClasses<Ch>::Stream Stream;
    typedef ParserLits<Ch> L;

    // The deepest nesting the parser accepts.
    static const int kMaxDepth = 1000;

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
                    SetDecoded(dest, dest.GetString(), dest.GetLength());
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
            if (doc && OnBegin(*doc, Real(t), nLevel)) return Fail(t, s, XMLRES_BEGIN_ABORT);
            return -1;
        }
        if (d == 3 || (d == 1 && t.m_nTagType == XMLTAG_PI)) {  // "/>" or "?>"
            bool bEmpty = d == 3;
            if (!s.GetToken(tok, x.node, d)) return Fail(t, s, XMLRES_UNEXPECTED_END);
            if (d != 4) return Fail(t, s, XMLRES_NO_CLOSE);
            if (bEmpty) {
                t.m_nTagType = XMLTAG_ELEMENT;
                if (doc && OnBegin(*doc, Real(t), nLevel)) return Fail(t, s, XMLRES_BEGIN_ABORT);
            }
            if (doc && OnEnd(*doc, Real(t), nLevel)) return Fail(t, s, XMLRES_END_ABORT);
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
            if (doc && OnEnd(*doc, Real(t), nLevel)) return Fail(t, s, XMLRES_END_ABORT);
            return 1;
        }
        x.text.SetString(tok.p, tok.n);  // before the read leaves its line
        if (!s.ToDelimStr(L::kGt, 1, run, 1)) return Fail(t, s, XMLRES_NO_CLOSE);
        t.m_nTagType = XMLTAG_DECLARE;
        x.text.Append(run.p, run.n - 1);
        t.m_strName.SetString(x.text, x.text.GetLength());
        if (doc && OnEnd(*doc, Real(t), nLevel + 1)) return Fail(t, s, XMLRES_END_ABORT);
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
                SetDecoded(text.m_strName, text.m_strName.GetString(), text.m_strName.GetLength());
                text.m_nTagType = XMLTAG_TEXT;
                if (doc && OnEnd(*doc, text, nLevel + 1)) return Fail(t, s, XMLRES_END_ABORT);
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
                            if (doc && OnEnd(*doc, text, nLevel + 1)) return Fail(t, s, XMLRES_END_ABORT);
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
                if (doc && OnEnd(*doc, Real(t), nLevel)) return Fail(t, s, XMLRES_END_ABORT);
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

};

template <class Ch>
int ParseText(BasicAnalXml<Ch>& doc, const Ch* pszXml, unsigned long dwStart, int nEndian, int bStoreTag) {
    typedef ParserOps<Ch> Ops;
    typename Ops::Doc& real = Real(doc);
    typename Ops::Doc* pCallbacks = typeid(real) == typeid(typename Ops::Doc) ? nullptr : &real;
    if (pCallbacks) {
        typename Ops::SReader reader(doc.m_pStream);
        return Ops::ParseAll(real, pCallbacks, reader, bStoreTag);
    }
    if (!pszXml || sizeof(Ch) == 1 || InPlatformOrder(nEndian)) {
        DocReader<InPlaceLines<Ch>> reader(InPlaceLines<Ch>(pszXml), dwStart, false);
        return Ops::ParseAll(real, nullptr, reader, bStoreTag);
    }
    if constexpr (sizeof(Ch) == 2) {
        DocReader<BufferedLines<Ch>> reader(BufferedLines<Ch>(pszXml, MemoryCoding(nEndian)), dwStart, false);
        return Ops::ParseAll(real, nullptr, reader, bStoreTag);
    }
    return 0;
}

template <class Ch>
int ParseFile(BasicAnalXml<Ch>& doc, void* hFile, unsigned long dwStart, int nEndian, int bStoreTag) {
    typedef ParserOps<Ch> Ops;
    typename Ops::Doc& real = Real(doc);
    typename Ops::Doc* pCallbacks = typeid(real) == typeid(typename Ops::Doc) ? nullptr : &real;
    if (pCallbacks) {
        typename Ops::SReader reader(doc.m_pStream);
        return Ops::ParseAll(real, pCallbacks, reader, bStoreTag);
    }
    typename BufferedLines<Ch>::Coding coding = BufferedLines<Ch>::kBytes;
    if constexpr (sizeof(Ch) == 2) coding = FileCoding(nEndian);
    bool bKeepFirst = API_SeekFile(hFile, 0, 1) != static_cast<long>(dwStart);
    DocReader<BufferedLines<Ch>> reader(BufferedLines<Ch>(hFile, coding), dwStart, bKeepFirst);
    return Ops::ParseAll(real, nullptr, reader, bStoreTag);
}

template int ParseText(BasicAnalXml<char>&, const char*, unsigned long, int, int);
template int ParseText(BasicAnalXml<unsigned short>&, const unsigned short*, unsigned long, int, int);
template int ParseFile(BasicAnalXml<char>&, void*, unsigned long, int, int);
template int ParseFile(BasicAnalXml<unsigned short>&, void*, unsigned long, int, int);

}  // namespace detail

template <class Ch>
int BasicTagOption<Ch>::FromString(Stream* pStream) {
    return detail::ParserOps<Ch>::ParseOption(static_cast<typename XmlClasses<Ch>::Option&>(*this), pStream);
}

template <class Ch>
int BasicXmlTag<Ch>::FromString(Doc* pAnalXml, Stream* pStream, int nLevel) {
    return detail::ParserOps<Ch>::ParseNode(detail::Real(*this), pAnalXml, pStream, nLevel);
}

template int BasicTagOption<char>::FromString(CTokenDataStreamA*);
template int BasicTagOption<unsigned short>::FromString(CTokenDataStreamU*);
template int BasicXmlTag<char>::FromString(CAnalXmlA*, CTokenDataStreamA*, int);
template int BasicXmlTag<unsigned short>::FromString(CAnalXmlU*, CTokenDataStreamU*, int);

}  // namespace vorlix

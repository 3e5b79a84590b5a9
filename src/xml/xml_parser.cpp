// The XML parser: a node with its subtree, an attribute, and a whole
// document, over either reader (xml_reader.h).
//
// The parser keeps the elements that are open on a stack of its own on the
// heap, so that no depth of nesting costs the thread's stack anything; the
// 1000 levels it accepts are counted from where the parse began. Each open
// node is read as the recursive description of the format has it: its
// first token says what it is, character data and CDATA sections become
// children as they come, a child element or a comment inside it opens the
// next level, and its end tag closes it. Finished children wait in a
// pending list and go to their node in one block when it completes, before
// its OnEndXmlTag sees it.
#include <vorlix/base/file.h>
#include <vorlix/base/text.h>

#include "../base/length.h"
#include "../base/lines.h"
#include "../base/objarray_ops.h"
#include "xml_internal.h"
#include "xml_reader.h"

#include <new>
#include <typeinfo>

namespace vorlix {
namespace detail {
namespace {

template <class Ch>
struct ParserLits {
    // The node parser's delimiters, by index: see NodeDelim.
    static constexpr auto kNodeSet = MakeLit<Ch>("<?!/>=& \t");
    // The attribute parser's delimiters, by index: see AttrDelim.
    static constexpr auto kAttrSet = MakeLit<Ch>("<?/>=\" ");
    // After "<" "!": a "[" begins a CDATA section (index kBracketOpen).
    static constexpr auto kBracket = MakeLit<Ch>("[");
    static constexpr auto kXml = MakeLit<Ch>("xml");
    static constexpr auto kCData = MakeLit<Ch>("CDATA");
    static constexpr auto kLt = MakeLit<Ch>("<");
    static constexpr auto kGt = MakeLit<Ch>(">");
    static constexpr auto kCommentEnd = MakeLit<Ch>("-->");
    static constexpr auto kCDataEnd = MakeLit<Ch>("]]>");
};

// What a token of the node set is: its index in kNodeSet, or a word.
enum NodeDelim {
    kWord = -1,
    kNodeLt = 0,
    kNodeQuestion = 1,
    kNodeBang = 2,
    kNodeSlash = 3,
    kNodeGt = 4,
    kNodeEquals = 5,
    kNodeAmp = 6,
    kNoToken = -2  // no token read yet
};

// What a token of the attribute set is: its index in kAttrSet, or a word.
enum AttrDelim {
    kAttrLt = 0,
    kAttrQuestion = 1,
    kAttrSlash = 2,
    kAttrGt = 3,
    kAttrEquals = 4,
    kAttrQuote = 5,
    kAttrBlank = 6  // only separates: never delivered
};

const int kBracketOpen = 0;

// The deepest nesting the parser accepts, counted from where it began.
const int kMaxDepth = 1000;

// What the reading of an open node comes to.
enum Step {
    kFailed,      // the node failed: its result and position are set
    kDone,        // the node is complete and OnEndXmlTag accepted it
    kContent,     // a start tag ended with ">": the content follows
    kChildNamed,  // "<" and a name: a child element begins (name read)
    kChildAgain   // a child comment or declaration begins (reads taken back)
};

// The working state of one parse. The text buffer keeps its capacity from
// node to node, so building a text rarely allocates. The cache of short
// names lets the many nodes and attributes that share a name share one
// buffer (strings copy on write, so nobody can tell).
template <class Ch>
class Scratch {
public:
    typedef BasicString<Ch> Str;
    typedef typename XmlClasses<Ch>::Option Option;
    typedef typename XmlClasses<Ch>::Tag Tag;

    // One open node: its working node (the root's is the caller's), the
    // node that serves its text and CDATA children, its depth and where its
    // children start in the pending list.
    struct Frame {
        Tag node;
        Tag text;
        int nLevel;
        int nPending;
        bool bFirst;  // no token of the node read yet
    };

    Scratch() : node(kNodeSet), attr(kAttrSet), bracket(kBracketSet) {}
    ~Scratch() {
        for (int i = 0; i < m_nBuilt; ++i) m_frames[i].~Frame();
        BlockFree(m_frames);
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;

    // Frame k of those built.
    Frame& F(int k) { return m_frames[k]; }
    // Frame k, built when first needed; null when memory is exhausted.
    Frame* Build(int k) {
        if (k < m_nBuilt) return m_frames + k;
        if (k >= m_nCap) {
            int nCap = m_nCap ? m_nCap * 2 : 8;
            if (nCap > kMaxDepth) nCap = kMaxDepth;
            // Frames hold nodes, which move as raw bytes.
            void* p = BlockRealloc(m_frames, sizeof(Frame) * static_cast<std::size_t>(nCap));
            if (!p) return nullptr;
            m_frames = static_cast<Frame*>(p);
            m_nCap = nCap;
        }
        ::new (static_cast<void*>(m_frames + k)) Frame();
        m_nBuilt = k + 1;
        return m_frames + k;
    }

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
        Str& slot = m_shared[(h ^ (h >> 8)) & (kSlots - 1)];
        if (slot.GetLength() == n && SameUnits(slot, p, n)) {
            dest = slot;
            return;
        }
        slot.Empty();
        dest.SetString(p, n);
        slot = dest;
    }

    // An attribute value, decoded. Values are not shared: most differ from
    // one element to the next (identifiers, numbers), and sharing one costs
    // a lookup and two locked counts, more than a short string of its own.
    void SetValue(Str& dest, const Ch* p, int n) {
        if (AmpIndex(p, n) < n) SetDecoded(dest, p, n);
        else dest.SetString(p, n);
    }

    const Delims<Ch>& node;
    const Delims<Ch>& attr;
    const Delims<Ch>& bracket;
    Str text;
    Option option;                             // the attribute being read
    CObjArray<Tag, const Tag&> pending;        // finished children of the open nodes
    CObjArray<Option, const Option&> options;  // the attributes of the tag being read

private:
    static const int kSlots = 256;
    static const int kMaxShared = 32;

    // The delimiter sets, constants: no parse waits for their building,
    // not even in a child process forked while another thread parsed.
    static constexpr Delims<Ch> kNodeSet{ParserLits<Ch>::kNodeSet};
    static constexpr Delims<Ch> kAttrSet{ParserLits<Ch>::kAttrSet};
    static constexpr Delims<Ch> kBracketSet{ParserLits<Ch>::kBracket};
    static bool SameUnits(const Ch* a, const Ch* b, int n) {
        for (int i = 0; i < n; ++i)
            if (a[i] != b[i]) return false;
        return true;
    }

    Frame* m_frames = nullptr;
    int m_nBuilt = 0;
    int m_nCap = 0;
    Str m_shared[kSlots];
};

// True when the current line holds, after blanks and tabs, a character
// other than c: the next token then starts there and is not c.
template <class R, class Ch>
bool NextOnLineIsNot(const R& r, Ch c) {
    const Ch* line = r.Line();
    unsigned long n = static_cast<unsigned long>(r.LineLength());
    unsigned long i = r.Column();
    while (i < n && (line[i] == ' ' || line[i] == '\t')) ++i;
    return i < n && line[i] != c && line[i] != 0;
}

// The parser over a reader R. pDoc receives the callbacks (may be null);
// before each one the reader brings the document's stream up to date.
template <class Ch, class R>
class Parser {
public:
    typedef BasicString<Ch> Str;
    typedef typename XmlClasses<Ch>::Option Option;
    typedef typename XmlClasses<Ch>::Tag Tag;
    typedef typename XmlClasses<Ch>::Doc Doc;
    typedef typename Scratch<Ch>::Frame Frame;
    typedef ParserLits<Ch> L;

    Parser(R& r, Doc* pDoc, Scratch<Ch>& x) : m_r(r), m_pDoc(pDoc), m_x(x) {}

    // Parses one node with its subtree into root at depth nLevel: 1, or 0
    // with its result and position set (and those of every node on the way
    // up, which all fail with the same code).
    int ParseNode(Tag& root, int nLevel) {
        m_pRoot = &root;
        m_nTop = 0;
        if (!Open(0, nLevel, nullptr)) return FailEmpty(root, nLevel);
        int step = Content(0);
        for (;;) {
            switch (step) {
            case kChildNamed:
            case kChildAgain: {
                const Span<Ch>* pName = step == kChildNamed ? &m_name : nullptr;
                if (m_nTop + 1 >= kMaxDepth) {
                    if (pName) m_r.GetTokenBack(2);  // reported from before the "<"
                    step = Fail(m_nTop, XMLRES_SYNTAX);
                    break;
                }
                if (!Open(m_nTop + 1, Level(m_nTop) + 1, pName)) {
                    step = Fail(m_nTop, XMLRES_SYNTAX);  // memory exhausted
                    break;
                }
                ++m_nTop;
                step = pName ? TagRest(m_nTop) : kContent;
                if (step == kContent) step = Content(m_nTop);
                break;
            }
            case kDone:
                if (m_nTop == 0) return 1;
                Adopt(m_x.F(m_nTop).node);
                --m_nTop;
                step = Content(m_nTop);
                break;
            case kFailed: {
                const Tag& failed = Node(m_nTop);
                int nCode = failed.m_nParseResult;
                unsigned long dwPos = failed.m_dwParsePos;
                // The children of the inner nodes are lost with them; the
                // root keeps those it had completed.
                int nKeep = m_nTop > 0 ? m_x.F(1).nPending : m_x.pending.GetSize();
                for (; m_nTop > 0; --m_nTop) {
                    Tag& parent = Node(m_nTop - 1);
                    parent.m_nParseResult = nCode;
                    parent.m_dwParsePos = dwPos;
                }
                if (m_x.pending.GetSize() > nKeep) m_x.pending.RemoveAt(nKeep, m_x.pending.GetSize() - nKeep);
                int nFirst = m_x.F(0).nPending;
                if (nKeep > nFirst) MoveTail(m_x.pending, nFirst, root.m_arySubTag);
                return 0;
            }
            default:  // kContent
                step = Content(m_nTop);
                break;
            }
        }
    }

    // Parses one attribute into o: 1 with a name, 1 with an empty name at
    // the end of the attribute list, 0 when malformed. With pEnd, the
    // character that ends the list is handed over as the node parser's own
    // read of it would give it (the position and the saved positions are
    // the same either way); without it, it is left unread.
    int ParseOption(Option& o, int* pEnd) {
        // Init, without a call for strings that are empty already.
        if (!o.m_strName.IsEmpty()) o.m_strName.Empty();
        if (!o.m_strValue.IsEmpty()) o.m_strValue.Empty();
        bool bEquals = false;
        Span<Ch> t;
        int d;
        for (;;) {
            if (!m_r.GetToken(t, m_x.attr, d)) return 0;
            switch (d) {
            case kAttrLt:
            case kAttrBlank: return 0;
            case kAttrQuestion:
            case kAttrSlash:
            case kAttrGt:
                if (pEnd) {
                    *pEnd = d == kAttrQuestion ? kNodeQuestion : (d == kAttrSlash ? kNodeSlash : kNodeGt);
                    return 1;
                }
                m_r.GetTokenBack(1);
                return 1;
            case kAttrEquals:
                if (o.m_strName.IsEmpty()) return 0;
                bEquals = true;
                continue;
            case kAttrQuote: {
                if (!bEquals) return 0;
                Span<Ch> v;
                if (!m_r.ToQuote(v)) return 0;
                m_x.SetValue(o.m_strValue, v.p, v.n - 1);  // without the closing quote
                return 1;
            }
            default:  // a word
                if (bEquals) {
                    m_x.SetValue(o.m_strValue, t.p, t.n);
                    return 1;
                }
                if (!o.m_strName.IsEmpty()) {
                    m_r.GetTokenBack(1);  // the word begins the next attribute
                    return 1;
                }
                m_x.Share(o.m_strName, t.p, t.n);
                continue;
            }
        }
    }

private:
    Tag& Node(int k) { return k == 0 ? *m_pRoot : m_x.F(k).node; }
    int Level(int k) { return m_x.F(k).nLevel; }

    // Starts node k at depth nLevel; with pName its "<" and name are read.
    bool Open(int k, int nLevel, const Span<Ch>* pName) {
        Frame* f = m_x.Build(k);
        if (!f) return false;
        Tag& t = Node(k);
        Reset(t);
        t.m_nLevel = nLevel;
        Reset(f->text);
        f->nLevel = nLevel;
        f->nPending = m_x.pending.GetSize();
        f->bFirst = pName == nullptr;
        if (pName) {
            m_x.Share(t.m_strName, pName->p, pName->n);
            t.m_nTagType = XMLTAG_ELEMENT;
        }
        return true;
    }

    // Init, without a call for a node that holds nothing (as the working
    // nodes mostly do: their strings and lists go with the children).
    static void Reset(Tag& t) {
        if (!t.m_strName.IsEmpty() || t.m_aryOption.m_pData || t.m_arySubTag.m_pData) {
            t.Init();
            return;
        }
        t.m_nTagType = XMLTAG_NONE;
        t.m_nLevel = 0;
        t.m_nParseResult = 0;
        t.m_dwParsePos = 0;
        t.m_bNoChild = 0;
        t.m_nUserFlag = 1;
    }

    // A root whose parse could not start (memory exhausted).
    int FailEmpty(Tag& root, int nLevel) {
        root.Init();
        root.m_nLevel = nLevel;
        root.m_nParseResult = XMLRES_SYNTAX;
        root.m_dwParsePos = m_r.GetTokenPos();
        return 0;
    }

    int Fail(int k, int nCode) {
        Tag& t = Node(k);
        // A line or a run too long to hold ends the data: that is no
        // normal end, whatever the parser was expecting.
        if (m_r.TooLong()) nCode = XMLRES_SYNTAX;
        t.m_nParseResult = nCode;
        t.m_dwParsePos = m_r.GetTokenPos();
        return kFailed;
    }

    int Begin(int k) {
        if (!m_pDoc) return 0;
        m_r.Sync();
        return OnBegin(*m_pDoc, Node(k), Level(k));
    }
    int End(Tag& t, int nLevel) {
        if (!m_pDoc) return 0;
        m_r.Sync();
        return OnEnd(*m_pDoc, t, nLevel);
    }

    // Node k is complete: its children join it, then OnEndXmlTag sees it.
    int Complete(int k, int nLevel) {
        Tag& t = Node(k);
        int nFirst = m_x.F(k).nPending;
        if (m_x.pending.GetSize() > nFirst) MoveTail(m_x.pending, nFirst, t.m_arySubTag);
        if (End(t, nLevel)) return Fail(k, XMLRES_END_ABORT);
        return kDone;
    }

    // Keeps a finished child in the pending list unless it refuses
    // (m_bNoChild). It is moved in: nothing can tell that from the copy the
    // parent would keep. The working node keeps its fields as a copy would
    // have left them; only its name and lists went with the child (the text
    // node of a node serves all its text and CDATA children).
    void Adopt(Tag& child) {
        if (child.m_bNoChild || !RelocateAppendBytes(m_x.pending, child)) return;
        ::new (static_cast<void*>(&child.m_strName)) BasicString<Ch>;
        ::new (static_cast<void*>(&child.m_aryOption)) CObjArray<Option, const Option&>;
        ::new (static_cast<void*>(&child.m_arySubTag)) CObjArray<Tag, const Tag&>;
    }

    // Appends by handing the strings over, leaving o empty. The scratch
    // list only ever grows by appending.
    void AppendOption(Option& o) {
        Option* slot = AppendDefault(m_x.options);
        if (!slot) return;
        slot->m_strName.Swap(o.m_strName);
        slot->m_strValue.Swap(o.m_strValue);
    }

    // After a start tag's name: the attributes and what closes the tag.
    int TagRest(int k) {
        Tag& t = Node(k);
        Option& o = m_x.option;
        int nEnd = kNoToken;  // the closing character, once an attribute read took it
        for (;;) {
            if (ParseOption(o, &nEnd) != 1 || o.m_strName.IsEmpty()) break;
            AppendOption(o);
            if (nEnd != kNoToken) break;
        }
        if (m_x.options.GetSize()) MoveTail(m_x.options, 0, t.m_aryOption);
        Span<Ch> tok;
        int d = nEnd;
        if (nEnd == kNoToken && !m_r.GetToken(tok, m_x.node, d)) return Fail(k, XMLRES_UNEXPECTED_END);
        if (d == kNodeGt) {
            t.m_nTagType = XMLTAG_ELEMENT;
            if (t.m_strName.IsEmpty()) return Fail(k, XMLRES_SYNTAX);
            if (Begin(k)) return Fail(k, XMLRES_BEGIN_ABORT);
            return kContent;
        }
        if (d == kNodeSlash || (d == kNodeQuestion && t.m_nTagType == XMLTAG_PI)) {  // "/>" or "?>"
            bool bEmpty = d == kNodeSlash;
            if (!m_r.GetToken(tok, m_x.node, d)) return Fail(k, XMLRES_UNEXPECTED_END);
            if (d != kNodeGt) return Fail(k, XMLRES_NO_CLOSE);
            if (bEmpty) {
                t.m_nTagType = XMLTAG_ELEMENT;
                if (Begin(k)) return Fail(k, XMLRES_BEGIN_ABORT);
            }
            return Complete(k, Level(k));
        }
        return Fail(k, XMLRES_SYNTAX);
    }

    // After "<" "!" when the node is still unnamed: a comment or a
    // declaration, which this node becomes.
    int CommentOrDeclaration(int k) {
        Tag& t = Node(k);
        Span<Ch> tok, run;
        int d;
        m_r.GetToken(tok, m_x.node, d);  // at the end of the data, tok is empty
        if (tok.n >= 2 && tok.p[0] == '-' && tok.p[1] == '-') {
            // The text starts right after the two dashes, inside the token.
            m_r.SetColumn(m_r.Column() - static_cast<unsigned long>(tok.n - 2));
            if (!m_r.ToDelimStr(L::kCommentEnd, L::kCommentEnd.Length(), run, 1)) return Fail(k, XMLRES_BAD_COMMENT);
            t.m_strName.SetString(run.p, run.n - L::kCommentEnd.Length());
            t.m_nTagType = XMLTAG_COMMENT;
            return Complete(k, Level(k));
        }
        m_x.text.SetString(tok.p, tok.n);  // before the read leaves its line
        if (!m_r.ToDelimStr(L::kGt, L::kGt.Length(), run, 1)) return Fail(k, XMLRES_NO_CLOSE);
        if (CheckedLength<Ch>(static_cast<long long>(tok.n) + run.n) < 0) return Fail(k, XMLRES_SYNTAX);
        t.m_nTagType = XMLTAG_DECLARE;
        m_x.text.Append(run.p, run.n - 1);
        t.m_strName.SetString(m_x.text, m_x.text.GetLength());
        // A declaration is reported one level below its own depth.
        return Complete(k, Level(k) + 1);
    }

    // Character data that began with tok, up to the next "<".
    int Text(int k, const Span<Ch>& tok) {
        Frame& f = m_x.F(k);
        Span<Ch> run;
        int nForm = kTextUnknown;
        int r = m_r.TextRun(tok, m_x.text, run, nForm);
        if (r == kRunTooLong) return Fail(k, XMLRES_SYNTAX);
        if (r == 0) return Fail(k, XMLRES_BAD_TEXT);
        // The node is built where the pending list will keep it, from the
        // work node's bytes: nothing moves once it is complete, and the
        // work node gets back the fields a copy would have left it.
        Tag* slot = RawSlotAtEnd(m_x.pending);
        if (!slot) {
            SetText(f.text.m_strName, run.p, run.n, nForm);
            f.text.m_nTagType = XMLTAG_TEXT;
            if (End(f.text, f.nLevel + 1)) return Fail(k, XMLRES_END_ABORT);
            return kContent;  // memory exhausted: the child is dropped, as Adopt would
        }
        InSlot moved(f.text, *slot);
        SetText(slot->m_strName, run.p, run.n, nForm);
        slot->m_nTagType = XMLTAG_TEXT;
        int nEnd = End(*slot, f.nLevel + 1);
        if (nEnd || slot->m_bNoChild) {
            moved.Back();
            return nEnd ? Fail(k, XMLRES_END_ABORT) : kContent;
        }
        moved.Keep();
        ++m_x.pending.m_nSize;
        return kContent;
    }

    // A work node whose bytes were moved into a slot of the pending list,
    // from which they go back as they are (Back, also when a callback
    // throws) or, once the slot keeps the node, with the fields a copy
    // would have left and no name or lists (Keep). The fields are taken one
    // by one: loads as wide as the stores that just wrote them.
    class InSlot {
    public:
        InSlot(Tag& work, Tag& slot) : m_work(work), m_slot(slot) {
            std::memcpy(static_cast<void*>(&slot), static_cast<const void*>(&work), sizeof(Tag));
        }
        ~InSlot() {
            if (!m_bDone) Back();
        }
        InSlot(const InSlot&) = delete;
        InSlot& operator=(const InSlot&) = delete;
        void Back() {
            std::memcpy(static_cast<void*>(&m_work), static_cast<const void*>(&m_slot), sizeof(Tag));
            m_bDone = true;
        }
        void Keep() {
            CopyValueFields(m_work, m_slot);
            ::new (static_cast<void*>(&m_work.m_strName)) BasicString<Ch>;
            ::new (static_cast<void*>(&m_work.m_aryOption)) CObjArray<Option, const Option&>;
            ::new (static_cast<void*>(&m_work.m_arySubTag)) CObjArray<Tag, const Tag&>;
            m_bDone = true;
        }

    private:
        Tag& m_work;
        Tag& m_slot;
        bool m_bDone = false;
    };

    // After "<" "!": a CDATA section becomes a child; a comment or a
    // declaration becomes a child of an element, or else this node.
    int Bang(int k) {
        Frame& f = m_x.F(k);
        Span<Ch> tok, run;
        int d = kNoToken;
        // Reading a token up to "[" would copy the rest of a long line for
        // every comment: when the current line shows that no "[" follows,
        // that read and its taking back change nothing but a ring slot past
        // the one in use, which a stream the caller owns keeps exactly.
        int nReads = 0;
        if (R::kExact || !NextOnLineIsNot(m_r, Ch('['))) {
            nReads = 1;
            if (!m_r.GetToken(tok, m_x.bracket, d)) return Fail(k, XMLRES_UNEXPECTED_END);
        }
        if (nReads == 1 && d == kBracketOpen) {
            nReads = 2;
            if (!m_r.GetToken(tok, m_x.bracket, d)) return Fail(k, XMLRES_BAD_CDATA);
            if (tok.IsNoCase(L::kCData, L::kCData.Length())) {
                nReads = 3;
                if (!m_r.GetToken(tok, m_x.bracket, d)) return Fail(k, XMLRES_UNEXPECTED_END);
                if (d == kBracketOpen) {
                    f.text.Init();
                    if (!m_r.ToDelimStr(L::kCDataEnd, L::kCDataEnd.Length(), run, 1)) return Fail(k, XMLRES_BAD_CDATA);
                    f.text.m_nTagType = XMLTAG_CDATA;
                    f.text.m_strName.SetString(run.p, run.n - L::kCDataEnd.Length());
                    if (End(f.text, f.nLevel + 1)) return Fail(k, XMLRES_END_ABORT);
                    Adopt(f.text);
                    return kContent;
                }
            }
        }
        if (nReads > 0) m_r.GetTokenBack(nReads);
        if (!Node(k).m_strName.IsEmpty()) {
            m_r.GetTokenBack(2);  // back before the "<"
            return kChildAgain;
        }
        return CommentOrDeclaration(k);
    }

    // An end tag after "<" "/": it must name the node.
    int EndTag(int k) {
        Span<Ch> tok;
        int d;
        if (!m_r.GetToken(tok, m_x.node, d) || d != kWord) return Fail(k, XMLRES_BAD_END_TAG);
        const BasicString<Ch>& name = Node(k).m_strName;
        if (!tok.IsNoCase(name.GetString(), name.GetLength())) return Fail(k, XMLRES_TAG_MISMATCH);
        if (!m_r.GetToken(tok, m_x.node, d) || d != kNodeGt) return Fail(k, XMLRES_NO_CLOSE);
        return Complete(k, Level(k));
    }

    // Reads node k's tokens until something opens, closes or fails.
    int Content(int k) {
        Span<Ch> tok;
        int d;
        for (;;) {
            Frame& f = m_x.F(k);
            Tag& t = Node(k);
            // A word here begins character data: it may come as its first
            // character only (GetTokenOrText).
            if (!m_r.GetTokenOrText(tok, m_x.node, d))
                return Fail(k, f.bFirst ? XMLRES_END_OF_DATA : XMLRES_UNEXPECTED_END);
            f.bFirst = false;
            if (d == kNodeGt) return Fail(k, XMLRES_BAD_TEXT);
            if (d != kNodeLt) {
                if (t.m_strName.IsEmpty()) {
                    m_r.FinishWord(tok);  // reported after the whole word
                    return Fail(k, XMLRES_TEXT_OUTSIDE);
                }
                int step = Text(k, tok);
                if (step != kContent) return step;
                continue;
            }
            if (!m_r.GetToken(tok, m_x.node, d)) return Fail(k, XMLRES_UNEXPECTED_END);
            int step;
            switch (d) {
            case kWord:  // an element name
                if (!t.m_strName.IsEmpty()) {
                    m_name = tok;
                    return kChildNamed;
                }
                m_x.Share(t.m_strName, tok.p, tok.n);
                t.m_nTagType = XMLTAG_ELEMENT;
                step = TagRest(k);
                break;
            case kNodeQuestion:  // a processing instruction
                if (!m_r.GetToken(tok, m_x.node, d)) return Fail(k, XMLRES_UNEXPECTED_END);
                if (!tok.IsNoCase(L::kXml, L::kXml.Length())) return Fail(k, XMLRES_BAD_PI);
                t.m_nTagType = XMLTAG_PI;
                m_x.Share(t.m_strName, tok.p, tok.n);
                step = TagRest(k);
                break;
            case kNodeBang: step = Bang(k); break;
            case kNodeSlash: return EndTag(k);
            case kNodeLt:  // "<" "<"
                return Fail(k, XMLRES_UNEXPECTED_END);
            default:  // ">", "=" or "&"
                return Fail(k, XMLRES_SYNTAX);
            }
            if (step != kContent) return step;
        }
    }

    R& m_r;
    Doc* m_pDoc;
    Scratch<Ch>& m_x;
    Tag* m_pRoot = nullptr;
    int m_nTop = 0;   // the innermost open node
    Span<Ch> m_name;  // the name of a child element that begins
};

// A document of the library's own class (not a class derived from it) has
// the callbacks that accept every node and look at nothing: they are not
// made, and nothing needs to be brought up to date for them.
template <class Ch>
bool HasOwnCallbacks(BasicAnalXml<Ch>& doc) {
    return typeid(Real(doc)) != typeid(typename XmlClasses<Ch>::Doc);
}

// Parses the document's top-level nodes one after another, appending them
// when bStoreTag is set, and records the outcome.
template <class Ch, class R>
int ParseAll(BasicAnalXml<Ch>& doc, R& reader, int bStoreTag) {
    typedef typename XmlClasses<Ch>::Tag Tag;
    Scratch<Ch> x;
    Parser<Ch, R> parser(reader, HasOwnCallbacks(doc) ? &Real(doc) : nullptr, x);
    Tag work;
    while (parser.ParseNode(work, 0)) {
        if (bStoreTag) RelocateAppend(doc.m_aryTag, work);
    }
    doc.m_nParseResult = work.m_nParseResult;
    doc.m_dwParsePos = work.m_dwParsePos;
    return doc.m_nParseResult == XMLRES_END_OF_DATA ? 1 : 0;
}

template <class Ch, class Source>
int ParseWithSource(BasicAnalXml<Ch>& doc, const Source& src, unsigned long dwStart, bool bKeepFirst, int bStoreTag) {
    DocReader<Source> reader(src, dwStart, bKeepFirst);
    // The stream the document created for this parse; a callback that calls
    // Init empties m_pStream, and the parse keeps the stream up to date all
    // the same until it deletes it.
    if (doc.m_pStream && HasOwnCallbacks(doc)) reader.SyncTo(&doc.m_pStream->m_curPos);
    return ParseAll(doc, reader, bStoreTag);
}

}  // namespace

template <class Ch>
int ParseText(BasicAnalXml<Ch>& doc, const Ch* pszXml, unsigned long dwStart, int nEndian, int bStoreTag) {
    if constexpr (sizeof(Ch) == 2) {
        if (pszXml && !InPlatformOrder(nEndian))
            return ParseWithSource(doc, BufferedLines<Ch>(pszXml, MemoryCoding(nEndian)), dwStart, false, bStoreTag);
    } else {
        (void)nEndian;
    }
    return ParseWithSource(doc, InPlaceLines<Ch>(pszXml), dwStart, false, bStoreTag);
}

template <class Ch>
int ParseFile(BasicAnalXml<Ch>& doc, void* hFile, unsigned long dwStart, int nEndian, int bStoreTag) {
    typename BufferedLines<Ch>::Coding coding = BufferedLines<Ch>::kBytes;
    if constexpr (sizeof(Ch) == 2) coding = FileCoding(nEndian);
    else (void)nEndian;
    // In a file whose positions count from another place than its offsets,
    // the first line cannot be found again by its position.
    bool bKeepFirst = API_SeekFile(hFile, 0, 1) != static_cast<long>(dwStart);
    return ParseWithSource(doc, BufferedLines<Ch>(hFile, coding), dwStart, bKeepFirst, bStoreTag);
}

template int ParseText(BasicAnalXml<char>&, const char*, unsigned long, int, int);
template int ParseText(BasicAnalXml<unsigned short>&, const unsigned short*, unsigned long, int, int);
template int ParseFile(BasicAnalXml<char>&, void*, unsigned long, int, int);
template int ParseFile(BasicAnalXml<unsigned short>&, void*, unsigned long, int, int);

}  // namespace detail

template <class Ch>
int BasicTagOption<Ch>::FromString(Stream* pStream) {
    PrjWarningMsg(pStream != nullptr);
    if (!pStream) {
        Init();
        return 0;
    }
    detail::Scratch<Ch> x;
    detail::StreamReader<Ch> reader(pStream);
    detail::Parser<Ch, detail::StreamReader<Ch>> parser(reader, nullptr, x);
    return parser.ParseOption(static_cast<typename XmlClasses<Ch>::Option&>(*this), nullptr);
}

template <class Ch>
int BasicXmlTag<Ch>::FromString(Doc* pAnalXml, Stream* pStream, int nLevel) {
    PrjWarningMsg(pStream != nullptr);
    if (!pStream) {
        // No stream is no data.
        Init();
        m_nLevel = nLevel;
        m_nParseResult = XMLRES_END_OF_DATA;
        return 0;
    }
    detail::Scratch<Ch> x;
    detail::StreamReader<Ch> reader(pStream);
    detail::Parser<Ch, detail::StreamReader<Ch>> parser(reader, pAnalXml, x);
    return parser.ParseNode(detail::Real(*this), nLevel);
}

template int BasicTagOption<char>::FromString(CTokenDataStreamA*);
template int BasicTagOption<unsigned short>::FromString(CTokenDataStreamU*);
template int BasicXmlTag<char>::FromString(CAnalXmlA*, CTokenDataStreamA*, int);
template int BasicXmlTag<unsigned short>::FromString(CAnalXmlU*, CTokenDataStreamU*, int);

}  // namespace vorlix

// The XML writer: one node per line, CR LF line ends, tab indentation by
// each node's m_nLevel, into a string or a file. A tree of any depth is
// written without recursion.
#include <vorlix/base/file.h>
#include <vorlix/base/text.h>

#include "../base/length.h"
#include "xml_internal.h"

#include <cstring>

namespace vorlix {
namespace detail {
namespace {

template <class Ch>
struct WriterLits {
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
};

// The string a writer appends to, written through its buffer directly
// (the pieces are mostly a few characters: a call to the string for each
// would cost more than the copy). Once the text would pass what a string
// holds, or memory is exhausted, nothing more is added and the writer
// fails. Done() gives the string its length; Data() and Length() show the
// text so far, Clear() starts again in the same buffer.
template <class Ch>
class TextOut {
public:
    explicit TextOut(BasicString<Ch>& s) : m_s(s), m_n(s.GetLength()) {}
    ~TextOut() { Done(); }
    TextOut(const TextOut&) = delete;
    TextOut& operator=(const TextOut&) = delete;

    void Add(const Ch* p, int n) {
        if (n <= 0 || !Room(n)) return;
        std::memcpy(m_p + m_n, p, static_cast<std::size_t>(n) * sizeof(Ch));
        m_n += n;
    }
    void Add(Ch c) {
        if (!Room(1)) return;
        m_p[m_n++] = c;
    }
    void Add(const BasicString<Ch>& s) { Add(s.GetString(), s.GetLength()); }
    template <std::size_t N>
    void Add(const Lit<Ch, N>& lit) {
        Add(lit.s, static_cast<int>(N) - 1);
    }
    void AddTabs(int n) {
        if (n <= 0 || !Room(n)) return;
        for (int i = 0; i < n; ++i) m_p[m_n + i] = '\t';
        m_n += n;
    }
    // The text with the five entities encoded.
    void AddEncoded(const BasicString<Ch>& s) {
        long long nLength = EncodedLength(s.GetString(), s.GetLength());
        if (nLength > kMaxLength<Ch> || !Room(static_cast<int>(nLength))) {
            m_bFull = true;
            return;
        }
        PutEncoded(m_p + m_n, s.GetString(), s.GetLength());
        m_n += static_cast<int>(nLength);
    }
    bool Full() const { return m_bFull; }
    const Ch* Data() const { return m_p ? m_p : m_s.GetString(); }
    int Length() const { return m_n; }
    void Clear() { m_n = 0; }
    void Done() {
        if (m_p) m_s.ReleaseBuffer(m_n);
        m_p = nullptr;
        m_nCap = 0;
    }

private:
    // Whether n more characters fit, the buffer grown when they do not
    // (by half again, so that a long text is copied a few times only).
    bool Room(int n) {
        if (m_bFull) return false;
        if (n <= m_nCap - m_n) return true;
        if (n > kMaxLength<Ch> - m_n) {
            m_bFull = true;
            return false;
        }
        int nWant = m_n + n;
        long long nCap = static_cast<long long>(m_nCap) + m_nCap / 2;
        if (nCap < nWant) nCap = nWant;
        if (nCap < 1000) nCap = 1000;  // room for a typical node at once
        if (nCap > kMaxLength<Ch>) nCap = kMaxLength<Ch>;
        if (m_p) m_s.ReleaseBuffer(m_n);
        m_p = m_s.GetBuffer(static_cast<int>(nCap));
        if (!m_p) {
            m_bFull = true;
            m_nCap = 0;
            return false;
        }
        m_nCap = static_cast<int>(nCap);
        return true;
    }

    BasicString<Ch>& m_s;
    Ch* m_p = nullptr;
    int m_n;
    int m_nCap = 0;
    bool m_bFull = false;
};

template <class Ch>
void PutIndent(TextOut<Ch>& out, int nLevel) {
    out.AddTabs(nLevel);
}

// name="value", the value encoded; nothing for an attribute without a name.
template <class Ch>
void AppendOption(TextOut<Ch>& out, const BasicTagOption<Ch>& o) {
    if (o.m_strName.IsEmpty()) return;
    out.Add(o.m_strName);
    out.Add(WriterLits<Ch>::kAttrOpen);
    out.AddEncoded(o.m_strValue);
    out.Add(Ch('"'));
}

// One or two attributes on the tag's line, three or more one per line.
template <class Ch>
void AppendOptions(TextOut<Ch>& out, const BasicXmlTag<Ch>& t) {
    int n = t.m_aryOption.GetSize();
    if (n == 0) return;
    if (n <= 2) {
        for (int i = 0; i < n; ++i) {
            out.Add(Ch(' '));
            AppendOption(out, t.m_aryOption[i]);
        }
        return;
    }
    out.Add(WriterLits<Ch>::kCrLf);
    for (int i = 0; i < n; ++i) {
        PutIndent(out, t.m_nLevel);
        AppendOption(out, t.m_aryOption[i]);
        out.Add(WriterLits<Ch>::kCrLf);
    }
}

inline bool IsInline(int nType) { return nType == XMLTAG_TEXT || nType == XMLTAG_CDATA; }

// An element's start tag up to what ends it: "/>\r\n" without children,
// ">" before text or CDATA, ">\r\n" before anything else.
template <class Ch>
void AppendStart(TextOut<Ch>& out, const BasicXmlTag<Ch>& t) {
    PutIndent(out, t.m_nLevel);
    out.Add(Ch('<'));
    out.Add(t.m_strName);
    AppendOptions(out, t);
    if (t.m_aryOption.GetSize() >= 3) PutIndent(out, t.m_nLevel);
    int n = t.m_arySubTag.GetSize();
    if (n == 0) {
        out.Add(WriterLits<Ch>::kEmptyClose);
    } else {
        out.Add(Ch('>'));
        if (!IsInline(t.m_arySubTag[0].m_nTagType)) out.Add(WriterLits<Ch>::kCrLf);
    }
}

// The end tag, on the line of text or CDATA that comes last, otherwise on
// its own indented line.
template <class Ch>
void AppendEnd(TextOut<Ch>& out, const BasicXmlTag<Ch>& t) {
    if (!IsInline(t.m_arySubTag[t.m_arySubTag.GetSize() - 1].m_nTagType)) PutIndent(out, t.m_nLevel);
    out.Add(WriterLits<Ch>::kEndOpen);
    out.Add(t.m_strName);
    out.Add(Ch('>'));
    out.Add(WriterLits<Ch>::kCrLf);
}

// Every kind but an element; kinds the writer does not know give nothing.
template <class Ch>
void AppendLeaf(TextOut<Ch>& out, const BasicXmlTag<Ch>& t) {
    typedef WriterLits<Ch> L;
    switch (t.m_nTagType) {
    case XMLTAG_PI:
        PutIndent(out, t.m_nLevel);
        out.Add(L::kPiOpen);
        out.Add(t.m_strName);
        AppendOptions(out, t);
        out.Add(L::kPiClose);
        return;
    case XMLTAG_COMMENT:
        PutIndent(out, t.m_nLevel);
        out.Add(L::kCommentOpen);
        out.Add(t.m_strName);
        out.Add(L::kCommentClose);
        return;
    case XMLTAG_TEXT: out.AddEncoded(t.m_strName); return;
    case XMLTAG_CDATA:
        out.Add(L::kCDataOpen);
        out.Add(t.m_strName);
        out.Add(L::kCDataClose);
        return;
    case XMLTAG_DECLARE:
        out.Add(L::kDeclOpen);
        out.Add(t.m_strName);
        out.Add(L::kDeclClose);
        return;
    default: return;
    }
}

// Appends the node with nDepth levels of descendants, depth first without
// recursion. (When memory for the walk runs out, an element is written
// without its children.)
template <class Ch>
void AppendTree(TextOut<Ch>& out, const BasicXmlTag<Ch>& root, int nDepth) {
    typedef typename XmlClasses<Ch>::Tag Tag;
    struct Frame {
        const BasicXmlTag<Ch>* t;
        int i;
        int nDepth;  // of this element: its children get one less
    };
    if (nDepth < 0) return;
    if (root.m_nTagType != XMLTAG_ELEMENT) {
        AppendLeaf(out, root);
        return;
    }
    AppendStart(out, root);
    if (root.m_arySubTag.GetSize() == 0) return;
    if (nDepth == 0) {
        AppendEnd(out, root);
        return;
    }
    WalkStack<Frame> stack;
    Frame cur = {&root, 0, nDepth};
    for (;;) {
        if (cur.i == cur.t->m_arySubTag.GetSize()) {
            AppendEnd(out, *cur.t);
            if (stack.Empty()) return;
            cur = stack.Top();
            stack.Pop();
            continue;
        }
        const Tag& c = cur.t->m_arySubTag[cur.i++];
        if (c.m_nTagType != XMLTAG_ELEMENT) {
            AppendLeaf(out, c);
            continue;
        }
        AppendStart(out, c);
        if (c.m_arySubTag.GetSize() == 0) continue;
        if (cur.nDepth - 1 == 0 || !stack.Push(cur)) {
            AppendEnd(out, c);
            continue;
        }
        cur = Frame{&c, 0, cur.nDepth - 1};
    }
}

inline void WriteUnits(void* hFile, const char* p, int n) { API_WriteFile(hFile, p, static_cast<DWORD>(n)); }

// 16-bit text goes to files as UTF-16 little-endian code units.
inline void WriteUnits(void* hFile, const unsigned short* p, int n) {
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

template <class Ch>
void Write(void* hFile, const TextOut<Ch>& text) {
    if (text.Length() > 0) WriteUnits(hFile, text.Data(), text.Length());
}

}  // namespace
}  // namespace detail

template <class Ch>
int BasicTagOption<Ch>::ToString(BasicString<Ch>& strOut) const {
    strOut.Empty();
    if (m_strName.IsEmpty()) return 0;
    detail::TextOut<Ch> out(strOut);
    detail::AppendOption(out, *this);
    return out.Full() ? 0 : 1;
}

// Writing a node cannot fail but for its size: only an element could,
// through a child, and no kind of node fails by itself.
template <class Ch>
int BasicXmlTag<Ch>::ToString(BasicString<Ch>& strOut, int nDepth) const {
    strOut.Empty();
    if (nDepth < 0) return 1;
    detail::TextOut<Ch> out(strOut);
    detail::AppendTree(out, *this, nDepth);
    return out.Full() ? 0 : 1;
}

// The same characters as the string form, written as the start tag, each
// child's whole text, and the end tag.
template <class Ch>
int BasicXmlTag<Ch>::ToString(void* hFile, int nDepth) const {
    if (nDepth < 0) return 1;
    BasicString<Ch> piece;
    detail::TextOut<Ch> out(piece);
    if (m_nTagType != XMLTAG_ELEMENT) {
        detail::AppendLeaf(out, *this);
        if (out.Full()) return 0;
        detail::Write(hFile, out);
        return 1;
    }
    detail::AppendStart(out, *this);
    if (out.Full()) return 0;
    detail::Write(hFile, out);
    int n = m_arySubTag.GetSize();
    if (n == 0) return 1;
    if (nDepth > 0) {
        for (int i = 0; i < n; ++i) {
            out.Clear();
            detail::AppendTree(out, m_arySubTag[i], nDepth - 1);
            if (out.Full()) return 0;
            detail::Write(hFile, out);
        }
    }
    out.Clear();
    detail::AppendEnd(out, *this);
    if (out.Full()) return 0;
    detail::Write(hFile, out);
    return 1;
}

template <class Ch>
int BasicAnalXml<Ch>::ToString(BasicString<Ch>& strOut, int nDepth) const {
    strOut.Empty();
    if (nDepth < 0) return 1;
    detail::TextOut<Ch> out(strOut);
    for (int i = 0, n = m_aryTag.GetSize(); i < n && !out.Full(); ++i) detail::AppendTree(out, m_aryTag[i], nDepth);
    return out.Full() ? 0 : 1;
}

template <class Ch>
int BasicAnalXml<Ch>::ToString(void* hFile, int nDepth) const {
    if (nDepth < 0) return 1;
    if (sizeof(Ch) == 2) {
        static const unsigned char kMark[2] = {0xFF, 0xFE};
        API_WriteFile(hFile, kMark, 2);
    }
    for (int i = 0, n = m_aryTag.GetSize(); i < n; ++i)
        if (!m_aryTag[i].ToString(hFile, nDepth)) return 0;
    return 1;
}

template int BasicTagOption<char>::ToString(BasicString<char>&) const;
template int BasicTagOption<unsigned short>::ToString(BasicString<unsigned short>&) const;
template int BasicXmlTag<char>::ToString(BasicString<char>&, int) const;
template int BasicXmlTag<unsigned short>::ToString(BasicString<unsigned short>&, int) const;
template int BasicXmlTag<char>::ToString(void*, int) const;
template int BasicXmlTag<unsigned short>::ToString(void*, int) const;
template int BasicAnalXml<char>::ToString(BasicString<char>&, int) const;
template int BasicAnalXml<unsigned short>::ToString(BasicString<unsigned short>&, int) const;
template int BasicAnalXml<char>::ToString(void*, int) const;
template int BasicAnalXml<unsigned short>::ToString(void*, int) const;

}  // namespace vorlix

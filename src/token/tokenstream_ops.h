// The algorithms of the token data stream, written once for both widths,
// for the stream's own members and for the XML parser.
//
// Every read first saves the position it starts from in a ring so that it
// can be taken back. The stream's own ring (AutoRing) keeps whole
// positions, lines included, in m_aAutoTokStack where the caller can see
// them. A parser that owns its stream privately can use MarkRing instead: it
// keeps only the offsets and reads a line again from the source in the rare
// case a take-back crosses a line, so a read costs no string copy.
#ifndef VORLIX_SRC_TOKEN_TOKENSTREAM_OPS_H
#define VORLIX_SRC_TOKEN_TOKENSTREAM_OPS_H

#include <vorlix/base/file.h>
#include <vorlix/base/text.h>
#include <vorlix/token/tokenstream.h>

#include "../base/token_scan.h"

#include <cstring>
#include <type_traits>

namespace vorlix {
namespace detail {

inline const char* CrLf(const CTokenDataStreamA&) { return "\r\n"; }
inline const unsigned short* CrLf(const CTokenDataStreamU&) {
    static const unsigned short kCrLf[] = {'\r', '\n', 0};
    return kCrLf;
}

inline int ReadMemoryLine(CTokenDataStreamA& s, int nOpt) {
    return Byte_ReadText1Line(s.m_pszText, s.m_curPos.m_dwNextLinePos, s.m_curPos.m_strLine, nOpt);
}
inline int ReadMemoryLine(CTokenDataStreamU& s, int nOpt) {
    return Uni_ReadText1LineEndian(s.m_pszText, s.m_curPos.m_dwNextLinePos, s.m_curPos.m_strLine, nOpt,
                                   s.m_nEndian);
}

inline int ReadFileLine(CTokenDataStreamA& s, int nOpt) { return Byte_Read1Line(s.m_hFile, s.m_curPos.m_strLine, nOpt); }
inline int ReadFileLine(CTokenDataStreamU& s, int nOpt) {
    if (s.m_nEndian == 3) {
        // UTF-8 files are read as bytes and each line converted.
        MString bytes;
        int r = Byte_Read1Line(s.m_hFile, bytes, nOpt);
        s.m_curPos.m_strLine.FromMBC(65001, bytes, bytes.GetLength());
        return r;
    }
    return Uni_Read1LineEndian(s.m_hFile, s.m_curPos.m_strLine, nOpt, s.m_nEndian);
}

inline void InitEncoding(CTokenDataStreamA&) {}
inline void InitEncoding(CTokenDataStreamU& s) { s.m_nEndian = 1; }
inline void CopyEncoding(CTokenDataStreamA&, const CTokenDataStreamA&) {}
inline void CopyEncoding(CTokenDataStreamU& d, const CTokenDataStreamU& s) { d.m_nEndian = s.m_nEndian; }

template <class Stream>
struct TokenStreamOps {
    typedef typename std::remove_reference<decltype(Stream().m_curPos)>::type Item;
    typedef decltype(Item().m_strLine) Str;
    typedef typename Str::CharType Ch;

    // The ring depth in use, kept to the ten slots that exist.
    static int RingSize() {
        int n = Stream::m_nAUTOTOKSTACKSIZE;
        const int slots = static_cast<int>(sizeof(Stream::m_aAutoTokStack) / sizeof(Stream::m_aAutoTokStack[0]));
        return n < 1 ? 1 : (n > slots ? slots : n);
    }

    static void SeekToNextLine(Stream& s) {
        if (!s.m_bMemory) API_SeekFile(s.m_hFile, static_cast<long>(s.m_curPos.m_dwNextLinePos), 0);
    }

    template <class Source>
    static void Init(Stream& s, Source source, unsigned long dwStart, bool bMemory) {
        if (bMemory) {
            s.m_pszText = reinterpret_cast<const Ch*>(source);
            s.m_hFile = nullptr;
        } else {
            s.m_pszText = nullptr;
            s.m_hFile = const_cast<void*>(reinterpret_cast<const void*>(source));
        }
        s.m_bMemory = bMemory ? 1 : 0;
        s.m_curPos.SetPos(dwStart, dwStart, dwStart, nullptr);
        s.m_aryTokStack.SetSize(0, 5);
        s.m_nAutoTokStackPos = 0;
        InitEncoding(s);
    }

    static void Copy(Stream& d, const Stream& s) {
        if (&d == &s) return;
        d.m_pszText = s.m_pszText;
        d.m_hFile = s.m_hFile;
        d.m_bMemory = s.m_bMemory;
        d.m_curPos = s.m_curPos;
        d.m_aryTokStack.Copy(s.m_aryTokStack);
        d.m_aryTokStack.m_nGrowBy = 5;
        CopyEncoding(d, s);
        d.m_nAutoTokStackPos = s.m_nAutoTokStackPos;
        for (int i = 0; i < 10; ++i) d.m_aAutoTokStack[i] = s.m_aAutoTokStack[i];
    }

    static int GetLine(Stream& s, int nOpt) {
        Item& cur = s.m_curPos;
        ClearKeepingBuffer(cur.m_strLine);
        // A stream without a source is at the end of its data.
        if (s.m_bMemory ? s.m_pszText == nullptr : s.m_hFile == nullptr) return 0;
        int r;
        for (;;) {
            cur.m_dwCurLinePos = cur.m_dwNextLinePos;
            if (s.m_bMemory) {
                r = ReadMemoryLine(s, nOpt ? nOpt : 1);
            } else {
                r = ReadFileLine(s, nOpt ? nOpt : 1);
                long at = API_SeekFile(s.m_hFile, 0, 1);
                if (at >= 0) cur.m_dwNextLinePos = static_cast<unsigned long>(at);
            }
            if (!r || nOpt || !cur.m_strLine.IsEmpty()) break;
        }
        if (r) cur.m_dwColumn = 0;
        return r;
    }

    // The stream's own ring of whole positions.
    struct AutoRing {
        explicit AutoRing(Stream&) {}
        void Push(Stream& s) { PushAuto(s); }
        void Pop(Stream& s, int nCount) { PopAuto(s, nCount); }
    };

    // A ring of offsets only, for a stream nobody else sees. Taking back a
    // read restores the column, and reads the line at the saved offset
    // again when the read had moved on to another line.
    //
    // In file mode the stream reads from wherever the file pointer stands,
    // and its positions may start from another count (a caller may count
    // from 0 after a byte-order mark it has read). Every line after the
    // first starts where the file pointer was found after the one before,
    // so only the first line cannot be found by its position: when the two
    // differ, the ring keeps that line itself.
    class MarkRing {
    public:
        explicit MarkRing(Stream& s) : m_dwStart(s.m_curPos.m_dwNextLinePos) {
            if (!s.m_bMemory && s.m_hFile)
                m_bKeepFirst = API_SeekFile(s.m_hFile, 0, 1) != static_cast<long>(m_dwStart);
        }
        void Push(Stream& s) {
            const Item& cur = s.m_curPos;
            Mark& m = m_marks[m_nPos];
            m.cur = cur.m_dwCurLinePos;
            m.next = cur.m_dwNextLinePos;
            m.col = cur.m_dwColumn;
            m_nPos = (m_nPos + 1) % kSlots;
            if (m_bKeepFirst && m.cur == m_dwStart && m.next != m_dwStart) m_firstLine = cur.m_strLine;
        }
        void Pop(Stream& s, int nCount) {
            int i = (m_nPos - nCount % kSlots + kSlots) % kSlots;
            m_nPos = i;
            const Mark& m = m_marks[i];
            Item& cur = s.m_curPos;
            if (m.cur != cur.m_dwCurLinePos || m.next != cur.m_dwNextLinePos) {
                if (m.cur == m.next) {
                    // Before the first line, or at the end of the data.
                    cur.m_strLine.Empty();
                } else if (m_bKeepFirst && m.cur == m_dwStart) {
                    cur.m_strLine = m_firstLine;
                } else {
                    cur.m_dwNextLinePos = m.cur;
                    SeekToNextLine(s);
                    GetLine(s, 1);
                }
                cur.m_dwCurLinePos = m.cur;
                cur.m_dwNextLinePos = m.next;
            }
            cur.m_dwColumn = m.col;
            SeekToNextLine(s);
        }

    private:
        struct Mark {
            unsigned long cur, next, col;
        };
        static const int kSlots = 16;  // more than a parser takes back at once
        Mark m_marks[kSlots] = {};
        int m_nPos = 0;
        unsigned long m_dwStart;
        bool m_bKeepFirst = false;
        Str m_firstLine;
    };

    static void PushAuto(Stream& s) {
        int size = RingSize();
        int i = s.m_nAutoTokStackPos;
        if (i < 0 || i >= size) i = 0;
        s.m_aAutoTokStack[i] = s.m_curPos;
        if (++i >= size) i = 0;
        s.m_nAutoTokStackPos = i;
    }

    static void PopAuto(Stream& s, int nCount) {
        int size = RingSize();
        long long i = static_cast<long long>(s.m_nAutoTokStackPos) - nCount;
        if (i < 0) i += size;
        if (i < 0) i = 0;
        if (i >= size) i %= size;  // a negative count moves forward round the ring
        s.m_nAutoTokStackPos = static_cast<int>(i);
        s.m_curPos = s.m_aAutoTokStack[i];
        SeekToNextLine(s);
    }

    template <class Ring>
    static int GetToken(Stream& s, Ring& ring, Str& tok, const SepSet<Ch>& delims, int& nDelim) {
        ring.Push(s);
        Item& cur = s.m_curPos;
        for (;;) {
            if (cur.m_dwColumn <= static_cast<unsigned long>(cur.m_strLine.GetLength())) {
                long r = TokenInSet<Ch>(cur.m_strLine, static_cast<long>(cur.m_dwColumn), tok, delims, nDelim, -1, 3);
                if (r >= 0) {
                    cur.m_dwColumn = static_cast<unsigned long>(r);
                    return 1;
                }
            }
            if (!GetLine(s, 0)) {
                ring.Pop(s, 1);
                return 0;
            }
        }
    }

    // GetToken without the copy: the token is left in the current line, at
    // p for n characters, valid until the stream reads another line.
    template <class Ring>
    static int GetTokenSpan(Stream& s, Ring& ring, const Ch*& p, int& n, const SepSet<Ch>& delims, int& nDelim) {
        ring.Push(s);
        Item& cur = s.m_curPos;
        for (;;) {
            if (cur.m_dwColumn <= static_cast<unsigned long>(cur.m_strLine.GetLength())) {
                const Ch* line = cur.m_strLine;
                long start;
                long r = TokenSpanInSet<Ch>(line, static_cast<long>(cur.m_dwColumn), start, delims, nDelim, -1, 3);
                if (r >= 0) {
                    cur.m_dwColumn = static_cast<unsigned long>(r);
                    p = line + start;
                    n = static_cast<int>(r - start);
                    return 1;
                }
            }
            if (!GetLine(s, 0)) {
                ring.Pop(s, 1);
                p = nullptr;
                n = 0;
                return 0;
            }
        }
    }

    static int GetToken(Stream& s, Str& tok, const Ch* delims, int& nDelim) {
        AutoRing ring(s);
        return GetToken(s, ring, tok, SepSet<Ch>(delims), nDelim);
    }

    static int GetTokenTest(Stream& s, Str& tok, const Ch* delims, int& nDelim) {
        PushStack(s);
        int r = GetToken(s, tok, delims, nDelim);
        PopStack(s);
        return r;
    }

    template <class Ring>
    static int ToDelimChar(Stream& s, Ring& ring, Ch cDelim, Str& tok, int bMultiLine, int bIncludeDelim) {
        ring.Push(s);
        ClearKeepingBuffer(tok);
        Item& cur = s.m_curPos;
        for (;;) {
            const Ch* line = cur.m_strLine;
            unsigned long len = static_cast<unsigned long>(cur.m_strLine.GetLength());
            // Plain characters go over in one run.
            unsigned long run = cur.m_dwColumn;
            while (run < len && line[run] && line[run] != '\\' && line[run] != cDelim) ++run;
            if (run > cur.m_dwColumn) {
                tok.Append(line + cur.m_dwColumn, static_cast<int>(run - cur.m_dwColumn));
                cur.m_dwColumn = run;
            }
            Ch c = cur.m_dwColumn < len ? line[cur.m_dwColumn] : Ch(0);
            ++cur.m_dwColumn;
            if (c == 0) {
                if (!bMultiLine) {
                    ring.Pop(s, 1);
                    return 0;
                }
                // Stays at the end of the data when no line is left.
                for (;;) {
                    if (!GetLine(s, 1)) return 0;
                    if (!cur.m_strLine.IsEmpty()) break;
                    tok += CrLf(s);
                }
                continue;
            }
            if (c == '\\') {
                tok += c;
                if (cur.m_dwColumn >= len) {
                    ring.Pop(s, 1);
                    return 0;
                }
                tok += line[cur.m_dwColumn];
                ++cur.m_dwColumn;
                continue;
            }
            // c is the delimiter.
            if (bIncludeDelim) tok += c;
            else --cur.m_dwColumn;
            return 1;
        }
    }

    static int ToDelimChar(Stream& s, Ch cDelim, Str& tok, int bMultiLine, int bIncludeDelim) {
        AutoRing ring(s);
        return ToDelimChar(s, ring, cDelim, tok, bMultiLine, bIncludeDelim);
    }

    template <class Ring>
    static int ToDelimStr(Stream& s, Ring& ring, const Ch* delim, Str& tok, int bMultiLine, int bIncludeDelim) {
        ring.Push(s);
        ClearKeepingBuffer(tok);
        Item& cur = s.m_curPos;
        int dlen = StrLen(delim);
        for (;;) {
            const Ch* line = cur.m_strLine;
            int len = cur.m_strLine.GetLength();
            int col = cur.m_dwColumn > static_cast<unsigned long>(len) ? len : static_cast<int>(cur.m_dwColumn);
            int i = cur.m_strLine.Find(delim, col);
            if (i >= 0) {
                int end = bIncludeDelim ? i + dlen : i;
                tok.Append(line + col, end - col);
                cur.m_dwColumn = static_cast<unsigned long>(end);
                return 1;
            }
            if (!bMultiLine) break;
            tok.Append(line + col, len - col);
            // A stream that has not read a line yet (its line starts where
            // the next one will) crosses no line break to reach the first.
            if (cur.m_dwCurLinePos != cur.m_dwNextLinePos || len > 0) tok += CrLf(s);
            if (!GetLine(s, 1)) break;
        }
        ring.Pop(s, 1);
        return 0;
    }

    static int ToDelimStr(Stream& s, const Ch* delim, Str& tok, int bMultiLine, int bIncludeDelim) {
        AutoRing ring(s);
        return ToDelimStr(s, ring, delim, tok, bMultiLine, bIncludeDelim);
    }

    static int ReadChar(Stream& s, Str& out, int nCount) {
        PushAuto(s);
        Item& cur = s.m_curPos;
        if (nCount < 0) nCount = 0;
        int len = cur.m_strLine.GetLength();
        int col = cur.m_dwColumn > static_cast<unsigned long>(len) ? len : static_cast<int>(cur.m_dwColumn);
        int avail = len - col;
        if (avail >= nCount) {
            out = cur.m_strLine.Mid(col, nCount);
            cur.m_dwColumn = static_cast<unsigned long>(col + nCount);
            return 1;
        }
        out = cur.m_strLine.Mid(col, avail);
        cur.m_dwColumn = static_cast<unsigned long>(col + avail);
        int rest = nCount - avail;
        for (;;) {
            if (!GetLine(s, 0)) {
                PopAuto(s, 1);
                return 0;
            }
            int n = cur.m_strLine.GetLength();
            if (n < rest) {
                out += cur.m_strLine;
                rest -= n;
                continue;
            }
            out.Append(cur.m_strLine, rest);
            cur.m_dwColumn = static_cast<unsigned long>(rest);
            return 1;
        }
    }

    static int ReadTest(Stream& s, Str& out, int nCount) {
        if (!ReadChar(s, out, nCount)) return 0;
        PopAuto(s, 1);
        return 1;
    }

    static void SkipCurLine(Stream& s, Str& rest) {
        PushAuto(s);
        Item& cur = s.m_curPos;
        int len = cur.m_strLine.GetLength();
        rest = cur.m_dwColumn < static_cast<unsigned long>(len) ? cur.m_strLine.Mid(static_cast<int>(cur.m_dwColumn))
                                                                 : Str();
        cur.m_dwColumn = static_cast<unsigned long>(len);
    }

    static void PushStack(Stream& s) { s.m_aryTokStack.Add(s.m_curPos); }

    static void PopStack(Stream& s) {
        int n = s.m_aryTokStack.GetSize();
        if (n == 0) return;
        s.m_curPos = s.m_aryTokStack[n - 1];
        s.m_aryTokStack.RemoveAt(n - 1);
        SeekToNextLine(s);
    }

    static void Rewind(Stream& s, const Item& pos) {
        s.m_curPos = pos;
        SeekToNextLine(s);
    }
};

// The reads of the token data stream over text in memory, for a parser that
// owns its stream privately: lines are taken in place instead of being
// copied into the stream's line, and a read that stays within one line
// gives its token as a span of the text. Each read saves the whole position
// (line start, next line, column and line length) in a ring of its own, so
// taking reads back costs nothing. Positions and results are those of the
// stream's own reads from the same state.
//
// The text is read as it lies in memory: 8-bit text, or 16-bit text in the
// platform's byte order.
template <class Ch>
class TextCursor {
public:
    typedef BasicString<Ch> Str;

    // Starts from a stream position that has no line yet.
    TextCursor(const Ch* text, unsigned long dwCur, unsigned long dwNext, unsigned long dwColumn)
        : m_text(text), m_line(text), m_cur(dwCur), m_next(dwNext), m_col(dwColumn) {}

    unsigned long GetTokenPos() const { return m_cur + m_col; }
    const Ch* Line() const { return m_line; }
    unsigned long LineLength() const { return m_len; }
    unsigned long Column() const { return m_col; }
    void SetColumn(unsigned long col) { m_col = col; }

    int GetToken(const Ch*& p, int& n, const SepSet<Ch>& delims, int& nDelim) {
        Push();
        for (;;) {
            // The scan of TokenSpanInSet with every blank only separating,
            // over a line that holds no NUL.
            const Ch* line = m_line;
            unsigned long len = m_len;
            for (unsigned long i = m_col; i < len; ++i) {
                unsigned u = ScanUnit(line[i]);
                if (IsBlank(u)) continue;
                int place = delims.IndexOf(u);
                unsigned long end = i + 1;
                nDelim = place;
                if (place < 0)
                    while (end < len && !delims.Has(ScanUnit(line[end]))) ++end;
                m_col = end;
                p = line + i;
                n = static_cast<int>(end - i);
                return 1;
            }
            if (!GetLine(0)) {
                Back(1);
                p = nullptr;
                n = 0;
                nDelim = -1;
                return 0;
            }
        }
    }

    void Back(int nCount) {
        int i = (m_nPos - nCount % kSlots + kSlots) % kSlots;
        m_nPos = i;
        // Most take-backs stay on the line: its fields are left untouched
        // then, so that the next save does not wait on fresh stores.
        if (m_curs[i] != m_cur || m_nexts[i] != m_next) {
            m_cur = m_curs[i];
            m_next = m_nexts[i];
            m_len = m_lens[i];
            if (m_text) m_line = m_text + m_cur;
        }
        m_col = m_cols[i];
    }

    // Up to cDelim within the current line, a backslash taking the
    // character after it along; the token runs from the column to the
    // delimiter, which it includes when bIncludeDelim is set.
    int ToDelimCharInLine(Ch cDelim, const Ch*& p, int& n, int bIncludeDelim) {
        Push();
        unsigned long start = m_col;
        for (;;) {
            unsigned long run = m_col;
            while (run < m_len && m_line[run] != '\\' && m_line[run] != cDelim) ++run;
            if (run > m_col) m_col = run;
            Ch c = m_col < m_len ? m_line[m_col] : Ch(0);
            ++m_col;
            if (c == 0) {
                Back(1);
                return 0;
            }
            if (c == '\\') {
                if (m_col >= m_len) {
                    Back(1);
                    return 0;
                }
                ++m_col;
                continue;
            }
            if (!bIncludeDelim) --m_col;
            p = m_line + start;
            n = static_cast<int>(m_col - start);
            return 1;
        }
    }

    // Up to the text delim across lines, each line break counted as CR LF.
    // A token within one line is a span of the text; one that crosses
    // lines is built in buf.
    int ToDelimStr(const Ch* delim, Str& buf, const Ch*& p, int& n, int bIncludeDelim) {
        Push();
        bool bInBuf = false;
        int dlen = StrLen(delim);
        for (;;) {
            unsigned long col = m_col > m_len ? m_len : m_col;
            long i = Find(m_line, static_cast<long>(m_len), static_cast<long>(col), delim, dlen);
            if (i >= 0) {
                unsigned long end = static_cast<unsigned long>(bIncludeDelim ? i + dlen : i);
                if (bInBuf) {
                    buf.Append(m_line + col, static_cast<int>(end - col));
                    p = buf;
                    n = buf.GetLength();
                } else {
                    p = m_line + col;
                    n = static_cast<int>(end - col);
                }
                m_col = end;
                return 1;
            }
            if (!bInBuf) {
                ClearKeepingBuffer(buf);
                bInBuf = true;
            }
            buf.Append(m_line + col, static_cast<int>(m_len - col));
            if (m_cur != m_next || m_len > 0) {
                static const Ch kCrLf[] = {'\r', '\n'};
                buf.Append(kCrLf, 2);
            }
            if (!GetLine(1)) break;
        }
        Back(1);
        return 0;
    }

private:
    static const int kSlots = 16;  // more than a parser takes back at once

    // Each field goes to an array of its own: saved as one block, the
    // fields would be loaded as one wide value, which the processor cannot
    // take from the narrower stores that just wrote them, and has to wait.
    void Push() {
        int i = m_nPos;
        m_curs[i] = m_cur;
        m_nexts[i] = m_next;
        m_lens[i] = m_len;
        m_cols[i] = m_col;
        m_nPos = (i + 1) % kSlots;
    }

    // The next line, or with nOpt 0 the next line that is not empty.
    int GetLine(int nOpt) {
        m_len = 0;
        if (!m_text) return 0;
        int r;
        for (;;) {
            m_cur = m_next;
            r = ReadLine();
            if (!r || nOpt || m_len != 0) break;
        }
        if (r) m_col = 0;
        return r;
    }

    // A line ends at CR, LF or CR LF; the data ends at its NUL.
    int ReadLine() {
        const Ch* p = m_text + m_next;
        m_line = p;
        if (*p == 0) {
            m_len = 0;
            return 0;
        }
        std::size_t n = LineEnd(p);
        m_len = static_cast<unsigned long>(n);
        m_next += static_cast<unsigned long>(n);
        if (p[n] == '\r') {
            ++m_next;
            if (p[n + 1] == '\n') ++m_next;
        } else if (p[n] == '\n') {
            ++m_next;
        }
        return 1;
    }

    static std::size_t LineEnd(const char* p) { return std::strcspn(p, "\r\n"); }
    static std::size_t LineEnd(const unsigned short* p) {
        std::size_t n = 0;
        for (unsigned short u; (u = p[n]) != 0 && u != '\r' && u != '\n';) ++n;
        return n;
    }

    // The first place at or after from where the text sub (of m units)
    // starts within the first len units of text, or -1.
    static long Find(const Ch* text, long len, long from, const Ch* sub, int m) {
        if (m == 0) return from;
        if (m > len - from) return -1;
        const Ch* last = text + (len - m);
        for (const Ch* q = text + from; q <= last; ++q) {
            if (sizeof(Ch) == 1) {
                q = static_cast<const Ch*>(std::memchr(q, static_cast<unsigned char>(sub[0]),
                                                       static_cast<std::size_t>(last - q) + 1));
                if (!q) return -1;
            } else if (*q != sub[0]) {
                continue;
            }
            if (std::memcmp(q + 1, sub + 1, static_cast<std::size_t>(m - 1) * sizeof(Ch)) == 0)
                return static_cast<long>(q - text);
        }
        return -1;
    }

    const Ch* m_text;
    const Ch* m_line;
    unsigned long m_cur, m_next, m_col;
    unsigned long m_len = 0;
    unsigned long m_curs[kSlots] = {};
    unsigned long m_nexts[kSlots] = {};
    unsigned long m_lens[kSlots] = {};
    unsigned long m_cols[kSlots] = {};
    int m_nPos = 0;
};

}  // namespace detail
}  // namespace vorlix

#endif

// The two readers of the XML parser. The parser is one template over its
// reader, and the entry points choose the reader by type:
// - StreamReader: a token data stream the caller owns (CXmlTag::FromString,
//   CTagOption::FromString). Every read goes through the stream's own
//   operations, ring included, so the stream is left exactly as those
//   reads leave it.
// - DocReader: the document's private reader over a line source
//   (CAnalXml::FromString): text in memory in place, or decoded lines of a
//   file or of 16-bit text in memory. It runs the same shared reads
//   (token_reads.h) with a compact ring of offsets instead of whole
//   positions, and gives tokens as spans instead of copies. Before each
//   callback the document brings its stream's position up to date from it
//   (SyncPosition), so that a callback sees where the parse stands.
//
// Both give tokens and runs as Spans: of the current line, valid until a
// read moves on to another line, or of the reader's own buffer, valid
// until its next read. A DocReader over text in memory gives spans of the
// text itself, valid to the end of the parse (kStableText).
#ifndef VORLIX_SRC_XML_XML_READER_H
#define VORLIX_SRC_XML_XML_READER_H

#include <vorlix/base/string.h>
#include <vorlix/token/tokenstream.h>

#include "../base/length.h"
#include "../base/lines.h"
#include "../base/token_scan.h"
#include "../token/token_reads.h"
#include "xml_text.h"

#include <cstdint>
#include <cstring>

namespace vorlix {
namespace detail {

// Characters of a line, the text or a reader's buffer; no NUL.
template <class Ch>
struct Span {
    const Ch* p = nullptr;
    int n = 0;
    // Equal to the text b of nb characters, ignoring the case of ASCII
    // letters.
    bool IsNoCase(const Ch* b, int nb) const {
        if (nb != n) return false;
        if (std::memcmp(p, b, static_cast<std::size_t>(n) * sizeof(Ch)) == 0) return true;  // mostly the same case
        for (int i = 0; i < n; ++i)
            if (Fold(p[i]) != Fold(b[i])) return false;
        return true;
    }
    static unsigned Fold(Ch c) {
        unsigned u = ScanUnit(c);
        return u >= 'A' && u <= 'Z' ? u + ('a' - 'A') : u;
    }
};

// A delimiter set: its text (never null; for the stream's own operations) and its
// table, built once.
template <class Ch>
struct Delims {
    constexpr explicit Delims(const Ch* pszText) : text(pszText), set(pszText, typename SepSet<Ch>::Given{}) {}
    const Ch* text;
    SepSet<Ch> set;
};

// The output of a delimiter read as a span: what stays contiguous in the
// text is a span of it; otherwise the pieces are gathered in buf.
template <class Ch>
class SpanOut {
public:
    explicit SpanOut(BasicString<Ch>& buf) : m_buf(buf) {}
    void Clear() {
        m_p = nullptr;
        m_n = 0;
        m_bInBuf = false;
    }
    bool Append(const Ch* p, int n) {
        if (!m_bInBuf) {
            if (!m_p) {
                m_p = p;
                m_n = n;
                return true;
            }
            if (p == m_p + m_n) {
                m_n += n;
                return true;
            }
            ClearKeepingBuffer(m_buf);
            m_buf.Append(m_p, m_n);
            m_bInBuf = true;
        }
        if (CheckedLength<Ch>(static_cast<long long>(m_buf.GetLength()) + n) < 0) return false;
        m_buf.Append(p, n);
        return true;
    }
    void Get(Span<Ch>& out) const {
        if (m_bInBuf) {
            out.p = m_buf;
            out.n = m_buf.GetLength();
        } else {
            out.p = m_p ? m_p : static_cast<const Ch*>(m_buf);
            out.n = m_n;
        }
    }

private:
    BasicString<Ch>& m_buf;
    const Ch* m_p = nullptr;
    int m_n = 0;
    bool m_bInBuf = false;
};

// Character data from its first token (just read) up to the next "<", which
// is left unread, across lines: the token followed by what the stream's
// GetTokenToDelimStr("<") gives. out is a span of the text when the two
// lie in one piece, else of buf; either way the character after it is "<"
// or NUL. 1, 0 when no "<" follows, kRunTooLong when the whole would be
// longer than a string can hold.
template <class R, class Ch>
int ReadTextRun(R& r, const Span<Ch>& tok, BasicString<Ch>& buf, Span<Ch>& out) {
    static constexpr Ch kLt[2] = {'<', 0};
    // A reader's line may go with the next read, its text may not.
    if (!R::kStableText) buf.SetString(tok.p, tok.n);
    Span<Ch> run;
    if (!r.ToDelimStr(kLt, 1, run, 0)) return 0;
    if (CheckedLength<Ch>(static_cast<long long>(tok.n) + run.n) < 0) return kRunTooLong;
    if (run.p == tok.p + tok.n) {
        out.p = tok.p;
        out.n = tok.n + run.n;
        return 1;
    }
    if (R::kStableText) buf.SetString(tok.p, tok.n);
    buf.Append(run.p, run.n);
    out.p = buf;
    out.n = buf.GetLength();
    return 1;
}

// The parser's reads over a stream the caller owns, through the stream's
// public operations.
template <class Ch>
class StreamReader {
public:
    typedef typename TokenClasses<Ch>::Stream Stream;
    static const bool kStableText = false;
    // Every read goes through the stream: no look-ahead may stand in for
    // a read and its taking back, since the stream's ring shows the
    // difference.
    static const bool kExact = true;

    explicit StreamReader(Stream* s) : m_s(s) {}

    int GetToken(Span<Ch>& tok, const Delims<Ch>& d, int& nDelim) {
        int r = m_s->GetToken(m_tok, d.text, nDelim);
        tok.p = m_tok;
        tok.n = r ? m_tok.GetLength() : 0;
        return r;
    }
    // A token that may begin character data: here a whole token, as the
    // stream reads it.
    int GetTokenOrText(Span<Ch>& tok, const Delims<Ch>& d, int& nDelim) { return GetToken(tok, d, nDelim); }
    void FinishWord(Span<Ch>&) {}
    void GetTokenBack(int nCount) { m_s->GetTokenBack(nCount); }
    // A double-quoted value after its opening quote, the closing quote
    // included; within the line.
    int ToQuote(Span<Ch>& out) { return Spans(m_s->GetTokenToDelimChar(Ch('"'), m_buf, 0, 1), out); }
    // Up to the text delim, across lines.
    int ToDelimStr(const Ch* delim, int, Span<Ch>& out, int bInclude) {
        return Spans(m_s->GetTokenToDelimStr(delim, m_buf, 1, bInclude), out);
    }
    // Character data from its first token on (ReadTextRun); what it holds
    // is left to be found out (nForm stays kTextUnknown).
    int TextRun(const Span<Ch>& tok, BasicString<Ch>& buf, Span<Ch>& out, int&) {
        return ReadTextRun(*this, tok, buf, out);
    }
    unsigned long GetTokenPos() { return m_s->GetTokenPos(); }
    // The current line and column, for a look ahead after a token (the
    // column then lies within the line).
    const Ch* Line() const { return m_s->m_curPos.m_strLine; }
    int LineLength() const { return m_s->m_curPos.m_strLine.GetLength(); }
    unsigned long Column() const { return m_s->m_curPos.m_dwColumn; }
    void SetColumn(unsigned long col) { m_s->m_curPos.m_dwColumn = col; }
    // The stream ends its data at a line too long to hold.
    bool TooLong() const { return false; }
    // The stream is where the parse stands already.
    void Sync() {}

private:
    int Spans(int r, Span<Ch>& out) {
        out.p = m_buf;
        out.n = m_buf.GetLength();
        return r;
    }
    Stream* m_s;
    BasicString<Ch> m_tok;
    BasicString<Ch> m_buf;
};

// The document's private reader over a line source: the reads of the
// token data stream from the same state give the same tokens, runs and
// positions.
template <class Source>
class DocReader {
public:
    typedef typename Source::Char Char;
    typedef Char Ch;
    static const bool kStableText = Source::kInPlace;
    static const bool kExact = false;

    // Starts at dwStart like a stream there (no line yet). bKeepFirst:
    // the first line cannot be read again at its position (a file whose
    // positions count from another place than its offsets), so a take-back
    // to it keeps the line itself.
    DocReader(const Source& src, unsigned long dwStart, bool bKeepFirst)
        : m_src(src), m_cur(dwStart), m_next(dwStart), m_col(dwStart), m_dwStart(dwStart), m_bKeepFirst(bKeepFirst) {}

    // ---- the cursor of the shared reads ----
    const Ch* Line() const { return m_line; }
    int LineLength() const { return m_len; }
    unsigned long Column() const { return m_col; }
    void SetColumn(unsigned long col) { m_col = col; }
    bool LineStarted() const { return m_cur != m_next || m_len > 0; }

    // The next line, or with nOpt 0 the next one that is not empty.
    int NextLine(int nOpt) {
        int r;
        for (;;) {
            m_cur = m_next;
            if constexpr (Source::kInPlace) {
                // The line's end is looked for in blocks as far as the text
                // is known: a line's worth beyond its start at least.
                const Ch* text = m_src.Text();
                r = m_src.Read(m_next, m_buf, m_line, m_len, text ? KnownTo(text + m_next, kLineLook) : nullptr);
            } else {
                r = m_src.Read(m_next, m_buf, m_line, m_len);
            }
            if (r != kLine) break;
            if (m_bKeepFirst && m_cur == m_dwStart && m_next != m_dwStart) m_first.SetString(m_line, m_len);
            if (nOpt || m_len != 0) break;
        }
        if (r == kLine) {
            m_col = 0;
            return 1;
        }
        if (r == kLineTooLong) m_bTooLong = true;
        m_line = Empty();
        m_len = 0;
        return 0;
    }

    // Each field goes to an array of its own: saved as one block, the
    // fields would be loaded as one wide value, which the processor cannot
    // take from the narrower stores that just wrote them, and has to wait.
    void Save() {
        unsigned i = m_nPos;
        m_curs[i] = m_cur;
        m_nexts[i] = m_next;
        m_lens[i] = m_len;
        m_cols[i] = m_col;
        m_nPos = (i + 1) & (kSlots - 1);
    }

    // nCount is small and not negative (the parser takes back at most five
    // reads).
    void Restore(int nCount) {
        unsigned i = (m_nPos - static_cast<unsigned>(nCount)) & (kSlots - 1);
        m_nPos = i;
        // Most take-backs stay on the line: its fields are left untouched
        // then, so that the next save does not wait on fresh stores.
        if (m_curs[i] != m_cur || m_nexts[i] != m_next) {
            m_cur = m_curs[i];
            m_next = m_nexts[i];
            m_len = m_lens[i];
            if (m_cur == m_next) {
                // Before the first line, or at the end of the data.
                m_line = Empty();
                m_len = 0;
            } else if constexpr (Source::kInPlace) {
                m_line = m_src.Text() + m_cur;
            } else if (m_bKeepFirst && m_cur == m_dwStart) {
                m_line = m_first;
                m_len = m_first.GetLength();
            } else {
                // Read the line again where it began.
                unsigned long pos = m_cur;
                m_src.Seek(pos);
                if (m_src.Read(pos, m_buf, m_line, m_len) != kLine) {
                    m_line = Empty();
                    m_len = 0;
                }
            }
            m_src.Seek(m_next);
        }
        m_col = m_cols[i];
    }

    // ---- the parser's reads ----
    VORLIX_INLINE int GetToken(Span<Ch>& tok, const Delims<Ch>& d, int& nDelim) {
        long start, end;
        if (!ReadToken(*this, d.set, start, end, nDelim)) {
            tok.p = nullptr;
            tok.n = 0;
            return 0;
        }
        tok.p = m_line + start;
        tok.n = static_cast<int>(end - start);
        return 1;
    }
    // A token that may begin character data. Over text in memory a word is
    // read up to its first character only: the parser reads the run from
    // the token's start anyway (TextRun), and whatever reads on from the
    // column gets the same text. FinishWord makes the token and the
    // position what GetToken gives, for a word that turns out not to begin
    // character data.
    VORLIX_INLINE int GetTokenOrText(Span<Ch>& tok, const Delims<Ch>& d, int& nDelim) {
        if constexpr (!Source::kInPlace) {
            return GetToken(tok, d, nDelim);
        } else {
            long start, end;
            if (!ReadToken<true>(*this, d.set, start, end, nDelim)) {
                tok.p = nullptr;
                tok.n = 0;
                return 0;
            }
            tok.p = m_line + start;
            tok.n = static_cast<int>(end - start);
            m_pWordSet = nDelim < 0 ? &d.set : nullptr;
            return 1;
        }
    }
    void FinishWord(Span<Ch>& tok) {
        if (!m_pWordSet) return;
        long end = WordEnd(m_line, static_cast<long>(m_col), m_len, *m_pWordSet);
        tok.n += static_cast<int>(end - static_cast<long>(m_col));
        m_col = static_cast<unsigned long>(end);
        m_pWordSet = nullptr;
    }
    void GetTokenBack(int nCount) { Restore(nCount); }
    int ToQuote(Span<Ch>& out) {
        SpanOut<Ch> sink(m_run);
        int r = ReadToDelimChar(*this, Ch('"'), sink, 0, 1);
        return Finish(r, sink, out);
    }
    int ToDelimStr(const Ch* delim, int nDelim, Span<Ch>& out, int bInclude) {
        SpanOut<Ch> sink(m_run);
        int r = ReadToDelimStr(*this, delim, nDelim, sink, 1, bInclude);
        return Finish(r, sink, out);
    }
    // Character data from its first token on (ReadTextRun). Over text in
    // memory the run to the "<" is found in one pass over the text instead
    // of line by line, which also tells what it holds (nForm, a TextForm)
    // and where its last line begins: the reader moves to the line of the
    // "<" as the line reads would have left it. What that pass cannot
    // settle (no "<" before the end, a run or a line near the longest
    // string) goes the line by line way.
    int TextRun(const Span<Ch>& tok, BasicString<Ch>& buf, Span<Ch>& out, int& nForm) {
        if constexpr (Source::kInPlace) {
            // The token lies on the current line and holds no "<": the run
            // is scanned from its start, and the line ends it crosses come
            // after the token.
            TextScanner<Ch> scan(tok.p);
            const Ch* lt;
            while (!(lt = scan.Feed(KnownTo(scan.Pos(), kBlockUnits), m_bKnownAll))) {}
            if (*lt == '<' && lt - tok.p <= kMaxLength<Ch> / 2) {
                const RunFacts<Ch>& facts = scan.Facts();
                const Ch* start = facts.pLastEnd ? facts.pLastEnd + 1 : m_line;
                std::size_t len = start == m_line ? static_cast<std::size_t>(m_len)
                                                  : static_cast<std::size_t>(lt - start) + LineLengthWithin(lt, KnownTo(lt, kLineLook));
                if (CheckedLength<Ch>(len) >= 0) {
                    Save();
                    if (start != m_line) {
                        m_line = start;
                        m_len = static_cast<int>(len);
                        m_cur = static_cast<unsigned long>(start - m_src.Text());
                        m_next = m_cur + static_cast<unsigned long>(len + LineEndLength(start + len));
                    }
                    m_col = static_cast<unsigned long>(lt - start);
                    out.p = tok.p;
                    out.n = static_cast<int>(lt - tok.p);
                    nForm = facts.Form();
                    m_pWordSet = nullptr;
                    return 1;
                }
            }
            // The line by line way reads on after the whole word.
            Span<Ch> word = tok;
            FinishWord(word);
            return ReadTextRun(*this, word, buf, out);
        }
        return ReadTextRun(*this, tok, buf, out);
    }
    unsigned long GetTokenPos() const { return m_cur + m_col; }
    // A line, or a run across lines, was longer than a string can hold.
    bool TooLong() const { return m_bTooLong; }

    // The stream position to bring up to date before each callback: the
    // positions and the column, and the line when it is another one than
    // last time.
    void SyncTo(BasicTokPosStackItem<Ch>* pPos) { m_pSync = pPos; }
    void Sync() {
        if (!m_pSync) return;
        BasicTokPosStackItem<Ch>& pos = *m_pSync;
        pos.m_dwCurLinePos = m_cur;
        pos.m_dwNextLinePos = m_next;
        pos.m_dwColumn = m_col;
        if (!m_bSynced || m_syncCur != m_cur || m_syncNext != m_next || pos.m_strLine.GetLength() != m_len) {
            pos.m_strLine.SetString(m_line, m_len);
            m_bSynced = true;
            m_syncCur = m_cur;
            m_syncNext = m_next;
        }
    }

private:
    static const unsigned kSlots = 16;  // a power of two, more than a parser takes back at once

    static const Ch* Empty() {
        static const Ch empty[1] = {0};
        return empty;
    }
    // Text in memory is scanned in blocks of this many units, never past
    // what is known of it.
    static const std::size_t kBlockUnits = 16 / sizeof(Ch);
    // How far the text is known at least, when it must go on for nUnits
    // from p (a place in it): the NUL that ends it is looked for a piece at
    // a time, as far as the scans ask, so a parse that stops early never
    // reads the whole text.
    const Ch* KnownTo(const Ch* p, std::size_t nUnits) {
        if (!m_known) m_known = m_src.Text();
        while (!m_bKnownAll && (m_known < p || static_cast<std::size_t>(m_known - p) < nUnits)) {
            std::size_t n = UnitsBeforeNul(m_known, kKnownStep);
            m_known += n;
            if (n < kKnownStep) {
                m_bKnownAll = true;
                ++m_known;  // the NUL itself can be read
            }
        }
        return m_known;
    }
    static std::size_t UnitsBeforeNul(const char* p, std::size_t nMax) { return strnlen(p, nMax); }
    static std::size_t UnitsBeforeNul(const unsigned short* p, std::size_t nMax) {
        std::size_t n = 0;
        while (n < nMax && p[n]) ++n;
        return n;
    }
    static const std::size_t kKnownStep = std::size_t(1) << 16;
    static const std::size_t kLineLook = 256;
    int Finish(int r, const SpanOut<Ch>& sink, Span<Ch>& out) {
        if (r == kRunTooLong) m_bTooLong = true;
        if (r <= 0) return 0;
        sink.Get(out);
        return 1;
    }

    Source m_src;
    const Ch* m_line = Empty();
    int m_len = 0;
    unsigned long m_cur, m_next, m_col;
    unsigned long m_dwStart;
    bool m_bKeepFirst;
    bool m_bTooLong = false;
    unsigned long m_curs[kSlots] = {};
    unsigned long m_nexts[kSlots] = {};
    int m_lens[kSlots] = {};
    unsigned long m_cols[kSlots] = {};
    unsigned m_nPos = 0;
    BasicString<Ch> m_buf;    // the current line of a source that decodes
    BasicString<Ch> m_run;    // runs that cross lines
    BasicString<Ch> m_first;  // the first line, with bKeepFirst
    const Ch* m_known = nullptr;  // the text holds no NUL before here (null: nothing known yet)
    bool m_bKnownAll = false;     // m_known is one past the NUL that ends the text
    const SepSet<Ch>* m_pWordSet = nullptr;  // the last token, a word read up to its first character, ends at this set
    BasicTokPosStackItem<Ch>* m_pSync = nullptr;
    bool m_bSynced = false;
    unsigned long m_syncCur = 0, m_syncNext = 0;
};

}  // namespace detail
}  // namespace vorlix

#endif

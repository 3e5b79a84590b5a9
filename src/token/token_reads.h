// The reads of the token data stream, written once over an abstract
// position, for the stream's own operations and for the XML parser's
// private reader: a token, the text up to a delimiter character (with
// backslash escapes) and the text up to a delimiter string (across lines,
// one CR LF per line break).
//
// A cursor C is a position in line-by-line text:
//   typedef ... Char;
//   const Char* Line() const; int LineLength() const;  the current line
//   unsigned long Column() const;          its next unread character (a
//   void SetColumn(unsigned long);         column may lie past the line)
//   int NextLine(int nOpt);  reads the next line (nOpt 0: the next one that
//                            is not empty); > 0 when a line was read
//   bool LineStarted() const;  a line has been read, so that moving on to
//                              the next one crosses a line break
//   void Save(); void Restore(int nCount);  save the position before a read
//                                           / take back the last reads
// An output O receives the text of the delimiter reads:
//   void Clear(); bool Append(const Char* p, int n);  false when the text
//                                                      would grow too long
//
// Each read saves the position first. ReadToken and ReadToDelimStr restore
// it when they fail; ReadToDelimChar does unless it ran out of data while
// reading across lines (it then stays at the end of the data). Results: 1
// when read, 0 when not, kRunTooLong when the text would grow longer than a
// string can hold (the position restored and the output emptied).
#ifndef VORLIX_SRC_TOKEN_TOKEN_READS_H
#define VORLIX_SRC_TOKEN_TOKEN_READS_H

#include <vorlix/base/string.h>

#include "../base/length.h"
#include "../base/token_scan.h"

namespace vorlix {
namespace detail {

const int kRunTooLong = -1;

// A token within the current line is read inline in its caller; moving on
// to the next lines is a call.
#if defined(__GNUC__) || defined(__clang__)
#define VORLIX_INLINE inline __attribute__((always_inline))
#define VORLIX_NOINLINE __attribute__((noinline))
#else
#define VORLIX_INLINE inline
#define VORLIX_NOINLINE
#endif

template <class Ch>
struct CrLf {
    static constexpr Ch kText[2] = {'\r', '\n'};
};

// A string as the output of a read: the text gathered so far stays in it
// when the read fails for want of data.
template <class Ch>
class StringOut {
public:
    explicit StringOut(BasicString<Ch>& s) : m_s(s) {}
    void Clear() { ClearKeepingBuffer(m_s); }
    bool Append(const Ch* p, int n) {
        if (n <= 0) return true;
        if (CheckedLength<Ch>(static_cast<long long>(m_s.GetLength()) + n) < 0) return false;
        m_s.Append(p, n);
        return true;
    }

private:
    BasicString<Ch>& m_s;
};

// The token at the cursor's column, when its line holds one (with
// kWordStart a word only up to its first character: ScanToken).
template <bool kWordStart = false, class C>
VORLIX_INLINE bool ScanLine(C& c, const SepSet<typename C::Char>& set, long& start, long& end, int& nDelim) {
    int len = c.LineLength();
    unsigned long col = c.Column();
    if (col > static_cast<unsigned long>(len)) return false;
    long r = ScanToken<kWordStart>(c.Line(), static_cast<long>(col), len, set, true, start, nDelim);
    if (r < 0) return false;
    c.SetColumn(static_cast<unsigned long>(r));
    end = r;
    return true;
}

// ReadToken past the current line: the next lines that are not empty.
template <bool kWordStart = false, class C>
VORLIX_NOINLINE int ReadTokenOnNextLines(C& c, const SepSet<typename C::Char>& set, long& start, long& end,
                                         int& nDelim) {
    for (;;) {
        if (c.NextLine(0) <= 0) {
            c.Restore(1);
            nDelim = -1;
            return 0;
        }
        if (ScanLine<kWordStart>(c, set, start, end, nDelim)) return 1;
    }
}

// The next token, blanks and tabs only separating: it lies in the current
// line from start to end (valid until the next read that may move to
// another line), and nDelim is its place in the set or -1 for a word.
// Tokens never span lines. With kWordStart a word is read up to its first
// character only (ScanToken).
template <bool kWordStart = false, class C>
VORLIX_INLINE int ReadToken(C& c, const SepSet<typename C::Char>& set, long& start, long& end, int& nDelim) {
    c.Save();
    if (ScanLine<kWordStart>(c, set, start, end, nDelim)) return 1;
    return ReadTokenOnNextLines<kWordStart>(c, set, start, end, nDelim);
}

template <class C, class O>
int RefuseRun(C& c, O& out) {
    c.Restore(1);
    out.Clear();
    return kRunTooLong;
}

// The text up to cDelim. A backslash takes the next character along (both
// stay in the text), so an escaped delimiter is not one; a backslash at the
// end of a line fails the read. Across lines (bMultiLine) an empty line
// adds CR LF and a line break before a line with text adds nothing. The
// delimiter is appended and read (bIncludeDelim) or left as the next
// character.
template <class C, class O>
int ReadToDelimChar(C& c, typename C::Char cDelim, O& out, int bMultiLine, int bIncludeDelim) {
    typedef typename C::Char Ch;
    c.Save();
    out.Clear();
    for (;;) {
        const Ch* line = c.Line();
        const unsigned long len = static_cast<unsigned long>(c.LineLength());
        unsigned long col = c.Column();
        // Plain characters go over in one run.
        unsigned long run = col < len ? static_cast<unsigned long>(
                                            FindStop(line, static_cast<long>(col), static_cast<long>(len), Ch('\\'), cDelim))
                                      : col;
        if (run > col) {
            if (!out.Append(line + col, static_cast<int>(run - col))) return RefuseRun(c, out);
            col = run;
        }
        Ch ch = col < len ? line[col] : Ch(0);
        c.SetColumn(++col);
        if (ch == 0) {
            if (!bMultiLine) {
                c.Restore(1);
                return 0;
            }
            for (;;) {
                if (c.NextLine(1) <= 0) return 0;  // stays at the end of the data
                if (c.LineLength() > 0) break;
                if (!out.Append(CrLf<Ch>::kText, 2)) return RefuseRun(c, out);
            }
            continue;
        }
        if (ch == '\\') {
            if (!out.Append(line + col - 1, 1)) return RefuseRun(c, out);
            if (col >= len) {
                c.Restore(1);
                return 0;
            }
            // An escaped NUL (possible in a line of a file) adds nothing.
            if (line[col] && !out.Append(line + col, 1)) return RefuseRun(c, out);
            c.SetColumn(col + 1);
            continue;
        }
        // ch is the delimiter (appended from the line, so that a run
        // within one line stays one span of it).
        if (bIncludeDelim) {
            if (!out.Append(line + col - 1, 1)) return RefuseRun(c, out);
        } else {
            c.SetColumn(col - 1);
        }
        return 1;
    }
}

// The text up to the string delim (nDelim characters), which never spans
// lines. Across lines (bMultiLine) each line break crossed adds CR LF. The
// delimiter is appended and read (bIncludeDelim) or left unread.
template <class C, class O>
int ReadToDelimStr(C& c, const typename C::Char* delim, int nDelim, O& out, int bMultiLine, int bIncludeDelim) {
    typedef typename C::Char Ch;
    c.Save();
    out.Clear();
    for (;;) {
        const Ch* line = c.Line();
        int len = c.LineLength();
        int col = c.Column() > static_cast<unsigned long>(len) ? len : static_cast<int>(c.Column());
        long i = FindIn(line, len, col, delim, nDelim);
        if (i >= 0) {
            int end = static_cast<int>(bIncludeDelim ? i + nDelim : i);
            if (!out.Append(line + col, end - col)) return RefuseRun(c, out);
            c.SetColumn(static_cast<unsigned long>(end));
            return 1;
        }
        if (!bMultiLine) break;
        if (!out.Append(line + col, len - col)) return RefuseRun(c, out);
        if (c.LineStarted() && !out.Append(CrLf<Ch>::kText, 2)) return RefuseRun(c, out);
        if (c.NextLine(1) <= 0) break;
    }
    c.Restore(1);
    return 0;
}

}  // namespace detail
}  // namespace vorlix

#endif

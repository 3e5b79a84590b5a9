// The token data stream, written once for both widths: TokenStreamOps holds
// the algorithms, and the width-specific reads (line readers and the token
// reader) are chosen by overloads on the stream type.
#include <vorlix/base/file.h>
#include <vorlix/base/text.h>
#include <vorlix/token/tokenstream.h>

namespace vorlix {
namespace detail {
namespace {

const char kCrLfA[] = "\r\n";
const unsigned short kCrLfU[] = {'\r', '\n', 0};
inline const char* CrLf(const CTokenDataStreamA&) { return kCrLfA; }
inline const unsigned short* CrLf(const CTokenDataStreamU&) { return kCrLfU; }

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

inline long TokenOpt(const char* text, long pos, MString& tok, const char* delims, int& nDelim) {
    return Byte_GetTokenOpt(text, pos, tok, delims, nDelim, -1, 3);
}
inline long TokenOpt(const unsigned short* text, long pos, UString& tok, const unsigned short* delims,
                     int& nDelim) {
    return Uni_GetTokenOpt(text, pos, tok, delims, nDelim, -1, 3);
}

inline void InitEncoding(CTokenDataStreamA&) {}
inline void InitEncoding(CTokenDataStreamU& s) { s.m_nEndian = 1; }
inline void CopyEncoding(CTokenDataStreamA&, const CTokenDataStreamA&) {}
inline void CopyEncoding(CTokenDataStreamU& d, const CTokenDataStreamU& s) { d.m_nEndian = s.m_nEndian; }

}  // namespace

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
        cur.m_strLine.Empty();
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

    static int GetToken(Stream& s, Str& tok, const Ch* delims, int& nDelim) {
        PushAuto(s);
        Item& cur = s.m_curPos;
        for (;;) {
            if (cur.m_dwColumn <= static_cast<unsigned long>(cur.m_strLine.GetLength())) {
                long r = TokenOpt(cur.m_strLine, static_cast<long>(cur.m_dwColumn), tok, delims, nDelim);
                if (r >= 0) {
                    cur.m_dwColumn = static_cast<unsigned long>(r);
                    return 1;
                }
            }
            if (!GetLine(s, 0)) {
                PopAuto(s, 1);
                return 0;
            }
        }
    }

    static int GetTokenTest(Stream& s, Str& tok, const Ch* delims, int& nDelim) {
        PushStack(s);
        int r = GetToken(s, tok, delims, nDelim);
        PopStack(s);
        return r;
    }

    static int ToDelimChar(Stream& s, Ch cDelim, Str& tok, int bMultiLine, int bIncludeDelim) {
        PushAuto(s);
        tok.Empty();
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
                    PopAuto(s, 1);
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
                    PopAuto(s, 1);
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

    static int ToDelimStr(Stream& s, const Ch* delim, Str& tok, int bMultiLine, int bIncludeDelim) {
        PushAuto(s);
        tok.Empty();
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
        PopAuto(s, 1);
        return 0;
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

}  // namespace detail
}  // namespace vorlix

CTokPosStackItemA::~CTokPosStackItemA() {}
CTokPosStackItemU::~CTokPosStackItemU() {}

int CTokenDataStreamA::m_nAUTOTOKSTACKSIZE = 10;
int CTokenDataStreamU::m_nAUTOTOKSTACKSIZE = 10;

// The member functions of both widths forward to the shared algorithms.
#define VORLIX_TOKEN_STREAM_MEMBERS(Stream, Ops, Ch, Str, Item)                                                \
    Stream::Stream() : m_pszText(nullptr), m_hFile(nullptr), m_bMemory(1), m_nAutoTokStackPos(0) {           \
        InitProperty(static_cast<const Ch*>(nullptr), 0);                                                   \
    }                                                                                                        \
    Stream::Stream(const Ch* pData, unsigned long dwStart) : Stream() { InitProperty(pData, dwStart); }      \
    Stream::Stream(void* hFile, unsigned long dwStart) : Stream() { InitProperty(hFile, dwStart); }          \
    Stream::Stream(const Stream& src) : Stream() { Ops::Copy(*this, src); }                                  \
    Stream& Stream::operator=(const Stream& src) {                                                           \
        Ops::Copy(*this, src);                                                                               \
        return *this;                                                                                        \
    }                                                                                                        \
    Stream::~Stream() {}                                                                                     \
    void Stream::InitProperty(const Ch* pData, unsigned long dwStart) { Ops::Init(*this, pData, dwStart, true); } \
    void Stream::InitProperty(void* hFile, unsigned long dwStart) { Ops::Init(*this, hFile, dwStart, false); } \
    int Stream::GetToken(Str& strToken, const Ch* pszDelims, int& nDelim) {                                  \
        return Ops::GetToken(*this, strToken, pszDelims, nDelim);                                            \
    }                                                                                                        \
    int Stream::GetTokenTest(Str& strToken, const Ch* pszDelims, int& nDelim) {                              \
        return Ops::GetTokenTest(*this, strToken, pszDelims, nDelim);                                        \
    }                                                                                                        \
    int Stream::GetTokenBack(int nCount) {                                                                   \
        Ops::PopAuto(*this, nCount);                                                                         \
        return 1;                                                                                            \
    }                                                                                                        \
    int Stream::GetTokenToDelimChar(Ch cDelim, Str& strToken, int bMultiLine, int bIncludeDelim) {           \
        return Ops::ToDelimChar(*this, cDelim, strToken, bMultiLine, bIncludeDelim);                         \
    }                                                                                                        \
    int Stream::GetTokenToDelimStr(const Ch* pszDelim, Str& strToken, int bMultiLine, int bIncludeDelim) {   \
        return Ops::ToDelimStr(*this, pszDelim, strToken, bMultiLine, bIncludeDelim);                        \
    }                                                                                                        \
    int Stream::ReadChar(Str& strRead, int nCount) { return Ops::ReadChar(*this, strRead, nCount); }         \
    int Stream::ReadTest(Str& strRead, int nCount) { return Ops::ReadTest(*this, strRead, nCount); }         \
    void Stream::SkipCurLine(Str& strRest) { Ops::SkipCurLine(*this, strRest); }                             \
    unsigned long Stream::GetTokenPos() { return m_curPos.m_dwCurLinePos + m_curPos.m_dwColumn; }            \
    const Item& Stream::GetCurTokenStack() { return m_curPos; }                                              \
    void Stream::RewindToStack(const Item& pos) { Ops::Rewind(*this, pos); }                                 \
    void Stream::PushTokenPos() { Ops::PushStack(*this); }                                                   \
    void Stream::PopTokenPos() { Ops::PopStack(*this); }                                                     \
    int Stream::GetLine(int nOpt) { return Ops::GetLine(*this, nOpt); }                                      \
    void Stream::PushAutoTokenStack() { Ops::PushAuto(*this); }                                              \
    void Stream::PopAutoTokenStack(int nCount) { Ops::PopAuto(*this, nCount); }

namespace {
typedef vorlix::detail::TokenStreamOps<CTokenDataStreamA> OpsA;
typedef vorlix::detail::TokenStreamOps<CTokenDataStreamU> OpsU;
}  // namespace

VORLIX_TOKEN_STREAM_MEMBERS(CTokenDataStreamA, OpsA, char, MString, CTokPosStackItemA)
VORLIX_TOKEN_STREAM_MEMBERS(CTokenDataStreamU, OpsU, unsigned short, UString, CTokPosStackItemU)

#undef VORLIX_TOKEN_STREAM_MEMBERS

void CTokenDataStreamU::SetEndian(int nEndian) { m_nEndian = nEndian; }

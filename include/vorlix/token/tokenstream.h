// The token data stream: reads text one line at a time from a NUL-terminated
// buffer or an open file handle and hands it out as tokens, as runs up to a
// delimiter, or as counted characters. Every read can be taken back: a ring
// keeps the positions before the last ten reads, an explicit stack keeps the
// positions the caller pushes, and a caller may hold a position and rewind
// to it later.
//
// CTokenDataStreamA reads 8-bit text into MString; CTokenDataStreamU reads
// UTF-16 code units into UString, from UTF-16 little-endian (encoding 1),
// big-endian (2) or UTF-8 (3) sources.
//
// Positions are character indexes in memory mode and byte offsets (as
// API_SeekFile reports them) in file mode. The stream never owns its buffer
// or its file: the caller keeps the buffer alive and the handle open for
// the stream's life. A stream is used by one thread at a time.
#ifndef VORLIX_TOKEN_TOKENSTREAM_H
#define VORLIX_TOKEN_TOKENSTREAM_H

#include <vorlix/base/objarray.h>
#include <vorlix/base/objcore.h>
#include <vorlix/base/string.h>

namespace vorlix {
namespace detail {
template <class Stream>
struct TokenStreamOps;
}
}  // namespace vorlix

// One position of a stream: where the current line began, where the next
// line will be read from, the column of the next unread character, and the
// current line itself (without its line end).
class VORLIX_API CTokPosStackItemA : public CObjCore {
public:
    CTokPosStackItemA() : m_dwNextLinePos(0), m_dwCurLinePos(0), m_dwColumn(0) {}
    CTokPosStackItemA(unsigned long dwCurLinePos, unsigned long dwNextLinePos, unsigned long dwColumn,
                      const char* pszLine) {
        SetPos(dwCurLinePos, dwNextLinePos, dwColumn, pszLine);
    }
    CTokPosStackItemA(const CTokPosStackItemA& src) : CObjCore(src) { *this = src; }
    virtual ~CTokPosStackItemA();
    const CTokPosStackItemA& operator=(const CTokPosStackItemA& src) {
        m_dwNextLinePos = src.m_dwNextLinePos;
        m_dwCurLinePos = src.m_dwCurLinePos;
        m_dwColumn = src.m_dwColumn;
        m_strLine = src.m_strLine;
        return *this;
    }
    // Note the order: the line's start comes first, the next line's second.
    void SetPos(unsigned long dwCurLinePos, unsigned long dwNextLinePos, unsigned long dwColumn,
                const char* pszLine) {
        m_dwCurLinePos = dwCurLinePos;
        m_dwNextLinePos = dwNextLinePos;
        m_dwColumn = dwColumn;
        m_strLine = pszLine;
    }

    unsigned long m_dwNextLinePos;
    unsigned long m_dwCurLinePos;
    unsigned long m_dwColumn;
    MString m_strLine;
};

class VORLIX_API CTokPosStackItemU : public CObjCore {
public:
    CTokPosStackItemU() : m_dwNextLinePos(0), m_dwCurLinePos(0), m_dwColumn(0) {}
    CTokPosStackItemU(unsigned long dwCurLinePos, unsigned long dwNextLinePos, unsigned long dwColumn,
                      const unsigned short* pszLine) {
        SetPos(dwCurLinePos, dwNextLinePos, dwColumn, pszLine);
    }
    CTokPosStackItemU(const CTokPosStackItemU& src) : CObjCore(src) { *this = src; }
    virtual ~CTokPosStackItemU();
    const CTokPosStackItemU& operator=(const CTokPosStackItemU& src) {
        m_dwNextLinePos = src.m_dwNextLinePos;
        m_dwCurLinePos = src.m_dwCurLinePos;
        m_dwColumn = src.m_dwColumn;
        m_strLine = src.m_strLine;
        return *this;
    }
    void SetPos(unsigned long dwCurLinePos, unsigned long dwNextLinePos, unsigned long dwColumn,
                const unsigned short* pszLine) {
        m_dwCurLinePos = dwCurLinePos;
        m_dwNextLinePos = dwNextLinePos;
        m_dwColumn = dwColumn;
        m_strLine = pszLine;
    }

    unsigned long m_dwNextLinePos;
    unsigned long m_dwCurLinePos;
    unsigned long m_dwColumn;
    UString m_strLine;
};

// The operations of both widths (C is the character type).
//
// GetToken(tok, delims, nDelim): the next word (nDelim -1) or delimiter
//   character (nDelim its index in delims); blanks and tabs are skipped and
//   only separate; tokens never span lines. 0 at the end of the data, with
//   the position as before the call.
// GetTokenTest: the same, with the position unchanged afterwards.
// GetTokenBack(n): takes back the last n reads (the ring holds ten).
// GetTokenToDelimChar(c, tok, bMultiLine, bIncludeDelim): the text up to
//   the character c; a backslash escapes the next character and stays in
//   the text; across lines (bMultiLine) each empty line adds "\r\n".
// GetTokenToDelimStr(delim, tok, bMultiLine, bIncludeDelim): the text up to
//   the string delim, no escapes; every line break crossed adds "\r\n".
// ReadChar(s, n) / ReadTest(s, n): the next n characters across lines
//   (line breaks count for nothing); ReadTest leaves the position alone.
// SkipCurLine(rest): the rest of the current line.
// GetTokenPos(): the line's start plus the column.
// GetCurTokenStack() / RewindToStack(pos): hold a position and return to it.
// PushTokenPos() / PopTokenPos(): the explicit stack.
//
// A copy shares the source's buffer or file handle (and so its file
// pointer) and receives its own copy of the explicit stack.

class VORLIX_API CTokenDataStreamA {
public:
    CTokenDataStreamA();
    CTokenDataStreamA(const char* pData, unsigned long dwStart);
    CTokenDataStreamA(void* hFile, unsigned long dwStart);
    CTokenDataStreamA(const CTokenDataStreamA& src);
    CTokenDataStreamA& operator=(const CTokenDataStreamA& src);
    ~CTokenDataStreamA();

    void InitProperty(const char* pData, unsigned long dwStart);
    void InitProperty(void* hFile, unsigned long dwStart);

    int GetToken(MString& strToken, const char* pszDelims, int& nDelim);
    int GetTokenTest(MString& strToken, const char* pszDelims, int& nDelim);
    int GetTokenBack(int nCount);
    int GetTokenToDelimChar(char cDelim, MString& strToken, int bMultiLine, int bIncludeDelim);
    int GetTokenToDelimStr(const char* pszDelim, MString& strToken, int bMultiLine, int bIncludeDelim);
    int ReadChar(MString& strRead, int nCount);
    int ReadTest(MString& strRead, int nCount);
    void SkipCurLine(MString& strRest);
    unsigned long GetTokenPos();
    const CTokPosStackItemA& GetCurTokenStack();
    void RewindToStack(const CTokPosStackItemA& pos);
    void PushTokenPos();
    void PopTokenPos();

    const char* m_pszText;
    void* m_hFile;
    int m_bMemory;
    CTokPosStackItemA m_curPos;
    CObjArray<CTokPosStackItemA, const CTokPosStackItemA&> m_aryTokStack;
    int m_nAutoTokStackPos;
    CTokPosStackItemA m_aAutoTokStack[10];

    // Ring slots in use; values outside 1..10 are taken as the nearest.
    static int m_nAUTOTOKSTACKSIZE;

protected:
    int GetLine(int nOpt);
    void PushAutoTokenStack();
    void PopAutoTokenStack(int nCount);

private:
    friend struct vorlix::detail::TokenStreamOps<CTokenDataStreamA>;
};

class VORLIX_API CTokenDataStreamU {
public:
    CTokenDataStreamU();
    CTokenDataStreamU(const unsigned short* pData, unsigned long dwStart);
    CTokenDataStreamU(void* hFile, unsigned long dwStart);
    CTokenDataStreamU(const CTokenDataStreamU& src);
    CTokenDataStreamU& operator=(const CTokenDataStreamU& src);
    ~CTokenDataStreamU();

    void InitProperty(const unsigned short* pData, unsigned long dwStart);
    void InitProperty(void* hFile, unsigned long dwStart);
    // 1 UTF-16 little-endian, 2 big-endian, 3 UTF-8; takes effect at the
    // next line read. In memory mode with 3 the buffer holds UTF-8 bytes and
    // positions count bytes.
    void SetEndian(int nEndian);

    int GetToken(UString& strToken, const unsigned short* pszDelims, int& nDelim);
    int GetTokenTest(UString& strToken, const unsigned short* pszDelims, int& nDelim);
    int GetTokenBack(int nCount);
    int GetTokenToDelimChar(unsigned short cDelim, UString& strToken, int bMultiLine, int bIncludeDelim);
    int GetTokenToDelimStr(const unsigned short* pszDelim, UString& strToken, int bMultiLine, int bIncludeDelim);
    int ReadChar(UString& strRead, int nCount);
    int ReadTest(UString& strRead, int nCount);
    void SkipCurLine(UString& strRest);
    unsigned long GetTokenPos();
    const CTokPosStackItemU& GetCurTokenStack();
    void RewindToStack(const CTokPosStackItemU& pos);
    void PushTokenPos();
    void PopTokenPos();

    const unsigned short* m_pszText;
    void* m_hFile;
    int m_bMemory;
    CTokPosStackItemU m_curPos;
    CObjArray<CTokPosStackItemU, const CTokPosStackItemU&> m_aryTokStack;
    int m_nEndian;
    int m_nAutoTokStackPos;
    CTokPosStackItemU m_aAutoTokStack[10];

    static int m_nAUTOTOKSTACKSIZE;

protected:
    int GetLine(int nOpt);
    void PushAutoTokenStack();
    void PopAutoTokenStack(int nCount);

private:
    friend struct vorlix::detail::TokenStreamOps<CTokenDataStreamU>;
};

#endif

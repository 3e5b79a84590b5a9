// The token data stream, written once for both widths: TokenStreamOps holds
// the algorithms, and the width-specific reads (line readers and the token
// reader) are chosen by overloads on the stream type.
#include <vorlix/base/file.h>
#include <vorlix/base/text.h>
#include <vorlix/token/tokenstream.h>

#include "tokenstream_ops.h"


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

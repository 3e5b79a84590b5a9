// The token data stream, both widths from one template. Lines come from the
// line sources (base/lines.h); tokens and delimiter runs from the shared
// reads (token_reads.h), over the stream seen as a Cursor whose ring is the
// stream's own ring of whole positions.
#include <vorlix/base/file.h>
#include <vorlix/base/text.h>
#include <vorlix/token/tokenstream.h>

#include "../base/length.h"
#include "../base/lines.h"
#include "../base/token_scan.h"
#include "token_reads.h"

namespace vorlix {

// ---- Positions ----

template <class Ch>
BasicTokPosStackItem<Ch>::BasicTokPosStackItem() : m_dwNextLinePos(0), m_dwCurLinePos(0), m_dwColumn(0) {}

template <class Ch>
BasicTokPosStackItem<Ch>::BasicTokPosStackItem(unsigned long dwCurLinePos, unsigned long dwNextLinePos,
                                               unsigned long dwColumn, const Ch* pszLine) {
    SetPos(dwCurLinePos, dwNextLinePos, dwColumn, pszLine);
}

template <class Ch>
BasicTokPosStackItem<Ch>::BasicTokPosStackItem(const BasicTokPosStackItem& src)
    : CObjCore(src),
      m_dwNextLinePos(src.m_dwNextLinePos),
      m_dwCurLinePos(src.m_dwCurLinePos),
      m_dwColumn(src.m_dwColumn),
      m_strLine(src.m_strLine) {}

template <class Ch>
BasicTokPosStackItem<Ch>::~BasicTokPosStackItem() {}

template <class Ch>
const BasicTokPosStackItem<Ch>& BasicTokPosStackItem<Ch>::operator=(const BasicTokPosStackItem& src) {
    m_dwNextLinePos = src.m_dwNextLinePos;
    m_dwCurLinePos = src.m_dwCurLinePos;
    m_dwColumn = src.m_dwColumn;
    m_strLine = src.m_strLine;
    return *this;
}

template <class Ch>
void BasicTokPosStackItem<Ch>::SetPos(unsigned long dwCurLinePos, unsigned long dwNextLinePos, unsigned long dwColumn,
                                      const Ch* pszLine) {
    m_dwCurLinePos = dwCurLinePos;
    m_dwNextLinePos = dwNextLinePos;
    m_dwColumn = dwColumn;
    m_strLine = pszLine;
}

// ---- Reading lines ----

namespace detail {
namespace {

// One line at dwPos into buf, from the source the stream's mode and
// encoding give.
template <class Ch>
int ReadOneLine(const BasicTokenDataStream<Ch>& s, unsigned long& dwPos, BasicString<Ch>& buf) {
    const Ch* p;
    int n;
    if (s.m_bMemory) {
        bool bInPlace = true;
        if constexpr (sizeof(Ch) == 2) bInPlace = InPlatformOrder(s.m_nEndian);
        if (!bInPlace) {
            if constexpr (sizeof(Ch) == 2) {
                BufferedLines<Ch> src(s.m_pszText, MemoryCoding(s.m_nEndian));
                return src.Read(dwPos, buf, p, n);
            }
        }
        InPlaceLines<Ch> src(s.m_pszText);
        int r = src.Read(dwPos, buf, p, n);
        if (r == kLine) buf.SetString(p, n);
        return r;
    }
    typename BufferedLines<Ch>::Coding coding = BufferedLines<Ch>::kBytes;
    if constexpr (sizeof(Ch) == 2) coding = FileCoding(s.m_nEndian);
    BufferedLines<Ch> src(s.m_hFile, coding);
    return src.Read(dwPos, buf, p, n);
}

// GetLine, telling a line too long to hold (kLineTooLong) from the end.
template <class Ch>
int ReadLineOf(BasicTokenDataStream<Ch>& s, int nOpt) {
    typename BasicTokenDataStream<Ch>::Item& cur = s.m_curPos;
    ClearKeepingBuffer(cur.m_strLine);
    // A stream without a source is at the end of its data.
    if (s.m_bMemory ? s.m_pszText == nullptr : s.m_hFile == nullptr) return kNoLine;
    int r;
    for (;;) {
        cur.m_dwCurLinePos = cur.m_dwNextLinePos;
        r = ReadOneLine(s, cur.m_dwNextLinePos, cur.m_strLine);
        if (r != kLine || nOpt || !cur.m_strLine.IsEmpty()) break;
    }
    if (r == kLine) cur.m_dwColumn = 0;
    return r;
}

// The ring depth in use, kept to the ten slots that exist.
inline int RingSize(int nSize) { return nSize < 1 ? 1 : (nSize > 10 ? 10 : nSize); }

template <class Ch>
void SeekToNextLine(BasicTokenDataStream<Ch>& s) {
    if (!s.m_bMemory) API_SeekFile(s.m_hFile, static_cast<long>(s.m_curPos.m_dwNextLinePos), 0);
}

// The ring's push and pop, inline here: every read saves its position, and
// a call through the exported members would cost a tenth of a short read.
template <class Ch>
inline void PushRing(BasicTokenDataStream<Ch>& s) {
    const int size = RingSize(BasicTokenDataStream<Ch>::m_nAUTOTOKSTACKSIZE);
    int i = s.m_nAutoTokStackPos;
    if (i < 0 || i >= size) i = 0;
    BasicTokPosStackItem<Ch>& slot = s.m_aAutoTokStack[i];
    slot.m_dwNextLinePos = s.m_curPos.m_dwNextLinePos;
    slot.m_dwCurLinePos = s.m_curPos.m_dwCurLinePos;
    slot.m_dwColumn = s.m_curPos.m_dwColumn;
    slot.m_strLine = s.m_curPos.m_strLine;
    if (++i >= size) i = 0;
    s.m_nAutoTokStackPos = i;
}

template <class Ch>
inline void PopRing(BasicTokenDataStream<Ch>& s, int nCount) {
    const int size = RingSize(BasicTokenDataStream<Ch>::m_nAUTOTOKSTACKSIZE);
    long long i = static_cast<long long>(s.m_nAutoTokStackPos) - nCount;
    if (i < 0) i += size;
    if (i < 0) i = 0;
    if (i >= size) i %= size;  // a negative count moves forward round the ring
    s.m_nAutoTokStackPos = static_cast<int>(i);
    const BasicTokPosStackItem<Ch>& slot = s.m_aAutoTokStack[i];
    s.m_curPos.m_dwNextLinePos = slot.m_dwNextLinePos;
    s.m_curPos.m_dwCurLinePos = slot.m_dwCurLinePos;
    s.m_curPos.m_dwColumn = slot.m_dwColumn;
    s.m_curPos.m_strLine = slot.m_strLine;
    SeekToNextLine(s);
}

}  // namespace
}  // namespace detail

// The stream as a position of the shared reads (token_reads.h).
template <class Ch>
class BasicTokenDataStream<Ch>::Cursor {
public:
    typedef Ch Char;
    explicit Cursor(BasicTokenDataStream& s) : m_s(s) {}

    const Ch* Line() const { return m_s.m_curPos.m_strLine; }
    int LineLength() const { return m_s.m_curPos.m_strLine.GetLength(); }
    unsigned long Column() const { return m_s.m_curPos.m_dwColumn; }
    void SetColumn(unsigned long col) { m_s.m_curPos.m_dwColumn = col; }
    int NextLine(int nOpt) { return detail::ReadLineOf(m_s, nOpt); }
    // A stream that has not read a line yet (its line starts where the next
    // one will) crosses no line break to reach the first.
    bool LineStarted() const {
        const Item& cur = m_s.m_curPos;
        return cur.m_dwCurLinePos != cur.m_dwNextLinePos || !cur.m_strLine.IsEmpty();
    }
    void Save() { detail::PushRing(m_s); }
    void Restore(int nCount) { detail::PopRing(m_s, nCount); }

private:
    BasicTokenDataStream& m_s;
};

// ---- The stream ----

template <class Ch>
int BasicTokenDataStream<Ch>::m_nAUTOTOKSTACKSIZE = 10;

template <class Ch>
BasicTokenDataStream<Ch>::BasicTokenDataStream() {
    InitProperty(static_cast<const Ch*>(nullptr), 0);
}

template <class Ch>
BasicTokenDataStream<Ch>::BasicTokenDataStream(const Ch* pData, unsigned long dwStart) {
    InitProperty(pData, dwStart);
}

template <class Ch>
BasicTokenDataStream<Ch>::BasicTokenDataStream(void* hFile, unsigned long dwStart) {
    InitProperty(hFile, dwStart);
}

template <class Ch>
BasicTokenDataStream<Ch>::BasicTokenDataStream(const BasicTokenDataStream& src) {
    InitProperty(static_cast<const Ch*>(nullptr), 0);
    *this = src;
}

template <class Ch>
BasicTokenDataStream<Ch>& BasicTokenDataStream<Ch>::operator=(const BasicTokenDataStream& src) {
    if (&src == this) return *this;
    this->m_pszText = src.m_pszText;
    this->m_hFile = src.m_hFile;
    this->m_bMemory = src.m_bMemory;
    this->m_curPos = src.m_curPos;
    this->m_aryTokStack.Copy(src.m_aryTokStack);
    this->m_aryTokStack.m_nGrowBy = 5;
    if constexpr (sizeof(Ch) == 2) this->m_nEndian = src.m_nEndian;
    this->m_nAutoTokStackPos = src.m_nAutoTokStackPos;
    for (int i = 0; i < 10; ++i) this->m_aAutoTokStack[i] = src.m_aAutoTokStack[i];
    return *this;
}

template <class Ch>
BasicTokenDataStream<Ch>::~BasicTokenDataStream() {}

template <class Ch>
void BasicTokenDataStream<Ch>::InitProperty(const Ch* pData, unsigned long dwStart) {
    this->m_pszText = pData;
    this->m_hFile = nullptr;
    this->m_bMemory = 1;
    this->m_curPos.SetPos(dwStart, dwStart, dwStart, nullptr);
    this->m_aryTokStack.SetSize(0, 5);
    this->m_nAutoTokStackPos = 0;
    if constexpr (sizeof(Ch) == 2) this->m_nEndian = 1;
}

template <class Ch>
void BasicTokenDataStream<Ch>::InitProperty(void* hFile, unsigned long dwStart) {
    InitProperty(static_cast<const Ch*>(nullptr), dwStart);
    this->m_hFile = hFile;
    this->m_bMemory = 0;
}

template <class Ch>
int BasicTokenDataStream<Ch>::GetLine(int nOpt) {
    return detail::ReadLineOf(*this, nOpt) == detail::kLine ? 1 : 0;
}

template <class Ch>
void BasicTokenDataStream<Ch>::PushAutoTokenStack() {
    detail::PushRing(*this);
}

template <class Ch>
void BasicTokenDataStream<Ch>::PopAutoTokenStack(int nCount) {
    detail::PopRing(*this, nCount);
}

template <class Ch>
int BasicTokenDataStream<Ch>::GetToken(BasicString<Ch>& strToken, const Ch* pszDelims, int& nDelim) {
    Cursor c(*this);
    long start, end;
    if (!detail::ReadToken(c, detail::SepSet<Ch>(pszDelims), start, end, nDelim)) {
        detail::ClearKeepingBuffer(strToken);
        return 0;
    }
    strToken.SetString(c.Line() + start, static_cast<int>(end - start));
    return 1;
}

template <class Ch>
int BasicTokenDataStream<Ch>::GetTokenTest(BasicString<Ch>& strToken, const Ch* pszDelims, int& nDelim) {
    PushTokenPos();
    int r = GetToken(strToken, pszDelims, nDelim);
    PopTokenPos();
    return r;
}

template <class Ch>
int BasicTokenDataStream<Ch>::GetTokenBack(int nCount) {
    detail::PopRing(*this, nCount);
    return 1;
}

template <class Ch>
int BasicTokenDataStream<Ch>::GetTokenToDelimChar(Ch cDelim, BasicString<Ch>& strToken, int bMultiLine,
                                                  int bIncludeDelim) {
    Cursor c(*this);
    detail::StringOut<Ch> out(strToken);
    return detail::ReadToDelimChar(c, cDelim, out, bMultiLine, bIncludeDelim) > 0 ? 1 : 0;
}

template <class Ch>
int BasicTokenDataStream<Ch>::GetTokenToDelimStr(const Ch* pszDelim, BasicString<Ch>& strToken, int bMultiLine,
                                                 int bIncludeDelim) {
    Cursor c(*this);
    detail::StringOut<Ch> out(strToken);
    int r = detail::ReadToDelimStr(c, pszDelim, detail::StrLen(pszDelim), out, bMultiLine, bIncludeDelim);
    return r > 0 ? 1 : 0;
}

template <class Ch>
int BasicTokenDataStream<Ch>::ReadChar(BasicString<Ch>& strRead, int nCount) {
    detail::PushRing(*this);
    Item& cur = this->m_curPos;
    if (nCount < 0) nCount = 0;
    if (nCount > detail::kMaxLength<Ch>) {
        // More than a string can hold.
        strRead.Empty();
        detail::PopRing(*this, 1);
        return 0;
    }
    int len = cur.m_strLine.GetLength();
    int col = cur.m_dwColumn > static_cast<unsigned long>(len) ? len : static_cast<int>(cur.m_dwColumn);
    int avail = len - col;
    if (avail >= nCount) {
        strRead = cur.m_strLine.Mid(col, nCount);
        cur.m_dwColumn = static_cast<unsigned long>(col + nCount);
        return 1;
    }
    strRead = cur.m_strLine.Mid(col, avail);
    cur.m_dwColumn = static_cast<unsigned long>(col + avail);
    int rest = nCount - avail;
    for (;;) {
        if (detail::ReadLineOf(*this, 0) != detail::kLine) {
            detail::PopRing(*this, 1);
            return 0;
        }
        int n = cur.m_strLine.GetLength();
        if (n < rest) {
            strRead += cur.m_strLine;
            rest -= n;
            continue;
        }
        strRead.Append(cur.m_strLine, rest);
        cur.m_dwColumn = static_cast<unsigned long>(rest);
        return 1;
    }
}

template <class Ch>
int BasicTokenDataStream<Ch>::ReadTest(BasicString<Ch>& strRead, int nCount) {
    if (!ReadChar(strRead, nCount)) return 0;
    detail::PopRing(*this, 1);
    return 1;
}

template <class Ch>
void BasicTokenDataStream<Ch>::SkipCurLine(BasicString<Ch>& strRest) {
    detail::PushRing(*this);
    Item& cur = this->m_curPos;
    int len = cur.m_strLine.GetLength();
    if (cur.m_dwColumn < static_cast<unsigned long>(len)) strRest = cur.m_strLine.Mid(static_cast<int>(cur.m_dwColumn));
    else strRest.Empty();
    cur.m_dwColumn = static_cast<unsigned long>(len);
}

template <class Ch>
unsigned long BasicTokenDataStream<Ch>::GetTokenPos() {
    return this->m_curPos.m_dwCurLinePos + this->m_curPos.m_dwColumn;
}

template <class Ch>
const typename BasicTokenDataStream<Ch>::Item& BasicTokenDataStream<Ch>::GetCurTokenStack() {
    return this->m_curPos;
}

template <class Ch>
void BasicTokenDataStream<Ch>::RewindToStack(const Item& pos) {
    this->m_curPos = pos;
    detail::SeekToNextLine(*this);
}

template <class Ch>
void BasicTokenDataStream<Ch>::PushTokenPos() {
    this->m_aryTokStack.Add(this->m_curPos);
}

template <class Ch>
void BasicTokenDataStream<Ch>::PopTokenPos() {
    int n = this->m_aryTokStack.GetSize();
    if (n == 0) return;
    this->m_curPos = this->m_aryTokStack[n - 1];
    this->m_aryTokStack.RemoveAt(n - 1);
    detail::SeekToNextLine(*this);
}

template class BasicTokPosStackItem<char>;
template class BasicTokPosStackItem<unsigned short>;
template class BasicTokenDataStream<char>;
template class BasicTokenDataStream<unsigned short>;

}  // namespace vorlix

void CTokenDataStreamU::SetEndian(int nEndian) { m_nEndian = nEndian; }

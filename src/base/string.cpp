// The string design, instantiated for both widths.
#include <vorlix/base/objarray.h>
#include <vorlix/base/objcore.h>
#include <vorlix/base/string.h>

#include "format.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

namespace vorlix {
namespace detail {

const StrNil g_strNil = {{-1, 0, 0, 0}, {0, 0, 0, 0}};

}  // namespace detail

namespace {

template <class Ch>
inline unsigned Unit(Ch c) {
    return sizeof(Ch) == 1 ? static_cast<unsigned char>(c) : static_cast<unsigned>(c);
}

template <class Ch>
inline unsigned FoldUnit(Ch c) {
    unsigned u = Unit(c);
    return (u >= 'A' && u <= 'Z') ? u + ('a' - 'A') : u;
}

template <class Ch>
inline bool IsSpace(Ch c) {
    unsigned u = Unit(c);
    return u == ' ' || (u >= 9 && u <= 13);
}

template <class Ch>
inline const Ch* FindUnit(const Ch* p, Ch ch, std::size_t n) {
    if (sizeof(Ch) == 1) return static_cast<const Ch*>(std::memchr(p, static_cast<unsigned char>(ch), n));
    for (const Ch* e = p + n; p < e; ++p)
        if (*p == ch) return p;
    return nullptr;
}

template <class Ch>
Ch* Allocate(int nCapacity) {
    if (nCapacity < 0 || nCapacity > detail::kMaxLength<Ch>) {
        PrjWarningMsg(0);
        return nullptr;
    }
    // The heap's block sizes are multiples of 16 bytes (and a large block
    // holds at least what was asked), so the capacity takes the rest of
    // the 16-byte step for free.
    if (nCapacity < detail::kMaxLength<Ch> - 16) {
        std::size_t nBytes = sizeof(detail::StrHeader) + (static_cast<std::size_t>(nCapacity) + 1) * sizeof(Ch);
        std::size_t nRounded = (nBytes + 15) & ~static_cast<std::size_t>(15);
        nCapacity += static_cast<int>((nRounded - nBytes) / sizeof(Ch));
    }
    void* p = detail::BlockAlloc(sizeof(detail::StrHeader) + (static_cast<std::size_t>(nCapacity) + 1) * sizeof(Ch));
    if (!p) return nullptr;
    detail::StrHeader* h = ::new (p) detail::StrHeader{{1}, 0, nCapacity, 0};
    Ch* data = reinterpret_cast<Ch*>(h + 1);
    data[0] = 0;
    return data;
}

}  // namespace

template <typename Ch>
void BasicString<Ch>::ReleaseData(Ch* pch) noexcept {
    detail::StrHeader* h = reinterpret_cast<detail::StrHeader*>(pch) - 1;
    int nRefs = h->nRefs.load(std::memory_order_acquire);
    if (nRefs < 0) return;
    // The only owner frees without the locked decrement: no other string
    // holds the buffer, so nobody can take a new reference to it, and the
    // acquire load follows the release decrements of the earlier owners.
    if (nRefs == 1 || h->nRefs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        h->~StrHeader();
        detail::BlockFree(h);
    }
}

template <typename Ch>
Ch* BasicString<Ch>::PrepareWrite(int nLength, int nKeep) {
    detail::StrHeader* h = Header();
    bool bShared = m_pchData == Nil() || h->nRefs.load(std::memory_order_acquire) != 1;
    if (!bShared && h->nCapacity >= nLength) return m_pchData;
    int nCapacity = nLength;
    if (!bShared) {
        // Growing a text that is being built, or a buffer that is reused
        // for text after text: grow geometrically.
        long long nGrown = static_cast<long long>(h->nCapacity) + h->nCapacity / 2;
        if (nGrown > detail::kMaxLength<Ch>) nGrown = detail::kMaxLength<Ch>;
        if (nGrown > nCapacity) nCapacity = static_cast<int>(nGrown);
    }
    if (!bShared && nKeep >= h->nLength) {
        // Growing an unshared text in place: the heap can extend the block,
        // or move a large one without copying page by page.
        if (nCapacity > detail::kMaxLength<Ch>) {
            PrjWarningMsg(0);
            return nullptr;
        }
        void* p =
            detail::BlockRealloc(h, sizeof(detail::StrHeader) + (static_cast<std::size_t>(nCapacity) + 1) * sizeof(Ch));
        if (!p) return nullptr;
        h = static_cast<detail::StrHeader*>(p);
        h->nCapacity = nCapacity;
        m_pchData = reinterpret_cast<Ch*>(h + 1);
        return m_pchData;
    }
    Ch* pNew = Allocate<Ch>(nCapacity);
    if (!pNew) return nullptr;
    if (nKeep > h->nLength) nKeep = h->nLength;
    if (nKeep > 0) std::memcpy(pNew, m_pchData, static_cast<std::size_t>(nKeep) * sizeof(Ch));
    pNew[nKeep] = 0;
    (reinterpret_cast<detail::StrHeader*>(pNew) - 1)->nLength = nKeep;
    Release();
    m_pchData = pNew;
    return pNew;
}

template <typename Ch>
void BasicString<Ch>::Assign(const Ch* psz, int nLength) {
    if (nLength <= 0) {
        Empty();
        return;
    }
    Ch* p;
    if (m_pchData == Nil()) {
        // An empty string gets a buffer of its own: nothing to keep, and
        // the source cannot lie in it (as when a parser fills new nodes).
        p = Allocate<Ch>(nLength);
        if (!p) return;
        m_pchData = p;
    } else {
        p = AssignTarget(psz, nLength);
        if (!p) return;
    }
    std::memcpy(p, psz, static_cast<std::size_t>(nLength) * sizeof(Ch));
    p[nLength] = 0;
    Header()->nLength = nLength;
}

template <typename Ch>
Ch* BasicString<Ch>::AssignTarget(const Ch* psz, int nLength) {
    // The source may lie inside this string's own buffer.
    const Ch* pOwn = m_pchData;
    if (psz >= pOwn && psz <= pOwn + GetLength()) {
        BasicString copy(psz, nLength);
        Swap(copy);
        return nullptr;
    }
    Ch* p = PrepareWrite(nLength, 0);
    if (!p) Empty();  // too long, or out of memory: no stale text
    return p;
}

template <typename Ch>
void BasicString<Ch>::AppendText(const Ch* psz, int nLength) {
    if (nLength <= 0) return;
    int nOld = GetLength();
    if (nLength > detail::kMaxLength<Ch> - nOld) {
        PrjWarningMsg(0);
        return;
    }
    const Ch* pOwn = m_pchData;
    if (psz >= pOwn && psz <= pOwn + nOld) {
        BasicString copy(psz, nLength);
        AppendText(copy.m_pchData, nLength);
        return;
    }
    Ch* p = PrepareWrite(nOld + nLength, nOld);
    if (!p) return;
    std::memcpy(p + nOld, psz, static_cast<std::size_t>(nLength) * sizeof(Ch));
    p[nOld + nLength] = 0;
    Header()->nLength = nOld + nLength;
}

template <typename Ch>
void BasicString<Ch>::AssignChar16(const void* psz, int nLength) {
    if (!psz) {
        Empty();
        return;
    }
    const unsigned char* b = static_cast<const unsigned char*>(psz);
    if (nLength < 0) {
        // Measured no further than one unit past the longest string, which
        // PrepareWrite then refuses.
        nLength = 0;
        char16_t c;
        for (; nLength <= detail::kMaxLength<Ch>; ++nLength) {
            std::memcpy(&c, b + 2 * static_cast<std::size_t>(nLength), 2);
            if (!c) break;
        }
    }
    if (nLength == 0) {
        Empty();
        return;
    }
    Ch* p = PrepareWrite(nLength, 0);
    if (!p) {
        Empty();  // too long, or out of memory: no stale text
        return;
    }
    std::memcpy(p, b, static_cast<std::size_t>(nLength) * sizeof(Ch));
    p[nLength] = 0;
    Header()->nLength = nLength;
}

template <typename Ch>
BasicString<Ch>::BasicString(Ch ch, int nCount) : m_pchData(Nil()) {
    if (nCount <= 0) return;
    Ch* p = PrepareWrite(nCount, 0);
    if (!p) return;
    for (int i = 0; i < nCount; ++i) p[i] = ch;
    p[nCount] = 0;
    Header()->nLength = nCount;
}

template <typename Ch>
BasicString<Ch>::BasicString(const Ch* psz, int nLength) : m_pchData(Nil()) {
    if (!psz) return;
    if (nLength < 0) nLength = detail::StrLen(psz);
    Assign(psz, nLength);
}

template <typename Ch>
BasicString<Ch>& BasicString<Ch>::operator=(const Ch* psz) {
    Assign(psz, detail::StrLen(psz));
    return *this;
}

template <typename Ch>
BasicString<Ch>& BasicString<Ch>::operator=(Ch ch) {
    Assign(&ch, ch ? 1 : 0);
    return *this;
}

template <typename Ch>
BasicString<Ch>& BasicString<Ch>::operator+=(const BasicString& src) {
    if (IsEmpty()) return *this = src;
    AppendText(src.m_pchData, src.GetLength());
    return *this;
}

template <typename Ch>
BasicString<Ch>& BasicString<Ch>::operator+=(const Ch* psz) {
    AppendText(psz, detail::StrLen(psz));
    return *this;
}

template <typename Ch>
BasicString<Ch>& BasicString<Ch>::operator+=(Ch ch) {
    if (ch) AppendText(&ch, 1);
    return *this;
}

template <typename Ch>
BasicString<Ch> BasicString<Ch>::Concat(const Ch* a, int na, const Ch* b, int nb) {
    BasicString s;
    if (na + static_cast<long long>(nb) > detail::kMaxLength<Ch>) {
        PrjWarningMsg(0);
        return s;
    }
    int n = na + nb;
    if (n == 0) return s;
    Ch* p = s.PrepareWrite(n, 0);
    if (!p) return s;
    if (na) std::memcpy(p, a, static_cast<std::size_t>(na) * sizeof(Ch));
    if (nb) std::memcpy(p + na, b, static_cast<std::size_t>(nb) * sizeof(Ch));
    p[n] = 0;
    s.Header()->nLength = n;
    return s;
}

template <typename Ch>
bool BasicString<Ch>::operator==(const BasicString& s) const {
    if (m_pchData == s.m_pchData) return true;
    int n = GetLength();
    return n == s.GetLength() && std::memcmp(m_pchData, s.m_pchData, static_cast<std::size_t>(n) * sizeof(Ch)) == 0;
}

template <typename Ch>
int BasicString<Ch>::Compare(const Ch* psz) const {
    const Ch* a = m_pchData;
    const Ch* b = psz ? psz : Nil();
    for (;; ++a, ++b) {
        unsigned x = Unit(*a), y = Unit(*b);
        if (x != y) return x < y ? -1 : 1;
        if (!x) return 0;
    }
}

template <typename Ch>
int BasicString<Ch>::CompareNoCase(const Ch* psz) const {
    const Ch* a = m_pchData;
    const Ch* b = psz ? psz : Nil();
    for (;; ++a, ++b) {
        unsigned x = FoldUnit(*a), y = FoldUnit(*b);
        if (x != y) return x < y ? -1 : 1;
        if (!x) return 0;
    }
}

template <typename Ch>
void BasicString<Ch>::Empty() {
    Release();
    m_pchData = Nil();
}

template <typename Ch>
BasicString<Ch> BasicString<Ch>::Mid(int nFirst, int nCount) const {
    int n = GetLength();
    if (nFirst < 0) nFirst = 0;
    if (nFirst > n) nFirst = n;
    if (nCount < 0 || nCount > n - nFirst) nCount = n - nFirst;
    if (nFirst == 0 && nCount == n) return *this;
    return BasicString(m_pchData + nFirst, nCount);
}

template <typename Ch>
BasicString<Ch> BasicString<Ch>::Left(int nCount) const {
    return Mid(0, nCount < 0 ? 0 : nCount);
}

template <typename Ch>
BasicString<Ch> BasicString<Ch>::Right(int nCount) const {
    int n = GetLength();
    if (nCount < 0) nCount = 0;
    if (nCount > n) nCount = n;
    return Mid(n - nCount, nCount);
}

template <typename Ch>
int BasicString<Ch>::Find(Ch ch, int nStart) const {
    int n = GetLength();
    if (nStart < 0) nStart = 0;
    if (nStart >= n || !ch) return -1;
    const Ch* p = FindUnit(m_pchData + nStart, ch, static_cast<std::size_t>(n - nStart));
    return p ? static_cast<int>(p - m_pchData) : -1;
}

template <typename Ch>
int BasicString<Ch>::Find(const Ch* pszSub, int nStart) const {
    int n = GetLength();
    int m = detail::StrLen(pszSub);
    if (nStart < 0) nStart = 0;
    if (nStart > n) return -1;
    if (m == 0) return nStart;
    if (m > n - nStart) return -1;  // also keeps "last" below inside the text
    const Ch* base = m_pchData;
    const Ch* p = base + nStart;
    const Ch* last = base + (n - m);  // last place a match can start
    while (p <= last) {
        p = FindUnit(p, pszSub[0], static_cast<std::size_t>(last - p) + 1);
        if (!p) return -1;
        if (std::memcmp(p + 1, pszSub + 1, static_cast<std::size_t>(m - 1) * sizeof(Ch)) == 0)
            return static_cast<int>(p - base);
        ++p;
    }
    return -1;
}

template <typename Ch>
int BasicString<Ch>::ReverseFind(Ch ch) const {
    for (int i = GetLength() - 1; i >= 0; --i)
        if (m_pchData[i] == ch) return i;
    return -1;
}

template <typename Ch>
int BasicString<Ch>::Replace(const Ch* pszOld, const Ch* pszNew) {
    int nOld = detail::StrLen(pszOld);
    if (nOld == 0) return 0;
    int nNew = detail::StrLen(pszNew);
    int nCount = 0;
    for (int i = Find(pszOld, 0); i >= 0; i = Find(pszOld, i + nOld)) ++nCount;
    if (nCount == 0) return 0;
    long long nLen = GetLength() + static_cast<long long>(nCount) * (nNew - nOld);
    if (nLen > detail::kMaxLength<Ch>) {
        PrjWarningMsg(0);
        return 0;
    }
    BasicString out;
    Ch* p = out.PrepareWrite(static_cast<int>(nLen), 0);
    if (!p && nLen > 0) return 0;
    int from = 0, k = 0;
    for (int i = Find(pszOld, 0); i >= 0; i = Find(pszOld, i + nOld)) {
        std::memcpy(p + k, m_pchData + from, static_cast<std::size_t>(i - from) * sizeof(Ch));
        k += i - from;
        if (nNew) std::memcpy(p + k, pszNew, static_cast<std::size_t>(nNew) * sizeof(Ch));
        k += nNew;
        from = i + nOld;
    }
    std::memcpy(p + k, m_pchData + from, static_cast<std::size_t>(GetLength() - from) * sizeof(Ch));
    k += GetLength() - from;
    if (p) {
        p[k] = 0;
        out.Header()->nLength = k;
    }
    Swap(out);
    return nCount;
}

template <typename Ch>
int BasicString<Ch>::Replace(Ch chOld, Ch chNew) {
    if (!chOld || !chNew || chOld == chNew || Find(chOld) < 0) return 0;
    Ch* p = PrepareWrite(GetLength(), GetLength());
    if (!p) return 0;
    int nCount = 0;
    for (int i = 0, n = GetLength(); i < n; ++i)
        if (p[i] == chOld) {
            p[i] = chNew;
            ++nCount;
        }
    return nCount;
}

namespace {
template <class Ch>
bool InSet(Ch c, const Ch* set) {
    for (; set && *set; ++set)
        if (*set == c) return true;
    return false;
}
}  // namespace

namespace {
template <class Ch, class Pred>
void TrimLeftIf(BasicString<Ch>& s, Pred pred) {
    const Ch* p = s;
    int n = s.GetLength(), i = 0;
    while (i < n && pred(p[i])) ++i;
    if (i > 0) s = s.Mid(i);
}
template <class Ch, class Pred>
void TrimRightIf(BasicString<Ch>& s, Pred pred) {
    const Ch* p = s;
    int n = s.GetLength(), i = n;
    while (i > 0 && pred(p[i - 1])) --i;
    if (i < n) s = s.Left(i);
}
}  // namespace

template <typename Ch>
void BasicString<Ch>::TrimLeft() {
    TrimLeftIf(*this, [](Ch c) { return IsSpace(c); });
}
template <typename Ch>
void BasicString<Ch>::TrimLeft(Ch chTarget) {
    TrimLeftIf(*this, [=](Ch c) { return c == chTarget; });
}
template <typename Ch>
void BasicString<Ch>::TrimLeft(const Ch* pszTargets) {
    TrimLeftIf(*this, [=](Ch c) { return InSet(c, pszTargets); });
}
template <typename Ch>
void BasicString<Ch>::TrimRight() {
    TrimRightIf(*this, [](Ch c) { return IsSpace(c); });
}
template <typename Ch>
void BasicString<Ch>::TrimRight(Ch chTarget) {
    TrimRightIf(*this, [=](Ch c) { return c == chTarget; });
}
template <typename Ch>
void BasicString<Ch>::TrimRight(const Ch* pszTargets) {
    TrimRightIf(*this, [=](Ch c) { return InSet(c, pszTargets); });
}

template <typename Ch>
void BasicString<Ch>::MakeLower() {
    int n = GetLength();
    int i = 0;
    while (i < n && !(Unit(m_pchData[i]) >= 'A' && Unit(m_pchData[i]) <= 'Z')) ++i;
    if (i == n) return;
    Ch* p = PrepareWrite(n, n);
    if (!p) return;
    for (; i < n; ++i)
        if (Unit(p[i]) >= 'A' && Unit(p[i]) <= 'Z') p[i] = static_cast<Ch>(p[i] + ('a' - 'A'));
}

template <typename Ch>
void BasicString<Ch>::MakeUpper() {
    int n = GetLength();
    int i = 0;
    while (i < n && !(Unit(m_pchData[i]) >= 'a' && Unit(m_pchData[i]) <= 'z')) ++i;
    if (i == n) return;
    Ch* p = PrepareWrite(n, n);
    if (!p) return;
    for (; i < n; ++i)
        if (Unit(p[i]) >= 'a' && Unit(p[i]) <= 'z') p[i] = static_cast<Ch>(p[i] - ('a' - 'A'));
}

template <typename Ch>
Ch BasicString<Ch>::GetAt(int nIndex) const {
    bool ok = nIndex >= 0 && nIndex < GetLength();
    detail::Check(ok);
    return ok ? m_pchData[nIndex] : Ch(0);
}

template <typename Ch>
void BasicString<Ch>::SetAt(int nIndex, Ch ch) {
    bool ok = nIndex >= 0 && nIndex < GetLength() && ch != 0;
    detail::Check(ok);
    if (!ok) return;
    Ch* p = PrepareWrite(GetLength(), GetLength());
    if (p) p[nIndex] = ch;
}

template <typename Ch>
int BasicString<Ch>::Delete(int nIndex, int nCount) {
    int n = GetLength();
    if (nIndex < 0) nIndex = 0;
    if (nIndex >= n || nCount <= 0) return n;
    if (nCount > n - nIndex) nCount = n - nIndex;
    Ch* p = PrepareWrite(n, n);
    if (!p) return n;
    std::memmove(p + nIndex, p + nIndex + nCount, static_cast<std::size_t>(n - nIndex - nCount + 1) * sizeof(Ch));
    Header()->nLength = n - nCount;
    return n - nCount;
}

template <typename Ch>
int BasicString<Ch>::Insert(int nIndex, const Ch* psz) {
    int n = GetLength();
    int m = detail::StrLen(psz);
    if (m == 0) return n;
    if (m > detail::kMaxLength<Ch> - n) {
        PrjWarningMsg(0);
        return n;
    }
    if (nIndex < 0) nIndex = 0;
    if (nIndex > n) nIndex = n;
    BasicString tail = Mid(nIndex);
    BasicString ins(psz, m);  // the text may lie in this string
    BasicString head = Left(nIndex);
    head += ins;
    head += tail;
    Swap(head);
    return GetLength();
}

template <typename Ch>
int BasicString<Ch>::Insert(int nIndex, Ch ch) {
    Ch text[2] = {ch, 0};
    return Insert(nIndex, text);
}

template <typename Ch>
Ch* BasicString<Ch>::GetBuffer(int nMinBufLength) {
    int n = GetLength();
    if (nMinBufLength < n) nMinBufLength = n;
    return PrepareWrite(nMinBufLength, n);
}

template <typename Ch>
void BasicString<Ch>::ReleaseBuffer(int nNewLength) {
    if (m_pchData == Nil()) return;
    Ch* p = PrepareWrite(GetLength(), GetLength());
    if (!p) return;
    int nCapacity = Header()->nCapacity;
    if (nNewLength < 0) {
        nNewLength = 0;
        while (nNewLength < nCapacity && p[nNewLength]) ++nNewLength;
    }
    detail::Check(nNewLength <= nCapacity);
    if (nNewLength > nCapacity) nNewLength = nCapacity;
    p[nNewLength] = 0;
    Header()->nLength = nNewLength;
}

template <typename Ch>
void BasicString<Ch>::SetMinBlockSize(int nSize) {
    if (nSize <= Header()->nCapacity && Header()->nRefs.load(std::memory_order_acquire) == 1) return;
    if (nSize < GetLength()) nSize = GetLength();
    if (nSize <= 0) return;
    PrepareWrite(nSize, GetLength());
}

template <typename Ch>
int BasicString<Ch>::FormatV(const Ch* pszFormat, std::va_list* pArgs) {
    return detail::FormatInto(*this, pszFormat, pArgs);
}

template <typename Ch>
void BasicString<Ch>::Format(const Ch* pszFormat, ...) {
    std::va_list args;
    va_start(args, pszFormat);
    FormatV(pszFormat, &args);
    va_end(args);
}

template class BasicString<char>;
template class BasicString<unsigned short>;

}  // namespace vorlix

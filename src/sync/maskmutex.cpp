// The mask lock: values map to a power-of-two table by their low bits;
// the multi operations drop repeated indices before locking.
#include <vorlix/sync/indexmutex.h>

#include <vorlix/base/heap.h>
#include <vorlix/base/objcore.h>

namespace {

constexpr int kTableOnStack = 64;

// The distinct indices of a set of values, first occurrences in order.
class IndexTable {
public:
    IndexTable(CWaitMaskMutex& lock, DWORD* pdwMask, int nCount, int (CWaitMaskMutex::*exists)(DWORD*, int, DWORD)) {
        if (nCount < 1) return;
        if (!pdwMask) {
            PrjWarningMsg(0);
            m_ok = false;
            return;
        }
        if (nCount > kTableOnStack) {
            m_p = static_cast<DWORD*>(vorlix::detail::BlockAlloc(sizeof(DWORD) * static_cast<std::size_t>(nCount)));
            m_heap = m_p != nullptr;
            if (!m_p) {
                m_ok = false;
                return;
            }
        }
        for (int p = 0; p < nCount; ++p) {
            DWORD i = lock.MaskToIndex(pdwMask[p]);
            if (!(lock.*exists)(m_p, m_n, i)) m_p[m_n++] = i;
        }
    }
    ~IndexTable() {
        if (m_heap) vorlix::detail::BlockFree(m_p);
    }
    IndexTable(const IndexTable&) = delete;
    IndexTable& operator=(const IndexTable&) = delete;
    bool ok() const { return m_ok; }
    DWORD* indices() { return m_p; }
    int size() const { return m_n; }

private:
    DWORD m_local[kTableOnStack];
    DWORD* m_p = m_local;
    int m_n = 0;
    bool m_heap = false;
    bool m_ok = true;
};

}  // namespace

CWaitMaskMutex::CWaitMaskMutex() : m_dwIndexMask(0) {}

CWaitMaskMutex::CWaitMaskMutex(int nCount) : m_dwIndexMask(0) { Create(nCount); }

CWaitMaskMutex::~CWaitMaskMutex() {}

int CWaitMaskMutex::Create(int nCount) {
    if (nCount == 0 || IsOn()) return 0;
    // A negative count has no power of two to reach: refused, the lock stays off.
    if (nCount < 0 || nCount > (1 << 30)) return 0;
    int size = 1;
    int k = 0;
    while (size < nCount) {
        size *= 2;
        ++k;
    }
    m_dwIndexMask = (static_cast<DWORD>(1) << k) - 1;
    return CWaitIndexMutex::Create(size);
}

DWORD CWaitMaskMutex::MaskToIndex(DWORD dwMask) { return dwMask & m_dwIndexMask; }

int CWaitMaskMutex::ExistIndexInTbl(DWORD* pdwIndex, int nCount, DWORD nIndex) {
    for (int p = 0; p < nCount; ++p)
        if (pdwIndex[p] == nIndex) return 1;
    return 0;
}

int CWaitMaskMutex::WaitForRead(DWORD dwMask, DWORD dwTimeout, DWORD dwOwner, int bWait) {
    return CWaitIndexMutex::WaitForRead(MaskToIndex(dwMask), dwTimeout, dwOwner, bWait);
}

int CWaitMaskMutex::ReleaseForRead(DWORD dwMask, DWORD dwOwner) {
    return GuaranteeReleaseForRead(MaskToIndex(dwMask), dwOwner);
}

int CWaitMaskMutex::WaitForWrite(DWORD dwMask, DWORD dwTimeout, int bWait) {
    return CWaitIndexMutex::WaitForWrite(MaskToIndex(dwMask), dwTimeout, bWait);
}

void CWaitMaskMutex::ReleaseForWrite(DWORD dwMask) { CWaitIndexMutex::ReleaseForWrite(MaskToIndex(dwMask)); }

int CWaitMaskMutex::WaitForMultiRead(DWORD* pdwMask, int nCount, DWORD dwTimeout, DWORD dwOwner) {
    IndexTable t(*this, pdwMask, nCount, &CWaitMaskMutex::ExistIndexInTbl);
    if (!t.ok()) return IsOn() ? 0 : 1;
    return CWaitIndexMutex::WaitForMultiRead(t.indices(), t.size(), dwTimeout, dwOwner);
}

int CWaitMaskMutex::ReleaseForMultiRead(DWORD* pdwMask, int nCount, DWORD dwOwner) {
    IndexTable t(*this, pdwMask, nCount, &CWaitMaskMutex::ExistIndexInTbl);
    if (!t.ok()) return IsOn() ? 0 : 1;
    return CWaitIndexMutex::ReleaseForMultiRead(t.indices(), t.size(), dwOwner);
}

int CWaitMaskMutex::WaitForMultiWrite(DWORD* pdwMask, int nCount, DWORD dwTimeout) {
    IndexTable t(*this, pdwMask, nCount, &CWaitMaskMutex::ExistIndexInTbl);
    if (!t.ok()) return IsOn() ? 0 : 1;
    return CWaitIndexMutex::WaitForMultiWrite(t.indices(), t.size(), dwTimeout);
}

void CWaitMaskMutex::ReleaseForMultiWrite(DWORD* pdwMask, int nCount) {
    IndexTable t(*this, pdwMask, nCount, &CWaitMaskMutex::ExistIndexInTbl);
    if (t.ok()) {
        CWaitIndexMutex::ReleaseForMultiWrite(t.indices(), t.size());
        return;
    }
    // No memory for the table: release each index at its first occurrence.
    if (!pdwMask) return;
    for (int p = 0; p < nCount; ++p) {
        DWORD i = MaskToIndex(pdwMask[p]);
        bool seen = false;
        for (int q = 0; q < p && !seen; ++q) seen = MaskToIndex(pdwMask[q]) == i;
        if (!seen) CWaitIndexMutex::ReleaseForWrite(i);
    }
}

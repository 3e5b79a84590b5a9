// CObjArray<T, ARG>: the array that keeps library objects by value.
//
// Elements live in one contiguous block and are relocated as raw bytes when
// the block grows or elements shift: a relocated element is neither copy
// constructed nor destroyed, so T must hold no pointer into itself (every
// string, integer, handle and nested CObjArray qualifies).
//
// m_nMaxSize follows the growth policy exactly: a step of m_nGrowBy, or with
// m_nGrowBy 0 a step of m_nSize / 8 clamped to 4..1024, so appending one by
// one gives the capacities 1, 5, 9, ..., 41, 46, 51, 57, ... The block
// itself may hold spare slots beyond m_nMaxSize once it is larger than 64
// slots (it is rounded up to a multiple of a quarter of a power of two), so
// that very large arrays grow geometrically instead of 1024 slots at a time.
// A block filled in one go (MoveTail) holds only the elements it was given,
// fewer than m_nMaxSize may say: the array asks the heap how many its block
// holds (Room) before it writes past m_nSize.
#ifndef VORLIX_BASE_OBJARRAY_H
#define VORLIX_BASE_OBJARRAY_H

#include <vorlix/base/heap.h>
#include <vorlix/base/objcore.h>

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <type_traits>

namespace vorlix {
namespace detail {

// Lets the library's own array helpers (below) ask an array for its room.
struct ArrayRoom;

// Reports a failed condition; cheap when it holds.
inline void Check(bool bCondition) {
    if (!bCondition) PrjWarningMsg(0);
}

// Slots actually allocated for a capacity: the capacity itself up to 64,
// beyond that the next value of the form m * 2^k with m in 4..7.
inline std::size_t BlockSlots(std::size_t nCapacity) {
    if (nCapacity <= 64) return nCapacity;
    std::size_t quarter = 1;
    while ((quarter << 3) <= nCapacity) quarter <<= 1;
    // Now 4 * quarter <= nCapacity < 8 * quarter: round up to a multiple of
    // quarter, which is at most 8 * quarter and wastes under a quarter.
    return (nCapacity + quarter - 1) / quarter * quarter;
}

}  // namespace detail
}  // namespace vorlix

template <class T, class ARG = const T&>
class CObjArray : public CObjCore {
public:
    CObjArray() noexcept : m_pData(nullptr), m_nSize(0), m_nMaxSize(0), m_nGrowBy(0) {}
    CObjArray(const CObjArray& src) : CObjArray() { Copy(src); }
    CObjArray& operator=(const CObjArray& src) {
        Copy(src);
        return *this;
    }
    virtual ~CObjArray() { FreeAll(); }

    int GetSize() const { return m_nSize; }
    int GetUpperBound() const { return m_nSize - 1; }

    // The caller keeps the index in range; a bad index is reported to
    // PrjWarningMsg.
    T& operator[](int nIndex) {
        vorlix::detail::Check(nIndex >= 0 && nIndex < m_nSize);
        return m_pData[nIndex];
    }
    const T& operator[](int nIndex) const {
        vorlix::detail::Check(nIndex >= 0 && nIndex < m_nSize);
        return m_pData[nIndex];
    }
    T& ElementAt(int nIndex) { return (*this)[nIndex]; }
    const T& GetAt(int nIndex) const { return (*this)[nIndex]; }
    T* GetData() { return m_pData; }
    const T* GetData() const { return m_pData; }

    // Grows or shrinks to nNewSize elements; nGrowBy other than -1 becomes
    // the growth step. A negative size is reported and changes nothing.
    void SetSize(int nNewSize, int nGrowBy = -1);

    // Appends a copy of the element and returns its index.
    int Add(ARG newElement) {
        bool bFull = Full();
        if (bFull && Holds(&newElement)) {
            // The element lives in this array and the block is about to move.
            T copy;
            copy = newElement;
            return Add(static_cast<T&&>(copy));
        }
        T* slot = AppendSlot(bFull);
        if (!slot) return -1;  // allocation failed
        *slot = newElement;
        return m_nSize - 1;
    }
    // Appends by moving the element in (a string hands over its buffer).
    template <class A = ARG, typename std::enable_if<std::is_reference<A>::value, int>::type = 0>
    int Add(T&& newElement) {
        bool bFull = Full();
        if (bFull && Holds(&newElement)) {
            T copy;
            copy = static_cast<T&&>(newElement);
            return Add(static_cast<T&&>(copy));
        }
        T* slot = AppendSlot(bFull);
        if (!slot) return -1;
        *slot = static_cast<T&&>(newElement);
        return m_nSize - 1;
    }

    // Inserts nCount copies of the element at nIndex; an index at or past
    // the end pads with default elements.
    void InsertAt(int nIndex, ARG newElement, int nCount = 1);

    // Removes nCount elements from nIndex; the capacity stays.
    void RemoveAt(int nIndex, int nCount = 1);

    void RemoveAll() { SetSize(0); }

    // Exchanges the contents (block, size, capacity and step) of two arrays.
    void Swap(CObjArray& other) noexcept {
        T* p = m_pData;
        m_pData = other.m_pData;
        other.m_pData = p;
        int n = m_nSize;
        m_nSize = other.m_nSize;
        other.m_nSize = n;
        n = m_nMaxSize;
        m_nMaxSize = other.m_nMaxSize;
        other.m_nMaxSize = n;
        n = m_nGrowBy;
        m_nGrowBy = other.m_nGrowBy;
        other.m_nGrowBy = n;
    }

    // Becomes a copy of the source, element by element.
    void Copy(const CObjArray& src);

    T* m_pData;
    int m_nSize;
    int m_nMaxSize;
    int m_nGrowBy;

private:
    friend struct vorlix::detail::ArrayRoom;

    // The elements the block has room for: at least m_nSize, and fewer than
    // m_nMaxSize when the block was filled in one go.
    int Room() const {
        std::size_t n = vorlix::detail::BlockSize(static_cast<const void*>(m_pData)) / sizeof(T);
        return n > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(n);
    }
    // Whether one more element needs a larger block.
    bool Full() const { return m_nSize >= m_nMaxSize || m_nSize >= Room(); }

    // Grows by one default element and returns its slot, or null. While the
    // block has room (bFull is Full()) this is the whole of
    // SetSize(m_nSize + 1), inline.
    T* AppendSlot(bool bFull) {
        CObjCore::AssertObjValid(this);
        if (!bFull) {
            T* slot = m_pData + m_nSize;
            std::memset(static_cast<void*>(slot), 0, sizeof(T));
            ::new (static_cast<void*>(slot)) T;
            ++m_nSize;
            return slot;
        }
        int nIndex = m_nSize;
        SetSize(m_nSize + 1);
        return m_nSize == nIndex + 1 ? m_pData + nIndex : nullptr;
    }

    bool Holds(const T* p) const {
        // Compared as integers: the element may come from anywhere.
        std::uintptr_t a = reinterpret_cast<std::uintptr_t>(p);
        std::uintptr_t lo = reinterpret_cast<std::uintptr_t>(m_pData);
        return m_pData && a >= lo && a < lo + sizeof(T) * static_cast<std::size_t>(Room());
    }
    static void Construct(T* p, int n) {
        std::memset(static_cast<void*>(p), 0, sizeof(T) * static_cast<std::size_t>(n));
        for (int i = 0; i < n; ++i) ::new (static_cast<void*>(p + i)) T;
    }
    // The elements are exactly T (the array constructs them), so their
    // destructor is called directly, without the virtual dispatch.
    static void Destroy(T* p, int n) {
        for (int i = 0; i < n; ++i) {
#if defined(__GNUC__) || defined(__clang__)
            // The next element, while this one (and what it owns) goes.
            if (i + 1 < n) {
                __builtin_prefetch(p + i + 1);
                if (sizeof(T) > 64) __builtin_prefetch(reinterpret_cast<const char*>(p + i + 1) + 64);
            }
#endif
            DestroyOne(p[i]);
        }
    }
    template <class U = T, typename std::enable_if<std::is_class<U>::value, int>::type = 0>
    static void DestroyOne(U& x) {
        x.U::~U();
    }
    template <class U = T, typename std::enable_if<!std::is_class<U>::value, int>::type = 0>
    static void DestroyOne(U&) {}
    void FreeAll() {
        if (m_pData) {
            Destroy(m_pData, m_nSize);
            vorlix::detail::BlockFree(static_cast<void*>(m_pData));
        }
        m_pData = nullptr;
        m_nSize = m_nMaxSize = 0;
    }
    // Moves the block to one of at least nCapacity slots; false when memory
    // is exhausted (nothing changes then).
    bool Reallocate(int nCapacity) {
        if (m_pData && Room() >= nCapacity) return true;
        std::size_t slots = vorlix::detail::BlockSlots(static_cast<std::size_t>(nCapacity));
        if (slots > static_cast<std::size_t>(-1) / sizeof(T)) return false;
        void* p = vorlix::detail::BlockRealloc(static_cast<void*>(m_pData), slots * sizeof(T));
        if (!p) return false;
        m_pData = static_cast<T*>(p);
        return true;
    }
};

namespace vorlix {
namespace detail {

struct ArrayRoom {
    template <class A>
    static bool Full(const A& a) {
        return a.Full();
    }
};

// The capacity an empty array with the growth step nGrowBy has after n
// appends, one at a time.
inline int CapacityAfterAppends(int n, int nGrowBy) {
    if (n <= 0) return 0;
    long long nMax = 1;
    while (nMax < n) {
        long long nStep = nGrowBy;
        if (nStep == 0) {
            nStep = nMax / 8;
            if (nStep < 4) nStep = 4;
            if (nStep > 1024) nStep = 1024;
        }
        long long nWanted = nMax + nStep;
        nMax = nWanted > nMax + 1 ? nWanted : nMax + 1;
    }
    return nMax > INT_MAX ? INT_MAX : static_cast<int>(nMax);
}

// Moves the elements of src from nFirst on to the end of dst and shortens
// src to nFirst. An unallocated dst gets them as raw bytes in a block just
// large enough, and reports the capacity that appending them one by one
// would have given it; otherwise (or when that block cannot be had) they
// are appended one by one.
template <class T, class ARG>
void MoveTail(CObjArray<T, ARG>& src, int nFirst, CObjArray<T, ARG>& dst) {
    Check(nFirst >= 0 && nFirst <= src.m_nSize && &src != &dst);
    if (nFirst < 0 || nFirst >= src.m_nSize || &src == &dst) return;
    int n = src.m_nSize - nFirst;
    if (dst.m_pData == nullptr) {
        int nMax = CapacityAfterAppends(n, dst.m_nGrowBy);
        std::size_t slots = static_cast<std::size_t>(n);
        void* p = slots <= static_cast<std::size_t>(-1) / sizeof(T) ? BlockAlloc(slots * sizeof(T)) : nullptr;
        if (p) {
            std::memcpy(p, static_cast<const void*>(src.m_pData + nFirst), sizeof(T) * static_cast<std::size_t>(n));
            dst.m_pData = static_cast<T*>(p);
            dst.m_nSize = n;
            dst.m_nMaxSize = nMax;
            src.m_nSize = nFirst;
            return;
        }
    }
    for (int i = nFirst; i < src.m_nSize; ++i) dst.Add(static_cast<T&&>(src.m_pData[i]));
    src.SetSize(nFirst);
}

// Appends x by moving its bytes into the array, and leaves x a new default
// T: no copy and no exchange of members. x must be exactly a T (not an
// object of a derived class) and must not lie in the array. bGrownByAppends
// says the array's block never came from MoveTail, so that it holds
// m_nMaxSize elements and the heap need not be asked.
template <class T, class ARG>
void RelocateAppend(CObjArray<T, ARG>& a, T& x, bool bGrownByAppends = false) {
    int n = a.m_nSize;
    if (bGrownByAppends ? n >= a.m_nMaxSize : ArrayRoom::Full(a)) {
        a.SetSize(n + 1);
        if (a.m_nSize != n + 1) return;  // memory exhausted: x stays as it is
        a.m_pData[n].~T();
    } else {
        ++a.m_nSize;
    }
    std::memcpy(static_cast<void*>(a.m_pData + n), static_cast<const void*>(&x), sizeof(T));
    ::new (static_cast<void*>(&x)) T;
}

// SetSize(m_nSize + 1) for an array whose block never came from MoveTail
// (see RelocateAppend); the new element's slot, or null.
template <class T, class ARG>
T* AppendGrownByAppends(CObjArray<T, ARG>& a) {
    int n = a.m_nSize;
    if (n < a.m_nMaxSize) {
        T* slot = a.m_pData + n;
        std::memset(static_cast<void*>(slot), 0, sizeof(T));
        ::new (static_cast<void*>(slot)) T;
        a.m_nSize = n + 1;
        return slot;
    }
    a.SetSize(n + 1);
    return a.m_nSize == n + 1 ? a.m_pData + n : nullptr;
}

}  // namespace detail
}  // namespace vorlix

template <class T, class ARG>
void CObjArray<T, ARG>::SetSize(int nNewSize, int nGrowBy) {
    CObjCore::AssertObjValid(this);
    vorlix::detail::Check(nNewSize >= 0);
    if (nNewSize < 0) return;
    if (nGrowBy != -1) m_nGrowBy = nGrowBy;

    if (nNewSize == 0) {
        FreeAll();
    } else if (m_pData == nullptr) {
        if (static_cast<std::size_t>(nNewSize) > static_cast<std::size_t>(-1) / sizeof(T)) return;
        void* p = vorlix::detail::BlockAlloc(vorlix::detail::BlockSlots(static_cast<std::size_t>(nNewSize)) * sizeof(T));
        if (!p) return;
        m_pData = static_cast<T*>(p);
        Construct(m_pData, nNewSize);
        m_nSize = m_nMaxSize = nNewSize;
    } else if (nNewSize > m_nMaxSize) {
        int nStep = m_nGrowBy;
        if (nStep == 0) {
            nStep = m_nSize / 8;
            if (nStep < 4) nStep = 4;
            if (nStep > 1024) nStep = 1024;
        }
        long long nWanted = static_cast<long long>(m_nMaxSize) + nStep;
        if (nWanted > INT_MAX) nWanted = INT_MAX;
        int nNewMax = nNewSize > nWanted ? nNewSize : static_cast<int>(nWanted);
        if (!Reallocate(nNewMax)) return;
        Construct(m_pData + m_nSize, nNewSize - m_nSize);
        m_nSize = nNewSize;
        m_nMaxSize = nNewMax;
    } else if (nNewSize > m_nSize) {
        if (nNewSize > Room() && !Reallocate(m_nMaxSize)) return;
        Construct(m_pData + m_nSize, nNewSize - m_nSize);
        m_nSize = nNewSize;
    } else {
        Destroy(m_pData + nNewSize, m_nSize - nNewSize);
        m_nSize = nNewSize;
    }
}

template <class T, class ARG>
void CObjArray<T, ARG>::InsertAt(int nIndex, ARG newElement, int nCount) {
    CObjCore::AssertObjValid(this);
    vorlix::detail::Check(nIndex >= 0 && nCount > 0);
    if (nIndex < 0 || nCount <= 0) return;
    if (Holds(&newElement)) {
        T copy;
        copy = newElement;
        InsertAt(nIndex, copy, nCount);
        return;
    }
    if (nIndex >= m_nSize) {
        if (static_cast<long long>(nIndex) + nCount > INT_MAX) return;
        SetSize(nIndex + nCount);
        if (m_nSize != nIndex + nCount) return;
    } else {
        int nOldSize = m_nSize;
        if (static_cast<long long>(nOldSize) + nCount > INT_MAX) return;
        SetSize(nOldSize + nCount);
        if (m_nSize != nOldSize + nCount) return;
        Destroy(m_pData + nOldSize, nCount);
        std::memmove(static_cast<void*>(m_pData + nIndex + nCount),
                     static_cast<const void*>(m_pData + nIndex),
                     sizeof(T) * static_cast<std::size_t>(nOldSize - nIndex));
        Construct(m_pData + nIndex, nCount);
    }
    for (int i = 0; i < nCount; ++i) m_pData[nIndex + i] = newElement;
}

template <class T, class ARG>
void CObjArray<T, ARG>::RemoveAt(int nIndex, int nCount) {
    CObjCore::AssertObjValid(this);
    vorlix::detail::Check(nIndex >= 0 && nCount >= 0 && nIndex <= m_nSize - nCount);
    if (nIndex < 0 || nCount <= 0 || nIndex > m_nSize - nCount) return;
    Destroy(m_pData + nIndex, nCount);
    int nMove = m_nSize - (nIndex + nCount);
    if (nMove > 0)
        std::memmove(static_cast<void*>(m_pData + nIndex),
                     static_cast<const void*>(m_pData + nIndex + nCount),
                     sizeof(T) * static_cast<std::size_t>(nMove));
    m_nSize -= nCount;
}

template <class T, class ARG>
void CObjArray<T, ARG>::Copy(const CObjArray& src) {
    CObjCore::AssertObjValid(this);
    if (&src == this) return;
    SetSize(src.m_nSize);
    if (m_nSize != src.m_nSize) return;
    for (int i = 0; i < m_nSize; ++i) m_pData[i] = src.m_pData[i];
}

#endif

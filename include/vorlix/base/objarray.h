// CObjArray<T, ARG>: the array that keeps library objects by value.
//
// Elements live in one contiguous block of m_nMaxSize slots, the first
// m_nSize of them live. m_nMaxSize is what the array has allocated and may
// fill: a block filled in one go, or the first SetSize of an empty array,
// holds exactly its elements; growing takes the step m_nGrowBy, or with
// m_nGrowBy 0 a step of m_nSize / 8 clamped to 4..1024, so appending one by
// one gives the capacities 1, 5, 9, ..., 41, 46, 51, 57, ... Appending while
// m_nSize < m_nMaxSize costs no call to the heap. (A block of more than 64
// KiB that has to move takes a quarter more room than its new capacity,
// so that the next steps of a very large array grow in place: appending
// stays amortised constant time.)
//
// Elements are moved inside and between blocks as raw bytes (relocated): a
// relocated element is neither copied nor destroyed. Only types that allow
// it may be elements (vorlix::IsRelocatable below): scalars, pointers and
// other trivially copyable types, the library's strings, arrays, XML nodes,
// attributes and token positions. A class opts in by declaring the public
// member type `typedef void RelocatesAsBytes;`, which says that it holds no
// pointer into itself and that nothing outside points into it (classes
// derived from it inherit that promise), or by specializing
// vorlix::IsRelocatable for it.
#ifndef VORLIX_BASE_OBJARRAY_H
#define VORLIX_BASE_OBJARRAY_H

#include <vorlix/base/heap.h>
#include <vorlix/base/objcore.h>
#include <vorlix/base/string.h>

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <type_traits>

namespace vorlix {

// Whether objects of T may be moved as raw bytes (see above).
template <class T, class = void>
struct IsRelocatable : std::integral_constant<bool, std::is_trivially_copyable<T>::value> {};
template <class T>
struct IsRelocatable<T, std::void_t<typename T::RelocatesAsBytes>> : std::true_type {};
// A string is one pointer to a buffer of its own.
template <class Ch>
struct IsRelocatable<BasicString<Ch>> : std::true_type {};

namespace detail {

// Reports a failed condition; cheap when it holds.
inline void Check(bool bCondition) {
    if (!bCondition) PrjWarningMsg(0);
}

}  // namespace detail
}  // namespace vorlix

template <class T, class ARG = const T&>
class CObjArray : public CObjCore {
public:
    // Arrays of arrays: the block is one pointer away.
    typedef void RelocatesAsBytes;

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
    // the growth step. A negative size is reported and changes nothing;
    // when memory is exhausted nothing changes either.
    void SetSize(int nNewSize, int nGrowBy = -1);

    // Appends a copy of the element and returns its index (-1 when memory
    // is exhausted). The element may be one of this array's own.
    int Add(ARG newElement) {
        if (Full() && Holds(&newElement)) {
            // The element lives in this array and the block is about to move.
            T copy;
            copy = newElement;
            return Add(static_cast<T&&>(copy));
        }
        T* slot = AppendSlot();
        if (!slot) return -1;
        *slot = newElement;
        return m_nSize - 1;
    }
    // Appends by moving the element in (a string hands over its buffer).
    template <class A = ARG, typename std::enable_if<std::is_reference<A>::value, int>::type = 0>
    int Add(T&& newElement) {
        if (Full() && Holds(&newElement)) {
            T copy;
            copy = static_cast<T&&>(newElement);
            return Add(static_cast<T&&>(copy));
        }
        T* slot = AppendSlot();
        if (!slot) return -1;
        *slot = static_cast<T&&>(newElement);
        return m_nSize - 1;
    }

    // Inserts nCount copies of the element at nIndex; an index at or past
    // the end pads with default elements.
    void InsertAt(int nIndex, ARG newElement, int nCount = 1);

    // Removes nCount elements from nIndex; the capacity stays.
    void RemoveAt(int nIndex, int nCount = 1);

    // Destroys every element and frees the block.
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
    // Called wherever elements move as bytes.
    static void Relocates() {
        static_assert(vorlix::IsRelocatable<T>::value,
                      "CObjArray moves its elements as raw bytes: the element type must opt in "
                      "(typedef void RelocatesAsBytes; or vorlix::IsRelocatable)");
    }

    bool Full() const { return m_nSize >= m_nMaxSize; }

    // Grows by one default element and returns its slot, or null: while
    // there is room, the whole of SetSize(m_nSize + 1), inline.
    T* AppendSlot() {
        if (!Full()) {
            T* slot = m_pData + m_nSize;
            Construct(slot, 1);
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
        return m_pData && a >= lo && a < lo + sizeof(T) * static_cast<std::size_t>(m_nSize);
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
    // Makes the block hold at least nCapacity slots, moving the elements
    // when it has to move; false when memory is exhausted (nothing changes
    // then). The block's own room is asked for only here, when the array
    // grows, never on an append.
    bool Reallocate(int nCapacity) {
        Relocates();
        std::size_t nRoom = m_pData ? vorlix::detail::BlockSize(m_pData) / sizeof(T) : 0;
        if (nRoom >= static_cast<std::size_t>(nCapacity)) return true;
        std::size_t nSlots = static_cast<std::size_t>(nCapacity);
        if (nSlots > static_cast<std::size_t>(-1) / sizeof(T) / 2) return false;
        if (m_pData && nSlots * sizeof(T) > (std::size_t(64) << 10)) nSlots += nSlots / 4;
        void* p = vorlix::detail::BlockRealloc(static_cast<void*>(m_pData), nSlots * sizeof(T));
        if (!p) return false;
        m_pData = static_cast<T*>(p);
        return true;
    }
};

template <class T, class ARG>
void CObjArray<T, ARG>::SetSize(int nNewSize, int nGrowBy) {
    vorlix::detail::Check(nNewSize >= 0);
    if (nNewSize < 0) return;
    if (nGrowBy != -1) m_nGrowBy = nGrowBy;

    if (nNewSize == 0) {
        FreeAll();
    } else if (m_pData == nullptr) {
        if (static_cast<std::size_t>(nNewSize) > static_cast<std::size_t>(-1) / sizeof(T)) return;
        void* p = vorlix::detail::BlockAlloc(static_cast<std::size_t>(nNewSize) * sizeof(T));
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
        Construct(m_pData + m_nSize, nNewSize - m_nSize);
        m_nSize = nNewSize;
    } else {
        Destroy(m_pData + nNewSize, m_nSize - nNewSize);
        m_nSize = nNewSize;
    }
}

template <class T, class ARG>
void CObjArray<T, ARG>::InsertAt(int nIndex, ARG newElement, int nCount) {
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
        Relocates();
        int nOldSize = m_nSize;
        if (static_cast<long long>(nOldSize) + nCount > INT_MAX) return;
        SetSize(nOldSize + nCount);
        if (m_nSize != nOldSize + nCount) return;
        Destroy(m_pData + nOldSize, nCount);
        std::memmove(static_cast<void*>(m_pData + nIndex + nCount), static_cast<const void*>(m_pData + nIndex),
                     sizeof(T) * static_cast<std::size_t>(nOldSize - nIndex));
        Construct(m_pData + nIndex, nCount);
    }
    for (int i = 0; i < nCount; ++i) m_pData[nIndex + i] = newElement;
}

template <class T, class ARG>
void CObjArray<T, ARG>::RemoveAt(int nIndex, int nCount) {
    vorlix::detail::Check(nIndex >= 0 && nCount >= 0 && nIndex <= m_nSize - nCount);
    if (nIndex < 0 || nCount <= 0 || nIndex > m_nSize - nCount) return;
    Relocates();
    Destroy(m_pData + nIndex, nCount);
    int nMove = m_nSize - (nIndex + nCount);
    if (nMove > 0)
        std::memmove(static_cast<void*>(m_pData + nIndex), static_cast<const void*>(m_pData + nIndex + nCount),
                     sizeof(T) * static_cast<std::size_t>(nMove));
    m_nSize -= nCount;
}

template <class T, class ARG>
void CObjArray<T, ARG>::Copy(const CObjArray& src) {
    if (&src == this) return;
    SetSize(src.m_nSize);
    if (m_nSize != src.m_nSize) return;
    for (int i = 0; i < m_nSize; ++i) m_pData[i] = src.m_pData[i];
}

#endif

// Object array operations that only the library's parsers use: they move
// elements as raw bytes between arrays, where the public operations would
// copy them.
#ifndef VORLIX_SRC_BASE_OBJARRAY_OPS_H
#define VORLIX_SRC_BASE_OBJARRAY_OPS_H

#include <vorlix/base/objarray.h>

#include <cstring>
#include <new>

namespace vorlix {
namespace detail {

// Appends a default element and returns its slot, or null when memory is
// exhausted: SetSize(m_nSize + 1) without a call while there is room.
template <class T, class ARG>
T* AppendDefault(CObjArray<T, ARG>& a) {
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

// Room for one more element after the last, as raw memory (the size stays):
// the place, or null when memory is exhausted. The caller moves the bytes
// of an object there and then counts it (++m_nSize), or leaves it.
template <class T, class ARG>
T* RawSlotAtEnd(CObjArray<T, ARG>& a) {
    static_assert(IsRelocatable<T>::value, "elements move as raw bytes");
    int n = a.m_nSize;
    if (n >= a.m_nMaxSize) {
        a.SetSize(n + 1);
        if (a.m_nSize != n + 1) return nullptr;
        a.m_pData[n].~T();
        a.m_nSize = n;
    }
    return a.m_pData + n;
}

// Appends x by moving its bytes into the array: no copy and no exchange of
// members. x must be exactly a T (not an object of a derived class) and
// must not lie in the array. Afterwards x owns nothing any more, and the
// caller makes it an object again (a new T, or new members in place of
// those that went). False, with x as it was, when memory is exhausted.
template <class T, class ARG>
bool RelocateAppendBytes(CObjArray<T, ARG>& a, T& x) {
    T* slot = RawSlotAtEnd(a);
    if (!slot) return false;
    std::memcpy(static_cast<void*>(slot), static_cast<const void*>(&x), sizeof(T));
    ++a.m_nSize;
    return true;
}

// Appends x by moving its bytes into the array, and leaves x a new default
// T (RelocateAppendBytes). When memory is exhausted x stays as it is.
template <class T, class ARG>
void RelocateAppend(CObjArray<T, ARG>& a, T& x) {
    if (RelocateAppendBytes(a, x)) ::new (static_cast<void*>(&x)) T;
}

// Moves the elements of src from nFirst on to the end of dst and shortens
// src to nFirst. An empty dst gets them as raw bytes in a block of exactly
// their number, which is then its capacity; otherwise (or when that block
// cannot be had) they are appended one by one, as raw bytes too.
template <class T, class ARG>
void MoveTail(CObjArray<T, ARG>& src, int nFirst, CObjArray<T, ARG>& dst) {
    static_assert(IsRelocatable<T>::value, "elements move as raw bytes");
    Check(nFirst >= 0 && nFirst <= src.m_nSize && &src != &dst);
    if (nFirst < 0 || nFirst >= src.m_nSize || &src == &dst) return;
    int n = src.m_nSize - nFirst;
    if (dst.m_pData == nullptr) {
        std::size_t nBytes = sizeof(T) * static_cast<std::size_t>(n);
        if (void* p = BlockAlloc(nBytes)) {
            std::memcpy(p, static_cast<const void*>(src.m_pData + nFirst), nBytes);
            dst.m_pData = static_cast<T*>(p);
            dst.m_nSize = dst.m_nMaxSize = n;
            src.m_nSize = nFirst;
            return;
        }
    }
    for (int i = nFirst; i < src.m_nSize; ++i) RelocateAppend(dst, src.m_pData[i]);
    src.SetSize(nFirst);
}

}  // namespace detail
}  // namespace vorlix

#endif

// MString (8-bit) and UString (16-bit, UTF-16 code units): one string design
// in two widths.
//
// A string object is a single pointer to its characters; a header with the
// reference count, length and capacity sits in front of them. Copies share
// one buffer until one of them changes (copy-on-write with an atomic
// reference count), so a copy costs O(1) whatever the length. The object
// holds no pointer into itself and may be relocated as raw bytes.
//
// Lengths are ints, and a string holds at most detail::kMaxLength
// characters (2^31 - 18 in the 8-bit form, 2^30 - 10 in the 16-bit form).
// An operation whose text would be longer, or for which memory runs out,
// reports to PrjWarningMsg and does not wrap or cut: an assignment (=,
// SetString, a constructor) leaves the string empty, an append or insert
// leaves it as it was, and operator+ gives an empty string.
#ifndef VORLIX_BASE_STRING_H
#define VORLIX_BASE_STRING_H

#include <vorlix/config.h>

#include <atomic>
#include <cstdarg>
#include <cstddef>
#include <cstring>
#include <type_traits>

namespace vorlix {

// Exported here already: clang takes the visibility of a specialization
// from the declaration in force when it is first named (just below), and
// would otherwise hide the members of the instantiations in the library.
template <typename Ch>
class VORLIX_API BasicString;

namespace detail {

// Lies in front of the characters of every string buffer.
struct StrHeader {
    std::atomic<int> nRefs;  // negative for the shared empty text, never freed
    int nLength;             // characters, without the terminating NUL
    int nCapacity;           // characters that fit, without the NUL
    int nReserved;
};

// The shared empty text that every empty string points to.
struct StrNil {
    StrHeader hdr;
    unsigned short text[4];
};
extern VORLIX_API const StrNil g_strNil;

VORLIX_API int MbcToUnicode(BasicString<unsigned short>& out, unsigned int codePage, const char* text, int length);
VORLIX_API int UnicodeToMbc(BasicString<char>& out, unsigned int codePage, const unsigned short* text, int length);

// The longest text a string of characters Ch can hold: its buffer (the
// header, the characters and the NUL) must have a byte size that fits an
// int. A little under 2^31 characters in the 8-bit form, 2^30 in the
// 16-bit form.
template <class Ch>
constexpr int kMaxLength = static_cast<int>((2147483647u - sizeof(StrHeader)) / sizeof(Ch)) - 1;

// The length of a NUL-terminated text (0 for null). A text longer than any
// string can hold measures kMaxLength + 1, which every operation that takes
// the length then refuses.
template <typename Ch>
inline int StrLen(const Ch* psz) {
    if (!psz) return 0;
    int n = 0;
    while (n <= kMaxLength<Ch> && psz[n]) ++n;  // stops one past the limit
    return n;
}
template <>
inline int StrLen<char>(const char* psz) {
    if (!psz) return 0;
    std::size_t n = std::strlen(psz);
    return n <= static_cast<std::size_t>(kMaxLength<char>) ? static_cast<int>(n) : kMaxLength<char> + 1;
}

}  // namespace detail

template <typename Ch>
class VORLIX_API BasicString {
    template <typename C>
    using IfChar16 =
        typename std::enable_if<std::is_same<C, char16_t>::value && std::is_same<Ch, unsigned short>::value, int>::type;

public:
    typedef Ch CharType;

    BasicString() noexcept : m_pchData(Nil()) {}
    BasicString(const BasicString& src) noexcept : m_pchData(src.m_pchData) { AddRef(); }
    BasicString(BasicString&& src) noexcept : m_pchData(src.m_pchData) { src.m_pchData = Nil(); }
    // nCount copies of ch; a count of 0 or less gives an empty string.
    BasicString(Ch ch, int nCount);
    // The first nLength characters of psz; -1 takes the text up to its NUL.
    BasicString(const Ch* psz, int nLength = -1);
    // UTF-16 literals (u"...") for the 16-bit string.
    template <typename C, IfChar16<C> = 0>
    BasicString(const C* psz, int nLength = -1) : m_pchData(Nil()) {
        AssignChar16(psz, nLength);
    }
    ~BasicString() { Release(); }

    // The NUL-terminated text; valid until the string changes.
    operator const Ch*() const noexcept { return m_pchData; }
    const Ch* GetString() const noexcept { return m_pchData; }

    BasicString& operator=(const BasicString& src) noexcept {
        if (m_pchData != src.m_pchData) {
            BasicString copy(src);
            Swap(copy);
        }
        return *this;
    }
    BasicString& operator=(BasicString&& src) noexcept {
        BasicString taken(static_cast<BasicString&&>(src));
        Swap(taken);
        return *this;
    }
    BasicString& operator=(const Ch* psz);
    BasicString& operator=(Ch ch);
    template <typename C, IfChar16<C> = 0>
    BasicString& operator=(const C* psz) {
        AssignChar16(psz, -1);
        return *this;
    }

    // Replaces the text with the first nLength characters of psz (which may
    // lie in this string); reuses the buffer when it is unshared and large
    // enough.
    void SetString(const Ch* psz, int nLength) { Assign(psz, nLength); }
    // Appends the first nLength characters of psz.
    void Append(const Ch* psz, int nLength) { AppendText(psz, nLength); }

    BasicString& operator+=(const BasicString& src);
    BasicString& operator+=(const Ch* psz);
    BasicString& operator+=(Ch ch);

    friend BasicString operator+(const BasicString& a, const BasicString& b) {
        return Concat(a.m_pchData, a.GetLength(), b.m_pchData, b.GetLength());
    }
    friend BasicString operator+(const BasicString& a, const Ch* b) {
        return Concat(a.m_pchData, a.GetLength(), b, detail::StrLen(b));
    }
    friend BasicString operator+(const Ch* a, const BasicString& b) {
        return Concat(a, detail::StrLen(a), b.m_pchData, b.GetLength());
    }
    friend BasicString operator+(const BasicString& a, Ch b) { return Concat(a.m_pchData, a.GetLength(), &b, 1); }
    friend BasicString operator+(Ch a, const BasicString& b) { return Concat(&a, 1, b.m_pchData, b.GetLength()); }

    // Case-sensitive comparison with a text (a null text compares as empty).
    bool operator==(const Ch* psz) const { return Compare(psz) == 0; }
    bool operator!=(const Ch* psz) const { return Compare(psz) != 0; }
    bool operator==(const BasicString& s) const;
    bool operator!=(const BasicString& s) const { return !(*this == s); }
    friend bool operator==(const Ch* a, const BasicString& b) { return b.Compare(a) == 0; }
    friend bool operator!=(const Ch* a, const BasicString& b) { return b.Compare(a) != 0; }

    // Negative, 0 or positive, comparing code unit values.
    int Compare(const Ch* psz) const;
    // The same ignoring case; case is folded for ASCII letters only, every
    // other character compares by its value.
    int CompareNoCase(const Ch* psz) const;

    int GetLength() const noexcept { return Header()->nLength; }
    int IsEmpty() const noexcept { return Header()->nLength == 0; }
    void Empty();

    BasicString Left(int nCount) const;
    BasicString Mid(int nFirst, int nCount = -1) const;
    BasicString Right(int nCount) const;

    // Index of the first occurrence at or after nStart, or -1.
    int Find(Ch ch, int nStart = 0) const;
    int Find(const Ch* pszSub, int nStart = 0) const;
    // Index of the last occurrence, or -1.
    int ReverseFind(Ch ch) const;

    // Replaces every occurrence, left to right; inserted text is not
    // rescanned. Returns the number of replacements.
    int Replace(const Ch* pszOld, const Ch* pszNew);
    int Replace(Ch chOld, Ch chNew);

    // White space (blank, tab, CR, LF, VT, FF), one character, or every
    // character of a set.
    void TrimLeft();
    void TrimLeft(Ch chTarget);
    void TrimLeft(const Ch* pszTargets);
    void TrimRight();
    void TrimRight(Ch chTarget);
    void TrimRight(const Ch* pszTargets);
    void Trim() {
        TrimRight();
        TrimLeft();
    }

    // ASCII letters only; other characters are left alone.
    void MakeLower();
    void MakeUpper();

    // Index checks go to PrjWarningMsg; an index out of range reads NUL.
    Ch operator[](int nIndex) const { return GetAt(nIndex); }
    Ch GetAt(int nIndex) const;
    void SetAt(int nIndex, Ch ch);
    // Removes nCount characters from nIndex; returns the new length.
    int Delete(int nIndex, int nCount = 1);
    // Inserts at nIndex (clamped to the length); returns the new length.
    int Insert(int nIndex, Ch ch);
    int Insert(int nIndex, const Ch* psz);

    // A writable buffer of at least nMinBufLength characters plus a NUL,
    // holding the current text; call ReleaseBuffer before any other use.
    Ch* GetBuffer(int nMinBufLength);
    // Ends a GetBuffer: the length becomes nNewLength, or the length up to
    // the first NUL when it is -1.
    void ReleaseBuffer(int nNewLength = -1);

    // printf-style formatting in the string's own width. In the 16-bit form
    // %s takes a 16-bit text and %hs an 8-bit one; in the 8-bit form %s
    // takes an 8-bit text and %ls a 16-bit one (%S and %C: the other width).
    // Other conversions: d i u o x X c e E f F g G a A p %, with flags,
    // width, precision and * as printf; %n writes nothing.
    //
    // A precision bounds what a text argument is read: the argument needs
    // no NUL when it holds enough characters. In the string's own width it
    // counts code units, as printf does. A text of the other width is
    // converted through the system's default code page (UTF-8 on POSIX) one
    // character at a time: the precision counts the characters written, a
    // character that does not fit whole is dropped (never half of a UTF-8
    // sequence or of a surrogate pair), and the argument is read only as far
    // as the characters written (and the unit after a high surrogate).
    //
    // When the text cannot be produced - longer than the string limit
    // (kMaxLength: a little under 2^31 characters in the 8-bit form, 2^30
    // in the 16-bit form), a width or precision above INT_MAX (in the format
    // or from *, INT_MIN as a width among them), or memory exhausted - the
    // string becomes empty and the failure goes to PrjWarningMsg. FormatV
    // returns 0 then (1 otherwise), for callers that must tell a failure
    // from an empty text.
    void Format(const Ch* pszFormat, ...);
    template <typename C, IfChar16<C> = 0>
    void Format(const C* pszFormat, ...) {
        BasicString fmt(pszFormat);
        std::va_list args;
        va_start(args, pszFormat);
        FormatV(fmt.m_pchData, &args);
        va_end(args);
    }
    int FormatV(const Ch* pszFormat, std::va_list* pArgs);

    // Reserves room for nSize characters.
    void SetMinBlockSize(int nSize);

    // 16-bit string: becomes the text converted from the code page (0 the
    // system default, 65001 UTF-8, 949 Korean). Bytes that do not convert
    // become U+FFFD. Returns 1, or 0 (and an empty string) for a code page
    // the system does not know.
    template <typename C = Ch, typename std::enable_if<std::is_same<C, unsigned short>::value, int>::type = 0>
    int FromMBC(unsigned int nCodePage, const char* pszText, int nLength = -1) {
        return detail::MbcToUnicode(*this, nCodePage, pszText, nLength);
    }
    // 8-bit string: becomes the 16-bit text converted to the code page.
    // Characters that have no form there become "?".
    template <typename C = Ch, typename std::enable_if<std::is_same<C, char>::value, int>::type = 0>
    int FromUnicode(unsigned int nCodePage, const unsigned short* pszText, int nLength = -1) {
        return detail::UnicodeToMbc(*this, nCodePage, pszText, nLength);
    }

    void Swap(BasicString& other) noexcept {
        Ch* p = m_pchData;
        m_pchData = other.m_pchData;
        other.m_pchData = p;
    }

private:
    static Ch* Nil() noexcept { return const_cast<Ch*>(reinterpret_cast<const Ch*>(detail::g_strNil.text)); }
    detail::StrHeader* Header() const noexcept { return reinterpret_cast<detail::StrHeader*>(m_pchData) - 1; }
    void AddRef() noexcept {
        detail::StrHeader* h = Header();
        if (h->nRefs.load(std::memory_order_relaxed) >= 0) h->nRefs.fetch_add(1, std::memory_order_relaxed);
    }
    void Release() noexcept {
        if (m_pchData != Nil()) ReleaseData(m_pchData);
    }
    static void ReleaseData(Ch* pch) noexcept;
    static BasicString Concat(const Ch* a, int na, const Ch* b, int nb);
    // Makes the buffer unshared with room for nLength characters and keeps
    // the first nKeep characters of the text.
    Ch* PrepareWrite(int nLength, int nKeep);
    void Assign(const Ch* psz, int nLength);
    // Assign into a string that holds text: the buffer to copy into, or null
    // when done already (the source lay in the string) or failed.
    Ch* AssignTarget(const Ch* psz, int nLength);
    void AppendText(const Ch* psz, int nLength);
    void AssignChar16(const void* psz, int nLength);

    Ch* m_pchData;
};

}  // namespace vorlix

namespace vorlix {
namespace detail {

// Empties a string but keeps an unshared buffer for the next text: for
// working buffers that are filled again and again.
template <typename Ch>
inline void ClearKeepingBuffer(BasicString<Ch>& s) {
    const StrHeader* h = reinterpret_cast<const StrHeader*>(s.GetString()) - 1;
    if (h->nLength == 0) return;
    if (h->nRefs.load(std::memory_order_acquire) == 1) s.ReleaseBuffer(0);
    else s.Empty();
}

}  // namespace detail
}  // namespace vorlix

typedef vorlix::BasicString<char> MString;
typedef vorlix::BasicString<unsigned short> UString;

static_assert(sizeof(MString) == sizeof(void*), "a string is one pointer");
static_assert(sizeof(UString) == sizeof(void*), "a string is one pointer");

#endif

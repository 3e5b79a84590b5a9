// The one token scanner of the library: a separator set built once, the
// scan of one token over a span of text, and the search for a delimiter
// string in a span. Byte_/Uni_GetTokenOpt, Byte_/Uni_GetSplitToken, the
// token data stream and the XML parser all read tokens through it.
//
// A token is a run of characters outside the set (a word) or one
// separator character. Blanks and tabs in the set only separate: they end
// a word and are skipped, never delivered; with bSkipAllBlanks every blank
// and tab before a token is skipped, in the set or not (inside a word they
// stay). A span ends at its length or at a NUL, whichever comes first.
#ifndef VORLIX_SRC_BASE_TOKEN_SCAN_H
#define VORLIX_SRC_BASE_TOKEN_SCAN_H

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__) && (defined(__GNUC__) || defined(__clang__))
#include <emmintrin.h>
#define VORLIX_SCAN_SSE2 1
#endif

namespace vorlix {
namespace detail {

template <class Ch>
constexpr unsigned ScanUnit(Ch c) {
    return sizeof(Ch) == 1 ? static_cast<unsigned char>(c) : static_cast<unsigned>(c);
}

constexpr bool IsBlank(unsigned u) { return u == ' ' || u == '\t'; }

// A separator set: for each of the first 256 values one byte telling its
// place in the set (and so whether it ends a word); other values, and
// places past the table, are looked up in the set itself. The set keeps the
// pointer it was built from, so the text must outlive it.
template <class Ch>
class SepSet {
public:
    // Tells the constructor that the set's text is there (not null).
    struct Given {};

    // A null set is empty.
    constexpr explicit SepSet(const Ch* seps) : SepSet(seps ? seps : kNone, Given{}) {}
    // A constant expression for a set known at compile time (the parser's
    // sets are built before any code runs). Some compilers cannot compare
    // the address of a constant with null at compile time, hence no check.
    constexpr SepSet(const Ch* seps, Given) : m_seps(seps) {
        m_place[0] = kScan;  // NUL ends a word, and is no separator
        for (const Ch* p = m_seps; *p; ++p) {
            unsigned u = ScanUnit(*p);
            unsigned place = static_cast<unsigned>(p - m_seps);
            if (u >= 256) {
                m_bWide = true;
            } else if (m_place[u] == 0) {  // the first place counts
                m_place[u] = place + 1 < kScan ? static_cast<std::uint8_t>(place + 1) : kScan;
            }
        }
    }
    bool Has(unsigned u) const { return IndexOf(u) >= 0; }
    // The first place of u in the set, or -1.
    int IndexOf(unsigned u) const {
        if (u < 256) {
            unsigned v = m_place[u];
            if (v - 1 < kScan - 1u) return static_cast<int>(v) - 1;
            return v == kScan ? Scan(u) : -1;
        }
        return m_bWide ? Scan(u) : -1;
    }
    // Whether u ends a word: a separator, or NUL.
    bool Stops(unsigned u) const { return u < 256 ? m_place[u] != 0 : m_bWide && Scan(u) >= 0; }

private:
    static constexpr Ch kNone[1] = {0};
    // In the table: a separator whose place is found by scanning the set.
    static constexpr std::uint8_t kScan = 255;
    int Scan(unsigned u) const {
        for (const Ch* p = m_seps; *p; ++p)
            if (ScanUnit(*p) == u) return static_cast<int>(p - m_seps);
        return -1;
    }
    const Ch* m_seps;
    std::uint8_t m_place[256] = {};
    bool m_bWide = false;
};

// The end of the word that goes on at text[i] (i past its first
// character, not past len): the first separator or NUL, or len.
template <class Ch>
inline long WordEnd(const Ch* text, long i, long len, const SepSet<Ch>& set) {
    while (i < len && !set.Stops(ScanUnit(text[i]))) ++i;
    return i;
}

// The next token of text[pos, len) (a NUL ends the text too): returns the
// position after it and sets start to where it begins and index to its
// place in the set (-1 for a word), or returns -1 when only blanks are
// left. pos must not be negative or past len. With kWordStart a word is
// taken up to its first character only (WordEnd finds the rest).
template <bool kWordStart = false, class Ch>
inline long ScanToken(const Ch* text, long pos, long len, const SepSet<Ch>& set, bool bSkipAllBlanks, long& start,
                      int& index) {
    long i = pos;
    for (;; ++i) {
        unsigned u = i < len ? ScanUnit(text[i]) : 0u;
        if (u == 0) {
            index = -1;
            start = i;
            return -1;
        }
        int place = set.IndexOf(u);
        if (IsBlank(u) && (bSkipAllBlanks || place >= 0)) continue;  // blanks only separate
        start = i;
        index = place;
        if (place >= 0 || kWordStart) return i + 1;
        break;
    }
    return WordEnd(text, i + 1, len, set);
}

// The first place in text[from, len) that holds a, b or NUL, or len; from
// is not past len. Sixteen bytes at a time where the processor has
// SSE2, within the span only.
template <class Ch>
inline long FindStop(const Ch* text, long from, long len, Ch a, Ch b) {
    long i = from;
#if defined(VORLIX_SCAN_SSE2)
    const long kUnits = 16 / static_cast<long>(sizeof(Ch));
    for (; i + kUnits <= len; i += kUnits) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
        __m128i m;
        if constexpr (sizeof(Ch) == 1) {
            m = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(a))),
                                          _mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(b)))),
                             _mm_cmpeq_epi8(v, _mm_setzero_si128()));
        } else {
            m = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi16(v, _mm_set1_epi16(static_cast<short>(a))),
                                          _mm_cmpeq_epi16(v, _mm_set1_epi16(static_cast<short>(b)))),
                             _mm_cmpeq_epi16(v, _mm_setzero_si128()));
        }
        if (unsigned bits = static_cast<unsigned>(_mm_movemask_epi8(m)))
            return i + static_cast<long>(__builtin_ctz(bits)) / static_cast<long>(sizeof(Ch));
    }
#endif
    while (i < len && text[i] && text[i] != a && text[i] != b) ++i;
    return i;
}

// The first place at or after from where sub (m characters) starts within
// text[0, len), or -1. An empty sub is found at from. NULs in the text are
// ordinary characters here.
template <class Ch>
long FindIn(const Ch* text, long len, long from, const Ch* sub, int m) {
    if (from > len) return -1;
    if (m == 0) return from;
    if (m > len - from) return -1;
    const Ch* last = text + (len - m);  // the last place a match can start
    for (const Ch* q = text + from; q <= last; ++q) {
        if (sizeof(Ch) == 1) {
            q = static_cast<const Ch*>(
                std::memchr(q, static_cast<unsigned char>(sub[0]), static_cast<std::size_t>(last - q) + 1));
            if (!q) return -1;
        } else if (*q != sub[0]) {
            continue;
        }
        if (std::memcmp(q + 1, sub + 1, static_cast<std::size_t>(m - 1) * sizeof(Ch)) == 0)
            return static_cast<long>(q - text);
    }
    return -1;
}

}  // namespace detail
}  // namespace vorlix

#endif

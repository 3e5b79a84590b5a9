// Character data: one pass over a run finds what the parser must know
// about it: whether it reads as it is (no entity, every line end CR LF) and
// where its last line end lies. The 8-bit form looks at sixteen characters
// at a time where the processor has SSE2 (every x86-64 does), and never
// reads outside the run.
#ifndef VORLIX_SRC_XML_XML_TEXT_H
#define VORLIX_SRC_XML_XML_TEXT_H

#include <cstddef>

#if defined(__SSE2__) && (defined(__GNUC__) || defined(__clang__))
#include <emmintrin.h>
#define VORLIX_XML_SSE2 1
#endif

namespace vorlix {
namespace detail {

template <class Ch>
struct RunFacts {
    bool bAsItIs = true;             // no "&", and every line end is CR LF
    const Ch* pLastEnd = nullptr;    // the last CR or LF, or null
};

// One of "&", CR or LF at p[k] of the run p[0, n) (which "<" or NUL follows).
template <class Ch>
inline void Note(const Ch* p, std::size_t n, std::size_t k, RunFacts<Ch>& f) {
    Ch c = p[k];
    if (c == '&') {
        f.bAsItIs = false;
        return;
    }
    f.pLastEnd = p + k;
    if (c == '\n' ? (k == 0 || p[k - 1] != '\r') : (k + 1 == n || p[k + 1] != '\n')) f.bAsItIs = false;
}

inline bool IsTextMark(unsigned u) { return u == '&' || u == '\r' || u == '\n'; }

template <class Ch>
RunFacts<Ch> ScanRun(const Ch* p, std::size_t n) {
    RunFacts<Ch> f;
    std::size_t i = 0;
#if defined(VORLIX_XML_SSE2)
    if constexpr (sizeof(Ch) == 1) {
        // Per sixteen characters a mask of each mark. The run reads as it is
        // when there is no "&" and every CR has an LF right after it and
        // every LF a CR right before (the masks line up, a CR in the last
        // place carrying to the next block).
        const __m128i amp = _mm_set1_epi8('&'), cr = _mm_set1_epi8('\r'), lf = _mm_set1_epi8('\n');
        unsigned nCarry = 0;  // 1 when the last block ended with a CR
        for (; i + 16 <= n; i += 16) {
            __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
            unsigned mAmp = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, amp)));
            unsigned mCr = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, cr)));
            unsigned mLf = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, lf)));
            unsigned mEnd = mCr | mLf;
            if (!(mAmp | mEnd | nCarry)) continue;
            if (mAmp || ((mCr << 1 | nCarry) & 0xFFFFu) != mLf) f.bAsItIs = false;
            nCarry = mCr >> 15;
            if (mEnd) f.pLastEnd = p + i + (31 - static_cast<std::size_t>(__builtin_clz(mEnd)));
        }
        if (nCarry && (i == n || p[i] != '\n')) f.bAsItIs = false;
    }
#endif
    for (; i < n; ++i)
        if (IsTextMark(static_cast<unsigned>(p[i]) & (sizeof(Ch) == 1 ? 0xFFu : 0xFFFFu))) Note(p, n, i, f);
    return f;
}

// Characters before the first "&", CR or LF of p[0, n), or n.
template <class Ch>
inline std::size_t PlainLength(const Ch* p, std::size_t n) {
    std::size_t i = 0;
#if defined(VORLIX_XML_SSE2)
    if constexpr (sizeof(Ch) == 1) {
        const __m128i amp = _mm_set1_epi8('&'), cr = _mm_set1_epi8('\r'), lf = _mm_set1_epi8('\n');
        for (; i + 16 <= n; i += 16) {
            __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
            __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, amp), _mm_cmpeq_epi8(v, cr)), _mm_cmpeq_epi8(v, lf));
            unsigned m = static_cast<unsigned>(_mm_movemask_epi8(hit));
            if (m) return i + static_cast<std::size_t>(__builtin_ctz(m));
        }
    }
#endif
    while (i < n && !IsTextMark(static_cast<unsigned>(p[i]) & (sizeof(Ch) == 1 ? 0xFFu : 0xFFFFu))) ++i;
    return i;
}

}  // namespace detail
}  // namespace vorlix

#endif

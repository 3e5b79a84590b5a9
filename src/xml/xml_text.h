// Character data: one pass over a run finds what the parser must know
// about it: whether it reads as it is (no entity, every line end CR LF) and
// where its last line end lies. Over text in memory the same pass also
// finds where the run ends (TextScanner). Where the processor has SSE2
// (every x86-64 does) the pass looks at sixteen bytes at a time, and it
// never reads outside the run, or outside the text as far as it is known
// to go.
#ifndef VORLIX_SRC_XML_XML_TEXT_H
#define VORLIX_SRC_XML_XML_TEXT_H

#include <cstddef>
#include <cstring>

#if defined(__SSE2__) && (defined(__GNUC__) || defined(__clang__))
#include <emmintrin.h>
#define VORLIX_XML_SSE2 1
#endif

namespace vorlix {
namespace detail {

// What a run needs before it becomes a text node's string.
enum TextForm {
    kTextUnknown = -1,  // not looked at yet
    kTextConvert = 0,   // a line end other than CR LF: every line end is written anew
    kTextAsItIs = 1,    // no "&" and every line end CR LF: copied as it is
    kTextEntities = 2   // every line end CR LF, and an "&": only entities to decode
};

template <class Ch>
struct RunFacts {
    bool bNoAmp = true;            // no "&"
    bool bCrLf = true;             // every line end is CR LF
    const Ch* pLastEnd = nullptr;  // the last CR or LF, or null
    int Form() const { return !bCrLf ? kTextConvert : (bNoAmp ? kTextAsItIs : kTextEntities); }
};

// One of "&", CR or LF at p[k] of the run p[0, n) (which "<" or NUL follows).
template <class Ch>
inline void Note(const Ch* p, std::size_t n, std::size_t k, RunFacts<Ch>& f) {
    Ch c = p[k];
    if (c == '&') {
        f.bNoAmp = false;
        return;
    }
    f.pLastEnd = p + k;
    if (c == '\n' ? (k == 0 || p[k - 1] != '\r') : (k + 1 == n || p[k + 1] != '\n')) f.bCrLf = false;
}

inline bool IsTextMark(unsigned u) { return u == '&' || u == '\r' || u == '\n'; }

#if defined(VORLIX_XML_SSE2)
// The marks among the characters p[0, 16 bytes): one bit per byte of the
// block for each mark, both bits of a 16-bit unit set when it is one.
template <class Ch>
inline void Marks(const Ch* p, unsigned& mAmp, unsigned& mCr, unsigned& mLf) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    if constexpr (sizeof(Ch) == 1) {
        mAmp = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8('&'))));
        mCr = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8('\r'))));
        mLf = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8('\n'))));
    } else {
        mAmp = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(v, _mm_set1_epi16('&'))));
        mCr = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(v, _mm_set1_epi16('\r'))));
        mLf = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(v, _mm_set1_epi16('\n'))));
    }
}
#endif

template <class Ch>
RunFacts<Ch> ScanRun(const Ch* p, std::size_t n) {
    RunFacts<Ch> f;
    std::size_t i = 0;
#if defined(VORLIX_XML_SSE2)
    // Per block of sixteen bytes a mask of each mark. The run reads as it is
    // when there is no "&" and every CR has an LF right after it and every
    // LF a CR right before: the masks line up, a CR at the block's end
    // carrying over to the next block.
    const std::size_t kUnits = 16 / sizeof(Ch);
    const unsigned kLast = 16 - sizeof(Ch);  // the bit of the block's last unit
    unsigned nCarry = 0;
    for (; i + kUnits <= n; i += kUnits) {
        unsigned mAmp, mCr, mLf;
        Marks(p + i, mAmp, mCr, mLf);
        unsigned mEnd = mCr | mLf;
        if (!(mAmp | mEnd | nCarry)) continue;
        unsigned mShifted = (mCr << sizeof(Ch) | nCarry * (sizeof(Ch) == 1 ? 1u : 3u)) & 0xFFFFu;
        if (mAmp) f.bNoAmp = false;
        if (mShifted != mLf) f.bCrLf = false;
        nCarry = (mCr >> kLast) & 1u;
        if (mEnd) f.pLastEnd = p + i + (31 - static_cast<std::size_t>(__builtin_clz(mEnd))) / sizeof(Ch);
    }
    if (nCarry && (i == n || p[i] != '\n')) f.bCrLf = false;
#endif
    for (; i < n; ++i)
        if (IsTextMark(static_cast<unsigned>(p[i]) & (sizeof(Ch) == 1 ? 0xFFu : 0xFFFFu))) Note(p, n, i, f);
    return f;
}

// Character data in memory, from where it begins up to the "<" or the NUL
// that ends it, read once: the end and the run's facts come out of the
// same pass. The text's length is not known in advance, so the caller
// feeds it how far the text is known to go (Feed); the scanner reads whole
// blocks only within that, and unit by unit only at the text's end.
template <class Ch>
class TextScanner {
public:
    explicit TextScanner(const Ch* p) : m_base(p), m_pos(p) {}

    // Where to go on from: the text must be known up to a block past it.
    const Ch* Pos() const { return m_pos; }
    const RunFacts<Ch>& Facts() const { return m_f; }

    // Scans on to limit for the "<" or NUL that ends the run: returns it,
    // or null when none lies in the whole blocks before limit. With bEnd,
    // limit is one past the NUL that ends the text: the scan then goes on
    // unit by unit past the last whole block and finds the end.
    const Ch* Feed(const Ch* limit, bool bEnd) {
#if defined(VORLIX_XML_SSE2)
        const std::size_t kUnits = 16 / sizeof(Ch);
        const unsigned kUnit = sizeof(Ch) == 1 ? 1u : 3u;  // the bits of one unit in a mask
        while (static_cast<std::size_t>(limit - m_pos) >= kUnits) {
            unsigned mAmp, mCr, mLf;
            Marks(m_pos, mAmp, mCr, mLf);
            unsigned mStop = StopMarks(m_pos);
            if (mStop) {
                // Only the units before the stop count; a CR right before
                // it has no LF after it.
                unsigned first = mStop & (0u - mStop);
                unsigned below = first - 1;
                Block(mAmp & below, mCr & below, mLf & below, below | first * kUnit);
                return m_pos + static_cast<std::size_t>(__builtin_ctz(first)) / sizeof(Ch);
            }
            Block(mAmp, mCr, mLf, 0xFFFFu);
            m_nCarry = (mCr >> (16 - sizeof(Ch))) & 1u;
            m_pos += kUnits;
        }
        if (!bEnd) return nullptr;
        // A CR that ended the last block wants an LF first.
        if (m_nCarry && *m_pos != '\n') m_f.bCrLf = false;
#else
        // Unit by unit the scan never reads past the NUL: no limit needed.
        (void)limit;
        (void)bEnd;
#endif
        // The text ends within a block from here (or there are no blocks):
        // unit by unit. A CR is no NUL, so the unit after it is there to
        // look at.
        for (;; ++m_pos) {
            Ch c = *m_pos;
            if (c == '<' || c == 0) return m_pos;
            if (c == '&') {
                m_f.bNoAmp = false;
            } else if (c == '\r' || c == '\n') {
                m_f.pLastEnd = m_pos;
                if (c == '\r' ? m_pos[1] != '\n' : (m_pos == m_base || m_pos[-1] != '\r')) m_f.bCrLf = false;
            }
        }
    }

private:
#if defined(VORLIX_XML_SSE2)
    // The "<" and NUL among the block's units, as Marks gives its marks.
    static unsigned StopMarks(const Ch* p) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        if constexpr (sizeof(Ch) == 1) {
            __m128i m = _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('<')), _mm_cmpeq_epi8(v, _mm_setzero_si128()));
            return static_cast<unsigned>(_mm_movemask_epi8(m));
        } else {
            __m128i m = _mm_or_si128(_mm_cmpeq_epi16(v, _mm_set1_epi16('<')), _mm_cmpeq_epi16(v, _mm_setzero_si128()));
            return static_cast<unsigned>(_mm_movemask_epi8(m));
        }
    }
    // The marks of the block at m_pos; mCompare: the bits of the units whose
    // LF mark must match a CR mark right before it.
    void Block(unsigned mAmp, unsigned mCr, unsigned mLf, unsigned mCompare) {
        unsigned mEnd = mCr | mLf;
        if (!(mAmp | mEnd | m_nCarry)) return;
        unsigned mShifted = (mCr << sizeof(Ch) | m_nCarry * (sizeof(Ch) == 1 ? 1u : 3u)) & mCompare & 0xFFFFu;
        if (mAmp) m_f.bNoAmp = false;
        if (mShifted != mLf) m_f.bCrLf = false;
        if (mEnd) m_f.pLastEnd = m_pos + (31 - static_cast<std::size_t>(__builtin_clz(mEnd))) / sizeof(Ch);
    }
#endif

    const Ch* m_base;  // where the run begins
    const Ch* m_pos;   // the next unit to look at
    RunFacts<Ch> m_f;
    unsigned m_nCarry = 0;  // the last block ended with a CR
};

// The place of the first "&" in p[0, n), or n.
inline int AmpIndex(const char* p, int n) {
    const void* q = n > 0 ? std::memchr(p, '&', static_cast<std::size_t>(n)) : nullptr;
    return q ? static_cast<int>(static_cast<const char*>(q) - p) : n;
}
inline int AmpIndex(const unsigned short* p, int n) {
    int i = 0;
    while (i < n && p[i] != '&') ++i;
    return i;
}

// Characters before the first "&", CR or LF of p[0, n), or n.
template <class Ch>
inline std::size_t PlainLength(const Ch* p, std::size_t n) {
    std::size_t i = 0;
#if defined(VORLIX_XML_SSE2)
    const std::size_t kUnits = 16 / sizeof(Ch);
    for (; i + kUnits <= n; i += kUnits) {
        unsigned mAmp, mCr, mLf;
        Marks(p + i, mAmp, mCr, mLf);
        if (unsigned m = mAmp | mCr | mLf) return i + static_cast<std::size_t>(__builtin_ctz(m)) / sizeof(Ch);
    }
#endif
    while (i < n && !IsTextMark(static_cast<unsigned>(p[i]) & (sizeof(Ch) == 1 ? 0xFFu : 0xFFFFu))) ++i;
    return i;
}

}  // namespace detail
}  // namespace vorlix

#endif

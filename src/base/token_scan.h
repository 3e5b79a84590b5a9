// The token scan shared by the token functions, the token data stream and
// the XML parser: a separator set built once and the scan of one token.
#ifndef VORLIX_SRC_BASE_TOKEN_SCAN_H
#define VORLIX_SRC_BASE_TOKEN_SCAN_H

#include <vorlix/base/string.h>

#include <climits>
#include <cstdint>

namespace vorlix {
namespace detail {

template <class Ch>
inline unsigned ScanUnit(Ch c) {
    return sizeof(Ch) == 1 ? static_cast<unsigned char>(c) : static_cast<unsigned>(c);
}

inline bool IsBlank(unsigned u) { return u == ' ' || u == '\t'; }

// Membership test for a separator set: a table of the first 256 values
// with each one's place in the set, a scan of the set for the others. The
// set keeps the pointer it was built from, so the text must outlive it.
template <class Ch>
class SepSet {
public:
    explicit SepSet(const Ch* seps) : m_seps(seps ? seps : None()) {
        for (const Ch* p = m_seps; *p; ++p) {
            unsigned u = ScanUnit(*p);
            int place = static_cast<int>(p - m_seps);
            if (u >= 256) m_bWide = true;
            else if (m_place[u] == 0 && place < 255) m_place[u] = static_cast<std::uint8_t>(place + 1);
            else if (m_place[u] == 0) m_bWide = true;  // a place beyond the table: found by the scan
        }
    }
    bool Has(unsigned u) const {
        if (u < 256 && m_place[u]) return true;
        return m_bWide && Scan(u) >= 0;
    }
    // The first place of u in the set, or -1.
    int IndexOf(unsigned u) const {
        if (u < 256 && m_place[u]) return m_place[u] - 1;
        return m_bWide ? Scan(u) : -1;
    }
    const Ch* Text() const { return m_seps; }

private:
    static const Ch* None() {
        static const Ch none[1] = {0};
        return none;
    }
    int Scan(unsigned u) const {
        for (const Ch* p = m_seps; *p; ++p)
            if (ScanUnit(*p) == u) return static_cast<int>(p - m_seps);
        return -1;
    }
    const Ch* m_seps;
    std::uint8_t m_place[256] = {};
    bool m_bWide = false;
};

// The next token of text at or after pos: a separator character (index
// its place in the set) or a run of other characters (index -1). Blanks
// and tabs in the set, or all of them when opt has bit 2, only separate.
// The text ends at its NUL or, when len is not negative, at len. Returns
// the position after the token and sets start to where it begins, or
// returns -1 when none is left.
template <class Ch>
long TokenSpanInSet(const Ch* text, long pos, long& start, const SepSet<Ch>& set, int& index, long len, int opt) {
    index = -1;
    start = pos;
    if (!text || pos < 0 || (len >= 0 && pos > len)) return -1;
    // Without a length the NUL ends the text; with one, the length does too.
    if (len < 0) len = LONG_MAX;
    long i = pos;
    bool bSkipBlanks = (opt & 2) != 0;
    for (;;) {
        unsigned u = i < len ? ScanUnit(text[i]) : 0u;
        if (u == 0) return -1;
        if (IsBlank(u) && (bSkipBlanks || set.Has(u))) {
            ++i;  // blanks only separate
            continue;
        }
        if (set.Has(u)) {
            start = i;
            index = set.IndexOf(u);
            return i + 1;
        }
        break;
    }
    start = i;
    for (unsigned u; i < len && (u = ScanUnit(text[i])) != 0 && !set.Has(u);) ++i;
    return i;
}

// The same, copying the token into tok (emptied when none is left).
template <class Ch>
long TokenInSet(const Ch* text, long pos, BasicString<Ch>& tok, const SepSet<Ch>& set, int& index, long len,
                int opt) {
    long start;
    long end = TokenSpanInSet(text, pos, start, set, index, len, opt);
    if (end < 0) ClearKeepingBuffer(tok);
    else tok.SetString(text + start, static_cast<int>(end - start));
    return end;
}

}  // namespace detail
}  // namespace vorlix

#endif

// Token splitting with kept separators and empty tokens, in both widths.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support.h"

namespace {

// Splits text (bytes taken as units of the width) and joins the tokens with
// "|", units above 0x7F shown as "#"; "-" when there are none. flags: 1
// bAddSep, 2 bAddEmpty, 4 bNoLeadEmpty.
template <class Ch>
std::string Split(const std::string& text, const std::string& seps, int flags, long nPos) {
    std::vector<Ch> t, s;
    for (unsigned char c : text) t.push_back(c);
    for (unsigned char c : seps) s.push_back(c);
    t.push_back(0), s.push_back(0);
    vorlix::BasicStringArray<Ch> ary;
    ary.SetSize(3);  // emptied first
    int n;
    if constexpr (sizeof(Ch) == 1)
        n = Byte_GetSplitTokenEx(t.data(), nPos, s.data(), ary, flags & 1, flags & 2, flags & 4);
    else n = Uni_GetSplitTokenEx(t.data(), nPos, s.data(), ary, flags & 1, flags & 2, flags & 4);
    EXPECT_EQ(n, ary.GetSize());
    std::string out = n ? "" : "-";
    for (int i = 0; i < n; ++i) {
        if (i) out += "|";
        for (int k = 0; k < ary[i].GetLength(); ++k) out += (ary[i][k] & 0xFF80) ? '#' : static_cast<char>(ary[i][k]);
    }
    return out;
}

}  // namespace

TEST(UtilSplit, EmptyTokensAndSeparatorsInBothWidths) {
    const struct {
        const char *text, *seps;
        int flags;
        long pos;
        const char *want, *want16;  // want16: where the 16-bit form differs
    } cases[] = {
        {"a,,b,", ",", 0, 0, "a|b", nullptr},
        {"a,,b,", ",", 2, 0, "a||b", nullptr},  // nothing after the last separator
        {"a,,b,", ",", 3, 0, "a|,||,|b|,", nullptr},
        {",a", ",", 2, 0, "|a", nullptr},
        {",a", ",", 6, 0, "a", nullptr},
        {",,a", ",", 7, 0, ",||,|a", nullptr},            // only the leading empty token goes
        {"10 20:30", " :", 1, 0, "10|20|:|30", nullptr},  // a blank splits and is never kept,
        {"a , b", " ,", 3, 0, "a|,|b", nullptr},          // nor makes empty tokens
        {"x\r\ny", "\r\n", 3, 0, "x||y", nullptr},        // CR and LF make empty tokens, not kept
        {"a b,c", ",", 0, 0, "a b|c", nullptr},
        {"ab,cd", ",", 1, 3, "cd", nullptr},
        {"ab,cd", ",", 1, 5, "-", nullptr},  // at the end, past it, before the start
        {"ab,cd", ",", 1, 6, "-", nullptr},
        {"ab,cd", ",", 1, -1, "-", nullptr},
        // 0xB7 is a negative byte in the 8-bit form: it splits but is not kept.
        {"a\xB7"
         "b~c",
         "\xB7~", 1, 0, "a|b|~|c", "a|#|b|~|c"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " at " + c.seps);
        EXPECT_EQ(Split<char>(c.text, c.seps, c.flags, c.pos), c.want);
        EXPECT_EQ(Split<unsigned short>(c.text, c.seps, c.flags, c.pos), c.want16 ? c.want16 : c.want);
    }
}

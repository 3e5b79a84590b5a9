// Feeds arbitrary bytes to GetSplitTokenEx and to the comment-skipping line
// reader. The first byte holds the three flags and a start position, the
// next up to four bytes (up to a 0x01 byte) the separator set, the rest the
// text. Checks: the count is the array's size; without empty tokens no
// entry is empty; both widths agree when the separators are ASCII; lines
// never start with white space or "//", and the position moves forward.
#include <vorlix/vorlix.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

void Check(bool b) {
    if (!b) __builtin_trap();
}

std::vector<unsigned short> Widen(const std::string& s) {
    std::vector<unsigned short> v;
    for (char c : s) v.push_back(static_cast<unsigned char>(c));
    v.push_back(0);
    return v;
}

void Lines(const char* text) {
    unsigned long pos = 0, prev = 0;
    MString line;
    while (Byte_ReadText1LineSkipComment(text, pos, line)) {
        Check(pos > prev);
        prev = pos;
        if (line.GetLength() == 0) continue;
        char c = line[0];
        Check(c != ' ' && c != '\t' && c != '\r' && c != '\n');
        Check(line.GetLength() < 2 || c != '/' || line[1] != '/');
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    int bAddSep = data[0] & 1, bAddEmpty = (data[0] >> 1) & 1, bNoLeadEmpty = (data[0] >> 2) & 1;
    long nPos = static_cast<long>(data[0] >> 3) - 2;  // -2 to 29: before, inside and past short texts
    size_t i = 1;
    std::string seps;
    while (i < size && seps.size() < 4 && data[i] != 0x01) seps.push_back(static_cast<char>(data[i++]));
    if (i < size && data[i] == 0x01) ++i;
    // The text may hold NULs: it ends at the first.
    std::string text(reinterpret_cast<const char*>(data) + i, size - i);

    MStringArray ary;
    int n = Byte_GetSplitTokenEx(text.c_str(), nPos, seps.c_str(), ary, bAddSep, bAddEmpty, bNoLeadEmpty);
    Check(n == ary.GetSize());
    for (int k = 0; k < n; ++k) Check(bAddEmpty || ary[k].GetLength() > 0);

    std::vector<unsigned short> wtext = Widen(text), wseps = Widen(seps);
    UStringArray wary;
    int wn = Uni_GetSplitTokenEx(wtext.data(), nPos, wseps.data(), wary, bAddSep, bAddEmpty, bNoLeadEmpty);
    Check(wn == wary.GetSize());
    bool bAsciiSeps = true;
    for (char c : seps) bAsciiSeps = bAsciiSeps && static_cast<unsigned char>(c) < 0x80;
    if (bAsciiSeps) {
        // Separators above 0x7F are where the widths differ by design.
        Check(wn == n);
        for (int k = 0; k < n; ++k) {
            Check(wary[k].GetLength() == ary[k].GetLength());
            for (int c = 0; c < ary[k].GetLength(); ++c) Check(wary[k][c] == static_cast<unsigned char>(ary[k][c]));
        }
    }

    Lines(text.c_str());
    return 0;
}

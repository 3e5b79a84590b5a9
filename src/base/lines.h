// The line sources: where the library reads lines from. The public line
// readers (Byte_ReadText1Line, Uni_ReadText1Line*, Byte_Read1Line,
// Uni_Read1Line*), the token data stream and the XML parser all split lines
// here, and nowhere else.
//
// A line ends at LF, CR LF or a lone CR and is delivered without its end.
// Each source reads the line at a position and tells where the next one
// starts:
// - InPlaceLines: NUL-terminated text in memory that can be read as it
//   lies (8-bit text, 16-bit text in the platform's byte order). The line
//   is a span of the text itself. Positions are character indexes.
// - BufferedLines: everything that must be decoded first, into a buffer
//   string the caller gives: 16-bit text in memory in the other byte order
//   or as UTF-8 bytes (positions count the source's units: code units, or
//   bytes for UTF-8), and files, as bytes (8-bit) or as UTF-16 LE, UTF-16 BE
//   or UTF-8 (16-bit). A file is read from wherever its pointer stands, and
//   the position after a read is the file's offset after the line.
//
// Read returns kLine with the line at p for n characters (valid until the
// next read or until the buffer changes), kNoLine at the end of the text,
// or kLineTooLong for a line longer than a string of the width can hold
// (kMaxLength in length.h): then the position stays at the line's start
// and nothing is delivered.
#ifndef VORLIX_SRC_BASE_LINES_H
#define VORLIX_SRC_BASE_LINES_H

#include <vorlix/base/string.h>

#include "length.h"
#include "token_scan.h"

#include <cstddef>
#include <cstring>

namespace vorlix {
namespace detail {

enum LineResult { kLineTooLong = -1, kNoLine = 0, kLine = 1 };

// Characters before the first CR, LF or NUL.
inline std::size_t LineLength(const char* p) { return std::strcspn(p, "\r\n"); }
inline std::size_t LineLength(const unsigned short* p) {
    std::size_t n = 0;
    for (unsigned short u; (u = p[n]) != 0 && u != '\r' && u != '\n';) ++n;
    return n;
}

// LineLength, looking at whole blocks of sixteen bytes below pKnown (null:
// nothing known), which the text is known to reach without a NUL.
template <class Ch>
inline std::size_t LineLengthWithin(const Ch* p, const Ch* pKnown) {
    // At most 1 GiB of blocks in one go: a line longer than that ends the
    // usual way, and the count stays within a long everywhere.
    std::ptrdiff_t d = pKnown && pKnown > p ? pKnown - p : 0;
    long nKnown = d > (std::ptrdiff_t(1) << 30) ? (1L << 30) : static_cast<long>(d);
    long i = FindStop(p, 0, nKnown, Ch('\r'), Ch('\n'));
    if (i < nKnown) return static_cast<std::size_t>(i);
    return static_cast<std::size_t>(i) + LineLength(p + i);
}

// The characters of the line end at p: 2 for CR LF, 1 for CR or LF, 0 at
// the NUL that ends the text.
template <class Ch>
inline unsigned LineEndLength(const Ch* p) {
    if (p[0] == '\r') return p[1] == '\n' ? 2 : 1;
    return p[0] == '\n' ? 1 : 0;
}

template <class Ch>
class InPlaceLines {
public:
    typedef Ch Char;
    static const bool kInPlace = true;

    explicit InPlaceLines(const Ch* text) : m_text(text) {}
    const Ch* Text() const { return m_text; }

    // The line at index dwPos; dwPos moves to the start of the next line.
    // The buffer is not used: the line is a span of the text. A caller
    // that knows the text to go on without a NUL up to pKnown (exclusive)
    // lets the line's end be looked for sixteen bytes at a time up to there.
    int Read(unsigned long& dwPos, BasicString<Ch>&, const Ch*& p, int& n, const Ch* pKnown = nullptr) const {
        if (!m_text) return kNoLine;
        const Ch* line = m_text + dwPos;
        if (*line == 0) return kNoLine;
        std::size_t len = LineLengthWithin(line, pKnown);
        int nLen = CheckedLength<Ch>(len);
        if (nLen < 0) return kLineTooLong;
        p = line;
        n = nLen;
        dwPos += static_cast<unsigned long>(len + LineEndLength(line + len));
        return kLine;
    }
    // Positions are indexes: there is nothing to move.
    void Seek(unsigned long) const {}

private:
    const Ch* m_text;
};

template <class Ch>
class BufferedLines {
public:
    typedef Ch Char;
    static const bool kInPlace = false;

    // How the units of the source become characters.
    enum Coding {
        kBytes,        // 8-bit: as they are
        kUnitsLittle,  // 16-bit: UTF-16 little-endian
        kUnitsBig,     // 16-bit: UTF-16 big-endian
        kUtf8          // 16-bit: UTF-8 bytes converted to UTF-16
    };

    // A file from its pointer on.
    BufferedLines(void* hFile, Coding coding) : m_hFile(hFile), m_text(nullptr), m_coding(coding), m_bFile(true) {}
    // 16-bit text in memory: UTF-16 in the byte order given, or UTF-8 bytes
    // read through the 16-bit pointer.
    BufferedLines(const Ch* text, Coding coding) : m_hFile(nullptr), m_text(text), m_coding(coding), m_bFile(false) {}

    // The line at dwPos in memory, or at the file pointer (dwPos then
    // becomes the file's offset after the line); decoded into buf, which p
    // then points into.
    int Read(unsigned long& dwPos, BasicString<Ch>& buf, const Ch*& p, int& n);
    // Files: moves the file pointer to dwPos. Memory: nothing to move.
    void Seek(unsigned long dwPos) const;

private:
    void* m_hFile;
    const Ch* m_text;
    Coding m_coding;
    bool m_bFile;
};

// The coding of 16-bit text in memory for the readers' encoding numbers (1
// little-endian, 2 big-endian, 3 UTF-8; others: the platform's order), and
// whether it can be read in place.
bool InPlatformOrder(int nEndian);
BufferedLines<unsigned short>::Coding MemoryCoding(int nEndian);
// The coding of a 16-bit file: 2 big-endian, 3 UTF-8, others little-endian.
BufferedLines<unsigned short>::Coding FileCoding(int nEndian);

}  // namespace detail
}  // namespace vorlix

#endif

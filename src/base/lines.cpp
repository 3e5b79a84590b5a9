// The line sources that decode (lines.h), and the public line readers over
// text in memory and over files, all of them one call to a line source.
#include <vorlix/base/file.h>
#include <vorlix/base/text.h>

#include "filehandle.h"
#include "lines.h"

#include <climits>
#include <cstring>

namespace vorlix {
namespace detail {
namespace {

// The first CR or LF in [p, p + n), or null.
const unsigned char* FindLineEnd(const unsigned char* p, std::size_t n) {
    const void* lf = std::memchr(p, '\n', n);
    std::size_t upto = lf ? static_cast<std::size_t>(static_cast<const unsigned char*>(lf) - p) : n;
    const void* cr = std::memchr(p, '\r', upto);
    return static_cast<const unsigned char*>(cr ? cr : lf);
}

inline unsigned short Unit16(const unsigned char* p, bool bBig) {
    return bBig ? static_cast<unsigned short>((p[0] << 8) | p[1]) : static_cast<unsigned short>(p[0] | (p[1] << 8));
}

inline unsigned short Swap16(unsigned short u) { return static_cast<unsigned short>((u >> 8) | (u << 8)); }

// A line that turned out too long: the file goes back to where it began.
int RefuseFileLine(FileHandle& f, long long llStart) {
    if (llStart <= LONG_MAX) f.Seek(static_cast<long>(llStart), 0);
    return kLineTooLong;
}

// One line of bytes from the file position into buf.
int ReadFileBytes(FileHandle& f, BasicString<char>& buf) {
    ClearKeepingBuffer(buf);
    long long llStart = f.Position();
    bool bAny = false;
    std::size_t nTotal = 0;
    for (;;) {
        if (!f.Available() && f.Fill() == 0) return bAny ? kLine : kNoLine;
        const unsigned char* p = f.Data();
        std::size_t n = f.Available();
        const unsigned char* e = FindLineEnd(p, n);
        std::size_t take = e ? static_cast<std::size_t>(e - p) : n;
        nTotal += take;
        if (CheckedLength<char>(nTotal) < 0) {
            buf.Empty();
            return RefuseFileLine(f, llStart);
        }
        buf.Append(reinterpret_cast<const char*>(p), static_cast<int>(take));
        bAny = true;
        if (!e) {
            f.Consume(n);
            continue;
        }
        bool bCR = *e == '\r';
        f.Consume(take + 1);
        if (bCR && (f.Available() || f.Fill()) && *f.Data() == '\n') f.Consume(1);
        return kLine;
    }
}

// One line of UTF-16 units from the file position into buf.
int ReadFileUnits(FileHandle& f, BasicString<unsigned short>& buf, bool bBig) {
    ClearKeepingBuffer(buf);
    long long llStart = f.Position();
    bool bAny = false;
    for (;;) {
        if (f.Available() < 2) f.Fill();
        if (f.Available() < 2) {
            // The end of the file; a lone trailing byte is no character.
            f.Consume(f.Available());
            return bAny ? kLine : kNoLine;
        }
        const unsigned char* p = f.Data();
        std::size_t units = f.Available() / 2;
        std::size_t i = 0;
        unsigned short u = 0;
        for (; i < units; ++i) {
            u = Unit16(p + 2 * i, bBig);
            if (u == '\r' || u == '\n') break;
        }
        if (i > 0) {
            int nOld = buf.GetLength();
            int nNew = CheckedLength<unsigned short>(static_cast<std::size_t>(nOld) + i);
            unsigned short* out = nNew < 0 ? nullptr : buf.GetBuffer(nNew);
            if (!out) {
                buf.Empty();
                return RefuseFileLine(f, llStart);
            }
            if (bBig == (API_IsLittleEndian() == 0)) {
                std::memcpy(out + nOld, p, 2 * i);  // the file's byte order is the platform's
            } else {
                for (std::size_t k = 0; k < i; ++k) out[nOld + k] = Unit16(p + 2 * k, bBig);
            }
            buf.ReleaseBuffer(nNew);
        }
        bAny = true;
        if (i == units) {
            f.Consume(2 * units);
            continue;
        }
        f.Consume(2 * (i + 1));
        if (u == '\r') {
            if (f.Available() < 2) f.Fill();
            if (f.Available() >= 2 && Unit16(f.Data(), bBig) == '\n') f.Consume(2);
        }
        return kLine;
    }
}

// UTF-8 bytes of a line into UTF-16 units; a result longer than a string
// can hold fails.
int DecodeUtf8(const BasicString<char>& bytes, BasicString<unsigned short>& buf) {
    if (bytes.IsEmpty()) {
        ClearKeepingBuffer(buf);
        return kLine;
    }
    if (!buf.FromMBC(65001, bytes, bytes.GetLength())) {
        buf.Empty();
        return kLineTooLong;
    }
    return kLine;
}

}  // namespace

template <class Ch>
int BufferedLines<Ch>::Read(unsigned long& dwPos, BasicString<Ch>& buf, const Ch*& p, int& n) {
    int r = kNoLine;
    if (m_bFile) {
        FileUse f(m_hFile);
        if (!f) {
            ClearKeepingBuffer(buf);
            return kNoLine;
        }
        if constexpr (sizeof(Ch) == 1) {
            r = ReadFileBytes(*f.get(), buf);
        } else if (m_coding == kUtf8) {
            BasicString<char> bytes;
            long long llStart = f->Position();
            r = ReadFileBytes(*f.get(), bytes);
            if (r == kLine) {
                r = DecodeUtf8(bytes, buf);
                if (r != kLine) RefuseFileLine(*f.get(), llStart);
            }
        } else {
            r = ReadFileUnits(*f.get(), buf, m_coding == kUnitsBig);
        }
        long long llAt = f->Position();
        if (llAt >= 0 && static_cast<unsigned long long>(llAt) <= static_cast<unsigned long>(-1))
            dwPos = static_cast<unsigned long>(llAt);
    } else if constexpr (sizeof(Ch) == 2) {
        ClearKeepingBuffer(buf);
        if (!m_text) return kNoLine;
        if (m_coding == kUtf8) {
            InPlaceLines<char> bytes(reinterpret_cast<const char*>(m_text));
            unsigned long dwNext = dwPos;
            BasicString<char> unused;
            const char* q;
            int m;
            r = bytes.Read(dwNext, unused, q, m);
            if (r == kLine) {
                BasicString<char> line(q, m);
                r = DecodeUtf8(line, buf);
                if (r == kLine) dwPos = dwNext;
            }
        } else {
            // UTF-16 in the other byte order: each unit read swapped.
            const Ch* line = m_text + dwPos;
            if (*line == 0) return kNoLine;
            std::size_t len = 0;
            for (Ch u; (u = Swap16(line[len])) != 0 && u != '\r' && u != '\n';) ++len;
            int nLen = CheckedLength<Ch>(len);
            Ch* out = nLen < 0 ? nullptr : buf.GetBuffer(nLen);
            if (!out) return kLineTooLong;
            for (std::size_t i = 0; i < len; ++i) out[i] = Swap16(line[i]);
            buf.ReleaseBuffer(nLen);
            Ch end[2] = {Swap16(line[len]), line[len] ? Swap16(line[len + 1]) : Ch(0)};
            dwPos += static_cast<unsigned long>(len + LineEndLength(end));
            r = kLine;
        }
    }
    if (r != kLine) {
        if (!buf.IsEmpty()) buf.Empty();
        return r;
    }
    p = buf;
    n = buf.GetLength();
    return kLine;
}

template <class Ch>
void BufferedLines<Ch>::Seek(unsigned long dwPos) const {
    if (m_bFile) API_SeekFile(m_hFile, static_cast<long>(dwPos), 0);
}

template class BufferedLines<char>;
template class BufferedLines<unsigned short>;

bool InPlatformOrder(int nEndian) {
    if (nEndian == 3) return false;
    bool bLittle = API_IsLittleEndian() != 0;
    return !((nEndian == 1 && !bLittle) || (nEndian == 2 && bLittle));
}

BufferedLines<unsigned short>::Coding MemoryCoding(int nEndian) {
    typedef BufferedLines<unsigned short> L;
    if (nEndian == 3) return L::kUtf8;
    bool bLittle = API_IsLittleEndian() != 0;
    // Only called for text not in the platform's order: the other one.
    return bLittle ? L::kUnitsBig : L::kUnitsLittle;
}

BufferedLines<unsigned short>::Coding FileCoding(int nEndian) {
    typedef BufferedLines<unsigned short> L;
    return nEndian == 3 ? L::kUtf8 : (nEndian == 2 ? L::kUnitsBig : L::kUnitsLittle);
}

namespace {

// A public reader's result: the line into strLine, or 0 and an empty
// string at the end and for a line too long to hold.
template <class Ch, class Source>
int Deliver(Source& src, unsigned long& dwPos, BasicString<Ch>& strLine) {
    const Ch* p;
    int n;
    int r = src.Read(dwPos, strLine, p, n);
    if (r != kLine) {
        strLine.Empty();
        return 0;
    }
    if (Source::kInPlace) strLine.SetString(p, n);
    return 1;
}

}  // namespace
}  // namespace detail
}  // namespace vorlix

namespace d = vorlix::detail;

int Byte_ReadText1Line(const char* pszText, unsigned long& dwPos, MString& strLine, int) {
    d::InPlaceLines<char> src(pszText);
    return d::Deliver(src, dwPos, strLine);
}

int Uni_ReadText1Line(const unsigned short* pszText, unsigned long& dwPos, UString& strLine, int) {
    d::InPlaceLines<unsigned short> src(pszText);
    return d::Deliver(src, dwPos, strLine);
}

int Uni_ReadText1LineEndian(const unsigned short* pszText, unsigned long& dwPos, UString& strLine, int, int nEndian) {
    if (d::InPlatformOrder(nEndian)) {
        d::InPlaceLines<unsigned short> src(pszText);
        return d::Deliver(src, dwPos, strLine);
    }
    d::BufferedLines<unsigned short> src(pszText, d::MemoryCoding(nEndian));
    return d::Deliver(src, dwPos, strLine);
}

int Byte_Read1Line(void* hFile, MString& strLine, int) {
    d::BufferedLines<char> src(hFile, d::BufferedLines<char>::kBytes);
    unsigned long dwPos = 0;
    return d::Deliver(src, dwPos, strLine);
}

int Uni_Read1Line(void* hFile, UString& strLine, int nOpt) { return Uni_Read1LineEndian(hFile, strLine, nOpt, 1); }

int Uni_Read1LineEndian(void* hFile, UString& strLine, int, int nEndian) {
    d::BufferedLines<unsigned short> src(hFile, d::FileCoding(nEndian));
    unsigned long dwPos = 0;
    return d::Deliver(src, dwPos, strLine);
}

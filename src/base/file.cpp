// The line readers over files and over text in memory.
#include <vorlix/base/file.h>
#include <vorlix/base/objcore.h>
#include <vorlix/base/text.h>
#include <vorlix/win.h>

#include "filehandle.h"

#include <climits>
#include <cstdlib>
#include <cstring>

using namespace vorlix::win;

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

}  // namespace
}  // namespace detail
}  // namespace vorlix

using vorlix::detail::FileUse;

// ---- Lines in memory ----

int Byte_ReadText1Line(const char* pszText, unsigned long& dwPos, MString& strLine, int) {
    if (!pszText) {
        strLine.Empty();
        return 0;
    }
    const char* p = pszText + dwPos;
    if (!*p) {
        strLine.Empty();
        return 0;
    }
    std::size_t n = std::strcspn(p, "\r\n");
    strLine.SetString(p, static_cast<int>(n));
    dwPos += static_cast<unsigned long>(n);
    if (p[n] == '\r') {
        ++dwPos;
        if (p[n + 1] == '\n') ++dwPos;
    } else if (p[n] == '\n') {
        ++dwPos;
    }
    return 1;
}

namespace {

// A line of 16-bit units; bSwap reads each unit with its bytes swapped.
int ReadUnitsLine(const unsigned short* pszText, unsigned long& dwPos, UString& strLine, bool bSwap) {
    if (!pszText) {
        strLine.Empty();
        return 0;
    }
    const unsigned short* p = pszText + dwPos;
    auto at = [&](std::size_t i) { return bSwap ? vorlix::detail::Swap16(p[i]) : p[i]; };
    if (!at(0)) {
        strLine.Empty();
        return 0;
    }
    std::size_t n = 0;
    for (unsigned short u; (u = at(n)) != 0 && u != '\r' && u != '\n';) ++n;
    if (!bSwap) {
        strLine.SetString(p, static_cast<int>(n));
    } else {
        strLine.Empty();
        unsigned short* out = strLine.GetBuffer(static_cast<int>(n));
        if (out) {
            for (std::size_t i = 0; i < n; ++i) out[i] = at(i);
            strLine.ReleaseBuffer(static_cast<int>(n));
        }
    }
    dwPos += static_cast<unsigned long>(n);
    unsigned short e = at(n);
    if (e == '\r') {
        ++dwPos;
        if (at(n + 1) == '\n') ++dwPos;
    } else if (e == '\n') {
        ++dwPos;
    }
    return 1;
}

}  // namespace

int Uni_ReadText1Line(const unsigned short* pszText, unsigned long& dwPos, UString& strLine, int) {
    return ReadUnitsLine(pszText, dwPos, strLine, false);
}

int Uni_ReadText1LineEndian(const unsigned short* pszText, unsigned long& dwPos, UString& strLine, int nOpt,
                            int nEndian) {
    if (nEndian == 3) {
        MString bytes;
        int r = Byte_ReadText1Line(reinterpret_cast<const char*>(pszText), dwPos, bytes, nOpt);
        if (!r) {
            strLine.Empty();
            return 0;
        }
        strLine.FromMBC(65001, bytes, bytes.GetLength());
        return r;
    }
    bool bLittle = API_IsLittleEndian() != 0;
    bool bSwap = (nEndian == 1 && !bLittle) || (nEndian == 2 && bLittle);
    return ReadUnitsLine(pszText, dwPos, strLine, bSwap);
}

// ---- Lines from files ----

int Byte_Read1Line(void* hFile, MString& strLine, int) {
    FileUse f(hFile);
    if (!f) {
        strLine.Empty();
        return 0;
    }
    bool bAny = false;
    for (;;) {
        if (!f->Available() && f->Fill() == 0) {
            if (!bAny) strLine.Empty();
            return bAny ? 1 : 0;
        }
        const unsigned char* p = f->Data();
        std::size_t n = f->Available();
        const unsigned char* e = vorlix::detail::FindLineEnd(p, n);
        std::size_t take = e ? static_cast<std::size_t>(e - p) : n;
        if (bAny) strLine.Append(reinterpret_cast<const char*>(p), static_cast<int>(take));
        else strLine.SetString(reinterpret_cast<const char*>(p), static_cast<int>(take));
        bAny = true;
        if (!e) {
            f->Consume(n);
            continue;
        }
        bool bCR = *e == '\r';
        f->Consume(take + 1);
        if (bCR && (f->Available() || f->Fill()) && *f->Data() == '\n') f->Consume(1);
        return 1;
    }
}

int Uni_Read1Line(void* hFile, UString& strLine, int nOpt) { return Uni_Read1LineEndian(hFile, strLine, nOpt, 1); }

int Uni_Read1LineEndian(void* hFile, UString& strLine, int nOpt, int nEndian) {
    if (nEndian == 3) {
        MString bytes;
        int r = Byte_Read1Line(hFile, bytes, nOpt);
        if (!r) {
            strLine.Empty();
            return 0;
        }
        strLine.FromMBC(65001, bytes, bytes.GetLength());
        return r;
    }
    FileUse f(hFile);
    strLine.Empty();
    if (!f) return 0;
    bool bBig = nEndian == 2;
    bool bAny = false;
    for (;;) {
        if (f->Available() < 2) f->Fill();
        if (f->Available() < 2) {
            // The end of the file; a lone trailing byte is no character.
            f->Consume(f->Available());
            return bAny ? 1 : 0;
        }
        const unsigned char* p = f->Data();
        std::size_t units = f->Available() / 2;
        std::size_t i = 0;
        unsigned short u = 0;
        for (; i < units; ++i) {
            u = vorlix::detail::Unit16(p + 2 * i, bBig);
            if (u == '\r' || u == '\n') break;
        }
        if (i > 0) {
            int nOld = strLine.GetLength();
            unsigned short* out = strLine.GetBuffer(nOld + static_cast<int>(i));
            if (!out) return 0;
            for (std::size_t k = 0; k < i; ++k) out[nOld + k] = vorlix::detail::Unit16(p + 2 * k, bBig);
            strLine.ReleaseBuffer(nOld + static_cast<int>(i));
        }
        bAny = true;
        if (i == units) {
            f->Consume(2 * units);
            continue;
        }
        f->Consume(2 * (i + 1));
        if (u == '\r') {
            if (f->Available() < 2) f->Fill();
            if (f->Available() >= 2 && vorlix::detail::Unit16(f->Data(), bBig) == '\n') f->Consume(2);
        }
        return 1;
    }
}

// The library's file handle: a platform file with a read buffer, and the
// line readers over files and over text in memory.
#include <vorlix/base/file.h>
#include <vorlix/base/objcore.h>
#include <vorlix/base/text.h>
#include <vorlix/win.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

using namespace vorlix::win;

namespace vorlix {
namespace detail {

class FileHandle {
public:
    static const unsigned kMagic = 0x46584C56u;
    static const std::size_t kBufSize = 64 * 1024;

    explicit FileHandle(HANDLE h) : m_magic(kMagic), m_h(h) {}
    ~FileHandle() {
        m_magic = 0;
        CloseHandle(m_h);
        std::free(m_buf);
    }

    static FileHandle* From(void* p) {
        FileHandle* f = static_cast<FileHandle*>(p);
        bool ok = f && f->m_magic == kMagic;
        PrjWarningMsg(ok);
        return ok ? f : nullptr;
    }

    long long Position() const { return m_osPos - static_cast<long long>(m_end - m_begin); }
    std::size_t Available() const { return m_end - m_begin; }
    const unsigned char* Data() const { return m_buf + m_begin; }
    void Consume(std::size_t n) { m_begin += n; }

    // Reads more into the buffer, keeping what is unread; the bytes read, 0
    // at the end of the file or on failure.
    std::size_t Fill() {
        if (!m_buf) {
            m_buf = static_cast<unsigned char*>(std::malloc(kBufSize));
            if (!m_buf) return 0;
        }
        if (m_begin > 0) {
            // Keep the unread bytes; the buffer then starts at a later offset.
            std::memmove(m_buf, m_buf + m_begin, m_end - m_begin);
            m_end -= m_begin;
            m_begin = 0;
        }
        if (m_end == kBufSize) return 0;
        DWORD got = 0;
        if (!ReadFile(m_h, m_buf + m_end, static_cast<DWORD>(kBufSize - m_end), &got, nullptr)) return 0;
        m_end += got;
        m_osPos += got;
        return got;
    }

    DWORD Read(void* pBuffer, DWORD dwBytes) {
        unsigned char* out = static_cast<unsigned char*>(pBuffer);
        DWORD done = 0;
        while (done < dwBytes) {
            std::size_t avail = Available();
            if (avail) {
                std::size_t n = avail < dwBytes - done ? avail : dwBytes - done;
                std::memcpy(out + done, Data(), n);
                Consume(n);
                done += static_cast<DWORD>(n);
                continue;
            }
            if (dwBytes - done >= kBufSize) {
                // Large reads go straight to the caller's memory.
                DropBuffer();
                DWORD got = 0;
                if (!ReadFile(m_h, out + done, dwBytes - done, &got, nullptr) || got == 0) break;
                m_osPos += got;
                done += got;
                continue;
            }
            if (Fill() == 0) break;
        }
        return done;
    }

    DWORD Write(const void* pData, DWORD dwBytes) {
        if (!Sync()) return 0;
        DWORD put = 0;
        WriteFile(m_h, pData, dwBytes, &put, nullptr);
        m_osPos += put;
        return put;
    }

    long Seek(long lOffset, int nOrigin) {
        long long target;
        if (nOrigin == 0) {
            target = lOffset;
        } else if (nOrigin == 1) {
            if (lOffset == 0) return Narrow(Position());
            target = Position() + lOffset;
        } else if (nOrigin == 2) {
            if (!Sync()) return -1;
            LARGE_INTEGER dist, pos;
            dist.QuadPart = lOffset;
            if (!SetFilePointerEx(m_h, dist, &pos, FILE_END)) return -1;
            m_osPos = pos.QuadPart;
            return Narrow(m_osPos);
        } else {
            PrjWarningMsg(0);
            return -1;
        }
        if (target < 0) return -1;
        // A place inside the buffer needs no system call: the tokenizer
        // seeks back to recent lines all the time.
        long long bufStart = m_osPos - static_cast<long long>(m_end);
        if (m_buf && target >= bufStart && target <= m_osPos) {
            m_begin = static_cast<std::size_t>(target - bufStart);
            return Narrow(target);
        }
        DropBuffer();
        LARGE_INTEGER dist, pos;
        dist.QuadPart = target;
        if (!SetFilePointerEx(m_h, dist, &pos, FILE_BEGIN)) return -1;
        m_osPos = pos.QuadPart;
        return Narrow(m_osPos);
    }

private:
    static long Narrow(long long v) {
        PrjWarningMsg(v <= LONG_MAX);
        return v <= LONG_MAX ? static_cast<long>(v) : -1;
    }
    void DropBuffer() { m_begin = m_end = 0; }
    // Moves the platform's position back to the logical one, dropping the
    // unread part of the buffer (before a write or a seek from the end).
    bool Sync() {
        if (m_begin != m_end) {
            LARGE_INTEGER dist, pos;
            dist.QuadPart = Position();
            if (!SetFilePointerEx(m_h, dist, &pos, FILE_BEGIN)) return false;
            m_osPos = pos.QuadPart;
        }
        DropBuffer();
        return true;
    }

    unsigned m_magic;
    HANDLE m_h;
    unsigned char* m_buf = nullptr;
    std::size_t m_begin = 0, m_end = 0;  // unread bytes are m_buf[m_begin, m_end)
    long long m_osPos = 0;               // platform position, the offset of m_buf[m_end]
};

namespace {

void* Wrap(HANDLE h) {
    if (h == INVALID_HANDLE_VALUE || h == nullptr) return nullptr;
    FileHandle* f = new (std::nothrow) FileHandle(h);
    if (!f) CloseHandle(h);
    return f;
}

DWORD Disposition(int bCreate) { return bCreate ? OPEN_ALWAYS : OPEN_EXISTING; }

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

using vorlix::detail::FileHandle;

void* Byte_OpenFile(const char* pszPath, DWORD dwAccess, DWORD dwShare, int bCreate) {
    if (!pszPath || !*pszPath) return nullptr;
    return vorlix::detail::Wrap(CreateFileA(pszPath, dwAccess, dwShare, nullptr,
                                            vorlix::detail::Disposition(bCreate), 0x80, nullptr));
}

void* Uni_OpenFile(const unsigned short* pszPath, DWORD dwAccess, DWORD dwShare, int bCreate) {
    if (!pszPath || !*pszPath) return nullptr;
    return vorlix::detail::Wrap(CreateFileW(reinterpret_cast<const WCHAR*>(pszPath), dwAccess, dwShare,
                                            nullptr, vorlix::detail::Disposition(bCreate), 0x80, nullptr));
}

DWORD API_ReadFile(void* hFile, void* pBuffer, DWORD dwBytes) {
    FileHandle* f = FileHandle::From(hFile);
    if (!f || (!pBuffer && dwBytes)) return 0;
    return f->Read(pBuffer, dwBytes);
}

DWORD API_WriteFile(void* hFile, const void* pData, DWORD dwBytes) {
    FileHandle* f = FileHandle::From(hFile);
    if (!f || (!pData && dwBytes)) return 0;
    if (dwBytes == 0) return 0;
    return f->Write(pData, dwBytes);
}

long API_SeekFile(void* hFile, long lOffset, int nOrigin) {
    FileHandle* f = FileHandle::From(hFile);
    return f ? f->Seek(lOffset, nOrigin) : -1;
}

void API_CloseFile(void* hFile) {
    if (!hFile) return;
    delete FileHandle::From(hFile);
}

int Byte_ExistFile(const char* pszPath) {
    if (!pszPath || !*pszPath) return 0;
    DWORD a = GetFileAttributesA(pszPath);
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

int Uni_ExistFile(const unsigned short* pszPath) {
    if (!pszPath || !*pszPath) return 0;
    DWORD a = GetFileAttributesW(reinterpret_cast<const WCHAR*>(pszPath));
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

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
    FileHandle* f = FileHandle::From(hFile);
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
    FileHandle* f = FileHandle::From(hFile);
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

// File handles: opening, reading, writing, seeking and closing through the
// library's buffered FileHandle, reached through the file handle table.
#include "filehandle.h"

#include <vorlix/base/objcore.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

using namespace vorlix::win;

namespace vorlix {
namespace detail {

namespace {

FileHandleTable g_fileHandles;  // zero-initialised: no start-up work

// A long can hold the offset (long is 32 bits on Windows).
bool FitsLong(long long v) { return v >= 0 && v <= LONG_MAX; }

void* Wrap(HANDLE h) {
    if (h == INVALID_HANDLE_VALUE || h == nullptr) return nullptr;
    FileHandle* f = new (std::nothrow) FileHandle(h);
    if (!f) {
        CloseHandle(h);
        return nullptr;
    }
    void* handle = g_fileHandles.Add(f);
    PrjWarningMsg(handle != nullptr);  // every slot of the table is taken
    if (!handle) delete f;
    return handle;
}

DWORD Disposition(int bCreate) { return bCreate ? OPEN_ALWAYS : OPEN_EXISTING; }

}  // namespace

FileHandleTable& FileHandles() noexcept { return g_fileHandles; }

FileUse::FileUse(void* hFile) noexcept : FileHandleTable::Use(g_fileHandles, hFile) {
    PrjWarningMsg(static_cast<bool>(*this));
}

FileHandle::~FileHandle() {
    CloseHandle(m_h);
    std::free(m_buf);
}

std::size_t FileHandle::Fill() noexcept {
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

DWORD FileHandle::Read(void* pBuffer, DWORD dwBytes) noexcept {
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

DWORD FileHandle::Write(const void* pData, DWORD dwBytes) noexcept {
    if (!Sync()) return 0;
    DWORD put = 0;
    WriteFile(m_h, pData, dwBytes, &put, nullptr);
    m_osPos += put;
    return put;
}

long FileHandle::Seek(long lOffset, int nOrigin) noexcept {
    long long target;
    if (nOrigin == 0) {
        target = lOffset;
    } else if (nOrigin == 1) {
        long long pos = Position();
        if (lOffset == 0) return FitsLong(pos) ? static_cast<long>(pos) : -1;
        // pos is not negative, so only a positive offset can overflow.
        if (lOffset > 0 && pos > LLONG_MAX - lOffset) return -1;
        target = pos + lOffset;
    } else if (nOrigin == 2) {
        if (!Sync()) return -1;
        long long before = m_osPos;
        LARGE_INTEGER dist, pos;
        dist.QuadPart = lOffset;
        // The platform refuses a target before the start or past its range
        // and leaves its position then.
        if (!SetFilePointerEx(m_h, dist, &pos, FILE_END)) return -1;
        m_osPos = pos.QuadPart;
        if (FitsLong(m_osPos)) return static_cast<long>(m_osPos);
        MoveTo(before);  // too far for a long: back to where it was
        return -1;
    } else {
        PrjWarningMsg(0);
        return -1;
    }
    if (!FitsLong(target)) return -1;
    // A place inside the buffer needs no system call: the tokenizer seeks
    // back to recent lines all the time.
    long long bufStart = m_osPos - static_cast<long long>(m_end);
    if (m_buf && target >= bufStart && target <= m_osPos) {
        m_begin = static_cast<std::size_t>(target - bufStart);
        return static_cast<long>(target);
    }
    if (!MoveTo(target)) return -1;
    return static_cast<long>(target);
}

// Moves the platform's position back to the logical one, dropping the
// unread part of the buffer (before a write or a seek from the end).
bool FileHandle::Sync() noexcept {
    if (m_begin != m_end) {
        if (!MoveTo(Position())) return false;
    }
    DropBuffer();
    return true;
}

// Moves the platform's position to an offset, with an empty buffer; on
// failure the position and the buffer stay as they were.
bool FileHandle::MoveTo(long long target) noexcept {
    LARGE_INTEGER dist, pos;
    dist.QuadPart = target;
    if (!SetFilePointerEx(m_h, dist, &pos, FILE_BEGIN)) return false;
    DropBuffer();
    m_osPos = pos.QuadPart;
    return true;
}

}  // namespace detail
}  // namespace vorlix

using vorlix::detail::FileUse;

void* Byte_OpenFile(const char* pszPath, DWORD dwAccess, DWORD dwShare, int bCreate) {
    if (!pszPath || !*pszPath) return nullptr;
    return vorlix::detail::Wrap(
        CreateFileA(pszPath, dwAccess, dwShare, nullptr, vorlix::detail::Disposition(bCreate), 0x80, nullptr));
}

void* Uni_OpenFile(const unsigned short* pszPath, DWORD dwAccess, DWORD dwShare, int bCreate) {
    if (!pszPath || !*pszPath) return nullptr;
    return vorlix::detail::Wrap(CreateFileW(reinterpret_cast<const WCHAR*>(pszPath), dwAccess, dwShare, nullptr,
                                            vorlix::detail::Disposition(bCreate), 0x80, nullptr));
}

DWORD API_ReadFile(void* hFile, void* pBuffer, DWORD dwBytes) {
    FileUse f(hFile);
    if (!f || (!pBuffer && dwBytes)) return 0;
    return f->Read(pBuffer, dwBytes);
}

DWORD API_WriteFile(void* hFile, const void* pData, DWORD dwBytes) {
    FileUse f(hFile);
    if (!f || !pData || dwBytes == 0) return 0;
    return f->Write(pData, dwBytes);
}

long API_SeekFile(void* hFile, long lOffset, int nOrigin) {
    FileUse f(hFile);
    return f ? f->Seek(lOffset, nOrigin) : -1;
}

void API_CloseFile(void* hFile) {
    if (!hFile) return;
    // A second close, or a value that was never a file handle, changes
    // nothing.
    PrjWarningMsg(vorlix::detail::FileHandles().Close(hFile));
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

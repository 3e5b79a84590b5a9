// The object behind a file handle of Byte_OpenFile / Uni_OpenFile, and how
// the library's own code reaches it: FileUse resolves a handle for the
// length of one operation.
//
// The FileHandle reads through a 64 KiB buffer, so that reading a line does
// not cost a system call per byte, while Position() stays the logical
// position just after what was consumed.
#ifndef VORLIX_SRC_BASE_FILEHANDLE_H
#define VORLIX_SRC_BASE_FILEHANDLE_H

#include <vorlix/base/objcore.h>
#include <vorlix/win.h>

#include <climits>
#include <cstdlib>
#include <cstring>

namespace vorlix {
namespace detail {

using namespace win;

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

// Holds the FileHandle of a handle for the length of one operation; false
// (and reported to PrjWarningMsg) when the value is not an open file handle.
class FileUse {
public:
    explicit FileUse(void* hFile) noexcept : m_f(FileHandle::From(hFile)) {}
    explicit operator bool() const noexcept { return m_f != nullptr; }
    FileHandle* get() const noexcept { return m_f; }
    FileHandle* operator->() const noexcept { return m_f; }

private:
    FileHandle* m_f;
};

}  // namespace detail
}  // namespace vorlix

#endif

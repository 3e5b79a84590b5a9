// The object behind a file handle of Byte_OpenFile / Uni_OpenFile, and how
// the library's own code reaches it.
//
// A file handle is a value from a handle table (handle_table.h), never a
// pointer: a closed, foreign or garbage value is refused without touching
// memory. FileUse resolves a handle and holds its object for as long as the
// FileUse lives, so the object stays valid even if another thread closes
// the handle meanwhile (that close takes effect when the use ends). A
// resolve costs one atomic compare-and-swap and the end of the use one
// atomic decrement, with no lock: code that makes many calls on one handle
// (a parse, a tokenizer over a file) resolves it once and works on the
// FileHandle directly.
//
// The FileHandle reads through a 64 KiB buffer, so that reading a line does
// not cost a system call per byte, while Position() stays the logical
// position just after what was consumed. Writes go straight to the file
// after the platform position is moved back to the logical one. One thread
// uses a FileHandle at a time.
#ifndef VORLIX_SRC_BASE_FILEHANDLE_H
#define VORLIX_SRC_BASE_FILEHANDLE_H

#include <vorlix/base/file.h>
#include <vorlix/win.h>

#include "handle_table.h"

#include <cstddef>

namespace vorlix {
namespace detail {

class FileHandle {
public:
    static const std::size_t kBufSize = 64 * 1024;

    explicit FileHandle(win::HANDLE h) noexcept : m_h(h) {}
    ~FileHandle();
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    // The logical position: the offset of the next byte to read.
    long long Position() const noexcept { return m_osPos - static_cast<long long>(m_end - m_begin); }
    // The unread bytes in the buffer, starting at Data().
    std::size_t Available() const noexcept { return m_end - m_begin; }
    const unsigned char* Data() const noexcept { return m_buf + m_begin; }
    // Marks n of the Available() bytes as read.
    void Consume(std::size_t n) noexcept { m_begin += n; }
    // Reads more into the buffer, keeping what is unread; the bytes read, 0
    // at the end of the file, when the buffer is full, or on failure.
    std::size_t Fill() noexcept;

    // The bytes moved (API_ReadFile, API_WriteFile).
    DWORD Read(void* pBuffer, DWORD dwBytes) noexcept;
    DWORD Write(const void* pData, DWORD dwBytes) noexcept;
    // API_SeekFile: the new offset, or -1 (and the position unchanged) when
    // the target lies before the start, cannot be represented in a long, or
    // the platform refuses it.
    long Seek(long lOffset, int nOrigin) noexcept;

private:
    void DropBuffer() noexcept { m_begin = m_end = 0; }
    bool Sync() noexcept;
    bool MoveTo(long long target) noexcept;

    win::HANDLE m_h;
    unsigned char* m_buf = nullptr;
    std::size_t m_begin = 0, m_end = 0;  // unread bytes are m_buf[m_begin, m_end)
    long long m_osPos = 0;               // platform position, the offset of m_buf[m_end]
};

// The file handles; their tag tells them from every other table's values.
typedef HandleTable<FileHandle, 3> FileHandleTable;
FileHandleTable& FileHandles() noexcept;

// Holds the FileHandle of a handle for the length of one operation; false
// (and reported to PrjWarningMsg) when the value is not an open file handle.
class FileUse : public FileHandleTable::Use {
public:
    explicit FileUse(void* hFile) noexcept;
};

}  // namespace detail
}  // namespace vorlix

#endif

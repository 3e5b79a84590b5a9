// The file handle functions over the library's buffered FileHandle.
#include <vorlix/base/file.h>
#include <vorlix/base/objcore.h>
#include <vorlix/win.h>

#include "filehandle.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

using namespace vorlix::win;

namespace vorlix {
namespace detail {

namespace {

void* Wrap(HANDLE h) {
    if (h == INVALID_HANDLE_VALUE || h == nullptr) return nullptr;
    FileHandle* f = new (std::nothrow) FileHandle(h);
    if (!f) CloseHandle(h);
    return f;
}

DWORD Disposition(int bCreate) { return bCreate ? OPEN_ALWAYS : OPEN_EXISTING; }

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

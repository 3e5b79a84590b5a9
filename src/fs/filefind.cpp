// The file finder, written once for both widths over the platform's search
// services (fs_platform.h).
#include <vorlix/base/text.h>
#include <vorlix/fs/filefind.h>

#include "fs_platform.h"

#include <new>

namespace vorlix {

namespace {

using namespace vorlix::detail::fs;

int LastSeparator(const char* path) {
    int a = Byte_FindAsc(path, '\\', 0), b = Byte_FindAsc(path, '/', 0);
    return a > b ? a : b;
}
int LastSeparator(const unsigned short* path) {
    int a = Uni_FindAsc(path, '\\', 0), b = Uni_FindAsc(path, '/', 0);
    return a > b ? a : b;
}

// The record's name, which the platform terminates within the record.
template <class Ch, class Data>
BasicString<Ch> NameOf(const Data& data) {
    const Ch* name = reinterpret_cast<const Ch*>(data.cFileName);
    const int room = static_cast<int>(sizeof data.cFileName / sizeof data.cFileName[0]);
    int n = 0;
    while (n < room && name[n]) ++n;
    return BasicString<Ch>(name, n);
}

// A stamp's calendar fields as the platform stores them (UTC), read as
// local time with daylight saving left to the platform.
int ToMTime(const FILETIME& ft, MTime& tm) {
    SYSTEMTIME st;
    if (!FileTimeToSystemTime(&ft, &st)) return 0;
    tm = MTime(st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, -1);
    return 1;
}

}  // namespace

template <class Ch>
BasicFileFind<Ch>::BasicFileFind()
    : m_pCurInfo(nullptr), m_pNextInfo(nullptr), m_hFind(INVALID_HANDLE_VALUE), m_chDirSeparator(kDirSeparator) {}

template <class Ch>
BasicFileFind<Ch>::BasicFileFind(const BasicFileFind& src)
    : m_pCurInfo(nullptr),
      m_pNextInfo(nullptr),
      m_hFind(INVALID_HANDLE_VALUE),
      m_strRoot(src.m_strRoot),
      m_chDirSeparator(src.m_chDirSeparator) {}

template <class Ch>
BasicFileFind<Ch>& BasicFileFind<Ch>::operator=(const BasicFileFind& src) {
    if (this != &src) {
        Close();
        m_strRoot = src.m_strRoot;
        m_chDirSeparator = src.m_chDirSeparator;
    }
    return *this;
}

template <class Ch>
BasicFileFind<Ch>::~BasicFileFind() {
    Close();
}

template <class Ch>
BasicString<Ch> BasicFileFind<Ch>::GetFileName() const {
    return m_pCurInfo ? NameOf<Ch>(*m_pCurInfo) : String();
}

template <class Ch>
BasicString<Ch> BasicFileFind<Ch>::GetFilePath() const {
    String name = GetFileName();
    int n = m_strRoot.GetLength();
    if (n == 0) return name;
    String path = m_strRoot;
    if (!IsSeparator(m_strRoot[n - 1])) path += static_cast<Ch>(static_cast<unsigned char>(m_chDirSeparator));
    path += name;
    return path;
}

template <class Ch>
BasicString<Ch> BasicFileFind<Ch>::GetFileTitle() const {
    // _splitpath writes each part into a buffer of MAX_PATH characters; the
    // name is cut to fit one, so that no part can overrun it.
    String name = GetFileName();
    Ch in[MAX_PATH];
    Ch title[MAX_PATH];
    int n = name.GetLength() < static_cast<int>(MAX_PATH) ? name.GetLength() : static_cast<int>(MAX_PATH) - 1;
    for (int i = 0; i < n; ++i) in[i] = name[i];
    in[n] = 0;
    title[0] = 0;
    SplitTitle(in, title);
    return String(title);
}

template <class Ch>
BasicString<Ch> BasicFileFind<Ch>::GetFileURL() const {
    static const Ch kScheme[] = {'f', 'i', 'l', 'e', ':', '/', '/', 0};
    return kScheme + GetFilePath();
}

template <class Ch>
BasicString<Ch> BasicFileFind<Ch>::GetRoot() const {
    return m_strRoot;
}

template <class Ch>
int BasicFileFind<Ch>::GetLastWriteTime(MTime& tm) const {
    return m_pCurInfo ? ToMTime(m_pCurInfo->ftLastWriteTime, tm) : 0;
}

template <class Ch>
int BasicFileFind<Ch>::GetLastWriteTime(MTime* ptm) const {
    return m_pCurInfo && ptm ? ToMTime(m_pCurInfo->ftLastWriteTime, *ptm) : 0;
}

template <class Ch>
int BasicFileFind<Ch>::GetLastAccessTime(MTime& tm) const {
    return m_pCurInfo ? ToMTime(m_pCurInfo->ftLastAccessTime, tm) : 0;
}

template <class Ch>
int BasicFileFind<Ch>::GetLastAccessTime(MTime* ptm) const {
    return m_pCurInfo && ptm ? ToMTime(m_pCurInfo->ftLastAccessTime, *ptm) : 0;
}

template <class Ch>
int BasicFileFind<Ch>::GetCreationTime(MTime& tm) const {
    return m_pCurInfo ? ToMTime(m_pCurInfo->ftCreationTime, tm) : 0;
}

template <class Ch>
int BasicFileFind<Ch>::GetCreationTime(MTime* ptm) const {
    return m_pCurInfo && ptm ? ToMTime(m_pCurInfo->ftCreationTime, *ptm) : 0;
}

template <class Ch>
int BasicFileFind<Ch>::MatchesMask(unsigned long dwMask) const {
    return m_pCurInfo && (m_pCurInfo->dwFileAttributes & dwMask) ? 1 : 0;
}

template <class Ch>
int BasicFileFind<Ch>::IsDots() const {
    if (!MatchesMask(FILE_ATTRIBUTE_DIRECTORY)) return 0;
    const auto& n = m_pCurInfo->cFileName;
    return n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0)) ? 1 : 0;
}

template <class Ch>
int BasicFileFind<Ch>::FindFile(const Ch* pszName, unsigned long) {
    static const Ch kAll[] = {'*', '.', '*', 0};
    Close();
    m_pNextInfo = new (std::nothrow) FindData;
    if (!m_pNextInfo) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    if (!pszName) pszName = kAll;
    m_hFind = FindFirst(pszName, m_pNextInfo);
    if (m_hFind == INVALID_HANDLE_VALUE) {
        DWORD err = GetLastError();
        Close();
        SetLastError(err);
        return 0;
    }
    // The full path must fit MAX_PATH characters with its NUL; when it does
    // not, the platform reports the size it needs and fills nothing.
    Ch full[MAX_PATH];
    DWORD n = FullPathName(pszName, MAX_PATH, full);
    if (n == 0 || n >= MAX_PATH) {
        DWORD err = n == 0 ? GetLastError() : static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE);
        Close();
        SetLastError(err);
        return 0;
    }
    int sep = LastSeparator(full);
    if (sep > 0) m_strRoot.SetString(full, sep);
    else if (sep == 0 && !kHasDrives) m_strRoot.SetString(full, 1);  // the root directory "/" itself
    else m_strRoot = full;
    return 1;
}

template <class Ch>
int BasicFileFind<Ch>::FindNext() {
    if (m_hFind == INVALID_HANDLE_VALUE) return 0;
    if (!m_pCurInfo) {
        m_pCurInfo = new (std::nothrow) FindData;
        if (!m_pCurInfo) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return 0;
        }
    }
    FindData* fetched = m_pNextInfo;
    m_pNextInfo = m_pCurInfo;
    m_pCurInfo = fetched;
    if (FindNextEntry(m_hFind, m_pNextInfo)) return 1;
    // Exhausted: end the search now, so that another FindNext returns 0
    // instead of making the unfilled record current.
    DWORD err = GetLastError();
    CloseContext();
    m_hFind = INVALID_HANDLE_VALUE;
    SetLastError(err);
    return 0;
}

template <class Ch>
void BasicFileFind<Ch>::Close() {
    delete m_pCurInfo;
    m_pCurInfo = nullptr;
    delete m_pNextInfo;
    m_pNextInfo = nullptr;
    if (m_hFind != INVALID_HANDLE_VALUE) {
        CloseContext();
        m_hFind = INVALID_HANDLE_VALUE;
    }
}

template <class Ch>
void BasicFileFind<Ch>::CloseContext() {
    FindClose(m_hFind);
}

template <class Ch>
unsigned long BasicFileFind<Ch>::GetLength() const {
    return m_pCurInfo ? m_pCurInfo->nFileSizeLow : 0;
}

template <class Ch>
long long BasicFileFind<Ch>::GetLength64() const {
    if (!m_pCurInfo) return 0;
    unsigned long long size =
        (static_cast<unsigned long long>(m_pCurInfo->nFileSizeHigh) << 32) | m_pCurInfo->nFileSizeLow;
    return static_cast<long long>(size);
}

template class BasicFileFind<char>;
template class BasicFileFind<unsigned short>;

}  // namespace vorlix

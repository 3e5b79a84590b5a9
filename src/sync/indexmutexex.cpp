// The index lock over named shared memory: the flags in a named mapping,
// named index mutexes, and a named guard per index that orders changes of
// a flag between processes.
#include <vorlix/sync/indexmutex.h>

#include <vorlix/base/heap.h>
#include <vorlix/base/string.h>
#include <vorlix/win.h>

#include <cstring>

#include "lock_state.h"

using namespace vorlix::win;

namespace {

// The name of a shared object: the caller's name and a suffix, then every
// backslash replaced by an underscore, then upper case.
MString ObjectName(const char* lpszName, const char* pszSuffix, int nIndex) {
    MString name(lpszName);
    MString tail;
    tail.Format(pszSuffix, nIndex);
    name += tail;
    name.Replace('\\', '_');
    name.MakeUpper();
    return name;
}

}  // namespace

CWaitIndexMutexEx::CWaitIndexMutexEx() : m_hFileMapping(INVALID_HANDLE_VALUE) {}

CWaitIndexMutexEx::CWaitIndexMutexEx(int nCount, const char* lpszName) : m_hFileMapping(INVALID_HANDLE_VALUE) {
    CreateEx(nCount, lpszName);
}

CWaitIndexMutexEx::~CWaitIndexMutexEx() { CWaitIndexMutexEx::Destroy(); }

void CWaitIndexMutexEx::Destroy() {
    if (m_hFileMapping != INVALID_HANDLE_VALUE) {
        // With shared memory the flags are its view, not an allocation. A
        // null handle (left by a negative count) has no view: flags there
        // come from a later Create and the inherited Destroy frees them.
        if (m_hFileMapping) {
            if (m_pdwLockFlag) UnmapViewOfFile(m_pdwLockFlag);
            CloseHandle(m_hFileMapping);
            m_pdwLockFlag = nullptr;
        }
        m_hFileMapping = INVALID_HANDLE_VALUE;
    }
    CWaitIndexMutex::Destroy();
}

int CWaitIndexMutexEx::CreateEx(int nCount, const char* lpszName) {
    using namespace vorlix::detail;
    if (!lpszName) return Create(nCount);
    if (IsOn() || nCount == 0 || nCount > kMaxIndexCount) return 0;
    CloseReleaseEvents(*this);
    if (m_hFileMapping != INVALID_HANDLE_VALUE && m_hFileMapping) CloseHandle(m_hFileMapping);
    if (nCount < 0) {
        m_nIndexCount = 0;
        m_pdwLockFlag = nullptr;
        m_phIndexMutex = nullptr;
        m_phLockFlagMutex = nullptr;
        m_hFileMapping = nullptr;
        return CreateReleaseEvents(*this) ? 1 : (CloseReleaseEvents(*this), 0);
    }
    const DWORD bytes = 4u * static_cast<DWORD>(nCount);
    std::size_t n = static_cast<std::size_t>(nCount);
    MString mapName = ObjectName(lpszName, "_MFILE", 0);
    m_hFileMapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, bytes, mapName);
    if (!m_hFileMapping) {
        m_hFileMapping = INVALID_HANDLE_VALUE;
        return 0;
    }
    // New memory is zero-filled; existing flags belong to the other
    // processes and are kept. A view larger than an existing object fails.
    m_pdwLockFlag = static_cast<DWORD*>(MapViewOfFile(m_hFileMapping, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, bytes));
    m_pdwMutexOwner = AllocOwners(nCount);
    m_phIndexMutex = static_cast<void**>(BlockAlloc(n * sizeof(void*)));
    m_phLockFlagMutex = static_cast<void**>(BlockAlloc(n * sizeof(void*)));
    void** guards = static_cast<void**>(BlockAlloc(n * sizeof(void*)));
    bool ok = m_pdwLockFlag && m_pdwMutexOwner && m_phIndexMutex && m_phLockFlagMutex && guards;
    if (m_pdwMutexOwner) StateOf(m_pdwMutexOwner)->phGuard = guards;
    else BlockFree(guards);
    if (m_phIndexMutex) std::memset(m_phIndexMutex, 0, n * sizeof(void*));
    if (m_phLockFlagMutex) std::memset(m_phLockFlagMutex, 0, n * sizeof(void*));
    if (guards && m_pdwMutexOwner) std::memset(guards, 0, n * sizeof(void*));
    m_nIndexCount = nCount;
    for (int i = 0; i < nCount && ok; ++i) {
        m_phIndexMutex[i] = CreateMutexA(nullptr, FALSE, ObjectName(lpszName, "_%d", i));
        m_phLockFlagMutex[i] = CreateMutexA(nullptr, FALSE, nullptr);
        guards[i] = CreateMutexA(nullptr, FALSE, ObjectName(lpszName, "_G%d", i));
        ok = m_phIndexMutex[i] && m_phLockFlagMutex[i] && guards[i];
    }
    if (!ok || !CreateReleaseEvents(*this) || !ResolveRefs(*this)) {
        Destroy();
        return 0;
    }
    return 1;
}

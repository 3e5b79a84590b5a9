// Directory search (FindFirstFile, FindNextFile, FindClose) and file
// attributes on POSIX.
//
// A search whose last part has a wildcard reads the directory with readdir
// and describes each matching entry with one statx relative to the open
// directory; a last part without wildcards names one entry, which a single
// statx describes. Entries are described as stat sees them through
// symbolic links; a dangling link is described as the link itself.
#include "file_calls.h"
#include "fsnames.h"
#include "kernel.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vorlix {
namespace win {

namespace {

// What a search record says about an entry, before the name is stored.
struct EntryInfo {
    unsigned mode;
    unsigned long long size;
    FILETIME creation, access, write;
};

// statx where the kernel has it (for the birth time), fstatat elsewhere.
int StatAt(int dirfd, const char* name, int flags, EntryInfo& info) {
#if defined(STATX_BTIME)
    static std::atomic<bool> s_noStatx(false);
    if (!s_noStatx.load(std::memory_order_relaxed)) {
        struct statx sx;
        if (::statx(dirfd, name, flags | AT_STATX_SYNC_AS_STAT,
                    STATX_TYPE | STATX_MODE | STATX_SIZE | STATX_ATIME | STATX_MTIME | STATX_CTIME | STATX_BTIME,
                    &sx) == 0) {
            info.mode = sx.stx_mode;
            info.size = sx.stx_size;
            info.access = posix::FileTimeFromUnix(sx.stx_atime.tv_sec, sx.stx_atime.tv_nsec);
            info.write = posix::FileTimeFromUnix(sx.stx_mtime.tv_sec, sx.stx_mtime.tv_nsec);
            const struct statx_timestamp& born = (sx.stx_mask & STATX_BTIME) ? sx.stx_btime : sx.stx_ctime;
            info.creation = posix::FileTimeFromUnix(born.tv_sec, born.tv_nsec);
            return 0;
        }
        if (errno != ENOSYS) return -1;
        s_noStatx.store(true, std::memory_order_relaxed);
    }
#endif
    struct stat st;
    if (::fstatat(dirfd, name, &st, flags) != 0) return -1;
    info.mode = st.st_mode;
    info.size = static_cast<unsigned long long>(st.st_size);
    info.access = posix::FileTimeFromUnix(st.st_atim.tv_sec, st.st_atim.tv_nsec);
    info.write = posix::FileTimeFromUnix(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
    info.creation = posix::FileTimeFromUnix(st.st_ctim.tv_sec, st.st_ctim.tv_nsec);
    return 0;
}

// Describes an entry through symbolic links, or a dangling link itself;
// false (errno set) when the entry cannot be described.
bool Describe(int dirfd, const char* name, EntryInfo& info) {
    if (StatAt(dirfd, name, 0, info) == 0) return true;
    if (errno != ENOENT && errno != ELOOP) return false;
    int err = errno;
    if (StatAt(dirfd, name, AT_SYMLINK_NOFOLLOW, info) == 0) return true;
    errno = err;
    return false;
}

// The error for a path that stat did not find: the file is missing when its
// directory is there, else the path is.
DWORD MissingError(const std::string& path) {
    std::string::size_type slash = path.find_last_of('/');
    std::string dir = slash == std::string::npos ? std::string(".")
                      : slash == 0               ? std::string("/")
                                                 : path.substr(0, slash);
    struct stat st;
    return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

DWORD ErrorForPath(int err, const std::string& path) {
    if (err == ENOENT) return MissingError(path);
    if (err == ENOTDIR) return ERROR_PATH_NOT_FOUND;
    return posix::ErrorFromErrno(err);
}

// The last non-empty part of a path ("." for an empty path).
const char* LastPart(const std::string& path, std::string& scratch) {
    std::string::size_type end = path.find_last_not_of('/');
    if (end == std::string::npos) return "/";
    std::string::size_type start = path.find_last_of('/', end);
    start = start == std::string::npos ? 0 : start + 1;
    scratch.assign(path, start, end + 1 - start);
    return scratch.c_str();
}

// Stores the name; false when it does not fit the record.
bool StoreName(WIN32_FIND_DATAA& data, const char* name, std::size_t length) {
    if (length >= sizeof data.cFileName) return false;
    std::memcpy(data.cFileName, name, length);
    data.cFileName[length] = '\0';
    return true;
}

bool StoreName(WIN32_FIND_DATAW& data, const char* name, std::size_t length) {
    std::u16string wide = posix::BytesToWide(name, length);
    const std::size_t room = sizeof data.cFileName / sizeof data.cFileName[0];
    if (wide.size() >= room) return false;
    for (std::size_t i = 0; i < wide.size(); ++i) data.cFileName[i] = static_cast<WCHAR>(wide[i]);
    data.cFileName[wide.size()] = 0;
    return true;
}

template <class Data>
bool Fill(Data& data, const EntryInfo& info, const char* name, std::size_t length) {
    if (!StoreName(data, name, length)) return false;
    data.dwFileAttributes = posix::AttributesFromMode(info.mode, name);
    data.ftCreationTime = info.creation;
    data.ftLastAccessTime = info.access;
    data.ftLastWriteTime = info.write;
    data.nFileSizeHigh = static_cast<DWORD>(info.size >> 32);
    data.nFileSizeLow = static_cast<DWORD>(info.size & 0xFFFFFFFFu);
    data.dwReserved0 = 0;
    data.dwReserved1 = 0;
    data.cAlternateFileName[0] = 0;
    return true;
}

class FindObject : public posix::KernelObject {
public:
    ~FindObject() override {
        if (m_dir) ::closedir(m_dir);
    }

    std::mutex m_lock;      // one reader of the directory at a time
    DIR* m_dir = nullptr;   // null for a search of one named entry
    std::string m_pattern;  // the last part of the search pattern

    // Reads on to the next entry that matches and describes it; false with
    // the last error set (ERROR_NO_MORE_FILES at the end).
    template <class Data>
    bool Next(Data& data) {
        if (!m_dir) {
            SetLastError(ERROR_NO_MORE_FILES);
            return false;
        }
        int fd = ::dirfd(m_dir);
        for (;;) {
            errno = 0;
            struct dirent* de = ::readdir(m_dir);
            if (!de) {
                if (errno) posix::SetLastErrorFromErrno();
                else SetLastError(ERROR_NO_MORE_FILES);
                return false;
            }
            std::size_t length = std::strlen(de->d_name);
            if (!posix::MatchPattern(m_pattern.data(), m_pattern.size(), de->d_name, length)) continue;
            EntryInfo info;
            if (!Describe(fd, de->d_name, info)) {
                if (errno == ENOENT) continue;  // gone since readdir
                // Not allowed to look inside (no search permission on the
                // directory): the name and the kind of entry are still known.
                info = EntryInfo();
                info.mode = de->d_type == DT_DIR ? S_IFDIR | S_IWUSR : S_IFREG | S_IWUSR;
            }
            if (Fill(data, info, de->d_name, length)) return true;
        }
    }
};

template <class Data>
HANDLE FindFirst(const std::string& path, Data* data) {
    if (!data) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::string::size_type slash = path.find_last_of('/');
    std::string dir = slash == std::string::npos ? std::string(".")
                      : slash == 0               ? std::string("/")
                                                 : path.substr(0, slash);
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.empty()) {
        SetLastError(path.empty() ? ERROR_PATH_NOT_FOUND : ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    std::unique_ptr<FindObject> find(new FindObject);
    if (!posix::HasWildcards(name.data(), name.size())) {
        EntryInfo info;
        if (!Describe(AT_FDCWD, path.c_str(), info)) {
            SetLastError(ErrorForPath(errno, path));
            return INVALID_HANDLE_VALUE;
        }
        if (!Fill(*data, info, name.data(), name.size())) {
            SetLastError(ERROR_FILENAME_EXCED_RANGE);
            return INVALID_HANDLE_VALUE;
        }
    } else {
        find->m_dir = ::opendir(dir.c_str());
        if (!find->m_dir) {
            int err = errno;
            SetLastError(err == ENOENT || err == ENOTDIR ? ERROR_PATH_NOT_FOUND : posix::ErrorFromErrno(err));
            return INVALID_HANDLE_VALUE;
        }
        find->m_pattern = name;
        if (!find->Next(*data)) {
            if (GetLastError() == ERROR_NO_MORE_FILES) SetLastError(ERROR_FILE_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
        }
    }
    return posix::Register(std::move(find));
}

template <class Data>
BOOL FindNext(HANDLE h, Data* data) {
    if (!data) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    bool ok = false;
    posix::With<FindObject>(h, [&](FindObject& f) {
        std::lock_guard<std::mutex> hold(f.m_lock);
        ok = f.Next(*data);
    });
    return ok ? TRUE : FALSE;
}

DWORD AttributesOfPath(const std::string& path) {
    if (path.empty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_FILE_ATTRIBUTES;
    }
    EntryInfo info;
    if (!Describe(AT_FDCWD, path.c_str(), info)) {
        SetLastError(ErrorForPath(errno, path));
        return INVALID_FILE_ATTRIBUTES;
    }
    std::string scratch;
    return posix::AttributesFromMode(info.mode, LastPart(path, scratch));
}

// A name of either width as the byte path the system takes.
std::string NativeName(const char* name) { return posix::NativePath(name); }
std::string NativeName(const WCHAR* name) { return posix::NativePath(posix::WideToBytes(name).c_str()); }

template <class Ch, class Data>
HANDLE FindFirstFileOf(const Ch* name, Data* data) {
    posix::CountFileServiceCall();
    if (!name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    return posix::NoThrow(INVALID_HANDLE_VALUE, [&] { return FindFirst(NativeName(name), data); });
}

template <class Data>
BOOL FindNextFileOf(HANDLE h, Data* data) {
    posix::CountFileServiceCall();
    return posix::NoThrow(FALSE, [&] { return FindNext(h, data); });
}

template <class Ch>
DWORD FileAttributesOf(const Ch* name) {
    posix::CountFileServiceCall();
    return posix::NoThrow(INVALID_FILE_ATTRIBUTES, [&] { return AttributesOfPath(NativeName(name)); });
}

}  // namespace

HANDLE FindFirstFileA(const char* lpFileName, WIN32_FIND_DATAA* lpFindFileData) {
    return FindFirstFileOf(lpFileName, lpFindFileData);
}

HANDLE FindFirstFileW(const WCHAR* lpFileName, WIN32_FIND_DATAW* lpFindFileData) {
    return FindFirstFileOf(lpFileName, lpFindFileData);
}

BOOL FindNextFileA(HANDLE hFindFile, WIN32_FIND_DATAA* lpFindFileData) {
    return FindNextFileOf(hFindFile, lpFindFileData);
}

BOOL FindNextFileW(HANDLE hFindFile, WIN32_FIND_DATAW* lpFindFileData) {
    return FindNextFileOf(hFindFile, lpFindFileData);
}

BOOL FindClose(HANDLE hFindFile) {
    posix::CountFileServiceCall();
    // Only a search handle is closed here; any other handle is refused.
    if (!posix::With<FindObject>(hFindFile, [](FindObject&) {})) return FALSE;
    if (!posix::Close(hFindFile)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

DWORD GetFileAttributesA(const char* lpFileName) { return FileAttributesOf(lpFileName); }

DWORD GetFileAttributesW(const WCHAR* lpFileName) { return FileAttributesOf(lpFileName); }

}  // namespace win
}  // namespace vorlix

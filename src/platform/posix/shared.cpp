// Named shared memory (see shared.h for the lifetime protocol), the file
// mappings over it, and the waiting primitives of the synchronization
// objects: deadlines on the monotonic clock and futexes.
#include "shared.h"

#include <cerrno>
#include <cstring>
#include <map>
#include <new>

#include <fcntl.h>
#include <linux/futex.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace vorlix {
namespace win {
namespace posix {

std::atomic<std::uint32_t> g_pid{0};

namespace {

constexpr std::uint32_t kMagic = 0x584C5256u;  // "VRLX"
constexpr DWORD kMaxWindowsName = 260;
constexpr std::uint64_t kMaxPayload = std::uint64_t(1) << 40;
constexpr std::uint64_t kViewAlignment = 65536;  // the Windows allocation granularity

struct Header {
    std::uint32_t magic;
    std::uint32_t kind;
    std::uint64_t payload;
};

// Asked each time (the C library keeps it at hand): a static made on first
// use would have a guard that a fork could catch half-way.
std::size_t PageSize() { return static_cast<std::size_t>(sysconf(_SC_PAGESIZE)); }

// Takes (or, with F_UNLCK, gives back) the one-byte open-file-description
// lock at `at`.
bool LockByte(int fd, off_t at, short type, bool wait) {
    struct flock fl;
    std::memset(&fl, 0, sizeof fl);
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = at;
    fl.l_len = 1;
    int r;
    do {
        r = fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &fl);
    } while (r < 0 && errno == EINTR);
    return r == 0;
}

int ShmOpen(const std::string& path, int flags) {
    int fd;
    do {
        fd = shm_open(path.c_str(), flags | O_CLOEXEC, 0600);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Whether `path` names the file open as fd (it may have been unlinked and
// created again by others since fd was opened).
bool StillNamed(const std::string& path, const struct stat& st) {
    int fd = ShmOpen(path, O_RDONLY);
    if (fd < 0) return false;
    struct stat now;
    bool same = fstat(fd, &now) == 0 && now.st_dev == st.st_dev && now.st_ino == st.st_ino;
    close(fd);
    return same;
}

std::uint64_t Fnv1a(const char* s, std::size_t n) {
    std::uint64_t h = 1469598103934665603ull;
    for (std::size_t i = 0; i < n; ++i) {
        h ^= static_cast<unsigned char>(s[i]);
        h *= 1099511628211ull;
    }
    return h;
}

// In a forked child the one thread has a new id, and the process too.
void ForgetIds() {
    g_pid.store(0, std::memory_order_relaxed);
    t_tid = 0;
}
const bool g_forgetOnFork = pthread_atfork(nullptr, nullptr, &ForgetIds) == 0;

// The views of mappings: base address -> the segment they keep open, and
// the view's length. The lock is a plain mutex, initialized statically, and
// held by the fork handlers across fork(): a child forked while another
// thread maps or unmaps a view would otherwise inherit it held, and hang on
// its own first view.
pthread_mutex_t g_viewLock = PTHREAD_MUTEX_INITIALIZER;
void LockViews() { pthread_mutex_lock(&g_viewLock); }
void UnlockViews() { pthread_mutex_unlock(&g_viewLock); }
const bool g_viewsForkSafe = pthread_atfork(&LockViews, &UnlockViews, &UnlockViews) == 0;

class ViewHold {
public:
    ViewHold() {
        (void)g_viewsForkSafe;
        LockViews();
    }
    ~ViewHold() { UnlockViews(); }
    ViewHold(const ViewHold&) = delete;
    ViewHold& operator=(const ViewHold&) = delete;
};

typedef std::map<const void*, std::pair<std::shared_ptr<Segment>, std::size_t>> ViewMap;
// Made on first use under the lock (so no child finds it half-made), never
// destroyed: views may outlive statics.
ViewMap& Views() {
    static ViewMap* v = new ViewMap;
    return *v;
}

class MappingObject : public KernelObject {
public:
    MappingObject(std::shared_ptr<Segment> seg, bool writable) : m_seg(std::move(seg)), m_writable(writable) {}
    std::shared_ptr<Segment> m_seg;
    bool m_writable;
};

}  // namespace

bool SharedName(const char* name, std::string& out) {
    std::size_t n = std::strlen(name);
    if (n > kMaxWindowsName) return false;
    if (std::strncmp(name, "Local\\", 6) == 0) name += 6;
    else if (std::strncmp(name, "Global\\", 7) == 0) name += 7;
    n = std::strlen(name);
    std::string escaped;
    for (std::size_t i = 0; i < n; ++i) {
        if (name[i] == '/') escaped += "%2F";
        else if (name[i] == '%') escaped += "%25";
        else escaped += name[i];
    }
    if (escaped.size() > 200) {
        char hash[24];
        std::snprintf(hash, sizeof hash, "~%016llx", static_cast<unsigned long long>(Fnv1a(name, n)));
        escaped = escaped.substr(0, 180) + hash;
    }
    out = "/vorlix-" + std::to_string(static_cast<unsigned long>(getuid())) + "-" + escaped;
    return true;
}

std::shared_ptr<Segment> Segment::Open(const char* name, ObjectKind kind, std::uint64_t payloadSize,
                                       void (*init)(void*, void*), void* arg, bool& existed) {
    std::string path;
    if (!SharedName(name, path)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return nullptr;
    }
    const std::size_t page = PageSize();
    if (kind != kKindMapping) payloadSize = 0;
    std::shared_ptr<Segment> seg(new (std::nothrow) Segment);
    if (!seg) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    seg->m_path = path;
    // A closer may unlink the name between our open and our lock; then
    // the file we hold is not the named object any more: start again.
    for (int attempt = 0; attempt < 1000; ++attempt) {
        int fd = ShmOpen(path, O_RDWR | O_CREAT);
        if (fd < 0) {
            SetLastErrorFromErrno();
            return nullptr;
        }
        struct stat st;
        if (!LockByte(fd, 0, F_WRLCK, true) || fstat(fd, &st) != 0) {
            SetLastErrorFromErrno();
            close(fd);
            return nullptr;
        }
        if (!StillNamed(path, st)) {
            close(fd);
            continue;
        }
        DWORD error = ERROR_SUCCESS;
        bool inUse = !LockByte(fd, 1, F_WRLCK, false);
        void* base = MAP_FAILED;
        if (!inUse) {
            // New, or left by processes that are gone: start afresh.
            if (ftruncate(fd, 0) != 0 || ftruncate(fd, static_cast<off_t>(page + payloadSize)) != 0) {
                error = ErrorFromErrno(errno);
            } else {
                base = mmap(nullptr, page, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
                if (base == MAP_FAILED) {
                    error = ErrorFromErrno(errno);
                } else {
                    Header* h = static_cast<Header*>(base);
                    h->kind = kind;
                    h->payload = payloadSize;
                    if (init) init(static_cast<char*>(base) + kStateOffset, arg);
                    h->magic = kMagic;
                    seg->m_payload = payloadSize;
                }
            }
            if (error == ERROR_SUCCESS && !LockByte(fd, 1, F_RDLCK, false)) error = ErrorFromErrno(errno);
        } else if (!LockByte(fd, 1, F_RDLCK, false)) {
            error = ErrorFromErrno(errno);
        } else if (static_cast<std::uint64_t>(st.st_size) < page) {
            error = ERROR_INVALID_HANDLE;
        } else {
            base = mmap(nullptr, page, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
            if (base == MAP_FAILED) {
                error = ErrorFromErrno(errno);
            } else {
                const Header* h = static_cast<const Header*>(base);
                if (h->magic != kMagic || h->kind != kind || h->payload > static_cast<std::uint64_t>(st.st_size) - page)
                    error = ERROR_INVALID_HANDLE;
                seg->m_payload = h->payload;
            }
        }
        if (error != ERROR_SUCCESS) {
            if (base != MAP_FAILED) munmap(base, page);
            close(fd);  // drops this open's locks: nothing is mapped from it
            SetLastError(error);
            return nullptr;
        }
        LockByte(fd, 0, F_UNLCK, false);
        seg->m_base = base;
        seg->m_baseLen = page;
        seg->m_dev = static_cast<std::uint64_t>(st.st_dev);
        seg->m_ino = static_cast<std::uint64_t>(st.st_ino);
        if (kind == kKindMapping) seg->m_fd = fd;
        else close(fd);  // the header mapping keeps the open (and its shared lock)
        existed = inUse;
        return seg;
    }
    SetLastError(ERROR_SHARING_VIOLATION);
    return nullptr;
}

std::shared_ptr<Segment> Segment::Anonymous(std::uint64_t payloadSize) {
    std::shared_ptr<Segment> seg(new (std::nothrow) Segment);
    if (!seg) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    const std::size_t page = PageSize();
    int fd = static_cast<int>(syscall(SYS_memfd_create, "vorlix-mapping", MFD_CLOEXEC));
    if (fd < 0 || ftruncate(fd, static_cast<off_t>(page + payloadSize)) != 0) {
        SetLastErrorFromErrno();
        if (fd >= 0) close(fd);
        return nullptr;
    }
    void* base = mmap(nullptr, page, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (base == MAP_FAILED) {
        SetLastErrorFromErrno();
        close(fd);
        return nullptr;
    }
    struct stat st;
    if (fstat(fd, &st) == 0) {
        seg->m_dev = static_cast<std::uint64_t>(st.st_dev);
        seg->m_ino = static_cast<std::uint64_t>(st.st_ino);
    }
    seg->m_fd = fd;
    seg->m_base = base;
    seg->m_baseLen = page;
    seg->m_payload = payloadSize;
    return seg;
}

Segment::~Segment() {
    if (m_keep) return;
    if (m_path.empty()) {
        if (m_base) munmap(m_base, m_baseLen);
        if (m_fd >= 0) close(m_fd);
        return;
    }
    int fd = ShmOpen(m_path, O_RDWR);
    bool ours = false;
    if (fd >= 0) {
        struct stat st;
        ours = fstat(fd, &st) == 0 && static_cast<std::uint64_t>(st.st_dev) == m_dev &&
               static_cast<std::uint64_t>(st.st_ino) == m_ino && LockByte(fd, 0, F_WRLCK, true);
    }
    // Our shared lock goes with the last reference to our open.
    if (m_base) munmap(m_base, m_baseLen);
    if (m_fd >= 0) close(m_fd);
    if (ours && LockByte(fd, 1, F_WRLCK, false)) shm_unlink(m_path.c_str());
    if (fd >= 0) close(fd);
}

void* Segment::State() const { return static_cast<char*>(m_base) + kStateOffset; }

void* Segment::MapView(std::uint64_t offset, std::uint64_t length) {
    if (offset % kViewAlignment != 0) {
        SetLastError(ERROR_MAPPED_ALIGNMENT);
        return nullptr;
    }
    if (offset > m_payload || (length == 0 && offset == m_payload)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    if (length == 0) length = m_payload - offset;
    if (length > m_payload - offset || length > static_cast<std::uint64_t>(SIZE_MAX)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    void* p = mmap(nullptr, static_cast<std::size_t>(length), PROT_READ | PROT_WRITE, MAP_SHARED, m_fd,
                   static_cast<off_t>(PageSize() + offset));
    if (p == MAP_FAILED) {
        SetLastErrorFromErrno();
        return nullptr;
    }
    return p;
}

Deadline Deadline::After(DWORD ms) {
    Deadline d;
    if (ms == INFINITE) {
        d.infinite = true;
        return d;
    }
    d.zero = ms == 0;
    clock_gettime(CLOCK_MONOTONIC, &d.at);
    d.at.tv_sec += ms / 1000;
    d.at.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
    if (d.at.tv_nsec >= 1000000000L) {
        d.at.tv_nsec -= 1000000000L;
        ++d.at.tv_sec;
    }
    return d;
}

bool Deadline::Passed() const {
    if (infinite) return false;
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec > at.tv_sec || (now.tv_sec == at.tv_sec && now.tv_nsec >= at.tv_nsec);
}

timespec Deadline::Capped(DWORD ms) const {
    Deadline slice = After(ms);
    if (infinite) return slice.at;
    bool earlier = slice.at.tv_sec < at.tv_sec || (slice.at.tv_sec == at.tv_sec && slice.at.tv_nsec < at.tv_nsec);
    return earlier ? slice.at : at;
}

bool FutexWait(std::atomic<std::uint32_t>* word, std::uint32_t expected, const timespec* until, bool shared) {
    int op = FUTEX_WAIT_BITSET | (shared ? 0 : FUTEX_PRIVATE_FLAG);
    long r = syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(word), op, expected, until, nullptr,
                     FUTEX_BITSET_MATCH_ANY);
    return !(r < 0 && errno == ETIMEDOUT);
}

void FutexWakeAll(std::atomic<std::uint32_t>* word, bool shared) {
    int op = FUTEX_WAKE | (shared ? 0 : FUTEX_PRIVATE_FLAG);
    syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(word), op, INT32_MAX, nullptr, nullptr, 0);
}

void FutexWakeOne(std::atomic<std::uint32_t>* word, bool shared) {
    int op = FUTEX_WAKE | (shared ? 0 : FUTEX_PRIVATE_FLAG);
    syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(word), op, 1, nullptr, nullptr, 0);
}

std::uint32_t FetchPid() {
    (void)g_forgetOnFork;
    std::uint32_t p = static_cast<std::uint32_t>(getpid());
    g_pid.store(p, std::memory_order_relaxed);
    return p;
}

}  // namespace posix

HANDLE CreateFileMappingA(HANDLE hFile, void*, DWORD flProtect, DWORD dwMaximumSizeHigh, DWORD dwMaximumSizeLow,
                          const char* lpName) {
    try {
        std::uint64_t size = (static_cast<std::uint64_t>(dwMaximumSizeHigh) << 32) | dwMaximumSizeLow;
        if (hFile != INVALID_HANDLE_VALUE || (flProtect != PAGE_READWRITE && flProtect != PAGE_READONLY) || size == 0) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        if (size > posix::kMaxPayload) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
        bool existed = false;
        std::shared_ptr<posix::Segment> seg =
            (lpName && *lpName) ? posix::Segment::Open(lpName, posix::kKindMapping, size, nullptr, nullptr, existed)
                                : posix::Segment::Anonymous(size);
        if (!seg) return nullptr;
        HANDLE h = posix::Register(std::unique_ptr<posix::KernelObject>(
            new posix::MappingObject(std::move(seg), flProtect == PAGE_READWRITE)));
        if (!h) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
        SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
        return h;
    } catch (...) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
}

void* MapViewOfFile(HANDLE hFileMappingObject, DWORD dwDesiredAccess, DWORD dwFileOffsetHigh, DWORD dwFileOffsetLow,
                    SIZE_T dwNumberOfBytesToMap) {
    try {
        std::shared_ptr<posix::Segment> seg;
        bool writable = false;
        if (!posix::With<posix::MappingObject>(hFileMappingObject, [&](posix::MappingObject& m) {
                seg = m.m_seg;
                writable = m.m_writable;
            }))
            return nullptr;
        if ((dwDesiredAccess & FILE_MAP_WRITE) && !writable) {
            SetLastError(ERROR_ACCESS_DENIED);
            return nullptr;
        }
        std::uint64_t offset = (static_cast<std::uint64_t>(dwFileOffsetHigh) << 32) | dwFileOffsetLow;
        void* p = seg->MapView(offset, dwNumberOfBytesToMap);
        if (!p) return nullptr;
        std::size_t length =
            dwNumberOfBytesToMap ? dwNumberOfBytesToMap : static_cast<std::size_t>(seg->PayloadSize() - offset);
        try {
            posix::ViewHold hold;
            posix::Views().emplace(p, std::make_pair(std::move(seg), length));
        } catch (...) {
            munmap(p, length);  // a view nobody could unmap
            throw;
        }
        return p;
    } catch (...) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
}

BOOL UnmapViewOfFile(const void* lpBaseAddress) {
    constexpr DWORD ERROR_INVALID_ADDRESS = 487;
    std::shared_ptr<posix::Segment> seg;  // let go of outside the table's lock
    {
        posix::ViewHold hold;
        posix::ViewMap& views = posix::Views();
        auto it = views.find(lpBaseAddress);
        if (it == views.end()) {
            SetLastError(ERROR_INVALID_ADDRESS);
            return FALSE;
        }
        munmap(const_cast<void*>(lpBaseAddress), it->second.second);
        seg = std::move(it->second.first);
        views.erase(it);
    }
    return TRUE;
}

}  // namespace win
}  // namespace vorlix

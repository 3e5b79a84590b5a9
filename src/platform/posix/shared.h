// Named shared memory of the POSIX platform layer, and the waiting
// primitives that the synchronization objects are built from.
//
// A named object (mutex, event or file mapping) is one POSIX shared-memory
// object whose first page holds a header (magic, kind, payload size) and the
// object's state; a mapping's payload follows from the second page on. Its
// lifetime follows the processes that use it, with open-file-description
// locks (F_OFD_SETLK) on the object itself doing the bookkeeping:
//
//   byte 0  exclusive while a process opens, initialises or closes the object;
//   byte 1  shared by every open of the object, for as long as it is mapped.
//
// The kernel drops both locks when a process ends, however it ends, so the
// users' shared locks are exactly the live users. Opening under the byte-0
// lock: an object whose byte 1 nobody holds (new, or left behind by
// processes that died) is initialised afresh (zero-filled); one that is in
// use is joined as it is ("already exists"). Closing under the byte-0 lock:
// unmap, then, if nobody else holds byte 1, unlink the name. So a named
// object goes when its last user closes it, and a crash leaves at most a
// stale file that the next open of the name treats as new.
//
// Names: "Local\" and "Global\" prefixes are dropped (one namespace);
// the rest becomes "/vorlix-<uid>-<name>" with "/" and "%" escaped as
// %2F and %25, and names longer than 200 bytes keep their first 180 bytes
// and a 64-bit hash of the whole.
#ifndef VORLIX_SRC_PLATFORM_POSIX_SHARED_H
#define VORLIX_SRC_PLATFORM_POSIX_SHARED_H

#include "kernel.h"

#include <atomic>
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>

namespace vorlix {
namespace win {
namespace posix {

enum ObjectKind : std::uint32_t { kKindMutex = 1, kKindEvent = 2, kKindMapping = 3 };

class Segment {
public:
    // Opens the named object, creating it when nobody uses it. A new object
    // of kind kMapping gets payloadSize zero bytes; an existing one keeps
    // its size. init runs on the zeroed state of a new object (under the
    // open lock). existed tells whether the object was in use already. Null
    // on failure, with the last error set (ERROR_INVALID_HANDLE when the
    // name belongs to an object of another kind).
    static std::shared_ptr<Segment> Open(const char* name, ObjectKind kind, std::uint64_t payloadSize,
                                         void (*init)(void* state, void* arg), void* arg, bool& existed);
    // An unnamed mapping object (memfd).
    static std::shared_ptr<Segment> Anonymous(std::uint64_t payloadSize);
    ~Segment();
    Segment(const Segment&) = delete;
    Segment& operator=(const Segment&) = delete;

    // The object's state area in the header page (at most kStateBytes).
    void* State() const;
    std::uint64_t PayloadSize() const { return m_payload; }
    // Maps [offset, offset + length) of the payload; null (last error set)
    // when it lies outside.
    void* MapView(std::uint64_t offset, std::uint64_t length);
    // Identity shared by every process: device and inode.
    std::uint64_t Dev() const { return m_dev; }
    std::uint64_t Ino() const { return m_ino; }
    // Keeps this segment mapped for the rest of the process (a robust mutex
    // in it is still owned by a thread of this process, whose robust list
    // must not point into unmapped memory).
    void KeepMapped() { m_keep = true; }

    static constexpr std::size_t kStateOffset = 64;
    static constexpr std::size_t kStateBytes = 1024;

private:
    Segment() = default;

    std::string m_path;      // POSIX name; empty when unnamed
    int m_fd = -1;           // kept open for mappings only
    void* m_base = nullptr;  // the header page
    std::size_t m_baseLen = 0;
    std::uint64_t m_payload = 0;
    std::uint64_t m_dev = 0, m_ino = 0;
    bool m_keep = false;
};

// The POSIX shared-memory name of a Windows object name; false when the
// name is too long for Windows (ERROR_FILENAME_EXCED_RANGE).
bool SharedName(const char* name, std::string& out);

// A point in time on the monotonic clock by which a wait ends.
struct Deadline {
    bool infinite = false;
    bool zero = false;
    timespec at{};
    static Deadline After(DWORD ms);
    bool Passed() const;
    // The earlier of the deadline and now + ms.
    timespec Capped(DWORD ms) const;
};

// Sleeps while *word == expected, until woken or `until` (absolute,
// monotonic; null for ever). shared: the word may be in memory shared
// with other processes. Returns false on time-out.
bool FutexWait(std::atomic<std::uint32_t>* word, std::uint32_t expected, const timespec* until, bool shared);
void FutexWakeAll(std::atomic<std::uint32_t>* word, bool shared);
void FutexWakeOne(std::atomic<std::uint32_t>* word, bool shared);

// The calling process's and thread's kernel ids (kept right across fork),
// read from a cache on every mutex operation. The thread's is defined with
// the mutexes (sync.cpp), where reading it needs no call.
extern std::atomic<std::uint32_t> g_pid;
extern thread_local std::uint32_t t_tid __attribute__((tls_model("initial-exec")));
std::uint32_t FetchPid();
std::uint32_t FetchTid();
inline std::uint32_t CurrentPid() {
    std::uint32_t p = g_pid.load(std::memory_order_relaxed);
    return p ? p : FetchPid();
}
inline std::uint32_t CurrentTid() {
    std::uint32_t t = t_tid;
    return t ? t : FetchTid();
}

}  // namespace posix
}  // namespace win
}  // namespace vorlix

#endif

// Thread message queues on POSIX: posted messages and the quit flag, as the
// Windows user services keep them for a thread without windows.
//
// Each thread that asks for one gets a queue, found by its thread id in a
// process-wide table so that other threads can post to it; the queue leaves
// the table when its thread ends, after the thread's thread_local
// destructors (which may still pump or post). A count of what is waiting lets
// PeekMessageA on an empty queue return without taking a lock, since the
// message-pump waits call it in a tight loop.
#include "kernel.h"

#include <atomic>
#include <cstdint>
#include <ctime>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <unordered_map>

#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace vorlix {
namespace win {

namespace {

// The most messages a queue holds, as on Windows.
constexpr std::size_t kMaxPosted = 10000;

struct Queue {
    std::mutex lock;
    std::deque<MSG> posted;
    bool quit = false;
    int quitCode = 0;
    std::atomic<int> waiting{0};  // posted messages plus the quit flag
};

// The queues by thread id. The table's lock is a plain mutex, initialized
// statically; the fork handlers hold it and the lock of every queue in the
// table across fork(), since a child forked while another thread posted to
// one of its queues, or made or dropped a queue, would otherwise inherit a
// lock held by a thread that is not there. A queue's lock is never held
// while the table's is taken.
pthread_mutex_t g_tableLock = PTHREAD_MUTEX_INITIALIZER;
typedef std::unordered_map<DWORD, std::shared_ptr<Queue>> QueueMap;

// Made on first use under the table's lock; never destroyed: threads may
// end after static destruction.
QueueMap& Queues() {
    static QueueMap* m = new QueueMap;
    return *m;
}

void LockForFork() {
    pthread_mutex_lock(&g_tableLock);
    for (auto& e : Queues()) e.second->lock.lock();
}
void UnlockAfterFork() {
    for (auto& e : Queues()) e.second->lock.unlock();
    pthread_mutex_unlock(&g_tableLock);
}
void ChildAfterFork();
const bool g_queuesForkSafe = pthread_atfork(&LockForFork, &UnlockAfterFork, &ChildAfterFork) == 0;

class TableHold {
public:
    TableHold() {
        (void)g_queuesForkSafe;
        pthread_mutex_lock(&g_tableLock);
    }
    ~TableHold() { pthread_mutex_unlock(&g_tableLock); }
    TableHold(const TableHold&) = delete;
    TableHold& operator=(const TableHold&) = delete;
};

DWORD TickCount() {
    struct timespec ts;
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<DWORD>(static_cast<unsigned long long>(ts.tv_sec) * 1000u +
                              static_cast<unsigned long long>(ts.tv_nsec / 1000000));
}

// The calling thread's queue and its id in the table.
struct OwnQueue {
    std::shared_ptr<Queue> queue;
    DWORD id = 0;
};

// The calling thread's own, made on first use; a plain pointer, so that it
// stays readable while the thread's thread_local objects are destroyed.
// kQueueGone once the queue has gone with the thread's end.
OwnQueue* const kQueueGone = reinterpret_cast<OwnQueue*>(static_cast<std::uintptr_t>(1));
thread_local OwnQueue* t_own = nullptr;

// In the child the forking thread is the only one, under another id: its
// queue (the one it had, if any) is found by the new id, and the queues of
// the threads that did not come along leave the table.
void ChildAfterFork() {
    for (auto& e : Queues()) e.second->lock.unlock();
    OwnQueue* own = t_own;
    bool bOwn = own && own != kQueueGone;
    Queues().clear();  // allocates nothing
    if (bOwn) {
        own->id = GetCurrentThreadId();
        try {
            Queues()[own->id] = own->queue;
        } catch (const std::bad_alloc&) {
            // Posts to this thread fail, as to a thread without a queue.
        }
    }
    pthread_mutex_unlock(&g_tableLock);
}

// Takes the thread's queue out of the table and lets it go.
void DropQueue(void* p) {
    OwnQueue* own = static_cast<OwnQueue*>(p);
    {
        TableHold hold;
        QueueMap& queues = Queues();
        auto it = queues.find(own->id);
        if (it != queues.end() && it->second == own->queue) queues.erase(it);
    }
    delete own;
    t_own = kQueueGone;
}

struct DropAtExit {
    OwnQueue* own = nullptr;
    ~DropAtExit() {
        if (own) DropQueue(own);
    }
};

// The key is made while the library loads: made on first use, it would sit
// behind a guard that a fork could catch half-way.
pthread_key_t g_dropKey;
const bool g_haveDropKey = pthread_key_create(&g_dropKey, &DropQueue) == 0;

// Arranges for DropQueue to run when the calling thread ends: from its
// thread-specific data, whose destructors run after the thread's
// thread_local destructors, or, when no key is to be had, from a
// thread_local destructor.
void DropAtThreadEnd(OwnQueue* own) {
    if (g_haveDropKey && pthread_setspecific(g_dropKey, own) == 0) return;
    static thread_local DropAtExit atExit;
    atExit.own = own;
}

// The calling thread's queue, made on first use; null when memory ran out,
// or once the thread's end has let its queue go.
Queue* MyQueue() {
    OwnQueue* own = t_own;
    if (own == kQueueGone) return nullptr;
    if (own) return own->queue.get();
    try {
        std::unique_ptr<OwnQueue> made(new OwnQueue);
        made->queue = std::make_shared<Queue>();
        made->id = GetCurrentThreadId();
        {
            TableHold hold;
            Queues()[made->id] = made->queue;  // replaces the queue of an ended thread that had this id
        }
        t_own = made.release();
        DropAtThreadEnd(t_own);
        return t_own->queue.get();
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
}

bool InFilter(UINT message, UINT low, UINT high) {
    if (message == WM_QUIT || (low == 0 && high == 0)) return true;
    return message >= low && message <= high;
}

}  // namespace

DWORD GetCurrentThreadId() { return static_cast<DWORD>(::syscall(SYS_gettid)); }

BOOL PeekMessageA(MSG* lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg) {
    if (!lpMsg) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (hWnd && hWnd != reinterpret_cast<HWND>(static_cast<std::ptrdiff_t>(-1))) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    Queue* q = MyQueue();
    if (!q || q->waiting.load(std::memory_order_acquire) == 0) return FALSE;
    bool remove = (wRemoveMsg & PM_REMOVE) != 0;
    std::lock_guard<std::mutex> hold(q->lock);
    for (auto it = q->posted.begin(); it != q->posted.end(); ++it) {
        if (!InFilter(it->message, wMsgFilterMin, wMsgFilterMax)) continue;
        *lpMsg = *it;
        if (remove) {
            q->posted.erase(it);
            q->waiting.fetch_sub(1, std::memory_order_relaxed);
        }
        return TRUE;
    }
    if (q->quit) {
        MSG quit = {};
        quit.message = WM_QUIT;
        quit.wParam = static_cast<WPARAM>(q->quitCode);
        quit.time = TickCount();
        *lpMsg = quit;
        if (remove) {
            q->quit = false;
            q->waiting.fetch_sub(1, std::memory_order_relaxed);
        }
        return TRUE;
    }
    return FALSE;
}

BOOL TranslateMessage(const MSG*) { return FALSE; }

LRESULT DispatchMessageA(const MSG*) { return 0; }

void PostQuitMessage(int nExitCode) {
    Queue* q = MyQueue();
    if (!q) return;
    std::lock_guard<std::mutex> hold(q->lock);
    if (!q->quit) {
        q->quit = true;
        q->waiting.fetch_add(1, std::memory_order_release);
    }
    q->quitCode = nExitCode;
}

BOOL PostThreadMessageA(DWORD idThread, UINT Msg, WPARAM wParam, LPARAM lParam) {
    std::shared_ptr<Queue> q;
    {
        TableHold hold;
        QueueMap& queues = Queues();
        auto it = queues.find(idThread);
        if (it != queues.end()) q = it->second;
    }
    if (!q) {
        SetLastError(ERROR_INVALID_THREAD_ID);
        return FALSE;
    }
    MSG msg = {};
    msg.message = Msg;
    msg.wParam = wParam;
    msg.lParam = lParam;
    msg.time = TickCount();
    std::lock_guard<std::mutex> hold(q->lock);
    if (q->posted.size() >= kMaxPosted) {
        SetLastError(ERROR_NOT_ENOUGH_QUOTA);
        return FALSE;
    }
    try {
        q->posted.push_back(msg);
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    q->waiting.fetch_add(1, std::memory_order_release);
    return TRUE;
}

}  // namespace win
}  // namespace vorlix

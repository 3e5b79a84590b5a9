// Reader/writer locks over a table of indices.
//
// CWaitIndexMutex locks each index of a fixed table (0 to count - 1) for
// any number of readers or one writer, with a time-out in milliseconds on
// every wait, singly or for a set of indices all at once. It is built from
// Windows objects: per index a lock-flag mutex that guards the index's lock
// flag (0 free, 0x80000000 written, 1 to 0x7FFFFFFF readers) and an index
// mutex that the writer's thread, or the first reader's thread on behalf of
// all readers, owns; and two manual-reset events, set whenever a writer or
// the last reader releases any index. CWaitMaskMutex maps any 32-bit value
// to an index by its low bits. CWaitIndexMutexEx keeps the lock flags in
// named shared memory and names its index mutexes, so that processes that
// create it with the same name share the table.
//
// Rules for callers:
// - dwOwner identifies the calling thread (one value per thread): the index
//   mutex belongs to the thread that took it, so the thread that became the
//   first reader, or the writer, releases the index. An owner value holds at
//   most one read of an index at a time. The indices given to one multi
//   operation are distinct.
// - The first reader cannot leave while other readers remain:
//   ReleaseForRead then returns 0 and GuaranteeReleaseForRead retries
//   (pumping the thread's messages for 1 ms and sleeping 20 ms between
//   attempts) until the others have left or a quit message arrives. So a
//   thread that holds reads of several indices must give them back in one
//   order that every thread follows (ascending, say): thread A, first
//   reader of 1 and sharing 2, that gives back 1 first, and thread B, first
//   reader of 2 and sharing 1, that gives back 2 first, wait for each other
//   for ever. ReleaseForMultiRead gives back in array order.
// - A lock that is off (never created, created with a negative count, or
//   destroyed) grants every wait at once and ignores every release.
// - Single waits measure milliseconds with _ftime; a time-out of 0 always
//   fails, also on a free index. The clock is read only once a step has to
//   wait: steps that do not block count as taking no time, so a wait that
//   finds what it needs at once (a free index, readers to join) succeeds
//   for any time-out above 0. Multi waits take the lock-flag mutexes in
//   array order, wait for all free indices together (at most 64: a
//   platform limit), then poll the busy ones with 10 ms waits in passes,
//   within a budget of dwTimeout / 1000 + 1 whole seconds (measured with
//   time); when they fail they release everything they took: one attempt
//   each first (so shares of other readers' indices go at once), then the
//   retrying release for the indices whose mutex the call holds and that
//   other readers joined meanwhile.
// - Indices outside the table are refused: waits and ReleaseForRead return
//   0, ReleaseForWrite does nothing, and PrjWarningMsg is told.
// - Misuse is reported to the trace hook (SetLockTraceHook) with these
//   texts: "ReleaseForRead - 02" (read release of a written index),
//   "ReleaseForRead - 03" (the last reader is not the recorded owner, who
//   is still there), "ReleaseForRead - 04" (read release of a free index),
//   "ReleaseForWrite()-1" (lock-flag mutex not obtained),
//   "ReleaseForWrite()-3" (write release of an index that is not written).
//   The hook is called once the reporting call has let go of the index, so
//   it may use the lock itself, or have other threads use it.
//
// Wake-ups. A waiter on a busy index resets the shared release event and
// waits; a reset by another waiter could swallow a release meant for it.
// So each event is paired with a release generation, raised with every
// release before the event is set: a waiter notes the generation while it
// still holds the index's lock-flag mutex and sleeps (WaitOnAddress) until
// it moves, so no release that happens after the note is missed, and it
// re-examines its index soon after the release it waits for. Waiters count
// themselves (under the lock-flag mutex, so the release of their index sees
// them), and a release that finds no waiter leaves the generation alone. A release in
// one process wakes no waiter in another: a single wait for an index held
// by another process of a CWaitIndexMutexEx waits out its time and fails,
// while the multi waits notice such releases within their budget, since
// they poll.
//
// Holders that end. When the thread (or process) that owns an index mutex
// ends without releasing it, the platform reports the mutex abandoned. A
// wait that finds its index busy probes the index mutex without waiting;
// WAIT_ABANDONED means the holder (the writer, or the first reader) is
// gone, and its share is removed from the flag: written becomes free, n
// readers become n - 1. If the index is then free, the waiter takes it as
// if it had been released. If other readers remain, a reading waiter joins
// them and holds the index mutex for them (it becomes the recorded owner);
// a writing waiter lets the mutex go, the remaining readers keep the index,
// and the last of them to leave frees it although the recorded owner is
// gone (ReleaseForRead finds the index mutex unowned). An abandoned mutex
// met where a free index is taken (the holder ended between taking the
// mutex and writing the flag) counts as taken. Readers that end without
// holding the index mutex cannot be seen: their share stays in the flag
// until the lock is created anew (in shared memory: until every process has
// closed it). A lock-flag mutex whose owner ended is taken over.
//
// Limits: count at most 0x3FFFFFFF (the shared memory is 4 x count bytes).
#ifndef VORLIX_SYNC_INDEXMUTEX_H
#define VORLIX_SYNC_INDEXMUTEX_H

#include <vorlix/config.h>

namespace vorlix {

// Receives the lock's misuse reports: a condition (always 0 here) and one
// of the texts listed above.
typedef void (*LockTraceHook)(int bCondition, const char* pszText);
// Installs a trace hook for every lock of the process and returns the one
// it replaces; null restores the default, which does nothing.
VORLIX_API LockTraceHook SetLockTraceHook(LockTraceHook pfnHook);

}  // namespace vorlix

class VORLIX_API CWaitIndexMutex {
public:
    // Off: every field null or 0.
    CWaitIndexMutex();
    // Off, then Create(nCount).
    explicit CWaitIndexMutex(int nCount);
    // Destroy().
    virtual ~CWaitIndexMutex();
    CWaitIndexMutex(const CWaitIndexMutex&) = delete;
    CWaitIndexMutex& operator=(const CWaitIndexMutex&) = delete;

    // Builds a table of nCount indices with its mutexes and the two events;
    // 1. Refused (0) when the lock is on or nCount is 0. A negative count
    // leaves the lock off but still creates the events, and returns 1.
    virtual int Create(int nCount);
    // Closes every handle and frees the arrays; the lock is off. It does not
    // wait for holders: destroy a lock only when no thread uses it.
    virtual void Destroy();

    // 1 when the lock has indices.
    int IsOn();
    // 1 when the recorded first reader of the index is dwOwner.
    int MutexOwnerIsMe(DWORD nIndex, DWORD dwOwner);

    // Takes a read of the index within dwTimeout ms; bWait 0 returns 0 at
    // once (when on).
    int WaitForRead(DWORD nIndex, DWORD dwTimeout, DWORD dwOwner, int bWait);
    // Gives back a read, one attempt: 0 when the lock-flag mutex is not
    // obtained within 20 s, or when dwOwner is the first reader and others
    // remain.
    int ReleaseForRead(DWORD nIndex, DWORD dwOwner);
    // ReleaseForRead, retried until it succeeds; 0 only when a quit message
    // ends the retries.
    int GuaranteeReleaseForRead(DWORD nIndex, DWORD dwOwner);
    // Takes the write of the index within dwTimeout ms.
    int WaitForWrite(DWORD nIndex, DWORD dwTimeout, int bWait);
    // Gives back the write.
    void ReleaseForWrite(DWORD nIndex);

    // Takes reads of all nCount indices, or none; 1 for nCount 0.
    int WaitForMultiRead(DWORD* pdwIndex, int nCount, DWORD dwTimeout, DWORD dwOwner);
    // GuaranteeReleaseForRead for each index in order, stopping with 0 at the
    // first that fails.
    int ReleaseForMultiRead(DWORD* pdwIndex, int nCount, DWORD dwOwner);
    // Takes the writes of all nCount indices, or none.
    int WaitForMultiWrite(DWORD* pdwIndex, int nCount, DWORD dwTimeout);
    // ReleaseForWrite for each index in order.
    void ReleaseForMultiWrite(DWORD* pdwIndex, int nCount);

protected:
    // Takes the index's lock-flag mutex and reads its flag into dwLockFlag
    // (0 when the mutex is not obtained); 1 on success.
    int GetLockFlag(int nIndex, DWORD& dwLockFlag, DWORD dwTimeout);
    // Releases the index's lock-flag mutex; the platform's result.
    int ReleaseLockFlag(int nIndex);

public:
    DWORD* m_pdwMutexOwner;      // per index: owner value of the first reader; 0 when not read
    DWORD* m_pdwLockFlag;        // per index: 0 free, 0x80000000 written, else the number of readers
    void** m_phLockFlagMutex;    // per index: guards its flag and owner
    void** m_phIndexMutex;       // per index: owned by the writer's or the first reader's thread
    int m_nIndexCount;           // number of indices; the lock is on when above 0
    void* m_hWriteReleaseEvent;  // manual reset: set whenever a writer releases an index
    void* m_hReadReleaseEvent;   // manual reset: set whenever the last reader releases an index
};

// A lock whose table has 2^k indices, addressed by any 32-bit value through
// its low k bits (MaskToIndex). Values that share their low bits share an
// index; the multi operations map every value and drop repeated indices,
// keeping the first occurrences in order, before locking.
class VORLIX_API CWaitMaskMutex : public CWaitIndexMutex {
public:
    // Off, mask 0.
    CWaitMaskMutex();
    // Off, then Create(nCount).
    explicit CWaitMaskMutex(int nCount);
    ~CWaitMaskMutex() override;

    // A table of the smallest power of two at least nCount. 0 for a count of
    // 0 or below (the lock stays off), above 2^30, or when the lock is on.
    int Create(int nCount) override;
    // dwMask AND m_dwIndexMask; derived classes may map otherwise.
    virtual DWORD MaskToIndex(DWORD dwMask);

    int WaitForRead(DWORD dwMask, DWORD dwTimeout, DWORD dwOwner, int bWait);
    // The retrying release (GuaranteeReleaseForRead).
    int ReleaseForRead(DWORD dwMask, DWORD dwOwner);
    int WaitForWrite(DWORD dwMask, DWORD dwTimeout, int bWait);
    void ReleaseForWrite(DWORD dwMask);
    int WaitForMultiRead(DWORD* pdwMask, int nCount, DWORD dwTimeout, DWORD dwOwner);
    int ReleaseForMultiRead(DWORD* pdwMask, int nCount, DWORD dwOwner);
    int WaitForMultiWrite(DWORD* pdwMask, int nCount, DWORD dwTimeout);
    void ReleaseForMultiWrite(DWORD* pdwMask, int nCount);

private:
    // 1 when nIndex is among the first nCount entries of pdwIndex.
    int ExistIndexInTbl(DWORD* pdwIndex, int nCount, DWORD nIndex);

public:
    DWORD m_dwIndexMask;  // 2^k - 1 for a table of 2^k indices
};

// A lock whose flags live in named shared memory, so that the processes
// that create it with the same name and count share the table.
//
// Objects, with NAME the given name with every backslash replaced by an
// underscore, upper-cased: the shared memory "NAME_MFILE" (4 x count bytes,
// flag i at byte 4 x i, zero-filled when new; an existing one is joined and
// its flags kept), index mutex i "NAME_i", and a guard mutex "NAME_Gi" per
// index that serialises changes of flag i between processes (held wherever
// the lock-flag mutex is held). The lock-flag mutexes, the owner values and
// the events stay private to each process. The objects live as long as any
// process keeps them open; on POSIX also a process that was killed lets go
// of them.
class VORLIX_API CWaitIndexMutexEx : public CWaitIndexMutex {
public:
    // Off, m_hFileMapping invalid.
    CWaitIndexMutexEx();
    // Off, then CreateEx(nCount, lpszName).
    CWaitIndexMutexEx(int nCount, const char* lpszName);
    ~CWaitIndexMutexEx() override;

    // Releases the shared memory (closes its handle and unmaps the view),
    // then the inherited Destroy.
    void Destroy() override;
    // A null name: Create(nCount), a lock private to the process. Otherwise
    // the table over the named shared memory; 1 on success. 0 when the lock
    // is on, nCount is 0 or above 0x3FFFFFFF, or the shared memory or a
    // mutex cannot be had (an existing shared memory smaller than 4 x count
    // among them; Windows maps whole pages and sees only one smaller by a
    // page or more): the lock stays off. A negative count leaves the lock off,
    // sets m_hFileMapping to 0, creates the events and returns 1.
    virtual int CreateEx(int nCount, const char* lpszName);

    void* m_hFileMapping;  // the shared memory; all bits set when there is none
};

#endif

// Mutexes, events, waits and shared memory through their Windows names: the
// behaviour the locks rely on, which the real objects show under Wine too.
// Tests of the POSIX layer's own guarantees are marked and skipped there.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <vorlix/win.h>

#include "sync/sync_support.h"

#if !defined(_WIN32)
#include <unistd.h>
#endif

using namespace vorlix::win;

namespace {

// The result of a wait made by another thread.
DWORD WaitElsewhere(HANDLE h, DWORD ms) {
    DWORD r = WAIT_FAILED;
    std::thread t([&] {
        r = WaitForSingleObject(h, ms);
        if (r == WAIT_OBJECT_0 || r == WAIT_ABANDONED) ReleaseMutex(h);
    });
    t.join();
    return r;
}

}  // namespace

TEST(PlatformSync, MutexBelongsToItsThreadAndCounts) {
    HANDLE m = CreateMutexA(nullptr, FALSE, nullptr);
    ASSERT_NE(m, nullptr);
    EXPECT_FALSE(ReleaseMutex(m));  // nobody owns it
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_OWNER));
    ASSERT_EQ(WaitForSingleObject(m, 0), WAIT_OBJECT_0);
    ASSERT_EQ(WaitForSingleObject(m, 0), WAIT_OBJECT_0);  // again, by the owner
    EXPECT_EQ(WaitElsewhere(m, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    BOOL foreign = TRUE;
    std::thread([&] { foreign = ReleaseMutex(m); }).join();
    EXPECT_FALSE(foreign);
    EXPECT_TRUE(ReleaseMutex(m));
    EXPECT_EQ(WaitElsewhere(m, 0), static_cast<DWORD>(WAIT_TIMEOUT));  // still held once
    EXPECT_TRUE(ReleaseMutex(m));
    EXPECT_EQ(WaitElsewhere(m, 0), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_TRUE(CloseHandle(m));

    HANDLE owned = CreateMutexA(nullptr, TRUE, nullptr);
    EXPECT_EQ(WaitElsewhere(owned, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_TRUE(ReleaseMutex(owned));
    EXPECT_TRUE(CloseHandle(owned));
}

TEST(PlatformSync, MutexOfAnEndedThreadIsAbandonedOnce) {
    HANDLE m = CreateMutexA(nullptr, FALSE, nullptr);
    std::thread([&] { ASSERT_EQ(WaitForSingleObject(m, 0), WAIT_OBJECT_0); }).join();
    EXPECT_EQ(WaitForSingleObject(m, 1000), static_cast<DWORD>(WAIT_ABANDONED));
    EXPECT_TRUE(ReleaseMutex(m));  // the waiter owns it now
    EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(ReleaseMutex(m));

    // A waiter that sleeps while the owner ends is handed the mutex.
    synctest::HeldElsewhere owner([&] { WaitForSingleObject(m, INFINITE); }, [] {});
    DWORD r = WAIT_FAILED;
    std::thread waiter([&] {
        r = WaitForSingleObject(m, 10000);
        if (r == WAIT_ABANDONED) ReleaseMutex(m);
    });
    owner.Leave();
    waiter.join();
    EXPECT_EQ(r, static_cast<DWORD>(WAIT_ABANDONED));
    EXPECT_TRUE(CloseHandle(m));
}

TEST(PlatformSync, EventsManualAndAutomatic) {
    HANDLE manual = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE autoev = CreateEventA(nullptr, FALSE, TRUE, nullptr);
    ASSERT_NE(manual, nullptr);
    ASSERT_NE(autoev, nullptr);
    EXPECT_EQ(WaitForSingleObject(manual, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_TRUE(SetEvent(manual));
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);  // stays set
    EXPECT_TRUE(ResetEvent(manual));
    EXPECT_EQ(WaitForSingleObject(manual, 0), static_cast<DWORD>(WAIT_TIMEOUT));

    EXPECT_EQ(WaitForSingleObject(autoev, 0), WAIT_OBJECT_0);  // initially set, then reset
    EXPECT_EQ(WaitForSingleObject(autoev, 0), static_cast<DWORD>(WAIT_TIMEOUT));

    // Sleepers wake on a set from another thread.
    DWORD r1 = WAIT_FAILED, r2 = WAIT_FAILED;
    std::thread a([&] { r1 = WaitForSingleObject(manual, 20000); });
    std::thread b([&] { r2 = WaitForSingleObject(autoev, 20000); });
    SetEvent(manual);
    SetEvent(autoev);
    a.join();
    b.join();
    EXPECT_EQ(r1, WAIT_OBJECT_0);
    EXPECT_EQ(r2, WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(autoev, 0), static_cast<DWORD>(WAIT_TIMEOUT));

    EXPECT_FALSE(SetEvent(nullptr));
    EXPECT_EQ(WaitForSingleObject(nullptr, 0), WAIT_FAILED);
    CloseHandle(manual);
    CloseHandle(autoev);
}

TEST(PlatformSync, WaitAllTakesEverythingOrNothing) {
    HANDLE h[3] = {CreateMutexA(nullptr, FALSE, nullptr), CreateMutexA(nullptr, FALSE, nullptr),
                   CreateEventA(nullptr, TRUE, TRUE, nullptr)};
    synctest::HeldElsewhere holder([&] { WaitForSingleObject(h[1], INFINITE); }, [&] { ReleaseMutex(h[1]); });
    EXPECT_EQ(WaitForMultipleObjects(3, h, TRUE, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(WaitForMultipleObjects(3, h, TRUE, 30), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(WaitElsewhere(h[0], 0), WAIT_OBJECT_0);  // not kept by the failed wait
    // Wait-any: the first ready object in array order.
    EXPECT_EQ(WaitForMultipleObjects(2, h + 1, FALSE, 0), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(WaitForMultipleObjects(3, h, FALSE, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(ReleaseMutex(h[0]));

    DWORD r = WAIT_FAILED;
    std::thread waiter([&] {
        r = WaitForMultipleObjects(3, h, TRUE, 20000);
        if (r == WAIT_OBJECT_0) {
            ReleaseMutex(h[0]);
            ReleaseMutex(h[1]);
        }
    });
    holder.Leave();
    waiter.join();
    EXPECT_EQ(r, WAIT_OBJECT_0);

#if !defined(_WIN32)
    // One object twice in a wait-all is refused (Wine accepts it).
    HANDLE twice[2] = {h[0], h[0]};
    EXPECT_EQ(WaitForMultipleObjects(2, twice, TRUE, 0), WAIT_FAILED);
#endif
    for (HANDLE x : h) CloseHandle(x);
}

// A wait-all that cannot complete takes nothing, not even for a moment: a
// thread that tries the free mutex meanwhile always gets it.
TEST(PlatformSync, FailedWaitAllNeverHoldsTheFreeMutex) {
    for (bool named : {false, true}) {
        std::string name = synctest::UniqueName("vorlix_test_waitall");
        HANDLE h[2] = {CreateMutexA(nullptr, FALSE, named ? (name + "_free").c_str() : nullptr),
                       CreateMutexA(nullptr, FALSE, named ? (name + "_held").c_str() : nullptr)};
        ASSERT_NE(h[0], nullptr);
        ASSERT_NE(h[1], nullptr);
        synctest::HeldElsewhere holder([&] { WaitForSingleObject(h[1], INFINITE); }, [&] { ReleaseMutex(h[1]); });
        std::atomic<bool> stop{false};
        std::thread waiter([&] {
            while (!stop) WaitForMultipleObjects(2, h, TRUE, 0);
        });
        int tries = 0, refused = 0;
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
        while (std::chrono::steady_clock::now() < end || tries < 1000) {
            ++tries;
            if (WaitForSingleObject(h[0], 0) == WAIT_OBJECT_0) ReleaseMutex(h[0]);
            else ++refused;
        }
        stop = true;
        waiter.join();
        EXPECT_EQ(refused, 0) << (named ? "named" : "unnamed") << ", of " << tries;
        holder.Leave();
        for (HANDLE x : h) CloseHandle(x);
    }
}

TEST(PlatformSync, WaitAllOf64AndNoMore) {
    HANDLE h[MAXIMUM_WAIT_OBJECTS + 1];
    for (HANDLE& x : h) x = CreateMutexA(nullptr, FALSE, nullptr);
    EXPECT_EQ(WaitForMultipleObjects(MAXIMUM_WAIT_OBJECTS + 1, h, TRUE, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(WaitForMultipleObjects(0, h, TRUE, 0), WAIT_FAILED);
    EXPECT_EQ(WaitForMultipleObjects(MAXIMUM_WAIT_OBJECTS, h, TRUE, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitElsewhere(h[63], 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(WaitElsewhere(h[64], 0), WAIT_OBJECT_0);
    for (DWORD i = 0; i < MAXIMUM_WAIT_OBJECTS; ++i) EXPECT_TRUE(ReleaseMutex(h[i]));
    for (HANDLE x : h) CloseHandle(x);
}

TEST(PlatformSync, NamedMutexIsOneObject) {
    std::string name = synctest::UniqueName("vorlix_test_mutex");
    HANDLE a = CreateMutexA(nullptr, TRUE, name.c_str());
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    HANDLE b = CreateMutexA(nullptr, FALSE, name.c_str());
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(WaitElsewhere(b, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(WaitForSingleObject(b, 0), WAIT_OBJECT_0);  // the owner again, through b
    EXPECT_TRUE(ReleaseMutex(b));
    EXPECT_TRUE(ReleaseMutex(a));
    EXPECT_EQ(WaitElsewhere(b, 0), WAIT_OBJECT_0);
#if !defined(_WIN32)
    HANDLE both[2] = {a, b};
    EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 0), WAIT_FAILED);  // one object twice
#endif
    CloseHandle(a);
    CloseHandle(b);

    // Gone with its last handle: the next creation is new.
    HANDLE c = CreateMutexA(nullptr, FALSE, name.c_str());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    HANDLE ev = CreateEventA(nullptr, TRUE, FALSE, name.c_str());
    EXPECT_EQ(ev, nullptr);  // the name belongs to a mutex
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    CloseHandle(c);
}

// A mutex belongs to its thread, not to a handle: closing one handle of a
// named mutex that the thread owns leaves it owned, through the others.
TEST(PlatformSync, ClosingAHandleOfAnOwnedNamedMutexKeepsIt) {
    std::string name = synctest::UniqueName("vorlix_test_closeowned");
    HANDLE a = CreateMutexA(nullptr, FALSE, name.c_str());
    HANDLE b = CreateMutexA(nullptr, FALSE, name.c_str());
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    ASSERT_EQ(WaitForSingleObject(b, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(CloseHandle(a));
    EXPECT_EQ(WaitElsewhere(b, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_TRUE(ReleaseMutex(b));
    EXPECT_EQ(WaitElsewhere(b, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(CloseHandle(b));
#if !defined(_WIN32)
    // The closed handle's mapping stays for the rest of the process (the
    // thread's robust list may point into it), and with it the name.
    ::unlink(("/dev/shm/vorlix-" + std::to_string(static_cast<unsigned long>(::getuid())) + "-" + name).c_str());
#endif
}

TEST(PlatformSync, NamedEventIsShared) {
    std::string name = synctest::UniqueName("vorlix_test_event");
    HANDLE a = CreateEventA(nullptr, TRUE, FALSE, name.c_str());
    HANDLE b = CreateEventA(nullptr, FALSE, TRUE, name.c_str());  // arguments of an existing one are ignored
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(WaitForSingleObject(b, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    DWORD r = WAIT_FAILED;
    std::thread t([&] { r = WaitForSingleObject(b, 20000); });
    SetEvent(a);
    t.join();
    EXPECT_EQ(r, WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(b, 0), WAIT_OBJECT_0);  // manual reset
    CloseHandle(a);
    CloseHandle(b);
}

TEST(PlatformSync, NamedMappingIsSharedZeroedAndNeverGrown) {
    std::string name = synctest::UniqueName("vorlix_test_mapping");
    HANDLE a = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 64, name.c_str());
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    unsigned char* p = static_cast<unsigned char*>(MapViewOfFile(a, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, 64));
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(p[i], 0) << i;
    p[5] = 42;

    HANDLE b = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 1 << 20, name.c_str());
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    unsigned char* q = static_cast<unsigned char*>(MapViewOfFile(b, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, 64));
    ASSERT_NE(q, nullptr);
    EXPECT_NE(p, q);
    EXPECT_EQ(q[5], 42);
    q[6] = 7;
    EXPECT_EQ(p[6], 7);
    EXPECT_EQ(MapViewOfFile(b, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, 1 << 20), nullptr);  // not grown
    EXPECT_TRUE(UnmapViewOfFile(q));
    EXPECT_TRUE(CloseHandle(b));

    EXPECT_TRUE(CloseHandle(a));
#if !defined(_WIN32)
    // The view keeps the object after its handle is closed (not under Wine).
    HANDLE c = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 64, name.c_str());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    CloseHandle(c);
#endif
    EXPECT_EQ(p[6], 7);
    EXPECT_TRUE(UnmapViewOfFile(p));
    EXPECT_FALSE(UnmapViewOfFile(p));

    // Gone with its last user: created anew, zero-filled.
    HANDLE d = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 64, name.c_str());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    unsigned char* r = static_cast<unsigned char*>(MapViewOfFile(d, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, 0));
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r[5], 0);
    UnmapViewOfFile(r);
    CloseHandle(d);

    EXPECT_EQ(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 0, name.c_str()), nullptr);
}

TEST(PlatformSync, WaitOnAddressWakesAndTimesOut) {
    std::atomic<DWORD> word{0};
    DWORD seen = 0;
    EXPECT_FALSE(WaitOnAddress(&word, &seen, sizeof seen, 1));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_TIMEOUT));
    DWORD other = 5;
    EXPECT_TRUE(WaitOnAddress(&word, &other, sizeof other, INFINITE));  // differs: at once
    std::thread t([&] {
        word.store(1);
        WakeByAddressAll(&word);
    });
    while (word.load() == 0) WaitOnAddress(&word, &seen, sizeof seen, INFINITE);
    t.join();
    EXPECT_EQ(word.load(), 1u);
}

#if !defined(_WIN32)
// POSIX: a named object leaves nothing in the shared-memory folder once its
// last handle is closed.
TEST(PlatformSyncPosix, NamedObjectsLeaveNoFileBehind) {
    std::string name = synctest::UniqueName("vorlix_test_files");
    std::string path = "/dev/shm/vorlix-" + std::to_string(static_cast<unsigned long>(::getuid())) + "-" + name;
    HANDLE m = CreateMutexA(nullptr, TRUE, name.c_str());
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(::access(path.c_str(), F_OK), 0);
    ReleaseMutex(m);
    CloseHandle(m);
    EXPECT_NE(::access(path.c_str(), F_OK), 0);

    std::string slashes = name + "/a%b";
    HANDLE f = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 8, slashes.c_str());
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(::access((path + "%2Fa%25b").c_str(), F_OK), 0);
    CloseHandle(f);
    EXPECT_NE(::access((path + "%2Fa%25b").c_str(), F_OK), 0);

    std::string longName(261, 'x');
    EXPECT_EQ(CreateMutexA(nullptr, FALSE, longName.c_str()), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
}
#endif

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__) || defined(__SANITIZE_MEMORY__)
#define SYNC_TEST_SANITIZER 1
#endif
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define SYNC_TEST_SANITIZER 1
#endif
#endif

#if !defined(_WIN32) && !defined(SYNC_TEST_SANITIZER)
#include "support.h"

namespace {

// Forks up to 200 children, each of which runs child() and exits with 0
// when it returns true, while busy() runs on another thread; counts the
// children still running after 5 s (stopping at the first) and those that
// failed.
template <class Busy, class Child>
void ForkWhileBusy(Busy busy, Child child, int& hung, int& failed) {
    std::atomic<bool> stop{false};
    std::thread other([&] {
        while (!stop.load()) busy();
    });
    hung = failed = 0;
    for (int i = 0; i < 200 && hung == 0; ++i) {
        pid_t pid = fork();
        if (pid == 0) _exit(child() ? 0 : 1);
        if (pid < 0) {
            ++failed;
            break;
        }
        testsupport::ChildEnd end = testsupport::AwaitChild(pid, 5);
        hung += end == testsupport::kChildHung;
        failed += end == testsupport::kChildFailed;
    }
    stop = true;
    other.join();
}

// Creates an unnamed mutex, takes and releases it, and closes it.
bool UseAMutex() {
    HANDLE m = CreateMutexA(nullptr, FALSE, nullptr);
    if (!m) return false;
    bool ok = WaitForSingleObject(m, 1000) == WAIT_OBJECT_0 && ReleaseMutex(m);
    CloseHandle(m);
    return ok;
}

}  // namespace

// POSIX: children forked while other threads use the platform's objects use
// them too. Sanitizer builds are left out: their allocators take no locks
// around fork(), so a child there may hang whatever this layer does.
TEST(PlatformSyncPosix, ChildOfAProcessThatMapsViewsMapsViews) {
    auto mapOnce = [] {
        HANDLE h = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, nullptr);
        if (!h) return false;
        void* p = MapViewOfFile(h, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, 0);
        bool ok = p != nullptr;
        if (p) {
            static_cast<char*>(p)[0] = 1;
            ok = UnmapViewOfFile(p) != FALSE;
        }
        CloseHandle(h);
        return ok;
    };
    int hung, failed;
    ForkWhileBusy(mapOnce, mapOnce, hung, failed);
    EXPECT_EQ(hung, 0) << "a child still running after 5 s";
    EXPECT_EQ(failed, 0);
}

// A thread that took unnamed mutexes looks through all of them when it
// ends: with many of them that takes a while, and a fork meets it often.
TEST(PlatformSyncPosix, ChildOfAProcessWhoseThreadsEndMakesMutexes) {
    std::vector<HANDLE> many(20000);
    for (HANDLE& h : many) ASSERT_NE(h = CreateMutexA(nullptr, FALSE, nullptr), nullptr);
    int hung, failed;
    ForkWhileBusy([] { std::thread(UseAMutex).join(); }, UseAMutex, hung, failed);
    for (HANDLE h : many) CloseHandle(h);
    EXPECT_EQ(hung, 0) << "a child still running after 5 s";
    EXPECT_EQ(failed, 0);
}

// Another thread posts to this thread's queue all the time (and so holds
// its lock now and then); each child reads its queue, inherited from this
// thread, and posts to itself.
TEST(PlatformSyncPosix, ChildOfAProcessThatPostsMessagesUsesItsQueue) {
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);  // makes this thread's queue
    const DWORD self = GetCurrentThreadId();
    int hung, failed;
    ForkWhileBusy([self] { PostThreadMessageA(self, WM_USER, 0, 0); },
                  [] {
                      MSG m;
                      while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {}
                      return PostThreadMessageA(GetCurrentThreadId(), WM_USER + 1, 0, 0) &&
                             PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE) && m.message == WM_USER + 1;
                  },
                  hung, failed);
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {}
    EXPECT_EQ(hung, 0) << "a child still running after 5 s";
    EXPECT_EQ(failed, 0);
}
#endif

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include <vorlix/util/winhelp.h>
#include <vorlix/win.h>

using namespace vorlix::win;

namespace {

// Empties the calling thread's queue, the quit flag included.
void Drain() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {}
}

// Posts to the calling thread's own queue.
void PostToSelf(UINT message) { ASSERT_TRUE(PostThreadMessageA(GetCurrentThreadId(), message, 0, 0)); }

}  // namespace

TEST(WinHelp, NtFamilyIsNotWindows98) {
    EXPECT_EQ(GetVersion() & 0x80000000u, 0u);
    EXPECT_EQ(API_IsWindow98(), 0);
}

// Each of the three loops handles the messages before the quit message,
// dispatches that one without putting it back, and leaves those after it.
TEST(WinHelp, LoopsEndWithOneOnTheQuitMessage) {
    int zero = 0, one = 1;
    Drain();
    EXPECT_EQ(API_WndMessagePeek(), 0);  // empty queue
    PostToSelf(WM_USER + 1);
    EXPECT_EQ(API_WndMessagePeek(), 0);
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));  // handled

    const std::function<int()> loops[] = {[] { return API_WndMessagePeek(); },
                                          [&] { return API_WaitForFalse(10000, &zero); },
                                          [&] { return API_WaitForTrue(10000, &one); }};
    for (const auto& loop : loops) {
        PostToSelf(WM_USER + 1);
        PostToSelf(WM_QUIT);
        PostToSelf(WM_USER + 2);
        EXPECT_EQ(loop(), 1);
        ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
        EXPECT_EQ(msg.message, static_cast<UINT>(WM_USER + 2));
        EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    }
    PostQuitMessage(7);  // the quit flag, which comes after posted messages
    EXPECT_EQ(API_WaitForFalse(10000, &zero), 1);
    EXPECT_EQ(API_WndMessagePeek(), 0);
}

TEST(WinHelp, WaitsReturnZeroAtOnceWhenTheFlagOrTheTimeHasEnded) {
    int zero = 0, one = 1;
    Drain();
    PostQuitMessage(0);
    // The queue is not looked at: the quit message is still there after.
    EXPECT_EQ(API_WaitForFalse(10000, &one), 0);
    EXPECT_EQ(API_WaitForTrue(10000, &zero), 0);
    EXPECT_EQ(API_WaitForFalse(-1, &zero), 0);
    EXPECT_EQ(API_WaitForTrue(-1, &one), 0);
    EXPECT_EQ(API_WndMessagePeek(), 1);

    // Time runs out with the flag unchanged.
    EXPECT_EQ(API_WaitForFalse(20, &zero), 0);
    EXPECT_EQ(API_WaitForTrue(20, &one), 0);
    EXPECT_EQ(API_WaitForFalse(20, nullptr), 0);  // a null flag reads as 0
}

TEST(WinHelp, AnotherThreadEndsTheWait) {
    // By the flag.
    int flag = 0;
    std::thread setter([&flag] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        __atomic_store_n(&flag, 1, __ATOMIC_RELEASE);
    });
    EXPECT_EQ(API_WaitForFalse(60000, &flag), 0);
    setter.join();

    // By a quit message posted to the waiting thread.
    std::atomic<DWORD> waiter(0);
    std::atomic<int> result(-1);
    int keep = 1;
    std::thread waiting([&] {
        MSG msg;
        PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);  // the thread's queue exists from here
        waiter = GetCurrentThreadId();
        result = API_WaitForTrue(60000, &keep);
    });
    while (waiter == 0) std::this_thread::yield();
    EXPECT_TRUE(PostThreadMessageA(waiter, WM_QUIT, 0, 0));
    waiting.join();
    EXPECT_EQ(result, 1);
}

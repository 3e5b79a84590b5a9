// fork() while other threads use the heap: the child, whose only thread is
// the one that forked, must be able to allocate and free as usual. A lock
// that another thread held at the moment of the fork would stay held in
// the child for ever, and the child would hang on its first request of
// that size; the test tells a hang from a slow child by waiting 5 s for
// each child and killing it after that.
//
// Sanitizer builds take every block from the sanitizer's allocator, which
// (in GCC 12's and clang 14's runtimes) takes no locks around fork(): a
// child there can hang on a lock of that allocator whatever the library
// does (a program of plain malloc and free does). In those builds the other
// threads pause while the main thread forks, and the test checks the rest:
// that the child's work is right and its memory handled cleanly.
#include <vorlix/vorlix.h>

#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#if !defined(_WIN32)

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_MEMORY__)
#define HEAP_FORK_TEST_PAUSE 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(memory_sanitizer)
#define HEAP_FORK_TEST_PAUSE 1
#endif
#endif

namespace {

// Paused, the other threads race with no fork, so fewer forks do (and
// each takes long with a sanitizer).
#if defined(HEAP_FORK_TEST_PAUSE)
constexpr bool kPauseForFork = true;
constexpr int kForks = 50;
#else
constexpr bool kPauseForFork = false;
constexpr int kForks = 200;
#endif

// Strings, an array of strings and a small XML tree, of many block sizes,
// built and freed; false when one of them comes out wrong.
bool UseTheHeap(int seed) {
    MString text;
    for (int i = 0; i < 300; ++i) text += static_cast<char>('a' + (seed + i) % 26);
    MStringArray parts;
    for (int i = 1; i < 60; ++i) parts.Add(text.Left(i * 37 % 300));
    MString wide;
    for (int i = 0; i < 40; ++i) wide += text;  // through every size up to 12 KB
    MString doc;
    doc.Format("<root n=\"%d\"><item a=\"x\">%s</item><item b=\"y\"/><!-- c --></root>", seed, (const char*)text);
    CAnalXmlA xml;
    return parts.GetSize() == 59 && parts[58].GetLength() == 59 * 37 % 300 && wide.GetLength() == 12000 &&
           xml.FromString(doc, 1) == 1 && xml.GetTagCount() == 1 && xml.GetTag(0).m_arySubTag.GetSize() == 3;
}

// What the other threads do meanwhile: mostly strings of 2 to 8 KB, sizes
// of which a thread keeps few blocks at hand, so that they often hold the
// heap's locks.
bool Churn(int seed) {
    MStringArray texts;
    for (int j = 0; j < 48; ++j)
        texts.Add(MString(static_cast<char>('a' + j % 26), 2048 + (seed * 31 + j * 97) % 6000));
    return texts.GetSize() == 48 && UseTheHeap(seed);
}

}  // namespace

#endif

TEST(HeapFork, ChildrenOfABusyProcessUseTheHeap) {
#if defined(_WIN32)
    GTEST_SKIP() << "Windows has no fork()";
#else
    std::atomic<bool> bStop{false}, bPause{false};
    std::atomic<int> nWrong{0}, nBusy{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&, t] {
            for (int i = t; !bStop.load(); ++i) {
                ++nBusy;
                if (bPause.load()) {
                    --nBusy;
                    // Asleep rather than spinning, so that the child is not
                    // starved of the processor on a busy machine.
                    std::this_thread::sleep_for(std::chrono::microseconds(200));
                    continue;
                }
                nWrong += !Churn(i);
                --nBusy;
            }
        });
    }
    int nHung = 0, nFailed = 0;
    for (int i = 0; i < kForks; ++i) {
        if (kPauseForFork) {
            bPause = true;
            while (nBusy.load() != 0) std::this_thread::yield();
        }
        pid_t pid = fork();
        if (kPauseForFork && pid != 0) bPause = false;
        if (pid == 0) _exit(UseTheHeap(i) && UseTheHeap(i + 1) ? 0 : 1);
        if (pid < 0) {
            ADD_FAILURE() << "fork() failed";
            break;
        }
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        int status = 0;
        pid_t got;
        while ((got = waitpid(pid, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (got == 0) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            ++nHung;
        } else if (got != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            ++nFailed;
        }
    }
    bStop = true;
    for (std::thread& th : threads) th.join();
    EXPECT_EQ(nHung, 0) << "children still running after 5 s";
    EXPECT_EQ(nFailed, 0) << "children that did not exit with 0";
    EXPECT_EQ(nWrong.load(), 0);
#endif
}

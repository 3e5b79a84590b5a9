// Helpers shared by the lock tests and the platform's synchronization tests.
#ifndef VORLIX_TESTS_SYNC_SYNC_SUPPORT_H
#define VORLIX_TESTS_SYNC_SYNC_SUPPORT_H

#include <atomic>
#include <string>
#include <thread>

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace synctest {

// The lock flag of a written index.
constexpr unsigned long kWritten = 0x80000000u;

// A name no other test run uses at the same time: prefix, "_", process id.
inline std::string UniqueName(const std::string& prefix) {
#if defined(_WIN32)
    unsigned long pid = ::GetCurrentProcessId();
#else
    unsigned long pid = static_cast<unsigned long>(::getpid());
#endif
    return prefix + "_" + std::to_string(pid);
}

// Runs f on another thread and returns its result.
template <class F>
auto OnThread(F f) -> decltype(f()) {
    decltype(f()) r{};
    std::thread([&] { r = f(); }).join();
    return r;
}

// Runs take() on a thread of its own and returns once it has run; the
// thread keeps what it took until Leave() (at the latest the end of the
// object) runs leave() there.
class HeldElsewhere {
public:
    template <class Take, class Give>
    HeldElsewhere(Take take, Give give)
        : m_thread([this, take, give] {
              take();
              m_step = 1;
              while (m_step != 2) std::this_thread::yield();
              give();
          }) {
        while (m_step != 1) std::this_thread::yield();
    }
    ~HeldElsewhere() { Leave(); }
    void Leave() {
        if (!m_thread.joinable()) return;
        m_step = 2;
        m_thread.join();
    }

private:
    std::atomic<int> m_step{0};
    std::thread m_thread;
};

}  // namespace synctest

#endif

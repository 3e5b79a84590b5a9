// Helpers shared by the tests: 16-bit literals, UTF-16 bytes, temporary
// files, a counter for the assertion hook, and (POSIX) waiting for a forked
// child with a deadline.
#ifndef VORLIX_TESTS_SUPPORT_H
#define VORLIX_TESTS_SUPPORT_H

#include <vorlix/vorlix.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#endif

namespace testsupport {

// A 16-bit string from a UTF-16 literal: U(u"text").
inline UString U(const char16_t* s) { return UString(s); }

// The code units of a 16-bit string, for comparisons in assertions.
inline std::u16string Units(const UString& s) {
    std::u16string out;
    for (int i = 0; i < s.GetLength(); ++i) out.push_back(static_cast<char16_t>(s[i]));
    return out;
}

// The UTF-16 bytes of the units, little- or big-endian, as a file holds them.
inline std::string Utf16(const std::u16string& s, bool bBig) {
    std::string out;
    for (char16_t c : s) {
        char lo = static_cast<char>(c & 0xFF), hi = static_cast<char>(c >> 8);
        out += bBig ? std::string{hi, lo} : std::string{lo, hi};
    }
    return out;
}

inline std::string TempDir() {
#if defined(_WIN32)
    const char* d = std::getenv("TEMP");
    return std::string(d ? d : ".") + "\\";
#else
    const char* d = std::getenv("TMPDIR");
    return std::string(d && *d ? d : "/tmp") + "/";
#endif
}

inline unsigned long ProcessId() {
#if defined(_WIN32)
    return GetCurrentProcessId();
#else
    return static_cast<unsigned long>(getpid());
#endif
}

// A file path in the system's temporary directory, removed when the object
// goes. Paths are 8-bit (UTF-8 on POSIX). The name holds the process id:
// tests run side by side in processes of their own, and the same object
// may well lie at the same address in each (a sanitizer's heap is laid out
// the same way in every process).
class TempFile {
public:
    explicit TempFile(const std::string& name) {
        static int counter = 0;
        m_path =
            TempDir() + "vorlix_test_" + std::to_string(ProcessId()) + "_" + std::to_string(++counter) + "_" + name;
        std::remove(m_path.c_str());
    }
    ~TempFile() { std::remove(m_path.c_str()); }
    const char* path() const { return m_path.c_str(); }
    // Replaces the file's content with these bytes.
    void Write(const std::string& bytes) const {
        std::FILE* f = std::fopen(m_path.c_str(), "wb");
        if (!f) return;
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
    std::string Read() const {
        std::string out;
        std::FILE* f = std::fopen(m_path.c_str(), "rb");
        if (!f) return out;
        char buf[4096];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
        std::fclose(f);
        return out;
    }

private:
    std::string m_path;
};

// Counts the failed conditions reported to PrjWarningMsg while it lives.
class WarningCounter {
public:
    WarningCounter() : m_prev(PrjSetWarningHandler(&Hook)) { Count() = 0; }
    ~WarningCounter() { PrjSetWarningHandler(m_prev); }
    int count() const { return Count(); }

private:
    static int& Count() {
        static int n = 0;
        return n;
    }
    static void Hook() { ++Count(); }
    PRJWARNINGHANDLER m_prev;
};

// Runs fn on a thread whose stack holds nBytes (as small threads of
// servers and of musl have); false when no such thread could be made.
inline bool RunOnStack(std::size_t nBytes, const std::function<void()>& fn) {
    struct Call {
        static void Run(const std::function<void()>* f) { (*f)(); }
    };
#if defined(_WIN32)
    struct Win {
        static DWORD WINAPI Start(LPVOID p) {
            Call::Run(static_cast<const std::function<void()>*>(p));
            return 0;
        }
    };
    HANDLE h = CreateThread(nullptr, nBytes, &Win::Start, const_cast<std::function<void()>*>(&fn),
                            STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (!h) return false;
    WaitForSingleObject(h, INFINITE);
    CloseHandle(h);
    return true;
#else
    struct Posix {
        static void* Start(void* p) {
            Call::Run(static_cast<const std::function<void()>*>(p));
            return nullptr;
        }
    };
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0) return false;
    pthread_t t;
    bool ok = pthread_attr_setstacksize(&attr, nBytes) == 0 &&
              pthread_create(&t, &attr, &Posix::Start, const_cast<std::function<void()>*>(&fn)) == 0;
    pthread_attr_destroy(&attr);
    if (ok) pthread_join(t, nullptr);
    return ok;
#endif
}

#if !defined(_WIN32)
// How a forked child ended. One still running after nSeconds is killed and
// counts as hung: a hang fails the test instead of stopping the suite.
enum ChildEnd { kChildOk, kChildFailed, kChildHung };
inline ChildEnd AwaitChild(pid_t pid, int nSeconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(nSeconds);
    int status = 0;
    pid_t got;
    while ((got = waitpid(pid, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (got == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        return kChildHung;
    }
    return got == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0 ? kChildOk : kChildFailed;
}
#endif

}  // namespace testsupport

#endif

// Test helpers for the CGI environment: environment variables set for one
// scope, and standard input replaced by a pipe that a thread fills with
// given bytes in pieces of 1000, so that reads come back short.
#ifndef VORLIX_TESTS_PLATFORM_CGI_ENVIRONMENT_H
#define VORLIX_TESTS_PLATFORM_CGI_ENVIRONMENT_H

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#define VORLIX_TEST_IO(name) _##name
#else
#include <unistd.h>
#define VORLIX_TEST_IO(name) name
#endif

namespace testsupport {

// Sets (a null value removes) variables; the old values come back at the end.
class ScopedEnv {
public:
    ScopedEnv& Set(const char* name, const char* value) {
        const char* old = std::getenv(name);
        m_saved.push_back({name, old ? old : "", old != nullptr});
        Put(name, value);
        return *this;
    }
    ~ScopedEnv() {
        for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it)
            Put(it->name.c_str(), it->bSet ? it->value.c_str() : nullptr);
    }

private:
    struct Saved {
        std::string name, value;
        bool bSet;
    };
    static void Put(const char* name, const char* value) {
#if defined(_WIN32)
        _putenv((std::string(name) + "=" + (value ? value : "")).c_str());  // "NAME=" removes it
#else
        if (value) setenv(name, value, 1);
        else unsetenv(name);
#endif
    }
    std::vector<Saved> m_saved;
};

// Standard input delivers these bytes, then its end, while the object lives.
class StdinPipe {
public:
    explicit StdinPipe(const std::string& bytes) : m_bytes(bytes) {
        int fds[2];
#if defined(_WIN32)
        if (_pipe(fds, 65536, _O_BINARY) != 0) return;
#else
        if (pipe(fds) != 0) return;
#endif
        m_saved = VORLIX_TEST_IO(dup)(0);
        VORLIX_TEST_IO(dup2)(fds[0], 0);
        VORLIX_TEST_IO(close)(fds[0]);
        m_writer = std::thread([this, out = fds[1]] {
            for (std::size_t at = 0; at < m_bytes.size();) {
                unsigned n = m_bytes.size() - at < 1000 ? static_cast<unsigned>(m_bytes.size() - at) : 1000u;
                int w = static_cast<int>(VORLIX_TEST_IO(write)(out, m_bytes.data() + at, n));
                if (w <= 0) break;
                at += static_cast<std::size_t>(w);
            }
            VORLIX_TEST_IO(close)(out);
        });
    }
    ~StdinPipe() {
        if (m_saved < 0) return;
        Unread();  // the writer must not block on bytes nobody reads
        m_writer.join();
        VORLIX_TEST_IO(dup2)(m_saved, 0);
        VORLIX_TEST_IO(close)(m_saved);
    }
    // What is left unread of standard input, up to its end.
    static std::string Unread() {
        std::string out;
        char buf[4096];
        int n;
        while ((n = static_cast<int>(VORLIX_TEST_IO(read)(0, buf, sizeof buf))) > 0)
            out.append(buf, static_cast<std::size_t>(n));
        return out;
    }

private:
    std::string m_bytes;
    int m_saved = -1;
    std::thread m_writer;
};

}  // namespace testsupport

#endif

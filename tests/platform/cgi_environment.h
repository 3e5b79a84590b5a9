// Test helpers for programs that read the CGI environment: environment
// variables set for one scope, and standard input replaced by a pipe that a
// thread fills with given bytes (in pieces, so that reads come back short).
#ifndef VORLIX_TESTS_PLATFORM_CGI_ENVIRONMENT_H
#define VORLIX_TESTS_PLATFORM_CGI_ENVIRONMENT_H

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

namespace testsupport {

// Sets (or, with a null value, removes) environment variables until the
// object goes, then puts the old values back.
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
        std::string entry = std::string(name) + "=" + (value ? value : "");
        _putenv(entry.c_str());  // "NAME=" removes the variable
#else
        if (value) setenv(name, value, 1);
        else unsetenv(name);
#endif
    }
    std::vector<Saved> m_saved;
};

// Standard input reads the given bytes, then its end, until the object goes.
class StdinPipe {
public:
    explicit StdinPipe(const std::string& bytes) : m_bytes(bytes) {
        int fds[2];
#if defined(_WIN32)
        if (_pipe(fds, 65536, _O_BINARY) != 0) return;
        m_saved = _dup(0);
        _dup2(fds[0], 0);
        _close(fds[0]);
#else
        if (pipe(fds) != 0) return;
        m_saved = dup(0);
        dup2(fds[0], 0);
        close(fds[0]);
#endif
        int out = fds[1];
        m_writer = std::thread([this, out] {
            // Pieces of at most 1000 bytes: a reader gets them one by one.
            for (std::size_t at = 0; at < m_bytes.size();) {
                std::size_t n = m_bytes.size() - at < 1000 ? m_bytes.size() - at : 1000;
#if defined(_WIN32)
                int w = _write(out, m_bytes.data() + at, static_cast<unsigned>(n));
#else
                int w = static_cast<int>(write(out, m_bytes.data() + at, n));
#endif
                if (w <= 0) break;
                at += static_cast<std::size_t>(w);
            }
#if defined(_WIN32)
            _close(out);
#else
            close(out);
#endif
        });
    }
    ~StdinPipe() {
        if (m_saved < 0) return;
        // Whatever the reader left unread: the writer must not block.
#if defined(_WIN32)
        char sink[4096];
        while (_read(0, sink, sizeof sink) > 0) {
        }
        m_writer.join();
        _dup2(m_saved, 0);
        _close(m_saved);
#else
        char sink[4096];
        while (read(0, sink, sizeof sink) > 0) {
        }
        m_writer.join();
        dup2(m_saved, 0);
        close(m_saved);
#endif
    }

private:
    std::string m_bytes;
    int m_saved = -1;
    std::thread m_writer;
};

}  // namespace testsupport

#endif

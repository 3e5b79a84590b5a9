// The CGI environment on POSIX: environment variables and standard input.
#include "kernel.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

#include <fcntl.h>
#include <unistd.h>

namespace vorlix {
namespace win {

char* getenv(const char* name) { return name ? std::getenv(name) : nullptr; }

int _read(int fd, void* buffer, unsigned int count) {
    if (!buffer && count) {
        errno = EINVAL;
        return -1;
    }
    // The result is an int, so one call reads at most INT_MAX bytes.
    if (count > static_cast<unsigned int>(INT_MAX)) count = INT_MAX;
    for (;;) {
        ssize_t n = ::read(fd, buffer, count);
        if (n >= 0) return static_cast<int>(n);
        if (errno != EINTR) return -1;
    }
}

int _setmode(int fd, int mode) {
    if (::fcntl(fd, F_GETFD) == -1) return -1;
    if (mode != _O_BINARY && mode != _O_TEXT) {
        errno = EINVAL;
        return -1;
    }
    return _O_BINARY;
}

}  // namespace win
}  // namespace vorlix

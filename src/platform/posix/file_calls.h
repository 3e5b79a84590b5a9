// A count of the calls into this layer's file-system services (opening,
// reading, writing, seeking and closing files, attributes, directory
// searches, full paths, the current directory, creating directories), kept
// per thread. Each of those services adds one on entry: a thread-local
// increment beside a system call, so counting costs them nothing to speak
// of. The library's tests read the count to check that a code path reaches
// no file system at all, as the dated log file's same-period path must not.
#ifndef VORLIX_SRC_PLATFORM_POSIX_FILE_CALLS_H
#define VORLIX_SRC_PLATFORM_POSIX_FILE_CALLS_H

#include <vorlix/config.h>

namespace vorlix {
namespace win {
namespace posix {

extern thread_local unsigned long t_fileServiceCalls;

inline void CountFileServiceCall() noexcept { ++t_fileServiceCalls; }

// The calling thread's count so far. Exported for the library's own tests;
// no public header declares it.
VORLIX_API unsigned long FileServiceCalls() noexcept;

}  // namespace posix
}  // namespace win
}  // namespace vorlix

#endif

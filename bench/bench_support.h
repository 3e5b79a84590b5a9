// Helpers shared by the benchmark programs.
#ifndef VORLIX_BENCH_SUPPORT_H
#define VORLIX_BENCH_SUPPORT_H

#include <cstdlib>
#include <string>

#if defined(_WIN32)
#include <process.h>
#define VORLIX_BENCH_PID _getpid()
#else
#include <unistd.h>
#define VORLIX_BENCH_PID getpid()
#endif

// A file name in the system's temporary directory, made unique per process
// so that concurrent runs do not share files.
inline std::string TempPath(const char* name) {
#if defined(_WIN32)
    const char* dir = std::getenv("TEMP");
    const char* sep = "\\";
#else
    const char* dir = std::getenv("TMPDIR");
    const char* sep = "/";
    if (!dir || !*dir) dir = "/tmp";
#endif
    return std::string(dir ? dir : ".") + sep + name + "." + std::to_string(VORLIX_BENCH_PID);
}

#endif

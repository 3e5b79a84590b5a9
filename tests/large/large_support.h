// Helpers of the large tests: how much memory the machine can give.
#ifndef VORLIX_TESTS_LARGE_SUPPORT_H
#define VORLIX_TESTS_LARGE_SUPPORT_H

#include <cstdio>
#include <cstring>
#include <string>

namespace largetest {

constexpr unsigned long long kGiB = 1ull << 30;

// Why a test that needs `bytes` of memory cannot run here, or "" when it
// can: the kernel's MemAvailable must exceed the need by 1 GiB, so that
// the test does not push the machine into swapping or the OOM killer.
// Use: std::string why = MissingMemory(n); if (!why.empty()) GTEST_SKIP() << why;
inline std::string MissingMemory(unsigned long long bytes) {
    std::FILE* f = std::fopen("/proc/meminfo", "r");
    if (!f) return "cannot tell the available memory (no /proc/meminfo)";
    unsigned long long kib = 0;
    char line[256];
    bool found = false;
    while (std::fgets(line, sizeof line, f))
        if (std::sscanf(line, "MemAvailable: %llu kB", &kib) == 1) {
            found = true;
            break;
        }
    std::fclose(f);
    if (!found) return "cannot tell the available memory (no MemAvailable in /proc/meminfo)";
    unsigned long long have = kib * 1024;
    if (have >= bytes + kGiB) return "";
    char why[160];
    std::snprintf(why, sizeof why, "needs %.1f GiB of memory (and 1 GiB to spare), %.1f GiB available",
                  static_cast<double>(bytes) / kGiB, static_cast<double>(have) / kGiB);
    return why;
}

}  // namespace largetest

#endif

// The file finder against std::filesystem::directory_iterator: both list a
// directory of 100,000 files and read each entry's name, size and
// last-write time.
//
// The finder reads the time as the calendar time its API gives (an MTime);
// the iterator as a file_time_type. The directory is made once in the
// system temp directory and removed when the program ends; with
// --fs_dir=DIR it is made in DIR, kept, and used again by later runs that
// name the same DIR (making 100,000 files takes minutes on a busy disk). The two
// contenders run in alternation, --fs_rounds=N rounds of each (default 5),
// and the program ends with the ratio of their times in each round, so
// that the comparison stays inside one run of one program while the speed
// of a shared machine drifts.
#include <vorlix/fs/filefind.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "bench_support.h"

namespace {

constexpr int kFiles = 100000;

std::string g_dir;
bool g_keepDir = false;
std::vector<double> g_finderMs, g_iteratorMs;

void RemoveDirectory() {
    if (g_dir.empty() || g_keepDir) return;
    std::error_code ec;
    std::filesystem::remove_all(g_dir, ec);
    g_dir.clear();
}

// 100,000 files of 0 to 99 bytes, in a new directory or in DIR.
bool MakeDirectory(const std::string& dir) {
    std::error_code ec;
    if (!dir.empty()) {
        g_dir = dir;
        g_keepDir = true;
        std::filesystem::create_directories(g_dir, ec);
        std::size_t have = 0;
        for (auto it = std::filesystem::directory_iterator(g_dir, ec);
             !ec && it != std::filesystem::directory_iterator(); it.increment(ec))
            ++have;
        if (have == kFiles) return true;
        if (have != 0) return false;  // not a directory this program made
    } else {
        g_dir = TempPath("vorlix_bench_fs");
        std::filesystem::remove_all(g_dir, ec);
        if (!std::filesystem::create_directory(g_dir, ec)) return false;
        std::atexit(RemoveDirectory);
    }
    std::string bytes(99, 'x');
    for (int i = 0; i < kFiles; ++i) {
        std::string path = g_dir + "/file_" + std::to_string(i) + ".dat";
        std::FILE* f = std::fopen(path.c_str(), "wb");
        if (!f) return false;
        std::fwrite(bytes.data(), 1, static_cast<std::size_t>(i % 100), f);
        std::fclose(f);
    }
    return true;
}

double Since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

void Finder(benchmark::State& state) {
    std::string pattern = g_dir + "/*";
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        long long bytes = 0, stamps = 0;
        int files = 0;
        CFileFindA find;
        for (int more = find.FindFile(pattern.c_str()); more;) {
            more = find.FindNext();
            if (find.IsDots()) continue;
            MString name = find.GetFileName();
            MTime written;
            find.GetLastWriteTime(written);
            bytes += find.GetLength64();
            stamps += written.GetTime();
            files += name.GetLength() > 0;
        }
        g_finderMs.push_back(Since(start));
        benchmark::DoNotOptimize(bytes);
        benchmark::DoNotOptimize(stamps);
        if (files != kFiles) state.SkipWithError("the finder missed files");
    }
    state.SetItemsProcessed(state.iterations() * kFiles);
}

void Iterator(benchmark::State& state) {
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        long long bytes = 0, stamps = 0;
        int files = 0;
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(g_dir, ec)) {
            std::string name = entry.path().filename().string();
            bytes += static_cast<long long>(entry.file_size(ec));
            stamps += entry.last_write_time(ec).time_since_epoch().count();
            files += !name.empty();
        }
        g_iteratorMs.push_back(Since(start));
        benchmark::DoNotOptimize(bytes);
        benchmark::DoNotOptimize(stamps);
        if (files != kFiles) state.SkipWithError("the iterator missed files");
    }
    state.SetItemsProcessed(state.iterations() * kFiles);
}

}  // namespace

int main(int argc, char** argv) {
    std::string dir;
    TakeOption(argc, argv, "--fs_dir=", dir);
    int rounds = TakeRounds(argc, argv, "--fs_rounds=");
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    if (!MakeDirectory(dir)) {
        std::fprintf(stderr, "cannot make the directory of %d files (--fs_dir must be new or made by this program)\n",
                     kFiles);
        return 1;
    }
    for (int r = 0; r < rounds; ++r) {
        benchmark::RegisterBenchmark("BM_ListDirectory_Finder", Finder)->Iterations(3)->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark("BM_ListDirectory_DirectoryIterator", Iterator)
            ->Iterations(3)
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    // The finder's time over the iterator's, pass by pass in run order.
    Spread s = RatioSpread(g_finderMs, g_iteratorMs);
    if (s.n)
        std::printf("finder / directory_iterator time over %zu passes: median %.2f, range %.2f to %.2f\n", s.n,
                    s.median, s.low, s.high);
    RemoveDirectory();
    return 0;
}

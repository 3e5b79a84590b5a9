// A dated log against the usual ways of writing a record and getting it to
// the file at once: each case writes 100-byte records, one at a time, to a
// file under the system's temporary directory.
//
// - Vorlix, layout 1 and layout 5: OpenLogFile (the clock, the path of the
//   period, the comparison) and API_WriteFile, for every record.
// - fwrite + fflush on a FILE* opened once.
// - spdlog's daily file sink (single-threaded form) with the message alone
//   as its pattern and a flush after each record.
//
// The four run in alternation, --log_rounds=N rounds (default 5), each a
// fixed number of records into fresh files, and the program ends with the
// ratio of each case's time to fwrite + fflush's in the same round, so that
// the comparison stays inside one run while the speed of a shared machine
// drifts. BM_Log_OpenLogFile_SamePeriod times OpenLogFile alone within one
// period.
#include <vorlix/base/file.h>
#include <vorlix/log/logfile.h>

#include <benchmark/benchmark.h>
#include <spdlog/logger.h>
#include <spdlog/sinks/daily_file_sink.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "bench_support.h"

namespace {

constexpr int kRecords = 100000;

std::string g_dir;
std::string g_record;
std::map<std::string, std::vector<double>> g_nsPerRecord;  // by case, round by round

// A fresh, empty directory for the next case.
void FreshDirectory() {
    std::error_code ec;
    std::filesystem::remove_all(g_dir, ec);
    std::filesystem::create_directories(g_dir, ec);
}

void RemoveDirectory() {
    std::error_code ec;
    std::filesystem::remove_all(g_dir, ec);
}

double Since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
}

void Vorlix(benchmark::State& state, int nLogType, const char* name) {
    for (auto _ : state) {
        state.PauseTiming();
        FreshDirectory();
        CLogFileA log;
        state.ResumeTiming();
        auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < kRecords; ++i) {
            void* h = log.OpenLogFile(g_dir.c_str(), "app", nLogType, 0);
            const DWORD n = static_cast<DWORD>(g_record.size());
            if (!h || API_WriteFile(h, g_record.data(), n) != n) {
                state.SkipWithError("cannot write the log");
                break;
            }
        }
        g_nsPerRecord[name].push_back(Since(start) / kRecords);
        log.CloseLogFile();
    }
    state.SetItemsProcessed(state.iterations() * kRecords);
}

void VorlixLayout1(benchmark::State& state) { Vorlix(state, 1, "Vorlix layout 1"); }
void VorlixLayout5(benchmark::State& state) { Vorlix(state, 5, "Vorlix layout 5"); }

void Fwrite(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        FreshDirectory();
        std::FILE* f = std::fopen((g_dir + "/app").c_str(), "ab");
        state.ResumeTiming();
        if (!f) {
            state.SkipWithError("cannot open the file");
            break;
        }
        auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < kRecords; ++i) {
            std::fwrite(g_record.data(), 1, g_record.size(), f);
            std::fflush(f);
        }
        g_nsPerRecord["fwrite + fflush"].push_back(Since(start) / kRecords);
        std::fclose(f);
    }
    state.SetItemsProcessed(state.iterations() * kRecords);
}

void Spdlog(benchmark::State& state) {
    // The record without its line end: the sink's pattern adds one.
    const std::string message = g_record.substr(0, g_record.size() - 1);
    for (auto _ : state) {
        state.PauseTiming();
        FreshDirectory();
        auto sink = std::make_shared<spdlog::sinks::daily_file_sink_st>(g_dir + "/app.log", 0, 0);
        spdlog::logger logger("bench", sink);
        logger.set_pattern("%v");
        logger.flush_on(spdlog::level::info);
        state.ResumeTiming();
        auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < kRecords; ++i) logger.info(message);
        g_nsPerRecord["spdlog daily sink"].push_back(Since(start) / kRecords);
    }
    state.SetItemsProcessed(state.iterations() * kRecords);
}

// OpenLogFile alone within a period (the clock, the path, the comparison),
// for layout state.range(0).
void SamePeriod(benchmark::State& state) {
    FreshDirectory();
    CLogFileA log;
    const int nLogType = static_cast<int>(state.range(0));
    log.OpenLogFile(g_dir.c_str(), "app", nLogType, 0);
    for (auto _ : state) benchmark::DoNotOptimize(log.OpenLogFile(g_dir.c_str(), "app", nLogType, 0));
    log.CloseLogFile();
}

// The median and range of a/b, round by round.
void PrintRatio(const char* what, const std::vector<double>& a, const std::vector<double>& b) {
    Spread s = RatioSpread(a, b);
    if (s.n) std::printf("%-40s median %.2f, range %.2f to %.2f over %zu rounds\n", what, s.median, s.low, s.high, s.n);
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = TakeRounds(argc, argv, "--log_rounds=");
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    g_dir = TempPath("vorlix_bench_log");
    g_record = std::string(99, 'x') + "\n";
    std::atexit(RemoveDirectory);
    for (int r = 0; r < rounds; ++r) {
        benchmark::RegisterBenchmark("BM_Log_Vorlix_Layout1", VorlixLayout1)
            ->Iterations(1)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark("BM_Log_Fwrite_Fflush", Fwrite)->Iterations(1)->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark("BM_Log_Vorlix_Layout5", VorlixLayout5)
            ->Iterations(1)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark("BM_Log_Spdlog_DailySink", Spdlog)->Iterations(1)->Unit(benchmark::kMillisecond);
    }
    benchmark::RegisterBenchmark("BM_Log_OpenLogFile_SamePeriod", SamePeriod)->Arg(1)->Arg(5);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    std::printf("\nns per record (median over rounds):\n");
    for (auto& c : g_nsPerRecord) {
        std::vector<double> v = c.second;
        std::sort(v.begin(), v.end());
        std::printf("  %-20s %8.0f\n", c.first.c_str(), v[v.size() / 2]);
    }
    const auto& base = g_nsPerRecord["fwrite + fflush"];
    PrintRatio("Vorlix layout 1 / fwrite + fflush:", g_nsPerRecord["Vorlix layout 1"], base);
    PrintRatio("Vorlix layout 5 / fwrite + fflush:", g_nsPerRecord["Vorlix layout 5"], base);
    PrintRatio("spdlog daily sink / fwrite + fflush:", g_nsPerRecord["spdlog daily sink"], base);
    PrintRatio("Vorlix layout 1 / spdlog daily sink:", g_nsPerRecord["Vorlix layout 1"],
               g_nsPerRecord["spdlog daily sink"]);
    PrintRatio("Vorlix layout 5 / spdlog daily sink:", g_nsPerRecord["Vorlix layout 5"],
               g_nsPerRecord["spdlog daily sink"]);
    RemoveDirectory();
    return 0;
}

// Helpers shared by the benchmark programs.
#ifndef VORLIX_BENCH_SUPPORT_H
#define VORLIX_BENCH_SUPPORT_H

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

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

// Takes every argument "<prefix>value" out of argv (so that the benchmark
// library does not see it) and gives the last value; false when there was
// none. argv stays terminated by a null pointer.
inline bool TakeOption(int& argc, char** argv, const char* prefix, std::string& value) {
    bool found = false;
    std::size_t n = std::strlen(prefix);
    int out = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], prefix, n) == 0) {
            value = argv[i] + n;
            found = true;
        } else {
            argv[out++] = argv[i];
        }
    }
    argc = out;
    argv[argc] = nullptr;
    return found;
}

// The number of rounds given as "<prefix>N", taken out of argv: at least 1,
// 5 when not given.
inline int TakeRounds(int& argc, char** argv, const char* prefix) {
    std::string value;
    return TakeOption(argc, argv, prefix, value) ? std::max(1, std::atoi(value.c_str())) : 5;
}

// The median and range of a series of figures, one per round.
struct Spread {
    double median = 0, low = 0, high = 0;
    std::size_t n = 0;
};

inline Spread SpreadOf(std::vector<double> v) {
    Spread s;
    if (v.empty()) return s;
    std::sort(v.begin(), v.end());
    s.median = v[v.size() / 2];
    s.low = v.front();
    s.high = v.back();
    s.n = v.size();
    return s;
}

// a[i] / b[i] for each round both series have.
inline Spread RatioSpread(const std::vector<double>& a, const std::vector<double>& b) {
    std::vector<double> r;
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i)
        if (b[i] > 0) r.push_back(a[i] / b[i]);
    return SpreadOf(r);
}

// Prints as the console reporter does, and keeps one figure of each run by
// case and contender, in run order: a run named "case/contender" or
// "case/contender/..." adds to the series of (case, contender). With the
// contenders registered in alternation, round after round, entry i of two
// series belongs to the same round.
class SeriesReporter : public benchmark::ConsoleReporter {
public:
    // The figure kept of a run: a time per unit of work, so that ratios of
    // two series read "how many times as long".
    typedef double (*Figure)(const Run& run);
    // Processor time per iteration: on a shared machine the wall-clock
    // time also counts the time the process waited for a processor.
    static double CpuTime(const Run& run) { return run.GetAdjustedCPUTime(); }
    // Wall-clock time per item, from the items_per_second counter (runs
    // without it are not kept): with threads, waiting is the work.
    static double TimePerItem(const Run& run) {
        auto it = run.counters.find("items_per_second");
        return it == run.counters.end() || it->second.value <= 0 ? -1 : 1 / it->second.value;
    }

    explicit SeriesReporter(Figure figure) : m_figure(figure) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs) {
            if (r.error_occurred || r.run_type != Run::RT_Iteration) continue;
            double v = m_figure(r);
            if (v < 0) continue;
            std::string name = r.benchmark_name();
            std::size_t slash = name.find('/');
            if (slash == std::string::npos) continue;
            std::size_t end = name.find('/', slash + 1);
            std::string contender = name.substr(slash + 1, end == std::string::npos ? end : end - slash - 1);
            m_series[std::make_pair(name.substr(0, slash), contender)].push_back(v);
        }
    }

    // The figures of one case and contender, in run order.
    const std::vector<double>& Series(const std::string& name, const std::string& contender) const {
        static const std::vector<double> kNone;
        auto it = m_series.find(std::make_pair(name, contender));
        return it == m_series.end() ? kNone : it->second;
    }

    // The first contender's figure over the second's, round by round.
    Spread Ratio(const std::string& name, const std::string& a, const std::string& b) const {
        return RatioSpread(Series(name, a), Series(name, b));
    }

private:
    Figure m_figure;
    std::map<std::pair<std::string, std::string>, std::vector<double>> m_series;
};

// A library function and its peer, run as "name/vorlix" and "name/peer".
struct BenchPair {
    const char* name;
    void (*vorlix)(benchmark::State&);
    void (*peer)(benchmark::State&);
    int param;  // what the program sets each run up with (threads, an argument)
};

// Registers every pair rounds times, each time the library and then its
// peer, and lets setup(benchmark, pair) set each run up.
template <std::size_t N, class Setup>
void RegisterInRounds(const BenchPair (&pairs)[N], int rounds, Setup setup) {
    for (int r = 0; r < rounds; ++r) {
        for (const BenchPair& p : pairs) {
            std::string base = std::string(p.name) + "/";
            setup(benchmark::RegisterBenchmark((base + "vorlix").c_str(), p.vorlix), p);
            setup(benchmark::RegisterBenchmark((base + "peer").c_str(), p.peer), p);
        }
    }
}

// Prints the title, then for each pair the library's figure over the
// peer's, round by round: the median and range.
template <std::size_t N>
void PrintPairRatios(const SeriesReporter& reporter, const BenchPair (&pairs)[N], const char* title) {
    std::printf("\n%s, per round (median [min, max]):\n", title);
    for (const BenchPair& p : pairs) {
        Spread s = reporter.Ratio(p.name, "vorlix", "peer");
        if (s.n) std::printf("  %-16s %6.2f [%.2f, %.2f] over %zu rounds\n", p.name, s.median, s.low, s.high, s.n);
    }
}

#endif

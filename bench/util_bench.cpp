// The text utilities beside standard-library peers, in one program:
//   - sorting 1,000 and 10,000 strings: Byte_SortStringAry (a selection
//     sort, O(n^2)) vs std::sort with the same comparison;
//   - looking up keys in 1 million sorted strings: Byte_FindInSortedAry vs
//     std::lower_bound with the same comparison (ns per lookup);
//   - splitting a 10 MB text: Byte_GetSplitTokenEx vs a splitter over
//     std::string with the same rules (MB/s).
//
// Machine speed drifts, so each pair is registered in rounds, the library
// then its peer, round after round (--util_rounds=N, 5 by default). At the
// end the program prints, for each pair, the library's processor time over
// the peer's in every round: the median and the range. The counters
// (per_lookup, bytes_per_second) are computed from processor time too.
#include <vorlix/vorlix.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "bench_support.h"

namespace {

// ---- Data ----

// n random words of 4 to 12 letters in mixed case.
MStringArray RandomWords(int n, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> len(4, 12), letter(0, 51);
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
    MStringArray out;
    out.SetSize(0, n);
    char buf[16];
    for (int i = 0; i < n; ++i) {
        int k = len(rng);
        for (int j = 0; j < k; ++j) buf[j] = kLetters[letter(rng)];
        out.Add(MString(buf, k));
    }
    return out;
}

bool LessNoCase(const MString& a, const MString& b) { return a.CompareNoCase(b) < 0; }

// ---- Sorting ----

const MStringArray& SortSource(int n) {
    static std::map<int, MStringArray> cache;
    auto it = cache.find(n);
    if (it == cache.end()) it = cache.emplace(n, RandomWords(n, 42u + static_cast<unsigned>(n))).first;
    return it->second;
}

void SortVorlix(benchmark::State& state) {
    const MStringArray& source = SortSource(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        state.PauseTiming();
        MStringArray ary(source);
        state.ResumeTiming();
        Byte_SortStringAry(ary);
        benchmark::DoNotOptimize(ary.GetData());
    }
}

void SortStd(benchmark::State& state) {
    const MStringArray& source = SortSource(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        state.PauseTiming();
        MStringArray ary(source);
        state.ResumeTiming();
        std::sort(ary.GetData(), ary.GetData() + ary.GetSize(), LessNoCase);
        benchmark::DoNotOptimize(ary.GetData());
    }
}

// ---- Binary search ----

constexpr int kSortedCount = 1000000;
constexpr int kLookups = 1 << 14;

struct SearchData {
    MStringArray sorted;
    MStringArray keys;  // three in four present (in another case), the rest absent
};

const SearchData& Search() {
    static SearchData* data = [] {
        SearchData* d = new SearchData;
        d->sorted = RandomWords(kSortedCount, 7);
        std::sort(d->sorted.GetData(), d->sorted.GetData() + d->sorted.GetSize(), LessNoCase);
        std::mt19937 rng(9);
        MStringArray absent = RandomWords(kLookups, 11);
        for (int i = 0; i < kLookups; ++i) {
            if (i % 4 == 3) {
                d->keys.Add(absent[i]);
                continue;
            }
            MString key = d->sorted[static_cast<int>(rng() % kSortedCount)];
            key.MakeUpper();
            d->keys.Add(key);
        }
        return d;
    }();
    return *data;
}

void SetLookupCounter(benchmark::State& state) {
    state.counters["per_lookup"] = benchmark::Counter(
        static_cast<double>(kLookups), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void FindSortedVorlix(benchmark::State& state) {
    const SearchData& d = Search();
    MStringArray& sorted = const_cast<MStringArray&>(d.sorted);
    for (auto _ : state) {
        long found = 0;
        for (int i = 0; i < kLookups; ++i) found += Byte_FindInSortedAry(sorted, d.keys[i]) >= 0;
        benchmark::DoNotOptimize(found);
    }
    SetLookupCounter(state);
}

void FindSortedStd(benchmark::State& state) {
    const SearchData& d = Search();
    const MString* begin = d.sorted.GetData();
    const MString* end = begin + d.sorted.GetSize();
    for (auto _ : state) {
        long found = 0;
        for (int i = 0; i < kLookups; ++i) {
            const MString& key = d.keys[i];
            const MString* at = std::lower_bound(begin, end, key, LessNoCase);
            found += at != end && at->CompareNoCase(key) == 0;
        }
        benchmark::DoNotOptimize(found);
    }
    SetLookupCounter(state);
}

// ---- Splitting ----

const char kSplitSeps[] = " ,:\n";

// Records of words, numbers, empty fields and times, one per line.
const std::string& SplitText() {
    static const std::string text = [] {
        std::mt19937 rng(5);
        std::string t;
        t.reserve(10u << 20);
        static const char* kWords[] = {"alpha", "beta", "gamma", "delta", "Epsilon", "zeta", "x", "value"};
        while (t.size() < (10u << 20)) {
            t += kWords[rng() % 8];
            t += ',';
            t += std::to_string(rng() % 100000);
            t += rng() % 4 ? "," : ",,";
            t += kWords[rng() % 8];
            t += ' ';
            t += std::to_string(rng() % 24) + ":" + std::to_string(rng() % 60);
            t += '\n';
        }
        return t;
    }();
    return text;
}

// The same rules over std::string: blanks and tabs before an item are
// skipped, a blank or tab in the set only splits, a separator after a
// separator makes an empty token, separators above 0x20 (as signed bytes)
// are kept.
void SplitStd(const std::string& text, const char* seps, std::vector<std::string>& out, bool bAddSep, bool bAddEmpty,
              bool bNoLeadEmpty) {
    out.clear();
    bool in[256] = {};
    for (const char* p = seps; *p; ++p) in[static_cast<unsigned char>(*p)] = true;
    bool bAfterWord = bNoLeadEmpty;
    std::size_t i = 0, n = text.size();
    for (;;) {
        while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
        if (i >= n) break;
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (in[c]) {
            if (!bAfterWord && bAddEmpty) out.emplace_back();
            if (bAddSep && static_cast<signed char>(c) > 0x20) out.emplace_back(1, static_cast<char>(c));
            bAfterWord = false;
            ++i;
            continue;
        }
        std::size_t start = i;
        while (i < n && !in[static_cast<unsigned char>(text[i])]) ++i;
        out.emplace_back(text, start, i - start);
        bAfterWord = true;
    }
}

void SplitVorlix(benchmark::State& state) {
    const std::string& text = SplitText();
    MStringArray tokens;
    std::vector<std::string> check;
    SplitStd(text, kSplitSeps, check, true, true, false);
    for (auto _ : state) {
        int n = Byte_GetSplitTokenEx(text.c_str(), 0, kSplitSeps, tokens, 1, 1, 0);
        if (n != static_cast<int>(check.size())) state.SkipWithError("the splitters disagree");
        benchmark::DoNotOptimize(tokens.GetData());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}

void SplitStdBench(benchmark::State& state) {
    const std::string& text = SplitText();
    std::vector<std::string> tokens;
    for (auto _ : state) {
        SplitStd(text, kSplitSeps, tokens, true, true, false);
        benchmark::DoNotOptimize(tokens.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}

// ---- The pairs ----

const BenchPair kPairs[] = {
    {"sort_1000", SortVorlix, SortStd, 1000},
    {"sort_10000", SortVorlix, SortStd, 10000},
    {"find_sorted_1M", FindSortedVorlix, FindSortedStd, 0},
    {"split_10MB", SplitVorlix, SplitStdBench, 0},
};

}  // namespace

int main(int argc, char** argv) {
    int rounds = TakeRounds(argc, argv, "--util_rounds=");
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RegisterInRounds(kPairs, rounds, [](auto* bm, const BenchPair& p) {
        bm->Unit(benchmark::kMicrosecond);
        if (p.param) bm->Arg(p.param);
    });
    SeriesReporter reporter(SeriesReporter::CpuTime);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    PrintPairRatios(reporter, kPairs, "library CPU time / peer CPU time");
    benchmark::Shutdown();
    return 0;
}

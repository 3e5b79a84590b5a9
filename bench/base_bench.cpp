// Base components against their standard library counterparts:
//   - reading the lines of a 100 MB file: Byte_Read1Line vs std::getline
//   - copying a string of 1 KB and of 1 MB: MString vs std::string
//   - appending a million short strings: CObjArray<MString> vs
//     std::vector<std::string>
//
// The text file is written once into the system temp directory, the first
// time a line benchmark needs it, and removed when the program ends.
//
// The heap: by default the program keeps freed memory in the process
// (no mmap blocks, no trimming), so every benchmark finds the heap warm
// whatever ran before it, and the figures show the cost of the code rather
// than of the kernel handing out fresh pages. --vorlix_heap=system leaves
// the C library's own adaptive policy in place instead; the append figures
// then depend on which benchmarks ran earlier in the same process.
#include <vorlix/base/file.h>
#include <vorlix/base/objarray.h>
#include <vorlix/base/string.h>

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace {

// ---- The text file ----

constexpr std::size_t kFileBytes = 100u * 1024 * 1024;

std::string g_linesPath;
std::size_t g_linesBytes = 0;
std::size_t g_linesCount = 0;

void RemoveLinesFile() {
    if (!g_linesPath.empty()) {
        std::error_code ec;
        std::filesystem::remove(g_linesPath, ec);
        g_linesPath.clear();
    }
}

// Lines of 0..200 bytes, LF-terminated. Most lines are short to medium, as
// in source code or logs, with a tail of long ones and some empty ones.
bool WriteLinesFile() {
    std::error_code ec;
    std::filesystem::path dir = std::filesystem::temp_directory_path(ec);
    if (ec) dir = "/tmp";
    std::string path = (dir / ("vorlix_bench_lines_" + std::to_string(::getpid()) + ".txt")).string();
    std::FILE* fp = std::fopen(path.c_str(), "wb");
    if (!fp) return false;
    g_linesPath = path;
    std::atexit(RemoveLinesFile);

    std::mt19937 rng(12345);
    std::uniform_int_distribution<int> pick(0, 99);
    std::uniform_int_distribution<int> shortLen(1, 40);
    std::uniform_int_distribution<int> midLen(41, 120);
    std::uniform_int_distribution<int> longLen(121, 200);
    std::uniform_int_distribution<int> letter(0, 63);
    static const char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 _";

    std::string chunk;
    chunk.reserve(1 << 20);
    std::size_t total = 0, lines = 0;
    while (total < kFileBytes) {
        int k = pick(rng);
        int len = k < 8 ? 0 : k < 55 ? shortLen(rng) : k < 90 ? midLen(rng) : longLen(rng);
        for (int i = 0; i < len; ++i) chunk.push_back(kChars[letter(rng)]);
        chunk.push_back('\n');
        total += static_cast<std::size_t>(len) + 1;
        ++lines;
        if (chunk.size() >= (1u << 20) - 256) {
            if (std::fwrite(chunk.data(), 1, chunk.size(), fp) != chunk.size()) break;
            chunk.clear();
        }
    }
    bool ok = std::fwrite(chunk.data(), 1, chunk.size(), fp) == chunk.size();
    ok = std::fclose(fp) == 0 && ok;
    g_linesBytes = total;
    g_linesCount = lines;
    return ok;
}

bool LinesFileReady() {
    static const bool ok = WriteLinesFile();
    return ok;
}

void ReportLines(benchmark::State& state, std::size_t bytes, std::size_t lines) {
    if (bytes != g_linesBytes - g_linesCount || lines != g_linesCount)
        state.SkipWithError("read a different text than was written");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(g_linesBytes));
    state.counters["lines/s"] =
        benchmark::Counter(static_cast<double>(g_linesCount) * state.iterations(), benchmark::Counter::kIsRate);
}

void BM_Lines_Vorlix_Read1Line(benchmark::State& state) {
    if (!LinesFileReady()) {
        state.SkipWithError("cannot write the text file");
        return;
    }
    std::size_t bytes = 0, lines = 0;
    for (auto _ : state) {
        void* h = Byte_OpenFile(g_linesPath.c_str(), 0xC0000000, 3, 0);
        if (!h) {
            state.SkipWithError("Byte_OpenFile failed");
            break;
        }
        MString line;
        bytes = lines = 0;
        while (Byte_Read1Line(h, line, 0)) {
            benchmark::DoNotOptimize(line.GetString());
            bytes += static_cast<std::size_t>(line.GetLength());
            ++lines;
        }
        API_CloseFile(h);
    }
    ReportLines(state, bytes, lines);
}
BENCHMARK(BM_Lines_Vorlix_Read1Line)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Lines_Std_Getline(benchmark::State& state) {
    if (!LinesFileReady()) {
        state.SkipWithError("cannot write the text file");
        return;
    }
    std::size_t bytes = 0, lines = 0;
    for (auto _ : state) {
        std::ifstream in(g_linesPath, std::ios::binary);
        if (!in) {
            state.SkipWithError("cannot open the text file");
            break;
        }
        std::string line;
        bytes = lines = 0;
        while (std::getline(in, line)) {
            benchmark::DoNotOptimize(line.data());
            bytes += line.size();
            ++lines;
        }
    }
    ReportLines(state, bytes, lines);
}
BENCHMARK(BM_Lines_Std_Getline)->Unit(benchmark::kMillisecond)->UseRealTime();

// ---- Copying a string ----

// One copy constructed and destroyed per iteration; the bytes counter is the
// length of the text that the copy stands for.
void BM_Copy_MString(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const MString src('x', n);
    for (auto _ : state) {
        MString copy(src);
        benchmark::DoNotOptimize(copy);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * n);
}
BENCHMARK(BM_Copy_MString)->Arg(1 << 10)->Arg(1 << 20);

void BM_Copy_StdString(benchmark::State& state) {
    const std::size_t n = static_cast<std::size_t>(state.range(0));
    const std::string src(n, 'x');
    for (auto _ : state) {
        std::string copy(src);
        benchmark::DoNotOptimize(copy);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(n));
}
BENCHMARK(BM_Copy_StdString)->Arg(1 << 10)->Arg(1 << 20);

// ---- Appending a million short strings ----

constexpr int kAppends = 1000000;

// Texts of 8 to 16 characters, built before the timing so that both sides
// pay only for making their own string from the characters.
struct ShortTexts {
    static constexpr int kCount = 4096;  // a power of two
    std::vector<char> chars;
    int offset[kCount];
    int length[kCount];

    ShortTexts() {
        std::mt19937 rng(777);
        std::uniform_int_distribution<int> len(8, 16);
        std::uniform_int_distribution<int> letter('a', 'z');
        for (int i = 0; i < kCount; ++i) {
            offset[i] = static_cast<int>(chars.size());
            length[i] = len(rng);
            for (int k = 0; k < length[i]; ++k) chars.push_back(static_cast<char>(letter(rng)));
            chars.push_back('\0');
        }
    }
    const char* Text(int i) const { return chars.data() + offset[i & (kCount - 1)]; }
    int Length(int i) const { return length[i & (kCount - 1)]; }
};

const ShortTexts& Texts() {
    static const ShortTexts texts;
    return texts;
}

void SetAppendCounters(benchmark::State& state) {
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kAppends);
    state.counters["ns/append"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * kAppends,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert, benchmark::Counter::kIs1000);
}

// The array is built and destroyed inside the timing, like the vector.
void BM_Append_ObjArray_CopyOfOne(benchmark::State& state) {
    const MString item("config.value");
    for (auto _ : state) {
        CObjArray<MString, const MString&> arr;
        for (int i = 0; i < kAppends; ++i) arr.Add(item);
        benchmark::DoNotOptimize(arr.GetData());
        if (arr.GetSize() != kAppends) state.SkipWithError("Add failed");
    }
    SetAppendCounters(state);
}
BENCHMARK(BM_Append_ObjArray_CopyOfOne)->Unit(benchmark::kMillisecond);

void BM_Append_Vector_CopyOfOne(benchmark::State& state) {
    const std::string item("config.value");
    for (auto _ : state) {
        std::vector<std::string> vec;
        for (int i = 0; i < kAppends; ++i) vec.push_back(item);
        benchmark::DoNotOptimize(vec.data());
    }
    SetAppendCounters(state);
}
BENCHMARK(BM_Append_Vector_CopyOfOne)->Unit(benchmark::kMillisecond);

// Appending a million existing short strings, each a different text: the
// usual case of collecting strings that were made elsewhere.
void BM_Append_ObjArray_Existing(benchmark::State& state) {
    const ShortTexts& texts = Texts();
    std::vector<MString> source;
    source.reserve(kAppends);
    for (int i = 0; i < kAppends; ++i)
        source.emplace_back(texts.Text(i * 7 + i / 4096), texts.Length(i * 7 + i / 4096));
    for (auto _ : state) {
        CObjArray<MString, const MString&> arr;
        for (int i = 0; i < kAppends; ++i) arr.Add(source[static_cast<std::size_t>(i)]);
        benchmark::DoNotOptimize(arr.GetData());
        if (arr.GetSize() != kAppends) state.SkipWithError("Add failed");
    }
    SetAppendCounters(state);
}
BENCHMARK(BM_Append_ObjArray_Existing)->Unit(benchmark::kMillisecond);

void BM_Append_Vector_Existing(benchmark::State& state) {
    const ShortTexts& texts = Texts();
    std::vector<std::string> source;
    source.reserve(kAppends);
    for (int i = 0; i < kAppends; ++i)
        source.emplace_back(texts.Text(i * 7 + i / 4096), static_cast<std::size_t>(texts.Length(i * 7 + i / 4096)));
    for (auto _ : state) {
        std::vector<std::string> vec;
        for (int i = 0; i < kAppends; ++i) vec.push_back(source[static_cast<std::size_t>(i)]);
        benchmark::DoNotOptimize(vec.data());
    }
    SetAppendCounters(state);
}
BENCHMARK(BM_Append_Vector_Existing)->Unit(benchmark::kMillisecond);

void BM_Append_ObjArray_FreshText(benchmark::State& state) {
    const ShortTexts& texts = Texts();
    for (auto _ : state) {
        CObjArray<MString, const MString&> arr;
        for (int i = 0; i < kAppends; ++i) arr.Add(MString(texts.Text(i), texts.Length(i)));
        benchmark::DoNotOptimize(arr.GetData());
        if (arr.GetSize() != kAppends) state.SkipWithError("Add failed");
    }
    SetAppendCounters(state);
}
BENCHMARK(BM_Append_ObjArray_FreshText)->Unit(benchmark::kMillisecond);

void BM_Append_Vector_FreshText(benchmark::State& state) {
    const ShortTexts& texts = Texts();
    for (auto _ : state) {
        std::vector<std::string> vec;
        for (int i = 0; i < kAppends; ++i)
            vec.push_back(std::string(texts.Text(i), static_cast<std::size_t>(texts.Length(i))));
        benchmark::DoNotOptimize(vec.data());
    }
    SetAppendCounters(state);
}
BENCHMARK(BM_Append_Vector_FreshText)->Unit(benchmark::kMillisecond);

}  // namespace

// Takes --vorlix_heap=warm|system out of the arguments; true for a known
// value.
bool SetUpHeap(int& argc, char** argv) {
    std::string mode = "warm";
    int out = 1;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg.rfind("--vorlix_heap=", 0) == 0) mode = arg.substr(14);
        else argv[out++] = argv[i];
    }
    argc = out;
    argv[argc] = nullptr;
    if (mode == "system") return true;
    if (mode != "warm") return false;
#if defined(__GLIBC__)
    mallopt(M_MMAP_MAX, 0);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
#endif
    return true;
}

int main(int argc, char** argv) {
    if (!SetUpHeap(argc, argv)) {
        std::fprintf(stderr, "--vorlix_heap takes warm or system\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    RemoveLinesFile();
    return 0;
}

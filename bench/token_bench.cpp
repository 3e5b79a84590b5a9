// Tokenizing a 20 MB XML-like text with the XML node delimiter set, from
// memory and from a file, written on many lines and on one single line.
#include <vorlix/vorlix.h>

#include <benchmark/benchmark.h>

#include "bench_support.h"

#include <cstdio>
#include <string>

namespace {

const char kDelims[] = "<?!/>=& \t";

std::string MakeDocument(bool bOneLine) {
    const char* eol = bOneLine ? " " : "\r\n";
    std::string doc;
    doc.reserve(21u << 20);
    doc += "<?xml version=\"1.0\" encoding=\"utf-8\"?>";
    doc += eol;
    doc += "<catalog>";
    doc += eol;
    char buf[512];
    for (int i = 0; doc.size() < (20u << 20); ++i) {
        std::snprintf(buf, sizeof buf,
                      "\t<record id=\"%d\" kind=\"item\" price=\"%d.%02d\">%s"
                      "\t\t<name>Record number %d</name>%s"
                      "\t\t<!-- note %d -->%s"
                      "\t\t<value unit=\"kg\">%d</value>%s"
                      "\t</record>%s",
                      i, i % 1000, i % 100, eol, i, eol, i, eol, i * 7, eol, eol);
        doc += buf;
    }
    doc += "</catalog>";
    doc += eol;
    return doc;
}

const std::string& Document(bool bOneLine) {
    static const std::string multi = MakeDocument(false);
    static const std::string single = MakeDocument(true);
    return bOneLine ? single : multi;
}

void Tokenize(CTokenDataStreamA& stream, benchmark::State& state) {
    MString token;
    int delim;
    long tokens = 0;
    while (stream.GetToken(token, kDelims, delim)) ++tokens;
    benchmark::DoNotOptimize(tokens);
    state.counters["tokens"] = static_cast<double>(tokens);
}

void BM_TokenizeMemory(benchmark::State& state) {
    const std::string& doc = Document(state.range(0) != 0);
    for (auto _ : state) {
        CTokenDataStreamA stream(doc.c_str(), 0);
        Tokenize(stream, state);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(doc.size()));
}

void BM_TokenizeFile(benchmark::State& state) {
    bool bOneLine = state.range(0) != 0;
    const std::string& doc = Document(bOneLine);
    std::string path = TempPath(bOneLine ? "vorlix_bench_one_line.xml" : "vorlix_bench_lines.xml");
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(doc.data(), 1, doc.size(), f);
        std::fclose(f);
    }
    for (auto _ : state) {
        void* h = Byte_OpenFile(path.c_str(), 0xC0000000, 3, 0);
        if (!h) {
            state.SkipWithError("cannot open the document");
            break;
        }
        CTokenDataStreamA stream(h, 0);
        Tokenize(stream, state);
        API_CloseFile(h);
    }
    std::remove(path.c_str());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(doc.size()));
}

void BM_TokenizeMemoryU(benchmark::State& state) {
    const std::string& doc = Document(state.range(0) != 0);
    UString wide;
    wide.FromMBC(65001, doc.c_str(), static_cast<int>(doc.size()));
    static const unsigned short delims[] = {'<', '?', '!', '/', '>', '=', '&', ' ', '\t', 0};
    for (auto _ : state) {
        CTokenDataStreamU stream(static_cast<const unsigned short*>(wide), 0);
        UString token;
        int delim;
        long tokens = 0;
        while (stream.GetToken(token, delims, delim)) ++tokens;
        benchmark::DoNotOptimize(tokens);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(doc.size()));
}

}  // namespace

BENCHMARK(BM_TokenizeMemory)->ArgName("one_line")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TokenizeFile)->ArgName("one_line")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TokenizeMemoryU)->ArgName("one_line")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();

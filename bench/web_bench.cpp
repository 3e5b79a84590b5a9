// The web helpers against the code any user could write with std::string:
//   - a query of 100 pairs with "+" and "%" escapes, split and decoded
//     (CCgiParam::SetArgs with decoding vs split at "&" and "=", decode);
//   - a request header block of 20 fields and a query in its target
//     (CHttpHeader::Setup vs split into lines, the request line at blanks,
//     the fields at ":").
// Each call starts from a new object, as a CGI program or a server does
// per request. The contenders run interleaved (Vorlix, std, Vorlix, std,
// ...) for --rounds=N rounds, and the program ends with the ratio of each
// round (Vorlix time / std time): the median and the spread. The ratios
// take the CPU time of each call, which other work on a shared machine
// does not stretch as it does the wall-clock time.
#include <vorlix/web/cgiparam.h>
#include <vorlix/web/httpheader.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "bench_support.h"

namespace {

// ---- Inputs ----

std::string MakeQuery(int nPairs) {
    std::string q;
    for (int i = 0; i < nPairs; ++i) {
        if (i) q += '&';
        q += "field" + std::to_string(i) + "=";
        switch (i % 4) {
        case 0: q += "plain" + std::to_string(i * 7); break;
        case 1: q += "two+words+here"; break;
        case 2: q += "caf%C3%A9+%26+more"; break;
        default: q += "a%2Fb%2Fc%3Fd%3D" + std::to_string(i); break;
        }
    }
    return q;
}

std::string MakeHeader() {
    std::string h = "GET /app/search/results.html?q=web+helpers&page=2&lang=en HTTP/1.1\r\n";
    const char* fields[] = {
        "Host: www.example.test",
        "User-Agent: Mozilla/5.0 (X11; Linux x86_64) Gecko/20100101 Firefox/120.0",
        "Accept: text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8",
        "Accept-Language: en-US,en;q=0.5",
        "Accept-Encoding: gzip, deflate, br",
        "Connection: keep-alive",
        "Referer: http://www.example.test/app/search/",
        "Cookie: session=3f9a1c0e5b7d4a2f; theme=dark; tz=Europe%2FBerlin",
        "Upgrade-Insecure-Requests: 1",
        "Sec-Fetch-Dest: document",
        "Sec-Fetch-Mode: navigate",
        "Sec-Fetch-Site: same-origin",
        "Sec-Fetch-User: ?1",
        "Cache-Control: max-age=0",
        "If-None-Match: \"5d8c72a5edda8d6a\"",
        "If-Modified-Since: Sat, 05 Dec 2026 21:30:00 GMT",
        "DNT: 1",
        "Pragma: no-cache",
        "Content-Type: text/html; charset=utf-8",
        "X-Forwarded-For: 192.0.2.7, 198.51.100.3",
    };
    for (const char* f : fields) h += std::string(f) + "\r\n";
    return h + "\r\n";
}

const std::string g_query = MakeQuery(100);
const std::string g_header = MakeHeader();

// ---- The std::string baseline ----

typedef std::vector<std::pair<std::string, std::string>> StdPairs;

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string StdDecode(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        char c = s[i];
        if (c == '+') {
            out += ' ';
        } else if (c == '%' && i + 2 < s.size() && HexDigit(s[i + 1]) >= 0 && HexDigit(s[i + 2]) >= 0) {
            out += static_cast<char>(HexDigit(s[i + 1]) * 16 + HexDigit(s[i + 2]));
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

StdPairs StdParseQuery(const std::string& q) {
    StdPairs out;
    std::size_t start = 0;
    while (start < q.size()) {
        std::size_t amp = q.find('&', start);
        if (amp == std::string::npos) amp = q.size();
        std::string item = q.substr(start, amp - start);
        std::size_t eq = item.find('=');
        if (eq == std::string::npos) out.emplace_back(std::string(), StdDecode(item));
        else out.emplace_back(StdDecode(item.substr(0, eq)), StdDecode(item.substr(eq + 1)));
        start = amp + 1;
    }
    return out;
}

struct StdRequest {
    std::string method, target, version;
    StdPairs query;
    StdPairs fields;
};

StdRequest StdParseHeader(const std::string& text) {
    StdRequest r;
    std::size_t pos = 0;
    bool first = true;
    while (pos < text.size()) {
        std::size_t end = text.find("\r\n", pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 2;
        if (line.empty()) break;
        if (first) {
            first = false;
            std::size_t b1 = line.find(' '), b2 = line.find(' ', b1 + 1);
            r.method = line.substr(0, b1);
            r.target = line.substr(b1 + 1, b2 - b1 - 1);
            r.version = line.substr(b2 + 1);
            std::size_t q = r.target.find('?');
            if (q != std::string::npos) {
                r.query = StdParseQuery(r.target.substr(q + 1));
                r.target.resize(q);
            }
            continue;
        }
        std::size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        std::size_t v = line.find_first_not_of(" \t", colon + 1);
        r.fields.emplace_back(line.substr(0, colon), v == std::string::npos ? std::string() : line.substr(v));
    }
    return r;
}

// ---- Benchmarks ----

void QueryVorlix(benchmark::State& state) {
    for (auto _ : state) {
        CCgiParam params;
        params.SetArgs(g_query.c_str(), 1);
        benchmark::DoNotOptimize(params.GetParamSum());
    }
}

void QueryStd(benchmark::State& state) {
    for (auto _ : state) {
        StdPairs pairs = StdParseQuery(g_query);
        benchmark::DoNotOptimize(pairs.size());
    }
}

void HeaderVorlix(benchmark::State& state) {
    for (auto _ : state) {
        CHttpHeader header;
        header.Setup(g_header.c_str(), 0, 1);
        benchmark::DoNotOptimize(header.m_aryName.GetSize());
    }
}

void HeaderStd(benchmark::State& state) {
    for (auto _ : state) {
        StdRequest r = StdParseHeader(g_header);
        benchmark::DoNotOptimize(r.fields.size());
    }
}

// Both sides must see the same pairs and fields, or the race is unfair.
bool SameResults() {
    CCgiParam params;
    StdPairs pairs = StdParseQuery(g_query);
    if (!params.SetArgs(g_query.c_str(), 1) || params.GetParamSum() != static_cast<int>(pairs.size())) return false;
    for (int i = 0; i < params.GetParamSum(); ++i)
        if (pairs[i].first != static_cast<const char*>(params.m_aryKey[i]) ||
            pairs[i].second != static_cast<const char*>(params.m_aryData[i]))
            return false;
    CHttpHeader header;
    header.Setup(g_header.c_str(), 0, 1);
    StdRequest r = StdParseHeader(g_header);
    return header.m_aryName.GetSize() == static_cast<int>(r.fields.size()) && header.m_aryName.GetSize() == 20 &&
           header.m_cgiParam.GetParamSum() == static_cast<int>(r.query.size()) &&
           r.target == "/app/search/results.html" && r.target == static_cast<const char*>(header.m_strUri);
}

// Vorlix time / std time for each round of one case, with the median times.
void PrintRatios(const SeriesReporter& reporter, const char* what) {
    Spread ratio = reporter.Ratio(what, "vorlix", "std");
    if (!ratio.n) return;
    Spread ours = SpreadOf(reporter.Series(what, "vorlix")), theirs = SpreadOf(reporter.Series(what, "std"));
    std::printf(
        "%-7s Vorlix %.0f ns, std %.0f ns CPU time per call (medians); ratio %.2f (%.2f to %.2f over %zu rounds)\n",
        what, ours.median, theirs.median, ratio.median, ratio.low, ratio.high, ratio.n);
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = TakeRounds(argc, argv, "--rounds=");
    if (!SameResults()) {
        std::fprintf(stderr, "the contenders disagree on the parse\n");
        return 1;
    }
    for (int r = 0; r < rounds; ++r) {
        std::string round = "/round:" + std::to_string(r);
        benchmark::RegisterBenchmark(("query/vorlix" + round).c_str(), QueryVorlix);
        benchmark::RegisterBenchmark(("query/std" + round).c_str(), QueryStd);
        benchmark::RegisterBenchmark(("header/vorlix" + round).c_str(), HeaderVorlix);
        benchmark::RegisterBenchmark(("header/std" + round).c_str(), HeaderStd);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    SeriesReporter reporter(SeriesReporter::CpuTime);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\n");
    PrintRatios(reporter, "query");
    PrintRatios(reporter, "header");
    benchmark::Shutdown();
    return 0;
}

#!/bin/bash
# The XML figures of the README: each parse and write benchmark, on the
# data-oriented document and on the book (_Book), runs alone, in turn with
# its peers, ROUNDS times (after a short warm-up in each run), and the best
# throughput of each is printed, with that of its slowest round. Running the
# benchmarks in turn spreads them over the same moments of a machine whose
# speed varies.
#
#   bench/xml_figures.sh [ROUNDS] [--xml-warm-heap]
#
# Needs the release build (cmake --workflow --preset release, or
# cmake --preset release && cmake --build --preset release).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
bench="$here/build/release/bench/vorlix_bench_xml"
rounds=${1:-5}
shift || true
[ -x "$bench" ] || { echo "build the release preset first: $bench is missing" >&2; exit 2; }

cases=$("$bench" --benchmark_list_tests=true |
        grep -E '^BM_(ParseA|ParseU_File|Tinyxml2_Parse|Pugixml_Parse|Libxml2_Parse|Expat_Sax|WriteA|Tinyxml2_Print|Pugixml_Save)(_Book)?(/|$)')
for ((r = 0; r < rounds; ++r)); do
    for c in $cases; do
        "$bench" "$@" --benchmark_filter="^${c}\$" --benchmark_min_warmup_time=0.6 \
                 --benchmark_min_time=1 2>/dev/null | grep '^BM_' || true
    done
done | awk '
    match($0, /bytes_per_second=[0-9.]+[kMG]/) {
        v = substr($0, RSTART + 17, RLENGTH - 18) + 0
        u = substr($0, RSTART + RLENGTH - 1, 1)
        v = u == "k" ? v / 1024 : (u == "G" ? v * 1024 : v)
        if (!($1 in best)) { order[n++] = $1; worst[$1] = v }
        if (v > best[$1]) best[$1] = v
        if (v < worst[$1]) worst[$1] = v
    }
    END {
        for (i = 0; i < n; ++i)
            printf "%-45s %8.1f MB/s  (slowest round %.1f)\n", order[i], best[order[i]], worst[order[i]]
    }'

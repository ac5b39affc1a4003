#!/usr/bin/env bash
# Runs the benchmarks: the table first, then one `name: value unit` line per figure.
set -euo pipefail
build=${1:-build}
cmake --build "$build" --target parse_bench -j "$(nproc)" >/dev/null
"$build/bench/parse_bench" --benchmark_counters_tabular=true | tee "$build/parse_bench.txt"
# Rows are BM_ParsePointLine/<separator code>; '.' is 46, ',' is 44.
awk '/^BM_ParsePointLine\// {
  split($1, name, "/"); sep = name[2] == 46 ? "point" : "comma";
  v = $7; sub(/M\/s$/, "", v); print "parse_throughput_" sep "_separator: " v " MB/s" }' "$build/parse_bench.txt"

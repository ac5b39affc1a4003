#!/usr/bin/env bash
# Runs the benchmarks: the table first, then one `name: value unit` line per figure.
set -euo pipefail
build=${1:-build}
cmake --build "$build" --target parse_bench pass_bench -j "$(nproc)" >/dev/null
"$build/bench/parse_bench" --benchmark_counters_tabular=true | tee "$build/parse_bench.txt"
# Rows are BM_ParsePointLine/<separator code>; '.' is 46, ',' is 44.
awk '/^BM_ParsePointLine\// {
  split($1, name, "/"); sep = name[2] == 46 ? "point" : "comma";
  v = $7; sub(/M\/s$/, "", v); print "parse_throughput_" sep "_separator: " v " MB/s" }' "$build/parse_bench.txt"

# The points pass on a large text box (text generated in memory, 1M and 10M lines).
"$build/bench/pass_bench" | tee "$build/pass_bench.txt"
awk '/^BM_/ { split($1, n, "/"); print tolower(substr(n[1], 4)) "_" n[2] "_lines: " $2 " " $3 }' "$build/pass_bench.txt"
# How many times cheaper a frame after a one-line edit is than converting everything.
awk '/^BM_FullPass\/10000000/ { full = $2 } /^BM_OneLineEdit\/10000000/ { edit = $2 }
  END { if (full && edit) printf "full_pass_over_one_line_edit_10000000_lines: %.0f x\n", full / edit }' "$build/pass_bench.txt"

# The whole program opening generated clouds of 1M and 10M lines (about 30 and
# 300 MB), to the first frame that shows all the points, with its peak memory.
cmake --build "$build" --target load_bench -j "$(nproc)" >/dev/null
for lines in 1000000 10000000; do
  file="$build/bench/cloud-$lines.xyz"
  [ -f "$file" ] || "$build/bench/load_bench" --make "$lines" "$file"
  if [ -n "${DISPLAY:-}" ]; then
    "$build/bench/load_bench" "$file"
  else
    xvfb-run -a -s "-screen 0 1280x1024x24" "$build/bench/load_bench" "$file"
  fi 2>/dev/null
done

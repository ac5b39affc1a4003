#!/usr/bin/env bash
# Runs the benchmarks, each printing `name: value unit` lines: the line parse
# alone, the program in-process frame by frame, and the real program measured
# from outside as a user sees it. Generated clouds of 1M and 10M lines, every
# point in view, and a file of one 100 MB line; HUGE=1 adds 82M and 100M lines
# (2.6 and 3.2 GB).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-build}" && pwd)
cmake --build "$build" --target parse_bench frame_bench make_cloud vost -j "$(nproc)" >/dev/null
display() { if [ -n "${DISPLAY:-}" ]; then "$@"; else xvfb-run -a -s "-screen 0 1280x1024x24" "$@"; fi; }

"$build/bench/parse_bench" --benchmark_counters_tabular=true | tee "$build/parse_bench.txt"
# Rows are BM_ParsePointLine/<separator code>; '.' is 46, ',' is 44. Then the
# frames' one-pass read, a block as a loader's thread reads it, and the loader
# on <n> threads.
awk '{ v = $7; sub(/M\/s$/, "", v); split($1, name, "/") }
  /^BM_ParsePointLine\// { print "parse_throughput_" (name[2] == 46 ? "point" : "comma") "_separator: " v " MB/s" }
  /^BM_ConvertLine / { print "parse_throughput_one_pass_read: " v " MB/s" }
  /^BM_BlockLines\// { print "parse_throughput_load_block: " v " MB/s" }
  /^BM_CloudLoader\// { print "load_throughput_" name[2] "_threads: " v " MB/s" }' "$build/parse_bench.txt"

sizes=(1000000 10000000)
[ "${HUGE:-0}" = 1 ] && sizes+=(82000000 100000000)
files=()
for lines in "${sizes[@]}"; do
  file="$build/bench/cloud-$lines.xyz"
  [ -f "$file" ] || "$build/bench/make_cloud" "$lines" "$file"
  files+=("$file")
  display "$build/bench/frame_bench" "$file" "$build/bench/picture-compute" 2>/dev/null
  # The same with GL_POINTS, as where the context has no compute shaders.
  MESA_EXTENSION_OVERRIDE=-GL_ARB_compute_shader display "$build/bench/frame_bench" "$file" \
    "$build/bench/picture-points" 2>/dev/null | sed -n 's/^turn_to_full_picture_/&points_/p'
  /usr/bin/python3 -c "import sys
a, b = (open(f, 'rb').read() for f in sys.argv[1:3])
lit = sum(a[i] > 128 or b[i] > 128 for i in range(0, len(a), 4))
differ = sum(a[i] != b[i] for i in range(0, len(a), 4))
print(f'pixels_differing_compute_points_{sys.argv[3]}_lines: {differ} of {lit} lit')" \
    "$build/bench/picture-compute" "$build/bench/picture-points" "$lines"
done
# One line of 100 MB, 50 million fields, before the marker: its peak memory,
# and keys typed at its start and in its middle.
long="$build/bench/long-line.xyz"
[ -f "$long" ] || /usr/bin/python3 -c "import sys; sys.stdout.write('1 ' * 50000000 + '\n40 40 0\n')" >"$long"
display "$build/bench/frame_bench" "$long" 2>/dev/null |
  sed -n 's/^\(peak_memory\|key_typed_to_paint_start_middle_end\)_2_lines/\1_100_mb_line/p'
# From outside, a text of 10 lines too: the same key in a small text.
small="$build/bench/cloud-10.xyz"
[ -f "$small" ] || "$build/bench/make_cloud" 10 "$small"
/usr/bin/python3 "$root/bench/open_bench.py" "$build/app/vost" "$small" "${files[@]}"
# The disk's own speed, for the save's figure: the largest file written and
# flushed. After a pause, as the save's page cache comes from memory no
# process gave back a moment before: pages freed seconds earlier are handed
# out ten times faster here, and dd right after the runs above took 2.5 s
# where it takes 6.3 s otherwise.
sleep 15
dd if="${files[-1]}" of="$build/bench/disk-write" bs=16M conv=fsync 2>&1 | sed -n 's/.*, \([0-9.]* [MG]B\/s\)$/disk_write_speed: \1/p'
rm -f "$build/bench/disk-write"

#!/bin/sh
# Builds the differential fuzzers (the line parse, and the text store against
# a plain string) with the newest clang found and runs them for $1 seconds in
# all (default 60), shared between them. New inputs go to $FUZZ_DIR/corpus;
# the seeds in corpus/ stay as they are. A finding ends the run with a
# failure and is kept in $FUZZ_DIR as crash-*.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
seconds=${1:-60}
work=${FUZZ_DIR:-/tmp/vost-fuzz}
clang=${FUZZ_CXX:-$(command -v clang++ || ls /usr/bin/clang++-[0-9]* 2>/dev/null | sort -V | tail -n 1)}
[ -n "$clang" ] || { echo "fuzz: no clang++ found; run scripts/setup.sh" >&2; exit 1; }
mkdir -p "$work/corpus" "$work/text-corpus"
work=$(cd "$work" && pwd)
cmake -S "$here/.." -B "$work/build" -DCMAKE_CXX_COMPILER="$clang" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVOST_FUZZ=ON -DVOST_WERROR=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build "$work/build" --target parse_fuzz text_fuzz -j "${JOBS:-2}" >/dev/null
cd "$work"
half=$((seconds / 2))
if ! ./build/fuzz/parse_fuzz -max_total_time="$((seconds - half))" -dict="$here/parse.dict" \
    -print_final_stats=1 -artifact_prefix="$work/" corpus "$here/corpus" ||
  ! ./build/fuzz/text_fuzz -max_total_time="$half" -print_final_stats=1 -artifact_prefix="$work/" \
    text-corpus; then
  echo "fuzz: a finding; the input is in $work (run $work/build/fuzz/<parse_fuzz|text_fuzz> <file> to see it again)" >&2
  exit 1
fi

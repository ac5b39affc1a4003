#!/bin/sh
# Builds the differential parse fuzzer and runs it for $1 seconds (default 60).
# New inputs go to $FUZZ_DIR/corpus; the seeds in corpus/ stay as they are.
# A finding ends the run with a failure and is kept in $FUZZ_DIR as crash-*.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
seconds=${1:-60}
work=${FUZZ_DIR:-/tmp/vost-fuzz}
mkdir -p "$work/corpus"
work=$(cd "$work" && pwd)
clang++-14 -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -Wall -Wextra -Wpedantic -Wconversion -Wshadow -Werror \
    -I"$here/../framework/core" -I"$here/../points" \
    "$here/parse_fuzz.cpp" "$here/../framework/core/sysutils.cpp" "$here/../points/cloudpoints.cpp" \
    -o "$work/parse_fuzz"
cd "$work"
if ! ./parse_fuzz -max_total_time="$seconds" -dict="$here/parse.dict" -print_final_stats=1 \
    -artifact_prefix="$work/" corpus "$here/corpus"; then
  echo "fuzz: a finding; the input is in $work (run $work/parse_fuzz <file> to see it again)" >&2
  exit 1
fi

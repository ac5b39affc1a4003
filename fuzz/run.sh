#!/bin/sh
# Builds the differential parse fuzzer and runs it for $1 seconds (default 60).
# New inputs go to $FUZZ_DIR/corpus; the seeds in corpus/ stay as they are.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
seconds=${1:-60}
work=${FUZZ_DIR:-/tmp/vost-fuzz}
mkdir -p "$work/corpus"
clang++-14 -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -Wall -Wextra -Wpedantic -Wconversion -Wshadow -Werror \
    -I"$here/../framework/core" -I"$here/../points" \
    "$here/parse_fuzz.cpp" "$here/../framework/core/sysutils.cpp" "$here/../points/cloudpoints.cpp" \
    -o "$work/parse_fuzz"
cd "$work"
./parse_fuzz -max_total_time="$seconds" -dict="$here/parse.dict" -print_final_stats=1 corpus "$here/corpus"

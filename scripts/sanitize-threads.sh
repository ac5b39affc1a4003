#!/usr/bin/env bash
# Builds the tests of the loader, the one code that runs on a thread of its
# own, with ThreadSanitizer in a build directory of their own, and runs them:
# any finding fails its test. Qt is not built for it, so the GUI tests stay out.
#   scripts/sanitize-threads.sh [build-dir]        (default: build-tsan)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-tsan}
tests=(points_test)

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVOST_SANITIZE_THREADS=ON \
  -DVOST_WERROR=ON >/dev/null
cmake --build "$build" -j "${JOBS:-$(nproc)}" --target "${tests[@]}"

export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
ctest --test-dir "$build" --output-on-failure -R '^(ParsePointLine|CloudLoader)\.' \
  -j "${JOBS:-$(nproc)}"

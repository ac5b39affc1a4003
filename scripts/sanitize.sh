#!/usr/bin/env bash
# Builds the unit and GUI tests with AddressSanitizer, LeakSanitizer and
# UndefinedBehaviorSanitizer in a build directory of their own, and runs them:
# any finding fails its test. The end-to-end tests are left to the normal build.
#   scripts/sanitize.sh [build-dir]        (default: build-asan)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-asan}
tests=(points_test text_test framework_test control_test view_test)

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVOST_SANITIZE=ON -DVOST_WERROR=ON >/dev/null
cmake --build "$build" -j "${JOBS:-$(nproc)}" --target "${tests[@]}"

# Leaks are looked for at each test program's exit; the suppressions name
# only what was shown to leak inside the libraries under us.
export ASAN_OPTIONS=detect_leaks=1:check_initialization_order=1:strict_init_order=1
export LSAN_OPTIONS=suppressions=$root/tests/sanitizer/lsan.supp
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
run=(ctest --test-dir "$build" --output-on-failure -LE e2e -j "${JOBS:-$(nproc)}")
if [ -n "${DISPLAY:-}" ]; then
  "${run[@]}"
else
  xvfb-run -a -s "-screen 0 1280x1024x24" "${run[@]}"
fi

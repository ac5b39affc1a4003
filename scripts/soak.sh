#!/usr/bin/env bash
# Ten minutes (or $2) of the real program drawing frames with an edit every
# second, its resident memory sampled each second: make soak.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-build}" && pwd)
exec /usr/bin/python3 "$root/bench/soak.py" --vost "$build/app/vost" \
  --sample "$root/samples/torus_knot.xyz" --out "$build/soak" --minutes "${2:-10}"

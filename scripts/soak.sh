#!/usr/bin/env bash
# Ten minutes (or $2) of the real program on a virtual display, drawing
# frames with an edit every second, its resident memory sampled from /proc;
# fails if that grows after a warm-up. Not part of make test: make soak.
#   scripts/soak.sh [build-dir] [minutes]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-build}" && pwd)
[ -x "$build/app/vost" ] || { echo "soak: $build/app/vost is not built yet" >&2; exit 1; }
exec python3 "$root/scripts/soak.py" --vost "$build/app/vost" --source "$root" --out "$build" \
  --minutes "${2:-10}"

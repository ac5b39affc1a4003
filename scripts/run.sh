#!/usr/bin/env bash
# Starts the viewer. With no display to show it on, takes a tour of it on a
# virtual display instead and leaves screenshots of what it saw.
set -euo pipefail
build=${1:-build}
if [ -n "${DISPLAY:-}" ]; then
  exec "$build/app/vost"
fi
echo "No DISPLAY set: starting the viewer on a virtual display for a short tour."
exec /usr/bin/python3 "$(dirname "$0")/tour.py" "$build/app/vost" \
  "$(dirname "$0")/../samples/torus_knot.xyz" "$build/screenshots"

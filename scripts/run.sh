#!/usr/bin/env bash
# Starts the viewer.
set -euo pipefail
build=${1:-build}
exec "$build/app/vost"

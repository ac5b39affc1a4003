#!/usr/bin/env bash
# A short tour of the viewer on a virtual display, for machines with no
# screen: opens a sample through the menu and the file dialog as a person
# would, shows the view, turns it a few steps, and leaves screenshots.
#   scripts/tour.sh [build-dir] [cloud-file]
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-build}" && pwd)
sample=$(realpath "${2:-$root/samples/torus_knot.xyz}")
vost="$build/app/vost"
shots="$build/screenshots"

for tool in Xvfb xdotool import python3; do
  command -v "$tool" >/dev/null ||
    { echo "tour: $tool is missing; run scripts/setup.sh" >&2; exit 1; }
done
[ -x "$vost" ] || { echo "tour: $vost is not built yet" >&2; exit 1; }
mkdir -p "$shots"
rm -f "$shots/tour-failed.png"

work=$(mktemp -d)
xvfb_pid=
vost_pid=
cleanup() {
  [ -n "$vost_pid" ] && kill "$vost_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

fail() {
  echo "tour: $*" >&2
  import -window root "$shots/tour-failed.png" 2>/dev/null &&
    echo "tour: screen at $shots/tour-failed.png" >&2
  [ -s "$work/vost.log" ] && sed 's/^/  vost: /' "$work/vost.log" >&2
  exit 1
}

# Xvfb picks a free display number itself and writes it once it is ready.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
  [ -s "$work/display" ] && break
  kill -0 "$xvfb_pid" 2>/dev/null || break
  sleep 0.1
done
[ -s "$work/display" ] || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
export DISPLAY=":$(tr -d '\n' <"$work/display")"
echo "tour: virtual display $DISPLAY"

# The environment a person's session would not have: software OpenGL, and a
# home of its own, so the file dialog's memory of past runs stays out.
mkdir -p "$work/home" "$work/runtime" && chmod 700 "$work/runtime"
(cd "$work" && exec env -u WAYLAND_DISPLAY HOME="$work/home" XDG_RUNTIME_DIR="$work/runtime" \
  LIBGL_ALWAYS_SOFTWARE=1 QT_QPA_PLATFORM=xcb "$vost" >"$work/vost.log" 2>&1) &
vost_pid=$!

window() {  # the id of the visible window titled exactly $1
  timeout 20 xdotool search --sync --onlyvisible --name "^$1\$" 2>/dev/null | head -n1
}
gone() {
  for _ in $(seq 100); do
    xdotool search --onlyvisible --name "^$1\$" >/dev/null 2>&1 || return 0
    sleep 0.1
  done
  return 1
}
geometry() {  # sets X Y WIDTH HEIGHT of window $1
  eval "$(xdotool getwindowgeometry --shell "$1")"
}
click() {
  xdotool mousemove "$1" "$2" click 1
}

control=$(window control) || true
[ -n "$control" ] || fail "the control window did not come up"
geometry "$control"
cx=$X cy=$Y

# File, then Open: the menu's only item sits in the middle of its popup.
click $((cx + 18)) $((cy + 9))
menu=
for _ in $(seq 100); do
  # The popup carries its title only as _NET_WM_NAME, which this xdotool
  # does not read; it is the program's other visible window.
  menu=$(xdotool search --onlyvisible --class '^vost$' 2>/dev/null |
    grep -vx "$control" | head -n1) || true
  [ -n "$menu" ] && break
  sleep 0.1
done
[ -n "$menu" ] || fail "the File menu did not open"
geometry "$menu"
click $((X + 30)) $((Y + HEIGHT / 2))
dialog=$(window Open) || true
[ -n "$dialog" ] || fail "the file dialog did not open"
for _ in $(seq 100); do
  [ "$(xdotool getwindowfocus)" = "$dialog" ] && break
  sleep 0.1
done
xdotool type --delay 10 -- "$sample"
xdotool key Return
gone Open || fail "the file dialog stayed open"
sleep 1
import -window "$control" "$shots/control.png"

# The button, at its place in the form: 19 px of menu bar, then the group box.
click $((cx + 8 + 8 + 292)) $((cy + 19 + 32 + 168 + 12))
view=$(window view) || true
[ -n "$view" ] || fail "the view did not come up"
sleep 1
xdotool key --window "$view" --delay 150 Right Right Right Right Right Right Up Up Up Up
sleep 1
import -window "$view" "$shots/view.png"
import -window root "$shots/tour.png"
# Both windows side by side, as the README shows them.
convert "$shots/control.png" -size 12x1 xc:white "$shots/view.png" -background white -gravity north +append "$shots/both.png"

# Closing the control window as a window manager would ends the program.
VOST_E2E="$root/tests/e2e" python3 -c '
import os, sys
sys.path.insert(0, os.environ["VOST_E2E"])
from vost_e2e import XConnection
x = XConnection(os.environ["DISPLAY"])
x.request_close(int(sys.argv[1]))
x.close()' "$control"
for _ in $(seq 100); do
  kill -0 "$vost_pid" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$vost_pid" 2>/dev/null && fail "the program did not end when its control window closed"
code=0
wait "$vost_pid" || code=$?
vost_pid=
[ "$code" -eq 0 ] || fail "the program ended with exit code $code"

echo "tour: opened $sample, showed the view and turned it 30 degrees right, 20 up"
for f in control view both tour; do
  echo "tour: $shots/$f.png"
done

#!/usr/bin/env bash
# Checks what an install puts on a system: the Debian package's files under
# the validators and lintian, its computed dependencies, and then the
# package installed by apt into a clean Debian 12 root, where the installed
# program, given a sample on its command line, must show its points and end
# with exit code 0 when the control window is closed.
#   tests/install/check.sh BUILD_DIR   (a Release build whose .deb cpack made)
# The clean root needs root, debootstrap and a Debian mirror; without them
# only the package's files are checked.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?usage: check.sh BUILD_DIR}" && pwd)
id=io.github.vost.vost
suite=bookworm
work=$build/install-check
files=(bin/vost "share/applications/$id.desktop" "share/metainfo/$id.metainfo.xml"
       "share/icons/hicolor/scalable/apps/$id.svg" "share/icons/hicolor/256x256/apps/$id.png"
       share/man/man1/vost.1.gz share/doc/vost/copyright share/doc/vost/changelog.Debian.gz)

fail() { echo "FAIL: $*" >&2; exit 1; }
step() { echo "== $*"; }

deb=$(echo "$build"/vost_*.deb)
[ -f "$deb" ] || fail "expected one vost_*.deb in $build, found: $deb"
mkdir -p "$work"

step "the package: $(basename "$deb")"
# What the package installs, unpacked, for the validators.
tree=$work/unpacked
rm -rf "$tree"
dpkg -x "$deb" "$tree"
for f in "${files[@]}"; do [ -f "$tree/usr/$f" ] || fail "the package lacks /usr/$f"; done
out=$(desktop-file-validate "$tree/usr/share/applications/$id.desktop")
[ -z "$out" ] || fail "desktop-file-validate: $out"
# The metainfo, its launchable desktop entry and the icon agree.
appstreamcli validate-tree --no-net --pedantic --strict "$tree/usr"
/usr/bin/python3 -c 'import sys; from PIL import Image; sys.exit(Image.open(sys.argv[1]).size != (256, 256))' \
  "$tree/usr/share/icons/hicolor/256x256/apps/$id.png" || fail "the PNG icon is not 256x256"
lintian --fail-on error,warning "$deb" || fail "lintian reports errors or warnings"
# Computed by dpkg-shlibdeps from the binary's libraries.
depends=$(dpkg-deb -f "$deb" Depends)
for p in libc6 libqt6widgets6 libqt6gui6 libqscintilla2-qt6-15; do
  grep -Eq "(^|, )$p( |,|$)" <<<"$depends" || fail "Depends lacks $p"
done

mounts=()
app='' xvfb=''
cleanup() {
  [ -z "$app" ] || kill "$app" 2>/dev/null || true
  [ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null || true
  local i
  for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do umount -R "${mounts[i]}" || umount -Rl "${mounts[i]}"; done
}
trap cleanup EXIT
trap 'exit 130' INT TERM
bind() { mkdir -p "$2"; mount --rbind "$1" "$2"; mount --make-rslave "$2"; mounts+=("$2"); }
# rm -rf through a mount left over from a killed run would reach the host's /dev.
clear_root() {
  ! findmnt -rno TARGET | grep -qF "$1" || fail "something is still mounted under $1"
  rm -rf "$1"
}

# shellcheck disable=SC2016 # apt's own format, not the shell's
mirror=$(apt-get indextargets --format '$(REPO_URI)' 'Identifier: Packages' "Release: $suite" 'Origin: Debian' | head -n1)
why=''
if [ "$(id -u)" -ne 0 ]; then why="not root"
elif ! command -v debootstrap >/dev/null; then why="no debootstrap"
elif [ -z "$mirror" ]; then why="apt's sources name no Debian $suite mirror"
elif ! wget -q --spider --timeout=30 "${mirror}dists/$suite/Release"; then why="$mirror cannot be reached"
fi

if [ -n "$why" ]; then
  step "clean root: FALLBACK (files only), since $why"
  ! ldd "$tree/usr/bin/vost" | grep 'not found' || fail "libraries missing on this system"
  echo "install check passed; the program was NOT run in a clean root ($why)"
  exit 0
fi

step "clean root: debootstrap --variant=minbase $suite from $mirror"
base=$work/$suite-minbase
if [ ! -e "$base/.complete" ]; then
  clear_root "$base"
  debootstrap --variant=minbase "$suite" "$base" "$mirror" >"$work/debootstrap.log" 2>&1 ||
    fail "debootstrap failed, see $work/debootstrap.log"
  touch "$base/.complete"
else
  echo "(reusing $base)"
fi
root=$work/root
clear_root "$root"
cp -a "$base" "$root"
cp -L /etc/resolv.conf "$root/etc/resolv.conf"
# No service the packages bring may start from inside the chroot.
printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
chmod +x "$root/usr/sbin/policy-rc.d"
mount -t proc proc "$root/proc" && mounts+=("$root/proc")
bind /sys "$root/sys"
bind /dev "$root/dev"
# Downloaded packages are kept for the next run.
mkdir -p "$work/apt-archives"
bind "$work/apt-archives" "$root/var/cache/apt/archives"

step "apt-get install ./$(basename "$deb") in the clean root"
cp "$deb" "$root/tmp/"
in_root() { chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin DEBIAN_FRONTEND=noninteractive "$@"; }
in_root apt-get update -qq
# Without recommends: the package's own Depends must be enough to start.
in_root apt-get install -y -qq --no-install-recommends "/tmp/$(basename "$deb")" >"$work/apt.log" 2>&1 ||
  { tail -n 30 "$work/apt.log"; fail "apt-get install failed"; }

step "the installed /usr/bin/vost on a virtual display"
mkfifo "$work/display.fifo" 2>/dev/null || true
Xvfb -displayfd 3 -nolisten tcp -screen 0 1280x1024x24 3>"$work/display.fifo" 2>"$work/xvfb.log" &
xvfb=$!
read -r -t 60 number <"$work/display.fifo" || fail "Xvfb did not start, see $work/xvfb.log"
display=:$number
bind /tmp/.X11-unix "$root/tmp/.X11-unix"
install -d -o 65534 -g 65534 -m 700 "$root/tmp/home" "$root/tmp/runtime"
install -o 65534 -g 65534 -m 644 "$here/../../samples/helix.xyz" "$root/tmp/home/helix.xyz"
chroot --userspec=65534:65534 "$root" env -i PATH=/usr/bin:/bin HOME=/tmp/home XDG_RUNTIME_DIR=/tmp/runtime \
  DISPLAY="$display" LIBGL_ALWAYS_SOFTWARE=1 /usr/bin/vost /tmp/home/helix.xyz >"$work/vost.log" 2>&1 &
app=$!
# Without OpenGL the program first shows a message and waits, so the control
# window showing is also the sign that the GL context was made.
DISPLAY=$display timeout 120 xdotool search --sync --onlyvisible --name '^control$' >/dev/null ||
  { cat "$work/vost.log"; fail "no control window within 120 s"; }
# The sample named on the command line shows in the view.
DISPLAY=$display /usr/bin/python3 -c 'import os, sys; sys.path.insert(0, sys.argv[1])
from harness import BUTTON, XDisplay, wait_for
s = XDisplay(os.environ["DISPLAY"], dict(os.environ))
control = s.find("control")
s.click(control, *BUTTON)
view = s.find("view")
wait_for(lambda: s.reds(view), "the sample in the view", 120)
s.close(control)' "$here/../e2e" || fail "the sample did not show in the view"
timeout 60 tail --pid="$app" -f /dev/null || { cat "$work/vost.log"; fail "still running 60 s after the close request"; }
code=0
wait "$app" || code=$?
app=''
[ -s "$work/vost.log" ] && sed 's/^/  vost: /' "$work/vost.log"
[ "$code" -eq 0 ] || fail "the program ended with exit code $code"
echo "install check passed: the package installed into a clean $suite root, started and ended with exit code 0"

#!/usr/bin/env bash
# Checks what an install puts on a system: the Debian package's files under
# the validators and lintian, its computed dependencies, and its program,
# given a sample on its command line, showing its points and ending with exit
# code 0 when the control window is closed.
#   tests/install/check.sh BUILD_DIR   (a Release build whose .deb cpack made)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?usage: check.sh BUILD_DIR}" && pwd)
id=io.github.vost.vost
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
for p in libc6 libqt6widgets6 libqt6gui6; do
  grep -Eq "(^|, )$p( |,|$)" <<<"$depends" || fail "Depends lacks $p"
done

step "the package's vost, given a sample on its command line, on a private display"
# The sample shows in the view, and the control window's close ends the
# program with exit code 0.
/usr/bin/python3 - "$here/../e2e" "$tree/usr/bin/vost" "$work" "$here/../../samples/helix.xyz" <<'EOF' ||
import sys
sys.path.insert(0, sys.argv[1])
from harness import BUTTON, PrivateDisplay, wait_for
with PrivateDisplay(*sys.argv[2:4], args=sys.argv[4:]) as s:
    s.click(s.find("control"), *BUTTON)
    wait_for(lambda: s.reds(s.find("view")), "the sample in the view", 120)
    code = s.exit_code(closing=s.find("control"))
sys.exit(code)
EOF
  fail "the package's program did not show the sample and end with 0 (its log: $work/log.txt)"
echo "install check passed"

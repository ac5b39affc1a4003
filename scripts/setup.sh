#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the viewer need,
# only those that are missing.
set -euo pipefail

packages=(
  cmake g++ make pkg-config clang libclang-rt-dev clang-format
  qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev
  libgl-dev libxcb1-dev libgl1-mesa-dri libglx-mesa0 mesa-utils
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth xdotool x11-utils fonts-dejavu-core python3 python3-xlib python3-pil
  qt6-gtk-platformtheme openbox sway wtype grim qt6-wayland
  desktop-file-utils appstream dpkg-dev lintian locales
)

# The tests read numbers under a locale with a decimal comma too.
test_locale() {
  locale -a 2>/dev/null | grep -qix 'de_DE.utf8' && return 0
  if [ "$(id -u)" -eq 0 ]; then
    localedef -i de_DE -c -f UTF-8 de_DE.UTF-8
  else
    echo "Please generate the de_DE.UTF-8 locale: sudo localedef -i de_DE -c -f UTF-8 de_DE.UTF-8" >&2
  fi
}

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# Sway refuses to run as root: the Wayland end-to-end tests run it, and the
# program, as this user when they run as root.
if [ "$(id -u)" -eq 0 ] && ! id -u vost-wayland >/dev/null 2>&1; then
  useradd --system --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin vost-wayland
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  if [ "$(id -u)" -eq 0 ]; then
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
  elif command -v sudo >/dev/null && sudo -n true 2>/dev/null; then
    sudo apt-get update -qq
    sudo DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
  else
    echo "Please install the missing packages first:" >&2
    echo "  sudo apt-get install ${missing[*]}" >&2
    exit 1
  fi
fi
test_locale

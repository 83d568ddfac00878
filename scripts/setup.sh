#!/usr/bin/env bash
# Installs what building, testing and the demo of TAV need on Debian 12
# (chromium is the browser of the demo and of the end-to-end tests; clang the
# fuzz harnesses; GTK (with its SVG loader, icons and a font), Xvfb, openbox,
# xdotool and ImageMagick the desktop side and its tests; tshark
# the wire checks; lintian and desktop-file-utils the package). As root it
# uses apt-get; otherwise it lists the packages to install.
set -euo pipefail

packages=(cmake ninja-build g++ libgtest-dev libgmock-dev libbenchmark-dev
          iproute2 procps util-linux curl python3 clang-format chromium
          clang libclang-rt-14-dev
          libgtk-3-dev librsvg2-common adwaita-icon-theme fonts-dejavu-core
          xvfb xdotool openbox python3-pyatspi at-spi2-core imagemagick
          tshark lintian desktop-file-utils libcap2-bin man-db
          fakeroot)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' \
    || missing+=("$p")
done
if [[ ${#missing[@]} -eq 0 ]]; then
  exit 0
fi
if [[ $(id -u) -eq 0 ]]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
else
  echo "setup: please install these Debian packages first (as root):" >&2
  echo "  apt-get install ${missing[*]}" >&2
  exit 1
fi

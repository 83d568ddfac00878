#!/usr/bin/env bash
# Installs the Debian 12 packages TAV needs, in parts; each caller names the
# parts it uses (none named: all of them).
#   scripts/setup.sh [build] [demo] [test] [package]
# build    compiler, CMake, Ninja, GTK 3 and GoogleTest
# demo     Chromium (the demo's and the end-to-end tests' browser), a font,
#          GTK's SVG loader and icons, and the network tools of the demo
# test     clang (fuzz harnesses), benchmarks, clang-format, Xvfb (and
#          xauth for xvfb-run), openbox, xdotool, ImageMagick and the
#          accessibility bus (desktop tests), tshark (wire checks), lintian,
#          desktop-file-utils, man-db, curl
# package  dpkg-dev (hardening flags, library dependencies) and file (CPack)
# It prints what it installs and how much that downloads, then installs as
# root, without recommended packages; another user is given the one
# apt-get line to run.
set -euo pipefail

declare -A part=(
  [build]="g++ cmake ninja-build pkg-config libgtk-3-dev libgtest-dev
           libgmock-dev"
  [demo]="python3 iproute2 procps util-linux chromium fonts-dejavu-core
          librsvg2-common adwaita-icon-theme"
  [test]="clang libclang-rt-14-dev libbenchmark-dev clang-format xvfb
          xauth xdotool openbox python3-pyatspi at-spi2-core imagemagick
          tshark lintian desktop-file-utils libcap2-bin man-db curl"
  [package]="dpkg-dev file"
)
parts=("$@")
[[ ${#parts[@]} -eq 0 ]] && parts=(build demo test package)
packages=()
for p in "${parts[@]}"; do
  [[ -n ${part[$p]:-} ]] || { echo "setup: unknown part '$p' (${!part[*]})" >&2; exit 2; }
  read -ra more <<<"${part[$p]//$'\n'/ }"
  packages+=("${more[@]}")
done

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' \
    || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0
line="apt-get install --no-install-recommends ${missing[*]}"

# What the installation downloads: its archives, dependencies included.
download() {
  apt-get install --print-uris -qq --no-install-recommends "${missing[@]}" \
    2>/dev/null | awk '{n++; s += $3} END {
      printf "%d packages, %.0f MB to download", n, s / 1e6 }'
}
if [[ $(id -u) -ne 0 ]]; then
  echo "setup: please install these Debian packages first (as root):" >&2
  echo "  $line" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
echo "setup: for ${parts[*]}: ${missing[*]}"
echo "setup: with their dependencies: $(download)"
apt-get install -y -q --no-install-recommends "${missing[@]}"

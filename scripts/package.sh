#!/usr/bin/env bash
# Builds the Debian package tav_<version>_<arch>.deb into build/package/:
# a release build of tav with Debian's hardening flags (build/package/tree),
# installed under /usr and packed by CPack from the same install rules that
# `cmake --install` follows. The simulator is not in the package. It first
# installs what it needs (scripts/setup.sh build package).
#   scripts/package.sh [extra cmake options...]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh build package

if [[ -z ${CMAKE_CXX_COMPILER_LAUNCHER:-} ]] && command -v ccache >/dev/null; then
  export CMAKE_CXX_COMPILER_LAUNCHER=ccache
fi
out=build/package
tree=$out/tree
flags() { DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get "$1"; }
cmake -S . -B "$tree" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON \
  "-DCMAKE_CXX_FLAGS=$(flags CPPFLAGS) $(flags CXXFLAGS)" \
  "-DCMAKE_EXE_LINKER_FLAGS=$(flags LDFLAGS)" \
  -DCPACK_OUTPUT_FILE_PREFIX="$PWD/$out" "$@" >/dev/null
cmake --build "$tree" --target tav tav_docs
rm -f "$out"/tav_*.deb
(cd "$tree" && cpack -G DEB >/dev/null)
ls "$out"/tav_*.deb

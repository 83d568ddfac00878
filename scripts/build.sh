#!/usr/bin/env bash
# Builds TAV into build/<name> (default build/debug).
#   scripts/build.sh [name] [extra cmake options...]
# Names: debug (default), release, asan (AddressSanitizer + UBSan), tsan,
# fuzz (clang, libFuzzer harnesses only).
set -euo pipefail
cd "$(dirname "$0")/.."
name=${1:-debug}
shift || true
opts=(-G Ninja -DCMAKE_BUILD_TYPE=Debug)
case "$name" in
  release) opts=(-G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
  asan) opts+=(-DTAV_SANITIZE=address) ;;
  tsan) opts+=(-DTAV_SANITIZE=thread) ;;
  fuzz) opts+=(-DTAV_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++) ;;
esac
cmake -S . -B "build/$name" "${opts[@]}" "$@" >/dev/null
cmake --build "build/$name" -j "$(nproc)"

#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite: a normal build with
# warnings as errors, then AddressSanitizer + UBSan, then ThreadSanitizer.
#   scripts/test.sh            all three builds
#   scripts/test.sh debug      one build (debug, asan or tsan)
# Tests run inside private network namespaces; as root they also build
# networks of several test hosts. Nothing is sent outside them.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

builds=("$@")
[[ ${#builds[@]} -eq 0 ]] && builds=(debug asan tsan)
for b in "${builds[@]}"; do
  case "$b" in
    debug | asan | tsan) ;;
    *) echo "test: unknown build '$b' (debug, asan or tsan)" >&2; exit 2 ;;
  esac
done

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}

start=$SECONDS
for b in "${builds[@]}"; do
  echo "=== build $b ($((SECONDS - start)) s)"
  scripts/build.sh "$b" -DTAV_WERROR=ON
  echo "=== test $b ($((SECONDS - start)) s)"
  (cd "build/$b" && ctest --output-on-failure --no-tests=error --timeout 1500)
done
echo "=== all passed: ${builds[*]} ($((SECONDS - start)) s)"

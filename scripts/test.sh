#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite: a normal build with
# warnings as errors, then AddressSanitizer + UBSan, then ThreadSanitizer,
# then every fuzz harness for a short fixed time.
#   scripts/test.sh            all of it
#   scripts/test.sh debug      one build (debug, asan, tsan or fuzz)
# Tests run inside private network namespaces; as root they also build
# networks of several test hosts. Nothing is sent outside them.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

builds=("$@")
[[ ${#builds[@]} -eq 0 ]] && builds=(debug asan tsan fuzz)
for b in "${builds[@]}"; do
  case "$b" in
    debug | asan | tsan | fuzz) ;;
    *) echo "test: unknown build '$b' (debug, asan, tsan or fuzz)" >&2; exit 2 ;;
  esac
done

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}

start=$SECONDS
for b in "${builds[@]}"; do
  if [[ $b == fuzz ]]; then
    echo "=== fuzz ($((SECONDS - start)) s)"
    scripts/fuzz.sh "${TAV_FUZZ_SECONDS:-10}"
    continue
  fi
  echo "=== build $b ($((SECONDS - start)) s)"
  scripts/build.sh "$b" -DTAV_WERROR=ON
  echo "=== test $b ($((SECONDS - start)) s)"
  (cd "build/$b" && ctest --output-on-failure --no-tests=error --timeout 1500)
done
echo "=== all passed: ${builds[*]} ($((SECONDS - start)) s)"

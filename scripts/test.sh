#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite: a normal build with
# warnings as errors, then AddressSanitizer + UBSan, then ThreadSanitizer,
# then every fuzz harness for a short fixed time, then (as root) the Debian
# package: built, checked, installed, used by an ordinary user and purged.
#   scripts/test.sh            all of it
#   scripts/test.sh debug      one step (debug, asan, tsan, fuzz or package)
# Tests run inside private network namespaces; as root they also build
# networks of several test hosts. Nothing is sent outside them.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh build demo test package

builds=("$@")
[[ ${#builds[@]} -eq 0 ]] && builds=(debug asan tsan fuzz package)
for b in "${builds[@]}"; do
  case "$b" in
    debug | asan | tsan | fuzz | package) ;;
    *) echo "test: unknown build '$b' (debug, asan, tsan, fuzz or package)" >&2; exit 2 ;;
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
  if [[ $b == package ]]; then
    echo "=== package ($((SECONDS - start)) s)"
    if [[ $(id -u) -eq 0 ]]; then
      tests/package/package_test.sh
    else
      echo "package: skipped, it installs the package and needs root"
    fi
    continue
  fi
  echo "=== build $b ($((SECONDS - start)) s)"
  scripts/build.sh "$b" -DTAV_WERROR=ON
  echo "=== test $b ($((SECONDS - start)) s)"
  (cd "build/$b" && ctest --output-on-failure --no-tests=error --timeout 1500)
done
echo "=== all passed: ${builds[*]} ($((SECONDS - start)) s)"

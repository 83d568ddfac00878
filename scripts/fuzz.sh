#!/usr/bin/env bash
# Builds the fuzz harnesses (build/fuzz) and runs each for a fixed time.
#   scripts/fuzz.sh [seconds per harness] [harness names...]
# Default 10 s each (the CI step). Each run starts from the seed corpus in
# tests/fuzz/corpus/<name>/ and works in a scratch copy, so the tree is left
# as it was; crashes are written to build/fuzz/crashes/. Prints, per harness,
# the executions made and the result.
set -euo pipefail
cd "$(dirname "$0")/.."
secs=${1:-10}
shift || true
scripts/build.sh fuzz >/dev/null
names=("$@")
if [[ ${#names[@]} -eq 0 ]]; then
  for f in tests/fuzz/*_fuzz.cc; do names+=("$(basename "$f" .cc)"); done
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p build/fuzz/crashes
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
failed=0
for n in "${names[@]}"; do
  seed=tests/fuzz/corpus/${n%_fuzz}
  mkdir -p "$work/$n"
  [[ -d $seed ]] && cp -r "$seed/." "$work/$n/"
  log=build/fuzz/$n.log
  if "build/fuzz/$n" -max_total_time="$secs" -timeout=10 -rss_limit_mb=2048 \
       -artifact_prefix="build/fuzz/crashes/$n-" -print_final_stats=1 \
       "$work/$n" >"$log" 2>&1; then
    result=clean
  else
    result="FAILED (see $log)"
    failed=1
  fi
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo '?')
  echo "fuzz: $n: $runs executions in ${secs} s: $result"
done
exit "$failed"

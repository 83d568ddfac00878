#!/usr/bin/env bash
# Builds what is missing and runs tav inside a private network namespace of
# its own, never on this machine's network: `unshare -n` as root (with the
# loopback brought up), `unshare -rn` otherwise. Arguments go to tav, e.g.
#   scripts/run-demo.sh              the normal run
#   scripts/run-demo.sh -Configure   the settings dialog
# The demo keeps its settings in build/demo/registry.reg unless TAV_REGISTRY
# says otherwise.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
if [[ ! -f build/debug/build.ninja ]]; then
  scripts/build.sh debug
else
  cmake --build build/debug --target tav
fi

mkdir -p build/demo
export TAV_REGISTRY=${TAV_REGISTRY:-$PWD/build/demo/registry.reg}
tav=$PWD/build/debug/tav
ip_cmd=$(PATH=$PATH:/usr/sbin:/sbin command -v ip || true)
if [[ -z "$ip_cmd" ]]; then
  echo "run-demo: the ip command (iproute2) is needed" >&2
  exit 1
fi

if [[ $(id -u) -eq 0 ]]; then
  unshare_opts=(-n)
else
  unshare_opts=(-rn)
fi
# The inner shell only starts tav once the namespace exists; if unshare
# fails, nothing runs at all.
exec unshare "${unshare_opts[@]}" bash -c '
  "$1" link set lo up || exit 1
  shift
  exec "$@"' run-demo "$ip_cmd" "$tav" "$@"

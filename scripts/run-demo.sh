#!/usr/bin/env bash
# The demo: installs what building and the demo need (scripts/setup.sh
# build demo), builds tav and the unit simulator when missing, then runs
# tav's normal mode on a private network of simulated units with a browser,
# and tears everything down when the browser closes (scripts/demo.py).
# Nothing is sent on this machine's own network. The network has two
# subnets behind a router (in a user namespace when not root; only a
# loopback, with fewer units and no router, where namespaces cannot be
# made). Without a display the browser is headless Chromium and the demo
# prints what it saw.
#   scripts/run-demo.sh [--headless | --desktop]
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh build demo
echo "run-demo: building tav and tav-sim (build/debug)"
if [[ ! -f build/debug/build.ninja ]]; then
  cmake -S . -B build/debug -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
fi
cmake --build build/debug --target tav tav-sim | grep -v '^ninja: no work' || true
exec python3 scripts/demo.py --build build/debug "$@"

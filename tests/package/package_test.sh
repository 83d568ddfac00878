#!/usr/bin/env bash
# The Debian package as a user meets it: built with scripts/package.sh,
# checked by lintian, installed with apt-get, then used by an ordinary user
# made for the test (tav --version; a normal run on a private network of
# simulated units, port 34 bound thanks to the file capability; the manual
# page), and purged, leaving none of its files behind.
#   tests/package/package_test.sh [tav_<version>_<arch>.deb]
# Needs root (apt-get, useradd, ip netns); skips with status 77 otherwise.
# TAV_PACKAGE_IPX picks the IPX stack of tav and of the simulated units:
# ethernet (default: raw frames, which the ordinary user may send thanks to
# the package's cap_net_raw) or ipv4.
set -euo pipefail
cd "$(dirname "$0")/../.."

if [[ $(id -u) -ne 0 ]]; then
  echo "package test: skipped, it installs a package and needs root"
  exit 77
fi
if dpkg-query -W -f='${Status}' tav 2>/dev/null | grep -q 'ok installed'; then
  echo "package test: a tav package is installed already; remove it first" >&2
  exit 1
fi

ipx=${TAV_PACKAGE_IPX:-ethernet}
tag=tavpkg$$
work=$(mktemp -d /tmp/tav-package-XXXXXX)
chmod 755 "$work"
host_ns=$tag-host
units_ns=$tag-units
user=$tag
installed=no
sim_pid=

fail() {
  echo "package test: FAILED: $*" >&2
  exit 1
}

cleanup() {
  [[ -n $sim_pid ]] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" || true
  ip netns del "$host_ns" 2>/dev/null || true
  ip netns del "$units_ns" 2>/dev/null || true
  if id "$user" >/dev/null 2>&1; then userdel "$user" || true; fi
  if [[ $installed == yes ]]; then
    apt-get purge -y -qq tav >/dev/null 2>&1 || true
  fi
  if [[ -n ${TAV_PACKAGE_KEEP:-} ]]; then
    echo "package test: working files kept in $work"
  else
    rm -rf "$work"
  fi
}
trap cleanup EXIT

# Runs a command as the test's ordinary user, with a clean environment.
as_user() {
  setpriv --reuid="$user" --regid="$user" --clear-groups -- \
    env -i HOME="$work" PATH=/usr/bin:/bin LANG=C.UTF-8 "$@"
}

echo "--- build"
deb=${1:-}
if [[ -z $deb ]]; then
  deb=$(scripts/package.sh -DTAV_WERROR=ON | tail -n 1)
fi
deb=$(realpath "$deb")
sim=${TAV_PACKAGE_SIM:-build/package/tree/tav-sim}
if [[ ! -x $sim ]]; then
  cmake --build build/package/tree --target tav-sim >/dev/null
fi
sim=$(realpath "$sim")

echo "--- lintian"
# Every tag shown; errors and warnings fail (the README explains the rest).
status=0
lintian --fail-on error,warning --pedantic --display-info "$deb" \
  >"$work/lintian.log" 2>&1 || status=$?
grep -v '^running with root privileges' "$work/lintian.log" || true
[[ $status -eq 0 ]] || fail "lintian reports errors or warnings"

echo "--- install"
apt-get install -y -qq -o DPkg::Lock::Timeout=300 "$deb" >"$work/apt.log" 2>&1 \
  || { cat "$work/apt.log"; fail "apt-get install"; }
installed=yes
dpkg -L tav >"$work/files"
grep -qx /usr/bin/tav "$work/files" || fail "no /usr/bin/tav"
if grep -q sim "$work/files"; then fail "the simulator is in the package"; fi
getcap /usr/bin/tav | grep -q 'cap_net_bind_service,cap_net_raw=ep' \
  || fail "capabilities not granted: $(getcap /usr/bin/tav)"
for entry in tav tav-settings; do
  desktop-file-validate "/usr/share/applications/$entry.desktop" \
    || fail "$entry.desktop"
  grep -qx Icon=tav "/usr/share/applications/$entry.desktop" \
    || fail "$entry.desktop names another icon"
done
shot=$(realpath build/package)/menu-entries.png
xvfb-run -a -s "-screen 0 360x180x24" env -u XDG_DATA_DIRS -u XDG_DATA_HOME \
  /usr/bin/python3 tests/package/menu_entries.py "$shot" || fail "menu entries"
echo "menu entries with their icon: $shot"

echo "--- as user $user"
useradd --system --no-create-home --shell /usr/sbin/nologin "$user"
uid=$(id -u "$user")
chown "$user:" "$work"
version=$(as_user tav --version)
[[ $version == "TAV 4.00" ]] || fail "tav --version printed '$version'"
as_user sh -c 'MANPAGER=cat MANWIDTH=80 man -l /usr/share/man/man1/tav.1.gz' \
  >"$work/man.txt" 2>"$work/man.err" || fail "man -l: $(cat "$work/man.err")"
for section in NAME SYNOPSIS ENVIRONMENT "EXIT STATUS" PRIVILEGES EXAMPLES; do
  grep -q "^$section" "$work/man.txt" || fail "manual page lacks $section"
done
as_user man --warnings -E UTF-8 -l -Tutf8 -Z /usr/share/man/man1/tav.1.gz \
  2>"$work/man.err" >/dev/null
[[ ! -s $work/man.err ]] || fail "manual page warnings: $(cat "$work/man.err")"

echo "--- normal run on a private network (IPX over $ipx)"
# Two hosts joined by a veth pair: tav's host .10, the units' host .50 to
# .100. Nothing is attached to the machine's own network.
ip netns add "$host_ns"
ip netns add "$units_ns"
ip -n "$host_ns" link add eth0 type veth peer name eth0 netns "$units_ns"
for ns in "$host_ns" "$units_ns"; do ip -n "$ns" link set lo up; done
ip -n "$host_ns" addr add 10.78.1.10/24 broadcast + dev eth0
for a in 50 100; do
  ip -n "$units_ns" addr add "10.78.1.$a/24" broadcast + dev eth0
done
for ns in "$host_ns" "$units_ns"; do ip -n "$ns" link set eth0 up; done
TAV_IPX=$ipx ip netns exec "$units_ns" "$sim" --lifetime=300 \
  --ready-file="$work/sim.ready" \
  --unit 'name=Lobby,ip=10.78.1.100,hw=00-40-AF-0C-35-08,description="LaserJet 4000",http=80' \
  --unit 'name=VEM_000417,ip=10.78.1.50,ipx=on,snmp=off,desc="Print Server",http=16385' \
  >"$work/sim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do [[ -e $work/sim.ready ]] && break; sleep 0.2; done
[[ -e $work/sim.ready ]] || fail "the simulator did not start: $(cat "$work/sim.log")"

# The browser: reads the page, fetches the IPX unit's page through the
# gateway, and ends with a status other than 0, so that tav takes it for a
# browser that was closed and ends too.
cat >"$work/browser" <<EOF
#!/bin/sh
page=\${1#\\"}; page=\${page%\\"}
{ id -u; cat "\$page"; echo '--- unit'
  curl -sS --max-time 20 --noproxy '*' http://10.78.1.10:34/VEM_000417-HTML/
} >"$work/browser.out" 2>&1
exit 3
EOF
chmod 755 "$work/browser"
mkdir "$work/pages" && chown "$user:" "$work/pages"
cp /usr/bin/tav "$work/tav-without-capabilities"

run_tav() {
  (cd "$work" && ip netns exec "$host_ns" setpriv --reuid="$user" \
    --regid="$user" --clear-groups -- env -i HOME="$work" \
    PATH=/usr/bin:/bin TAV_REGISTRY="$work/registry.reg" \
    TAV_PAGE_DIR="$work/pages" TAV_DEBUG="$work/tav-debug.log" \
    TAV_UI=console TAV_IPX="$ipx" BROWSER="$work/browser" \
    TAV_CATALOGUE=/usr/share/tav/resc.cat timeout 180 "$1" \
    </dev/null >"$work/tav.log" 2>&1)
}

# Without the capability the user may not bind port 34 (nor the alternate
# 80): proves that the run below owes its port to the package.
status=0; run_tav "$work/tav-without-capabilities" || status=$?
[[ $status -eq 255 ]] && grep -q 'TCP port 34' "$work/tav.log" \
  || fail "tav without capabilities: status $status: $(cat "$work/tav.log")"

status=0; run_tav /usr/bin/tav || status=$?
out=$work/browser.out
[[ $status -eq 1 ]] || fail "tav ended with $status: $(cat "$work/tav.log")"
[[ -f $out ]] || fail "the browser never ran: $(cat "$work/tav.log")"
[[ $(head -n 1 "$out") == "$uid" ]] || fail "the browser ran as $(head -n 1 "$out")"
grep -q 'http://10.78.1.100/' "$out" || fail "IP unit not on the page: $(cat "$out")"
grep -q 'http://10.78.1.10:34/VEM_000417-HTML/' "$out" \
  || fail "IPX unit not on the page: $(cat "$out")"
sed -n '/^--- unit/,$p' "$out" | grep -q '<TITLE>VEM_000417</TITLE>' \
  || fail "no unit page through the gateway: $(cat "$out")"
[[ -z $(ls -A "$work/pages") ]] || fail "tav left its pages: $(ls "$work/pages")"

echo "--- purge"
apt-get purge -y -qq -o DPkg::Lock::Timeout=300 tav >"$work/apt.log" 2>&1 \
  || { cat "$work/apt.log"; fail "apt-get purge"; }
installed=no
left=()
while read -r path; do
  if [[ -d $path && ! -L $path ]]; then
    dpkg -S "$path" >/dev/null 2>&1 || left+=("$path")
  elif [[ -e $path || -L $path ]]; then
    left+=("$path")
  fi
done <"$work/files"
[[ ${#left[@]} -eq 0 ]] || fail "left after purge: ${left[*]}"

echo "package test: passed"

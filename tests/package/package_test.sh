#!/usr/bin/env bash
# The Debian package built, checked, installed, run by a user, purged (root).
#   [TAV_PACKAGE_IPX=ipv4] tests/package/package_test.sh [tav_*.deb]
set -euo pipefail
cd "$(dirname "$0")/../.."

[[ $(id -u) -eq 0 ]] || { echo "package test: skipped: needs root"; exit 77; }
fail() { echo "package test: FAILED: $*" >&2; exit 1; }
! dpkg-query -W -f='${Status}' tav 2>/dev/null | grep -q 'ok installed' ||
  fail "a tav package is installed already; remove it first"

ipx=${TAV_PACKAGE_IPX:-ethernet}
user=tavpkg$$
work=$(mktemp -d /tmp/tav-package-XXXXXX)
chmod 755 "$work"

cleanup() {
  set +e
  [[ -n ${sim_pid:-} ]] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid"
  for ns in host units; do ip netns del "$user-$ns" 2>/dev/null; done
  id "$user" >/dev/null 2>&1 && userdel "$user"
  apt-get purge -y -qq tav >/dev/null 2>&1
  [[ -z ${TAV_PACKAGE_KEEP:-} ]] && rm -rf "$work" || echo "kept: $work"
}
trap cleanup EXIT
apt() {
  apt-get "$@" -y -qq -o DPkg::Lock::Timeout=300 >"$work/apt.log" 2>&1 \
    || { cat "$work/apt.log"; fail "apt-get $*"; }
}

echo "--- build"
deb=$(realpath "${1:-$(scripts/package.sh -DTAV_WERROR=ON | tail -n 1)}")
sim=${TAV_PACKAGE_SIM:-build/package/tree/tav-sim}
[[ -x $sim ]] || cmake --build build/package/tree --target tav-sim >/dev/null
sim=$(realpath "$sim")

echo "--- lintian"
# Every tag shown; errors and warnings fail.
lintian --fail-on error,warning --pedantic --display-info "$deb" 2>&1 |
  { grep -v '^running with root privileges' || true; } ||
  fail "lintian reports errors or warnings"

echo "--- install"
apt install "$deb"
dpkg -L tav >"$work/files"
if grep -q sim "$work/files"; then fail "the simulator is in the package"; fi
getcap /usr/bin/tav | grep -q 'cap_net_bind_service,cap_net_raw=ep' \
  || fail "capabilities not granted: $(getcap /usr/bin/tav)"
desktop-file-validate /usr/share/applications/tav{,-settings}.desktop \
  || fail "desktop files"
shot=$(realpath build/package)/menu-entries.png
xvfb-run -a -s "-screen 0 360x180x24" env -u XDG_DATA_DIRS -u XDG_DATA_HOME \
  /usr/bin/python3 tests/package/menu_entries.py "$shot" || fail "menu entries"
echo "menu entries with their icon: $shot"

echo "--- service"
unit=$(grep '/tav.service$' "$work/files") || fail "no tav.service"
systemd-analyze verify "$unit" || fail "systemd-analyze verify $unit"
[[ ! -e /etc/systemd/system/multi-user.target.wants/tav.service ]] ||
  fail "tav.service is enabled"
score=$(systemd-analyze security --offline=yes "$unit" 2>&1 |
  sed -n 's/.*Overall exposure level for tav.service: \([0-9.]*\).*/\1/p')
echo "systemd-analyze security: $score"
awk -v s="$score" 'BEGIN { exit !(s != "" && s < 3.0) }' ||
  fail "exposure $score, not below 3.0"

echo "--- normal run as user $user on a private network (IPX over $ipx)"
useradd --system --no-create-home --shell /usr/sbin/nologin "$user"
for ns in host units; do ip netns add "$user-$ns"; done
ip -n "$user-host" link add eth0 type veth peer name eth0 netns "$user-units"
for ns_address in host/10 units/50 units/100; do
  ip -n "$user-${ns_address%/*}" addr add "10.78.1.${ns_address#*/}/24" \
    broadcast + dev eth0
done
for ns in host units; do
  for device in lo eth0; do ip -n "$user-$ns" link set "$device" up; done
done
TAV_IPX=$ipx ip netns exec "$user-units" "$sim" --lifetime=300 \
  --ready-file="$work/sim.ready" \
  --unit 'name=Lobby,ip=10.78.1.100,hw=00-40-AF-0C-35-08,description="LaserJet 4000",http=80' \
  --unit 'name=VEM_000417,ip=10.78.1.50,ipx=on,snmp=off,desc="Print Server",http=16385' \
  >"$work/sim.log" 2>&1 &
sim_pid=$!
timeout 20 sh -c "until [ -e '$work/sim.ready' ]; do sleep 0.2; done" ||
  fail "the simulator did not start: $(cat "$work/sim.log")"

# The browser reads the page and the IPX unit's page, then fails (closed).
install -m 755 /dev/stdin "$work/browser" <<EOF
#!/bin/sh
page=\${1#\\"}; page=\${page%\\"}
{ cat "\$page"; echo '--- unit'
  curl -sS --max-time 20 --noproxy '*' http://10.78.1.10:34/VEM_000417-HTML/
} >"$work/browser.out" 2>&1
exit 3
EOF
mkdir "$work/pages"
chown "$user:" "$work" "$work/pages"
cp /usr/bin/tav "$work/tav-without-capabilities"

run_tav() { # program status; fails unless it ends with status
  local status=0
  (cd "$work" && ip netns exec "$user-host" setpriv --reuid="$user" \
    --regid="$user" --clear-groups -- env -i HOME="$work" \
    PATH=/usr/bin:/bin TAV_REGISTRY="$work/registry.reg" \
    TAV_PAGE_DIR="$work/pages" TAV_DEBUG="$work/tav-debug.log" \
    TAV_UI=console TAV_IPX="$ipx" BROWSER="$work/browser" \
    TAV_CATALOGUE=/usr/share/tav/resc.cat timeout 180 "$1" \
    </dev/null >"$work/tav.log" 2>&1) || status=$?
  [[ $status -eq $2 ]] || fail "$1 ended with $status: $(cat "$work/tav.log")"
}

# Without the capabilities the user may bind neither port 34 nor 80.
run_tav "$work/tav-without-capabilities" 255
grep -q 'TCP port 34' "$work/tav.log" || fail "no 108: $(cat "$work/tav.log")"

run_tav /usr/bin/tav 1
out=$(cat "$work/browser.out") || fail "the browser never ran"
for expected in 'http://10.78.1.100/' 'http://10.78.1.10:34/VEM_000417-HTML/' \
  '--- unit.*<TITLE>VEM_000417</TITLE>'; do
  [[ $out =~ $expected ]] || fail "browser saw no '$expected': $out"
done

echo "--- purge"
apt purge tav
# Left: any file, or a folder no other package owns.
left=$(while read -r p; do
  [[ -e $p || -L $p ]] && ! { [[ -d $p && ! -L $p ]] &&
    dpkg -S "$p" >/dev/null 2>&1; } && echo "$p"
done <"$work/files") || true
[[ -z $left ]] || fail "left after purge: $left"

echo "package test: passed"

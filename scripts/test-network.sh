#!/usr/bin/env bash
# Starts or tears down the two-subnet test network with simulated units, for
# trying the program by hand. Needs root. Everything lives in namespaces of
# its own (the host too), so the machine's own network is never touched.
#   scripts/test-network.sh up [UNITS_PER_SUBNET]   (default 3)
#   scripts/test-network.sh down
# Then: ip netns exec tavnet_host build/debug/tav -install
# Layout: tavnet_host 10.77.1.10 on bridge br0 (in tavnet_host) with
# tavnet_ua (units 10.77.1.100...), tavnet_rip 10.77.1.2 (RIP responder
# announcing 10.77.2.0) and tavnet_rt 10.77.1.1 / 10.77.2.1 (router with
# directed-broadcast forwarding) leading to tavnet_ub (units 10.77.2.100...).
set -euo pipefail
cd "$(dirname "$0")/.."
sim=${TAV_SIM:-build/debug/tav-sim}
state=/tmp/tavnet
names=(tavnet_host tavnet_ua tavnet_rip tavnet_rt tavnet_ub)

down() {
  for f in "$state"/*.pid; do [ -e "$f" ] && kill "$(cat "$f")" 2>/dev/null || true; done
  rm -rf "$state"
  for n in "${names[@]}"; do ip netns del "$n" 2>/dev/null || true; done
}

# link NS IF BRIDGE_NS BRIDGE [ADDRESS/PREFIX]
link() {
  local peer="tvn$RANDOM"
  ip -n "$1" link add "$2" type veth peer name "$peer" netns "$3"
  ip -n "$3" link set "$peer" master "$4" up
  ip -n "$1" link set "$2" up
  [ -z "${5:-}" ] || ip -n "$1" addr add "$5" brd + dev "$2"
}

units() {  # NS SUBNET COUNT FIRST_NUMBER
  local args=()
  for ((i = 0; i < $3; i++)); do
    ip -n "$1" addr add "$2.$((100 + i))/24" brd + dev eth0
    local n=$((($4 + i) * 8))
    args+=(--unit "name=$1_$i,ip=$2.$((100 + i)),hw=$(printf '00-40-AF-%02X-%02X-%02X' \
      $((n >> 16 & 255)) $((n >> 8 & 255)) $((n & 255))),description=Simulated unit $i")
  done
  ip netns exec "$1" "$sim" "${args[@]}" >"$state/$1.log" 2>&1 &
  echo $! >"$state/$1.pid"
}

up() {
  local count=${1:-3}
  down
  mkdir -p "$state"
  for n in "${names[@]}"; do ip netns add "$n"; ip -n "$n" link set lo up; done
  ip -n tavnet_host link add br0 type bridge forward_delay 0
  ip -n tavnet_host link set br0 up
  ip -n tavnet_host addr add 10.77.1.10/24 brd + dev br0
  ip -n tavnet_host route add 10.77.2.0/24 via 10.77.1.1
  link tavnet_ua eth0 tavnet_host br0
  link tavnet_rip eth0 tavnet_host br0 10.77.1.2/24
  link tavnet_rt eth0 tavnet_host br0 10.77.1.1/24
  ip -n tavnet_rt link add br1 type bridge forward_delay 0
  ip -n tavnet_rt link set br1 up
  ip -n tavnet_rt addr add 10.77.2.1/24 brd + dev br1
  link tavnet_ub eth0 tavnet_rt br1
  ip -n tavnet_ua route add default via 10.77.1.1 dev eth0 onlink
  ip -n tavnet_ub route add default via 10.77.2.1 dev eth0 onlink
  ip netns exec tavnet_rt sysctl -qw net.ipv4.ip_forward=1 \
    net.ipv4.conf.all.bc_forwarding=1 net.ipv4.conf.eth0.bc_forwarding=1 \
    net.ipv4.conf.br1.bc_forwarding=1
  units tavnet_ua 10.77.1 "$count" 100001
  units tavnet_ub 10.77.2 "$count" 200001
  ip netns exec tavnet_rip "$sim" --router ip=10.77.1.2,version=1,routes=10.77.2.0/1 \
    >"$state/tavnet_rip.log" 2>&1 &
  echo $! >"$state/tavnet_rip.pid"
  echo "test network up: ip netns exec tavnet_host <command>"
}

case "${1:-}" in
  up) up "${2:-3}" ;;
  down) down ;;
  *) echo "usage: $0 up [UNITS_PER_SUBNET] | down" >&2; exit 2 ;;
esac

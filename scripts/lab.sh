#!/usr/bin/env bash
# The network lab: network namespaces joined by veth pairs, so the utility's limited broadcast
# (255.255.255.255) can be sent for real and reach only simulated routers.
#
#   client namespace  lab0 198.18.0.1/24 ---- lab1 198.18.0.2/24 + .10-.49  router namespace
#                     lab2 198.18.1.1/24 ---- lab3 198.18.1.2/24 + .10-.49  router2 namespace
#                                             lab4 198.18.2.1/24 (forwards)
#                                                  |
#                                             lab5 198.18.2.2/24 + .10-.49  router3 namespace
#
# The client has two segments of its own (198.18.0.0/24, 198.18.1.0/24); the third
# (198.18.2.0/24) is routed through router2, which forwards unicast and directed broadcasts
# (198.18.2.255) but, like every router, never a limited broadcast.
#
# Usage:
#   lab.sh up                    make a lab; print "export ..." lines for its names
#   lab.sh down [ID]             remove the lab ID (default $CORVALINK_LAB_ID)
#   lab.sh run -- CMD [ARG...]   make a lab, run CMD in the client namespace with the lab's
#                                variables exported, remove the lab on every exit path;
#                                exits with CMD's status
#   lab.sh exec client|router|router2|router3 CMD [ARG...]
#                                run CMD in a namespace of $CORVALINK_LAB_ID
#   lab.sh faults client|router [loss=PCT] [dup=PCT] [keep-ack=N] [lose-ack=N]
#                                nftables faults on that side's veth end of $CORVALINK_LAB_ID:
#                                PCT% of the UDP datagrams arriving there are dropped, PCT% of
#                                those leaving it are sent twice; a TFTP ACK of block N arriving
#                                there is never dropped (keep-ack) or always dropped (lose-ack);
#                                no argument removes that side's faults
#
# Needs root and iproute2 ("ip"). Without them it says why and exits with 77 (the usual
# "skipped" status of test drivers).
set -euo pipefail

readonly SKIP=77
SCRIPT=$(cd "$(dirname "$0")" && pwd)/$(basename "$0")
readonly SCRIPT
# The nftables table that holds the injected faults, one per namespace.
readonly FAULT_TABLE=corvalink_faults
readonly NET_PREFIX=198.18.0
readonly CLIENT_IP=$NET_PREFIX.1
readonly ROUTER_IP=$NET_PREFIX.2
# Extra router-side addresses, one per simulated router (router_sim --routers N uses .10 on).
readonly EXTRA_FIRST=10
readonly EXTRA_LAST=49
# The client's second segment, and the segment routed through its router namespace.
readonly NET2_PREFIX=198.18.1
readonly CLIENT2_IP=$NET2_PREFIX.1
readonly ROUTER2_IP=$NET2_PREFIX.2
readonly NET3_PREFIX=198.18.2
readonly GATEWAY3_IP=$NET3_PREFIX.1
readonly ROUTER3_IP=$NET3_PREFIX.2

die_skip() {
  echo "lab.sh: $*; the lab is skipped" >&2
  exit "$SKIP"
}

usage() {
  sed -n '2,29p' "$0" | sed 's/^# \{0,1\}//'
  exit 2
}

check_can_make() {
  command -v ip >/dev/null 2>&1 || die_skip "iproute2 ('ip') is not installed"
  [ "$(id -u)" -eq 0 ] || die_skip "making network namespaces needs root (run as root or with sudo)"
}

client_ns() { echo "$1-c"; }
router_ns() { echo "$1-r"; }
router2_ns() { echo "$1-s"; }
router3_ns() { echo "$1-t"; }

# Prints the lab's variables as shell assignments.
print_env() {
  local id=$1
  cat <<EOF
export CORVALINK_LAB_ID=$id
export CORVALINK_LAB_CLIENT_NS=$(client_ns "$id")
export CORVALINK_LAB_ROUTER_NS=$(router_ns "$id")
export CORVALINK_LAB_CLIENT_IP=$CLIENT_IP
export CORVALINK_LAB_ROUTER_IP=$ROUTER_IP
export CORVALINK_LAB_ROUTER_EXEC='ip netns exec $(router_ns "$id")'
export CORVALINK_LAB_ROUTER2_NS=$(router2_ns "$id")
export CORVALINK_LAB_ROUTER3_NS=$(router3_ns "$id")
export CORVALINK_LAB_CLIENT2_IP=$CLIENT2_IP
export CORVALINK_LAB_ROUTER2_IP=$ROUTER2_IP
export CORVALINK_LAB_ROUTER3_IP=$ROUTER3_IP
export CORVALINK_LAB_ROUTER2_EXEC='ip netns exec $(router2_ns "$id")'
export CORVALINK_LAB_ROUTER3_EXEC='ip netns exec $(router3_ns "$id")'
export CORVALINK_LAB_SCRIPT=$SCRIPT
EOF
}

lab_down() {
  local id=$1 ns pid
  for ns in "$(client_ns "$id")" "$(router_ns "$id")" "$(router2_ns "$id")" "$(router3_ns "$id")"; do
    ip netns list 2>/dev/null | grep -q "^$ns\b" || continue
    # Whatever still runs in this lab's own namespaces was started for it (a simulator, a
    # TFTP server): end those processes by their ids before the namespace goes.
    for pid in $(ip netns pids "$ns" 2>/dev/null); do kill -TERM "$pid" 2>/dev/null || true; done
    for _ in 1 2 3 4 5 6 7 8 9 10; do
      [ -z "$(ip netns pids "$ns" 2>/dev/null)" ] && break
      sleep 0.1
    done
    for pid in $(ip netns pids "$ns" 2>/dev/null); do kill -KILL "$pid" 2>/dev/null || true; done
    # The fault rules live in the namespace; they are removed with it, first explicitly.
    ip netns exec "$ns" nft delete table netdev "$FAULT_TABLE" 2>/dev/null || true
    # Deleting a namespace deletes the veth end inside it, and with it the pair.
    ip netns delete "$ns" 2>/dev/null || true
  done
}

# Adds the namespace $1 of lab $2; on failure removes what the lab has so far.
add_ns() {
  ip netns add "$1" 2>/dev/null && return 0
  lab_down "$2"
  die_skip "cannot create network namespace $1"
}

# Router-side addresses PREFIX.2/24 on DEV, and PREFIX.10-.49/32, one per simulated router.
router_addresses() {
  local prefix=$1 dev=$2 i
  echo "addr add $prefix.2/24 broadcast $prefix.255 dev $dev"
  for ((i = EXTRA_FIRST; i <= EXTRA_LAST; i++)); do
    echo "addr add $prefix.$i/32 dev $dev"
  done
}

lab_up() {
  local id=$1
  local cns rns r2ns r3ns
  cns=$(client_ns "$id")
  rns=$(router_ns "$id")
  r2ns=$(router2_ns "$id")
  r3ns=$(router3_ns "$id")
  add_ns "$cns" "$id"
  add_ns "$rns" "$id"
  add_ns "$r2ns" "$id"
  add_ns "$r3ns" "$id"
  # Each pair is created inside one namespace with its peer placed straight into the other:
  # no end ever exists in the host's namespace.
  if ! ip -n "$cns" link add lab0 type veth peer name lab1 netns "$rns" ||
     ! ip -n "$cns" link add lab2 type veth peer name lab3 netns "$r2ns" ||
     ! ip -n "$r2ns" link add lab4 type veth peer name lab5 netns "$r3ns"; then
    lab_down "$id"
    die_skip "cannot create a veth pair"
  fi
  {
    echo "link set lo up"
    echo "addr add $CLIENT_IP/24 broadcast $NET_PREFIX.255 dev lab0"
    echo "link set lab0 up"
    echo "addr add $CLIENT2_IP/24 broadcast $NET2_PREFIX.255 dev lab2"
    echo "link set lab2 up"
    # The limited broadcast leaves by the first veth unless a program names the interface:
    # without this route a send to 255.255.255.255 fails with "network unreachable" in a
    # namespace with no default route.
    echo "route add 255.255.255.255/32 dev lab0"
    echo "route add $NET3_PREFIX.0/24 via $ROUTER2_IP dev lab2"
  } | ip -n "$cns" -batch - || { lab_down "$id"; die_skip "cannot configure $cns"; }
  {
    echo "link set lo up"
    router_addresses "$NET_PREFIX" lab1
    echo "link set lab1 up"
  } | ip -n "$rns" -batch - || { lab_down "$id"; die_skip "cannot configure $rns"; }
  {
    echo "link set lo up"
    router_addresses "$NET2_PREFIX" lab3
    echo "link set lab3 up"
    echo "addr add $GATEWAY3_IP/24 broadcast $NET3_PREFIX.255 dev lab4"
    echo "link set lab4 up"
  } | ip -n "$r2ns" -batch - || { lab_down "$id"; die_skip "cannot configure $r2ns"; }
  {
    echo "link set lo up"
    router_addresses "$NET3_PREFIX" lab5
    echo "link set lab5 up"
    echo "route add default via $GATEWAY3_IP dev lab5"
  } | ip -n "$r3ns" -batch - || { lab_down "$id"; die_skip "cannot configure $r3ns"; }
  # Forwarding in router2's namespace alone (these settings are per namespace): unicast both
  # ways, and a directed broadcast to 198.18.2.255 onto the third segment (the setting counts
  # on the interface it arrives by). A limited broadcast is never forwarded, by any router.
  if ! ip netns exec "$r2ns" sysctl -q -w net.ipv4.ip_forward=1 \
         net.ipv4.conf.all.bc_forwarding=1 net.ipv4.conf.lab3.bc_forwarding=1; then
    lab_down "$id"
    die_skip "cannot switch on forwarding in $r2ns"
  fi
  # A veth reports no carrier for a moment after both ends come up, and drops what is sent
  # until the kernel has marked it operational ("state UP"); wait (2 s at most) so the first
  # datagram of a test is not sent into a link that is not there yet.
  local _
  for _ in $(seq 1 20); do
    if ip -n "$cns" link show lab0 | grep -q "state UP" &&
       ip -n "$cns" link show lab2 | grep -q "state UP" &&
       ip -n "$rns" link show lab1 | grep -q "state UP" &&
       ip -n "$r2ns" link show lab3 | grep -q "state UP" &&
       ip -n "$r2ns" link show lab4 | grep -q "state UP" &&
       ip -n "$r3ns" link show lab5 | grep -q "state UP"; then
      return 0
    fi
    sleep 0.1
  done
}

cmd_run() {
  [ "${1:-}" = "--" ] && shift
  [ $# -gt 0 ] || usage
  check_can_make
  local id="clk-$$-$RANDOM"
  # Torn down on every way out: normal end, failure under set -e, Ctrl-C, kill.
  trap 'lab_down "'"$id"'"' EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
  lab_up "$id"
  eval "$(print_env "$id")"
  # In the background so a TERM to this script is acted on at once (bash runs traps only
  # between commands); stdin is handed on explicitly, as a background job would get /dev/null.
  ip netns exec "$CORVALINK_LAB_CLIENT_NS" "$@" <&0 &
  local status=0
  wait "$!" || status=$?
  exit "$status"
}

cmd_exec() {
  local side=${1:-}
  shift || true
  [ $# -gt 0 ] || usage
  check_can_make
  local id=${CORVALINK_LAB_ID:-}
  [ -n "$id" ] || { echo "lab.sh: CORVALINK_LAB_ID is not set (run 'eval \"\$(lab.sh up)\"' first)" >&2; exit 2; }
  case $side in
    client) exec ip netns exec "$(client_ns "$id")" "$@" ;;
    router) exec ip netns exec "$(router_ns "$id")" "$@" ;;
    router2) exec ip netns exec "$(router2_ns "$id")" "$@" ;;
    router3) exec ip netns exec "$(router3_ns "$id")" "$@" ;;
    *) usage ;;
  esac
}

# Loss on the ingress hook and duplication on the egress hook of one veth end (netdev family):
# the kernel itself drops or doubles the datagrams, in front of whatever server runs there.
cmd_faults() {
  local side=${1:-} ns dev loss=0 dup=0 keep="" lose="" arg
  shift || true
  local id=${CORVALINK_LAB_ID:-}
  [ -n "$id" ] || { echo "lab.sh: CORVALINK_LAB_ID is not set" >&2; exit 2; }
  case $side in
    client) ns=$(client_ns "$id"); dev=lab0 ;;
    router) ns=$(router_ns "$id"); dev=lab1 ;;
    *) usage ;;
  esac
  for arg in "$@"; do
    case $arg in
      loss=[0-9]*) loss=${arg#loss=} ;;
      dup=[0-9]*) dup=${arg#dup=} ;;
      keep-ack=[0-9]*) keep=${arg#keep-ack=} ;;
      lose-ack=[0-9]*) lose=${arg#lose-ack=} ;;
      *) echo "lab.sh: faults takes loss=PCT, dup=PCT, keep-ack=N and lose-ack=N, not '$arg'" >&2
         exit 2 ;;
    esac
  done
  command -v nft >/dev/null 2>&1 || { echo "lab.sh: nft (nftables) is not installed" >&2; exit "$SKIP"; }
  ip netns exec "$ns" nft delete table netdev "$FAULT_TABLE" 2>/dev/null || true
  [ "$loss" -eq 0 ] && [ "$dup" -eq 0 ] && [ -z "$keep$lose" ] && return 0
  # A TFTP ACK is the 4 bytes opcode 4, block number, right after the 8-byte UDP header.
  ack() { printf '0x0004%04x' "$1"; }
  {
    echo "table netdev $FAULT_TABLE {"
    echo "  chain in { type filter hook ingress device \"$dev\" priority 0; policy accept;"
    [ -n "$keep" ] && echo "    meta l4proto udp @th,64,32 $(ack "$keep") accept"
    [ -n "$lose" ] && echo "    meta l4proto udp @th,64,32 $(ack "$lose") drop"
    [ "$loss" -gt 0 ] && echo "    meta l4proto udp numgen random mod 100 < $loss drop"
    echo "  }"
    echo "  chain out { type filter hook egress device \"$dev\" priority 0; policy accept;"
    [ "$dup" -gt 0 ] && echo "    meta l4proto udp numgen random mod 100 < $dup dup to \"$dev\""
    echo "  }"
    echo "}"
  } | ip netns exec "$ns" nft -f -
}

main() {
  local cmd=${1:-}
  shift || true
  case $cmd in
    up)
      check_can_make
      local id="clk-$$-$RANDOM"
      lab_up "$id"
      print_env "$id"
      ;;
    down)
      check_can_make
      local id=${1:-${CORVALINK_LAB_ID:-}}
      [ -n "$id" ] || { echo "lab.sh: which lab? give its ID or set CORVALINK_LAB_ID" >&2; exit 2; }
      case $id in clk-*) ;; *) echo "lab.sh: $id is not a lab ID (clk-...)" >&2; exit 2 ;; esac
      lab_down "$id"
      ;;
    run) cmd_run "$@" ;;
    exec) cmd_exec "$@" ;;
    faults) check_can_make; cmd_faults "$@" ;;
    *) usage ;;
  esac
}

main "$@"

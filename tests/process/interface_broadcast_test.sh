#!/bin/sh
# An interface whose address was added without a broadcast address ("ip addr add" without
# "brd"), as the system really reports it: `interfaces` shows, and `search -i` sends to, the
# network's directed broadcast, not the machine's own address. In a network namespace of its
# own holding one veth pair, so the search reaches nothing else. Exit 77 when such a namespace
# cannot be made (no root, no veth).
# usage: interface_broadcast_test.sh PATH/TO/corvalink-cli
cli=$1
unshare -n true 2>/dev/null || { echo "skipped: making a network namespace needs root"; exit 77; }
unshare -n sh -c '
  ip link add cvl0 type veth peer name cvl1 2>/dev/null || exit 77
  ip addr add 198.18.9.1/24 dev cvl0 && ip link set cvl0 up && ip link set cvl1 up || exit 1
  failed=0
  line=$("$1" interfaces | grep "^cvl0 ")
  case $line in
    *"198.18.9.1 "*"198.18.9.255 "*) ;;
    *) echo "FAIL: interfaces shows: $line"; failed=1 ;;
  esac
  trace=$("$1" -v search -i cvl0 --timeout 0.2 2>&1)
  case $trace in
    *"> search 198.18.9.255:56415 "*) ;;
    *) echo "FAIL: search -i cvl0 sent: $trace"; failed=1 ;;
  esac
  [ $failed = 0 ] && echo "interface broadcast: all passed"
  exit $failed
' sh "$cli"

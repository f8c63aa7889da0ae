#!/usr/bin/env bash
# The demo: installs what is missing, builds, makes the network lab, starts six simulated
# routers in it (four on the client's first segment, two on its second: one Search finds them
# all) and opens the utility's window on the lab's client side, with the demo's own
# store (build/demo-registry, made afresh each time) and text file (tools/demo/lpr.txt: the
# built-in texts and a confirmation). Pick a router, press "Install / Modify", and the window
# confirms; where the stored "Server IP" lies and what it holds is printed after it closes.
#
#   scripts/demo.sh            the main window
#   scripts/demo.sh firmware   the firmware configuration (corvalink --firmware): &Select a file,
#                              pick a router, Install / Modify upgrades it
#   scripts/demo.sh upgrade    the upgrade dialog against the first simulated router
#   scripts/demo.sh password   the password dialog (the simulated routers' password is "demo")
set -uo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
MODE=${1:-main}
usage() { echo "usage: demo.sh [main|firmware|upgrade|password]" >&2; exit 2; }
[ $# -le 1 ] || usage
case $MODE in main|firmware|upgrade|password) ;; -h|--help) sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;; *) usage ;; esac

if [ "${CORVALINK_DEMO_INNER:-}" != 1 ]; then
  if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    cat >&2 <<'TXT'
demo.sh: the demo opens a window and needs a graphical display, but neither DISPLAY nor
WAYLAND_DISPLAY is set. Run it from a desktop session (or over ssh -X), or under a virtual
display with:  xvfb-run -a scripts/demo.sh   (the window is then not visible to you).
The command-line front end needs no display:  see "corvalink-cli" in the README.
TXT
    exit 1
  fi
  if [ "$(id -u)" -ne 0 ]; then
    echo "demo.sh: the demo network is a pair of network namespaces, which only root may make;" \
         "run it as root (for example: sudo scripts/demo.sh)." >&2
    exit 1
  fi
  bash scripts/install_deps.sh || exit 1
  bash scripts/configure.sh build || exit 1
  ninja -C build -j"${JOBS:-2}" corvalink router_sim corvalink-cli || exit 1
  # An X display reached through its socket file works from inside a network namespace.
  exec env CORVALINK_DEMO_INNER=1 bash scripts/lab.sh run -- bash "$0" "$MODE"
fi

# From here on: inside the lab's client namespace, with the lab's variables exported.
work=$(mktemp -d /tmp/corvalink-demo.XXXXXX)
sim_pid=""
sim2_pid=""
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
  [ -n "$sim2_pid" ] && kill "$sim2_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# The demo's store outlives the demo, so the value can be looked at afterwards; its "Path"
# names a copy of the demo's text file (a short path: "Path" holds at most 91 characters).
registry=$ROOT/build/demo-registry
key="$registry/HKEY_LOCAL_MACHINE/SOFTWARE/DED Orezadu Devo"
rm -rf "$registry"
mkdir -p "$key" "$work/received" "$work/text"
cp "$ROOT/tools/demo/lpr.txt" "$work/text/"
printf '\000\000\000\001%s\000' "$work/text" >"$key/Path"
head -c 1500000 /dev/urandom >"$work/demo-firmware.all"

$CORVALINK_LAB_ROUTER_EXEC "$ROOT/build/router_sim" --max-seconds 3600 \
  --router "mac=0002C4A1B201,ip=198.18.0.10,mask=255.255.255.0,location=Front office,password=demo" \
  --router "mac=0002C4A1B202,ip=198.18.0.11,mask=255.255.255.0,location=Print room 2F,password=demo" \
  --router "mac=0002C4A1B203,ip=198.18.0.12,mask=255.255.255.0,location=Warehouse,password=demo" \
  --router "mac=0002C4A1B204,ip=198.18.0.13,mask=255.255.0.0,location=Lab bench,password=demo" \
  --upgrade at-once --tftp --tftp-dir "$work/received" >"$work/sim.out" 2>&1 &
sim_pid=$!
mkdir -p "$work/received2"
$CORVALINK_LAB_ROUTER2_EXEC "$ROOT/build/router_sim" --max-seconds 3600 \
  --router "mac=0002C4A1B211,ip=198.18.1.10,mask=255.255.255.0,location=Annex ground floor" \
  --router "mac=0002C4A1B212,ip=198.18.1.11,mask=255.255.255.0,location=Annex 1F,password=demo" \
  --upgrade at-once --tftp --tftp-dir "$work/received2" >"$work/sim2.out" 2>&1 &
sim2_pid=$!
for out in sim.out sim2.out; do
  for _ in $(seq 1 50); do grep -q READY "$work/$out" && break; sleep 0.1; done
  grep -q READY "$work/$out" || { echo "demo.sh: a simulator did not start:"; cat "$work/$out"; exit 1; }
done
echo "demo: six simulated routers answer in the lab: four on $CORVALINK_LAB_ROUTER_IP's segment," \
     "two on $CORVALINK_LAB_ROUTER2_IP's."

export CORVALINK_REGISTRY_ROOT=$registry
case $MODE in
  main)
    echo "demo: press Search, pick a router, press Install / Modify."
    "$ROOT/build/corvalink"
    status=$?
    value="$key/Server IP"
    if [ -f "$value" ]; then
      printf 'demo: "Server IP" = %s (%d bytes of data), stored in\n  %s\n' \
        "$(tail -c +5 "$value" | tr -d '\0')" "$(($(stat -c %s "$value") - 4))" "$value"
      echo "  (the demo's own store; the installed programs use /etc/corvalink/registry)"
    else
      echo "demo: nothing was stored (exit status $status)."
    fi
    ;;
  firmware)
    echo "demo: press &Select and open $work/demo-firmware.all, pick a router, press"
    echo "      Install / Modify (password: demo); the window stays open for the next router."
    (cd "$work" && "$ROOT/build/corvalink" --firmware)
    for dir in received received2; do
      for f in "$work/$dir"/*; do
        [ -f "$f" ] || continue
        if cmp -s "$work/demo-firmware.all" "$f"; then
          echo "demo: a simulated router received the image byte for byte ($dir)."
        else
          echo "demo: a simulated router received an image that differs ($dir)."
        fi
      done
    done
    ;;
  upgrade)
    "$ROOT/build/corvalink" --dev-dialog upgrade --router-ip 198.18.0.2 --mac 0002C4A1B201 \
      --password demo --firmware "$work/demo-firmware.all"
    if cmp -s "$work/demo-firmware.all" "$work/received/demo-firmware.all"; then
      echo "demo: the simulated router received the image byte for byte."
    else
      echo "demo: the simulated router did not receive the whole image."
    fi
    ;;
  password)
    "$ROOT/build/corvalink" --dev-dialog password --password demo
    echo "demo: the dialog ended with $?"
    ;;
esac

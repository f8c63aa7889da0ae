#!/bin/bash
# The fleet upgrade's speed in the network lab: one image to one simulated router, then the same
# image to 30 routers at once, each checked byte for byte. The 30 transfers and flash waits
# overlap, so the second run should take hardly longer than the first: it passes when the ratio
# is at most 1.3 (FLEET_BENCH_MAX_RATIO).
#
# usage: scripts/lab.sh run -- bash tests/bench/fleet_bench.sh [BUILD_DIR] [IMAGE_BYTES]
# BUILD_DIR holds corvalink-cli and router_sim (default build); IMAGE_BYTES defaults to 1 MiB,
# whose flash wait (the client's final fill) is about 18 s, as a real image's.
set -u
build=${1:-build}
size=${2:-1048576}
max_ratio=${FLEET_BENCH_MAX_RATIO:-1.3}
routers=30

if [ -z "${CORVALINK_LAB_ROUTER_EXEC:-}" ]; then
  echo "fleet_bench: not in the network lab; run it through scripts/lab.sh run --" >&2
  exit 77
fi
cli=$(realpath "$build/corvalink-cli") sim=$(realpath "$build/router_sim")
tmp=$(mktemp -d)
sim_pid=
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT

head -c "$size" /dev/urandom >"$tmp/image.bin"
macs=()
for n in $(seq 1 $routers); do
  mac=$(printf '02C04C%06X' "$n")
  macs+=("$mac")
  echo "$mac pass$n" >>"$tmp/passwords"
done

# The simulator's generated routers: 02C04C00000n at 198.18.0.(9+n), password "pass<n>".
mkdir "$tmp/store"
$CORVALINK_LAB_ROUTER_EXEC "$sim" --routers $routers --tftp --tftp-dir "$tmp/store" \
  --tftp-dir-per-router --max-seconds 300 >"$tmp/sim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 1 100); do grep -q '^READY' "$tmp/sim.log" && break; sleep 0.1; done
grep -q '^READY' "$tmp/sim.log" || { echo "fleet_bench: router_sim did not start" >&2; exit 1; }

# Runs one fleet upgrade of the routers given; prints its wall time in seconds.
run_fleet() {
  local args=() mac start end
  for mac in "$@"; do args+=(--router "$mac"); done
  start=$(date +%s%N)
  timeout 240 "$cli" upgrade "$tmp/image.bin" "${args[@]}" --jobs $routers --json \
    --password-file "$tmp/passwords" --timeout 2 >"$tmp/result.json" 2>"$tmp/progress.txt"
  local rc=$?
  end=$(date +%s%N)
  if [ $rc -ne 0 ]; then
    echo "fleet_bench: the upgrade of $# router(s) failed (exit $rc):" >&2
    tail -n 40 "$tmp/progress.txt" >&2
    return 1
  fi
  echo $(((end - start) / 1000000))
}

# Every router named got the whole image, byte for byte.
check_images() {
  local n ip
  for n in $(seq 1 "$1"); do
    ip=198.18.0.$((9 + n))
    if ! cmp -s "$tmp/image.bin" "$tmp/store/$ip/image.bin"; then
      echo "fleet_bench: router $n ($ip) does not hold the image byte for byte" >&2
      return 1
    fi
  done
}

one_ms=$(run_fleet "${macs[0]}") || exit 1
check_images 1 || exit 1
rm -rf "${tmp:?}/store/"*
all_ms=$(run_fleet "${macs[@]}") || exit 1
check_images $routers || exit 1

awk -v one="$one_ms" -v all="$all_ms" -v n=$routers -v max="$max_ratio" -v size="$size" 'BEGIN {
  ratio = all / one
  printf "[ bench figure ] fleet upgrade of a %d-byte image: 1 router %.2f s, %d routers %.2f s, ratio %.3f (target <= %s)\n",
         size, one / 1000, n, all / 1000, ratio, max
  exit ratio <= max ? 0 : 1
}' || { echo "fleet_bench: FAILED: the ratio is above $max_ratio" >&2; exit 1; }
echo "fleet_bench: passed"

#!/usr/bin/env bash
# Speed of our TFTP client's data phase against Debian's tftpd-hpa on loopback, side by side with
# three Debian clients uploading the same files to the same server (plain 512-byte blocks, no
# options), and the lock-step limit of the same path: a 516-byte datagram answered by 4 bytes.
#
#   scripts/bench_tftp.sh [path/to/tftp_bench]        (default: build/tftp_bench)
#
# Needs: root (in.tftpd chroots into its folder), taskset, in.tftpd (tftpd-hpa), tftp (tftp-hpa),
# atftp, curl. Knobs: REPS (3), SIZES_MIB ("1 8 32"), PING_COUNT (50000), TFTPD_OPTS (extra
# in.tftpd flags, e.g. "-T 3000000"). Everything stays on 127.0.0.1.
#
# Our figure is the data phase alone (ACK of block 1 to ACK of the last block, from the client's
# own callback), so the 1000 ms pause after the write request is left out. The other clients are
# timed as whole commands, start-up included. MB/s are 10^6 bytes per second; each figure is the
# median of REPS runs. "split" pins the server to CPU 1 and the client to CPU 0; "same" puts both
# on CPU 0. "sink" is our client against an ACK-only server in tftp_bench (no file written):
# beside the limit it shows the client's own cost per block, apart from tftpd-hpa's.
set -euo pipefail

BENCH=${1:-build/tftp_bench}
REPS=${REPS:-3}
SIZES_MIB=${SIZES_MIB:-"1 8 32"}
PING_COUNT=${PING_COUNT:-50000}
TFTPD_OPTS=${TFTPD_OPTS:-}
TFTPD=$(command -v in.tftpd || echo /usr/sbin/in.tftpd)

for tool in "$BENCH" "$TFTPD" taskset tftp atftp curl; do
  command -v "$tool" >/dev/null || { echo "bench_tftp: $tool not found" >&2; exit 2; }
done
[[ $(id -u) -eq 0 ]] || { echo "bench_tftp: in.tftpd needs root to chroot" >&2; exit 2; }

work=$(mktemp -d /tmp/bench_tftp.XXXXXX)
server_pid=""
stop_server() {
  if [[ -n $server_pid ]]; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
    server_pid=""
  fi
}
trap 'stop_server; rm -rf "$work"' EXIT

mkdir -p "$work/src" "$work/srv"
for m in $SIZES_MIB; do head -c $((m * 1048576)) /dev/urandom >"$work/src/img$m.bin"; done

median() { sort -g | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }

# run_client NAME CPU FILE PORT: prints MB/s, or 0 when the upload failed or arrived damaged.
run_client() {
  local name=$1 cpu=$2 file=$3 port=$4 remote out start end
  remote=$(basename "$file")
  rm -f "$work/srv/$remote"
  case $name in
    ours)
      out=$(taskset -c "$cpu" timeout 120 "$BENCH" send "$file" 127.0.0.1 "$port") || { echo 0; return; }
      sed -n 's/.*retransmissions=\([0-9]*\).*/\1/p' <<<"$out" >>"$work/retrans"
      cmp -s "$file" "$work/srv/$remote" || { echo 0; return; }
      sed -n 's/.*MBps=\([0-9.]*\).*/\1/p' <<<"$out"
      return ;;
    sink)
      local sink_port sink_pid
      sink_port=$("$BENCH" freeport)
      taskset -c "$server_cpu" "$BENCH" sink "$sink_port" &
      sink_pid=$!
      sleep 0.05
      out=$(taskset -c "$cpu" timeout 120 "$BENCH" send "$file" 127.0.0.1 "$sink_port") || out=""
      wait "$sink_pid" || out=""
      sed -n 's/.*MBps=\([0-9.]*\).*/\1/p' <<<"${out:-MBps=0}"
      return ;;
    tftp) cmd=(tftp -m binary 127.0.0.1 "$port" -c put "$file" "$remote") ;;
    atftp) cmd=(atftp -p -l "$file" -r "$remote" 127.0.0.1 "$port") ;;
    curl) cmd=(curl -s --tftp-no-options -T "$file" "tftp://127.0.0.1:$port/$remote") ;;
  esac
  start=$(date +%s%N)
  taskset -c "$cpu" timeout 120 "${cmd[@]}" >/dev/null 2>&1 || { echo 0; return; }
  end=$(date +%s%N)
  cmp -s "$file" "$work/srv/$remote" || { echo 0; return; }
  awk -v b="$(stat -c %s "$file")" -v ns=$((end - start)) 'BEGIN {printf "%.3f\n", b / (ns / 1e9) / 1e6}'
}

placements="split same"
[[ $(nproc) -ge 2 ]] || placements="same"
began=$(date +%s)
echo "load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-6s %4s %7s %8s %7s %7s %7s %12s %10s %7s %10s %7s\n' placement MiB ours tftp-hpa atftp curl \
  limit ours/fastest ours/limit sink sink/limit retrans
for placement in $placements; do
  if [[ $placement == split ]]; then server_cpu=1; client_cpu=0; else server_cpu=0; client_cpu=0; fi
  port=$("$BENCH" freeport)
  # shellcheck disable=SC2086
  taskset -c "$server_cpu" "$TFTPD" -L -c -s -a "127.0.0.1:$port" -u root $TFTPD_OPTS "$work/srv" &
  server_pid=$!
  "$BENCH" probe "$port" || { echo "bench_tftp: in.tftpd did not answer" >&2; exit 1; }

  limits=()
  for ((r = 0; r < REPS; r++)); do
    echo_port=$("$BENCH" freeport)
    taskset -c "$server_cpu" "$BENCH" echo "$echo_port" "$PING_COUNT" &
    echo_pid=$!
    limits+=("$(taskset -c "$client_cpu" "$BENCH" ping "$echo_port" "$PING_COUNT" | sed -n 's/.*limit_MBps=//p')")
    wait "$echo_pid" || true
  done
  limit=$(printf '%s\n' "${limits[@]}" | median)

  for m in $SIZES_MIB; do
    declare -A runs=()
    : >"$work/retrans"
    for ((r = 0; r < REPS; r++)); do
      for c in ours tftp atftp curl sink; do
        runs[$c]+="$(run_client "$c" "$client_cpu" "$work/src/img$m.bin" "$port") "
      done
    done
    retrans=$(awk '{s += $1} END {print s + 0}' "$work/retrans")
    declare -A med=()
    for c in ours tftp atftp curl sink; do med[$c]=$(tr ' ' '\n' <<<"${runs[$c]}" | grep . | median); done
    awk -v p="$placement" -v m="$m" -v o="${med[ours]}" -v t="${med[tftp]}" -v a="${med[atftp]}" \
      -v c="${med[curl]}" -v l="$limit" -v k="${med[sink]}" -v rt="$retrans" 'BEGIN {
        f = t; if (a > f) f = a; if (c > f) f = c;
        printf "%-6s %4d %7.2f %8.2f %7.2f %7.2f %7.2f %12.3f %10.3f %7.2f %10.3f %7d\n", p, m, o, t,
               a, c, l, (f > 0 ? o / f : 0), (l > 0 ? o / l : 0), k, (l > 0 ? k / l : 0), rt }'
    unset runs med
  done
  stop_server
done
echo "load average at end: $(cut -d' ' -f1-3 /proc/loadavg); $(( $(date +%s) - began )) s"

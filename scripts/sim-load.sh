#!/usr/bin/env bash
# How well one orvel-sim serves many devices at once: it plays N devices (127.0.0.2 onwards), each
# answering after DELAY ms; orvelctl writes the same program image to one of them alone, then to all
# N at once (one orvelctl process per device, each bound to its own 127.0.1.x), and the wall times,
# the sim's CPU time and the check of every device's program area are printed.
#
#   bash scripts/sim-load.sh [BUILD_DIR] [N] [DELAY_MS]     (defaults: build/release 32 2)
#
# Linux only (loopback addresses beyond 127.0.0.1, /proc for the CPU time).
set -euo pipefail
bin=${1:-build/release}
count=${2:-32}
delay=${3:-2}
source "$(dirname "$0")/site-sim.sh"
site_sim_work "$bin"
[ "$count" -ge 2 ] && [ "$count" -le 250 ] || { echo "N is 2..250" >&2; exit 2; }

start_site_sim "$bin" "$work" "$count" "$delay"
head -c 245760 /dev/urandom >"$work/image.hex"

cpu_ms() { awk -v tck="$(getconf CLK_TCK)" '{print int(($14 + $15) * 1000 / tck)}' "/proc/$sim/stat"; }
write_to() {  # number of devices
  local start pids=() failed=0
  start=$(date +%s%N)
  for k in $(seq 1 "$1"); do
    "$bin/cli/orvelctl" -d "127.0.0.$((1 + k))" -p "$port" -i "127.0.1.$k" write-program \
      "$work/image.hex" 2>>"$work/ctl.err" &
    pids+=($!)
  done
  for pid in "${pids[@]}"; do wait "$pid" || failed=$((failed + 1)); done
  elapsed_ms=$((($(date +%s%N) - start) / 1000000))
  echo "$1 device(s) at once: $elapsed_ms ms, $failed failed"
}

write_to 1
alone=$elapsed_ms
before=$(cpu_ms)
write_to "$count"
echo "the sim's CPU time meanwhile: $(($(cpu_ms) - before)) ms"
echo "ratio $count / 1: $(awk -v a="$elapsed_ms" -v b="$alone" 'BEGIN {printf "%.2f", a / b}')"

stop_site_sim
differ=0
for k in $(seq 1 "$count"); do
  cmp -s "$work/image.hex" "$work/sim/127.0.0.$((1 + k))/program.bin" || differ=$((differ + 1))
done
echo "requests received: $(cat "$work"/sim/*/requests.log | wc -l)" \
  "($(wc -l <"$work/sim/127.0.0.3/requests.log") by a device written once)"
echo "devices whose program differs from the image: $differ"
[ "$differ" -eq 0 ]

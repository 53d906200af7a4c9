#!/usr/bin/env bash
# A site at once against one device, through orvelctl's one runner and shared socket: orvel-sim plays
# N devices (127.0.0.2 onwards), each answering after DELAY ms; one orvelctl run writes the same
# program image to one of them, then one run writes it to all N at once. Then the whole update
# (restart wait 2 s) of one device against UPDATES devices at once. Every device's program area is
# checked afterwards. Best of ROUNDS runs each.
#
#   bash bench/site-bench.sh [BUILD_DIR] [N] [DELAY_MS] [UPDATES] [ROUNDS]
#                            (defaults: build/release 32 2 16 3)
#
# Targets: N devices at most 1.3 x the time of one; UPDATES updates at most 1.2 x one.
# Linux only (loopback addresses beyond 127.0.0.1).
set -euo pipefail
bin=${1:-build/release}
count=${2:-32}
delay=${3:-2}
updates=${4:-16}
rounds=${5:-3}
source "$(dirname "$0")/../scripts/site-sim.sh"
site_sim_work "$bin"
[ "$count" -ge 2 ] && [ "$count" -le 250 ] && [ "$updates" -ge 1 ] && [ "$updates" -le "$count" ] ||
  { echo "N is 2..250, UPDATES 1..N" >&2; exit 2; }
bin=$(cd "$bin" && pwd)

start_site_sim "$bin" "$work" "$count" "$delay" --version-number 111

# An update package, and its program image alone.
python3 "$(dirname "$0")/../scripts/update-package.py" "$work"

best_ms=0
run() {  # devices, then orvelctl's command; the best wall time of the rounds into best_ms
  local devices=$1 start elapsed
  shift
  best_ms=0
  for _ in $(seq 1 "$rounds"); do
    start=$(date +%s%N)
    (cd "$work" && "$bin/cli/orvelctl" -d "$devices" -p "$port" -i 127.0.0.1 --jobs 256 "$@" \
      >"$work/results.txt" 2>>"$work/ctl.err") || { cat "$work/results.txt" "$work/ctl.err" >&2; exit 1; }
    elapsed=$((($(date +%s%N) - start) / 1000000))
    if [ "$best_ms" -eq 0 ] || [ "$elapsed" -lt "$best_ms" ]; then best_ms=$elapsed; fi
  done
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }

last="127.0.0.$((1 + count))"
echo "program image (245,760 bytes), each device answering after $delay ms, best of $rounds:"
run 127.0.0.2 write-program new-program.hex
one=$best_ms
run "127.0.0.2-$last" write-program new-program.hex
many=$best_ms
echo "  1 device:   $one ms"
echo "  $count devices: $many ms   ratio $(ratio "$many" "$one") (target at most 1.3)"

echo "update with a 2-s restart wait, best of $rounds:"
run 127.0.0.2 --restart-wait 2 update new.update
one=$best_ms
run "127.0.0.2-127.0.0.$((1 + updates))" --restart-wait 2 update new.update
many=$best_ms
echo "  1 device:   $one ms"
echo "  $updates devices: $many ms   ratio $(ratio "$many" "$one") (target at most 1.2)"

stop_site_sim
differ=0
for k in $(seq 2 $((1 + count))); do
  cmp -s "$work/new-program.hex" "$work/sim/127.0.0.$k/program.bin" || differ=$((differ + 1))
done
echo "requests received by the site: $(cat "$work"/sim/*/requests.log | wc -l)"
echo "devices whose program differs from the image: $differ"
[ "$differ" -eq 0 ]

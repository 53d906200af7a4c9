#!/usr/bin/env bash
# The wait after the restart, fixed or ended when the device is back: orvel-sim plays COUNT devices
# (127.0.0.2 onwards) that are silent SILENCE seconds after they acknowledge the restart. The whole
# update of one device, then of all COUNT with --jobs JOBS, each with --restart-poll off (the fixed
# 29-s wait) and with polling (the default), side by side. One round each.
#
#   bash bench/restart-bench.sh [BUILD_DIR] [COUNT] [JOBS] [SILENCE]
#                               (defaults: build/release 32 16 8)
#
# Target: one device with polling at most 12 s. Takes about 2.5 minutes with the defaults.
# Linux only (loopback addresses beyond 127.0.0.1).
set -euo pipefail
bin=${1:-build/release}
count=${2:-32}
jobs=${3:-16}
silence=${4:-8}
source "$(dirname "$0")/../scripts/site-sim.sh"
site_sim_work "$bin"
[ "$count" -ge 2 ] && [ "$count" -le 250 ] && [ "$jobs" -ge 1 ] ||
  { echo "COUNT is 2..250, JOBS 1 or more" >&2; exit 2; }
bin=$(cd "$bin" && pwd)

start_site_sim "$bin" "$work" "$count" 1 --version-number 111 --restart-silence "$silence"
python3 "$(dirname "$0")/../scripts/update-package.py" "$work"

seconds=
run() {  # devices, then orvelctl's options; the wall time in seconds into `seconds`
  local devices=$1 start
  shift
  start=$(date +%s%N)
  # The records of unfinished updates go to the work folder, not the user's state folder.
  (cd "$work" && "$bin/cli/orvelctl" -d "$devices" -p "$port" -i 127.0.0.1 --jobs "$jobs" \
    --state-dir "$work/state" "$@" update new.update >"$work/results.txt" 2>>"$work/ctl.err") ||
    { cat "$work/results.txt" "$work/ctl.err" >&2; exit 1; }
  seconds=$(awk -v ns=$(($(date +%s%N) - start)) 'BEGIN {printf "%.1f", ns / 1e9}')
}

last="127.0.0.$((1 + count))"
echo "update, each device silent $silence s after its restart (restart wait 29 s):"
printf '  %-26s %14s %14s\n' "" "--restart-poll off" "polling"
run 127.0.0.2 --restart-poll off
off=$seconds
run 127.0.0.2
on=$seconds
printf '  %-26s %12s s %12s s   (target: polling at most 12 s)\n' "1 device" "$off" "$on"
run "127.0.0.2-$last" --restart-poll off
off=$seconds
run "127.0.0.2-$last"
on=$seconds
printf '  %-26s %12s s %12s s\n' "$count devices, --jobs $jobs" "$off" "$on"

#!/usr/bin/env bash
# Slow and lossy links, through orvelctl itself: write-program (the 245,760-byte image) and
# read-config against one orvel-sim that loses requests on their way in or answers late, each link
# run three ways side by side: the dialog's pace (--resend-ms 1500, one request at a time, the
# baseline), the adaptive resend with --window 1, and with --window 8. Every run's result is
# checked (the device's program is the image; the configuration read is the device's).
#
#   bash bench/link-bench.sh [BUILD_DIR] [LINK...]     (default build/release, every link)
#
# LINK is one of: lossless lose1 lose3 late5 late20 slow20. Prints per run: seconds (wall time of
# the orvelctl process; lossless: the median of 9), requests, resends, the requests the device lost,
# and the ratio of the seconds to the baseline's. Each link uses the same --seed for all three, so
# the device rolls its dice alike. Linux only (the device listens on 127.0.0.2).
set -euo pipefail
bin=${1:-build/release}
shift || true
links=("$@")
[ ${#links[@]} -gt 0 ] || links=(lossless lose1 lose3 late5 late20 slow20)
[ -x "$bin/sim/orvel-sim" ] && [ -x "$bin/cli/orvelctl" ] || {
  echo "no orvel-sim or orvelctl in $bin (cmake --preset release && cmake --build --preset release)" >&2
  exit 2
}
bin=$(cd "$bin" && pwd)
work=$(mktemp -d)
sim=
stop_sim() {
  [ -n "$sim" ] || return 0
  kill -TERM "$sim" 2>/dev/null || true
  wait "$sim" 2>/dev/null || true
  sim=
}
cleanup() {
  stop_sim
  rm -rf "$work"
}
trap cleanup EXIT
python3 "$(dirname "$0")/../scripts/update-package.py" "$work"

faults() {  # the orvel-sim options of a link
  case $1 in
    lossless) ;;
    lose1) echo --lose 0.01 ;;
    lose3) echo --lose 0.03 ;;
    late5) echo --delay 5 ;;
    late20) echo --delay 20 ;;
    slow20) echo --slow-every 20 --slow-ms 100 ;;
    *) echo "unknown link $1" >&2; exit 2 ;;
  esac
}

start_sim() {  # orvel-sim options; sets sim and port
  rm -rf "$work/sim"
  "$bin/sim/orvel-sim" --address 127.0.0.2 --port 0 --state "$work/sim" --seed 7 "$@" \
    2>"$work/sim.err" &
  sim=$!
  while [ ! -s "$work/sim/ready" ] && kill -0 "$sim" 2>/dev/null; do sleep 0.02; done
  [ -s "$work/sim/ready" ] || { cat "$work/sim.err" >&2; exit 1; }
  port=$(tr -dc 0-9 <"$work/sim/ready")
}

# One run: link, command, then orvelctl's pace options. Sets ms, requests, resends, lost.
run_once() {
  local link=$1 command=$2 start
  shift 2
  # shellcheck disable=SC2046
  start_sim $(faults "$link")
  local file=new-program.hex
  [ "$command" = read-config ] && file=read.bin && rm -f "$work/read.bin"
  start=$(date +%s%N)
  (cd "$work" && "$bin/cli/orvelctl" -d 127.0.0.2 -p "$port" -i 127.0.0.1 --json "$@" \
    "$command" "$file" >"$work/result.json" 2>"$work/ctl.err") ||
    { cat "$work/result.json" "$work/ctl.err" >&2; exit 1; }
  ms=$((($(date +%s%N) - start) / 1000000))
  stop_sim
  read -r requests resends < <(python3 -c '
import json, sys
d = json.load(open(sys.argv[1]))["devices"][0]
print(d["requests"], d["resends"])' "$work/result.json")
  lost=$(grep -c ' lost' "$work/sim/requests.log" || true)
  if [ "$command" = write-program ]; then
    cmp -s "$work/new-program.hex" "$work/sim/program.bin" ||
      { echo "$link $*: the device's program differs from the image" >&2; exit 1; }
  else
    cmp -s "$work/read.bin" "$work/sim/config.bin" ||
      { echo "$link $*: the configuration read differs from the device's" >&2; exit 1; }
  fi
}

run() {  # link, command, pace options: the median of 9 runs when lossless, else one
  local link=$1 command=$2 times=() i
  shift 2
  if [ "$link" = lossless ]; then
    for i in 1 2 3 4 5 6 7 8 9; do
      run_once "$link" "$command" "$@"
      times+=("$ms")
    done
    ms=$(printf '%s\n' "${times[@]}" | sort -n | sed -n 5p)
  else
    run_once "$link" "$command" "$@"
  fi
}

printf '%-9s %-13s %-24s %8s %8s %8s %5s %6s\n' link command pace seconds requests resends lost ratio
for command in write-program read-config; do
  for link in "${links[@]}"; do
    base=0
    for pace in "--resend-ms 1500" "--window 1" "--window 8"; do
      # shellcheck disable=SC2086
      run "$link" "$command" $pace
      [ "$base" -eq 0 ] && base=$ms
      label=$pace
      [ "$pace" = "--resend-ms 1500" ] && label="--resend-ms 1500 (base)"
      printf '%-9s %-13s %-24s %8s %8d %8d %5d %6s\n' "$link" "$command" "$label" \
        "$(awk -v m="$ms" 'BEGIN {printf "%.3f", m / 1000}')" "$requests" "$resends" "$lost" \
        "$(awk -v a="$ms" -v b="$base" 'BEGIN {printf "%.2f", a / (b > 0 ? b : 1)}')"
    done
  done
done

#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and fuzzes the update-package loader for SECONDS seconds
# and the device-list readers for a quarter of that, each starting from its seed corpus in
# fuzz/corpus/<name> (the seeds are not modified).
# Usage: scripts/run-fuzz.sh SECONDS     (build directory: $ORVEL_FUZZ_BUILD_DIR or build/fuzz)
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:?usage: scripts/run-fuzz.sh SECONDS}
build_dir=${ORVEL_FUZZ_BUILD_DIR:-build/fuzz}

cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ \
  -DORVEL_TESTS=OFF -DORVEL_FUZZ=ON >/dev/null
cmake --build "$build_dir" --target fuzz_update_package fuzz_address_list \
  -j "${ORVEL_FUZZ_JOBS:-$(nproc)}"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fuzz() {  # name, seconds
  local name=$1 time=$2 log="$work/$1.log" status=0 runs
  mkdir -p "$work/$name/corpus" "$work/$name/artifacts"
  cp "fuzz/corpus/$name"/* "$work/$name/corpus/"
  "$build_dir/fuzz/fuzz_$name" -max_total_time="$time" -max_len=4096 -timeout=10 \
    -print_final_stats=1 -artifact_prefix="$work/$name/artifacts/" "$work/$name/corpus" \
    >"$log" 2>&1 || status=$?
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || true)
  echo "fuzz_$name: ${runs:-0} executions in ${time} s, exit status ${status}"
  if [ "$status" -ne 0 ]; then
    tail -n 40 "$log"
    mkdir -p build/fuzz-artifacts
    cp "$work/$name"/artifacts/* build/fuzz-artifacts/ 2>/dev/null || true
    echo "crashing inputs copied to build/fuzz-artifacts/"
  fi
  return "$status"
}

status=0
fuzz update_package "$seconds" || status=$?
fuzz address_list $(((seconds + 3) / 4)) || status=$?
exit "$status"

#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and fuzzes the update-package loader for SECONDS seconds,
# starting from the seed corpus in fuzz/corpus/update_package (the seeds are not modified).
# Usage: scripts/run-fuzz.sh SECONDS     (build directory: $ORVEL_FUZZ_BUILD_DIR or build/fuzz)
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:?usage: scripts/run-fuzz.sh SECONDS}
build_dir=${ORVEL_FUZZ_BUILD_DIR:-build/fuzz}

cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ \
  -DORVEL_TESTS=OFF -DORVEL_FUZZ=ON >/dev/null
cmake --build "$build_dir" --target fuzz_update_package -j "${ORVEL_FUZZ_JOBS:-$(nproc)}"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/corpus" "$work/artifacts"
cp fuzz/corpus/update_package/* "$work/corpus/"

log="$work/fuzz.log"
status=0
"$build_dir/fuzz/fuzz_update_package" -max_total_time="$seconds" -max_len=4096 -timeout=10 \
  -print_final_stats=1 -artifact_prefix="$work/artifacts/" "$work/corpus" >"$log" 2>&1 || status=$?

runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || true)
echo "fuzz_update_package: ${runs:-0} executions in ${seconds} s, exit status ${status}"
if [ "$status" -ne 0 ]; then
  tail -n 40 "$log"
  mkdir -p build/fuzz-artifacts
  cp "$work"/artifacts/* build/fuzz-artifacts/ 2>/dev/null || true
  echo "crashing inputs copied to build/fuzz-artifacts/"
fi
exit "$status"

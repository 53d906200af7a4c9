#!/usr/bin/env bash
# The fault soak: N runs of orvelctl (read-config, write-config, write-program, update) against
# orvel-sim, each with a random mix of faults drawn from its seed (tests/soak/fault_mix.cpp).
# Builds what it needs (the debug-asan preset: sanitizers on), then prints one line per failed run
# (with the commands that repeat it) and a last line with the counts; exits 1 when any run ended in
# a silent loss, a crash, a hang or an unexpected exit status.
#
#   bash scripts/soak.sh [N] [BASE_SEED] [-- orvelctl options...]   (defaults: 200 1, 3 runs at once)
#
# Every silent loss found belongs in tests/soak/regression-seeds.txt once mended.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=200
seed=1
if [[ "${1:-}" =~ ^[0-9]+$ ]]; then runs=$1; shift; fi
if [[ "${1:-}" =~ ^[0-9]+$ ]]; then seed=$1; shift; fi
if [ "${1:-}" = "--" ]; then shift; fi
[ -d build/debug-asan ] || cmake --preset debug-asan >/dev/null
cmake --build --preset debug-asan -j "$(nproc)" --target orvel-soak >/dev/null
verbose=()
[ -t 2 ] && verbose=(--verbose)  # a line per run on a terminal
exec build/debug-asan/tests/soak/orvel-soak --runs "$runs" --seed "$seed" \
  --jobs "${ORVEL_SOAK_JOBS:-3}" "${verbose[@]}" -- "$@"

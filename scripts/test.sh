#!/usr/bin/env bash
# Builds everything and runs every test: the native sanitizer build (unit, integration over
# loopback, the GUI under Wine), the Windows cross-build, and a short fuzzing run. The packages come
# from scripts/install-deps.sh (run by scripts/demo.sh and by CI).
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc)
cmake --preset mingw-release
cmake --build --preset mingw-release -j "$jobs"
bash scripts/package-windows.sh
cmake --preset debug-asan
cmake --build --preset debug-asan -j "$jobs"

bash scripts/run-fuzz.sh "${ORVEL_FUZZ_SECONDS:-60}"

# The loopback tests spend their time waiting for devices, time-outs and restarts, not computing:
# several at once finish in a fifth of the time. Each test picks its own free port; the GUI tests
# share one Wine prefix and lock it against each other, the benchmark's smoke run stays alone.
ctest --preset debug-asan -j "$((jobs * 3))"

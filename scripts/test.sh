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

ctest --preset debug-asan -j "$jobs"

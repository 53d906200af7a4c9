#!/usr/bin/env bash
# Builds everything and runs every test: the native sanitizer build (unit, integration over
# loopback, the GUI under Wine), the Windows cross-build, and a short fuzzing run.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "$(id -u)" = 0 ]; then
  bash scripts/install-deps.sh
elif command -v sudo >/dev/null; then
  sudo bash scripts/install-deps.sh
fi

jobs=$(nproc)
cmake --preset mingw-release
cmake --build --preset mingw-release -j "$jobs"
bash scripts/package-windows.sh
cmake --preset debug-asan
cmake --build --preset debug-asan -j "$jobs"

if [ -x scripts/run-fuzz.sh ] || [ -f scripts/run-fuzz.sh ]; then
  bash scripts/run-fuzz.sh "${ORVEL_FUZZ_SECONDS:-60}"
fi

ctest --preset debug-asan -j "$jobs"

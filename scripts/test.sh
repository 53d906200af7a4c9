#!/usr/bin/env bash
# Builds everything and runs every test: the native sanitizer build (unit, integration over
# loopback, the GUI under Wine, the site playbook), the Windows cross-build and its archive, the
# Debian package (installed and removed again), and a short fuzzing run. The packages come
# from scripts/install-deps.sh (run by scripts/demo.sh and by CI).
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc)
cmake --preset mingw-release
cmake --build --preset mingw-release -j "$jobs"
# The Debian package from the release build of the two Linux programs, installed, tried and removed
# (as root; skipped otherwise); its help texts also go into the Windows archive.
cmake --preset release
cmake --build --preset release -j "$jobs" --target orvelctl orvel-sim orvel_docs
(cd build/release && cpack -G DEB >/dev/null)
bash scripts/package-windows.sh
bash scripts/package-test.sh build/release
cmake --preset debug-asan
cmake --build --preset debug-asan -j "$jobs"

bash scripts/run-fuzz.sh "${ORVEL_FUZZ_SECONDS:-60}"

# The loopback tests spend their time waiting for devices, time-outs and restarts, not computing:
# several at once finish in a fifth of the time. Each test picks its own free port; the GUI tests
# share one Wine prefix and lock it against each other, the benchmark's smoke run stays alone.
ctest --preset debug-asan -j "$((jobs * 3))"

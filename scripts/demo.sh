#!/usr/bin/env bash
# The main job against the bundled simulated device: builds orvelctl and orvel-sim, starts a device
# on 127.0.0.2, asks its version, reads its configuration into a file, writes it back (which also
# restarts the device) and shows what the device now holds.
set -euo pipefail
cd "$(dirname "$0")/.."

if ! command -v cmake >/dev/null || ! [ -f /usr/include/boost/asio.hpp ]; then
  if [ "$(id -u)" = 0 ]; then bash scripts/install-deps.sh; else sudo bash scripts/install-deps.sh; fi
fi

cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)" --target orvelctl orvel-sim

bin=build/release
work=build/demo
port=${ORVEL_DEMO_PORT:-40000}
rm -rf "$work" && mkdir -p "$work/device"

"$bin/sim/orvel-sim" --address 127.0.0.2 --port "$port" --version-number 111 --version-kind 0 \
  --state "$work/device" &
sim=$!
trap 'kill "$sim" 2>/dev/null; wait "$sim" 2>/dev/null || true' EXIT
for _ in $(seq 100); do [ -f "$work/device/ready" ] && break; sleep 0.05; done
[ -f "$work/device/ready" ] || { echo "orvel-sim did not start" >&2; exit 1; }

ctl() { "$bin/cli/orvelctl" -d 127.0.0.2 -p "$port" -i 127.0.0.1 "$@"; }

echo "== device version"
ctl version
echo "== read the configuration into $work/config.bin"
ctl read-config "$work/config.bin"
ls -l "$work/config.bin"
echo "== write it back (the device restarts afterwards)"
ctl write-config "$work/config.bin"
kill -TERM "$sim"; wait "$sim" || true
trap - EXIT
if cmp -s "$work/config.bin" "$work/device/config.bin"; then
  echo "== the device's configuration area equals the file, byte for byte"
else
  echo "== the device's configuration area differs from the file" >&2
  exit 1
fi

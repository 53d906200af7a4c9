#!/usr/bin/env bash
# The main job against the bundled simulated device. Builds orvelctl and orvel-sim, then:
#  1. asks a firmware 1.11 device (orvel-sim on 127.0.0.2) for its version;
#  2. reads its configuration into a file;
#  3. reads an older device's (firmware 0.05) configuration, in the older 44,660-byte layout;
#  4. writes that older file into the 1.11 device, which converts it to the newer layout and
#     restarts the device;
#  5. writes a program image;
#  6. runs a whole device update from a package with a new program image and three parts;
# and checks what the device holds after each step.
set -euo pipefail
cd "$(dirname "$0")/.."

# The packages of the build and of every test (so that scripts/test.sh can follow), where missing.
bash scripts/install-deps.sh

cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)" --target orvelctl orvel-sim

bin=$PWD/build/release
work=build/demo
port=${ORVEL_DEMO_PORT:-40000}
rm -rf "$work" && mkdir -p "$work"

sim_pid=
start_device() {  # folder, version number, further orvel-sim options
  "$bin/sim/orvel-sim" --address 127.0.0.2 --port "$port" --version-number "$2" --state "$1" \
    "${@:3}" &
  sim_pid=$!
  for _ in $(seq 100); do [ -f "$1/ready" ] && return 0; sleep 0.05; done
  echo "orvel-sim did not start" >&2
  exit 1
}
stop_device() {
  [ -n "$sim_pid" ] || return 0
  kill -TERM "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
  sim_pid=
}
trap stop_device EXIT
ctl() { "$bin/cli/orvelctl" -d 127.0.0.2 -p "$port" -i 127.0.0.1 "$@"; }
same() {  # what, file, device file
  if cmp -s "$2" "$3"; then echo "   ok: $1"; else echo "   FAILED: $1" >&2; exit 1; fi
}

echo "== an older device (firmware 0.05): read its configuration"
start_device "$work/old-device" 5
ctl version
ctl read-config "$work/old.bin"
stop_device
same "$(stat -c %s "$work/old.bin")-byte file equals the device's configuration area" \
  "$work/old.bin" "$work/old-device/config.bin"

echo "== a current device (firmware 1.11)"
start_device "$work/device" 111
ctl version
echo "-- read its configuration"
ctl read-config "$work/current.bin"
echo "   $(stat -c %s "$work/current.bin") bytes in $work/current.bin"
echo "-- write the older file into it (converted to the newer layout, then restart)"
ctl write-config "$work/old.bin"
echo "-- read the configuration back"
ctl read-config "$work/converted.bin"
echo "   $(stat -c %s "$work/converted.bin") bytes in $work/converted.bin"
echo "-- write a program image"
head -c 245760 /dev/urandom >"$work/program.hex"
ctl write-program "$work/program.hex"
stop_device
same "the device holds the converted configuration" "$work/converted.bin" "$work/device/config.bin"
same "the device holds the program image" "$work/program.hex" "$work/device/program.bin"

echo "== a device update (the device is silent for 2 s after its restart; the tool waits 3 s)"
python3 scripts/update-package.py "$work"
start_device "$work/updated" 111 --restart-silence 2
(cd "$work" && "$bin/cli/orvelctl" -d 127.0.0.2 -p "$port" -i 127.0.0.1 --restart-wait 3 \
  update new.update)
stop_device
same "the configuration was backed up to $work/Temp/ConfBackup.bin" \
  "$work/Temp/ConfBackup.bin" "$work/updated/config.bin"
same "the device holds the new program" "$work/new-program.hex" "$work/updated/program.bin"
for i in 1 2 3; do
  same "the device holds part $i" "$work/new-part-$i.bin" "$work/updated/parts/part-$i.bin"
done
echo "== done; the devices' state is in $work"

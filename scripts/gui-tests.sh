#!/usr/bin/env bash
# GUI tests of OrvelTools.exe: runs the real program under Wine on a private X server and drives it
# with orvel-gui-driver.exe (cross-built beside it); orvel-sim plays the device on 127.0.0.2.
#
#   gui-tests.sh --windows-build DIR --sim PATH [--work DIR] [--tries N] [scenario ...]
#
# Scenarios: fresh port settings read silent box_click forced, and link_port link_flood of
# wine-link-scenarios.sh (all when none is named). --tries sets how many forced closes "forced"
# makes at each of its three moments (default 1; the soak uses more). Exit status 0 when every
# scenario passed, 1 when one failed, 77 (skipped) when Wine, Xvfb, xdotool or the Windows build is
# missing outside CI.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=scripts/gui-common.sh
source "$here/gui-common.sh"
# shellcheck source=scripts/wine-link-scenarios.sh
source "$here/wine-link-scenarios.sh"

windows_build=$here/../build/mingw-release
sim=
work=
tries=1
scenarios=()
while (($#)); do
  case $1 in
    --windows-build) windows_build=$2; shift 2 ;;
    --sim) sim=$2; shift 2 ;;
    --work) work=$2; shift 2 ;;
    --tries) tries=$2; shift 2 ;;
    -h | --help) sed -n '2,11p' "$0"; exit 0 ;;
    *) scenarios+=("$1"); shift ;;
  esac
done
((${#scenarios[@]})) ||
  scenarios=(fresh port settings read silent box_click forced link_port link_flood)
[[ $tries =~ ^[1-9][0-9]*$ ]] || { echo "gui-tests: --tries wants a positive number" >&2; exit 2; }
windows_build=$(realpath -m "$windows_build")
work=$(realpath -m "${work:-$windows_build/gui-tests}")
[ -z "$sim" ] || sim=$(realpath -m "$sim")
exe=$windows_build/app/OrvelTools.exe
driver=$windows_build/tests/gui/orvel-gui-driver.exe

missing() {
  echo "gui-tests: $1" >&2
  # In CI a missing piece is a failure, not a skip.
  if [ "${CI:-}" = true ]; then exit 1; fi
  exit 77
}
gui_find_wine || missing "Wine is not installed"
command -v Xvfb >/dev/null || missing "Xvfb is not installed"
# The clicks that come through the X server, as a person's do (silent, box_click).
if [[ " ${scenarios[*]} " =~ \ (silent|box_click)\  ]]; then
  ORVEL_XDOTOOL=$(command -v xdotool) || missing "xdotool is not installed"
  export ORVEL_XDOTOOL
fi
{ [ -f "$exe" ] && [ -f "$driver" ]; } || missing "no $exe or $driver (build the mingw-release preset)"
[ -x "$sim" ] || missing "no orvel-sim at '$sim'"

mkdir -p "$work"
trap gui_cleanup EXIT
gui_start_xvfb "$work"
gui_prepare_prefix "$work/wine-prefix"
gui_unmanaged_windows

failed=()
run_driver() {
  local scenario=$1 folder=$2
  shift 2
  timeout 240 "$WINE" "$driver" "$scenario" "$(gui_winpath "$exe")" "$(gui_winpath "$folder")" "$@" \
    2>"$folder/wine.log" | tr -d '\r' | tee "$folder/driver.log"
  grep -qx 'PASS' "$folder/driver.log"
}

expect_file() {
  local file=$1 expected=$2 what=$3
  if [ -f "$file" ] && [ "$(cat "$file")" = "$expected" ] && [ "$(wc -c <"$file")" -eq "${#expected}" ]; then
    echo "ok: $what"
  else
    echo "FAIL: $what: $(od -c "$file" 2>&1 | head -3)"
    return 1
  fi
}

scenario_fresh() {
  local folder=$1
  run_driver fresh "$folder" &&
    expect_file "$folder/Settings.ini" "0.0.0.0:0" "the close wrote Settings.ini from the empty controls"
}

scenario_port() {
  run_driver port "$1"
}

scenario_settings() {
  local folder=$1
  printf '300.1.2.3:80' >"$folder/Settings.ini"
  run_driver settings "$folder" &&
    expect_file "$folder/Settings.ini" "10.0.0.5:4001" "Settings.ini holds exactly 10.0.0.5:4001"
}

scenario_read() {
  local folder=$1
  gui_start_sim "$sim" "$folder/device"
  printf '127.0.0.2:%s' "$GUI_PORT" >"$folder/Settings.ini"
  run_driver read "$folder" "$(gui_winpath "$folder/read.bin")" || return 1
  gui_stop_sim
  if cmp "$folder/read.bin" "$folder/device/config.bin"; then
    echo "ok: the file equals the device's configuration area byte for byte ($(wc -c <"$folder/read.bin") bytes)"
  else
    echo "FAIL: the file differs from the device's configuration area"
    return 1
  fi
}

scenario_silent() {
  local folder=$1
  gui_start_sim "$sim" "$folder/device" --silent-after 0
  printf '127.0.0.2:%s' "$GUI_PORT" >"$folder/Settings.ini"
  run_driver silent "$folder" "$(gui_winpath "$folder/silent.bin")" || return 1
  gui_stop_sim
  expect_file "$folder/Settings.ini" "127.0.0.2:$GUI_PORT" "the forced close saved the settings"
}

# Clicks after message boxes: the device answers only its first request (the first read's version
# query), so the last read asks a silent device three times before its save dialog; nothing else is
# sent to the device.
scenario_box_click() {
  local folder=$1 log
  gui_start_sim "$sim" "$folder/device" --silent-after 1
  printf '127.0.0.2:%s' "$GUI_PORT" >"$folder/Settings.ini"
  run_driver box_click "$folder" || return 1
  gui_stop_sim
  log=$folder/device/requests.log
  if [ "$(awk '$2 == "0E" && $6 != "silent"' "$log" | wc -l)" -eq 1 ] &&
    [ "$(awk '$2 == "0E" && $6 == "silent"' "$log" | wc -l)" -eq 3 ] &&
    [ "$(wc -l <"$log")" -eq 4 ]; then
    echo "ok: the device got one answered and three unanswered version requests, nothing else"
  else
    echo "FAIL: the device's requests: $(tr '\n' ';' <"$log")"
    return 1
  fi
}

# Forced closes at three moments of a task: while a read waits for a silent device, while its save
# dialog is open, and while a configuration is being written into a live (slowed) device; each try
# closes a little later in the task (0 to 1.5 s after the moment, in steps that are no multiple of
# the tool's 20-ms poll). Every try has an orvel-sim of its own on a fresh port: Wine (8.0) can keep
# the port of a worker stopped inside a receive bound in wineserver after the process has ended,
# which Windows does not.
scenario_forced() {
  local folder=$1 moment try file exits=() slowest
  for moment in wait dialog write; do
    for ((try = 0; try < tries; try++)); do
      if [ "$moment" = write ]; then
        gui_start_sim "$sim" "$folder/device" --delay 30
        file=$folder/write.bin
        cp "$folder/device/config.bin" "$file"
      else
        gui_start_sim "$sim" "$folder/device" --silent-after 0
        file=$folder/read.bin
      fi
      printf '127.0.0.2:%s' "$GUI_PORT" >"$folder/Settings.ini"
      run_driver forced "$folder" "$moment" "$(gui_winpath "$file")" $((try * 317 % 1500)) || return 1
      gui_stop_sim
      expect_file "$folder/Settings.ini" "127.0.0.2:$GUI_PORT" "Settings.ini saved" || return 1
      exits+=("$(sed -n 's/^info: closed .* ended \([0-9]*\) ms after Yes$/\1/p' "$folder/driver.log")")
    done
  done
  slowest=$(printf '%s\n' "${exits[@]}" | sort -n | tail -1)
  echo "info: forced closes: ${#exits[@]}, each ended with exit code 16; slowest exit $slowest ms after Yes"
}

for scenario in "${scenarios[@]}"; do
  if ! declare -F "scenario_$scenario" >/dev/null; then
    echo "gui-tests: unknown scenario $scenario" >&2
    exit 2
  fi
  folder=$work/$scenario
  rm -rf "$folder"
  mkdir -p "$folder"
  echo "=== $scenario"
  started=$SECONDS
  if "scenario_$scenario" "$folder"; then
    echo "=== $scenario passed in $((SECONDS - started)) s"
  else
    echo "=== $scenario FAILED in $((SECONDS - started)) s (logs in $folder)"
    failed+=("$scenario")
  fi
  gui_stop_sim
  # Nothing of one scenario may linger into the next.
  timeout 20 "$WINESERVER" -k 2>/dev/null || true
done

if ((${#failed[@]})); then
  echo "gui-tests: failed: ${failed[*]}"
  exit 1
fi
echo "gui-tests: all passed"

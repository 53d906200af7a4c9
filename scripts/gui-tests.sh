#!/usr/bin/env bash
# GUI tests of OrvelTools.exe: runs the real program under Wine on a private X server and drives it
# with orvel-gui-driver.exe (cross-built beside it); orvel-sim plays the device on 127.0.0.2.
#
#   gui-tests.sh --windows-build DIR --sim PATH [--work DIR] [scenario ...]
#
# Scenarios: fresh port settings read silent, and link_port link_flood of wine-link-scenarios.sh
# (all when none is named). Exit status 0 when every scenario passed, 1 when one failed, 77
# (skipped) when Wine, Xvfb or the Windows build is missing outside CI.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=scripts/gui-common.sh
source "$here/gui-common.sh"
# shellcheck source=scripts/wine-link-scenarios.sh
source "$here/wine-link-scenarios.sh"

windows_build=$here/../build/mingw-release
sim=
work=
scenarios=()
while (($#)); do
  case $1 in
    --windows-build) windows_build=$2; shift 2 ;;
    --sim) sim=$2; shift 2 ;;
    --work) work=$2; shift 2 ;;
    -h | --help) sed -n '2,10p' "$0"; exit 0 ;;
    *) scenarios+=("$1"); shift ;;
  esac
done
((${#scenarios[@]})) || scenarios=(fresh port settings read silent link_port link_flood)
windows_build=$(realpath -m "$windows_build")
work=$(realpath -m "${work:-$windows_build/gui-tests}")
[ -z "$sim" ] || sim=$(realpath -m "$sim")
exe=$windows_build/app/OrvelTools.exe
driver=$windows_build/app/orvel-gui-driver.exe

missing() {
  echo "gui-tests: $1" >&2
  # In CI a missing piece is a failure, not a skip.
  if [ "${CI:-}" = true ]; then exit 1; fi
  exit 77
}
gui_find_wine || missing "Wine is not installed"
command -v Xvfb >/dev/null || missing "Xvfb is not installed"
{ [ -f "$exe" ] && [ -f "$driver" ]; } || missing "no $exe or $driver (build the mingw-release preset)"
[ -x "$sim" ] || missing "no orvel-sim at '$sim'"

mkdir -p "$work"
trap gui_cleanup EXIT
gui_start_xvfb "$work"
gui_prepare_prefix "$work/wine-prefix"

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

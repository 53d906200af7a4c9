#!/usr/bin/env bash
# Takes a screenshot of the OrvelTools dialog under Wine (in a Wine desktop window, so that the
# caption and its icon are drawn) connected to orvel-sim, and writes it as a PNG.
#
#   screenshot.sh [--windows-build DIR] [--sim PATH] [--out FILE]
#
# Defaults: build/mingw-release, the first orvel-sim found in build/release, build/debug-asan,
# and docs/screenshot.png.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
# shellcheck source=scripts/gui-common.sh
source "$here/gui-common.sh"

windows_build=$root/build/mingw-release
sim=
out=$root/docs/screenshot.png
while (($#)); do
  case $1 in
    --windows-build) windows_build=$2; shift 2 ;;
    --sim) sim=$2; shift 2 ;;
    --out) out=$2; shift 2 ;;
    -h | --help) sed -n '2,9p' "$0"; exit 0 ;;
    *) echo "screenshot: unknown argument $1" >&2; exit 2 ;;
  esac
done
gui_require_programs screenshot
out=$(realpath -m "$out")
driver=$windows_build/tests/gui/orvel-gui-driver.exe
[ -f "$driver" ] || { echo "screenshot: no $driver (build the mingw-release preset)" >&2; exit 1; }
command -v import >/dev/null || { echo "screenshot: ImageMagick is not installed" >&2; exit 1; }

work=$windows_build/screenshot
rm -rf "$work/folder"
mkdir -p "$work/folder" "$(dirname "$out")"
trap gui_cleanup EXIT
gui_start_xvfb "$work" 800x600x24
gui_prepare_prefix "$work/wine-prefix"
gui_start_sim "$sim" "$work/device"
printf '127.0.0.2:%s' "$GUI_PORT" >"$work/folder/Settings.ini"

stop=$work/folder/stop
rm -f "$stop" "$stop.rect"
# A Wine desktop window of its own draws the frame that a window manager would.
timeout 120 "$WINE" explorer /desktop=OrvelTools,480x480 "$driver" show "$(gui_winpath "$exe")" \
  "$(gui_winpath "$work/folder")" "$(gui_winpath "$stop")" 60 >"$work/driver.log" 2>&1 &
driver_pid=$!
if ! gui_wait 60 test -s "$stop.rect"; then
  echo "screenshot: the dialog did not appear (see $work/driver.log)" >&2
  exit 1
fi
sleep 1  # the last paint
read -r x y w h <"$stop.rect"
# The dialog with a small margin of the desktop around it.
margin=8
import -window root -crop "$((w + 2 * margin))x$((h + 2 * margin))+$((x - margin))+$((y - margin))" +repage "$out"
touch "$stop"
wait "$driver_pid" || true
echo "screenshot: $out ($(identify -format '%wx%h' "$out"))"

#!/usr/bin/env bash
# Runs OrvelTools.exe under Wine together with a simulated device: orvel-sim listens on 127.0.0.2
# (a free port), and the tool starts in a folder whose Settings.ini points at it. Pick 127.0.0.1
# as the interface. Ends orvel-sim when the tool is closed.
#
#   run-gui.sh [--windows-build DIR] [--sim PATH] [--folder DIR] [--seconds N] [-- orvel-sim options]
#
# Uses $DISPLAY, or a private Xvfb when there is none. Defaults: build/mingw-release, the first
# orvel-sim in build/release or build/debug-asan, the folder build/run-gui. --seconds ends the tool
# after N seconds (for unattended runs).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
# shellcheck source=scripts/gui-common.sh
source "$here/gui-common.sh"

windows_build=$root/build/mingw-release
sim=
folder=$root/build/run-gui
seconds=
sim_options=()
while (($#)); do
  case $1 in
    --windows-build) windows_build=$2; shift 2 ;;
    --sim) sim=$2; shift 2 ;;
    --folder) folder=$2; shift 2 ;;
    --seconds) seconds=$2; shift 2 ;;
    --) shift; sim_options=("$@"); break ;;
    -h | --help) sed -n '2,11p' "$0"; exit 0 ;;
    *) echo "run-gui: unknown argument $1" >&2; exit 2 ;;
  esac
done
gui_require_programs run-gui
folder=$(realpath -m "$folder")

mkdir -p "$folder"
trap gui_cleanup EXIT
if [ -z "${DISPLAY:-}" ]; then
  gui_start_xvfb "$folder"
  echo "run-gui: no display; running on a private Xvfb ($DISPLAY)"
fi
gui_prepare_prefix "$windows_build/wine-prefix"
gui_start_sim "$sim" "$folder/device" "${sim_options[@]}"
printf '127.0.0.2:%s' "$GUI_PORT" >"$folder/Settings.ini"
echo "run-gui: orvel-sim on 127.0.0.2:$GUI_PORT (state in $folder/device); the tool runs in $folder"

status=0
(cd "$folder" && ${seconds:+timeout "$seconds"} "$WINE" "$exe") || status=$?
echo "run-gui: OrvelTools.exe ended with exit code $status"
exit "$status"

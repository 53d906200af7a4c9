# shellcheck shell=bash
# Shared by the scripts that run OrvelTools.exe under Wine: finding Wine, a private X server, a
# private Wine prefix, orvel-sim, and cleaning all of it up. Source it; it defines functions only.

# The Wine loader: Debian 12 keeps wine64 outside PATH.
gui_find_wine() {
  local candidate
  for candidate in "$(command -v wine64 2>/dev/null)" /usr/lib/wine/wine64 \
    "$(command -v wine 2>/dev/null)"; do
    if [ -n "$candidate" ] && [ -x "$candidate" ]; then
      WINE=$candidate
      WINESERVER=$(dirname "$candidate")/wineserver
      [ -x "$WINESERVER" ] || WINESERVER=$(command -v wineserver 2>/dev/null || true)
      return 0
    fi
  done
  return 1
}

# The native orvel-sim of the release build, else of the sanitizer build; empty when neither exists.
gui_default_sim() {
  local candidate
  for candidate in "$1/build/release/sim/orvel-sim" "$1/build/debug-asan/sim/orvel-sim"; do
    [ -x "$candidate" ] && printf '%s' "$candidate" && return 0
  done
  return 0
}

# For the scripts run by hand (name: theirs, for messages): settles windows_build, sim (default
# from root) and exe (OrvelTools.exe of the Windows build) and finds Wine; ends the script with a
# message when one of them is missing.
gui_require_programs() {
  local name=$1
  [ -n "$sim" ] || sim=$(gui_default_sim "$root")
  windows_build=$(realpath -m "$windows_build")
  exe=$windows_build/app/OrvelTools.exe
  gui_find_wine || { echo "$name: Wine is not installed" >&2; exit 1; }
  [ -f "$exe" ] || { echo "$name: no $exe (build the mingw-release preset)" >&2; exit 1; }
  [ -x "$sim" ] || { echo "$name: no orvel-sim (build the release preset or pass --sim)" >&2; exit 1; }
}

# A Linux path as Wine sees it through drive Z:.
gui_winpath() {
  local path
  path=$(realpath -m "$1")
  printf 'Z:%s' "${path//\//\\}"
}

# Polls (every 0.1 s) until the command succeeds; fails after the given number of seconds.
gui_wait() {
  local seconds=$1
  shift
  local tries=$((seconds * 10))
  while ((tries-- > 0)); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}

GUI_XVFB_PID=
GUI_SIM_PID=

# Starts a private X server on a free display and exports DISPLAY.
gui_start_xvfb() {
  local work=$1 geometry=${2:-1024x768x24}
  local fdfile="$work/xvfb.display"
  rm -f "$fdfile"
  Xvfb -displayfd 3 -screen 0 "$geometry" -nolisten tcp 3>"$fdfile" >"$work/xvfb.log" 2>&1 &
  GUI_XVFB_PID=$!
  if ! gui_wait 20 test -s "$fdfile"; then
    echo "Xvfb did not start (see $work/xvfb.log)" >&2
    return 1
  fi
  DISPLAY=":$(tr -d '[:space:]' <"$fdfile")"
  export DISPLAY
}

# Uses (and on first use creates) the Wine prefix; one creator at a time.
gui_prepare_prefix() {
  export WINEPREFIX=$1 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock -w 120 9 || exit 1
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      echo "creating the Wine prefix $WINEPREFIX" >&2
      timeout 120 "$WINE" wineboot -i >/dev/null 2>&1 || exit 1
      timeout 60 "$WINESERVER" -w || true
    fi
    gui_link_marlett
  ) 9>"$WINEPREFIX.lock"
}

# Wine's symbol font Marlett (Debian's fonts-wine) into the prefix's Fonts folder: this Wine looks
# for fonts there and in the system's font folders, not where the package puts them. Marlett draws
# the caption buttons; without it they show as the letters "0 1 r". Only Marlett: the package's
# "MS Sans Serif" has no Cyrillic letters and would replace the dialog's text by boxes.
gui_link_marlett() {
  local font=/usr/share/wine/fonts/marlett.ttf fonts=$WINEPREFIX/drive_c/windows/Fonts
  [ -f "$font" ] && [ -d "$fonts" ] || return 0
  [ -e "$fonts/marlett.ttf" ] || ln -s "$font" "$fonts/marlett.ttf"
}

# Xvfb runs no window manager, and Wine waits up to 2 s for one to confirm every window it hides:
# 4 s on each close of the dialog. Unmanaged windows come and go at once. For the tests' prefix
# only; on a desktop with a window manager the tool's windows keep their frames.
gui_unmanaged_windows() {
  grep -qx '"Managed"="N"' "$WINEPREFIX/user.reg" 2>/dev/null && return 0
  timeout 60 "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f \
    >/dev/null 2>&1
}

# Starts orvel-sim on 127.0.0.2 with a free port (extra options after the folder); sets GUI_PORT.
# shellcheck disable=SC2034  # GUI_PORT is for the sourcing script
gui_start_sim() {
  local sim=$1 state=$2
  shift 2
  rm -rf "$state"
  mkdir -p "$state"
  "$sim" --address 127.0.0.2 --port 0 --state "$state" "$@" >"$state.log" 2>&1 &
  GUI_SIM_PID=$!
  if ! gui_wait 20 test -s "$state/ready"; then
    echo "orvel-sim did not become ready (see $state.log)" >&2
    return 1
  fi
  GUI_PORT=$(cat "$state/ready")
}

gui_stop_sim() {
  if [ -n "$GUI_SIM_PID" ]; then
    kill "$GUI_SIM_PID" 2>/dev/null || true
    # orvel-sim writes its state when it stops; give it a moment, then make sure.
    gui_wait 5 bash -c "! kill -0 $GUI_SIM_PID 2>/dev/null" || kill -9 "$GUI_SIM_PID" 2>/dev/null || true
    wait "$GUI_SIM_PID" 2>/dev/null || true
    GUI_SIM_PID=
  fi
}

# Ends everything this script started: orvel-sim, the Wine processes of our prefix, Xvfb.
gui_cleanup() {
  gui_stop_sim
  if [ -n "${WINEPREFIX:-}" ] && [ -n "${WINESERVER:-}" ]; then
    timeout 20 "$WINESERVER" -k 2>/dev/null || true
  fi
  if [ -n "$GUI_XVFB_PID" ]; then
    kill "$GUI_XVFB_PID" 2>/dev/null || true
    wait "$GUI_XVFB_PID" 2>/dev/null || true
    GUI_XVFB_PID=
  fi
}

# shellcheck shell=bash
# Scenarios of gui-tests.sh for the link of the Windows build among other programs: orvelctl.exe
# (cross-built) under Wine against the native orvel-sim on 127.0.0.2. Source it; it defines
# functions only, and uses WINE, windows_build and the helpers of gui-common.sh.
#   link_port   a second orvelctl.exe on the interface and port that a first one holds ends at
#               once with the port-in-use box and exit 3; the first one's read goes on undisturbed
#   link_flood  oversized datagrams from a stranger during a read cost no box; the device's own
#               are reported once and the exchange goes on

# orvelctl.exe with the sim's address and port, bound to 127.0.0.1.
link_ctl() {
  timeout 120 "$WINE" "$windows_build/cli/orvelctl.exe" -d 127.0.0.2 -p "$GUI_PORT" -i 127.0.0.1 "$@"
}

link_check() {
  if eval "$1"; then echo "ok: $2"; else echo "FAIL: $2" && return 1; fi
}

# Sends datagrams to the tool's port (127.0.0.1) from SOURCE_PORT of 127.0.0.2 (0: any free one):
# COUNT of SIZE bytes, ten a millisecond; prints how many went out.
FLOODER='
import signal, socket, sys, time
signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
port, source_port, count, size = map(int, sys.argv[1:5])
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("127.0.0.2", source_port))
sent = 0
try:
    while sent < count:
        for _ in range(10):
            s.sendto(b"\x5a" * size, ("127.0.0.1", port))
            sent += 1
        time.sleep(0.001)
finally:
    print(sent, flush=True)
'

scenario_link_port() {
  local folder=$1
  gui_start_sim "$sim" "$folder/device" --delay 40
  link_ctl read-config "$(gui_winpath "$folder/first.bin")" >"$folder/first.out" 2>"$folder/first.err" &
  local first=$!
  # The first run holds the port from its version query to the end of its read (about 7 s).
  sleep 3
  local started=$SECONDS status=0
  link_ctl version >"$folder/second.out" 2>"$folder/second.err" || status=$?
  local took=$((SECONDS - started))
  local first_status=0
  wait "$first" || first_status=$?
  gui_stop_sim
  tr -d '\r' <"$folder/second.err" >"$folder/second.txt"
  link_check '[ "$status" = 3 ]' "the second run could not start: exit 3 (got $status)" &&
    link_check 'grep -q "Ошибка инициализации подключения.: Выбранный порт используется другой программой." "$folder/second.txt"' \
      "the second run showed the port-in-use box" &&
    link_check '[ ! -s "$folder/second.out" ]' "the second run printed no result" &&
    link_check '[ "$took" -le 10 ]' "the second run ended at once (${took} s with Wine's start)" &&
    link_check '[ "$first_status" = 0 ]' "the first run succeeded (exit $first_status)" &&
    link_check 'cmp -s "$folder/first.bin" "$folder/device/config.bin"' \
      "the first run's file is the device's area"
}

scenario_link_flood() {
  local folder=$1
  gui_start_sim "$sim" "$folder/device"
  python3 -c "$FLOODER" "$GUI_PORT" 0 400000 1000 >"$folder/flood.count" &
  local flood=$!
  sleep 0.5
  local started=$SECONDS status=0
  link_ctl read-config "$(gui_winpath "$folder/read.bin")" >"$folder/read.out" 2>"$folder/read.err" ||
    status=$?
  local took=$((SECONDS - started))
  kill "$flood" 2>/dev/null || true
  wait "$flood" 2>/dev/null || true
  gui_stop_sim
  echo "info: $(cat "$folder/flood.count") oversized datagrams from a stranger, read in ${took} s"
  link_check '[ "$status" = 0 ]' "the read under the flood succeeded (exit $status)" &&
    link_check '[ ! -s "$folder/read.err" ]' "no box for the stranger's datagrams" &&
    link_check 'cmp -s "$folder/read.bin" "$folder/device/config.bin"' "the file is the device's area" &&
    link_check '[ "$took" -le 30 ]' "the read took ${took} s" || return 1

  # The device itself sends two datagrams too long for the buffer before its answer.
  GUI_PORT=$(python3 -c 'import socket; s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.2", 0)); print(s.getsockname()[1])')
  python3 -c '
import socket, sys
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("127.0.0.2", int(sys.argv[1])))
s.settimeout(60)
request, tool = s.recvfrom(64)
s.sendto(b"\x11" * 400, tool)
s.sendto(b"\x11" * 400, tool)
s.sendto(bytes([0, 111]), tool)
' "$GUI_PORT" &
  local device=$!
  sleep 0.5
  status=0
  link_ctl version >"$folder/version.out" 2>"$folder/version.err" || status=$?
  wait "$device" || true
  tr -d '\r' <"$folder/version.err" >"$folder/version.txt"
  tr -d '\r' <"$folder/version.out" >"$folder/version.result"
  link_check '[ "$status" = 0 ]' "the version query went on after the device's oversized datagrams" &&
    link_check '[ "$(cat "$folder/version.result")" = "1.11 (kind 0)" ]' "and printed 1.11 (kind 0)" &&
    link_check '[ "$(grep -c "^Ошибка чтения пакета данных.: " "$folder/version.txt")" = 1 ]' \
      "one box for the device's two oversized datagrams: $(head -1 "$folder/version.txt")"
}

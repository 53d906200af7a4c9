# Sourced by the site scripts: start_site_sim BIN WORK COUNT DELAY [orvel-sim options...] starts
# one orvel-sim playing COUNT devices (127.0.0.2 onwards) that answer after DELAY ms, on a free port,
# with its state in WORK/sim; it sets sim (the pid) and port, or exits 1. stop_site_sim stops it.
# site_sim_work BIN checks that BIN holds orvel-sim and orvelctl (else exits 2) and makes the work
# folder (work), removed with the sim when the script ends.
sim=
port=
work=
site_sim_work() {
  [ -x "$1/sim/orvel-sim" ] && [ -x "$1/cli/orvelctl" ] || {
    echo "no orvel-sim or orvelctl in $1 (cmake --preset release && cmake --build --preset release)" >&2
    exit 2
  }
  work=$(mktemp -d)
  trap 'stop_site_sim; rm -rf "$work"' EXIT
}
start_site_sim() {
  local bin=$1 work=$2 count=$3 delay=$4
  shift 4
  for _ in 1 2 3 4 5; do
    port=$((20000 + RANDOM % 12000))
    "$bin/sim/orvel-sim" --address "127.0.0.2-127.0.0.$((1 + count))" --port "$port" \
      --state "$work/sim" --delay "$delay" "$@" 2>"$work/sim.err" &
    sim=$!
    while [ ! -f "$work/sim/ready" ] && kill -0 "$sim" 2>/dev/null; do sleep 0.02; done
    [ -f "$work/sim/ready" ] && return 0
    wait "$sim" 2>/dev/null || true  # most likely the port was taken: another one
    sim=
  done
  cat "$work/sim.err" >&2
  exit 1
}
stop_site_sim() {
  [ -n "$sim" ] || return 0
  kill -TERM "$sim" 2>/dev/null || true
  wait "$sim" 2>/dev/null || true
  sim=
}

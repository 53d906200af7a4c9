#!/usr/bin/env bash
# The playbook of contrib/ansible against this computer: three "sites" on localhost (connection
# local), two with simulated devices of their own (on two ports), one whose orvelctl is given a bad
# option. Passes when the two sites' fetched results list every device "ok", the third site's host
# fails the play and its (empty) results are fetched all the same.
#
#   site_update_test.sh ORVELCTL ORVEL_SIM CONTRIB_ANSIBLE_DIR
# Exit 77 (skipped) without ansible-playbook.
set -euo pipefail
orvelctl=$1 sim_bin=$2 playbook_dir=$3
root=$(cd "$(dirname "$0")/../.." && pwd)
if ! command -v ansible-playbook >/dev/null; then
  echo "ansible test skipped: ansible-playbook is missing (scripts/install-deps.sh installs ansible-core)"
  exit 77
fi
work=$(mktemp -d)
sims=()
cleanup() {
  for pid in "${sims[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
  for pid in "${sims[@]}"; do wait "$pid" 2>/dev/null || true; done
  [ -n "${ORVEL_KEEP_WORK:-}" ] && echo "kept $work" || rm -rf "$work"
}
trap cleanup EXIT

# start_sim NAME ADDRESSES: one orvel-sim on a free port; sets port.
start_sim() {
  local name=$1 addresses=$2
  for _ in 1 2 3 4 5 6 7 8; do
    port=$((20000 + RANDOM % 12000))
    "$sim_bin" --address "$addresses" --port "$port" --state "$work/$name" 2>"$work/$name.err" &
    local pid=$!
    for _ in $(seq 250); do
      [ -f "$work/$name/ready" ] || ! kill -0 "$pid" 2>/dev/null && break
      sleep 0.02
    done
    if [ -f "$work/$name/ready" ]; then sims+=("$pid"); return 0; fi
    wait "$pid" 2>/dev/null || true
    rm -rf "${work:?}/$name"
  done
  cat "$work/$name.err" >&2
  exit 1
}
start_sim north 127.0.0.2-127.0.0.4
north_port=$port
start_sim south 127.0.0.5-127.0.0.6
south_port=$port
python3 "$root/scripts/update-package.py" "$work"

# The example inventory, its sites pointed at the simulated ones: one work folder per site, since
# all of them are this computer.
python3 - "$playbook_dir/inventory.example.yml" "$work" "$north_port" "$south_port" <<'PY'
import sys, yaml
example, work, north, south = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
inventory = yaml.safe_load(open(example))
hosts = inventory["sites"]["hosts"]
assert set(hosts) == {"site-north", "site-south"}, hosts
hosts["site-north"].update(orvel_port=north, orvel_interface="127.0.0.1",
                           orvel_devices=["127.0.0.2", "127.0.0.3", "127.0.0.4:%d" % north])
hosts["site-south"].update(orvel_port=south, orvel_interface="127.0.0.1",
                           orvel_devices=["127.0.0.5", "127.0.0.6"])
hosts["site-broken"] = dict(hosts["site-north"], orvel_extra_args=["--jobs", "0"])
for name, host in hosts.items():
    host.pop("ansible_host", None)
    host["orvel_work_dir"] = "%s/host-%s" % (work, name)
    host.setdefault("orvel_extra_args", ["--restart-wait", "2"])
    if name != "site-broken":
        host["orvel_extra_args"] = ["--restart-wait", "2", "--jobs", "4"]
inventory["sites"]["vars"].pop("ansible_user", None)
yaml.safe_dump(inventory, open(work + "/inventory.yml", "w"))
PY

status=0
ANSIBLE_NOCOLOR=1 ANSIBLE_HOST_KEY_CHECKING=0 ANSIBLE_LOCAL_TEMP=$work/ansible-tmp \
  ansible-playbook -i "$work/inventory.yml" "$playbook_dir/site-update.yml" \
  -e ansible_connection=local -e ansible_python_interpreter=/usr/bin/python3 \
  -e orvelctl="$orvelctl" -e orvel_update_package="$work/new.update" \
  -e orvel_results_dir="$work/results" >"$work/play.log" 2>&1 || status=$?
cat "$work/play.log"

python3 - "$work/results" "$status" "$work/play.log" "$north_port" "$south_port" <<'PY'
import json, re, sys
results, status, log, north, south = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4], sys.argv[5]
expected = {"site-north": ["127.0.0.%d:%s" % (i, north) for i in (2, 3, 4)],
            "site-south": ["127.0.0.%d:%s" % (i, south) for i in (5, 6)]}
problems = []
for host, devices in expected.items():
    document = json.load(open("%s/%s.json" % (results, host)))
    got = [(d["device"], d["result"]) for d in document["devices"]]
    if got != [(d, "ok") for d in devices]:
        problems.append("%s: %s" % (host, got))
if open(results + "/site-broken.json").read().strip():
    problems.append("site-broken: results where bad usage prints none")
recap = open(log).read()
for host, failed in (("site-north", 0), ("site-south", 0), ("site-broken", 1)):
    if not re.search(r"%s\s*:.*failed=%d" % (host, failed), recap):
        problems.append("%s: not failed=%d in the recap" % (host, failed))
if status != 2:
    problems.append("ansible-playbook ended %d, not 2 (a host failed)" % status)
if problems:
    sys.exit("ansible test failed:\n  " + "\n  ".join(problems))
print("ansible test: site-north 3 devices ok, site-south 2 devices ok, site-broken failed as it should")
PY

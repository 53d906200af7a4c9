#!/usr/bin/env bash
# Installs the Debian package on this machine as a technician would (apt-get install ./...deb),
# checks the installed programs, their manual pages, completions and texts, runs `version` with
# the installed orvelctl against the installed orvel-sim, and removes the package again.
#
#   package-test.sh [RELEASE_BUILD_DIR]     (default build/release, after cpack)
#
# Needs root (CI runs as root); without it the test is skipped with a message.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "${1:-$root/build/release}")
version=$(sed -n 's/^project(OrvelTools .*VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
deb=$build/package/orvel-tools_${version}_amd64.deb
[ -f "$deb" ] || { echo "package-test: missing $deb (cpack in $build)" >&2; exit 1; }
if [ "$(id -u)" != 0 ]; then
  echo "package-test: skipped, installing a package needs root (CI runs as root): $deb"
  exit 0
fi
if dpkg-query -W -f='${Status}' orvel-tools 2>/dev/null | grep -q "install ok installed"; then
  echo "package-test: orvel-tools is installed already; not touching it" >&2
  exit 1
fi
started=$SECONDS
work=$(mktemp -d)
sim=
installed=
remove() {
  DEBIAN_FRONTEND=noninteractive apt-get remove -y orvel-tools >"$work/remove.log" 2>&1 ||
    { cat "$work/remove.log" >&2; return 1; }
  installed=
}
cleanup() {
  [ -z "$sim" ] || { kill -TERM "$sim" 2>/dev/null; wait "$sim" 2>/dev/null; } || true
  [ -z "$installed" ] || remove || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "package-test: $*" >&2; exit 1; }

DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "$deb" >"$work/install.log" 2>&1 ||
  { cat "$work/install.log" >&2; fail "apt-get install failed"; }
installed=1
[ "$(command -v orvelctl)" = /usr/bin/orvelctl ] || fail "orvelctl is not /usr/bin/orvelctl"
[ "$(/usr/bin/orvelctl --version)" = "orvelctl $version" ] || fail "orvelctl --version: $(/usr/bin/orvelctl --version)"
for file in /usr/bin/orvel-sim /usr/share/man/man1/orvelctl.1.gz /usr/share/man/man1/orvel-sim.1.gz \
  /usr/share/bash-completion/completions/orvelctl /usr/share/bash-completion/completions/orvel-sim \
  /usr/share/doc/orvel-tools/README.md /usr/share/doc/orvel-tools/json.md; do
  dpkg -S "$file" >/dev/null 2>&1 || fail "$file is not in the package"
done
zcat /usr/share/man/man1/orvelctl.1.gz | grep -q '^\.SH EXIT STATUS' || fail "the manual page lacks its exit status"

# The completion, as bash would ask it: commands after orvelctl, a command's own options.
complete_words() {
  bash -c 'source /usr/share/bash-completion/completions/orvelctl
    COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _orvelctl; echo "${COMPREPLY[*]}"' _ "$@"
}
[ "$(complete_words orvelctl sc)" = scan ] || fail "completion of 'orvelctl sc': $(complete_words orvelctl sc)"
[ "$(complete_words orvelctl scan --li)" = --list ] || fail "completion of 'orvelctl scan --li'"
[ "$(complete_words orvelctl --wait-p)" = --wait-port ] || fail "completion of 'orvelctl --wait-p'"

# The installed tool against the installed simulated device.
for _ in 1 2 3 4 5; do
  port=$((20000 + RANDOM % 12000))
  rm -rf "$work/sim"
  /usr/bin/orvel-sim --address 127.0.0.2 --port "$port" --state "$work/sim" 2>"$work/sim.err" &
  sim=$!
  while [ ! -f "$work/sim/ready" ] && kill -0 "$sim" 2>/dev/null; do sleep 0.02; done
  [ -f "$work/sim/ready" ] && break
  wait "$sim" 2>/dev/null || true
  sim=
done
[ -n "$sim" ] || { cat "$work/sim.err" >&2; fail "orvel-sim did not start"; }
answer=$(/usr/bin/orvelctl -d 127.0.0.2 -p "$port" -i 127.0.0.1 version) || fail "orvelctl version failed"
[ "$answer" = "1.11 (kind 0)" ] || fail "orvelctl version: $answer"
kill -TERM "$sim"; wait "$sim" || true; sim=

remove || fail "apt-get remove failed"
[ ! -e /usr/bin/orvelctl ] || fail "/usr/bin/orvelctl is still there after the removal"
echo "package-test: $(basename "$deb") installed, orvelctl --version and version against orvel-sim" \
  "from /usr/bin passed, removed ($((SECONDS - started)) s)"

#!/usr/bin/env bash
# Packs the Windows release archive: OrvelTools.exe, orvelctl.exe, orvel-sim.exe, the
# technician's note (README.txt), the README, the JSON document (json.md) and the programs' help
# (orvelctl-help.txt, orvel-sim-help.txt), from the MinGW build; the help is that of the native
# build of the same programs (it is the same text).
#
#   package-windows.sh [--windows-build DIR] [--native-build DIR] [--out FILE.zip]
#
# Defaults: build/mingw-release, build/release and build/OrvelTools-<version>-windows-x64.zip.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
windows_build=$root/build/mingw-release
native_build=$root/build/release
out=
while (($#)); do
  case $1 in
    --windows-build) windows_build=$2; shift 2 ;;
    --native-build) native_build=$2; shift 2 ;;
    --out) out=$2; shift 2 ;;
    -h | --help) sed -n '2,10p' "$0"; exit 0 ;;
    *) echo "package-windows: unknown argument $1" >&2; exit 2 ;;
  esac
done
version=$(sed -n 's/^project(OrvelTools .*VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
out=$(realpath -m "${out:-$root/build/OrvelTools-${version:-0}-windows-x64.zip}")

files=("$windows_build/app/OrvelTools.exe" "$windows_build/cli/orvelctl.exe"
  "$windows_build/sim/orvel-sim.exe")
for file in "${files[@]}"; do
  [ -f "$file" ] || { echo "package-windows: missing $file (build the mingw-release preset)" >&2; exit 1; }
done

for program in "$native_build/cli/orvelctl" "$native_build/sim/orvel-sim"; do
  [ -x "$program" ] || { echo "package-windows: missing $program (build the release preset)" >&2; exit 1; }
done
help=$(mktemp -d)
trap 'rm -rf "$help"' EXIT
"$native_build/cli/orvelctl" --help >"$help/orvelctl-help.txt"
for command in version read-config write-config write-program update restart scan interfaces; do
  printf '\n' >>"$help/orvelctl-help.txt"
  "$native_build/cli/orvelctl" "$command" --help >>"$help/orvelctl-help.txt"
done
"$native_build/sim/orvel-sim" --help >"$help/orvel-sim-help.txt"

mkdir -p "$(dirname "$out")"
# The note in UTF-8 with a byte-order mark and CRLF line ends, as Windows editors expect it.
# The other texts keep their UTF-8 as it is, with CRLF line ends too.
python3 - "$out" "$root/docs/technician.txt" "$root/README.md" "$root/docs/json.md" \
  "$help/orvelctl-help.txt" "$help/orvel-sim-help.txt" "${files[@]}" <<'PY'
import os, sys, zipfile
out, note, readme, json_doc, ctl_help, sim_help, *programs = sys.argv[1:]
def crlf(path):
    return open(path, encoding="utf-8").read().replace("\n", "\r\n").encode("utf-8")
folder = "OrvelTools"
tmp = out + ".tmp"
with zipfile.ZipFile(tmp, "w", zipfile.ZIP_DEFLATED) as archive:
    for program in programs:
        archive.write(program, f"{folder}/{os.path.basename(program)}")
    archive.writestr(f"{folder}/README.txt", "\ufeff".encode() + crlf(note))
    for text in (readme, json_doc, ctl_help, sim_help):
        archive.writestr(f"{folder}/{os.path.basename(text)}", crlf(text))
os.replace(tmp, out)
PY
echo "package-windows: $out"
python3 -m zipfile -l "$out"

#!/usr/bin/env bash
# Packs the Windows release archive: OrvelTools.exe, orvelctl.exe, orvel-sim.exe and the
# technician's note (README.txt), from the MinGW build.
#
#   package-windows.sh [--windows-build DIR] [--out FILE.zip]
#
# Defaults: build/mingw-release and build/OrvelTools-<version>-windows-x64.zip.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
windows_build=$root/build/mingw-release
out=
while (($#)); do
  case $1 in
    --windows-build) windows_build=$2; shift 2 ;;
    --out) out=$2; shift 2 ;;
    -h | --help) sed -n '2,7p' "$0"; exit 0 ;;
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

mkdir -p "$(dirname "$out")"
# The note in UTF-8 with a byte-order mark and CRLF line ends, as Windows editors expect it.
python3 - "$out" "$root/docs/technician.txt" "${files[@]}" <<'PY'
import os, sys, zipfile
out, note, *programs = sys.argv[1:]
text = open(note, encoding="utf-8").read().replace("\n", "\r\n")
folder = "OrvelTools"
tmp = out + ".tmp"
with zipfile.ZipFile(tmp, "w", zipfile.ZIP_DEFLATED) as archive:
    for program in programs:
        archive.write(program, f"{folder}/{os.path.basename(program)}")
    archive.writestr(f"{folder}/README.txt", "\ufeff".encode() + text.encode("utf-8"))
os.replace(tmp, out)
PY
echo "package-windows: $out"
python3 -m zipfile -l "$out"

#!/usr/bin/env bash
# Draws the application icon (orvel.ico: 16, 32 and 48 pixels) with ImageMagick. The committed icon
# was made with this script; run it again only to change the drawing.
set -euo pipefail
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
convert -size 256x256 xc:none \
  -fill '#1f4e79' -draw 'roundrectangle 8,8 247,247 40,40' \
  -fill none -stroke white -strokewidth 30 -draw 'circle 118,134 118,64' \
  -stroke none -fill '#f39c12' -draw 'circle 200,56 200,26' \
  -fill '#f39c12' -draw 'rectangle 150,180 236,204' \
  "$tmp/big.png"
for s in 16 32 48; do convert "$tmp/big.png" -resize ${s}x${s} "$tmp/icon$s.png"; done
convert "$tmp/icon16.png" "$tmp/icon32.png" "$tmp/icon48.png" orvel.ico

#!/usr/bin/env bash
# Draws the program's icon (src/resources/prereq.ico: 16, 24, 32 and 48
# pixels) with ImageMagick. The icon is kept in the repository; run this only
# to change it.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
convert -size 256x256 xc:none \
  -fill '#1f5fa8' -draw 'roundrectangle 8,8 247,247 40,40' \
  -fill '#3b82d6' -draw 'roundrectangle 8,8 247,160 40,40' \
  -fill '#1f5fa8' -draw 'rectangle 8,120 247,160' \
  -fill white -draw 'rectangle 106,36 150,116' -draw 'polygon 66,108 190,108 128,172' \
  -draw 'rectangle 44,160 64,216' -draw 'rectangle 192,160 212,216' \
  -draw 'rectangle 44,200 212,216' \
  "$work/big.png"
sizes=()
for s in 16 24 32 48; do
  convert "$work/big.png" -resize "${s}x${s}" "$work/i$s.png"
  sizes+=("$work/i$s.png")
done
convert "${sizes[@]}" "$repo/src/resources/prereq.ico"

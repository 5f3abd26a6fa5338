#!/usr/bin/env bash
# Regenerates the SVG artwork and renders the PNG files that cadenzo.qrc holds.
# Needs python3 and rsvg-convert (librsvg2-bin). The PNG files are committed.
set -euo pipefail
art=$(cd "$(dirname "$0")" && pwd)
out="$art/../images"
mkdir -p "$out"
python3 "$art/make_art.py"
for id in 130 158 159 160 161; do
  rsvg-convert "$art/bitmap$id.svg" -o "$out/bitmap$id.png"
done
for id in 128 131 132 136 163 278 279; do
  for size in 16 24 32 48 64; do
    rsvg-convert -w $size -h $size "$art/icon$id.svg" -o "$out/icon$id-$size.png"
  done
done
rsvg-convert -w 128 -h 128 "$art/icon128.svg" -o "$out/icon128-128.png"

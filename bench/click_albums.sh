#!/usr/bin/env bash
# Gaps found and false cuts with Smart Gap on, on synthetic albums and on real music:
# the freely licensed game music of two Debian packages, decoded with sox, each song
# trimmed of its quiet head and tail (below -45 dB, so that a long fade-out does not
# reach End Gap together with the gap), joined by 2 s gaps of hiss without and with
# clicks.
#
#   bench/click_albums.sh [BENCH_CLICK_ALBUMS] [WORK_DIR]
#
# BENCH_CLICK_ALBUMS defaults to build/bench/bench_click_albums; WORK_DIR to a new
# temporary folder (about 1 GB of decoded songs). Installs the music packages and sox
# when they are missing (root).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bench=${1:-$top/build/bench/bench_click_albums}
work=${2:-$(mktemp -d)}
[ -x "$bench" ] || { echo "no bench_click_albums at $bench (build the target first)" >&2; exit 1; }
need=()
for p in sox libsox-fmt-mp3 singularity-music asc-music; do
  dpkg -s "$p" >/dev/null 2>&1 || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then apt-get install -y "${need[@]}" >/dev/null; fi

mkdir -p "$work"
songs=()
i=0
for f in /usr/share/games/singularity/music/*.ogg /usr/share/games/asc/music/*.mp3; do
  i=$((i + 1))
  out=$work/song$(printf %02d $i).raw
  if [ ! -s "$out" ]; then
    sox -V1 "$f" -r 44100 -c 2 -b 16 -e signed-integer -t raw "$out" \
      silence 1 0.01 -45d reverse silence 1 0.01 -45d reverse
  fi
  songs+=("$out")
done

echo "synthetic albums, 12 songs each (default settings):"
"$bench"
echo "real music, ${#songs[@]} songs (default settings):"
"$bench" "${songs[@]}"

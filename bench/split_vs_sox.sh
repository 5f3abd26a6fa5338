#!/usr/bin/env bash
# Splitting speed: cadenzo-split against sox's silence effect on the same generated
# one-hour album (44100 Hz, 16-bit stereo), on the same machine in the same run.
#
#   bench/split_vs_sox.sh [CADENZO_SPLIT] [WORK_DIR]
#
# CADENZO_SPLIT defaults to build/tools/cadenzo-split; WORK_DIR to a new temporary folder
# (it needs about 1.3 GB: the album and one split of it at a time). Each tool runs twice
# on a warm file cache; the faster run counts. Prints both times and their ratio.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
split=${1:-$top/build/tools/cadenzo-split}
work=${2:-$(mktemp -d)}
[ -x "$split" ] || { echo "no cadenzo-split at $split (build the target first)" >&2; exit 1; }
command -v sox >/dev/null || { echo "sox is not installed" >&2; exit 1; }
mkdir -p "$work"
trap 'rm -rf "$work/out-split" "$work/out-sox"' EXIT

album=$work/album-1h.wav
if [ ! -f "$album" ]; then
  echo "generating a one-hour album in $album"
  # Fifteen "songs" of 238 s of pink noise, each followed by 2 s of digital silence.
  sox -n -r 44100 -b 16 -c 2 "$work/unit.wav" synth 238 pinknoise vol 0.3 pad 0 2
  sox "$work/unit.wav" "$album" repeat 14
  rm -f "$work/unit.wav"
fi
cat "$album" > /dev/null   # warm the file cache

now() { date +%s.%N; }
best_split=""
best_sox=""
for round in 1 2; do
  rm -rf "$work/out-split" "$work/out-sox"
  mkdir -p "$work/out-split" "$work/out-sox"

  t0=$(now)
  "$split" --quiet "$album" "$work/out-split/Song.wav" > "$work/split.log"
  t1=$(now)
  (cd "$work/out-sox" && sox "$album" out.wav silence 1 0.1 -35d 1 1.0 -35d : newfile : restart)
  t2=$(now)

  ts=$(echo "$t1 - $t0" | bc -l)
  tx=$(echo "$t2 - $t1" | bc -l)
  echo "round $round: cadenzo-split $(printf %.2f "$ts") s ($(ls "$work/out-split" | wc -l) files), sox $(printf %.2f "$tx") s ($(ls "$work/out-sox" | wc -l) files)"
  if [ -z "$best_split" ] || [ "$(echo "$ts < $best_split" | bc -l)" = 1 ]; then best_split=$ts; fi
  if [ -z "$best_sox" ] || [ "$(echo "$tx < $best_sox" | bc -l)" = 1 ]; then best_sox=$tx; fi
done

echo "one hour of 44100 Hz 16-bit stereo, best of two runs:"
printf '  cadenzo-split  %8.2f s  (%.0f x real time)\n' "$best_split" "$(echo "3600 / $best_split" | bc -l)"
printf '  sox silence    %8.2f s  (%.0f x real time)\n' "$best_sox" "$(echo "3600 / $best_sox" | bc -l)"
printf '  sox time / cadenzo-split time = %.2f\n' "$(echo "$best_sox / $best_split" | bc -l)"

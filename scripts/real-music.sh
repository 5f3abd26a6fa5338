#!/usr/bin/env bash
# Decodes freely licensed real music from Debian's packages into WAV files, for tests and
# benchmarks that need music with real dynamics, decays and fades rather than tones:
#   scripts/real-music.sh DIR [RATE]
# writes DIR/track01.wav … DIR/track13.wav (16-bit stereo at RATE, default 44100 Hz;
# about an hour in all) and prints their paths. Already decoded files are kept.
# The music is the soundtrack of the game Endgame: Singularity (package singularity-music,
# Creative Commons licensed, see /usr/share/doc/singularity-music/copyright).
set -euo pipefail
dir=${1:?usage: real-music.sh DIR [RATE]}
rate=${2:-44100}
src=/usr/share/games/singularity/music
if [ ! -d "$src" ]; then
  if [ "$(id -u)" -eq 0 ]; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends singularity-music >/dev/null
  else
    echo "real-music.sh: the package singularity-music is not installed" >&2; exit 1
  fi
fi
mkdir -p "$dir"
n=0
while IFS= read -r f; do
  n=$((n + 1))
  out=$(printf '%s/track%02d.wav' "$dir" "$n")
  if [ ! -s "$out" ]; then
    sox -q "$f" -b 16 -c 2 "$out.tmp.wav" rate -v "$rate"
    mv "$out.tmp.wav" "$out"
  fi
  echo "$out"
done < <(find "$src" -maxdepth 1 -name '*.ogg' | LC_ALL=C sort)

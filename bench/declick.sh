#!/usr/bin/env bash
# Click repair side by side with ffmpeg's adeclick filter, on real music: 60-s excerpts of
# the freely licensed tracks that scripts/real-music.sh decodes, with clicks of 1-30
# samples at -24 to -3 dBFS (spikes, decaying bursts, a few wide scratch pops; one or both
# channels, 1-5 a second) and crackle added by bench_declick. For each excerpt it prints
# the SNR against the clean music of the clicky input, of cadenzo-declick and of adeclick
# (defaults and t=8), what each does to the clean excerpt (samples changed, SNR, the
# worst changed sample's error), and processor seconds of both programs on the clicky
# excerpt (whole processes, reading and writing the files included).
#
#   bench/declick.sh [BUILD_DIR] [WORK_DIR] [EXCERPTS]
#
# BUILD_DIR defaults to build/ (configured and built here as far as needed); WORK_DIR to
# a new temporary folder; EXCERPTS (default 6) how many tracks give an excerpt. Installs
# ffmpeg and the music package when they are missing (root).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build}
work=${2:-$(mktemp -d)}
count=${3:-6}
if [ ! -f "$build/build.ninja" ] && [ ! -f "$build/Makefile" ]; then
  cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target cadenzo-declick bench_declick >/dev/null
declick=$build/tools/cadenzo-declick
tool=$build/bench/bench_declick
if ! command -v ffmpeg >/dev/null; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends ffmpeg >/dev/null
fi
mkdir -p "$work/music"
mapfile -t tracks < <(bash "$top/scripts/real-music.sh" "$work/music")

adeclick() { ffmpeg -nostdin -v error -y -threads 1 -filter_threads 1 -i "$1" -af "adeclick$3" -c:a pcm_s16le "$2"; }
# Processor seconds (user + system) of one run of a program, as the kernel accounts them.
cpu() { "$tool" cpu "$@"; }

printf '%-8s %6s | %6s %7s %7s | %-24s | %-15s | %7s %7s %6s | %6s %6s\n' \
  excerpt input ours adeclk 'ad t=8' 'clean: ours chg SNR max' 'clean: adeclk' \
  'ours s' 'adecl s' 'less' 'xRT' 'engine'
fail=0
total_ours=0
total_ad=0
for ((i = 0; i < count && i < ${#tracks[@]}; i += 1)); do
  k=$((i * ${#tracks[@]} / count))
  name=$(basename "${tracks[$k]}" .wav)
  d=$work/$name
  mkdir -p "$d"
  "$tool" make "${tracks[$k]}" 90 60 $((k + 1)) "$d/clean.wav" "$d/clicky.wav"
  t_ours=$(cpu "$declick" "$d/clicky.wav" "$d/ours.wav")
  t_ad=$(cpu ffmpeg -nostdin -v error -y -threads 1 -filter_threads 1 -i "$d/clicky.wav" -af adeclick \
    -c:a pcm_s16le "$d/ad.wav")
  t_engine=$("$tool" time "$d/clicky.wav" normal 7)
  adeclick "$d/clicky.wav" "$d/ad8.wav" "=t=8"
  "$declick" "$d/clean.wav" "$d/ours-clean.wav" >/dev/null
  adeclick "$d/clean.wav" "$d/ad-clean.wav" ""
  read -r s_in _ _ < <("$tool" compare "$d/clean.wav" "$d/clicky.wav" "$d/clicky.wav")
  read -r s_ours _ _ < <("$tool" compare "$d/clean.wav" "$d/ours.wav" "$d/clicky.wav")
  read -r s_ad _ _ < <("$tool" compare "$d/clean.wav" "$d/ad.wav" "$d/clicky.wav")
  read -r s_ad8 _ _ < <("$tool" compare "$d/clean.wav" "$d/ad8.wav" "$d/clicky.wav")
  read -r c_snr c_chg c_max < <("$tool" compare "$d/clean.wav" "$d/ours-clean.wav" "$d/clean.wav")
  read -r a_snr a_chg _ < <("$tool" compare "$d/clean.wav" "$d/ad-clean.wav" "$d/clean.wav")
  ratio=$(echo "scale=1; $t_ad / $t_ours" | bc)
  rt=$(echo "scale=0; 60 / $t_ours" | bc)
  rt_engine=$(echo "scale=0; 60 / $t_engine" | bc)
  printf '%-8s %6.1f | %6.1f %7.1f %7.1f | %6.3f%% %6.1f %7.1f   | %6.2f%% %6.1f | %7.3f %7.3f %5.1fx | %5dx %5dx\n' \
    "$name" "$s_in" "$s_ours" "$s_ad" "$s_ad8" "$c_chg" "$c_snr" "$c_max" "$a_chg" "$a_snr" \
    "$t_ours" "$t_ad" "$ratio" "$rt" "$rt_engine"
  best_ad=$(echo "if ($s_ad > $s_ad8) $s_ad else $s_ad8" | bc)
  if (($(echo "$s_ours < 45 || $s_ours < $best_ad + 12 || $c_chg > 0.05 || $c_snr < 60 || $c_max > -30 || $rt_engine < 400 || $t_ad < 5 * $t_ours" | bc))); then
    fail=1
  fi
  total_ours=$(echo "$total_ours + $t_ours" | bc)
  total_ad=$(echo "$total_ad + $t_ad" | bc)
done
# Clean music beyond the excerpts above: a minute from 30 s and one from 150 s of every
# track, each declicked at the default level; only what changes is counted.
wide_n=0
wide_over=0
wide_touched=0
wide_worst=-999
for t in "${tracks[@]}"; do
  for off in 30 150; do
    "$tool" make "$t" "$off" 60 1 "$work/wide.wav" "$work/wide-clicky.wav" 2>/dev/null || continue
    "$declick" "$work/wide.wav" "$work/wide-out.wav" >/dev/null
    read -r _ _ w_max < <("$tool" compare "$work/wide.wav" "$work/wide-out.wav" "$work/wide.wav")
    wide_n=$((wide_n + 1))
    if (($(echo "$w_max > -999" | bc))); then wide_touched=$((wide_touched + 1)); fi
    if (($(echo "$w_max > $wide_worst" | bc))); then wide_worst=$w_max; fi
    if (($(echo "$w_max > -30" | bc))); then wide_over=$((wide_over + 1)); fi
  done
done
if ((wide_n > 0)); then
  printf 'wider clean check: %d minutes of clean music (from 30 s and 150 s of every track): %d with a sample changed, worst changed sample %.1f dBFS; %d with a changed sample off by more than -30 dBFS\n' \
    "$wide_n" "$wide_touched" "$wide_worst" "$wide_over"
fi
echo "SNR in dB against the clean music; clean: samples changed, SNR, worst changed sample (dBFS);"
echo "processor seconds (user + system) of whole runs on the clicky excerpt, reading and writing"
echo "included; xRT = 60 s / ours; engine = the declicker alone in memory (median of 7), x real time."
echo "processor time in all: cadenzo-declick ${total_ours} s, adeclick ${total_ad} s ($(echo "scale=1; $total_ad / $total_ours" | bc)x less)"
if [ "$fail" -ne 0 ]; then
  echo "GOALS MISSED: repair >= 45 dB and >= adeclick + 12 dB; clean <= 0.05% changed, >= 60 dB, worst <= -30 dBFS; >= 400x real time and >= 5x less processor time than adeclick"
  exit 1
fi
echo "goals met: repair >= 45 dB and >= adeclick + 12 dB; clean <= 0.05% changed, >= 60 dB, worst <= -30 dBFS; >= 400x real time and >= 5x less processor time than adeclick"

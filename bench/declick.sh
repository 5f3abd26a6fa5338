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

# Processor seconds (user + system) of a command, its output thrown away.
cpu() {
  local t0 t1 me=$BASHPID
  t0=$(awk '{print $14 + $15 + $16 + $17}' "/proc/$me/stat")
  "$@" >/dev/null 2>&1
  t1=$(awk '{print $14 + $15 + $16 + $17}' "/proc/$me/stat")
  echo "scale=3; ($t1 - $t0) / $(getconf CLK_TCK)" | bc
}
adeclick() { ffmpeg -nostdin -v error -y -threads 1 -filter_threads 1 -i "$1" -af "adeclick$3" -c:a pcm_s16le "$2"; }

printf '%-8s %6s | %6s %7s %7s | %-22s | %-22s | %6s %7s %7s %6s\n' \
  excerpt input ours adeclk 'ad t=8' 'clean: ours chg SNR max' 'clean: adeclk chg SNR' \
  'ours s' 'adecl s' 'ratio' 'x RT'
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
  t_ad=$(cpu adeclick "$d/clicky.wav" "$d/ad.wav" "")
  adeclick "$d/clicky.wav" "$d/ad8.wav" "=t=8"
  "$declick" "$d/clean.wav" "$d/ours-clean.wav" >/dev/null
  adeclick "$d/clean.wav" "$d/ad-clean.wav" ""
  read -r s_in _ _ < <("$tool" compare "$d/clean.wav" "$d/clicky.wav" "$d/clicky.wav")
  read -r s_ours _ _ < <("$tool" compare "$d/clean.wav" "$d/ours.wav" "$d/clicky.wav")
  read -r s_ad _ _ < <("$tool" compare "$d/clean.wav" "$d/ad.wav" "$d/clicky.wav")
  read -r s_ad8 _ _ < <("$tool" compare "$d/clean.wav" "$d/ad8.wav" "$d/clicky.wav")
  read -r c_snr c_chg c_max < <("$tool" compare "$d/clean.wav" "$d/ours-clean.wav" "$d/clean.wav")
  read -r a_snr a_chg _ < <("$tool" compare "$d/clean.wav" "$d/ad-clean.wav" "$d/clean.wav")
  ratio=$(echo "scale=1; $t_ad / ($t_ours + 0.001)" | bc)
  rt=$(echo "scale=0; 60 / ($t_ours + 0.001)" | bc)
  printf '%-8s %6.1f | %6.1f %7.1f %7.1f | %6.3f%% %5.1f %7.1f  | %6.2f%% %5.1f         | %6.2f %7.2f %6.1fx %5dx\n' \
    "$name" "$s_in" "$s_ours" "$s_ad" "$s_ad8" "$c_chg" "$c_snr" "$c_max" "$a_chg" "$a_snr" \
    "$t_ours" "$t_ad" "$ratio" "$rt"
  best_ad=$(echo "if ($s_ad > $s_ad8) $s_ad else $s_ad8" | bc)
  if (($(echo "$s_ours < 45 || $s_ours < $best_ad + 12 || $c_chg > 0.05 || $c_snr < 60 || $c_max > -30" | bc))); then
    fail=1
  fi
  total_ours=$(echo "$total_ours + $t_ours" | bc)
  total_ad=$(echo "$total_ad + $t_ad" | bc)
done
engine=$("$tool" time "$work/$(basename "${tracks[0]}" .wav)/clicky.wav" normal 5)
echo "declicker alone on the first clicky excerpt (median of 5): ${engine} s = $(echo "scale=0; 60 / $engine" | bc)x real time"
echo "processor time in all: cadenzo-declick ${total_ours} s, adeclick ${total_ad} s ($(echo "scale=1; $total_ad / $total_ours" | bc)x)"
if [ "$fail" -ne 0 ]; then
  echo "GOALS MISSED: repair >= 45 dB and >= adeclick + 12 dB; clean <= 0.05% changed, >= 60 dB, worst <= -30 dBFS"
  exit 1
fi
echo "goals met: repair >= 45 dB and >= adeclick + 12 dB; clean <= 0.05% changed, >= 60 dB, worst <= -30 dBFS"

#!/usr/bin/env bash
# Export: loudness and speed against independent tools, on real music.
#
#   bench/export_vs_ffmpeg.sh [WORK_DIR]
#
# 1. Loudness: exports the real-music album (scripts/real-music.sh, about an hour, 13 songs)
#    to FLAC with ReplayGain and compares each song's loudness (-18 LUFS minus the track
#    gain) and the album's with ffmpeg's ebur128 filter on the same WAV files. Prints every
#    difference and fails when one exceeds 0.1 dB.
# 2. Speed, in one run: FLAC with ReplayGain against flac -5 plus ffmpeg's ebur128
#    scan of the same files; MP3 V0, MP3 320 kbit/s and Opus 160 kbit/s against ffmpeg
#    encoding the same files with the same settings. Prints the times, the ratios and the
#    load average (the ratios hold within one run; the times depend on the machine's load).
#
#    The settings of each side:
#    - cadenzo-album writes through libsndfile: MP3 with LAME (V0: VBR quality 0; 320: CBR,
#      LAME's default algorithm quality either way), Opus with libopus at 160 kbit/s,
#      complexity 10, application "audio", VBR as libopus has it by default (constrained),
#      after libsoxr at its high quality (20 bits) from 44.1 to 48 kHz. Every lossy export
#      also measures ReplayGain (a pass of libebur128 over the songs before they are
#      encoded), which ffmpeg's commands do not.
#    - ffmpeg: libmp3lame with -q:a 0 (V0) or -b:a 320k (CBR); libopus with -b:a 160k
#      -vbr constrained -compression_level 10 -application audio, resampled by
#      aresample=resampler=soxr:precision=20.
#
# ffmpeg and flac are installed here for this script only (the build and tests do not need
# them). RUNS (default 2) sets the runs per command; the times printed are their medians.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
work=${1:-$(mktemp -d)}
runs=${RUNS:-2}
build=$top/build-bench
missing=()
for tool in ffmpeg flac metaflac; do command -v "$tool" >/dev/null || missing+=("$tool"); done
if [ ${#missing[@]} -gt 0 ]; then
  [ "$(id -u)" -eq 0 ] || { echo "install ffmpeg and flac first" >&2; exit 1; }
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends ffmpeg flac >/dev/null
fi
for tool in cmake ninja python3; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed (scripts/install-deps.sh)" >&2; exit 1; }
done

echo "building cadenzo-album in $build"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCADENZO_BUILD_TESTS=OFF \
  -DCADENZO_BUILD_GUI=OFF -DCADENZO_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --target cadenzo-album >/dev/null
tool=$build/tools/cadenzo-album

mkdir -p "$work/music" "$work/album"
mapfile -t tracks < <(bash "$top/scripts/real-music.sh" "$work/music")
n=0
for t in "${tracks[@]}"; do
  n=$((n + 1))
  ln -sf "$t" "$work/album/Record$n.wav"
done
cat "${tracks[@]}" > /dev/null   # warm the file cache

out=$work/out
rm -rf "$out"
"$tool" export "$work/album/Record.wav" "$out" --flac --album Bench --artist Bench >/dev/null

# ffmpeg's integrated loudness, to the thousandth its metadata carries.
ffmpeg_i() {
  ffmpeg -hide_banner -nostats -loglevel error "$@" \
    -af ebur128=metadata=1,ametadata=mode=print:key=lavfi.r128.I:file=- -f null - |
    sed -n 's/^lavfi.r128.I=//p' | tail -n 1
}
echo
echo "loudness, LUFS: cadenzo-album (ReplayGain) vs ffmpeg ebur128"
worst=0
i=0
for f in "$out"/*.flac; do
  gain=$(metaflac --show-tag=REPLAYGAIN_TRACK_GAIN "$f" | sed 's/.*=//; s/ dB//')
  ours=$(python3 -c "print(f'{-18.0 - float(\"$gain\"):.3f}')")
  theirs=$(ffmpeg_i -i "${tracks[$i]}")
  diff=$(python3 -c "print(f'{abs($ours - ($theirs)):.3f}')")
  worst=$(python3 -c "print(max($worst, $diff))")
  printf '  %-40s %9s %9s  diff %s\n' "$(basename "$f")" "$ours" "$theirs" "$diff"
  i=$((i + 1))
done
list=$work/concat.txt
: > "$list"
for t in "${tracks[@]}"; do printf "file '%s'\n" "$t" >> "$list"; done
gain=$(metaflac --show-tag=REPLAYGAIN_ALBUM_GAIN "$(ls "$out"/*.flac | head -n 1)" | sed 's/.*=//; s/ dB//')
ours=$(python3 -c "print(f'{-18.0 - float(\"$gain\"):.3f}')")
theirs=$(ffmpeg_i -f concat -safe 0 -i "$list")
diff=$(python3 -c "print(f'{abs($ours - ($theirs)):.3f}')")
worst=$(python3 -c "print(max($worst, $diff))")
printf '  %-40s %9s %9s  diff %s\n' "album" "$ours" "$theirs" "$diff"
echo "largest difference: $worst dB (ReplayGain values carry two decimals)"
python3 -c "import sys; sys.exit(0 if $worst <= 0.1 else 1)" || { echo "FAIL: beyond 0.1 dB" >&2; exit 1; }

echo
echo "speed (load average at the start: $(cut -d' ' -f1-3 /proc/loadavg))"
flac_ffmpeg="for t in ${tracks[*]}; do flac -5 -s -f -o $out/x.flac \$t && ffmpeg -hide_banner -nostats -loglevel error -i \$t -af ebur128 -f null -; done"
ff="ffmpeg -hide_banner -nostats -loglevel error -y -i \$t"
mp3v0_ffmpeg="for t in ${tracks[*]}; do $ff -c:a libmp3lame -q:a 0 $out/x.mp3; done"
mp3_ffmpeg="for t in ${tracks[*]}; do $ff -c:a libmp3lame -b:a 320k $out/x.mp3; done"
opus_ffmpeg="for t in ${tracks[*]}; do $ff -af aresample=resampler=soxr:precision=20 -ar 48000 -c:a libopus -b:a 160k -vbr constrained -compression_level 10 -application audio $out/x.opus; done"
ours() { echo "rm -rf $out && '$tool' export '$work/album/Record.wav' $out $1 >/dev/null"; }
# Each pair alternates, ours first in odd rounds and theirs first in even ones, so that a
# change of the machine's load falls on both sides alike (a machine shared with others).
python3 - "$runs" <<PY
import statistics, subprocess, sys, time
runs = int(sys.argv[1])
pairs = [("cadenzo-album FLAC + ReplayGain", """$(ours --flac)""", "flac -5 + ffmpeg ebur128", """$flac_ffmpeg"""),
         ("cadenzo-album MP3 V0 + ReplayGain", """$(ours '--mp3 V0')""", "ffmpeg MP3 V0", """$mp3v0_ffmpeg"""),
         ("cadenzo-album MP3 320 + ReplayGain", """$(ours '--mp3 320')""", "ffmpeg MP3 320", """$mp3_ffmpeg"""),
         ("cadenzo-album Opus 160 + ReplayGain", """$(ours --opus)""", "ffmpeg Opus 160", """$opus_ffmpeg""")]
def timed(cmd):
    start = time.monotonic()
    subprocess.run(["bash", "-c", cmd], check=True)
    return time.monotonic() - start
for name, cmd, peer, peer_cmd in pairs:
    ours, theirs = [], []
    for r in range(runs):
        if r % 2 == 0:
            ours.append(timed(cmd)); theirs.append(timed(peer_cmd))
        else:
            theirs.append(timed(peer_cmd)); ours.append(timed(cmd))
    a, b = statistics.median(ours), statistics.median(theirs)
    print(f"{name}: {a:.1f} s, {peer}: {b:.1f} s, ratio {a / b:.2f} "
          f"(runs {', '.join(f'{x:.1f}' for x in ours)} / {', '.join(f'{x:.1f}' for x in theirs)})", flush=True)
PY
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"

#!/usr/bin/env bash
# Splitting speed: cadenzo-split (with its defaults, and with DC Block and Smart Gap off)
# against sox's silence split on two one-hour albums, each in one hyperfine run on the
# same machine, the engine's own speed and what the explanation's quiet-stretch finder
# costs beside it. Prints the times, and ends with a table of the ratios on both albums,
# in wall-clock and in processor time, beside the load average of the machine.
#
#   bench/split_vs_sox.sh [WORK_DIR]
#
# The albums: generated songs separated by 4 s of digital silence, and real music (the
# freely licensed tracks scripts/real-music.sh decodes, their own silence at either end
# trimmed) joined by 4 s of hiss at -60 dBFS, every fourth gap with a click in it, as a
# record has them.
#
# Builds cadenzo-split and bench_splitter in build-bench/ (Release, no tests, no windows),
# makes the albums in WORK_DIR (default: a new temporary folder; it needs about 3 GB: the
# albums, the decoded tracks and one split at a time; albums already there are used
# again) and keeps them. MUSIC_DIR names a folder of decoded tracks to use (default:
# WORK_DIR/music). RUNS (default 3) sets hyperfine's runs per command, interleaved.
# Needs cmake, ninja, sox, hyperfine, python3 and /usr/bin/time (scripts/install-deps.sh
# installs them).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
work=${1:-$(mktemp -d)}
runs=${RUNS:-3}
build=$top/build-bench
for tool in cmake ninja sox hyperfine python3 /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed (scripts/install-deps.sh)" >&2; exit 1; }
done

echo "building cadenzo-split, bench_splitter and bench_explain in $build"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCADENZO_BUILD_TESTS=OFF \
  -DCADENZO_BUILD_GUI=OFF -DCADENZO_BUILD_BENCH=ON >/dev/null
cmake --build "$build" --target cadenzo-split bench_splitter bench_explain >/dev/null
split=$build/tools/cadenzo-split

mkdir -p "$work"
album=$work/album-1h.wav
if [ ! -f "$album" ]; then
  echo "generating a one-hour album in $album"
  # Twelve 5-minute songs, 44100 Hz 16-bit stereo: pink noise under a gliding tone with a
  # tremolo, faded in and out, each followed by 4 s of digital silence.
  for i in $(seq 1 12); do
    sox -n -r 44100 -b 16 -c 2 "$work/song$i.wav" synth 296 pinknoise mix sine $((100 + i * 37))-$((300 + i * 53)) \
      tremolo $((2 + i % 4)) 60 vol 0.5 fade q 0.5 296 3 pad 0 4 2>/dev/null
  done
  sox "$work"/song{1..12}.wav "$album"
  rm -f "$work"/song{1..12}.wav
fi
cat "$album" > /dev/null   # warm the file cache

real=$work/album-real-1h.wav
if [ ! -f "$real" ]; then
  echo "making a one-hour album of real music with hiss gaps in $real"
  music=${MUSIC_DIR:-$work/music}
  bash "$top/scripts/real-music.sh" "$music" >/dev/null
  sox -n -r 44100 -b 16 -c 2 "$work/hiss.wav" synth 4 whitenoise vol 0.001
  sox -n -r 44100 -b 16 -c 2 "$work/half.wav" synth 2 whitenoise vol 0.001
  sox -n -r 44100 -b 16 -c 2 "$work/click.wav" synth 0.001 square 1000 vol 0.5
  sox "$work/half.wav" "$work/click.wav" "$work/half.wav" "$work/clickgap.wav"
  parts=()
  for i in $(seq -w 1 13); do
    # A track's digital silence at its ends would be the album's, and a record has none.
    sox "$music/track$i.wav" "$work/trim$i.wav" silence 1 0.05 -60d reverse silence 1 0.05 -60d reverse
    parts+=("$work/trim$i.wav")
    [ "$i" = 13 ] || if [ $((10#$i % 4)) = 0 ]; then parts+=("$work/clickgap.wav"); else parts+=("$work/hiss.wav"); fi
  done
  sox "${parts[@]}" "$real"
  rm -f "$work"/trim*.wav "$work"/{hiss,half,click,clickgap}.wav
fi
cat "$real" > /dev/null

out=$work/out
trap 'rm -rf "$out"' EXIT
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
fresh="rm -rf '$out' && mkdir -p '$out'"
# Rounds of one run of each command, interleaved, so that the machine's load changes
# affect all three alike.
for name in digital real; do
  input=$album
  [ $name = real ] && input=$real
  for round in $(seq 1 "$runs"); do
    hyperfine --style none --runs 1 --export-json "$work/split-$name-$round.json" \
      --prepare "$fresh" \
      -n "cadenzo-split (defaults)" "'$split' --quiet '$input' '$out/Song.wav'" \
      -n "cadenzo-split (filters off)" "'$split' --quiet --dc-block off --smart-gap off '$input' '$out/Song.wav'" \
      -n "sox silence split" "cd '$out' && sox '$input' Song.wav silence 1 0.1 -35d 1 1.0 -35d : newfile : restart"
  done
done

peak() {  # peak memory of one run, in KiB
  eval "$fresh"
  /usr/bin/time -f %M "$split" --quiet "$@" "$out/Song.wav" 2>&1 >/dev/null | tail -1
}
mem="$(peak "$album") $(peak --dc-block off --smart-gap off "$album") $(peak "$real") $(peak --dc-block off --smart-gap off "$real")"

engine=$("$build/bench/bench_splitter" --benchmark_filter='bits:16/dcblock:(0/smartgap:0|1/smartgap:1)/leadout:0' \
  --benchmark_repetitions=10 --benchmark_format=json 2>/dev/null)
# What gathering the quiet stretches for the explanation costs beside the splitting, on
# the real album (processor seconds per hour of audio).
explain=$("$build/bench/bench_explain" "$real")
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

python3 - "$work" "$runs" "$mem" "$engine" "$explain" "$load_before" "$load_after" <<'EOF'
import json, statistics, sys
work, rounds = sys.argv[1], int(sys.argv[2])
mem = [int(m) / 1024 for m in sys.argv[3].split()]
explain = sys.argv[5].split()
summary = []
albums = (("digital", "songs with 4 s of digital silence between them"),
          ("real", "real music with 4 s of hiss at -60 dBFS between the songs, clicks in three gaps"))
for k, (name, what) in enumerate(albums):
    wall, cpu = {}, {}
    for r in range(1, rounds + 1):
        for res in json.load(open(f"{work}/split-{name}-{r}.json"))["results"]:
            wall.setdefault(res["command"], []).append(res["times"][0])
            cpu.setdefault(res["command"], []).append(res["user"] + res["system"])
    sox = "sox silence split"
    print(f"\none hour of 44100 Hz 16-bit stereo, {what};\n{rounds} interleaved rounds (mean and fastest of each):")
    for cmd in wall:
        print(f"  {cmd:28s} {statistics.mean(wall[cmd]):7.2f} s  (fastest {min(wall[cmd]):.2f} s,"
              f" processor {statistics.mean(cpu[cmd]):.2f} s, {3600 / statistics.mean(wall[cmd]):5.0f}x real time)")
    for cmd, goal in (("cadenzo-split (defaults)", 4), ("cadenzo-split (filters off)", 6)):
        ratios = (statistics.mean(wall[sox]) / statistics.mean(wall[cmd]), min(wall[sox]) / min(wall[cmd]),
                  statistics.mean(cpu[sox]) / statistics.mean(cpu[cmd]), min(cpu[sox]) / min(cpu[cmd]))
        summary.append((name, cmd[15:-1], goal) + ratios)
        print(f"  sox / {cmd:28s} {ratios[0]:5.2f} wall"
              f" (fastest runs: {ratios[1]:.2f}),"
              f" {ratios[2]:5.2f} processor time (goal >= {goal})")
        if cmd == "cadenzo-split (defaults)" and name == "real":
            split_cpu = statistics.mean(cpu[cmd])
    # On a busy machine wall-clock times mostly measure the others' load; processor time
    # does not (cadenzo-split reads, splits and writes on two threads, so on an idle
    # machine its wall-clock ratio is the higher one).
    print(f"  peak memory: defaults {mem[2 * k]:.1f} MiB, filters off {mem[2 * k + 1]:.1f} MiB (goal <= 16)")
# A virtual machine's neighbours slow some repetitions down by a sixth and more for minutes
# at a time: the median tells what they left, the fastest what the code does on a core
# of its own.
engine = {}
for b in json.loads(sys.argv[4])["benchmarks"]:
    if b.get("run_type") == "iteration":
        engine.setdefault(b["run_name"], []).append(b["x_realtime"])
print("engine alone, one core, 16-bit music (bench_splitter, 10 repetitions: median and fastest):")
for name, speeds in sorted(engine.items()):
    both = "dcblock:1/smartgap:1" in name
    speeds.sort()
    median = (speeds[(len(speeds) - 1) // 2] + speeds[len(speeds) // 2]) / 2
    print(f"  {'both filters' if both else 'both off':12s} {median:7.0f}x real time, fastest {speeds[-1]:5.0f}x"
          f" (goal >= {2500 if both else 8000})")
finder, splitter, hours = float(explain[3]), float(explain[1]), float(explain[5])
print(f"the explanation's quiet-stretch finder on the real album (bench_explain): {finder:.3f} s of processor"
      f" time per hour of audio\n  (the splitter alone {splitter:.3f} s), {finder * hours / split_cpu:.3f} of a"
      f" default split's processor time (goal <= 0.1)")
print(f"\nsox's silence split / cadenzo-split, mean of the rounds (fastest runs in brackets);"
      f" load average {sys.argv[6]} before, {sys.argv[7]} after:")
print(f"  {'album':8s} {'cadenzo-split':12s} {'wall':>13s} {'processor':>13s}  goal")
for name, what, goal, wall_mean, wall_best, cpu_mean, cpu_best in summary:
    met = "met" if min(wall_mean, cpu_mean) >= goal else "not met"
    print(f"  {name:8s} {what:12s} {wall_mean:5.2f} ({wall_best:5.2f}) {cpu_mean:5.2f} ({cpu_best:5.2f})  >= {goal} {met}")
EOF

#!/usr/bin/env bash
# Splitting speed: cadenzo-split (with its defaults, and with DC Block and Smart Gap off)
# against sox's silence split on the same generated one-hour album, in one hyperfine run
# on the same machine, and the engine's own speed. Prints the times and the ratios.
#
#   bench/split_vs_sox.sh [WORK_DIR]
#
# Builds cadenzo-split and bench_splitter in build-bench/ (Release, no tests, no windows),
# generates the album in WORK_DIR (default: a new temporary folder; it needs about 1.3 GB:
# the album and one split of it at a time; an album already there is used again) and
# keeps it. RUNS (default 3) sets hyperfine's runs per command. Needs cmake, ninja,
# sox, hyperfine, python3 and /usr/bin/time (scripts/install-deps.sh installs them).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
work=${1:-$(mktemp -d)}
runs=${RUNS:-3}
build=$top/build-bench
for tool in cmake ninja sox hyperfine python3 /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed (scripts/install-deps.sh)" >&2; exit 1; }
done

echo "building cadenzo-split and bench_splitter in $build"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCADENZO_BUILD_TESTS=OFF \
  -DCADENZO_BUILD_GUI=OFF -DCADENZO_BUILD_BENCH=ON >/dev/null
cmake --build "$build" --target cadenzo-split bench_splitter >/dev/null
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

out=$work/out
trap 'rm -rf "$out"' EXIT
fresh="rm -rf '$out' && mkdir -p '$out'"
hyperfine --style basic --runs "$runs" --export-json "$work/split.json" \
  --prepare "$fresh" \
  -n "cadenzo-split (defaults)" "'$split' --quiet '$album' '$out/Song.wav'" \
  -n "cadenzo-split (filters off)" "'$split' --quiet --dc-block off --smart-gap off '$album' '$out/Song.wav'" \
  -n "sox silence split" "cd '$out' && sox '$album' Song.wav silence 1 0.1 -35d 1 1.0 -35d : newfile : restart"

peak() {  # peak memory of one run, in KiB
  eval "$fresh"
  /usr/bin/time -f %M "$split" --quiet "$@" "$album" "$out/Song.wav" 2>&1 >/dev/null | tail -1
}
mem_defaults=$(peak)
mem_off=$(peak --dc-block off --smart-gap off)

engine=$("$build/bench/bench_splitter" --benchmark_filter='bits:16/dcblock:(0/smartgap:0|1/smartgap:1)/leadout:0' \
  --benchmark_repetitions=10 --benchmark_format=json 2>/dev/null)

python3 - "$work/split.json" "$mem_defaults" "$mem_off" "$engine" <<'EOF'
import json, sys
runs = {r["command"]: r for r in json.load(open(sys.argv[1]))["results"]}
sox = runs["sox silence split"]
print("\none hour of 44100 Hz 16-bit stereo, same hyperfine run (mean and fastest of each):")
for name, r in runs.items():
    print(f"  {name:28s} {r['mean']:7.2f} s  (fastest {r['min']:.2f} s, {3600 / r['mean']:5.0f}x real time)")
cpu = lambda r: r["user"] + r["system"]
for name, goal in (("cadenzo-split (defaults)", 4), ("cadenzo-split (filters off)", 6)):
    r = runs[name]
    print(f"  sox / {name:28s} {sox['mean'] / r['mean']:5.2f} (fastest runs: {sox['min'] / r['min']:.2f}; goal >= {goal})")
# On a busy machine wall-clock times mostly measure the others' load; processor time
# does not (cadenzo-split reads, splits and writes on two threads, so on an idle
# machine its wall-clock ratio is the higher one).
print("  processor time (user + system): " + ", ".join(
    f"{name} {cpu(r):.2f} s" for name, r in runs.items()))
for name in ("cadenzo-split (defaults)", "cadenzo-split (filters off)"):
    print(f"  sox / {name:28s} {cpu(sox) / cpu(runs[name]):5.2f} in processor time")
print(f"  peak memory: defaults {int(sys.argv[2]) / 1024:.1f} MiB, filters off {int(sys.argv[3]) / 1024:.1f} MiB (goal <= 16)")
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
EOF

#!/usr/bin/env bash
# CPU of the recorder while it records 48 kHz float live, and while it waits idle.
#   bash bench/live_cpu.sh [record-seconds] [idle-seconds]      (defaults 60 and 20)
# Builds bench_live_cpu (the real main window, offscreen) in build/, starts a private
# PulseAudio with a null sink, and records from its monitor through PortAudio and ALSA.
# The samples come from a raw file of noise (ALSA's file plugin in front of the pulse
# device), the pace from the server's clock, as from a sound card. Prints the CPU of the
# whole process and of each thread as a share of one core, and their wake-ups.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
record=${1:-60}
idle=${2:-20}
build=$top/build
[ -f "$build/CMakeCache.txt" ] || cmake -S "$top" -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target bench_live_cpu >/dev/null

tmp=$(mktemp -d /tmp/cadenzo-live-XXXXXX)
pulse=
cleanup() {
  [ -n "$pulse" ] && kill "$pulse" 2>/dev/null && wait "$pulse" 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT
mkdir -p "$tmp/run" && chmod 700 "$tmp/run"
XDG_RUNTIME_DIR=$tmp/run HOME=$tmp pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no \
  --load=module-native-protocol-unix --load="module-null-sink sink_name=ci rate=48000" >"$tmp/pulse.log" 2>&1 &
pulse=$!
for _ in $(seq 100); do [ -S "$tmp/run/pulse/native" ] && break; sleep 0.1; done
[ -S "$tmp/run/pulse/native" ] || { cat "$tmp/pulse.log"; exit 1; }

# Noise for longer than the whole run: past its end the file plugin repeats stale data.
python3 - "$tmp/in.raw" $(( record + 2 * idle + 30 )) <<'PY'
import random, struct, sys
random.seed(7)
block = struct.pack('<9600f', *[random.uniform(-0.5, 0.5) for _ in range(9600)])  # 0.1 s
with open(sys.argv[1], 'wb') as f:
    for _ in range(int(sys.argv[2]) * 10):
        f.write(block)
PY
cat >"$tmp/asound.conf" <<CONF
pcm.!default {
    type file
    slave.pcm { type pulse device "ci.monitor" }
    file "/dev/null"
    infile "$tmp/in.raw"
    format "raw"
}
CONF

echo "Cadenzo recording 48 kHz float stereo through PortAudio from a private PulseAudio"
echo "($(nproc) cores; CPU as a share of one core, per thread and in all)"
cd "$tmp"
ALSA_CONFIG_PATH=$tmp/asound.conf PULSE_SERVER=unix:$tmp/run/pulse/native XDG_RUNTIME_DIR=$tmp/run \
  HOME=$tmp QT_QPA_PLATFORM=offscreen JACK_NO_START_SERVER=1 "$build/bench/bench_live_cpu" "$record" "$idle"

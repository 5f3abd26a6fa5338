#!/usr/bin/env bash
# A private PipeWire sound server with its PulseAudio service and session manager, in a
# folder of its own, as most Debian 12 desktops run it, with a null sink "ci" whose monitor
# is the default source. Used by the capture tests:
#   private-pipewire.sh start DIR [PID]  start the server (the session bus it needs too);
#                                        with PID, stop it too when that process ends
#                                        (a test killed for taking too long)
#   private-pipewire.sh play DIR FILE    play raw 48 kHz 16-bit stereo into the sink
#   private-pipewire.sh record DIR FILE  record the sink's monitor as the server delivers
#                                        it (raw 48 kHz 16-bit stereo, a second of buffer)
#   private-pipewire.sh profile DIR      log every cycle of the graph to DIR/profiler.log
#   private-pipewire.sh stop DIR         stop everything started in DIR
set -u
cmd=$1
d=$2
export XDG_RUNTIME_DIR=$d/run DBUS_SESSION_BUS_ADDRESS=unix:path=$d/run/bus HOME=$d
export XDG_CONFIG_HOME=$d/config XDG_STATE_HOME=$d/state PULSE_SERVER=unix:$d/run/pulse/native

# Runs a program in the background and notes its id and name, so that stop ends only it.
spawn() {
  local log=$1
  shift
  "$@" >"$log" 2>&1 &
  echo "$! $(basename "$1")" >>"$d/pids"
}

wait_for() {
  for _ in $(seq 100); do [ -S "$1" ] && return 0; sleep 0.1; done
  echo "$1 did not appear" >&2
  return 1
}

case $cmd in
start)
  mkdir -p "$d/run" && chmod 700 "$d/run"
  spawn "$d/dbus.log" dbus-daemon --session --address="$DBUS_SESSION_BUS_ADDRESS" --nofork --nopidfile
  if [ -n "${3:-}" ]; then
    # Until a stop has run: once the test process is gone, stop what it left.
    (while kill -0 "$3" 2>/dev/null && [ -f "$d/pids" ]; do sleep 1; done
     [ -f "$d/pids" ] && bash "$0" stop "$d") >/dev/null 2>&1 &
  fi
  wait_for "$d/run/bus" || exit 1
  spawn "$d/pipewire.log" pipewire
  wait_for "$d/run/pipewire-0" || exit 1
  spawn "$d/wireplumber.log" wireplumber
  spawn "$d/pipewire-pulse.log" pipewire-pulse
  wait_for "$d/run/pulse/native" || exit 1
  pactl load-module module-null-sink sink_name=ci >/dev/null &&
    pactl set-default-sink ci && pactl set-default-source ci.monitor
  ;;
play)
  spawn "$d/paplay.log" paplay --raw --format=s16le --rate=48000 --channels=2 "$3"
  ;;
record)
  parec --raw --format=s16le --rate=48000 --channels=2 --latency-msec=1000 -d ci.monitor >"$3" 2>"$d/parec.log" &
  echo "$! parec" >>"$d/pids"
  ;;
profile)
  spawn /dev/null pw-profiler -o "$d/profiler.log"
  ;;
stop)
  [ -f "$d/pids" ] || exit 0
  # Only the processes started here that still run under their own name.
  pids=$(tac "$d/pids" | while read -r p name; do
    [ "$(cat /proc/"$p"/comm 2>/dev/null)" = "${name:0:15}" ] && echo "$p"
  done)
  for p in $pids; do kill "$p" 2>/dev/null; done
  for _ in $(seq 50); do
    alive=0
    for p in $pids; do kill -0 "$p" 2>/dev/null && alive=1; done
    [ $alive = 0 ] && break
    sleep 0.1
  done
  for p in $pids; do kill -9 "$p" 2>/dev/null; done
  rm -f "$d/pids"
  ;;
esac

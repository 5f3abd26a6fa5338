#!/usr/bin/env bash
# Screenshots of the recorder under Xvfb, recording from a generated recording:
#   tests/app/screenshots.sh BUILD_DIR OUT_DIR
# Writes recording-coloured-1.png and -2.png (0.4 s apart), recording-plain.png and
# settings.png and monitoring.png (the input watched while idle), each of the window
# in front (found by its title).
set -euo pipefail
build=$1; out=$(mkdir -p "$2" && cd "$2" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
# Song one (4 s of a pulsing tone), 1.5 s of silence, song two (a louder pulsing tone
# with a little noise), loud enough to light the level columns.
sox -n -r 44100 -c 2 -b 16 a.wav synth 4 square 110 tremolo 3 70 vol 0.45
sox -n -r 44100 -c 2 -b 16 s.wav trim 0 1.5
sox -n -r 44100 -c 2 -b 16 b.wav synth 40 square 165 tremolo 1.3 85 vol 0.5
sox a.wav s.wav b.wav src.wav
export JACK_NO_START_SERVER=1 HOME="$work"

shoot() {  # shoot TITLE NAME DELAY [more names and delays...] -- ARGS
    local title=$1 shots=()
    shift
    while [ "$1" != "--" ]; do shots+=("$1" "$2"); shift 2; done
    shift
    mkdir -p "$work/run"; rm -rf "${work:?}/run"/*
    xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
        "$0" "$@" & pid=$!
        set -- '"${shots[*]}"'
        while [ $# -gt 0 ]; do
            sleep "$2"
            id=$(xwininfo -root -tree | grep "\"'"$title"'\"" | head -1 | awk "{print \$1}")
            import -window "$id" "'"$out"'/$1.png"
            shift 2
        done
        kill $pid' "$build/tests/app/cadenzo_shot" "$work/src.wav" "$work/run" "$@"
}

shoot "Novu Cadenzo" recording-coloured-1 6.5 recording-coloured-2 0.4 --
shoot "Novu Cadenzo" recording-plain 6.5 -- plain
shoot "Cadenzo Custom Settings" settings 3 -- settings
shoot "Novu Cadenzo" monitoring 3 -- monitor
ls -l "$out"

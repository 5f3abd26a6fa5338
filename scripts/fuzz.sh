#!/usr/bin/env bash
# Builds the preset reader's fuzz target with clang (libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs it for a bounded time, starting from the seed
# files in fuzz/seeds. Exits non-zero when the target finds a crash or an invariant
# breaks; the input that did it is left in the build folder.
#   FUZZ_SECONDS   how long to run (default 60)
#   FUZZ_BUILD_DIR where to build and keep the growing corpus (default build-fuzz)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${FUZZ_SECONDS:-60}
out=${FUZZ_BUILD_DIR:-$top/build-fuzz}
cxx=$(command -v clang++-14 || command -v clang++ || true)
if [ -z "$cxx" ]; then
  echo "fuzz.sh: clang++ is not installed (apt-get install clang-14 libclang-rt-14-dev)" >&2
  exit 1
fi
mkdir -p "$out/corpus" "$out/artifacts"

flags=(-std=c++17 -g -O1 -Wall -Wextra -fno-omit-frame-pointer
       -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all -I"$top")
"$cxx" "${flags[@]}" -o "$out/preset_reader_fuzz" \
  "$top/fuzz/PresetReaderFuzz.cpp" "$top/settings/PresetFile.cpp" "$top/settings/Presets.cpp"

log="$out/fuzz.log"
status=0
ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=0 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  "$out/preset_reader_fuzz" -max_total_time="$seconds" -max_len=4096 -timeout=10 \
    -rss_limit_mb=2048 -malloc_limit_mb=256 -print_final_stats=1 \
    -artifact_prefix="$out/artifacts/" "$out/corpus" "$top/fuzz/seeds" >"$log" 2>&1 || status=$?

runs=$(grep -Eo 'Done [0-9]+ runs in [0-9]+ second' "$log" | tail -1 || true)
if [ $status -ne 0 ]; then
  tail -n 60 "$log" >&2
  echo "fuzz.sh: the preset reader FAILED (status $status); inputs in $out/artifacts" >&2
  exit 1
fi
echo "fuzz.sh: preset reader: ${runs:-no run count found}s, no crash (log: $log)"

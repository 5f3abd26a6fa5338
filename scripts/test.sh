#!/usr/bin/env bash
# Installs what Cadenzo needs, then builds and runs every test:
#   1. the normal build,
#   2. the whole suite under AddressSanitizer and UndefinedBehaviorSanitizer,
#   3. the threaded tests (label "threads") under ThreadSanitizer,
#   4. the preset reader's fuzz target for a bounded time.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bash "$top/scripts/install-deps.sh"
export QT_QPA_PLATFORM=offscreen JACK_NO_START_SERVER=1
jobs=$(nproc)
status=0

echo "== normal build"
bash "$top/scripts/build.sh" "$top/build"
(cd "$top/build" && ctest --output-on-failure -j"$jobs" --timeout 900) || status=1

echo "== address and undefined-behaviour sanitizers"
bash "$top/scripts/build.sh" "$top/build-asan" -DCMAKE_BUILD_TYPE=Debug \
  -DCADENZO_SANITIZE=address,undefined -DCADENZO_BUILD_BENCH=OFF
(cd "$top/build-asan" && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure -j"$jobs" --timeout 1200 -LE slow) || status=1

echo "== thread sanitizer"
bash "$top/scripts/build.sh" "$top/build-tsan" -DCMAKE_BUILD_TYPE=Debug \
  -DCADENZO_SANITIZE=thread -DCADENZO_BUILD_BENCH=OFF -DCADENZO_BUILD_GUI=OFF
(cd "$top/build-tsan" && TSAN_OPTIONS=halt_on_error=1 \
  ctest --output-on-failure -j"$jobs" --timeout 1200 -L threads -LE slow) || status=1

if [ -x "$top/scripts/fuzz.sh" ]; then
  echo "== fuzzing the preset reader"
  bash "$top/scripts/fuzz.sh" || status=1
fi

if [ $status -eq 0 ]; then echo "All test runs passed."; else echo "Some test runs FAILED."; fi
exit $status

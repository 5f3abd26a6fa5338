#!/usr/bin/env bash
# Installs what Cadenzo needs, builds it and starts the recorder.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bash "$top/scripts/install-deps.sh"
bash "$top/scripts/build.sh" "$top/build" -DCADENZO_BUILD_TESTS=OFF -DCADENZO_BUILD_BENCH=OFF
exec "$top/build/app/cadenzo"

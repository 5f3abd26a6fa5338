#!/usr/bin/env bash
# Installs what Cadenzo needs, builds it (in build-package/) and makes the Debian package
# cadenzo_VERSION_ARCH.deb in this folder, or in OUT_DIR: scripts/package.sh [OUT_DIR]
# Install it with: sudo apt install ./cadenzo_*.deb
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
out=$(mkdir -p "${1:-$top}" && cd "${1:-$top}" && pwd)
bash "$top/scripts/install-deps.sh"
bash "$top/scripts/build.sh" "$top/build-package" -DCADENZO_BUILD_TESTS=OFF -DCADENZO_BUILD_BENCH=OFF
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cpack --config "$top/build-package/CPackConfig.cmake" -G DEB -B "$scratch" >/dev/null
for deb in "$scratch"/*.deb; do
  mv "$deb" "$out/"
  echo "$out/$(basename "$deb")"
done

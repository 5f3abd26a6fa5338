#!/usr/bin/env bash
# Installs a build into a scratch prefix and checks what a Linux desktop needs to find
# the recorder: the program on the path, its menu entry and its icon.
#   install_check.sh BUILD_DIR
set -euo pipefail
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$1" --prefix "$prefix" >/dev/null
fail() { echo "FAIL: $*"; exit 1; }
[ -x "$prefix/bin/cadenzo" ] || fail "bin/cadenzo missing"
entry=$prefix/share/applications/io.github.cadenzo.Cadenzo.desktop
[ -f "$entry" ] || fail "share/applications/io.github.cadenzo.Cadenzo.desktop missing"
grep -qx 'Type=Application' "$entry" || fail "desktop entry: Type"
grep -qx 'Exec=cadenzo' "$entry" || fail "desktop entry: Exec"
grep -qx 'Icon=cadenzo' "$entry" || fail "desktop entry: Icon"
grep -qx 'Name=Cadenzo' "$entry" || fail "desktop entry: Name"
[ -f "$prefix/share/icons/hicolor/scalable/apps/cadenzo.svg" ] || fail "scalable icon missing"
for size in 16 32 48 128; do
  [ -f "$prefix/share/icons/hicolor/${size}x${size}/apps/cadenzo.png" ] || fail "${size}px icon missing"
done
echo "install layout ok"

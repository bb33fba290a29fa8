#!/bin/bash
# Renders the main window into a PNG file without a display (Qt's offscreen
# platform), with the CJK font that install-deps.sh installs.
#
#   scripts/screenshot.sh [OUT.png]      default: window.png
#
# BUILD_DIR chooses the build folder (default: build); the window is built
# there first when it is missing. CONVERT_SETTINGS_FILE, when set, fills the
# connection fields as at a normal start.
set -euo pipefail
out="$(realpath -m "${1:-window.png}")"
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
build="${BUILD_DIR:-build}"
if [ ! -x "$build/convert" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCONVERT_TESTS=OFF -DCONVERT_BENCH=OFF
  cmake --build "$build" -j "$(nproc)" --target convert
fi
QT_QPA_PLATFORM=offscreen "$build/convert" --screenshot "$out"
echo "$out"

#!/bin/bash
# Cross-builds the Windows programs and tests with MinGW-w64 and runs the
# Windows core and batch tests under Wine, in a Wine prefix of the build
# folder's own. Exits non-zero when a build step or any test fails.
# scripts/test.sh calls it; it can also run alone.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR="${WINDOWS_BUILD_DIR:-build-windows}"
ROOT="$PWD"
START=$(date +%s)

bash scripts/windows-sqlite.sh "$BUILD_DIR/deps"
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=Release -DCONVERT_GUI=OFF -DCONVERT_BENCH=OFF \
  -DCONVERT_SQLITE_SOURCE_DIR="$ROOT/$BUILD_DIR/deps/amalgamation"
cmake --build "$BUILD_DIR" -j "$(nproc)"

# A private prefix, no windows, no downloads of Wine's .NET or browser.
export WINEPREFIX="$ROOT/$BUILD_DIR/wineprefix"
export WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wineboot --init >/dev/null 2>&1
fi
# One wine server for every test process of the stage: each would
# otherwise start its own and wait for it.
wineserver --persistent
trap 'wineserver --kill >/dev/null 2>&1 || true' EXIT
# Wine's own services start with the first program; started here, they do
# not hold on to the output pipes of the tests' first one.
wine cmd /c exit >/dev/null 2>&1

ctest --test-dir "$BUILD_DIR" --output-on-failure -j "$(nproc)"
echo "Windows stage: $(($(date +%s) - START)) s"

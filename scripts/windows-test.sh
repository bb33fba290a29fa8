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

# The core tests also run through ODBC under Wine: Wine's odbc32 hands
# every call to the host's unixODBC and SQLite3 ODBC driver, which loads
# the T-SQL extension built for the host. The Linux test build's copy
# carries the sanitizers, which no Wine process can load: a plain one is
# built here.
HOST_EXT_DIR="$BUILD_DIR/host-ext"
cmake -S . -B "$HOST_EXT_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCONVERT_GUI=OFF \
  -DCONVERT_TESTS=OFF -DCONVERT_BENCH=OFF >/dev/null
cmake --build "$HOST_EXT_DIR" --target tsql_ext -j "$(nproc)"

bash scripts/windows-sqlite.sh "$BUILD_DIR/deps"
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=Release -DCONVERT_GUI=OFF -DCONVERT_BENCH=OFF \
  -DCONVERT_SQLITE_SOURCE_DIR="$ROOT/$BUILD_DIR/deps/amalgamation" \
  -DCONVERT_HOST_TSQL_EXT="$ROOT/$HOST_EXT_DIR/libtsqlext.so"
cmake --build "$BUILD_DIR" -j "$(nproc)"

# A private prefix, no windows, no downloads of Wine's .NET or browser.
export WINEPREFIX="$ROOT/$BUILD_DIR/wineprefix"
export WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wineboot --init >/dev/null 2>&1
  wineserver --wait
fi
# One wine server for every test process of the stage: each would
# otherwise start its own and wait for it. A server an earlier stage left
# in this prefix goes first.
wineserver --kill >/dev/null 2>&1 || true
wineserver --persistent
trap 'wineserver --kill >/dev/null 2>&1 || true' EXIT
# Wine's own services start with the first program; started here, they do
# not hold on to the output pipes of the tests' first one.
wine cmd /c exit >/dev/null 2>&1

# A test that fails is run again, up to twice: under a loaded machine a
# Wine process now and then dies before the program starts (a failure in a
# few hundredths of a second with no output at all). A real fault fails
# all three times.
ctest --test-dir "$BUILD_DIR" --output-on-failure -j "$(nproc)" --repeat until-pass:3

# The installer: installed silently, a demo conversion with the installed
# programs and the settings from the registry, uninstalled silently leaving
# nothing behind.
cmake --build "$BUILD_DIR" --target installer
SETUP=$(ls "$BUILD_DIR"/convert-setup-*.exe)
wine "$SETUP" /S
PROGRAMS="$WINEPREFIX/drive_c/Program Files/Vantor"
DEST="$PROGRAMS/tillex-convert"
for f in tillex-convert-batch.exe tillex-convert-demo-gen.exe libtsqlext.dll README.md uninstall.exe; do
  [ -f "$DEST/$f" ] || { echo "installer: $f is missing" >&2; exit 1; }
done
DATA='C:\users\Public\convert-demo'
KEY='HKLM\Software\Vantor\tillex\8.0'
wine "$DEST/tillex-convert-demo-gen.exe" --out "$DATA" --scale 1 >/dev/null
wine reg add "$KEY" /v DBMS /d SQLite /f /reg:32 >/dev/null
wine reg add "$KEY" /v ServerName /d "$DATA" /f /reg:32 >/dev/null
CONVERT_DEMO_PASSWORD=demo wine "$DEST/tillex-convert-batch.exe" --source dravik_pro \
  --categories all --password-env CONVERT_DEMO_PASSWORD >/dev/null
wine "$DEST/tillex-convert-demo-gen.exe" --check "$DATA"
wine reg delete "$KEY" /f /reg:32 >/dev/null
rm -rf "$WINEPREFIX/drive_c/users/Public/convert-demo"
# The uninstaller runs from a copy of itself in the temporary folder and
# returns at once; the folder goes when it is done.
wine "$DEST/uninstall.exe" /S
for _ in $(seq 60); do
  [ -e "$PROGRAMS" ] || break
  sleep 1
done
if [ -e "$PROGRAMS" ]; then
  echo "uninstaller: left behind:" >&2
  find "$PROGRAMS" >&2
  exit 1
fi
if wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\tillex-convert' \
  >/dev/null 2>&1; then
  echo "uninstaller: its registry entry is left behind" >&2
  exit 1
fi
echo "Windows stage: $(($(date +%s) - START)) s"

#!/bin/sh
# Installs every Debian package that building, testing, running and
# benchmarking the tool needs. Idempotent: safe to run again and again.
set -eu
PACKAGES="build-essential cmake ninja-build pkg-config git \
  libsqlite3-dev sqlite3 libicu-dev libboost-dev \
  nlohmann-json3-dev libcli11-dev libinih-dev \
  help2man dpkg-dev file apt-file \
  qt6-base-dev qt6-base-dev-tools libgl-dev qt6-translations-l10n \
  xvfb xauth xdotool openbox x11-utils \
  unixodbc unixodbc-dev tdsodbc libsqliteodbc \
  libgtest-dev libgmock-dev googletest libbenchmark-dev \
  fonts-wqy-microhei fonts-liberation \
  time python3 python3-sqlglot \
  g++-mingw-w64-x86-64-posix wine wine64 nsis tcl"
missing=""
for p in $PACKAGES; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing="$missing $p"
  fi
done
SUDO=""
if [ "$(id -u)" != "0" ]; then SUDO="sudo"; fi
# The Windows build compiles SQLite from Debian's own source package, which
# apt fetches only with a source entry: one mirroring each binary entry.
if ! apt-get source --print-uris sqlite3 >/dev/null 2>&1; then
  for list in /etc/apt/sources.list.d/*.sources; do
    [ -f "$list" ] || continue
    if grep -q '^Types:.*deb' "$list" && ! grep -q '^Types:.*deb-src' "$list"; then
      sed 's/^Types:.*/Types: deb-src/' "$list" |
        $SUDO tee "/etc/apt/sources.list.d/convert-src-$(basename "$list")" >/dev/null
    fi
  done
  if [ -f /etc/apt/sources.list ] && grep -q '^deb ' /etc/apt/sources.list; then
    grep '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' |
      $SUDO tee /etc/apt/sources.list.d/convert-src.list >/dev/null
  fi
  refresh=yes
fi
if [ -n "$missing" ] || [ -n "${refresh:-}" ]; then
  $SUDO apt-get update
fi
if [ -n "$missing" ]; then
  # shellcheck disable=SC2086
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends $missing
fi

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
  time python3 python3-sqlglot"
missing=""
for p in $PACKAGES; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing="$missing $p"
  fi
done
if [ -n "$missing" ]; then
  SUDO=""
  if [ "$(id -u)" != "0" ]; then SUDO="sudo"; fi
  $SUDO apt-get update
  # shellcheck disable=SC2086
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends $missing
fi

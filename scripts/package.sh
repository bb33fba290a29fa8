#!/bin/bash
# Builds the Debian package tillex-convert_<version>_<arch>.deb: a Release
# build installed under /usr (the window tillex-convert, tillex-convert-batch
# with its manual page, tillex-convert-demo-gen, the T-SQL extension for
# ODBC, the desktop entry).
#
#   scripts/package.sh            build the package into ./build-pkg
#   scripts/package.sh --install  build it, then install it with apt-get
#   scripts/package.sh --check    build it, unpack it into a scratch folder
#                                 and run a demo conversion with the
#                                 unpacked programs (what CI runs)
set -euo pipefail
cd "$(dirname "$0")/.."

MODE=build
case "${1:-}" in
  "") ;;
  --install) MODE=install ;;
  --check) MODE=check ;;
  -h|--help) sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
  *) echo "package.sh: unknown option $1" >&2; exit 2 ;;
esac

bash scripts/install-deps.sh
BUILD_DIR="${PKG_BUILD_DIR:-build-pkg}"
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DCONVERT_SANITIZE=OFF -DCONVERT_TESTS=OFF -DCONVERT_BENCH=OFF
cmake --build "$BUILD_DIR" -j "$(nproc)"
rm -f "$BUILD_DIR"/tillex-convert_*.deb
(cd "$BUILD_DIR" && cpack -G DEB > cpack.log) || { cat "$BUILD_DIR/cpack.log" >&2; exit 1; }
DEB="$(ls "$PWD/$BUILD_DIR"/tillex-convert_*.deb)"
echo "package: $DEB"
dpkg-deb --field "$DEB" Package Version Architecture Depends Recommends

case "$MODE" in
  install)
    SUDO=""
    if [ "$(id -u)" != "0" ]; then SUDO="sudo"; fi
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y "$DEB"
    ;;
  check)
    # Unpacked rather than installed, so that the machine's own /usr and
    # package database stay untouched.
    SCRATCH="$(mktemp -d)"
    trap 'rm -rf "$SCRATCH"' EXIT
    dpkg-deb -x "$DEB" "$SCRATCH/root"
    ROOT="$SCRATCH/root"
    for f in usr/bin/tillex-convert usr/bin/tillex-convert-batch usr/bin/tillex-convert-demo-gen \
             usr/share/applications/tillex-convert.desktop \
             usr/share/man/man1/tillex-convert-batch.1.gz; do
      [ -e "$ROOT/$f" ] || { echo "package.sh: $f is missing from the package" >&2; exit 1; }
    done
    EXT="$(ls "$ROOT"/usr/lib/*/tillex-convert/libtsqlext.so)"
    # No file of the package may be one that another Debian package ships
    # (a bare /usr/bin/convert broke ImageMagick's): every path is looked up
    # in the archive's contents index.
    if apt-file update > "$SCRATCH/apt-file.log" 2>&1; then
      dpkg-deb -c "$DEB" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\./|/|' > "$SCRATCH/files"
      CLASH="$(apt-file search -F -f "$SCRATCH/files" | grep -v '^tillex-convert:' || true)"
      [ -z "$CLASH" ] ||
        { printf 'package.sh: files that other Debian packages ship:\n%s\n' "$CLASH" >&2; exit 1; }
      echo "no file of the package is shipped by another Debian package"
    else
      echo "package.sh: the archive's contents index could not be fetched; file clash check skipped" >&2
    fi
    dpkg-deb --field "$DEB" Depends | grep -q qt6-translations-l10n ||
      { echo "package.sh: the package does not depend on Qt's translations" >&2; exit 1; }
    dpkg-deb --field "$DEB" Depends | grep -q libsqlite3 ||
      { echo "package.sh: the package does not declare its libraries" >&2; exit 1; }
    "$ROOT/usr/bin/tillex-convert-batch" --version

    DATA="$SCRATCH/data"
    "$ROOT/usr/bin/tillex-convert-demo-gen" --out "$DATA" --scale 1 --seed 3 --no-std > /dev/null
    printf '[HKEY_LOCAL_MACHINE\\Software\\Vantor\\tillex\\8.0]\nDBMS=SQLite\nServerName=%s\n' \
      "$DATA" > "$DATA/settings.ini"
    export CONVERT_SETTINGS_FILE="$DATA/settings.ini" CONVERT_CHECK_PASSWORD=check
    "$ROOT/usr/bin/tillex-convert-batch" --source dravik_pro --categories all \
      --password-env CONVERT_CHECK_PASSWORD > "$SCRATCH/run.txt" ||
      { cat "$SCRATCH/run.txt" >&2; exit 1; }
    "$ROOT/usr/bin/tillex-convert-demo-gen" --check "$DATA" > "$SCRATCH/check.txt" ||
      { cat "$SCRATCH/check.txt" >&2; exit 1; }
    echo "demo conversion with the packaged tillex-convert-batch: rows as generated"

    # The packaged extension gives a SQLite folder reached through ODBC the
    # same T-SQL functions.
    ODBC_DRIVER="$(ls /usr/lib/*/odbc/libsqlite3odbc.so 2>/dev/null | head -n 1 || true)"
    if [ -n "$ODBC_DRIVER" ]; then
      "$ROOT/usr/bin/tillex-convert-batch" --dbms ODBC --source dravik_pro --categories region,pp \
        --password-env CONVERT_CHECK_PASSWORD \
        --dbparm "Driver='$ODBC_DRIVER',LoadExt='$EXT'" > "$SCRATCH/odbc.txt" ||
        { cat "$SCRATCH/odbc.txt" >&2; exit 1; }
      echo "the same through ODBC with the packaged extension: completed"
    fi
    ;;
esac

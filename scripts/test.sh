#!/bin/bash
# Installs what is missing, builds everything under AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs every test; then builds the Debian
# package and runs a demo conversion with its programs unpacked into a
# scratch folder. Exits non-zero when a build step or any test fails.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
BUILD_DIR="${BUILD_DIR:-build-test}"
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCONVERT_SANITIZE=ON -DCONVERT_BENCH=OFF
cmake --build "$BUILD_DIR" -j "$(nproc)"
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
# Qt's own plugins leak a little by design at exit; keep leak checks on our code.
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp"
ctest --test-dir "$BUILD_DIR" --output-on-failure -j "$(nproc)"
bash scripts/package.sh --check
# The Windows programs, cross-built, and their tests under Wine.
bash scripts/windows-test.sh

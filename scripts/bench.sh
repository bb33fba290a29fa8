#!/bin/bash
# End-to-end benchmark: installs what is missing, makes a Release build in
# ./build-bench and runs bench/e2e_bench, which prints for each scale the
# tool's wall time, peak memory and statements next to the floor's (the
# leanest SQLite execution of the same conversion, set-based), the ratio of
# the two, how time grows with scale and where the time goes by step, and
# checks that tool and floor left identical target tables. Arguments go to
# e2e_bench:
#
#   scripts/bench.sh [--base UNITS] [--scales 1,4,16] [--work DIR] [--repeat N] [--keep]
#   scripts/bench.sh --odbc     (member cards' round trips through the SQLite3 ODBC driver)
#
# `scripts/bench.sh window [--units N] [--repeat N] [--alive]` runs
# bench/window_bench instead: the window's cost over the batch command on
# the same data, and with --alive how the window answers during a run, on a
# private X server (Xvfb) when one can be started.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
if [ "${1:-}" = window ]; then
  shift
  cmake -S . -B build-bench-window -G Ninja -DCMAKE_BUILD_TYPE=Release -DCONVERT_TESTS=OFF \
    -DCONVERT_GUI=ON -DCONVERT_BENCH=ON
  cmake --build build-bench-window -j "$(nproc)" --target window_bench convert-batch
  if command -v Xvfb >/dev/null; then
    exec scripts/under-xvfb.sh ./build-bench-window/window_bench "$@"
  fi
  QT_QPA_PLATFORM=offscreen exec ./build-bench-window/window_bench "$@"
fi
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DCONVERT_TESTS=OFF \
  -DCONVERT_GUI=OFF -DCONVERT_BENCH=ON
cmake --build build-bench -j "$(nproc)" --target e2e_bench tsql_ext
./build-bench/e2e_bench "$@"

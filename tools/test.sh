#!/usr/bin/env bash
# Builds everything and runs every test (unit, in-process and end to end).
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/ensure-deps.sh
cmake -S . -B build -G Ninja
cmake --build build
cd build
ctest --output-on-failure --timeout 600 -j "$(nproc)"

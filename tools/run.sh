#!/usr/bin/env bash
# Builds the console and the store simulator, starts the simulator on a
# pseudo-terminal and the console on COM1 wired to it. Extra arguments go to
# the simulator (for example --profile NAME or --speed 10). The console runs
# in the folder the command was started from: result files and their report
# pages land there.
set -euo pipefail
here=$(pwd)
cd "$(dirname "$0")/.."
root=$(pwd)
bash tools/ensure_deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build --target vekton vekton-sim vekton-report
work=$(mktemp -d)
link="$work/com1"
./build/sim/vekton-sim --link "$link" --trace "$work/trace.log" "$@" >"$work/sim.out" 2>&1 &
sim=$!
trap 'kill $sim 2>/dev/null; wait $sim 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 100); do [ -e "$link" ] && break; sleep 0.05; done
echo "Simulated store on COM1 ($link). At the first prompt type 1."
cd "$here"
VEKTON_COM1="$link" "$root/build/vekton"

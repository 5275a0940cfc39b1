#!/usr/bin/env bash
# Runs exchange_bench_win.exe under Wine against vekton-sim on COM1: the
# median KvExchange with a store that answers at once (about one read
# time-out plus 1 ms: 53 ms at 9600 baud) and with a silent one (two
# time-outs and two 1 ms waits: 106 ms). Prints the figures; fails only when
# the benchmark cannot run.
#
# Usage: exchange_bench_win.sh <linux build dir> <windows build dir> [count]
set -u
COUNT=${3:-200}
source "$(dirname "$0")/../../tests/e2e-windows/wine.bash"
windows_init "${1:-}" "${2:-}" exchange-bench
BENCH=$BUILD_WIN/bench/exchange_bench_win.exe
[[ -f $BENCH ]] || fail "$BENCH is missing (build the Windows benchmarks)"

bench() {
  LD_PRELOAD=$TMP/pty_parity_shim.so wine "$BENCH" 1 "$1" 2>>"$TMP/wine-bench.err" | tr -d '\r'
}

prepare_wine
start_sim
bench "$COUNT" | tee "$TMP/answering.out"
grep -q '^median_ms=' "$TMP/answering.out" || fail "no figures from the answering store"
start_sim --fault silent
bench 20 | tee "$TMP/silent.out"
grep -q '^median_ms=' "$TMP/silent.out" || fail "no figures from the silent store"
stop_sim

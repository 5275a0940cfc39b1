#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, with ASan and UBSan) in build-fuzz and
# runs each for a bounded time on a copy of its seed corpus. A target that
# crashes or breaks one of its checks fails the run; its input is copied into
# fuzz/regressions/<target>/, where the unit tests (tests/fuzzregress) replay
# it in every build from then on: commit it with the fix.
# Usage: tools/fuzz.sh [target ...]    (default: all)
# FUZZ_SECONDS: time per target (default 20); the targets run side by
# side, one per processor.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
seconds="${FUZZ_SECONDS:-20}"
dir="$root/build-fuzz"
start=$(date +%s)

bash tools/ensure_deps.sh
# clang and its fuzzer runtime (Debian: libclang-rt-<version>-dev).
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
install() {
  echo "fuzz: installing $*"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "$@"
}
command -v clang++ >/dev/null || install clang
runtime="$(clang++ -print-resource-dir)/lib/linux/libclang_rt.fuzzer-x86_64.a"
if [ ! -f "$runtime" ]; then
  install "libclang-rt-$(clang++ -dumpversion | cut -d. -f1)-dev"
fi

cmake -S . -B "$dir" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DVEKTON_FUZZ=ON \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$dir" --target fuzz_all
built=$(date +%s)

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=(exchange readline direct_commands conversions operator_lines sim_protocol result_file trace_record limits)
fi

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:symbolize=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
# One target per processor at a time; each writes its own log and work
# folder, and the lines about it are printed when it ends.
fuzz_one() {
  local t="$1" work="$dir/fuzz-work/$1" rc out
  rm -rf "$work"
  mkdir -p "$work/corpus" "$work/artifacts"
  cp "fuzz/corpus/$t/"* "$work/corpus/"
  # Earlier findings first: each must pass before new ground is searched.
  if compgen -G "fuzz/regressions/$t/*" >/dev/null; then
    cp "fuzz/regressions/$t/"* "$work/corpus/"
  fi
  rc=0
  "$dir/fuzz/fuzz_$t" "$work/corpus" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -max_len=4096 -print_final_stats=1 -artifact_prefix="$work/artifacts/" >"$work/log" 2>&1 || rc=$?
  out="fuzz: $t, $seconds s: $(grep -E '^stat::(number_of_executed_units|new_units_added)' "$work/log" | tr -s ' \n' ' ')"
  if [ $rc -ne 0 ]; then
    mkdir -p "fuzz/regressions/$t"
    for a in "$work/artifacts/"*; do
      [ -f "$a" ] || continue
      cp "$a" "fuzz/regressions/$t/"
      out+=$'\n'"fuzz: $t: finding kept as fuzz/regressions/$t/$(basename "$a")"
    done
    out+=$'\n'"$(grep -E 'fuzz check failed|ERROR: |runtime error|SUMMARY' "$work/log" | head -5)"
    out+=$'\n'"fuzz: $t FAILED; the whole log is $work/log"
    echo "$out"
    return 1
  fi
  echo "$out"
}
export -f fuzz_one
export dir seconds
failed=0
printf '%s\n' "${targets[@]}" | xargs -P "$(nproc)" -I{} bash -c 'fuzz_one "$1"' _ {} || failed=1
end=$(date +%s)
echo "fuzz: build $((built - start)) s, fuzzing $((end - built)) s, total $((end - start)) s"
if [ $failed -ne 0 ]; then
  echo "fuzz: FAILED (see above)"
  exit 1
fi
echo "fuzz: all ${#targets[@]} targets ran clean"

#!/usr/bin/env bash
# Builds the unit tests with AddressSanitizer and UndefinedBehaviorSanitizer
# (gcc, -O0) in build-asan and runs every test program (the end-to-end tmux
# tests are left to the normal build). Any sanitizer report fails the run:
# UBSan halts on its first finding, ASan (leaks included) always does.
# Usage: tools/test_sanitize.sh [build dir]
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/ensure_deps.sh
dir="${1:-build-asan}"
start=$(date +%s)

# -O0: the test files (GoogleTest and its macros) compile three times faster
# than at -O1, and the tests run on virtual time, so they hardly feel it.
cmake -S . -B "$dir" -G Ninja -DVEKTON_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS_DEBUG="-O0 -g" >/dev/null

# Only the test executables (the benchmarks and programs are not needed).
mapfile -t targets < <(ninja -C "$dir" -t targets all | sed -n 's/^\([A-Za-z0-9_]*_tests\): .*/\1/p' | sort -u)
if [ ${#targets[@]} -eq 0 ]; then
  echo "test-sanitize: no test executables found" >&2
  exit 1
fi
cmake --build "$dir" --target "${targets[@]}"
built=$(date +%s)

export ASAN_OPTIONS="halt_on_error=1:abort_on_error=0:detect_leaks=1:detect_stack_use_after_return=1:strict_string_checks=1:check_initialization_order=1:exitcode=86"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:exitcode=87"
# Each test program runs whole, in parallel with the others: one sanitized
# process per program instead of one per test case (ctest's way), which
# would spend most of the time starting processes.
cd "$dir"
mkdir -p sanitize-logs
failed=0
run_one() {
  local exe="$1" log="sanitize-logs/$(basename "$1").log"
  if timeout 600 "$exe" --gtest_brief=1 >"$log" 2>&1; then
    echo "passed: $(basename "$exe") ($(grep -Eo '[0-9]+ tests? from [0-9]+ test suites? ran' "$log" | head -1))"
  else
    echo "FAILED: $(basename "$exe")"
    tail -60 "$log"
    return 1
  fi
}
export -f run_one
mapfile -t exes < <(for t in "${targets[@]}"; do find tests -maxdepth 1 -name "$t" -type f; done)
printf '%s\n' "${exes[@]}" | xargs -P "$(nproc)" -I{} bash -c 'run_one "$1"' _ {} || failed=1
end=$(date +%s)
echo "test-sanitize: ${#exes[@]} test programs, build $((built - start)) s, tests $((end - built)) s, total $((end - start)) s"
if [ $failed -ne 0 ]; then
  echo "test-sanitize: FAILED (logs in $dir/sanitize-logs)"
  exit 1
fi
echo "test-sanitize: clean"

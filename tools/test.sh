#!/usr/bin/env bash
# Builds everything and runs every test:
#   linux     the Linux build: unit, in-process and end-to-end tests (ctest),
#             the report page rendered in headless Chromium; then the
#             exchange benchmark's figures on every kind of line
#   windows   vekton.exe and the unit tests cross-built, run under Wine,
#             end to end against the simulator (tools/test_windows.sh)
#   package   the Debian package and the Windows zip archive made by the
#             package targets, lintian on the .deb, the .deb installed and
#             its programs and man page run, then purged (tools/test_package.sh)
#   sanitize  the unit tests under AddressSanitizer + UBSan (tools/test_sanitize.sh)
#   fuzz      every fuzz target for FUZZ_SECONDS (10 here) (tools/fuzz.sh)
#   faults    every screen against a silent, noisy, split and vanishing
#             line, end to end (tools/test_faults.sh)
# Usage: tools/test.sh [step ...]   (default: all, in this order)
# Every step runs even when one before it failed; the exit status is 1 when
# any failed, and a summary with each step's time ends the output.
set -uo pipefail
cd "$(dirname "$0")/.."
bash tools/ensure_deps.sh || exit 1

# The end-to-end tests mostly wait on the clock and the simulator: one more
# at a time than there are processors keeps both busy.
jobs=$(( $(nproc) + 1 ))
steps=("$@")
(( ${#steps[@]} )) || steps=(linux windows package sanitize fuzz faults)

step_linux() {
  # The report page's browser check (Chromium and Selenium), the network
  # end-to-end test (ser2net), the man page check (man-db, groff) and the
  # trace's Wireshark check (tshark), installed before the tests so that
  # their first installation counts against no test.
  bash tools/ensure_deps.sh page net package trace &&
    cmake -S . -B build -G Ninja &&
    cmake --build build &&
    (cd build && ctest --output-on-failure --timeout 600 -j "$jobs") || return 1
  # The exchange on every kind of line (pseudo-terminal, raw TCP, RFC 2217
  # to a scripted server and through ser2net): figures only, as the windows
  # step prints its own; about 30 s.
  build/bench/exchange_bench 100 || echo "(exchange benchmark did not run)"
}
step_windows() { bash tools/test_windows.sh; }
step_package() { bash tools/test_package.sh; }
step_sanitize() { bash tools/test_sanitize.sh; }
step_fuzz() { FUZZ_SECONDS="${FUZZ_SECONDS:-10}" bash tools/fuzz.sh; }
step_faults() { bash tools/test_faults.sh -j "$jobs" build; }

summary=()
failed=0
total=$SECONDS
for step in "${steps[@]}"; do
  if ! declare -F "step_$step" >/dev/null; then
    echo "test.sh: no step '$step' (linux windows package sanitize fuzz faults)" >&2
    exit 2
  fi
  echo "=== $step ==="
  t0=$SECONDS
  if "step_$step"; then
    summary+=("$(printf '%-9s passed  %4d s' "$step" $((SECONDS - t0)))")
  else
    summary+=("$(printf '%-9s FAILED  %4d s' "$step" $((SECONDS - t0)))")
    failed=1
  fi
done
echo "=== summary ==="
printf '%s\n' "${summary[@]}"
echo "all steps: $((SECONDS - total)) s"
exit $failed

#!/usr/bin/env bash
# The Windows build, tested under Wine: installs the cross compiler and Wine
# from Debian when missing, cross-builds vekton.exe and the unit tests into
# build-win, runs every unit test executable under Wine in a fresh Wine
# prefix, then the end-to-end tests (vekton.exe in tmux against vekton-sim,
# compared with the Linux build; vekton-report.exe against the Linux
# vekton-report) and the exchange benchmark.
# Logs go to build-win/test-logs; a failing step shows its log.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
start=$SECONDS

# --- packages -----------------------------------------------------------------------
# 64-bit only: the x86-64 half of mingw-w64 (the -posix compilers carry
# winpthreads) and Wine's 64-bit loader; no i386 architecture needed.
bash tools/ensure_deps.sh
need=()
for pkg in g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev wine wine64 googletest gcc tmux; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || need+=("$pkg")
done
if [ ${#need[@]} -gt 0 ]; then
  echo "Installing: ${need[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}"
fi

# --- builds ---------------------------------------------------------------------------
# The Linux console and simulator for the end-to-end comparison.
cmake -S . -B build -G Ninja >/dev/null
cmake --build build --target vekton vekton-sim vekton-report make_result_files
# Release: what the store PCs get, and a third quicker to build than with
# debug information.
cmake -S . -B build-win -G Ninja --no-warn-unused-cli -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64.cmake" >/dev/null
cmake --build build-win
echo "Cross build: $((SECONDS - start)) s"
LOGS=$ROOT/build-win/test-logs
rm -rf "$LOGS"
mkdir -p "$LOGS"

for exe in vekton vekton-report vekton-trace; do
  dlls=$(x86_64-w64-mingw32-objdump -p "build-win/$exe.exe" | awk '/DLL Name:/ { print $3 }' | sort -u | tr '\n' ' ')
  echo "$exe.exe imports: $dlls"
  for dll in $dlls; do
    case "${dll^^}" in
      KERNEL32.DLL | MSVCRT.DLL | WINMM.DLL | USER32.DLL | ADVAPI32.DLL | NTDLL.DLL | WS2_32.DLL) ;;
      *) echo "FAIL: $exe.exe needs $dll, which Windows does not bring" >&2; exit 1 ;;
    esac
  done
done

# --- a fresh Wine prefix for this run ----------------------------------------------------
WORK=$(mktemp -d "${TMPDIR:-/tmp}/vekton-wine.XXXXXX")
export WINEPREFIX=$WORK/prefix WINEDEBUG=-all WINEARCH=win64
# No Mono or Gecko: nothing here needs them, and their installers only ask.
export WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
  wineserver -k 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT
boot=$SECONDS
wineboot -i >"$LOGS/wineboot.log" 2>&1 || { cat "$LOGS/wineboot.log" >&2; echo "FAIL: wineboot" >&2; exit 1; }
echo "Wine prefix booted in $((SECONDS - boot)) s"

# --- unit tests ---------------------------------------------------------------------------
# From its own folder, like ctest, and with the console's output as text.
# Unit tests run on the virtual clock and take seconds; one that runs away
# is stopped rather than left to hold up the run. They run side by side,
# one per processor, under the prefix's one wineserver.
run_win_test() {
  local exe=$1 name
  name=$(basename "$exe" .exe)
  if (cd "$(dirname "$exe")" && timeout 120 wine "./$name.exe" --gtest_color=no) >"$LOGS/$name.log" 2>&1; then
    echo passed >"$LOGS/$name.result"
  else
    echo failed >"$LOGS/$name.result"
  fi
}
units=$SECONDS
export -f run_win_test
export LOGS
ls build-win/tests/*_tests.exe | xargs -P "$(nproc)" -I{} bash -c 'run_win_test "$1"' _ {}
passed=0
failed=0
failures=()
for exe in build-win/tests/*_tests.exe; do
  name=$(basename "$exe" .exe)
  result=$(cat "$LOGS/$name.result" 2>/dev/null || echo failed)
  p=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) test.*/\1/p' "$LOGS/$name.log" | tail -n 1)
  f=$(sed -n 's/^\[  FAILED  \] \([0-9]*\) test.*/\1/p' "$LOGS/$name.log" | tail -n 1)
  passed=$((passed + ${p:-0}))
  failed=$((failed + ${f:-0}))
  if [[ $result == failed || -z $p ]]; then
    failures+=("$name")
    echo "--- $name under Wine failed; its log: ---" >&2
    grep -v '^0x' "$LOGS/$name.log" | tail -n 80 >&2
    # A crash counts even when no test reported a failure.
    [[ ${f:-0} -gt 0 ]] || failed=$((failed + 1))
  fi
  echo "$name: ${p:-0} passed, ${f:-0} failed"
done
echo "Windows unit tests under Wine: $passed passed, $failed failed ($((SECONDS - units)) s)"

# --- end to end and benchmark ---------------------------------------------------------------
e2e_passed=0
e2e_failed=0
export VEKTON_WINEPREFIX=$WINEPREFIX
for script in tests/e2e-windows/*.sh; do
  name=$(basename "$script" .sh)
  if bash "$script" build build-win >"$LOGS/e2e_$name.log" 2>&1; then
    e2e_passed=$((e2e_passed + 1))
    grep -v '^0x' "$LOGS/e2e_$name.log" | tail -n 4
  else
    e2e_failed=$((e2e_failed + 1))
    failures+=("e2e_$name")
    echo "--- e2e $name under Wine failed; its log: ---" >&2
    grep -v '^0x' "$LOGS/e2e_$name.log" | tail -n 120 >&2
  fi
done

if bash bench/win32/exchange_bench_win.sh build build-win >"$LOGS/bench.log" 2>&1; then
  grep -E 'median|KvExchange' "$LOGS/bench.log" || true
else
  echo "(exchange benchmark did not run; see $LOGS/bench.log)"
fi

echo "Windows build and tests: $((SECONDS - start)) s"
if ((${#failures[@]} > 0)); then
  echo "FAILED under Wine: ${failures[*]}" >&2
  echo "Windows: $((passed + e2e_passed)) passed, $((failed + e2e_failed)) failed"
  exit 1
fi
echo "Windows: $((passed + e2e_passed)) passed, 0 failed"

#!/usr/bin/env bash
# Soak end to end: the real vekton in tmux runs the random-access test (the
# standard test, 1 s interval) against vekton-sim at a raised speed for the
# given number of minutes of wall time. Every minute it notes the console's
# resident memory and open file descriptors; at the end it quits the test
# (Esc, Q), and checks that
#   - memory and descriptors stayed flat (the figures at the start, every
#     minute and at the end are printed), the result file is closed after
#     the summary and the port when the menu is back,
#   - the result file is complete and its counts agree with the simulator's
#     own record of every access (--accesses): accesses, loads, unloads, no
#     access refused, and the mean access time within the console's polling
#     delay of the store's,
#   - the console leaves with choice 0, exit code 0, the terminal restored.
# The figures go to stdout (and, with --log FILE, to that file as well).
#
# Usage: tools/soak_e2e.sh [--speed F] [--build DIR] [--log FILE] <minutes>
#   --speed  the simulator's speed factor (default 10)
#   --build  build directory (default build; vekton and vekton-sim are built)
set -u
cd "$(dirname "$0")/.."
ROOT=$(pwd)
SPEED=10
BUILD=build
LOG=
MINUTES=
while (( $# )); do
  case $1 in
    --speed) SPEED=${2:?}; shift 2 ;;
    --build) BUILD=${2:?}; shift 2 ;;
    --log) LOG=${2:?}; shift 2 ;;
    -h|--help) sed -n '2,/^set -u/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    *) MINUTES=$1; shift ;;
  esac
done
[[ $MINUTES =~ ^[0-9]+$ ]] && (( MINUTES >= 1 )) || { echo "usage: $0 [--speed F] [--build DIR] [--log FILE] <minutes>" >&2; exit 2; }

if [[ ! -f $BUILD/CMakeCache.txt ]]; then
  cmake -S . -B "$BUILD" -G Ninja >/dev/null || exit 1
fi
cmake --build "$BUILD" --target vekton vekton-sim >"${TMPDIR:-/tmp}/vekton-build.$$.log" 2>&1 \
  || { cat "${TMPDIR:-/tmp}/vekton-build.$$.log" >&2; echo "FAIL: build" >&2; exit 1; }
rm -f "${TMPDIR:-/tmp}/vekton-build.$$.log"

source "$ROOT/tests/faults/fault.bash"
fault_init "$BUILD" soak
[[ -n $LOG ]] && : >"$LOG"
say() {
  echo "$*"
  [[ -n $LOG ]] && echo "$*" >>"$LOG"
  return 0
}
fail() {
  say "FAIL: $*"
  dump >&2
  exit 1
}

rss_kb() { awk '/^VmRSS:/ { print $2 }' "/proc/$(console_pid)/status" 2>/dev/null; }
fds() { ls "/proc/$(console_pid)/fd" 2>/dev/null | wc -l; }

FX_SPEED=$SPEED fault_start_sim || fail "no simulator"
start_console "$WORK"
to_menu
START_KB=$(rss_kb)
START_FDS=$(fds)
START_CPU=$(cpu_ticks)

start_standard_random_access 1 10
RESULT=$WORK/1234_00.spf
wait_until 15 test -s "$RESULT" || fail "no result file"

say "soak: random-access test end to end for $MINUTES min at speed $SPEED ($(date -u '+%Y-%m-%d %H:%M UTC'))"
say "$(printf '  %6s %9s %9s %7s %5s %6s' minute accesses 'RSS kB' 'VSZ kB' fds 'CPU %')"
say "$(printf '  %6s %9s %9s %7s %5s %6s' start 0 "$START_KB" - "$START_FDS" -)"
T0=$(date +%s)
LAST_CPU=$START_CPU
LAST_T=$(date +%s%N)
FIRST_KB=
for (( m = 1; m <= MINUTES; m++ )); do
  while (( $(date +%s) < T0 + m * 60 )); do
    console_alive || fail "the console ended during the run"
    sleep 2
  done
  cpu=$(cpu_ticks)
  now=$(date +%s%N)
  pct=$(awk -v c="$((cpu - LAST_CPU))" -v hz="$CLK_TCK" -v ns="$((now - LAST_T))" 'BEGIN { printf "%.1f", c / hz / (ns / 1e9) * 100 }')
  LAST_CPU=$cpu
  LAST_T=$now
  kb=$(rss_kb)
  [[ -z $FIRST_KB ]] && { FIRST_KB=$kb; RUN_FDS=$(fds); }
  say "$(printf '  %6d %9d %9d %7d %5d %6s' "$m" "$(performed)" "$kb" "$(awk '/^VmSize:/ { print $2 }' "/proc/$(console_pid)/status")" "$(fds)" "$pct")"
done
END_KB=$(rss_kb)
END_FDS=$(fds)

# --- quit the run: the summary, then the comparison --------------------------------------
quit_random_access 15
sleep 0.5
[[ $(tail -n 1 "$RESULT") == "Mean UnLoad Time:"* ]] || fail "the result file does not end with the summary"
SUMMARY_FDS=$(fds)

total=$(total_accesses "$RESULT")
mean=$(sed -n 's/^Mean Access Time: *\([0-9.]*\) .*$/\1/p' "$RESULT")
climate=$(awk '/^Temp  Hmd   CO2   Opt$/ { on = 1; next } on && /^$/ { exit } on { n++ } END { print n + 0 }' "$RESULT")
# The store's record: one line per access, "ok" when it went right.
read -r ok loads unloads refused smean < <(awk '
  /^#/ { next }
  $9 == "ok" { ok++; if ($2 == 1904 || $2 == 1909) loads++; else unloads++
               if ($2 == 1904 || $2 == 1905) { sum += $8 - $6; n++ } }
  $9 != "ok" && $9 != "aborted" { refused++ }
  END { printf "%d %d %d %d %.2f\n", ok, loads, unloads, refused, n ? sum / n : 0 }' "$ACCESSES")
say "  store:   $ok accesses ($loads loads, $unloads unloads), $refused refused, mean access $smean s"
say "  console: Total Accesses $total, mean access $mean s, $climate climate lines"
say "  memory:  RSS $START_KB kB at the start, $FIRST_KB kB after a minute, $END_KB kB at the end"
say "  fds:     $START_FDS at the menu, $RUN_FDS after a minute of the run, $END_FDS at its end, $SUMMARY_FDS at the summary"

FAILED=0
check() {  # condition-as-exit-status text
  if eval "$1"; then say "  yes  $2"; else say "  NO   $2"; FAILED=1; fi
}
check '(( END_KB <= FIRST_KB + 256 ))' "resident memory flat from the first minute to the end (+256 kB)"
check '(( END_FDS == RUN_FDS ))' "open file descriptors flat from the first minute to the end of the run"
check '(( SUMMARY_FDS == RUN_FDS - 1 ))' "the result file closed after the summary"
check '(( refused == 0 ))' "the store refused no access"
# The fetch from 1,1 is no timed access; the access the quit came in is not
# counted by the console but may have been finished by the store.
check '(( total >= ok - 2 && total <= ok - 1 ))' "the console counted every access the store made (less the fetch and the last)"
check 'awk -v c="$mean" -v s="$smean" "BEGIN { exit !(c >= s && c <= s + 1.1) }"' \
  "the mean access time within the console's polling delay of the store's"
# A climate line takes four readings more than 15 s apart, each on a
# status refresh (every half second): one line per 62 s or so.
check '(( climate >= MINUTES * 60 / 64 - 1 && climate <= MINUTES ))' "a climate line about every minute"

# --- back to the menu and out -------------------------------------------------------------
keys " "
wait_until 10 menu_ready || fail "no menu after the summary's key"
check '(( $(fds) == START_FDS ))' "at the menu the port is closed again: $START_FDS descriptors as at the start"
why=$(quit_console) || fail "$why"
say "  yes  exit 0 through the menu, terminal restored"
if (( FAILED )); then
  say "FAIL: soak"
  exit 1
fi
say "PASS: soak ($MINUTES min)"

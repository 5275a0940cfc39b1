#!/usr/bin/env bash
# End to end: the random-access test of the real vekton in tmux (80 x 25)
# against vekton-sim at ten times the store's speed. Menu choice 7, the
# standard test with a 1 s interval, a few accesses, Esc and Q: the summary
# is on the screen, the result file is on disk in the working directory,
# complete and closed, its report page beside it; any key gives the menu
# back and 0 exits with 0.
# Usage: random_access.sh <build dir>
set -u

source "$(dirname "$0")/../harness.bash"
harness_init "$1" random
WORK=$TMP/work  # the console's working directory: the result file lands here
mkdir -p "$WORK"
RESULT=$WORK/1234_00.spf
harness_diagnostics() {
  echo "--- accesses ---"
  cat "$ACCESSES"
  echo "--- result file ---"
  cat "$RESULT"
}

# --- the simulated store ----------------------------------------------------------
start_sim --speed 10
start_console "$WORK"

to_menu

# --- choice 7: the standard test with a 1 s interval ------------------------------------
start_standard_random_access 1

# The plate is fetched from 1,1, then the timed accesses follow.
wait_until 10 test -s "$RESULT" || fail "no result file $RESULT"
wait_until 10 holds_open "$RESULT" || fail "the console does not hold the result file open during the run"
wait_until 60 accesses_at_least 6 || fail "fewer than 6 accesses within a minute"
screen | grep -q $'\xe2\x94\x82At ' || fail "no timed access line on the screen"

# --- Esc, Q: the summary -------------------------------------------------------------------
quit_random_access
summary=$(screen)
grep -q '^          Total Accesses: *[0-9][0-9]*$' <<<"$summary" || fail "no 'Total Accesses' line"
grep -qF 'Access:                            Including Gate Cycle' <<<"$summary" || fail "no 'Access:' line"

# The file is complete and closed while the summary waits for its key.
holds_open "$RESULT" && fail "the result file is still open after the summary"
wait_until 10 screen_has "Report page: 1234_00.html" || fail "the summary does not name the report page"
grep -q '<svg' "$WORK/1234_00.html" || fail "the page holds no chart"
check_result_file "$RESULT"
grep -qxF 'Temp  Hmd   CO2   Opt' "$RESULT" || fail "no climate column line"
grep -qxF '[s]   Mean Min. Max.      Mean Min. Max.' "$RESULT" || fail "no histogram column line"
total=$(total_accesses "$RESULT")
finished=$(performed)
# The store performed every access the console counted, the plate's fetch
# from 1,1 besides, and the access the quit came in, which is not counted.
[[ -n $total ]] && (( total >= 4 && (total == finished - 1 || total == finished - 2) )) \
  || fail "Total Accesses $total does not fit the $finished accesses the store performed"
# Times in the summary within reason for a store at ten times its speed.
mean=$(sed -n 's/^Mean Access Time: *\([0-9.]*\) .*$/\1/p' "$RESULT")
awk -v m="$mean" 'BEGIN { exit !(m > 0.1 && m < 10) }' || fail "mean access time '$mean' out of range"
tr -d '\r' <"$RESULT" | cmp -s - "$RESULT" || fail "the file holds carriage returns"

# --- any key: the menu; 0: the end ----------------------------------------------------------
keys " "
wait_until 10 menu_ready || fail "no menu after the summary's key"
leave_with_choice_0
[[ $(ls "$WORK" | tr '\n' ' ') == "1234_00.html 1234_00.spf " ]] \
  || fail "not the result file and its page alone in the working directory: $(ls "$WORK")"

echo "PASS: random_access ($total accesses counted, $finished performed, mean $mean s)"

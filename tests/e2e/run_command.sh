#!/usr/bin/env bash
# End to end: the README's run command (tools/run.sh) brings up the simulated
# store and the console wired to it; the console reads the store's serial
# number and firmware and shows the serial number on the banner and the
# status line. A short random-access run, Esc and Q: the result file and its
# report page lie side by side in the folder the command was started from.
# Usage: run_command.sh <build dir> (the command builds in the repository's
# own build/ folder, as the README says).
set -u

source "$(dirname "$0")/../harness.bash"
harness_init "$1" runcmd
REPO=$(cd "$(dirname "$0")/../.." && pwd)
WORK=$TMP/work
mkdir -p "$WORK"

tmux -L "$SOCK" new-session -d -s "$SESSION" -x 80 -y 25 \
  "cd $WORK && env TERM=xterm-256color LANG=C.UTF-8 bash $REPO/tools/run.sh --trace $TRACE; echo EXIT=\$? > $TMP/exit; sleep 600" \
  || fail "tmux could not start"

wait_until 240 screen_has "Enter Port Number to Vekton" || fail "the run command did not start the console"
keys 1
key Enter
wait_until 5 screen_has "Enter Operator Name" || fail "no operator prompt"
key Enter
wait_until 15 menu_ready || fail "no main menu"
screen_has "# 1234" || fail "the banner does not show the store's serial number"
keys 1
key Enter
wait_until 10 screen_has "Enter direct commands to KV-PLC" || fail "direct commands did not open"
wait_until 5 row_matches 1 '^Vekton  # 1234    ComPort  1 ' || fail "the status line does not show the serial number"
received | grep -qF 'RD DM109\rRD DM108\rCQ\r' || fail "start-up did not read serial number and firmware"
key Escape
wait_until 10 menu_ready || fail "no menu after Esc"

# A random-access run of two accesses or so: the standard test, 1 s apart.
start_standard_random_access 1
wait_until 10 test -s "$WORK/1234_00.spf" || fail "no result file in the folder the command was started from"
wait_until 90 received_at_least 'WR DM5 ' 3 || fail "no second timed access"
key Escape
wait_until 10 screen_has "Quit/Term ?" || fail "Esc did not ask 'Quit/Term ?'"
keys Q
wait_until 30 screen_has "Mean UnLoad Time:" || fail "no summary after Q"
wait_until 10 screen_has "Report page: 1234_00.html" || fail "the summary does not name the report page"
[[ $(ls "$WORK" | tr '\n' ' ') == "1234_00.html 1234_00.spf " ]] || fail "not the page beside the file: $(ls "$WORK")"
grep -q '<svg' "$WORK/1234_00.html" || fail "the page holds no chart"
grep -qF '1234' "$WORK/1234_00.html" || fail "the page does not name the store"
keys " "
wait_until 10 menu_ready || fail "no menu after the summary's key"
keys 0
key Enter
wait_until 10 test -s "$TMP/exit" || fail "the console did not end"
grep -qx 'EXIT=0' "$TMP/exit" || fail "exit code: $(cat "$TMP/exit")"
echo "PASS: run command"

#!/usr/bin/env bash
# End to end: the README's run command (tools/run.sh) brings up the simulated
# store and the console wired to it; the console reads the store's serial
# number and firmware and shows the serial number on the banner and the
# status line. Usage: run_command.sh <build dir> (the command builds in the
# repository's own build/ folder, as the README says).
set -u

source "$(dirname "$0")/common.bash"
e2e_init "$1" runcmd
REPO=$(cd "$(dirname "$0")/../.." && pwd)

tmux -L "$SOCK" new-session -d -s "$SESSION" -x 80 -y 25 \
  "cd $REPO && env TERM=xterm-256color LANG=C.UTF-8 bash tools/run.sh --trace $TRACE; echo EXIT=\$? > $TMP/exit; sleep 600" \
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
keys 0
key Enter
wait_until 10 test -s "$TMP/exit" || fail "the console did not end"
grep -qx 'EXIT=0' "$TMP/exit" || fail "exit code: $(cat "$TMP/exit")"
echo "PASS: run command"

#!/usr/bin/env bash
# End to end under Wine: vekton.exe on COM1 (the simulator's pseudo-terminal
# through Wine's port link) in the direct command console; the simulator's
# port vanishes and comes back at the same link. Row 1 says "Line lost" and
# since when; once the port is back the status line polls again by itself,
# a typed command reaches the store once and its answer is shown; Esc and 0
# end the program with 0.
#
# Usage: line_back_windows.sh <linux build dir> <windows build dir>
set -u
source "$(dirname "$0")/wine.bash"
windows_init "${1:-}" "${2:-}" line-back-win

prepare_wine
start_sim
start_console --windows --session lineback
wait_until 40 port_prompt_ready || fail "no port prompt"
keys 1
key Enter
wait_until 10 screen_has "Enter Operator Name" || fail "no operator prompt"
key Enter
wait_until 15 menu_ready || fail "no main menu"
keys 1
key Enter
wait_until 10 screen_has "Enter direct commands to KV-PLC, press esc to quit" \
  || fail "direct command console did not open"

row1() { screen | head -n 1; }
echo "fault vanish" >"$CONTROL"
wait_until 15 bash -c "tmux -L $SOCK capture-pane -t $SESSION -p | head -n 1 |
  grep -Eq '^Vekton  # 1234    ComPort  1       Line lost [0-9]{2}:[0-9]{2}:[0-9]{2} +[0-9]{2}:[0-9]{2}:[0-9]{2}\$'" \
  || fail "row 1 does not say the line is lost: $(row1)"
sleep 2
echo "fault none" >"$CONTROL"
wait_until 15 bash -c "tmux -L $SOCK capture-pane -t $SESSION -p | head -n 1 | grep -q 'SysStat \\$'" \
  || fail "the status line did not come back: $(row1)"
keys "RD DM0"
key Enter
wait_until 10 received_lines_at_least 'RD DM0' 1 || fail "the typed command did not arrive"
wait_until 10 bash -c "tmux -L $SOCK capture-pane -t $SESSION -p | grep -A1 'RD DM0 *\$' | tail -n 1 | grep -Eq '^ *[0-9]{5} *\$'" \
  || fail "answer to RD DM0 not shown"
sleep 1
[[ $(count_received_lines 'RD DM0') == 1 ]] || fail "RD DM0 reached the store $(count_received_lines 'RD DM0') times"
key Escape
wait_until 10 menu_ready || fail "menu did not come back after Esc"
keys 0
key Enter
wait_until 15 exited || fail "did not exit after choice 0"
[[ $(exit_code) == 0 ]] || fail "exit code $(exit_code)"
echo "PASS: line_back_windows (line lost, back, typed command once)"

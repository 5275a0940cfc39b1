#!/usr/bin/env bash
# End to end under Wine: vekton.exe started in a tmux window smaller than
# 80 x 25. At 70 x 20 it shows "This program needs a terminal of 80 x 25;
# this one is 70 x 20." and nothing else, while it goes on reading keys: the
# port and operator typed blind open COM1 and the start-up talks to
# vekton-sim. At 20 x 5 the message is wrapped, at 1 x 1 it is its first
# letter. Ctrl-C ends it with 130, as on POSIX.
#
# Wine 8's console on a terminal takes the terminal's size at its start (as
# the largest window it can show, which the presenter honours) but does not
# follow the terminal when tmux resizes it: no buffer-size event comes and
# the console's window and largest size stay as they were. The resize back
# to 80 x 25 is therefore tested on Linux (tests/e2e/terminal_size.sh) and,
# for the Win32 logic, in tests/win32_backend and on the virtual platform.
#
# Usage: terminal_size_windows.sh <linux build dir> <windows build dir>
set -u
source "$(dirname "$0")/wine.bash"
windows_init "${1:-}" "${2:-}" terminal-size-win

prepare_wine
message() { echo "This program needs a terminal of 80 x 25; this one is $1 x $2."; }
# The pane's text without trailing blanks and blank lines at the end.
shown() { screen | sed 's/ *$//' | sed -e :a -e '/^\n*$/{$d;N;ba' -e '}'; }

# --- 70 x 20: the message alone; the program goes on ---------------------------------------
start_sim
CONSOLE_COLS=70 CONSOLE_ROWS=20 start_console --windows --session small
wait_until 40 screen_has "$(message 70 20)" || fail "no 'too small' message at 70 x 20"
wait_until 10 keys_raw || fail "the console never took the terminal's keys"
sleep 1
[[ $(shown) == "$(message 70 20)" ]] || fail "more than the message at 70 x 20"
keys 1
key Enter
sleep 0.5
key Enter
wait_until 15 received_lines_at_least CR 1 || fail "the port and operator typed while small did not start up on COM1"
sleep 1
[[ $(shown) == "$(message 70 20)" ]] || fail "the start-up drew over the message at 70 x 20"
key C-c
wait_until 15 exited || fail "vekton.exe did not end on Ctrl-C"
[[ $(exit_code) == 130 ]] || fail "exit code $(exit_code) after Ctrl-C"
echo "70 x 20: the message alone, start-up reached COM1 behind it, Ctrl-C 130"

# --- 20 x 5 and 1 x 1 -------------------------------------------------------------------------
CONSOLE_COLS=20 CONSOLE_ROWS=5 start_console --windows --session tiny
wait_until 40 screen_has "this one is 20 x 5." || fail "no 'too small' message at 20 x 5"
sleep 0.5
[[ $(shown) == $'This program needs a\nterminal of 80 x 25;\nthis one is 20 x 5.' ]] \
  || fail "the message at 20 x 5 is not wrapped in the space there is"
key C-c
wait_until 15 exited || fail "vekton.exe did not end on Ctrl-C at 20 x 5"

CONSOLE_COLS=1 CONSOLE_ROWS=1 start_console --windows --session one
wait_until 40 screen_has "T" || fail "nothing at 1 x 1"
sleep 1
[[ $(shown) == T ]] || fail "at 1 x 1 not the message's first letter"
exited && fail "vekton.exe ended at 1 x 1"
key C-c
wait_until 15 exited || fail "vekton.exe did not end on Ctrl-C at 1 x 1"
[[ $(exit_code) == 130 ]] || fail "exit code $(exit_code) after Ctrl-C at 1 x 1"
echo "PASS: terminal_size_windows (70 x 20, 20 x 5 and 1 x 1 show the message in the space there is)"

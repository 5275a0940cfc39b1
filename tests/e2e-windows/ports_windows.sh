#!/usr/bin/env bash
# End to end under Wine: the ports of vekton.exe. Port 12 opens as the
# device-namespace name \\.\COM12 (Wine's COM12 linked to vekton-sim), a port
# that does not exist reports "Invalid Port Number: " with the Windows error
# code and waits for a key, and Ctrl-C ends the program with the exit code
# 130, as on POSIX.
#
# Usage: ports_windows.sh <linux build dir> <windows build dir>
set -u
source "$(dirname "$0")/wine.bash"
windows_init "${1:-}" "${2:-}" ports-win

prepare_wine

# --- a port that does not exist -------------------------------------------------------
# Nothing is mapped to COM99: CreateFileA("\\.\COM99") fails with
# ERROR_FILE_NOT_FOUND (2).
start_sim
start_console --windows --session missing
wait_until 40 port_prompt_ready || fail "no port prompt"
keys 99
key Enter
wait_until 10 screen_has "Enter Operator Name" || fail "no operator prompt"
key Enter
wait_until 10 screen_has "Invalid Port Number: " || fail "no 'Invalid Port Number: ' for port 99"
# Right behind "Open Comport ", which waits for the open's result.
screen | grep -q '^Open Comport Invalid Port Number: 99   E2 *$' || fail "port 99 not reported with error 2"
# It waits for a key: nothing goes on until one comes.
sleep 1.5
screen_has "Unable to open Comport" && fail "did not wait for a key after the failed open"
keys x
wait_until 10 screen_has "Unable to open Comport..." || fail "no 'Unable to open Comport...' after the key"
screen | grep -q '^Open Comport Invalid Port Number: 99   E22 *$' || fail "start-up did not print the open's result 2"
wait_until 10 screen_has "Enter [0..6]" || fail "no main menu after the failed start-up"
# Choice 0 tries the port again for its bracket, reports it again and ends.
keys 0
key Enter
wait_until 10 screen_has "Invalid Port Number: 99   E2" || fail "choice 0 did not report the port again"
keys x
wait_until 15 exited || fail "vekton.exe did not exit after choice 0"
[[ $(exit_code) == 0 ]] || fail "exit code $(exit_code) after choice 0"
[[ $(count_received_lines CR) -eq 0 ]] || fail "something reached COM1 though port 99 was chosen"
echo "port 99: reported with error 2, waited for a key, exit 0"

# --- port 12 -----------------------------------------------------------------------------
start_sim --as com12
start_console --windows --session com12
wait_until 40 port_prompt_ready || fail "no port prompt"
keys 12
key Enter
wait_until 10 screen_has "Enter Operator Name" || fail "no operator prompt"
key Enter
wait_until 10 screen_has " Closed" || fail "start-up on port 12 did not reach the controller"
screen | grep -q '^Open Comport 0 *$' || fail "port 12 did not open"
screen | grep -q '^Communication Request to Hardware CC *$' || fail "no CC over port 12"
wait_until 10 menu_ready || fail "no main menu"
echo "port 12: opened as \\\\.\\COM12, start-up answered"

# --- Ctrl-C with the port open --------------------------------------------------------------
keys 1
key Enter
wait_until 10 screen_has "Enter direct commands to KV-PLC, press esc to quit" \
  || fail "direct command console did not open"
wait_until 10 received_lines_at_least "RD DM200" 1 || fail "no status poll"
tmux -L "$SOCK" send-keys -t "$SESSION" C-c
wait_until 10 exited || fail "Ctrl-C did not end vekton.exe"
[[ $(exit_code) == 130 ]] || fail "exit code $(exit_code) after Ctrl-C (130 expected)"
# The port is free again for the next start (it is opened exclusively).
start_console --windows --session again
wait_until 40 port_prompt_ready || fail "no port prompt on the second start"
keys 12
key Enter
wait_until 10 screen_has "Enter Operator Name" || fail "no operator prompt"
key Enter
wait_until 10 screen_has " Closed" || fail "port 12 could not be opened again after Ctrl-C"
keys 0
key Enter
wait_until 15 exited || fail "vekton.exe did not exit after choice 0"
[[ $(exit_code) == 0 ]] || fail "exit code $(exit_code) after choice 0"
echo "Ctrl-C: exit 130, port free again"

echo "PASS: ports_windows"

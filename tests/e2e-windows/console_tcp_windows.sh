#!/usr/bin/env bash
# End to end under Wine over the network: vekton.exe in tmux with
# VEKTON_COM1=tcp://127.0.0.1:<port> (the variable passes from this
# environment into the Wine program) against vekton-sim --listen. Start-up
# answered with the serial number on screen, direct commands answered, Esc,
# 0 and exit 0, and the simulator receives the same commands as from the
# Linux vekton over the same kind of connection. A refused port shows
# "Invalid Port Number: " with the Winsock code 10061 and waits for a key.
#
# Usage: console_tcp_windows.sh <linux build dir> <windows build dir>
# Loopback only.
set -u
BUILD=$(cd "${1:?usage: $0 <linux build dir> <windows build dir>}" && pwd)
BUILD_WIN=$(cd "${2:?usage: $0 <linux build dir> <windows build dir>}" && pwd)
source "$(dirname "$0")/lib.sh"

prepare_wine

# The host-link stream with the idle console's status polls taken out: their
# number depends on how long the test lingers, everything else must match.
commands() {
  received_lines "$TRACE" | grep -vxE 'RD DM200|RD 1915|'
}

# session linux|windows NAME: start-up on port 1, direct command RD DM0,
# Esc, choice 0; the commands the simulator received go to $TMP/NAME.cmds.
session() {
  local kind=$1 name=$2
  local before
  before=$(commands | wc -l)
  start_console "$kind" "$name"
  wait_until 40 port_prompt_ready || fail "$name: no port prompt"
  keys 1
  key Enter
  wait_until 10 screen_has "Enter Operator Name" || fail "$name: no operator prompt"
  key Enter
  wait_until 15 screen_has " Closed" || fail "$name: start-up did not reach the controller"
  screen | grep -q '^Open Comport 0 *$' || fail "$name: no 'Open Comport 0' line"
  screen | grep -q '^Communication Request to Hardware CC *$' || fail "$name: no 'CC' line"
  wait_until 10 menu_ready || fail "$name: no main menu"
  keys 1
  key Enter
  wait_until 10 screen_has "Enter direct commands to KV-PLC, press esc to quit" \
    || fail "$name: direct command console did not open"
  # The serial number read at start-up (the standard profile's 1234).
  screen | head -n 1 | grep -q '1234' || fail "$name: serial number not on the status line"
  keys "RD DM0"
  key Enter
  wait_until 10 received_at_least 'RD DM0' "$3" || fail "$name: typed command did not arrive"
  wait_until 10 bash -c "tmux -L $SOCK capture-pane -t $SESSION -p | grep -A1 'RD DM0 *\$' | tail -n 1 | grep -Eq '^ *[0-9]{5} *\$'" \
    || fail "$name: answer to RD DM0 not shown"
  key Escape
  wait_until 10 menu_ready || fail "$name: menu did not come back after Esc"
  keys 0
  key Enter
  wait_until 15 exited || fail "$name: did not exit after choice 0"
  [[ $(exit_code) == 0 ]] || fail "$name: exit code $(exit_code)"
  commands | tail -n +"$((before + 1))" >"$TMP/$name.cmds"
  tmux -L "$SOCK" kill-session -t "$SESSION" 2>/dev/null
}

start_sim com1 --listen 127.0.0.1:0
wait_until 10 grep -q '^TCP ' "$TMP/sim.out" || fail "vekton-sim did not announce its TCP port"
ADDR=$(sed -n 's/^TCP //p' "$TMP/sim.out" | head -n 1)

CONSOLE_ENV="VEKTON_COM1=tcp://$ADDR"
session linux linux-tcp 1
session windows windows-tcp 2
grep -q 'TCP connect' "$TRACE" || fail "nobody connected over TCP"
diff "$TMP/linux-tcp.cmds" "$TMP/windows-tcp.cmds" >"$TMP/cmds.diff" \
  || { cat "$TMP/cmds.diff" >&2; fail "vekton.exe sent other commands over TCP than vekton"; }
[[ $(wc -l <"$TMP/windows-tcp.cmds") -ge 8 ]] \
  || fail "too few commands over TCP: $(wc -l <"$TMP/windows-tcp.cmds")"
echo "tcp://$ADDR: start-up, direct commands and exit 0 as from the Linux build"

# A refused port: the code on the screen, and the console waits for a key.
# Port 1 on loopback has no listener.
SESSION=refused
CONSOLE_ENV="VEKTON_COM1=tcp://127.0.0.1:1"
start_console windows refused
wait_until 40 port_prompt_ready || fail "refused: no port prompt"
keys 1
key Enter
wait_until 10 screen_has "Enter Operator Name" || fail "refused: no operator prompt"
key Enter
wait_until 10 screen_has "Invalid Port Number: 1   E10061" || fail "refused: no port error E10061"
sleep 1
screen_has "Unable to open Comport" && fail "refused: the port error did not wait for a key"
keys x
wait_until 10 screen_has "Unable to open Comport..." || fail "refused: no 'Unable to open Comport...'"
screen | grep -q '^Open Comport Invalid Port Number: 1   E1006110061 *$' \
  || fail "refused: the result 10061 does not follow the port error"
echo "refused port: reported with 10061, waited for a key"

echo "PASS: console_tcp_windows"

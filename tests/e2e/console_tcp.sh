#!/usr/bin/env bash
# End to end over the network: the real vekton in tmux with
# VEKTON_COM1=tcp://127.0.0.1:<port> against vekton-sim --listen. Start-up,
# direct commands, Esc and exit 0 give the simulator the same bytes as the
# same keys over the pseudo-terminal, and each session's trace holds the
# bytes of its line as the simulator saw them; a refused port and a host
# that does not resolve show the port error with its code and wait for a key.
# Usage: console_tcp.sh <build dir>. Loopback only.
set -u

source "$(dirname "$0")/../harness.bash"
harness_init "$1" tcp
source "$(dirname "$0")/trace_check.bash"

# The host-link stream with the idle console's status polls taken out: their
# number depends on how long the test lingers, everything else must match.
commands() {
  received | sed -e 's/\\r/\\r\n/g' | awk '!/^RD (DM200|1915)\\r$/ && $0 != "\\r"'
}

# One session: start-up on port 1, direct command RD DM0, Esc, choice 0.
session() {
  SESSION=$1
  start_console
  log_on "$1"
  wait_until 10 screen_has " Closed" || fail "$1: start-up did not reach the controller"
  screen | grep -q '^Open Comport 0 *$' || fail "$1: no 'Open Comport 0' line"
  screen | grep -q '^Communication Request to Hardware CC *$' || fail "$1: no 'CC' line"
  wait_until 10 menu_ready || fail "$1: no main menu"
  keys 1
  key Enter
  wait_until 10 screen_has "Enter direct commands to KV-PLC, press esc to quit" \
    || fail "$1: direct command console did not open"
  # The serial number read at start-up (the standard profile's 1234).
  # The status line fills in with the screen's first poll, a moment after
  # the heading.
  wait_until 5 row_matches 1 '1234' || fail "$1: serial number not on the status line"
  keys "RD DM0"
  key Enter
  wait_until 5 received_at_least 'RD DM0\r' "$2" || fail "$1: typed command did not arrive"
  wait_until 5 answer_shown "RD DM0" || fail "$1: answer to RD DM0 not shown"
  key Escape
  wait_until 10 menu_ready || fail "$1: menu did not come back after Esc"
  leave_with_choice_0 "$1"
  tmux -L "$SOCK" kill-session -t "$SESSION" 2>/dev/null
}

start_sim --listen 127.0.0.1:0
ADDR=$TCP_ADDR

# Over the pseudo-terminal first: the bytes to compare with.
session pty 1
commands >"$TMP/pty.cmds"
PTY_RUN=$(console_traces)

# The same keys over raw TCP.
PORT="tcp://$ADDR"
session tcp 2
grep -q 'TCP connect' "$TRACE" || fail "the console never connected over TCP"
commands >"$TMP/all.cmds"
tail -n +"$(($(wc -l <"$TMP/pty.cmds") + 1))" "$TMP/all.cmds" >"$TMP/tcp.cmds"
diff "$TMP/pty.cmds" "$TMP/tcp.cmds" >"$TMP/cmds.diff" \
  || { cat "$TMP/cmds.diff" >&2; fail "the simulator received other bytes over TCP"; }
[[ $(wc -l <"$TMP/tcp.cmds") -ge 12 ]] || fail "too few commands over TCP: $(wc -l <"$TMP/tcp.cmds")"
PORT=$LINK

# Each session's trace against the simulator's record of its line: the
# record up to its first TCP connect is the pseudo-terminal's, the rest the
# connection's.
awk '/ TCP connect/ { exit } { print }' "$TRACE" >"$TMP/sim-pty.log"
awk '/ TCP connect/ { on = 1 } on' "$TRACE" >"$TMP/sim-tcp.log"
same_bytes pty "$TMP/sim-pty.log" "$PTY_RUN"
TCP_RUN=$(new_traces "$PTY_RUN")
[[ $(wc -l <<<"$TCP_RUN") -eq 1 ]] || fail "not one trace file for the TCP session: $TCP_RUN"
same_bytes tcp "$TMP/sim-tcp.log" "$TCP_RUN"
grep -q " OPEN COM1 tcp://$ADDR 9600 8E1 code 0$" "$TCP_RUN" || fail "the TCP session's trace has no OPEN of tcp://$ADDR"

# Port errors: the code on the screen, and the console waits for a key.
port_error() {
  SESSION=$1
  PORT=$2
  start_console
  log_on "$1"
  wait_until 5 screen_has "Invalid Port Number: 1   E$3" || fail "$1: no port error E$3"
  sleep 0.5
  screen_has "Unable to open Comport" && fail "$1: the port error did not wait for a key"
  keys x
  wait_until 5 screen_has "Unable to open Comport..." || fail "$1: no 'Unable to open Comport...'"
  screen | grep -q "^Open Comport Invalid Port Number: 1   E$3$3 *\$" \
    || fail "$1: the result $3 does not follow the port error"
  tmux -L "$SOCK" kill-session -t "$SESSION" 2>/dev/null
}
port_error refused tcp://127.0.0.1:1 111
port_error unresolvable tcp://no-such-store.invalid:5000 20001

# Esc gives up a connection attempt at once. The simulator's raw port takes
# the connection but never answers the Telnet opening (no CR in it), so an
# RFC 2217 open would wait its 3 s; Esc ends it sooner with code 20005, and
# the Esc itself answers the error's key wait.
SESSION=esc
PORT="rfc2217://$ADDR"
start_console
log_on esc
sleep 0.3
key Escape
t0=$(date +%s%N)
wait_until 5 screen_has "Unable to open Comport..." || fail "esc: no 'Unable to open Comport...'"
(( ($(date +%s%N) - t0) < 2000000000 )) || fail "esc: connecting did not end at once on Esc"
screen | grep -q '^Open Comport Invalid Port Number: 1   E2000520005 *$' || fail "esc: not code 20005"

echo "PASS: console_tcp"

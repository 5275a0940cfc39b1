#!/usr/bin/env bash
# End to end under Wine over the network: vekton.exe in tmux with
# VEKTON_COM1=tcp://127.0.0.1:<port> (the variable passes from this
# environment into the Wine program) against vekton-sim --listen. Start-up
# answered with the serial number on screen, direct commands answered, Esc,
# 0 and exit 0, and the simulator receives the same commands as from the
# Linux vekton over the same kind of connection. A refused port shows
# "Invalid Port Number: " with the Winsock code 10061 and waits for a key; a
# connection that hangs (no answer to the handshake) gives up after 3 s with
# 10060, and Esc during it gives 20005 within a second.
#
# Usage: console_tcp_windows.sh <linux build dir> <windows build dir>
# Loopback only.
set -u
source "$(dirname "$0")/wine.bash"
windows_init "${1:-}" "${2:-}" console-tcp-win

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
  start_console --"$kind" --session "$name"
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
  wait_until 10 received_lines_at_least 'RD DM0' "$3" || fail "$name: typed command did not arrive"
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

start_sim --listen 127.0.0.1:0
ADDR=$TCP_ADDR

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
start_console --windows --session refused
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

# A connection that hangs: a loopback listener whose accept queue is full
# (backlog 0, filled by connections nobody accepts) answers no handshake, the
# kernel drops the SYNs. The attempt gives up after its 3 s with 10060
# (WSAETIMEDOUT); Esc during it gives 20005 at once.
python3 - >"$TMP/hang.out" 2>&1 <<'PY' &
import select, socket, sys, time
srv = socket.socket()
srv.bind(("127.0.0.1", 0))
srv.listen(0)
port = srv.getsockname()[1]
fillers = []
for _ in range(32):
    c = socket.socket()
    c.setblocking(False)
    try:
        c.connect(("127.0.0.1", port))
    except BlockingIOError:
        pass
    fillers.append(c)
    if not select.select([], [c], [], 0.3)[1]:  # this handshake stalls
        print("HANG", port, flush=True)
        time.sleep(300)
        sys.exit(0)
print("NOHANG", flush=True)
PY
HANG_PID=$!
trap 'kill "$HANG_PID" 2>/dev/null; harness_cleanup' EXIT
wait_until 15 grep -qE '^(HANG|NOHANG)' "$TMP/hang.out" || fail "the hanging listener did not start"
grep -q '^HANG ' "$TMP/hang.out" || fail "no loopback connection could be made to hang: $(cat "$TMP/hang.out")"
HANG_PORT=$(sed -n 's/^HANG //p' "$TMP/hang.out")
CONSOLE_ENV="VEKTON_COM1=tcp://127.0.0.1:$HANG_PORT"

# hang_attempt NAME: a console up to the connection attempt; t0 is when the
# Enter that starts it was typed (ns).
hang_attempt() {
  SESSION=$1
  start_console --windows --session "$1"
  wait_until 40 port_prompt_ready || fail "$1: no port prompt"
  keys 1
  key Enter
  wait_until 10 screen_has "Enter Operator Name" || fail "$1: no operator prompt"
  key Enter
  t0=$(date +%s%N)
}
ms_since() { echo $(( ($(date +%s%N) - $1) / 1000000 )); }

hang_attempt hang
wait_until 10 screen_has "Invalid Port Number: 1   E10060" || fail "hang: no port error E10060"
ms=$(ms_since "$t0")
echo "hanging connection: E10060 on the screen $ms ms after the Enter"
(( ms >= 2900 && ms <= 5000 )) || fail "hang: gave up after $ms ms, not after about 3 s"
keys x
wait_until 10 screen_has "Unable to open Comport..." || fail "hang: no 'Unable to open Comport...'"
tmux -L "$SOCK" kill-session -t hang 2>/dev/null

hang_attempt esc
sleep 0.8
screen_has "Invalid Port Number" && fail "esc: the attempt ended before the Esc"
key Escape
t1=$(date +%s%N)
wait_until 5 screen_has "Unable to open Comport..." || fail "esc: no 'Unable to open Comport...'"
ms=$(ms_since "$t1")
echo "hanging connection, Esc: E20005 and the menu's message $ms ms after the Esc"
(( ms <= 1000 )) || fail "esc: connecting ended $ms ms after the Esc, not within 1 s"
screen | grep -q '^Open Comport Invalid Port Number: 1   E2000520005 *$' || fail "esc: not code 20005"
tmux -L "$SOCK" kill-session -t esc 2>/dev/null

echo "PASS: console_tcp_windows"

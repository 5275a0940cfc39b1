#!/usr/bin/env bash
# End to end through a real serial device server: ser2net (Debian's, installed
# when missing) in front of vekton-sim's pseudo-terminal, once with its raw
# accepter (VEKTON_COM1=tcp://...) and once with its Telnet accepter speaking
# RFC 2217 (VEKTON_COM1=rfc2217://...), beside a console on the
# pseudo-terminal itself. The three run side by side, each against its own
# simulator (speed 20), with the same keys:
#
# - start-up, choice 9 (the bracket alone: configuration reads) and direct
#   commands give each simulator the same command stream, the idle status
#   polls left out, and each console's trace holds the bytes of its line
#   as its simulator saw them (no Telnet escapes, no RFC 2217 options);
# - while connected, the simulator's side of the line reads 9600 baud. The
#   RFC 2217 connector is set to 19200, and a client that does not ask for
#   anything sees 19200 there, so the 9600 is the console's SET-BAUDRATE;
# - one minute of the all-slots test (choice 6, quick) gives the same
#   commands as over the pseudo-terminal (the Ready polls left out) up to
#   where the shorter of the runs stops;
# - ser2net killed in the middle of that test: Esc and Q bring the menu back
#   within 2 s; with ser2net started again, the next choice (direct
#   commands) connects again and RD DM0 is answered; choice 0 exits with 0.
#
# Usage: console_ser2net.sh <build dir>. Loopback only.
set -u

HERE=$(cd "$(dirname "$0")" && pwd)
source "$HERE/../harness.bash"
harness_init "$1" ser2net
source "$HERE/trace_check.bash"

TRANSPORTS=(pty raw rfc)
declare -A TRACES PTYS
S2N_PID=
S2N=$(command -v ser2net || echo /usr/sbin/ser2net)
if [[ ! -x $S2N ]]; then
  bash "$HERE/../../tools/ensure_deps.sh" net >&2 || fail "ser2net could not be installed"
  S2N=$(command -v ser2net || echo /usr/sbin/ser2net)
  [[ -x $S2N ]] || fail "ser2net is not installed"
fi
command -v python3 >/dev/null || fail "python3 is missing (free ports, the RFC 2217 probe)"

cleanup() {
  if [[ -n $S2N_PID ]]; then
    kill "$S2N_PID" 2>/dev/null
    wait "$S2N_PID" 2>/dev/null
  fi
  harness_cleanup
}
trap cleanup EXIT

harness_diagnostics() {
  local t
  for t in "${TRANSPORTS[@]}"; do
    echo "--- $t: screen ---"
    tmux -L "$SOCK" capture-pane -t "$t" -p 2>/dev/null
    echo "--- $t: trace (last 10 lines) ---"
    tail -n 10 "${TRACES[$t]}" 2>/dev/null
  done
  echo "--- ser2net ---"
  tail -n 30 "$TMP/ser2net.out" 2>/dev/null
}

# Runs a command with the common helpers (screen, keys, received, fail)
# pointed at one transport's console and simulator trace.
on() {
  local SESSION=$1 TRACE=${TRACES[$1]}
  shift
  "$@"
}

# The host-link stream, one command a line, without the idle console's
# status polls and the Ready polls of the tests (RD DM200 and RD 1915: how
# many of them come depends on how long a wait lasts, not on the transport).
commands() {
  received | sed -e 's/\\r/\\r\n/g' | awk '!/^RD (DM200|1915)\\r$/ && $0 != "\\r"'
}
trace_lines() { wc -l <"${TRACES[$1]}"; }
# The commands in trace lines $2 to $3 of transport $1.
commands_between() {
  local TRACE=$TMP/$1.part
  sed -n "$2,$3p" "${TRACES[$1]}" >"$TRACE"
  commands
}

free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
# A TCP port listening on 127.0.0.1 (from the kernel's table: no connection
# that ser2net would take for a client).
listening() { ss -Hltn "sport = :$1" 2>/dev/null | grep -q .; }
# ser2net holds the simulator's pseudo-terminal open.
s2n_holds() { ls -l "/proc/$S2N_PID/fd" 2>/dev/null | grep -qF -- "-> $1"; }
pty_speed() { stty -F "$1" speed 2>/dev/null; }
pty_speed_is() { [[ $(pty_speed "$1") == "$2" ]]; }

start_ser2net() {
  "$S2N" -n -d -c "$TMP/ser2net.yaml" >>"$TMP/ser2net.out" 2>&1 &
  S2N_PID=$!
  wait_until 10 listening "$RAW_PORT" && wait_until 10 listening "$RFC_PORT" \
    || fail "ser2net does not listen on $RAW_PORT and $RFC_PORT"
}

# --- three simulators, ser2net in front of two of them ----------------------------------
for t in "${TRANSPORTS[@]}"; do
  start_sim --as "$t" --also --speed 20
  TRACES[$t]=$TRACE
  PTYS[$t]=$(sed -n 's/^PTY //p' "$SIM_OUT" | head -n 1)
done
RAW_PORT=$(free_port)
RFC_PORT=$(free_port)
while [[ $RFC_PORT == "$RAW_PORT" ]]; do RFC_PORT=$(free_port); done
cat >"$TMP/ser2net.yaml" <<EOF
connection: &raw
  accepter: tcp,127.0.0.1,$RAW_PORT
  connector: serialdev,${PTYS[raw]},9600e81
connection: &rfc2217
  accepter: telnet(rfc2217),tcp,127.0.0.1,$RFC_PORT
  connector: serialdev,${PTYS[rfc]},19200e81
EOF
start_ser2net

# The control: a client that sets nothing gets the connector's 19200.
python3 - "$RFC_PORT" >"$TMP/probe.out" 2>&1 <<'EOF' &
import socket, sys, time
s = socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=5)
time.sleep(2)
EOF
PROBE=$!
wait_until 5 pty_speed_is "${PTYS[rfc]}" 19200 \
  || fail "the RFC 2217 connector's line reads $(pty_speed "${PTYS[rfc]}"), not 19200"
kill "$PROBE" 2>/dev/null
wait "$PROBE" 2>/dev/null
wait_until 5 bash -c "! ls -l /proc/$S2N_PID/fd 2>/dev/null | grep -qF -- '-> ${PTYS[rfc]}'" \
  || fail "ser2net kept the line open after the probe left"

# --- the consoles --------------------------------------------------------------------
declare -A PORTS=([pty]=$TMP/pty [raw]=tcp://127.0.0.1:$RAW_PORT [rfc]=rfc2217://127.0.0.1:$RFC_PORT)
for t in "${TRANSPORTS[@]}"; do
  start_console --session "$t" --port "${PORTS[$t]}"
done
each() { local t; for t in "${TRANSPORTS[@]}"; do on "$t" "$@"; done; }
expect() {  # seconds, what, command...: on every transport
  local secs=$1 what=$2 t
  shift 2
  for t in "${TRANSPORTS[@]}"; do
    on "$t" wait_until "$secs" "$@" || on "$t" fail "$t: $what"
  done
}

expect 10 "no port prompt" screen_has "Enter Port Number to Vekton"
each keys 1
each key Enter
expect 5 "no operator prompt" screen_has "Enter Operator Name"
each key Enter
expect 10 "start-up did not reach the controller" screen_has " Closed"
for t in "${TRANSPORTS[@]}"; do
  on "$t" screen | grep -q '^Open Comport 0 *$' || on "$t" fail "$t: no 'Open Comport 0' line"
  on "$t" screen | grep -q '^Communication Request to Hardware CC *$' || on "$t" fail "$t: no 'CC' line"
done
expect 10 "no main menu" menu_ready

# --- choice 9: the bracket with its configuration reads --------------------------------
each keys 9
each key Enter
expect 10 "choice 9 did not end with CQ" received_at_least 'CQ\r' 2
expect 10 "menu did not come back after choice 9" menu_ready

# --- direct commands, and the line settings while connected ----------------------------
each keys 1
each key Enter
expect 10 "direct command console did not open" screen_has "Enter direct commands to KV-PLC, press esc to quit"
# The status line fills in with the screen's first poll, a moment after the
# heading.
expect 5 "serial number not on the status line" row_matches 1 '1234'
for t in "${TRANSPORTS[@]}"; do
  speed=$(pty_speed "${PTYS[$t]}")
  [[ $speed == 9600 ]] || on "$t" fail "$t: the simulator's side of the line reads $speed baud, not 9600"
done
s2n_holds "${PTYS[raw]}" && s2n_holds "${PTYS[rfc]}" || fail "ser2net does not hold both lines open"
each keys "RD DM0"
each key Enter
expect 5 "typed command did not arrive" received_at_least 'RD DM0\r' 1
expect 5 "answer to RD DM0 not shown" answer_shown "RD DM0"
each key Escape
expect 10 "Esc did not end the console with CQ" received_at_least 'CQ\r' 3
expect 10 "menu did not come back after Esc" menu_ready

declare -A MARK1
for t in "${TRANSPORTS[@]}"; do
  MARK1[$t]=$(trace_lines "$t")
  commands_between "$t" 1 "${MARK1[$t]}" >"$TMP/$t.part1"
done
[[ $(wc -l <"$TMP/pty.part1") -ge 20 ]] || fail "too few commands over the pseudo-terminal: $(wc -l <"$TMP/pty.part1")"
for t in raw rfc; do
  diff "$TMP/pty.part1" "$TMP/$t.part1" >"$TMP/$t.part1.diff" \
    || { cat "$TMP/$t.part1.diff" >&2; on "$t" fail "$t: start-up, choice 9 and direct commands sent other bytes than over the pseudo-terminal"; }
done
# Each console's trace so far (it waits in the menu, its port closed)
# against its simulator's record up to here: the bytes of the line itself.
for t in "${TRANSPORTS[@]}"; do
  run=$(grep -lF " line=${PORTS[$t]} " "$TRACE_DIR"/*.trace)
  [[ $(wc -l <<<"$run") -eq 1 && -n $run ]] || on "$t" fail "$t: not one trace file with line=${PORTS[$t]}: $run"
  cp "$run" "$TMP/$t.run1"
  head -n "${MARK1[$t]}" "${TRACES[$t]}" >"$TMP/$t.sim1"
  on "$t" same_bytes "$t" "$TMP/$t.sim1" "$TMP/$t.run1"
done

# --- one minute of the all-slots test ---------------------------------------------------
each keys 6
each key Enter
expect 15 "no set-up question" screen_has "Standard Test [Y/Q/N]"
each keys q
expect 5 "no inverse question" screen_has "Inverse Mode [Y/N]"
each keys n
expect 20 "the quick test did not start" screen_has "Cyc   1  Lvl  1  Pos -1  Laod"
t_start=$SECONDS
# One minute of work on each line: nothing to wait for but the clock. The
# consoles are checked every few seconds so that a stall fails early.
while (( SECONDS - t_start < 60 )); do
  sleep 5
  for t in "${TRANSPORTS[@]}"; do
    [[ -s $TMP/$t.exit ]] && on "$t" fail "$t: the console ended during the all-slots test"
  done
done
# Accesses commanded so far (relays 1908 and 1909: pick and put).
accesses() { received | grep -oE 'ST 190[89]\\r' | wc -l; }
for t in "${TRANSPORTS[@]}"; do
  n=$(on "$t" accesses)
  (( n >= 20 )) || on "$t" fail "$t: only $n accesses in a minute of the all-slots test"
  echo "$t: $n accesses in the minute"
done

# --- ser2net killed in the middle of the test -------------------------------------------
{ kill -KILL "$S2N_PID"; wait "$S2N_PID"; } 2>/dev/null
S2N_PID=
declare -A MARK2
for t in "${TRANSPORTS[@]}"; do MARK2[$t]=$(trace_lines "$t"); done
# The consoles work on against the dead lines for a moment (their exchanges
# now go nowhere); that is the state the Esc must get out of.
sleep 1
declare -A T_ESC
for t in "${TRANSPORTS[@]}"; do
  on "$t" key Escape
  T_ESC[$t]=$(date +%s%N)
done
for t in "${TRANSPORTS[@]}"; do
  on "$t" wait_until 5 screen_has "Quit/Term ?" || on "$t" fail "$t: Esc did not ask Quit/Term"
  on "$t" keys q
done
for t in "${TRANSPORTS[@]}"; do
  on "$t" wait_until 10 menu_ready || on "$t" fail "$t: Q did not bring the menu back"
  ms=$(( ($(date +%s%N) - T_ESC[$t]) / 1000000 ))
  echo "$t: Esc and Q to the menu in $ms ms (measured from outside, one look after the other)"
  (( ms <= 2000 )) || on "$t" fail "$t: the menu came back $ms ms after the Esc, not within 2 s"
done

# The minute's commands: over each network line the same as over the
# pseudo-terminal, up to where the shorter run stops (its last line may be
# cut by the kill).
for t in "${TRANSPORTS[@]}"; do
  commands_between "$t" "$((MARK1[$t] + 1))" "${MARK2[$t]}" >"$TMP/$t.part2"
done
for t in raw rfc; do
  a=$(wc -l <"$TMP/pty.part2")
  b=$(wc -l <"$TMP/$t.part2")
  n=$(( (a < b ? a : b) - 1 ))
  (( n >= 60 )) || on "$t" fail "$t: too few commands to compare ($n)"
  diff <(head -n "$n" "$TMP/pty.part2") <(head -n "$n" "$TMP/$t.part2") >"$TMP/$t.part2.diff" \
    || { head -n 20 "$TMP/$t.part2.diff" >&2; on "$t" fail "$t: the all-slots test sent other commands than over the pseudo-terminal"; }
  echo "$t: the first $n commands of the all-slots test as over the pseudo-terminal"
done

# --- ser2net back: the next choice connects again --------------------------------------
start_ser2net
for t in raw rfc; do
  on "$t" keys 1
  on "$t" key Enter
done
for t in raw rfc; do
  on "$t" wait_until 10 screen_has "Enter direct commands to KV-PLC, press esc to quit" \
    || on "$t" fail "$t: direct commands did not open after ser2net came back"
  on "$t" keys "RD DM0"
  on "$t" key Enter
done
for t in raw rfc; do
  on "$t" wait_until 5 received_at_least 'RD DM0\r' 2 || on "$t" fail "$t: no RD DM0 after ser2net came back"
done
# The typed command's answer on the screen, over both lines. (A typed
# command and a status poll sent while the other's answer is on its way
# would each purge the line and lose that answer, over RFC 2217 most easily;
# the direct command console keeps one command in flight at a time, and
# DirectCommandsTest.TypedAnswerShowsWhereverEnterFallsInThePollCycle
# presses Enter at every moment of a poll cycle.)
for t in raw rfc; do
  on "$t" wait_until 5 answer_shown "RD DM0" || on "$t" fail "$t: RD DM0 not answered after ser2net came back"
done
# The new connection set the line again.
speed=$(pty_speed "${PTYS[rfc]}")
[[ $speed == 9600 ]] || on rfc fail "rfc: the line reads $speed baud after the reconnection, not 9600"
for t in raw rfc; do
  on "$t" key Escape
done
for t in raw rfc; do
  on "$t" wait_until 10 menu_ready || on "$t" fail "$t: menu did not come back after Esc"
done
# --- quit ------------------------------------------------------------------------------
each keys 0
each key Enter
for t in "${TRANSPORTS[@]}"; do
  wait_until 10 test -s "$TMP/$t.exit" || on "$t" fail "$t: vekton did not exit after choice 0"
  [[ $(cat "$TMP/$t.exit") == "EXIT=0" ]] || on "$t" fail "$t: exit code $(cat "$TMP/$t.exit")"
done

echo "PASS: console_ser2net"

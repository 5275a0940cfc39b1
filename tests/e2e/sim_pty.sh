#!/usr/bin/env bash
# vekton-sim on a real pseudo-terminal: the PTY line and the link, answers on
# the line, the trace and access record, faults switched through the control
# FIFO, a vanishing port that comes back, and a clean end on SIGTERM.
# Usage: sim_pty.sh <build dir>. Needs no terminal; takes a few seconds.
set -u
BUILD=${1:?usage: sim_pty.sh <build dir>}
SIM="$BUILD/sim/vekton-sim"
[ -x "$SIM" ] || { echo "missing $SIM"; exit 1; }

WORK=$(mktemp -d)
SIMPID=
cleanup() {
  exec 3<&- 2>/dev/null
  if [ -n "$SIMPID" ] && kill -0 "$SIMPID" 2>/dev/null; then kill "$SIMPID"; wait "$SIMPID" 2>/dev/null; fi
  rm -rf "$WORK"
}
trap cleanup EXIT

FAILS=0
check() {  # check <description> <condition...>
  local what=$1
  shift
  if "$@"; then echo "ok   $what"; else echo "FAIL $what"; FAILS=$((FAILS + 1)); fi
}
same() { [ "$1" = "$2" ] || { echo "     got '$1', want '$2'"; return 1; }; }

connect() {
  exec 3<>"$WORK/com1" || return 1
  # The console's line: 9600 baud, 8 data bits, raw. (A pseudo-terminal
  # takes the parity setting too but does not keep it.)
  stty -F "$WORK/com1" 9600 cs8 -cstopb raw -echo
}
# ask <line> [timeout]: sends the line and CR, prints the answer without CR LF.
ask() {
  local answer=
  printf '%s\r' "$1" >&3
  IFS= read -r -t "${2:-1}" -d $'\n' answer <&3 || true
  printf '%s' "${answer%$'\r'}"
}
wait_for() {  # wait_for <tenths> <command...>
  local n=$1
  shift
  while [ "$n" -gt 0 ]; do
    "$@" && return 0
    sleep 0.1
    n=$((n - 1))
  done
  return 1
}

check "--help tells the faults and the control commands" \
  bash -c "'$SIM' --help | grep -q -- '--control PATH' && '$SIM' --help | grep -q 'vanish' && '$SIM' --help | grep -q 'fault NAME \[MS\]'"
check "an unknown option is refused" bash -c "! '$SIM' --bogus 2>/dev/null"

"$SIM" --speed 10 --link "$WORK/com1" --trace "$WORK/trace" --accesses "$WORK/acc" \
  --control "$WORK/ctl" >"$WORK/out" 2>"$WORK/err" &
SIMPID=$!
wait_for 30 grep -q '^PTY /dev/' "$WORK/out"
check "prints PTY <path> and leaves the link" \
  bash -c "[ \"\$(readlink '$WORK/com1')\" = \"\$(sed -n 's/^PTY //p' '$WORK/out' | head -1)\" ]"
check "creates the control FIFO" test -p "$WORK/ctl"

connect
check "CR -> CC" same "$(ask CR)" CC
check "serial number" same "$(ask 'RD DM109')" 01234
check "firmware" same "$(ask 'RD DM108')" 07120
check "timer answer" same "$(ask 'RD T20')" 1,00010,00010
check "relay 1916 does not exist" same "$(ask 'RD 1916')" E0
check "unknown command" same "$(ask 'HELLO')" E1
check "overlong line" same "$(ask "$(printf 'A%.0s' $(seq 1 400))")" E1
check "binary bytes" same "$(ask $'RD \x01\x7f DM1')" E1
check "still answering" same "$(ask 'RD 1915')" 1

# One access at speed 10: pick the plate from cassette 1, level 1.
ask 'WR DM0 65535' >/dev/null
ask 'WR DM5 1' >/dev/null
check "access relay" same "$(ask 'ST 1908')" OK
check "Ready goes off" same "$(ask 'RD 1915')" 0
ready=0
for _ in $(seq 1 30); do
  [ "$(ask 'RD 1915')" = 1 ] && { ready=1; break; }
  sleep 0.1
done
check "the access ends" [ "$ready" = 1 ]
check "plate on the shovel" same "$(ask 'RD 1812')" 1
check "access record" wait_for 10 grep -Eq '^1 1908 65535 1 1 [0-9]+\.[0-9]{6} [0-9]+\.[0-9]{6} [0-9]+\.[0-9]{6} ok$' "$WORK/acc"
check "trace RX line" grep -Eq '^[0-9]+\.[0-9]{6} RX RD DM109\\r$' "$WORK/trace"
check "trace TX line" grep -Eq '^[0-9]+\.[0-9]{6} TX 01234\\r\\n$' "$WORK/trace"
check "trace escapes binary bytes" grep -Fq 'RX RD \x01\x7F DM1\r' "$WORK/trace"

# Faults through the control FIFO.
echo "fault silent" >"$WORK/ctl"
sleep 0.2
check "silent: no answer" same "$(ask 'RD DM109' 0.3)" ""
echo "fault error" >"$WORK/ctl"
sleep 0.2
check "error: E1" same "$(ask 'RD DM109')" E1
echo "fault slow 300" >"$WORK/ctl"
sleep 0.2
check "slow: nothing within 0.2 s" same "$(ask 'RD DM109' 0.2)" ""
sleep 0.3
exec 3<&-
connect
echo "fault none" >"$WORK/ctl"
sleep 0.2
check "healthy again" same "$(ask 'RD DM109')" 01234

echo "fault vanish" >"$WORK/ctl"
check "vanish: the link goes" wait_for 20 bash -c "[ ! -e '$WORK/com1' ]"
exec 3<&-
echo "fault none" >"$WORK/ctl"
check "the port comes back with a new PTY line" wait_for 20 bash -c "[ \"\$(grep -c '^PTY ' '$WORK/out')\" = 2 ] && [ -e '$WORK/com1' ]"
connect
check "and answers" same "$(ask 'RD DM109')" 01234
exec 3<&-

kill -TERM "$SIMPID"
ended=0
for _ in $(seq 1 20); do
  kill -0 "$SIMPID" 2>/dev/null || { ended=1; break; }
  sleep 0.1
done
wait "$SIMPID" 2>/dev/null
status=$?
SIMPID=
check "SIGTERM ends it cleanly" same "ended $ended, status $status" "ended 1, status 0"
check "link removed at exit" [ ! -e "$WORK/com1" ]
check "FIFO removed at exit" [ ! -e "$WORK/ctl" ]

[ "$FAILS" = 0 ] || { echo "--- stderr:"; cat "$WORK/err"; echo "$FAILS check(s) failed"; exit 1; }
echo "all checks passed"

#!/usr/bin/env bash
# vekton-sim --listen: the store as a raw TCP server beside its pseudo-
# terminal. The TCP line and the port, answers on the socket, the trace and
# access record, both sides at once (each with its own command line and its
# own answers), a new client replacing the old one, half-closing and
# misbehaving clients, faults on the socket, a vanishing port that comes back
# on the same port, start-up errors (port in use, unknown host, bad address)
# and a clean end on SIGTERM with a client connected.
# Usage: sim_listen.sh <build dir>. Loopback only; takes about ten seconds.
set -u
BUILD=${1:?usage: sim_listen.sh <build dir>}
SIM="$BUILD/sim/vekton-sim"
CLIENT="$(cd "$(dirname "$0")" && pwd)/sim_listen_client.py"
[ -x "$SIM" ] || { echo "missing $SIM"; exit 1; }

WORK=$(mktemp -d)
SIMPID=
OTHERPID=
cleanup() {
  exec 3<&- 4<&- 5<&- 2>/dev/null
  local p
  for p in $SIMPID $OTHERPID; do
    if kill -0 "$p" 2>/dev/null; then kill "$p"; wait "$p" 2>/dev/null; fi
  done
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
client() { timeout 20 python3 "$CLIENT" "$@"; }

# ask <fd> <line> [timeout]: sends the line and CR on the fd, prints the
# answer without CR LF.
ask() {
  local answer=
  printf '%s\r' "$2" >&"$1"
  IFS= read -r -t "${3:-1}" -d $'\n' answer <&"$1" || true
  printf '%s' "${answer%$'\r'}"
}
# eof <fd>: the peer closed the connection (read ends at once, empty).
eof() {
  local rest=
  IFS= read -r -t 2 -d '' rest <&"$1"
  [ $? = 1 ] && [ -z "$rest" ]
}
tcp_connect() { exec 4<>"/dev/tcp/127.0.0.1/$PORT"; }
pty_connect() {
  exec 3<>"$WORK/com1" || return 1
  stty -F "$WORK/com1" 9600 cs8 -cstopb raw -echo
}
# end_within <tenths> <pid>: waits for the child to end; its exit status
# (or "running") in ENDED. Not in a subshell: only this shell can wait for it.
end_within() {
  local n=$1
  while [ "$n" -gt 0 ] && kill -0 "$2" 2>/dev/null; do
    sleep 0.1
    n=$((n - 1))
  done
  if kill -0 "$2" 2>/dev/null; then
    ENDED=running
  else
    wait "$2"
    ENDED=$?
  fi
}

# --- start-up errors ----------------------------------------------------------
check "--help tells --listen and the TCP trace lines" \
  bash -c "'$SIM' --help | grep -q -- '--listen HOST:PORT' && '$SIM' --help | grep -q 'TCP connect'"
for bad in 127.0.0.1 127.0.0.1: 127.0.0.1:65536 127.0.0.1:x1 ::1:5000 '[::1]5000' '[]:1'; do
  "$SIM" --listen "$bad" >"$WORK/bad.out" 2>"$WORK/bad.err"
  rc=$?
  check "--listen '$bad' is a usage error" same "$rc, $(grep -c -- '--listen wants' "$WORK/bad.err")" "2, 1"
done
timeout 20 "$SIM" --listen no-such-host.invalid:1 --link "$WORK/nohost" >"$WORK/nohost.out" 2>"$WORK/nohost.err"
rc=$?
check "an unknown host: status 2" same "$rc" 2
check "  with a message naming it" grep -q 'cannot resolve "no-such-host.invalid"' "$WORK/nohost.err"
check "  and no pseudo-terminal made" bash -c "! grep -q '^PTY' '$WORK/nohost.out' && [ ! -e '$WORK/nohost' ]"

# --- one client ---------------------------------------------------------------
"$SIM" --listen 127.0.0.1:0 --speed 10 --link "$WORK/com1" --trace "$WORK/trace" --accesses "$WORK/acc" \
  --control "$WORK/ctl" >"$WORK/out" 2>"$WORK/err" &
SIMPID=$!
wait_for 30 grep -q '^PTY /dev/' "$WORK/out"
PORT=$(sed -n 's/^TCP 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$WORK/out" | head -1)
check "prints TCP 127.0.0.1:<port> with the port chosen" bash -c "[ -n '$PORT' ] && [ '$PORT' != 0 ]"
check "and the PTY line beside it" grep -q '^PTY /dev/' "$WORK/out"

tcp_connect
check "TCP: CR -> CC" same "$(ask 4 CR)" CC
check "TCP: serial number" same "$(ask 4 'RD DM109')" 01234
# A terminal program's CR LF: the LF starts no line of its own.
check "TCP: lines ended with CR LF" same "$(ask 4 $'RD DM108\r\nCR')" 07120
check "  and the next one" same "$(ask 4 '' 0.5)" CC
check "trace: the connection" grep -Eq '^[0-9]+\.[0-9]{6} TCP connect 127\.0\.0\.1:[0-9]+$' "$WORK/trace"
check "trace: RX line" grep -Eq '^[0-9]+\.[0-9]{6} RX CR\\r$' "$WORK/trace"
check "trace: TX line" grep -Eq '^[0-9]+\.[0-9]{6} TX 01234\\r\\n$' "$WORK/trace"

# One access over TCP at speed 10; the access record has it.
ask 4 'WR DM0 65535' >/dev/null
ask 4 'WR DM5 1' >/dev/null
check "TCP: access relay" same "$(ask 4 'ST 1908')" OK
ready=0
for _ in $(seq 1 30); do
  [ "$(ask 4 'RD 1915')" = 1 ] && { ready=1; break; }
  sleep 0.1
done
check "the access ends" [ "$ready" = 1 ]
check "access record" wait_for 10 grep -Eq '^1 1908 65535 1 1 [0-9.]+ [0-9.]+ [0-9.]+ ok$' "$WORK/acc"

# --- both sides at once -------------------------------------------------------
pty_connect
check "PTY answers while a client is connected" same "$(ask 3 CR)" CC
check "PTY sees the store the client changed" same "$(ask 3 'RD 1812')" 1
# Half a line on each side, ended crosswise: the lines stay apart and each
# answer goes to the side that sent its line.
printf 'RD DM' >&3
printf 'RD DM1' >&4
sleep 0.1
check "TCP line ended: its own answer" same "$(ask 4 '08')" 07120
check "PTY line ended: its own answer" same "$(ask 3 '109')" 01234
check "nothing extra on the PTY" same "$(ask 3 '' 0.3)" ""
check "nothing extra on TCP" same "$(ask 4 '' 0.3)" ""

# --- faults on the socket -----------------------------------------------------
echo "fault split 200" >"$WORK/ctl"
sleep 0.2
client timed 127.0.0.1 "$PORT" 'RD DM109' >"$WORK/split"
check "split: TCP client replaced (trace)" grep -q 'TCP close 127.0.0.1:[0-9]* replaced' "$WORK/trace"
check "the replaced client sees end of file" eof 4
exec 4<&-
check "split: two pieces, the second 150 ms or more later" \
  awk 'NR == 1 { a = $1; p1 = $2 } NR == 2 { b = $1; p2 = $2 } END { exit !(NR == 2 && b - a >= 150 && p1 p2 == "01234\\r\\n") }' "$WORK/split"
echo "fault garbage" >"$WORK/ctl"
sleep 0.2
client timed 127.0.0.1 "$PORT" 'RD DM109' >"$WORK/garbage"
check "garbage: three stray bytes before the answer" grep -Eq '^[0-9]+ (\\x[0-9A-F]{2}){3}01234\\r\\n$' "$WORK/garbage"
echo "fault silent" >"$WORK/ctl"
sleep 0.2
tcp_connect
check "silent: no answer on TCP" same "$(ask 4 'RD DM109' 0.3)" ""
check "  nor on the PTY" same "$(ask 3 'RD DM109' 0.3)" ""
exec 4<&-
echo "fault slow 300" >"$WORK/ctl"
sleep 0.2
client timed 127.0.0.1 "$PORT" 'RD DM109' >"$WORK/slow"
check "slow: the answer 300 ms late" awk '{ exit !($1 >= 280 && $2 == "01234\\r\\n") }' "$WORK/slow"
# A client that half-closes right after its line still gets the late answer.
check "half-close: the answer owed, then end of file" \
  same "$(client halfclose 127.0.0.1 "$PORT" 'RD DM108' | tr '\n' ' ')" '07120\r\n EOF '
echo "fault none" >"$WORK/ctl"
sleep 0.2

# --- misbehaving clients ------------------------------------------------------
client abuse 127.0.0.1 "$PORT" >"$WORK/abuse" 2>&1
check "a megabyte line is one overlong line" grep -qx 'overlong E1\\r\\n' "$WORK/abuse"
check "binary bytes: E1" grep -qx 'binary E1\\r\\n' "$WORK/abuse"
check "after resets and a flood the store answers" grep -qx 'after 01234\\r\\n' "$WORK/abuse"
check "the simulator is still running" kill -0 "$SIMPID"
check "and the PTY still answers" same "$(ask 3 CR)" CC

# --- a vanishing port -----------------------------------------------------------
tcp_connect
check "connected before the port vanishes" same "$(ask 4 CR)" CC
echo "fault vanish" >"$WORK/ctl"
check "vanish: the client sees end of file" eof 4
exec 4<&- 3<&-
check "vanish: new connections are refused" same "$(client refused 127.0.0.1 "$PORT")" refused
echo "fault none" >"$WORK/ctl"
check "the port comes back with a new TCP line on the same port" \
  wait_for 20 bash -c "[ \"\$(grep -c '^TCP 127.0.0.1:$PORT\$' '$WORK/out')\" = 2 ]"
tcp_connect
check "and answers" same "$(ask 4 'RD DM109')" 01234

# --- a port in use ------------------------------------------------------------
timeout 20 "$SIM" --listen "127.0.0.1:$PORT" --link "$WORK/com2" >"$WORK/busy.out" 2>"$WORK/busy.err"
rc=$?
check "a port in use: status 2" same "$rc" 2
check "  with a message saying so" grep -q "127.0.0.1:$PORT: Address already in use" "$WORK/busy.err"
check "  and no pseudo-terminal made" bash -c "! grep -q '^PTY' '$WORK/busy.out' && [ ! -e '$WORK/com2' ]"

# --- the end ------------------------------------------------------------------
kill -TERM "$SIMPID"
end_within 20 "$SIMPID"
SIMPID=
check "SIGTERM with a client connected ends it cleanly" same "$ENDED" 0
check "the client sees end of file" eof 4
exec 4<&-
check "trace: the client closed at exit" grep -Eq 'TCP close 127\.0\.0\.1:[0-9]+ exit$' "$WORK/trace"

# --- started vanished, and IPv6 -----------------------------------------------
"$SIM" --listen 127.0.0.1:0 --fault vanish --control "$WORK/ctl2" >"$WORK/out2" 2>"$WORK/err2" &
OTHERPID=$!
check "started vanished: TCP - and PTY -" wait_for 30 bash -c "grep -qx 'TCP -' '$WORK/out2' && grep -qx 'PTY -' '$WORK/out2'"
echo "fault none" >"$WORK/ctl2"
check "  and the port comes when the fault is cleared" wait_for 20 grep -q '^TCP 127\.0\.0\.1:[0-9]' "$WORK/out2"
PORT=$(sed -n 's/^TCP 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$WORK/out2")
tcp_connect
check "  and answers" same "$(ask 4 CR)" CC
exec 4<&-
kill -TERM "$OTHERPID"
end_within 20 "$OTHERPID"
check "  and ends on SIGTERM" same "$ENDED" 0
OTHERPID=

if python3 -c 'import socket; socket.socket(socket.AF_INET6).bind(("::1", 0))' 2>/dev/null; then
  "$SIM" --listen '[::1]:0' >"$WORK/out6" 2>"$WORK/err6" &
  OTHERPID=$!
  wait_for 30 grep -q '^TCP ' "$WORK/out6"
  PORT6=$(sed -n 's/^TCP \[::1\]:\([0-9]*\)$/\1/p' "$WORK/out6")
  check "IPv6: prints TCP [::1]:<port>" [ -n "$PORT6" ]
  check "IPv6: answers" grep -qx '[0-9]* CC\\r\\n' <(client timed ::1 "${PORT6:-1}" CR)
  kill -TERM "$OTHERPID"
  wait "$OTHERPID" 2>/dev/null
  OTHERPID=
else
  echo "skip IPv6: no ::1 on this machine"
fi

[ "$FAILS" = 0 ] || { echo "--- stderr:"; cat "$WORK/err"; echo "--- trace (last 20):"; tail -n 20 "$WORK/trace"; echo "$FAILS check(s) failed"; exit 1; }
echo "all checks passed"
